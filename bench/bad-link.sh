#!/usr/bin/env bash
# Downloads that survive bad links, measured on a package of MiB megabytes
# (default 200; one file of random bytes, stored) served by the test server
# from this machine. Three lines:
#   drops     the server resets the data connection once 40 MiB of a
#             transfer are on the link (tests/ftp/ftp_server.py --drop-after
#             --drop-reset): one run of krevo-updater must install the package,
#             resuming after each drop, and the bytes the server put on the
#             link (the kernel's count) must stay within 5% of the package's
#             size (target <= 1.05).
#   no drops  whole runs of krevo-updater against BASELINE (the path of an
#             earlier build's krevo-updater, for one built before this work),
#             interleaved RUNS times each, the order alternating: the median
#             wall times and their ratio (skipped without BASELINE).
#   MaxRate   one run with MaxRate=10M: the package's transfer, as the server
#             timed it, must stay within 10% of 10 MiB a second.
# Each run goes into an installation laid out afresh; TMPDIR (or /var/tmp)
# holds the work.
#   BASELINE=/path/krevo-updater bench/bad-link.sh [RUNS] [MiB]
set -euo pipefail
. "$(dirname "$0")/lib/bench.sh"
ensure_packages python3-pyftpdlib zip bc
runs=${1:-5}
mib=${2:-200}

release_build krevo-updater
current=$PWD/build/release/app/krevo-updater

bench_work bad-link
updates="$work/server/krevo/updates"
mkdir -p "$updates" "$work/staging"
head -c "$((mib * 1000 * 1000))" /dev/urandom >"$work/staging/big.bin"
touch -d "2024-01-15 08:00" "$work/staging/big.bin"
(cd "$work/staging" && zip -q -0 -X -P plumvat "$updates/up240115.zip" big.bin)
size=$(stat -c %s "$updates/up240115.zip")
echo "package: $size bytes"

# One console run of UPDATER with CONFIG-LINES in config.ini -> wall seconds;
# fails unless the package was installed.
run() {  # UPDATER [CONFIG-LINES]
  local dir="$work/install" start
  rm -rf "$dir" "$work/tmp" && mkdir -p "$dir" "$work/tmp"
  cp "$1" "$dir/krevo-updater"
  : >"$dir/krevo.exe"
  printf '[Updater]\r\nHost=127.0.0.1\r\nPort=%s\r\n%s' "$port" "${2:-}" >"$dir/config.ini"
  sync
  start=$(now)
  (cd "$dir" && TMPDIR="$work/tmp" ./krevo-updater --console </dev/null >"$work/run.out" 2>"$work/run.err") ||
    { cat "$work/run.out" "$work/run.err" >&2; exit 1; }
  echo "$(now) - $start" | bc
  cmp -s "$dir/big.bin" "$work/staging/big.bin" || { echo "bench: the package was not installed" >&2; exit 1; }
}

# The bytes the server's RETRs put on the link, and the seconds of the longest.
retr_bytes() { awk '$1 == "RETR" {n += $3} END {print n + 0}' "$work/transfers.txt"; }
retr_seconds() { awk '$1 == "RETR" && $4 > t {t = $4} END {print t + 0}' "$work/transfers.txt"; }

# Drops: a reset every 40 MB of each data connection.
: >"$work/transfers.txt"
start_ftp_server "$work/server" "$work" --drop-after 41943040 --drop-reset --transfer-log "$work/transfers.txt"
seconds=$(run "$current")
retries=$(grep -c '^Retrying ' "$work/run.err" || true)
sent=$(retr_bytes)
stop_ftp_server
awk -v s="$seconds" -v r="$retries" -v sent="$sent" -v size="$size" 'BEGIN {
  printf "drops:    installed in one run, %.2f s, %d retries, %d bytes sent for %d (ratio %.4f, target <= 1.05)\n",
    s, r, sent, size, sent / size
}'

# No drops: this build against BASELINE, interleaved.
start_ftp_server "$work/server" "$work"
if [ -n "${BASELINE:-}" ]; then
  : >"$work/current.txt"
  : >"$work/baseline.txt"
  for i in $(seq "$runs"); do
    if [ $((i % 2)) -eq 1 ]; then order="current baseline"; else order="baseline current"; fi
    for who in $order; do
      if [ "$who" = current ]; then run "$current" >>"$work/current.txt"; else run "$BASELINE" >>"$work/baseline.txt"; fi
    done
  done
  c=$(median "$work/current.txt")
  b=$(median "$work/baseline.txt")
  printf 'no drops: this build median %.2f s (runs: %s)\n' "$c" "$(tr '\n' ' ' <"$work/current.txt")"
  printf '          baseline   median %.2f s (runs: %s)\n' "$b" "$(tr '\n' ' ' <"$work/baseline.txt")"
  printf '          ratio this build / baseline: %.3f (within noise: about 1)\n' "$(echo "$c / $b" | bc -l)"
else
  echo "no drops: skipped (BASELINE=/path/to/an/earlier/krevo-updater compares with it)"
fi
stop_ftp_server

# MaxRate=10M: the transfer as the server timed it.
: >"$work/transfers.txt"
start_ftp_server "$work/server" "$work" --transfer-log "$work/transfers.txt"
run "$current" $'MaxRate=10M\r\n' >/dev/null
awk -v sent="$(retr_bytes)" -v t="$(retr_seconds)" 'BEGIN {
  rate = sent / t / 1048576
  printf "MaxRate:  %d bytes in %.2f s: %.2f MiB/s with MaxRate=10M (ratio %.3f, target 0.9 to 1.1)\n",
    sent, t, rate, rate / 10
}'
