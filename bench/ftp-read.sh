#!/usr/bin/env bash
# What reading a transfer through the FTP client's connection costs over the
# bare socket: ftp-read-bench (bench/ftp-read-bench.cpp) reads MiB megabytes
# (default 1024) over loopback through the connection's read until closed,
# into a null stream, and with --plain the same bytes through a bare recv()
# loop, the floor; the sender is a child process outside the count. With
# BASELINE (the path of an earlier build's ftp-read-bench) that build's
# connection runs too. The contenders run in turn, RUNS times each (default
# 7), the order rotating; prints each one's median wall time, reader CPU time
# and throughput, and the ratios to the bare reads and to the baseline.
#   BASELINE=/path/ftp-read-bench bench/ftp-read.sh [RUNS] [MiB]
set -euo pipefail
. "$(dirname "$0")/lib/bench.sh"
runs=${1:-7}
mib=${2:-1024}

release_build ftp-read-bench
current=$PWD/build/release/bench/ftp-read-bench
bench_work ftp-read

contenders=(connection plain)
[ -n "${BASELINE:-}" ] && contenders+=(baseline)
for c in "${contenders[@]}"; do : >"$work/$c-wall.txt"; : >"$work/$c-cpu.txt"; done
for round in $(seq "$runs"); do
  for i in "${!contenders[@]}"; do
    c=${contenders[$(((i + round) % ${#contenders[@]}))]}
    case $c in
      connection) command=("$current" "$mib") ;;
      plain) command=("$current" --plain "$mib") ;;
      baseline) command=("$BASELINE" "$mib") ;;
    esac
    # One line: read B bytes (E work events) in W s wall, C s reader CPU, R MiB/s.
    line=$("${command[@]}") || { echo "bench: ${command[*]} failed ($?)" >&2; exit 1; }
    sed -n 's/.* in \([0-9.]*\) s wall.*/\1/p' <<<"$line" >>"$work/$c-wall.txt"
    sed -n 's/.* \([0-9.]*\) s reader CPU.*/\1/p' <<<"$line" >>"$work/$c-cpu.txt"
  done
done

printf '%s MiB over loopback, %s runs each (medians):\n' "$mib" "$runs"
for c in "${contenders[@]}"; do
  wall=$(median "$work/$c-wall.txt")
  cpu=$(median "$work/$c-cpu.txt")
  declare "wall_$c=$wall" "cpu_$c=$cpu"
  awk -v c="$c" -v w="$wall" -v u="$cpu" -v mib="$mib" \
    'BEGIN {printf "  %-10s %7.3f s wall  %7.3f s reader CPU  %6.0f MiB/s\n", c, w, u, mib / w}'
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b > 0) printf "%.3f", a / b; else printf "-"}'; }
printf '  connection / plain:    wall %s, CPU %s\n' "$(ratio "$wall_connection" "$wall_plain")" \
  "$(ratio "$cpu_connection" "$cpu_plain")"
if [ -n "${BASELINE:-}" ]; then
  printf '  connection / baseline: wall %s, CPU %s\n' "$(ratio "$wall_connection" "$wall_baseline")" \
    "$(ratio "$cpu_connection" "$cpu_baseline")"
fi
