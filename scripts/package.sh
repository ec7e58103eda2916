#!/usr/bin/env bash
# Makes the Debian package krevo-updater_VERSION-REVISION_ARCH.deb from the
# release build: installs what building and packaging need, builds the release
# preset, runs `cpack -G DEB` in build/release, checks the package with
# lintian (errors fail the script) and prints the package's path last.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"

cmake --preset release >/dev/null
cmake --build --preset release
rm -f build/release/krevo-updater_*.deb
(cd build/release && cpack -G DEB >/dev/null)
deb=$(ls build/release/krevo-updater_*.deb)
dpkg-deb --info "$deb" | sed -n '/Package:/,$p' >&2
# lintian's exit status follows its own findings; tags shown are not errors.
lintian --fail-on error --info "$deb" >&2
echo "$deb"
