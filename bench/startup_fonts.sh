#!/usr/bin/env bash
# What the fallback faces for other scripts cost a user whose device names
# need none of them. Tonefork starts RUNS times (5) with a free CJK face in
# the Fonts folder under every file name of the fallback list (as on a
# Windows machine, where they all exist), and as many times, in turn, with
# the same copies under other names, which the program does not look for
# (the baseline). The folder holds the same faces either way, so whatever
# Wine itself makes of a Fonts folder costs both the same. The copies are
# written to disk before a start: pages of a file still dirty in the page
# cache would count as the private memory of a process that maps them.
# Needs the headless desktop of scripts/services.sh (DISPLAY, PULSE_SERVER,
# WINEPREFIX).
#
# usage: startup_fonts.sh <dist/Tonefork> <tfctl.exe> <results folder>
#
# Per start:
# - time from launch to the log line written once the fonts are loaded (the
#   last step before the first frame), polled every 10 ms;
# - 2 s later, with the window drawn: the working set (Rss of the Linux
#   process that runs Tonefork.exe) and the private memory (its
#   Private_Dirty, as the soak counts it; mapped font files are clean pages
#   and count in neither unless read).
# Reported: the median of each, and fallback over baseline.
set -euo pipefail

[ $# -eq 3 ] || { sed -n 9p "$0" | sed 's/^# //' >&2; exit 2; }
DIST=$1 TFCTL=$2 OUT=$3
WINE=${TONEFORK_WINE:-wine}
RUNS=${STARTUP_RUNS:-5}
WORK="$OUT/startup-work"
RESULT="$OUT/startup_fonts.txt"
FONTS="$WINEPREFIX/drive_c/windows/Fonts"
FREE_FACE=/usr/share/fonts/truetype/wqy/wqy-microhei.ttc
# The file names the program looks for (src/gfx/fallback_faces.cpp), the
# first choice of each face.
NAMES=(msyh.ttc msyhbd.ttc YuGothM.ttc YuGothB.ttc malgun.ttf malgunbd.ttf LeelawUI.ttf LeelaUIb.ttf
  Nirmala.ttf NirmalaB.ttf seguisym.ttf arial.ttf arialbd.ttf)
LOADED="Fallback faces merged: "

say() { printf '[startup] %s\n' "$*" >&2; }

TF_PID=""
cleanup() {
  [ -n "$TF_PID" ] && kill "$TF_PID" 2>/dev/null || true
  place_faces none
}
trap cleanup EXIT

place_faces() {  # own|other|none: under the names looked for, under others, or not at all
  local name
  for name in "${NAMES[@]}"; do
    rm -f "$FONTS/$name" "$FONTS/other-$name"
    case "$1" in
      own) cp "$FREE_FACE" "$FONTS/$name" ;;
      other) cp "$FREE_FACE" "$FONTS/other-$name" ;;
    esac
  done
  sync
}

smaps_kb() {  # <field>
  awk -v f="$1:" '$1 == f { kb += $2 } END { print kb + 0 }' "/proc/$TF_PID/smaps_rollup" 2>/dev/null || echo 0
}

# One start; prints "<ms to fonts loaded> <working set kB> <private kB> <log line>".
one_start() {
  rm -rf "$WORK/tf" && cp -r "$DIST" "$WORK/tf"
  "$WINE" reg delete 'HKCU\SOFTWARE\Wavecaster' /f >/dev/null 2>&1 || true
  local t0 t1 line
  t0=$(date +%s%N)
  "$WINE" "$WORK/tf/Tonefork.exe" >"$WORK/tf-wine.log" 2>&1 &
  TF_PID=$!
  for _ in $(seq 3000); do
    grep -q -F "$LOADED" "$WORK/tf/log.txt" 2>/dev/null && break
    sleep 0.01
  done
  t1=$(date +%s%N)
  line=$(grep -F "$LOADED" "$WORK/tf/log.txt" | sed 's/.*\(Fallback faces merged: .*\)/\1/' | tr -d '\r')
  [ -n "$line" ] || { say "the fonts were never loaded"; exit 1; }
  sleep 2
  echo "$(( (t1 - t0) / 1000000 )) $(smaps_kb Rss) $(smaps_kb Private_Dirty) $line"
  "$WINE" "$TFCTL" close >/dev/null 2>&1 || true
  "$WINE" "$TFCTL" wait-gone 10000 >/dev/null 2>&1 || true
  # Gone from the screen, it ends within moments; one that hangs is ended.
  ( sleep 10 && kill "$TF_PID" 2>/dev/null ) &
  local stopper=$!
  wait "$TF_PID" 2>/dev/null || true
  kill "$stopper" 2>/dev/null || true
  TF_PID=""
}

rm -rf "$WORK" && mkdir -p "$WORK"
: >"$WORK/baseline.txt"
: >"$WORK/fallback.txt"
for run in $(seq "$RUNS"); do
  place_faces other
  one_start >>"$WORK/baseline.txt"
  place_faces own
  one_start >>"$WORK/fallback.txt"
  say "run $run: baseline $(tail -n 1 "$WORK/baseline.txt"); fallback $(tail -n 1 "$WORK/fallback.txt")"
done

python3 - "$WORK/baseline.txt" "$WORK/fallback.txt" "$RUNS" >"$RESULT" <<'PY'
import statistics, sys
def read(path):
    rows = [line.split(None, 3) for line in open(path) if line.strip()]
    return [[float(v) for v in row[:3]] for row in rows], rows[-1][3].strip()
base, base_line = read(sys.argv[1])
fall, fall_line = read(sys.argv[2])
print(f"Start-up with the fallback faces against without, median of {sys.argv[3]} starts each")
print(f"  baseline: {base_line}  fallback: {fall_line}")
for i, (name, unit) in enumerate([("to fonts loaded", "ms"), ("working set", "kB"), ("private", "kB")]):
    b = statistics.median(r[i] for r in base)
    f = statistics.median(r[i] for r in fall)
    spread = max(r[i] for r in base) - min(r[i] for r in base)
    print(f"  {name:16s} baseline {b:9.0f} {unit}  fallback {f:9.0f} {unit}  = {f / b:5.3f} x"
          f"  (baseline spread {spread:.0f} {unit})")
PY
cat "$RESULT"
