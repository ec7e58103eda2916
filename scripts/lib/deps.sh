# Sourced by the scripts: ensure_packages PKG... installs the Debian packages
# that are not installed yet, through sudo when not root. Nothing is done when
# every package is already there, so a second run starts at once.
ensure_packages() {
  local missing=() p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  echo "Installing: ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  if ! "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"; then
    "${sudo[@]}" apt-get update
    "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}

# require_signing_key: when KREVO_SIGNING_KEY is set, installs minisign and
# ends the calling script (64) unless the variable names a file.
require_signing_key() {
  [ -n "${KREVO_SIGNING_KEY:-}" ] || return 0
  ensure_packages minisign
  if [ ! -f "$KREVO_SIGNING_KEY" ]; then
    echo "$0: KREVO_SIGNING_KEY: no such file: $KREVO_SIGNING_KEY" >&2
    exit 64
  fi
}

# What building needs. The presets build the tests too, so GoogleTest is here.
BUILD_PACKAGES=(build-essential cmake ninja-build pkg-config zlib1g-dev libfltk1.3-dev libgtest-dev libssl-dev
  nlohmann-json3-dev libsystemd-dev)
# What the test suite needs besides: a real FTP server, archivers
# that make test archives, the signing tool that signs test packages, and a
# virtual display for the window test. The packaging checks read the manual
# pages and the desktop entry (the systemd units are verified where
# systemd-analyze is installed). vsftpd is a second real FTP server with
# Unix-style listings for the update run's tests (it replaces any other FTP
# server package; its own service is not needed and may stay stopped).
# pyfuse3 and fuse3 serve the power-cut test's file system, which loses what
# was not flushed.
TEST_PACKAGES=(python3 python3-pyftpdlib zip unzip p7zip-full libarchive-tools minisign xvfb xauth x11-utils
  man-db groff-base desktop-file-utils python3-openssl openssl vsftpd python3-pyfuse3 fuse3
  python3-prometheus-client)
# What scripts/package.sh needs besides the build: CPack's dependency
# computation (dpkg-shlibdeps, file) and lintian.
PACKAGE_PACKAGES=(dpkg-dev file lintian)
