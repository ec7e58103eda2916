#!/usr/bin/env bash
# What a newcomer meets on a freshly installed Debian 12: makes a minimal root
# (debootstrap --variant=minbase bookworm, from this machine's own apt
# mirror), installs only git and ca-certificates in it, clones this repository
# (its committed HEAD) and runs the README's two commands there, printing how
# long each took. When the project builds a Debian package, it is then made in
# the root and installed into a second fresh root with apt-get, and the three
# programs' --help run there.
#
#   scripts/fresh-check.sh [WORKDIR]     (root; default build/fresh)
#
# KREVO_FRESH_KEEP=1 keeps the roots afterwards. The debootstrap result is kept
# as WORKDIR/minbase.tar so that later checks start from the same untouched
# root without fetching it again; remove it to fetch anew.
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$(pwd)
[ "$(id -u)" -eq 0 ] || { echo "fresh-check.sh: run as root (debootstrap and chroot)" >&2; exit 2; }
. scripts/lib/deps.sh
ensure_packages debootstrap git

work=$(realpath -m "${1:-build/fresh}")
mkdir -p "$work"

# The first Debian mirror that this machine's apt sources name, in either format.
mirror=$(
  { { grep -hE '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null || true; } | awk '{print $2}'
    { grep -hE '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null || true; } |
      sed -E 's/^deb +(\[[^]]*\] +)?//' | awk '{print $1}'
  } | grep -v -- '-security' | head -n 1 || true)
[ -n "$mirror" ] || { echo "fresh-check.sh: no apt mirror found in /etc/apt" >&2; exit 2; }

if [ ! -s "$work/minbase.tar" ]; then
  rm -rf "$work/bootstrap"
  echo "== debootstrap --variant=minbase bookworm" >&2
  debootstrap --variant=minbase bookworm "$work/bootstrap" "$mirror" >"$work/debootstrap.log" 2>&1 ||
    { tail -n 20 "$work/debootstrap.log" >&2; exit 1; }
  tar -C "$work/bootstrap" -cf "$work/minbase.tar.part" . && mv "$work/minbase.tar.part" "$work/minbase.tar"
  rm -rf "$work/bootstrap"
fi

mounted=()
cleanup() {
  local m
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[$i]}" 2>/dev/null || true; done
  if [ "${KREVO_FRESH_KEEP:-0}" != 1 ]; then rm -rf "$work/root" "$work/install-root"; fi
}
trap cleanup EXIT

# new_root DIR: an untouched minimal root with proc, sys and dev, and this
# machine's apt sources and name resolution.
new_root() {
  local dir=$1
  rm -rf "$dir" && mkdir -p "$dir"
  tar -C "$dir" -xf "$work/minbase.tar"
  cp /etc/resolv.conf "$dir/etc/resolv.conf" 2>/dev/null || true
  if ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1; then
    rm -f "$dir/etc/apt/sources.list"
    grep -l -E '^URIs: .*/debian(-security)?/?$' /etc/apt/sources.list.d/*.sources |
      xargs -r cp -t "$dir/etc/apt/sources.list.d/"
  fi
  printf '#!/bin/sh\nexit 101\n' >"$dir/usr/sbin/policy-rc.d" && chmod +x "$dir/usr/sbin/policy-rc.d"
  mount -t proc proc "$dir/proc" && mounted+=("$dir/proc")
  mount -t sysfs sys "$dir/sys" && mounted+=("$dir/sys")
  mount --rbind /dev "$dir/dev" && mount --make-rslave "$dir/dev" && mounted+=("$dir/dev")
  mkdir -p "$dir/tmp" && chmod 1777 "$dir/tmp"
}

# in_root DIR COMMAND: runs a shell command in the root as a login with a clean
# environment: no display, no variables of this session, and no LANG or LC_*
# (the C locale), as in a plain container.
in_root() {
  chroot "$1" /usr/bin/env -i HOME=/root PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    TERM=dumb /bin/bash -c "$2"
}

# timed LABEL COMMAND...: runs the command and prints its exit status and time
# on the script's own output, wherever the command's output goes.
exec 3>&1
timed() {
  local label=$1 start end status=0
  shift
  start=$(date +%s)
  "$@" || status=$?
  end=$(date +%s)
  printf '== %s: exit %d, %d s\n' "$label" "$status" $((end - start)) >&3
  return "$status"
}

root="$work/root"
new_root "$root"
mkdir -p "$root/mnt/src" && mount --bind -o ro "$repo" "$root/mnt/src" && mounted+=("$root/mnt/src")
timed "apt-get install git ca-certificates" in_root "$root" \
  'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends git ca-certificates >/dev/null'
timed "git clone" in_root "$root" 'git clone -q /mnt/src /root/krevo'
status=0
timed "scripts/demo.sh" in_root "$root" 'cd /root/krevo && scripts/demo.sh </dev/null' >"$work/demo.log" 2>&1 || status=1
tail -n 3 "$work/demo.log"
timed "scripts/test.sh" in_root "$root" 'cd /root/krevo && CI=true scripts/test.sh </dev/null' >"$work/test.log" 2>&1 || status=1
grep -E 'tests passed|tests failed|^ctest:' "$work/test.log" | tail -n 2

if [ -x "$root/root/krevo/scripts/package.sh" ]; then
  timed "scripts/package.sh" in_root "$root" 'cd /root/krevo && scripts/package.sh </dev/null' >"$work/package.log" 2>&1 || status=1
  tail -n 3 "$work/package.log"
  deb=$(ls "$root"/root/krevo/build/release/krevo-updater_*.deb 2>/dev/null | head -n 1)
  if [ -n "$deb" ]; then
    inst="$work/install-root"
    new_root "$inst"
    cp "$deb" "$inst/tmp/"
    timed "apt-get install ./$(basename "$deb")" in_root "$inst" \
      "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends /tmp/$(basename "$deb") >/dev/null" ||
      status=1
    for p in krevo-updater krevo-unzip krevo-ftp; do
      timed "$p --help" in_root "$inst" "$p --help >/dev/null" || status=1
    done
  else
    echo "== no .deb was made" && status=1
  fi
fi
exit "$status"
