#!/usr/bin/env bash
# Soak under Wine and PulseAudio: Tonefork routes the monitor of Speakers to
# Headphones + HDMI Output for SOAK_MINUTES (10) while a tone plays into
# Speakers; SOAK_CYCLES (200) stops and starts from the tray (the tray
# menu's command, as tfctl sends it) and SOAK_BURSTS (100) bursts of the
# device-change message are spread over it. Needs the headless desktop of
# scripts/services.sh (DISPLAY, PULSE_SERVER, WINEPREFIX) and a clean
# HKCU\SOFTWARE\Wavecaster to own.
#
# usage: soak.sh <dist/Tonefork> <audio_probe> <tfctl.exe> <results folder>
#
# Every minute: first its share of the start/stop cycles (one every 2 s),
# then, 4 s after the last start, its share of the bursts (5 messages 50 ms
# apart, spread over the rest of the minute) while routing runs on. Reported:
# - crashes: the process ended before the tray's Exit, or Wine reported an
#   unhandled exception;
# - hangs: a command or burst the window did not answer within 10 s (the log
#   line it writes never came), or a start whose streams never started;
# - gaps per minute: discontinuities (audio_probe) in the tone heard on
#   Headphones during each minute's burst window, where routing must not
#   break; the cycles' own stops, and the first seconds after a start, are
#   not counted;
# - private memory: Private_Dirty of /proc/<pid>/smaps_rollup of the Linux
#   process that runs Tonefork.exe, each minute: the pages only this process
#   holds and has written, its heaps, stacks and DLL data, where a leak
#   grows. Clean pages of the libraries are left out: they count as private
#   or as shared depending on whether another process maps the same file at
#   that moment (mesa's libLLVM alone moves 23 MB back and forth). Wine's own
#   GetProcessMemoryInfo offers no such split. Target: the end within 1 MB of
#   the start. Growth is counted from the end of the first minute, when
#   every kind of start, stop and device change has happened once; the
#   figure at the start is shown too.
set -euo pipefail

