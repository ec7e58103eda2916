#!/usr/bin/env bash
# Makes the package index of a folder of update packages, as the vendor does:
#   scripts/make-index.sh FOLDER SEQUENCE EXPIRES [CHANNEL]
# writes FOLDER/index naming every upYYMMDD*.zip in FOLDER with its size and
# BLAKE2b-512 hash, under SEQUENCE (a whole number, larger than the last
# published index's), EXPIRES (UTC, as 2027-01-31T00:00:00Z) and CHANNEL
# (default stable). Prints the index's path.
# With KREVO_SIGNING_KEY naming a minisign secret key (made by `minisign -G`),
# the index is signed too: FOLDER/index.minisig, its trusted comment naming
# the file "index". minisign asks for the key's password unless it was made
# with -W.
set -euo pipefail
export LC_ALL=C
here=$(cd "$(dirname "$0")" && pwd)
usage() {
  echo "usage: $0 FOLDER SEQUENCE EXPIRES [CHANNEL]" >&2
  exit 64
}
[ $# -ge 3 ] && [ $# -le 4 ] && [ -d "$1" ] || usage
folder=$(cd "$1" && pwd)
sequence=$2
expires=$3
channel=${4:-stable}
[[ $sequence =~ ^(0|[1-9][0-9]{0,18})$ ]] || { echo "$0: SEQUENCE must be a whole number" >&2; exit 64; }
[[ $expires =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$ ]] &&
  date -u -d "${expires%Z}" >/dev/null 2>&1 ||
  { echo "$0: EXPIRES must be a UTC time as 2027-01-31T00:00:00Z" >&2; exit 64; }
[[ $channel =~ ^[A-Za-z0-9._-]{1,64}$ ]] || { echo "$0: CHANNEL must be letters, digits, '.', '_' or '-'" >&2; exit 64; }
. "$here/lib/deps.sh"
ensure_packages coreutils
require_signing_key
index="$folder/index"
new="$folder/.index.new"
rm -f "$new"
trap 'rm -f "$new"' EXIT
{
  printf 'krevo-index 1\nsequence %s\nexpires %s\nchannel %s\n' "$sequence" "$expires" "$channel"
  shopt -s nullglob nocaseglob
  for package in "$folder"/up[0-9][0-9][0-9][0-9][0-9][0-9]*.zip; do
    [ -f "$package" ] || continue
    name=${package##*/}
    # The updater takes plain names only, no longer than a listing's column;
    # a package left out of the index would never be installed.
    if [[ ! $name =~ ^[!-~]{12,99}$ ]] || [[ $name == *\\* ]]; then
      echo "$0: $name: not a name the index can hold (printable, no blank, at most 99)" >&2
      exit 1
    fi
    size=$(stat -c %s -- "$package")
    if [ "${#size}" -gt 10 ]; then
      echo "$0: $name is larger than 9999999999 bytes" >&2
      exit 1
    fi
    hash=$(b2sum -l 512 -- "$package" | cut -d' ' -f1)
    printf 'package %s %s %s\n' "$name" "$size" "$hash"
  done
} >"$new"
# A signature left from an earlier index would not be this one's; until
# here, a failure leaves the published pair as it was.
rm -f "$index.minisig"
mv -f "$new" "$index"
if [ -n "${KREVO_SIGNING_KEY:-}" ]; then
  # No index without its signature: a failed signing takes the index away.
  minisign -S -s "$KREVO_SIGNING_KEY" -m "$index" >&2 || { rm -f "$index"; exit 1; }
fi
echo "$index"
