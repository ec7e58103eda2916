#!/usr/bin/env bash
# Peak memory (maximum resident set size, /usr/bin/time %M) of krevo-unzip
# while it extracts a 1 GiB single-entry encrypted package; the target is
# under 64 MB. The package is half random bytes and half text, made once per
# work folder. Usage: bench/extract-memory.sh [WORKDIR]
set -euo pipefail
. "$(dirname "$0")/lib/bench.sh"
ensure_packages time zip
krevo=$PWD/build/release/tools/krevo-unzip
release_build krevo-unzip
bench_work extract-memory "${1:-}"
cd "$work"
if [ ! -f pkg.zip ]; then
  { head -c 512M /dev/urandom; head -c 512M < <(yes 'a line of an installed text file'); } > big.bin
  zip -q -P secret pkg.zip big.bin
  rm big.bin
fi
rm -rf OUT
/usr/bin/time -f %M -o rss.txt "$krevo" -q -P secret -d OUT pkg.zip
size=$(stat -c %s OUT/big.bin)
rm -rf OUT
kb=$(tail -n 1 rss.txt)
echo "extracted $size bytes; peak RSS $kb KiB ($((kb / 1024)) MiB); target under 64 MB"
[ "$size" -eq $((1 << 30)) ]
