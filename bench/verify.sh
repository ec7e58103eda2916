#!/usr/bin/env bash
# Signature checking over a large package: krevo-unzip --verify-key against
# `minisign -V` and `b2sum` (the BLAKE2b-512 pass alone), runs interleaved
# (the order reversed every other round), the file in the page cache after
# the first round. Prints each command's median wall time and throughput.
# Usage: bench/verify.sh [RUNS] [MiB] [WORKDIR]   (a WORKDIR given is kept)
set -euo pipefail
. "$(dirname "$0")/lib/bench.sh"
ensure_packages minisign coreutils
runs=${1:-5}
mib=${2:-300}
bench_work verify "${3:-}"
krevo=$PWD/build/release/tools/krevo-unzip
release_build krevo-unzip
cd "$work"
minisign -G -W -f -p k.pub -s k.key >/dev/null
head -c "$((mib * 1024 * 1024))" /dev/urandom >up200101.zip
minisign -S -s k.key -m up200101.zip
minisign -S -l -s k.key -m up200101.zip -x legacy.minisig

names=(krevo-unzip minisign-V b2sum krevo-unzip-legacy minisign-V-legacy)
cmds=(
  "$krevo --verify-key k.pub --signature up200101.zip.minisig up200101.zip"
  "minisign -V -q -p k.pub -m up200101.zip"
  "b2sum up200101.zip"
  "$krevo --verify-key k.pub --signature legacy.minisig up200101.zip"
  "minisign -V -q -p k.pub -m up200101.zip -x legacy.minisig"
)
declare -A times
cat up200101.zip >/dev/null
for ((r = 0; r < runs; ++r)); do
  order=$(seq 0 $((${#cmds[@]} - 1)))
  ((r % 2)) && order=$(echo "$order" | tac)
  for i in $order; do
    start=$(date +%s%N)
    ${cmds[i]} >/dev/null
    times[$i]+="$(( ($(date +%s%N) - start) / 1000000 )) "
  done
done
printf '%-20s %10s %10s\n' command 'median ms' 'MiB/s'
for i in "${!cmds[@]}"; do
  m=$(echo "${times[$i]}" | median)
  awk -v n="${names[i]}" -v m="$m" -v s="$mib" 'BEGIN { printf "%-20s %10d %10.0f\n", n, m, s * 1000 / m }'
done
