#!/usr/bin/env bash
# Installs every tool and library the build and the tests need, and fetches
# the Dear ImGui sources. Idempotent: does nothing when all is present.
# Sourced (by scripts/wine10-root.sh) it only defines its functions.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

PACKAGES=(
  g++-mingw-w64-x86-64-posix wine wine64 xvfb xauth pulseaudio pulseaudio-utils
  sox imagemagick xdotool x11-utils nlohmann-json3-dev googletest
  libbenchmark-dev cmake ninja-build g++ dpkg-dev python3 zip fonts-open-sans nsis
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

# apt options that keep every file of ours under .cache: the system's apt
# configuration and state are never touched.
private_apt_opts() {
  local d="$TF_CACHE/apt"
  printf '%s\n' -o "Dir::Etc::sourcelist=$d/sources.list" -o Dir::Etc::sourceparts=- \
    -o "Dir::State=$d/state" -o "Dir::Cache=$d/cache" -o APT::Get::List-Cleanup=0 \
    -o APT::Sandbox::User=root
}

# The pinned version when the suite still carries it, otherwise the newest
# 1.92.x it has (said loudly: the build then differs from the pin).
imgui_version() {
  local versions
  versions=$(apt-cache "$@" showsrc imgui 2>/dev/null | awk '/^Version:/ {print $2}')
  if grep -qxF "$TF_IMGUI_VERSION" <<<"$versions"; then
    printf '%s\n' "$TF_IMGUI_VERSION"
    return
  fi
  local other
  other=$(grep -E '^1\.92\.' <<<"$versions" | sort -V | tail -n1)
  [ -n "$other" ] || die "no Dear ImGui 1.92.x source package in the suite"
  say "WARNING: Dear ImGui $TF_IMGUI_VERSION has left the suite; using $other"
  printf '%s\n' "$other"
}

fetch_imgui() {
  [ -f "$TF_IMGUI_DIR/imgui.h" ] && [ -f "$TF_IMGUI_DIR/backends/imgui_impl_dx11.cpp" ] && return 0
  local d="$TF_CACHE/apt" src="$TF_CACHE/imgui-src"
  mkdir -p "$d/state/lists/partial" "$d/cache/archives/partial" "$src"
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $(debian_mirror) sid main" > "$d/sources.list"
  local opts version; mapfile -t opts < <(private_apt_opts)
  apt-get -qq "${opts[@]}" update
  version=$(imgui_version "${opts[@]}")
  say "fetching Dear ImGui source package $version"
  (cd "$src" &&
   apt-get -qq "${opts[@]}" source --download-only "imgui=$version" >/dev/null &&
   rm -rf "$TF_IMGUI_DIR" &&
   dpkg-source -q -x "imgui_${version#*:}.dsc" "$(basename "$TF_IMGUI_DIR")" >/dev/null 2>&1)
  [ -f "$TF_IMGUI_DIR/imgui.h" ] || die "Dear ImGui sources missing after fetch"
  echo "$version" >"$src/VERSION"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  install_packages "${PACKAGES[@]}"
  fetch_imgui
fi
