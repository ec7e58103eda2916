#!/usr/bin/env bash
# The updater's main job, end to end on this machine: builds krevo-updater,
# lays out a sample installation and a local update server offering three
# packages, runs the updater (its window where a display is available, console
# mode otherwise), shows the log and the installed files, then runs it a second
# time, when nothing newer is offered. The packages are signed and the updater
# trusts only their key: a third run meets a package changed after signing,
# which is refused (exit status 4).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}" python3 python3-pyftpdlib zip minisign

cmake --preset release >/dev/null
cmake --build --preset release --target krevo-updater

. scripts/lib/sample-site.sh

run() {
  local status=0
  (cd "$install" && TMPDIR="$demo/tmp" ./krevo-updater "$@") || status=$?
  echo "== exit status: $status"
}
mode=()
[ -z "${DISPLAY:-}" ] && mode=(--console)
echo "== First run: three packages on the server, no update log yet"
run "${mode[@]}"
echo "== updates.log:"
tr -d '\r' <"$install/updates.log"
echo "== The installation now (the older library replaced, the newer help file kept):"
(cd "$install" && find . -type f ! -name krevo-updater -printf '%TY-%Tm-%Td %TH:%TM  %p\n' | sort -k3)
echo
echo "== Second run: nothing newer than the last update. Asked whether to install the latest"
echo "== package anyway, the updater without a terminal takes No: nothing more is installed."
run "${mode[@]}" </dev/null
echo
echo "== Third run: a newer package appears on the server, signed by the vendor but changed"
echo "== afterwards (as a hostile server or a man in the middle would). Its signature does"
echo "== not verify: nothing of it is installed, the run fails (4), the date stays."
# As if the last update had been on 2024-05-21: the new package is newer.
touch -d '2024-05-21 12:00' "$install/updates.log"
package 240610 '2024-06-10 08:00' 'bin/krevo.dll=library 2024-06'
printf 'X' | dd of="$updates/up240610.zip" bs=1 seek=100 conv=notrunc 2>/dev/null
run "${mode[@]}" </dev/null
echo "== updates.log:"
tr -d '\r' <"$install/updates.log"
echo "== updates.log still dated $(date -r "$install/updates.log" '+%Y-%m-%d %H:%M');" \
  "bin/krevo.dll still holds: $(cat "$install/bin/krevo.dll")"
echo
echo "== How the last run ended, for a person (krevo-updater --status; --status --json gives"
echo "== updates-status.json as it stands, for monitoring):"
(cd "$install" && ./krevo-updater --status)
