#!/usr/bin/env bash
# Makes the Wine 10 root of the loopback tier when it is missing, incomplete
# or made from another package list: a Debian trixie tree from debootstrap
# --variant=minbase, from the mirror of this machine's own apt configuration,
# with Wine 10 and the libraries its window and its sound load at run time.
# Prints the root's folder. On failure the last line on stderr says why, and
# the status is 1 (the loopback tier then reports itself skipped with that
# reason).
set -euo pipefail
source "$(dirname "$0")/deps.sh"

SUITE=trixie
# Wine only recommends what it loads at run time: Mesa's GL for Direct3D,
# the X client libraries, FreeType and libpulse.
ROOT_PACKAGES=(
  wine wine64 libgl1 libglx-mesa0 libgl1-mesa-dri libx11-6 libx11-xcb1 libxext6 libxrender1
  libxrandr2 libxi6 libxcursor1 libxcomposite1 libxinerama1 libxfixes3 libfreetype6
  libfontconfig1 libpulse0
)
# Written last: a root without it, or with another list in it, was cut short
# or made for another list, and is made anew.
STAMP="$TF_WINE10_ROOT/.tonefork-root"
WANT="suite=$SUITE packages=${ROOT_PACKAGES[*]}"
LOG="$TF_CACHE/wine10-root.log"

ready() { [ "$(cat "$STAMP" 2>/dev/null)" = "$WANT" ] && [ -x "$TF_WINE10_ROOT/usr/bin/wine" ]; }

# Inside a mount namespace of its own (see make_root): the proc and dev
# mounts of debootstrap and of the package scripts end with it.
fill_root() {  # <folder> <mirror>
  debootstrap --variant=minbase "$SUITE" "$1" "$2"
  mount -t proc proc "$1/proc"
  mount --rbind /dev "$1/dev"
  chroot "$1" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive chroot "$1" apt-get install -y -qq --no-install-recommends "${ROOT_PACKAGES[@]}"
  chroot "$1" apt-get clean
  rm -rf "$1/var/lib/apt/lists/"*
}

make_root() {
  local new="$TF_WINE10_ROOT.new" old="$TF_WINE10_ROOT.old" mirror started=$SECONDS
  mirror=$(debian_mirror)
  say "making the Wine 10 root in $TF_WINE10_ROOT (debootstrap $SUITE, then Wine; a few minutes, once)"
  rm -rf "$new" "$old"
  unshare -m --propagation private "$0" --fill "$new" "$mirror" >"$LOG" 2>&1 ||
    { tail -n 5 "$LOG" >&2; die "making the Wine 10 root failed (see $LOG)"; }
  echo "$WANT" >"$new/.tonefork-root"
  [ -e "$TF_WINE10_ROOT" ] && mv "$TF_WINE10_ROOT" "$old"
  mv "$new" "$TF_WINE10_ROOT"
  rm -rf "$old"
  say "Wine 10 root ready in $((SECONDS - started)) s, $(du -sh "$TF_WINE10_ROOT" | cut -f1)"
}

if [ "${1:-}" = --fill ]; then
  fill_root "$2" "$3"
  exit 0
fi
[ "$(id -u)" -eq 0 ] || die "the Wine 10 root needs root (debootstrap, chroot and a private mount namespace)"
install_packages debootstrap || die "debootstrap could not be installed"
mkdir -p "$TF_CACHE"
# One maker at a time: two clones testing at once wait for each other.
exec 9>"$TF_CACHE/wine10-root.lock"
flock 9
ready || make_root
printf '%s\n' "$TF_WINE10_ROOT"
