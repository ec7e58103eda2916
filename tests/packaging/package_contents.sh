#!/usr/bin/env bash
# What `cmake --install BUILD --prefix /usr` puts into a fresh DESTDIR, as the
# Debian package gets it:
#   package_contents.sh layout|man|desktop|units BUILD [UPDATER UNZIP FTP]
# layout   every installed path, its type, mode and link target, nothing else
#          (no test program, no GoogleTest file)
# man      each manual page renders without a warning, and names exactly the
#          options its program's --help names (the programs are the last three
#          arguments)
# desktop  desktop-file-validate accepts the desktop entry
# units    systemd-analyze verify accepts the service and the timer, with the
#          updater installed where ExecStart names it
# Exit status 77 (skipped) when the tool a check needs is not installed.
set -euo pipefail
check=$1 build=$2
shift 2
stage=$(mktemp -d "${TMPDIR:-/tmp}/krevo-install.XXXXXX")
trap 'rm -rf "$stage"' EXIT
root=$stage/root
DESTDIR=$root cmake --install "$build" --prefix /usr >"$stage/install.log" ||
  { cat "$stage/install.log"; exit 1; }

skip() {
  echo "skipped: $1 is not installed"
  exit 77
}

# The long options and one-letter options a text names, one per line.
options() { grep -oE -- '(^|[^[:alnum:]-])--?[[:alpha:]][[:alnum:]-]*' | sed 's/^[^-]*//' | sort -u; }

case $check in
layout)
  expected='opt/krevo/krevo-updater f755
usr/bin/krevo-ftp f755
usr/bin/krevo-unzip f755
usr/bin/krevo-updater l -> /opt/krevo/krevo-updater
usr/lib/systemd/system/krevo-updater.service f644
usr/lib/systemd/system/krevo-updater.timer f644
usr/share/applications/krevo-updater.desktop f644
usr/share/doc/krevo-updater/changelog.Debian.gz f644
usr/share/doc/krevo-updater/copyright f644
usr/share/lintian/overrides/krevo-updater f644
usr/share/man/man1/krevo-ftp.1.gz f644
usr/share/man/man1/krevo-unzip.1.gz f644
usr/share/man/man1/krevo-updater.1.gz f644'
  actual=$(cd "$root" && find . ! -type d -printf '%P %y%m -> %l\n' |
    sed -E 's/^([^ ]+) l777 /\1 l /; s/ -> $//' | LC_ALL=C sort)
  if [ "$actual" != "$expected" ]; then
    diff <(echo "$expected") <(echo "$actual") || true
    exit 1
  fi
  for gz in "$root"/usr/share/man/man1/*.gz "$root"/usr/share/doc/krevo-updater/*.gz; do
    gzip -t "$gz"
  done
  ;;
man)
  command -v man >/dev/null || skip man
  [ $# -eq 3 ] || { echo "man: the three programs are needed"; exit 2; }
  status=0
  for program in "$@"; do
    name=$(basename "$program")
    page=$root/usr/share/man/man1/$name.1.gz
    warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null
      gzip -dc "$page" | groff -man -ww -z 2>&1)
    if [ -n "$warnings" ]; then
      echo "$name.1: $warnings"
      status=1
    fi
    # The option tags of the OPTIONS section sit at the section's indent.
    manOptions=$(MANWIDTH=200 man -E ascii -l "$page" 2>/dev/null |
      sed -n '/^OPTIONS/,/^[A-Z]/p' | grep -E '^ {7}-' | options)
    helpOptions=$("$program" --help | options) || { echo "$name --help failed"; status=1; }
    if [ "$manOptions" != "$helpOptions" ]; then
      echo "$name: the options of the manual page (<) and of --help (>) differ:"
      diff <(echo "$manOptions") <(echo "$helpOptions") || true
      status=1
    fi
  done
  exit "$status"
  ;;
desktop)
  command -v desktop-file-validate >/dev/null || skip desktop-file-validate
  out=$(desktop-file-validate "$root/usr/share/applications/krevo-updater.desktop" 2>&1)
  [ -z "$out" ] || { echo "$out"; exit 1; }
  ;;
units)
  command -v systemd-analyze >/dev/null || skip systemd-analyze
  # The units they depend on (sysinit.target, timers.target...) come from this
  # machine; the documentation they name from the installed pages.
  cp -an /lib/systemd/system/. "$root/usr/lib/systemd/system/"
  out=$(MANPATH=$root/usr/share/man systemd-analyze verify --root="$root" \
    /usr/lib/systemd/system/krevo-updater.service /usr/lib/systemd/system/krevo-updater.timer 2>&1) ||
    { echo "$out"; exit 1; }
  [ -z "$out" ] || { echo "$out"; exit 1; }
  ;;
*)
  echo "unknown check $check"
  exit 2
  ;;
esac
