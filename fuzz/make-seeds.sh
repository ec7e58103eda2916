#!/usr/bin/env bash
# Makes the seed corpora of the fuzz targets: reply transcripts, PASV replies,
# listing lines and INI files written with printf, small archives made here
# by Info-ZIP zip, 7-Zip and Python's zipfile, and signatures made here by
# minisign, so every seed's origin is this script.
#   fuzz/make-seeds.sh [OUT]     (default build/fuzz/seeds)
# OUT/NAME/ receives the seeds of the target NAME; OUT is made afresh.
set -euo pipefail
out=$(realpath -m "${1:-$(dirname "$0")/../build/fuzz/seeds}")
rm -rf "$out"
mkdir -p "$out"/ftp_reply_fuzzer "$out"/ftp_passive_listing_fuzzer "$out"/fuzz_ini "$out"/fuzz_signature \
  "$out"/fuzz_index "$out"/fuzz_status

# seed TARGET NAME TEXT: TEXT with printf's backslash escapes (\r, \n, \0NNN).
seed() { printf '%b' "$3" >"$out/$1/$2"; }

# --- ftp_reply_fuzzer: one byte of chunk size (minus one), one byte of reader
# and settings, then what the server sends. Readers (the top two bits): 00 the
# reply reader, 01 one line, 10 a stream (bit 3: until closed, else a 4-byte
# count first), 11 the first non-empty line. Bit 0: lines of at most 64 bytes;
# bit 1: split long lines instead of failing; bit 2: CR LF as the line end.
replies=(
  greeting    '220 Krevo update server ready.\r\n'
  greeting-ml '220-Welcome\r\n220-to the\r\n220 update server.\r\n'
  features    '211-Features:\r\n MDTM\r\n REST STREAM\r\n SIZE\r\n211 End\r\n'
  login       '331 Password required for krevoftp.\r\n230 User krevoftp logged in.\r\n'
  syst        '215 UNIX Type: L8\r\n'
  syst-500    '500 Unknown command.\r\n'
  cwd         '250 CWD command successful.\r\n'
  cwd-550     '550 No such file or directory.\r\n'
  pasv        '227 Entering Passive Mode (127,0,0,1,19,137).\r\n'
  transfer    '150 Opening BINARY mode data connection.\r\n226 Transfer complete.\r\n'
  aborted     '426 Connection closed; transfer aborted.\r\n226 Closing data connection.\r\n'
  lone-426    '426 Failure writing network stream.\r\n'
  epsv        '229 Entering Extended Passive Mode (|||6446|)\r\n'
  lf-only     '220 ready\n230 in\n'
  bad-code    '2x0 not a code\r\n99 short\r\n1234 long\r\n'
  unended-ml  '220-first\r\n220-second\r\n'
  long-line   '220 This greeting runs on well past sixty-four characters, so a short limit cuts it.\r\n'
  blank-lines '\r\n\r\n  \r\n220 after blank lines\r\n'
  control     '220 tab\there, nul\0000 there\r\n'
)
# Chunk byte and reader byte, as escapes: the reply reader with each limit
# and action, line reads with LF and with CR LF, the stream reads, the
# non-empty line reader; chunks of 1, 8 and 256 bytes.
modes=('\0377\0040' '\0000\0041' '\0007\0043' '\0377\0100' '\0007\0104' '\0000\0105'
       '\0377\0210' '\0007\0300')
