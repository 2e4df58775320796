#!/usr/bin/env bash
# Installs every tool and library the build and the tests need, and fetches
# Dear ImGui's source package into the cache the machine's clones share.
# Idempotent: does nothing when all is present.
# Sourced (by scripts/wine10-root.sh) it only defines its functions.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

PACKAGES=(
  g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth pulseaudio pulseaudio-utils
  sox imagemagick xdotool x11-utils nlohmann-json3-dev googletest
  libbenchmark-dev cmake ninja-build g++ dpkg-dev python3 zip fonts-open-sans fonts-wqy-microhei nsis swh-plugins
)

install_packages() {  # <package>...
  local missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing: ${missing[*]}"
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null ||
      die "installing ${missing[*]} needs root, and there is no sudo: run ./dev as root, or install them as root first"
    sudo=(sudo)
  fi
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# clang and its libFuzzer runtime, for ./dev fuzz (which sources this file);
# the runtime's package carries clang's major version in its name.
install_fuzz_packages() {
  install_packages clang
  local major
  major=$(clang --version | sed -n 's/.*clang version \([0-9]*\)\..*/\1/p' | head -n1)
  [ -n "$major" ] || die "cannot tell the version of clang"
  install_packages "libclang-rt-$major-dev"
}

# apt's own configuration and state: only ever read.
APT_CONFIG_DIR=/etc/apt
APT_LISTS_DIR=/var/lib/apt/lists

# The entries of apt's configuration, in the order apt reads them, one line
# each: "<URI> <signature> <suite>...". The signature is "debian" when the
# entry's signed-by names a keyring of the debian-archive-keyring package
# (/usr/share/keyrings/debian-archive-*), "none" without signed-by (any key
# apt trusts will do), "other" otherwise. Disabled entries are left out.
apt_entries() {
  local f
  for f in "$APT_CONFIG_DIR/sources.list" "$APT_CONFIG_DIR"/sources.list.d/*; do
    [ -f "$f" ] || continue
    case "$f" in
      *.list) awk -f <(apt_awk_common; apt_awk_one_line) "$f" ;;
      *.sources) awk -f <(apt_awk_common; apt_awk_deb822) "$f" ;;
    esac
  done
}

apt_awk_common() {
  cat <<'AWK'
function signature(signed) {
  if (signed == "") return "none"
  return signed ~ /\/usr\/share\/keyrings\/debian-archive-/ ? "debian" : "other"
}
AWK
}

# deb [option=value ...] URI suite [component...]
apt_awk_one_line() {
  cat <<'AWK'
$1 == "deb" || $1 == "deb-src" {
  i = 2; signed = ""
  if ($2 ~ /^\[/) {
    for (; i <= NF; i++) {
      if ($i ~ /signed-by=/) signed = $i
      if ($i ~ /\]$/) break
    }
    i++
  }
  if (i + 1 <= NF) print $i, signature(signed), $(i + 1)
}
AWK
}

# Stanzas of "Field: value" lines, separated by blank lines; a value may go
# on over lines that start with a space (an inline key of Signed-By does).
apt_awk_deb822() {
  cat <<'AWK'
BEGIN { RS = ""; FS = "\n" }
{
  delete v; field = ""
  for (n = 1; n <= NF; n++) {
    if ($n ~ /^#/) continue
    if ($n ~ /^[ \t]/) { v[field] = v[field] " " $n; continue }
    field = tolower(substr($n, 1, index($n, ":") - 1))
    v[field] = substr($n, index($n, ":") + 1)
  }
  if (v["types"] !~ /deb/ || tolower(v["enabled"]) ~ /no/) next
  split(v["uris"], uris, " ")
  if (uris[1] != "" && v["suites"] != "") print uris[1], signature(v["signed-by"]), v["suites"]
}
AWK
}

# True when apt's copy of the suite's Release file says it is Debian's.
released_by_debian() {  # <URI> <suite>
  local name=${1#*://}
  name="${name%/}_dists_$2"
  name=${name//\//_}
  grep -qsx 'Origin: Debian' "$APT_LISTS_DIR/${name}_InRelease" "$APT_LISTS_DIR/${name}_Release"
}

# The Debian mirror this machine already uses, read from its own apt
# configuration so that no host name needs to live in the repository: the
# first entry, in apt's order, that carries a suite of the main archive
# (not only security updates) and is signed by Debian's archive keyring,
# or names no key and is Debian's by its Release file. A third-party
# repository listed before it is passed over. TONEFORK_DEBIAN_MIRROR
# overrides the choice.
debian_mirror() {
  if [ -n "${TONEFORK_DEBIAN_MIRROR:-}" ]; then
    printf '%s\n' "${TONEFORK_DEBIAN_MIRROR%/}"
    return 0
  fi
  local uri signature suites suite
  while read -r uri signature suites; do
    for suite in $suites; do
      case "$suite" in *-security|*/updates) continue ;; esac
      if [ "$signature" = debian ] || { [ "$signature" = none ] && released_by_debian "$uri" "$suite"; }; then
        printf '%s\n' "${uri%/}"
        return 0
      fi
    done
  done < <(apt_entries)
  die "no Debian mirror in the apt configuration (an entry signed by debian-archive-keyring); name one in TONEFORK_DEBIAN_MIRROR"
}

