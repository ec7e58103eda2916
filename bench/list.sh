#!/usr/bin/env bash
# Lists an archive of 100,000 entries with krevo-unzip, unzip and 7z, runs
# interleaved, and prints each tool's median wall time and the ratios.
# Usage: bench/list.sh [RUNS]
set -euo pipefail
. "$(dirname "$0")/lib/bench.sh"
ensure_packages zip unzip p7zip-full
runs=${1:-7}
krevo=build/release/tools/krevo-unzip
release_build krevo-unzip
bench_work list
/usr/bin/python3 - "$work/many.zip" <<'PY'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_STORED) as z:
    for i in range(100000):
        z.writestr(zipfile.ZipInfo("dir%03d/file%06d.txt" % (i // 1000, i), (2020, 1, 2, 3, 4, 6)), b"x")
PY
declare -A times
tools=(krevo unzip 7z)
run() {
  case $1 in
    krevo) "$krevo" -l --tsv "$work/many.zip" >/dev/null ;;
    unzip) unzip -l "$work/many.zip" >/dev/null ;;
    7z) 7z l "$work/many.zip" >/dev/null ;;
  esac
}
for ((r = 0; r < runs; r++)); do
  for t in "${tools[@]}"; do
    s=$(date +%s.%N); run "$t"; e=$(date +%s.%N)
    times[$t]+="$(awk -v s="$s" -v e="$e" 'BEGIN {print e - s}') "
  done
done
k=$(echo "${times[krevo]}" | median)
for t in "${tools[@]}"; do
  m=$(echo "${times[$t]}" | median)
  printf '%-6s median %.3f s   krevo/%s = %.2f\n' "$t" "$m" "$t" "$(awk -v m="$m" -v k="$k" 'BEGIN {print k / m}')"
done