for ((i = 0; i < ${#replies[@]}; i += 2)); do
  for ((m = 0; m < ${#modes[@]}; ++m)); do
    seed ftp_reply_fuzzer "${replies[i]}-$m" "${modes[m]}${replies[i + 1]}"
  done
done
# A stream read with a count sent first: 16 bytes announced and sent, 16
# announced and 4 sent, and a count with the sign bit set.
seed ftp_reply_fuzzer count-whole '\0377\0200\0000\0000\0000\0020sixteen bytes!!\n'
seed ftp_reply_fuzzer count-short '\0007\0200\0000\0000\0000\0020four'
seed ftp_reply_fuzzer count-negative '\0377\0200\0377\0377\0377\0360data'

# --- ftp_passive_listing_fuzzer: one text, read as the text of a 227 reply
# and as listing data.
seed ftp_passive_listing_fuzzer pasv 'Entering Passive Mode (192,168,1,5,19,137).'
seed ftp_passive_listing_fuzzer pasv-no-parens 'Entering Passive Mode 127,0,0,1,4,1'
seed ftp_passive_listing_fuzzer pasv-out-of-range 'Entering Passive Mode (127,0,0,300,1,2)'
seed ftp_passive_listing_fuzzer pasv-five 'Entering Passive Mode (127,0,0,1,2)'
seed ftp_passive_listing_fuzzer pasv-spaces 'Entering Passive Mode ( 10, 0, 0, 2, 255, 255 )'
seed ftp_passive_listing_fuzzer pasv-reversed 'Entering Passive Mode )127,0,0,1,1,1('
# The text of a 229 reply: any delimiter, the port alone, or a family and address.
seed ftp_passive_listing_fuzzer epsv 'Entering Extended Passive Mode (|||6446|)'
seed ftp_passive_listing_fuzzer epsv-other-delimiter 'Entering Extended Passive Mode (!!!65535!)'
seed ftp_passive_listing_fuzzer epsv-with-address 'Entering Extended Passive Mode (|2|::1|6446|)'
seed ftp_passive_listing_fuzzer epsv-too-large 'Entering Extended Passive Mode (|||65536|)'
seed ftp_passive_listing_fuzzer epsv-unclosed 'Entering Extended Passive Mode (|||21'
# The update server's listing: date, time, size or <DIR>, the name from column 40.
seed ftp_passive_listing_fuzzer listing-dos \
'03-07-08  10:00AM                 1234 up080307.zip\r\n01-01-09  09:30PM              1048576 up090101.zip\r\n02-14-10  12:00AM       <DIR>          old\r\n'
seed ftp_passive_listing_fuzzer listing-unix \
'-rw-r--r--   1 ftp      ftp          1234 Mar 07  2008 up080307.zip\ndrwxr-xr-x   2 ftp      ftp          4096 Feb 14 12:00 old\n'
# The same folder as four Unix-style servers list it: owner and group as names
# and numbers, a year for an old file, a size past 32 bits, a name with spaces.
seed ftp_passive_listing_fuzzer listing-unix-servers \
'-rw-r--r--   1 root     root           92 Dec 25  2024 up260101.zip\r\n-rw-r--r--    1 0        0        3000000000 Dec 09 03:30 up260201.zip\r\n-rw-r--r--   1 4242     4343      1234567 Dec  9 03:30 up260115.zip\r\n-rw-r--r--    1 0          0                  10 Dec  9 03:30 up260301 with spaces.zip\r\n-rw-r--r--   1 ftp        92 Dec  9 00:47 up260101.zip\r\n'
seed ftp_passive_listing_fuzzer listing-mixed-ends 'up080307.zip\rup090101.zip\nup100101.zip\r\n\r\nlast without end'
seed ftp_passive_listing_fuzzer listing-nul '03-07-08  10:00AM                 1234 up080307.zip\r\n\0000after the nul\r\n'
seed ftp_passive_listing_fuzzer listing-empty ''

# --- fuzz_ini: config.ini as the installation has it, and its odd forms.
seed fuzz_ini config '[Documents]\r\nRootFolder=/opt/krevo/\r\n[Reports]\r\nRootFolder=/opt/krevo/\r\n'
seed fuzz_ini config-server \
'[Documents]\r\nRootFolder=/opt/krevo/\r\n[Reports]\r\nRootFolder=/opt/krevo/\r\n; the update server\r\n[Updater]\r\nHost=updates.example.net\r\nPort=21\r\n'
seed fuzz_ini lf-only-no-end '[documents]\nrootfolder = /srv/krevo/\n[reports]\nROOTFOLDER=/srv/krevo'
seed fuzz_ini quoted '[Documents]\r\nRootFolder="/opt/krevo suite/"\r\n[Reports]\r\nRootFolder='"'"'/opt/krevo/'"'"'\r\n'
seed fuzz_ini bom-and-blanks '\0357\0273\0277\r\n  [ Documents ]  \r\n\t RootFolder\t=\t/opt/krevo/ \r\n'
seed fuzz_ini repeated '[Documents]\r\nOther=1\r\n[Reports]\r\n[Documents]\r\nRootFolder=/second/\r\n'
seed fuzz_ini unclosed '[Documents\r\nRootFolder=/opt/krevo/\r\n[Reports]RootFolder=/x/\r\n=no key\r\nno value\r\n'
seed fuzz_ini long-value "[Documents]\r\nRootFolder=/$(printf 'k%.0s' {1..2100})/\r\n"
# --- fuzz_zip_open and fuzz_zip_extract: small archives made here by Info-ZIP
# zip, 7-Zip (where installed) and Python's zipfile, with the targets'
# password "secret": deflated, stored, encrypted, piped, Zip64, streamed with
# data descriptors, UTF-8 and OEM names, names with control characters,
# overlapping entries, and behind a prefix.
mkdir -p "$out"/fuzz_zip_open "$out"/fuzz_zip_extract
src=$(mktemp -d)
trap 'rm -rf "$src"' EXIT
mkdir -p "$src/pkg/bin"
printf 'hello\n' >"$src/pkg/a.txt"
seq 1 300 >"$src/pkg/bin/b.txt"
: >"$src/pkg/empty"
z="$out/fuzz_zip_open"
(cd "$src/pkg" && zip -q -r "$z/zip-deflate.zip" . && zip -q -r -0 "$z/zip-stored.zip" . &&
  zip -q -r -P secret "$z/zip-crypt.zip" . && seq 1 200 | zip -q "$z/zip-piped.zip" -)
if command -v 7z >/dev/null; then
  (cd "$src/pkg" && 7z a -tzip -psecret -mem=ZipCrypto "$z/7z-crypt.zip" . >/dev/null)
  # NTFS time blocks.
  (cd "$src/pkg" && 7z a -tzip "$z/7z-ntfs.zip" . >/dev/null)
fi
# Forced Zip64 (markers in the local headers) behind a stub.
(cd "$src/pkg" && zip -q -fz "$src/z64.zip" a.txt) &&
  { printf '#!/bin/sh\nexit 0\n'; cat "$src/z64.zip"; } >"$z/prefixed-zip64.zip"
ziptool="$(dirname "$0")/../tests/archive/ziptool.py"
for kind in zip64 descriptor utf8 oem controls windows unicode-path; do
  /usr/bin/python3 "$ziptool" make "$kind" "$z/py-$kind.zip"
done
# Entries that share their bytes: one local header named many times, and an
# entry inside another's data.
for kind in overlap inside; do
  /usr/bin/python3 "$ziptool" bomb "$kind" "$z/bomb-$kind.zip"
done
# A stub before an archive whose offsets do not know of it.
{ printf '#!/bin/sh\nexit 0\n'; cat "$z/zip-deflate.zip"; } >"$z/prefixed.zip"
cp "$z"/* "$out/fuzz_zip_extract/"

# --- fuzz_signature: a public key's text, a NUL, a signature file's text. The
# target's signed file is "signed\n" named up200101.zip; minisign (where
# installed) signs it with a throw-away key, prehashed, legacy and with a
# trusted comment naming another file.
seed fuzz_signature key-line-only 'RWS8RJmW822ZG6BynYE76oT7h3ulaDzIARx3GL1IwNxUVgtoiU9ezuok'
seed fuzz_signature not-a-key 'untrusted comment: x\nRWQ=\n\0000untrusted comment: y\nRUQ=\ntrusted comment: \nAA==\n'
if command -v minisign >/dev/null; then
  (cd "$src" && minisign -G -W -p k.pub -s k.key >/dev/null && printf 'signed\n' >up200101.zip &&
    minisign -S -s k.key -m up200101.zip -x ED.sig && minisign -S -l -s k.key -m up200101.zip -x Ed.sig &&
    minisign -S -s k.key -m up200101.zip -x other.sig -t "$(printf 'timestamp:1\tfile:up200102.zip')")
  for sig in ED Ed other; do
    { cat "$src/k.pub"; printf '\0'; cat "$src/$sig.sig"; } >"$out/fuzz_signature/minisign-$sig"
  done
  { sed -n 2p "$src/k.pub" | tr -d '\n'; printf '\0'; sed 's/$/\r/' "$src/ED.sig"; } \
    >"$out/fuzz_signature/minisign-crlf"
fi

# --- fuzz_index: package indexes as scripts/make-index.sh writes them, and
# the ways one can be malformed.
hash=$(printf 'x' | b2sum -l 512 | cut -d' ' -f1)
head='krevo-index 1\nsequence 17\nexpires 2027-01-31T00:00:00Z\nchannel stable\n'
seed fuzz_index valid "${head}package up261201.zip 1503562 $hash\npackage up261208.zip 88123 $hash\n"
seed fuzz_index empty-list "$head"
seed fuzz_index reordered "krevo-index 1\npackage UP261201a.ZIP 0 $hash\nchannel beta\nsequence 0\nexpires 2024-02-29T23:59:59Z\n"
seed fuzz_index crlf "krevo-index 1\r\nsequence 17\r\n"
seed fuzz_index empty-line "$head\npackage up261201.zip 1 $hash\n"
seed fuzz_index twice "${head}package up261201.zip 1 $hash\npackage up261201.zip 1 $hash\n"
seed fuzz_index bad-fields "${head}package ../up261201.zip 01 ${hash^^}\nexpires 2027-02-29T00:00:00Z\n"
seed fuzz_index no-end "${head}package up261201.zip 1 $hash"

# --- fuzz_status: a status file as a run writes it, and one with every
# optional field.
seed fuzz_status failed '{\n  "action": "update",\n  "bytes_downloaded": 48213775,\n  "consecutive_failures": 1,\n  "exit_status": 4,\n  "last_success": "2026-12-08T02:40:11Z",\n  "message": "Refused to install up261208.zip: bad signature.",\n  "outcome": "failed",\n  "packages": [\n    {"ending": "complete", "name": "up261207.zip"},\n    {"ending": "bad signature", "name": "up261208.zip"}\n  ],\n  "packages_installed_total": 37,\n  "run_finished": "2026-12-09T03:12:47Z",\n  "run_started": "2026-12-09T03:12:40Z",\n  "schema": 1,\n  "source": "ftps://updates.example.net:21",\n  "updater_version": "1.0.0.0"\n}\n'
seed fuzz_status every-field '{"schema": 1, "updater_version": "", "action": "rollback", "run_started": "1970-01-01T00:00:00Z", "run_finished": "9999-12-31T23:59:59Z", "outcome": "x", "exit_status": 255, "message": "\\u001b\\ud83d\\ude00", "packages": [], "last_success": null, "consecutive_failures": 9007199254740992, "bytes_downloaded": 0, "packages_installed_total": 0, "source": "", "index_sequence": 18446744073709551615, "recovery": "Rolled back up090101.zip"}'

echo "seeds in $out: $(find "$out" -type f | wc -l) files"
