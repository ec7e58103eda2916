#!/usr/bin/env bash
# Extraction throughput of krevo-unzip against unzip, 7z and bsdtar, runs
# interleaved tool by tool (the order reversed every other round, since a run
# pays for the file system's clean-up after the one before), each into a
# fresh folder on the same file system.
# Prints the median wall time per tool and archive, the ratios, and the peak
# memory of krevo-unzip. Usage: bench/extract.sh [RUNS] [WORKDIR]
# A WORKDIR given is kept, with the archives made in it, for the next run.
# With KREVO_BENCH_FRESH_FS=1 (root only) every run writes into a newly made
# ext4 file system in a loop file: on a busy disk the clean-up of the runs
# before otherwise weighs more than the difference between the tools.
set -euo pipefail
. "$(dirname "$0")/lib/bench.sh"
ensure_packages time zip unzip p7zip-full libarchive-tools
runs=${1:-3}
bench_work extract "${2:-}"
krevo=$PWD/build/release/tools/krevo-unzip
release_build krevo-unzip
if [ ! -f "$work/plain.zip" ]; then
  /usr/bin/python3 bench/make-corpus.py "$work"
  (cd "$work" && zip -qr plain.zip corpus && zip -qr -P secret enc.zip corpus)
fi
cd "$work"
fresh=${KREVO_BENCH_FRESH_FS:-}
cleanup() { if [ -n "$fresh" ] && mountpoint -q fs; then umount fs; fi; rm -rf out fs fs.img; }
on_exit cleanup

# Empties the output folder (a new file system with KREVO_BENCH_FRESH_FS)
# and sets $out to it.
fresh_out() {
  if [ -n "$fresh" ]; then
    mountpoint -q fs && umount fs
    [ -f fs.img ] || truncate -s 4G fs.img
    mkfs.ext4 -q -F fs.img && mkdir -p fs && mount -o loop fs.img fs
    out=fs/out
  else
    rm -rf out
    out=out
  fi
  mkdir -p "$out"
}

run() {  # tool archive target
  local pw=() p7=()
  [ "$2" = enc.zip ] && pw=(-P secret) && p7=(-psecret)
  case $1 in
    krevo) "$krevo" -q "${pw[@]}" -d "$3" "$2" ;;
    unzip) unzip -o -q "${pw[@]}" "$2" -d "$3" ;;
    7z) 7z x -y -bd "${p7[@]}" -o"$3" "$2" >/dev/null ;;
    bsdtar) mkdir -p "$3" && bsdtar -xf "$2" -C "$3" ;;
  esac
}

bench() {  # archive over(0|1) tools...
  local archive=$1 over=$2; shift 2
  declare -A t
  local order=("$@") reversed=() i
  for ((i = ${#order[@]} - 1; i >= 0; i--)); do reversed+=("${order[i]}"); done
  for ((r = 0; r < runs; r++)); do
    local this=("${order[@]}")
    ((r % 2)) && this=("${reversed[@]}")
    for tool in "${this[@]}"; do
      fresh_out
      [ "$over" = 1 ] && run krevo "$archive" "$out"
      sync && sleep 1
      s=$(date +%s.%N); run "$tool" "$archive" "$out"; e=$(date +%s.%N)
      t[$tool]+="$(awk -v s="$s" -v e="$e" 'BEGIN {print e - s}') "
    done
  done
  local k; k=$(echo "${t[krevo]}" | median)
  for tool in "$@"; do
    m=$(echo "${t[$tool]}" | median)
    printf '%-9s %-7s over=%s median %6.2f s   %s/krevo = %.2f\n' "$archive" "$tool" "$over" "$m" \
      "$tool" "$(awk -v m="$m" -v k="$k" 'BEGIN {print m / k}')"
  done
}

bench enc.zip 0 krevo unzip 7z
bench plain.zip 0 krevo unzip 7z bsdtar
bench tiny.zip 0 krevo unzip
bench tiny.zip 1 krevo unzip
for a in enc.zip plain.zip tiny.zip; do
  fresh_out
  pw=(); [ $a = enc.zip ] && pw=(-P secret)
  /usr/bin/time -f "$a krevo-unzip peak memory %M KB" "$krevo" -q "${pw[@]}" -d "$out" "$a"
done
