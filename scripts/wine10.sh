#!/usr/bin/env bash
# Runs a program of the cached Wine 10 (scripts/wine10-root.sh) inside its
# trixie root. Called by the name of the program it stands for: links named
# wine, wineboot and wineserver point here (tf_use_wine10 in services.sh
# makes them); called as wine10.sh, the first argument names the program.
#
# Each call gets a private mount namespace: a throwaway overlay on the root
# (so the cache stays as it was made), proc, dev, a /tmp kept in the prefix,
# and at their own paths the X socket folder, the prefix, PulseAudio's
# runtime folders and every folder of TONEFORK_WINE10_SHARE (colon-separated:
# the scratch folders a test works in). The host's mount table never holds
# these mounts, and they end with the last process of the call, however it
# ends.
# The process keeps the caller's pid, so a caller that kills it kills the
# Windows program.
set -euo pipefail
here=$(dirname "$(readlink -f "$0")")
source "$here/common.sh"

program=$(basename "$0")
if [ "$program" = wine10.sh ]; then
  [ $# -gt 0 ] || die "usage: wine10.sh wine|wineboot|wineserver|... [arguments]"
  program=$1
  shift
fi
[ -x "$TF_WINE10_ROOT/usr/bin/wine" ] || die "no Wine 10 root in $TF_WINE10_ROOT (scripts/wine10-root.sh makes it)"

if [ "${TF_WINE10_INSIDE:-}" != 1 ]; then
  exec env TF_WINE10_INSIDE=1 unshare -m --propagation private "$here/wine10.sh" "$program" "$@"
fi
unset TF_WINE10_INSIDE

# Debian's Wine makes its server's socket folder under /tmp with a random
# name and notes the name in the prefix: every call for one prefix must see
# the same /tmp to find its server, so the prefix keeps it.
prefix="${WINEPREFIX:-$HOME/.wine}"
tmp="$prefix/.wine10-tmp"
mkdir -p "$tmp"
chmod 1777 "$tmp"
shares=(/tmp/.X11-unix "$prefix")
for d in "${PULSE_RUNTIME_PATH:-}" "${XDG_RUNTIME_DIR:-}"; do [ -n "$d" ] && shares+=("$d"); done
IFS=: read -r -a extra <<<"${TONEFORK_WINE10_SHARE:-}"
shares+=("${extra[@]}")

stage="$TF_CACHE/mnt"
mkdir -p "$stage"
mount -t tmpfs tonefork-wine10 "$stage"
mkdir "$stage/upper" "$stage/work" "$stage/root"
mount -t overlay overlay -o "lowerdir=$TF_WINE10_ROOT,upperdir=$stage/upper,workdir=$stage/work" "$stage/root"
root="$stage/root"
mount -t proc proc "$root/proc"
mount --rbind /dev "$root/dev"
mount --bind "$tmp" "$root/tmp"
for d in "${shares[@]}"; do
  [ -d "$d" ] || continue
  mkdir -p "$root$d"
  mount --bind "$d" "$root$d"
done

cwd=/
[ -d "$root$PWD" ] && cwd=$PWD
# Debian's wine 10.0 aborts when TMPDIR is set.
exec chroot "$root" /usr/bin/env -u TMPDIR -C "$cwd" "$program" "$@"
