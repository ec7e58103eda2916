# Sourced by demo.sh and screenshot.sh: lays out a sample installation in
# $demo/installation (the release build of krevo-updater, krevo.exe, an older
# library and a newer help file) and starts a local update server offering
# three packages, signed with a throw-away key pair ($demo/keys) whose public
# key config.ini names, as does the server. Sets demo, install, updates, keys
# and port; the EXIT trap stops the server and removes everything.
demo=$(mktemp -d "${TMPDIR:-/tmp}/krevo-demo.XXXXXX")
. scripts/lib/ftp-server.sh
cleanup() {
  stop_ftp_server
  rm -rf "$demo"
}
trap cleanup EXIT
install="$demo/installation"
updates="$demo/server/krevo/updates"
keys="$demo/keys"
mkdir -p "$install/bin" "$updates" "$demo/tmp" "$keys"

# The vendor's key pair, made without a password (-W) for the demonstration;
# a real secret key has one and stays off the update server.
ensure_packages minisign
minisign -G -W -p "$keys/krevo.pub" -s "$keys/krevo.key" >/dev/null
cp "$keys/krevo.pub" "$install/krevo.pub"

# The installation: an older library, a newer help file, the main program.
cp build/release/app/krevo-updater "$install/"
printf 'placeholder for the main application\n' >"$install/krevo.exe"
printf 'library, as installed in 2023\n' >"$install/bin/krevo.dll"
touch -d '2023-01-10 09:00' "$install/bin/krevo.dll"
printf 'help, edited locally in 2025\n' >"$install/help.txt"
touch -d '2025-06-01 12:00' "$install/help.txt"

# Three packages, made and signed the way the vendor makes them.
package() {  # DATE FILE-DATE NAME=CONTENT...
  local date=$1 stamp=$2 staging="$demo/staging-$1"
  shift 2
  mkdir -p "$staging"
  for spec in "$@"; do
    mkdir -p "$(dirname "$staging/${spec%%=*}")"
    printf '%s\n' "${spec#*=}" >"$staging/${spec%%=*}"
    touch -d "$stamp" "$staging/${spec%%=*}"
  done
  KREVO_SIGNING_KEY="$keys/krevo.key" scripts/make-package.sh "$date" "$staging" "$updates" >/dev/null 2>&1
}
package 240115 '2024-01-15 08:00' 'bin/krevo.dll=library 2024-01' 'reports/monthly.rpt=monthly report'
package 240301 '2024-03-01 08:00' 'bin/krevo.dll=library 2024-03' 'help.txt=help 2024-03'
package 240520 '2024-05-20 08:00' 'reports/yearly.rpt=yearly report'

# The update server on a free local port.
start_ftp_server "$demo/server" "$demo"
# PublicKeyFile is relative to the updater's folder: krevo.pub lies beside it.
printf '[Documents]\r\nRootFolder=%s/\r\n[Reports]\r\nRootFolder=%s/\r\n[Updater]\r\nHost=127.0.0.1\r\nPort=%s\r\nPublicKeyFile=krevo.pub\r\n' \
  "$install" "$install" "$port" >"$install/config.ini"