[ $# -eq 4 ] || { sed -n 10p "$0" | sed 's/^# //' >&2; exit 2; }
DIST=$1 PROBE=$2 TFCTL=$3 OUT=$4
WINE=${TONEFORK_WINE:-wine}
WORK="$OUT/soak-work"
RESULT="$OUT/soak.txt"
KEY='HKCU\SOFTWARE\Wavecaster'
MINUTES=${SOAK_MINUTES:-10}
CYCLES=${SOAK_CYCLES:-200}
BURSTS=${SOAK_BURSTS:-100}
RATE=48000
FRAME_BYTES=8   # float32, two channels

TONE_PID="" REC_PID="" TF_PID=""
CRASHES=0 HANGS=0

say() { printf '[soak] %s\n' "$*" >&2; }

cleanup() {
  local pid
  for pid in $TONE_PID $REC_PID $TF_PID; do kill "$pid" 2>/dev/null || true; done
  "$WINE" reg delete "$KEY" /f >/dev/null 2>&1 || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

alive() {  # the process exists and has not ended (an ended child is a zombie)
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ]
}

private_kb() {
  awk '/^Private_Dirty:/ { kb += $2 } END { print kb + 0 }' "/proc/$TF_PID/smaps_rollup" 2>/dev/null || echo 0
}

recorded_frames() { echo $(( $(stat -c %s "$WORK/headphones.raw") / FRAME_BYTES )); }

log_count() {
  local n
  n=$(grep -c -F "$1" "$WORK/tf/log.txt" 2>/dev/null) || true
  echo "${n:-0}"
}

# wait_for_more <text> <count before>: the log has more of the text within
# 10 s; otherwise a hang (or a crash, if the process is gone).
wait_for_more() {
  for _ in $(seq 100); do
    [ "$(log_count "$1")" -gt "$2" ] && return 0
    sleep 0.1
  done
  if alive "$TF_PID"; then HANGS=$(( HANGS + 1 )); say "hang: no '$1'"; else CRASHES=$(( CRASHES + 1 )); fi
  return 1
}

tray_toggle() {  # <log line of the toggle> <log line of its effect>
  local toggles effects
  toggles=$(log_count "$1") effects=$(log_count "$2")
  "$WINE" "$TFCTL" command 1002 >/dev/null 2>&1 || true
  wait_for_more "$1" "$toggles" && wait_for_more "$2" "$effects"
}

burst() {
  local fired
  fired=$(log_count "WM_TIMER fired for device-change debounce")
  "$WINE" "$TFCTL" post 0x8064 0 0 5 50 >/dev/null 2>&1 || true
  wait_for_more "WM_TIMER fired for device-change debounce" "$fired"
}

sleep_until() {  # <epoch seconds with fraction>
  local left
  left=$(awk -v t="$1" -v now="$(date +%s.%N)" 'BEGIN { d = t - now; print (d > 0) ? d : 0 }')
  sleep "$left"
}

# gaps_between <first frame> <last frame>: discontinuities of the tone there.
gaps_between() {
  dd if="$WORK/headphones.raw" of="$WORK/window.raw" bs=64K iflag=skip_bytes,count_bytes \
    skip=$(( $1 * FRAME_BYTES )) count=$(( ($2 - $1) * FRAME_BYTES )) status=none
  "$PROBE" "$WORK/window.raw" --threshold 0.01 | sed -n 's/.*discontinuities=\(-\{0,1\}[0-9]*\).*/\1/p'
}

# One import: the preferences, and the monitor of Speakers routed to
# Headphones + HDMI Output, found by their names.
seed_tonefork() {
  "$WINE" reg delete "$KEY" /f >/dev/null 2>&1 || true
  cat >"$WORK/seed.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\SOFTWARE\Wavecaster]
"StartRedirectingOnStartup"=dword:00000001
"MinimizeToTray"=dword:00000001
"Volume"=dword:00000032
"BufferMs"=dword:0000001e
"SelectedSource"="{\"dataFlow\":1,\"eguid\":\"\",\"eid\":\"\",\"ff\":0,\"isDefault\":false,\"name\":\"Monitor of Speakers\"}"
"SelectedTargets"="[{\"eguid\":\"\",\"eid\":\"\",\"ff\":0,\"name\":\"Headphones\"},{\"eguid\":\"\",\"eid\":\"\",\"ff\":0,\"name\":\"HDMI Output\"}]"
REG
  "$WINE" reg import "Z:$(printf '%s' "$WORK/seed.reg" | tr '/' '\\')" >/dev/null 2>&1 ||
    { say "could not seed the registry"; exit 1; }
}

# --- the run ------------------------------------------------------------------

rm -rf "$WORK" && mkdir -p "$WORK"
seconds=$(( MINUTES * 60 ))
sox -q -n -t raw -r $RATE -e floating-point -b 32 -c 2 - synth $(( seconds + 120 )) sine 440 vol 0.5 |
  pacat -d speakers --format=float32le --rate=$RATE --channels=2 --raw 2>"$WORK/pacat.log" &
TONE_PID=$!
parec -d headphones.monitor --format=float32le --rate=$RATE --channels=2 --raw --latency-msec=10 \
  >"$WORK/headphones.raw" 2>"$WORK/parec.log" &
REC_PID=$!

seed_tonefork
cp -r "$DIST" "$WORK/tf"
"$WINE" "$WORK/tf/Tonefork.exe" >"$WORK/tf-wine.log" 2>&1 &
TF_PID=$!
wait_for_more "WASAPI: source started" 0 || { say "routing never started"; exit 1; }
say "routing; pid $TF_PID ($(cat "/proc/$TF_PID/comm" 2>/dev/null)), $MINUTES min, $CYCLES cycles, $BURSTS bursts"
sleep 2
memory=("$(private_kb)")
t0=$(date +%s.%N)
done_cycles=0 done_bursts=0
: >"$WORK/minutes.txt"
for minute in $(seq "$MINUTES"); do
  start=$(awk -v t="$t0" -v m="$minute" 'BEGIN { printf "%.3f", t + (m - 1) * 60 }')
  cycles=$(( CYCLES * minute / MINUTES - done_cycles ))
  bursts=$(( BURSTS * minute / MINUTES - done_bursts ))
  for i in $(seq "$cycles"); do
    alive "$TF_PID" || break
    sleep_until "$(awk -v s="$start" -v i="$i" 'BEGIN { printf "%.3f", s + (i - 1) * 2 }')"
    tray_toggle "Tray: Stopping redirection." "Redirect thread exiting" || true
    sleep 0.3
    tray_toggle "Tray: Starting redirection." "WASAPI: source started" || true
  done
  done_cycles=$(( done_cycles + cycles ))
  window_start=$(awk -v s="$start" -v c="$cycles" 'BEGIN { printf "%.3f", s + c * 2 + 4 }')
  spacing=$(awk -v s="$start" -v w="$window_start" -v b="$bursts" 'BEGIN { printf "%.3f", (s + 60 - w) / (b > 0 ? b : 1) }')
  sleep_until "$window_start"
  first=$(recorded_frames)
  for i in $(seq "$bursts"); do
    alive "$TF_PID" || break
    burst || true
    sleep_until "$(awk -v s="$window_start" -v i="$i" -v g="$spacing" 'BEGIN { printf "%.3f", s + i * g }')"
  done
  done_bursts=$(( done_bursts + bursts ))
  sleep_until "$(awk -v s="$start" 'BEGIN { printf "%.3f", s + 60 }')"
  last=$(recorded_frames)
  alive "$TF_PID" || { CRASHES=$(( CRASHES + 1 )); say "Tonefork is gone in minute $minute"; break; }
  memory+=("$(private_kb)")
  gaps=$(gaps_between "$first" "$last")
  window=$(( (last - first) / RATE ))
  echo "$minute $cycles $bursts $window ${gaps:-n/a} ${memory[-1]}" >>"$WORK/minutes.txt"
  say "minute $minute: $cycles cycles, $bursts bursts, ${gaps:-n/a} gaps in ${window} s, private ${memory[-1]} kB"
done

exit_code=n/a
if alive "$TF_PID"; then
  "$WINE" "$TFCTL" command 1003 >/dev/null 2>&1 || true   # the tray's Exit
  for _ in $(seq 300); do alive "$TF_PID" || break; sleep 0.1; done
  wait "$TF_PID" && exit_code=0 || exit_code=$?
fi
TF_PID=""
grep -q -i "unhandled exception" "$WORK/tf-wine.log" && CRASHES=$(( CRASHES + 1 ))

{
  echo "Soak under Wine $("$WINE" --version 2>/dev/null) and PulseAudio $(pulseaudio --version | awk '{print $2}'), $(nproc) cores:"
  echo "  $MINUTES min routing the monitor of Speakers -> Headphones + HDMI Output (30 ms, hidden in the tray) with a"
  echo "  440 Hz tone playing into Speakers; $done_cycles start/stop cycles from the tray, $done_bursts device-change bursts."
  echo "Crashes: $CRASHES; hangs: $HANGS; exit code after the tray's Exit: $exit_code."
  echo "Started (WASAPI) $(log_count "WASAPI: source started") times, redirect thread ended $(log_count "Redirect thread exiting") times,"
  echo "  device-change reactions $(log_count "WM_TIMER fired for device-change debounce")."
  awk '$5 != "n/a" { g += $5; s += $4 } END { if (s > 0) printf "Gaps: %d in %d s of burst windows = %.1f per minute.\n", g, s, g * 60 / s }' \
    "$WORK/minutes.txt"
  echo "Private memory (kB), at the start and after each minute: ${memory[*]}"
  echo "  after minute 1 ${memory[1]:-n/a}, at the end ${memory[-1]}: growth $(( memory[-1] - ${memory[1]:-${memory[0]}} )) kB"
  echo "minute | cycles | bursts | window s | gaps | private kB"
  awk '{ printf "%6s | %6s | %6s | %8s | %4s | %s\n", $1, $2, $3, $4, $5, $6 }' "$WORK/minutes.txt"
} >"$RESULT"
cat "$RESULT"
[ "$CRASHES" -eq 0 ] && [ "$HANGS" -eq 0 ]
