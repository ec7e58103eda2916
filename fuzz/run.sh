#!/usr/bin/env bash
# Runs every fuzz target (or the TARGETs named) for SECONDS seconds each
# (default 20) on its corpus in
# build/fuzz/corpus/NAME, which first receives the seeds fuzz/make-seeds.sh
# makes for it (and any kept in fuzz/seeds/NAME); exits non-zero on a crash, a
# leak or a time-out. Each log, build/fuzz/NAME.log, ends with the run's
# figures: executions, executions per second, edges covered.
# Usage: fuzz/run.sh [SECONDS [TARGET...]]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
seeds=build/fuzz/seeds
fuzz/make-seeds.sh "$seeds"
status=0
for target in $(find build/fuzz/fuzz -type f -perm -u+x -name '*fuzz*' | sort); do
  name=$(basename "$target")
  if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$name"; then continue; fi
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  for dir in "$seeds/$name" "fuzz/seeds/$name"; do
    [ -d "$dir" ] && cp -n "$dir"/* "$corpus"/ 2>/dev/null || true
  done
  echo "== $name for ${seconds}s"
  if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="build/fuzz/$name-" "$corpus" 2>"build/fuzz/$name.log"; then
    echo "$name failed; see build/fuzz/$name.log" >&2
    tail -30 "build/fuzz/$name.log" >&2
    status=1
  fi
done
exit $status
