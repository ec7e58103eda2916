#!/usr/bin/env bash
# Runs the updater in its window on a virtual display against the sample
# update server and saves a picture of it once the packages are installed and
# the summary is up: scripts/screenshot.sh [OUTPUT.png] (default
# build/screenshot.png).
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}" python3 python3-pyftpdlib zip xvfb xauth x11-utils xdotool imagemagick
output=$(realpath -m "${1:-build/screenshot.png}")
mkdir -p "$(dirname "$output")"

cmake --preset release >/dev/null
cmake --build --preset release --target krevo-updater
. scripts/lib/sample-site.sh

# Inside the virtual display: start the updater, wait for the summary dialog
# (the second window), move it below the main window so that the list shows,
# take the picture, and end the updater, whose dialog waits for a click that
# will not come.
cat >"$demo/inside.sh" <<'INSIDE'
cd "$1" && TMPDIR="$2" ./krevo-updater & pid=$!
for _ in $(seq 200); do
  [ "$(xwininfo -root -children | grep -c '"')" -ge 2 ] && break
  sleep 0.05
done
xdotool search --name '^Information$' windowmove 20 450
sleep 0.3
import -window root "$3"
kill -9 $pid
INSIDE
xvfb-run -a -s "-screen 0 800x600x24 -noreset" sh "$demo/inside.sh" "$install" "$demo/tmp" "$output"
echo "$output"
