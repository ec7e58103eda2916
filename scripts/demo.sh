#!/usr/bin/env bash
# The updater's main job, end to end on this machine: builds krevo-updater,
# lays out a sample installation and a local update server offering three
# packages, runs the updater (its window where a display is available, console
# mode otherwise), shows the log and the installed files, then runs it a second
# time, when nothing newer is offered.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}" python3 python3-pyftpdlib zip

cmake --preset release >/dev/null
cmake --build --preset release --target krevo-updater

. scripts/sample-site.sh

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
