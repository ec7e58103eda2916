#!/usr/bin/env bash
# Builds the updater and runs it once on a sample installation folder made in a
# temporary folder, then prints the update log it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}"

cmake --preset release >/dev/null
cmake --build --preset release --target krevo-updater

install_dir=$(mktemp -d "${TMPDIR:-/tmp}/krevo-demo.XXXXXX")
trap 'rm -rf "$install_dir"' EXIT
cp build/release/app/krevo-updater "$install_dir/"
printf '[Documents]\r\nRootFolder=%s/\r\n[Reports]\r\nRootFolder=%s/\r\n' \
  "$install_dir" "$install_dir" >"$install_dir/config.ini"
printf 'placeholder for the main application\n' >"$install_dir/krevo.exe"

echo "== Installation folder: $install_dir"
status=0
(cd "$install_dir" && ./krevo-updater --console </dev/null) || status=$?
echo "== Exit status: $status"
echo "== updates.log:"
tr -d '\r' <"$install_dir/updates.log"
