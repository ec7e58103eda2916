#!/usr/bin/env bash
# Peak memory (maximum resident set size, /usr/bin/time %M) of krevo-unzip
# while it extracts a 1 GiB single-entry encrypted package; the target is
# under 64 MB. The package is half random bytes and half text, made once per
# work folder. Usage: bench/extract_memory.sh [WORKDIR]
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/deps.sh
ensure_packages time zip
krevo=$PWD/build/release/tools/krevo-unzip
cmake --preset release >/dev/null && cmake --build --preset release --target krevo-unzip >/dev/null
if [ $# -ge 1 ]; then
  work=$1
  mkdir -p "$work"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/krevo-bench-memory.XXXXXX")
  trap 'rm -rf "$work"' EXIT
fi
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
