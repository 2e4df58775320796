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
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
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

# The Debian mirror this machine already uses, read from its own apt
# configuration so that no host name needs to live in the repository.
debian_mirror() {
  local uri
  uri=$( { grep -hs '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{print $2}';
           grep -hs '^deb ' /etc/apt/sources.list | awk '{for(i=2;i<=NF;i++) if ($i ~ /:\/\//) {print $i; break}}'; } |
         grep -v -e security -e updates | head -n1)
  [ -n "$uri" ] || die "no Debian mirror found in the apt configuration"
  printf '%s\n' "$uri"
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