# apt options that keep every file of a private apt under one folder: the
# system's apt configuration and state are never touched.
private_apt_opts() {  # <folder>
  printf '%s\n' -o "Dir::Etc::sourcelist=$1/sources.list" -o Dir::Etc::sourceparts=- \
    -o "Dir::State=$1/state" -o "Dir::Cache=$1/cache" -o APT::Get::List-Cleanup=0 \
    -o APT::Sandbox::User=root
}

# The suites the pinned Dear ImGui is looked up in, by the mirror's names
# that follow the releases: sid first, where a pin is normally taken from.
IMGUI_SUITES=(sid testing stable stable-backports experimental oldstable oldstable-backports)

imgui_ready() { [ -f "$TF_IMGUI_DIR/imgui.h" ] && [ -f "$TF_IMGUI_DIR/backends/imgui_impl_dx11.cpp" ]; }

# Dear ImGui's source package of the pinned version, kept in the cache by
# version: once fetched, it builds without the mirror, also after every
# suite has dropped that version. Clones that fetch at the same time wait
# for each other, and a fetch cut short leaves no half-made folder behind.
fetch_imgui() {
  imgui_ready && return 0
  { mkdir -p "$TF_CACHE/imgui" && [ -w "$TF_CACHE/imgui" ]; } 2>/dev/null ||
    die "cannot make the cache folder $TF_CACHE: run as root, or name another folder in TONEFORK_CACHE"
  (
    flock 8
    trap 'rm -rf "$TF_IMGUI_CACHE.new"' EXIT
    imgui_ready || fetch_imgui_now
  ) 8>"$TF_CACHE/imgui/lock"
}

fetch_imgui_now() {
  local work="$TF_IMGUI_CACHE.new" suite opts
  rm -rf "$work" && mkdir -p "$work/apt/state/lists/partial" "$work/apt/cache/archives/partial"
  mapfile -t opts < <(private_apt_opts "$work/apt")
  suite=$(imgui_suite "$work/apt" "${opts[@]}") || die "$suite"
  say "fetching Dear ImGui source package $TF_IMGUI_VERSION (from $suite) into $TF_IMGUI_CACHE"
  (cd "$work" && apt-get -qq "${opts[@]}" source --download-only "imgui=$TF_IMGUI_VERSION" >/dev/null) ||
    die "Dear ImGui $TF_IMGUI_VERSION could not be downloaded"
  dpkg-source -q -x "$work/imgui_${TF_IMGUI_VERSION#*:}.dsc" "$work/imgui" >/dev/null 2>&1 ||
    die "Dear ImGui $TF_IMGUI_VERSION could not be unpacked"
  rm -rf "$work/apt"
  mv "$work" "$TF_IMGUI_CACHE"
  imgui_ready || die "Dear ImGui sources missing after fetch"
}

# Prints the first suite of the mirror that has the pinned version, its
# source list left in place for the download. Otherwise prints why, with
# the versions the suites do have, and fails.
imgui_suite() {  # <apt folder> <apt options>...
  local apt=$1 mirror suite versions seen="" read=0
  shift
  mirror=$(debian_mirror) || { echo "no Debian mirror to fetch Dear ImGui from"; return 1; }
  for suite in "${IMGUI_SUITES[@]}"; do
    echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $suite main" >"$apt/sources.list"
    apt-get -qq "$@" -o APT::Update::Error-Mode=any update >/dev/null 2>&1 || continue
    read=1
    versions=$(apt-cache "$@" showsrc imgui 2>/dev/null | awk '/^Version:/ {print $2}' | sort -uV)
    grep -qxF "$TF_IMGUI_VERSION" <<<"$versions" && { echo "$suite"; return 0; }
    [ -n "$versions" ] && seen="$seen${seen:+; }$suite ${versions//$'\n'/ }"
  done
  if [ "$read" -eq 0 ]; then
    echo "could not read the suites of $mirror (no network?) to fetch Dear ImGui $TF_IMGUI_VERSION"
  else
    echo "Dear ImGui $TF_IMGUI_VERSION, pinned as TF_IMGUI_VERSION in scripts/common.sh, is in no suite of $mirror" \
      "(${IMGUI_SUITES[*]}) and not in $TF_CACHE/imgui (they have: ${seen:-none})." \
      "Move the pin to one of these and build to check it"
  fi
  return 1
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  install_packages "${PACKAGES[@]}"
  fetch_imgui
fi
