#!/usr/bin/env bash
# Makes an update package from a folder laid out as the installation is:
#   scripts/make-package.sh YYMMDD FOLDER [OUTPUT_FOLDER]
# writes OUTPUT_FOLDER/upYYMMDD.zip (default: the current folder), every file
# stored with its path below FOLDER and its date (no folder entries),
# encrypted with the package password. Prints the package's path.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ $# -lt 2 ] || ! [[ $1 =~ ^[0-9]{6}$ ]] || [ ! -d "$2" ]; then
  echo "usage: $0 YYMMDD FOLDER [OUTPUT_FOLDER]" >&2
  exit 64
fi
. "$here/deps.sh"
ensure_packages zip
out_dir=$(cd "${3:-.}" && pwd)
package="$out_dir/up$1.zip"
rm -f "$package"
(cd "$2" && zip -q -r -X -D -P plumvat "$package" .)
echo "$package"
