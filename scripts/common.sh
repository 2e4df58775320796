# Shared by ./dev and the scripts it calls. Sourced, never run.
# shellcheck shell=bash

TF_ROOT=${TF_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}
# What every clone on the machine shares, kept outside them all (CI's fresh
# clone included): Dear ImGui's source package and the Wine 10 root.
# TONEFORK_CACHE moves it (TONEFORK_WINE10_CACHE is its former name).
TF_CACHE="${TONEFORK_CACHE:-${TONEFORK_WINE10_CACHE:-/var/cache/tonefork}}"
# A developer may build and test in another place (for example to run two
# builds side by side); the defaults are the repository's build/ and dist/.
TF_BUILD="${TONEFORK_BUILD_DIR:-$TF_ROOT/build}"
TF_DIST="${TONEFORK_DIST_DIR:-$TF_ROOT/dist/Tonefork}"

# Dear ImGui comes from Debian's source package of this exact version,
# fetched once into the cache (scripts/deps.sh) and unpacked there.
TF_IMGUI_VERSION="1.92.2b+ds-1"
TF_IMGUI_CACHE="$TF_CACHE/imgui/$TF_IMGUI_VERSION"
TF_IMGUI_DIR="$TF_IMGUI_CACHE/imgui"

# build_preset <preset> <build folder>: configures and builds one CMake
# preset, its output kept in $TF_BUILD/<preset>.*.log and shown on failure.
build_preset() {
  say "building ($1; log: $(tf_shown "$TF_BUILD/$1.build.log"))"
  (cd "$TF_ROOT" && cmake --preset "$1" -B "$2") >"$TF_BUILD/$1.configure.log" 2>&1 ||
    { cat "$TF_BUILD/$1.configure.log" >&2; die "configure failed ($1)"; }
  cmake --build "$2" >"$TF_BUILD/$1.build.log" 2>&1 ||
    { tail -n 30 "$TF_BUILD/$1.build.log" >&2; die "build failed ($1)"; }
}

say() { printf '[dev] %s\n' "$*" >&2; }
# A path as the developer types it in the clone: relative to it when inside.
tf_shown() { case "$1" in "$TF_ROOT"/*) printf '%s\n' "${1#"$TF_ROOT"/}" ;; *) printf '%s\n' "$1" ;; esac; }
die() { printf '[dev] error: %s\n' "$*" >&2; exit 1; }

# The Debian trixie root with Wine 10 that the loopback tier runs in (Wine 8
# has no loopback capture), in the cache; scripts/wine10-root.sh makes it
# and scripts/wine10.sh runs Wine inside it.
TF_WINE10_ROOT="$TF_CACHE/wine10-trixie"
