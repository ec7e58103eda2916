#!/usr/bin/env bash
# Makes an update package from a folder laid out as the installation is:
#   scripts/make-package.sh YYMMDD FOLDER [OUTPUT_FOLDER]
# writes OUTPUT_FOLDER/upYYMMDD.zip (default: the current folder), every file
# stored with its path below FOLDER and its date (no folder entries),
# encrypted with the package password. Prints the package's path.
# With KREVO_SIGNING_KEY naming a minisign secret key (made by `minisign -G`),
# the package is signed with it too: OUTPUT_FOLDER/upYYMMDD.zip.minisig, its
# trusted comment naming the package. minisign asks for the key's password
# unless it was made with -W.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 2 ] || ! [[ $1 =~ ^[0-9]{6}$ ]] || [ ! -d "$2" ]; then
  echo "usage: $0 YYMMDD FOLDER [OUTPUT_FOLDER]" >&2
  exit 64
fi
. "$here/lib/deps.sh"
ensure_packages zip
require_signing_key
out_dir=$(cd "${3:-.}" && pwd)
package="$out_dir/up$1.zip"
# A signature left from an earlier package of this name would not be its own.
rm -f "$package" "$package.minisig"
(cd "$2" && zip -q -r -X -D -P plumvat "$package" .)
if [ -n "${KREVO_SIGNING_KEY:-}" ]; then
  # No package without its signature: a failed signing takes the package away.
  minisign -S -s "$KREVO_SIGNING_KEY" -m "$package" >&2 || { rm -f "$package"; exit 1; }
fi
echo "$package"
