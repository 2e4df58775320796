#!/usr/bin/env bash
# End-to-end benchmark under Wine and PulseAudio: the delay from "Speakers" to
# "Headphones" and "HDMI Output" while Tonefork routes the monitor of
# Speakers to both, and the CPU time that costs, at buffers of 30, 20 and 10 ms;
# beside it PulseAudio's own module-loopback doing the same route at the same
# latency, and, when E2E_WINE10 names a Wine 10 launcher (with its prefix in
# E2E_WINE10_PREFIX), Tonefork under Wine 10 capturing "Speakers" itself by
# loopback (Wine 8 cannot). Needs the headless desktop of scripts/services.sh
# (DISPLAY, PULSE_SERVER, WINEPREFIX) and a clean HKCU\SOFTWARE\Wavecaster to own.
#
# usage: e2e_latency.sh <dist/Tonefork> <audio_probe> <tfctl.exe> <pulseaudio pid> <results folder>
#
# How the delay is measured: one parec per sink monitor runs for the whole
# benchmark, and the same instant has a different frame index in each
# recording. These offsets are measured with a noise burst played into a
# combine sink of all three sinks, which reaches them at the same moment, at
# the start and after each route, while no route runs (a route would add its
# own copy of the burst, and a combine sink is only in step across sinks of
# equal latency). Each noise burst played into Speakers is then cut out of
# every recording at the same instant and cross-correlated (audio_probe
# --delay). The offsets are not quite constant: a monitor's timeline moves
# by some frames as streams come and go on its sink, more under load. The
# change from one calibration to the next bounds the error of the route
# measured between them; it is printed with the results.
#
# How CPU is measured: utime + stime from /proc/<pid>/stat over an interval
# while a tone plays into Speakers, scaled to seconds per minute. Tonefork
# starts hidden in the tray, so its window draws nothing; its idle cost (the
# same start without routing) is subtracted. PulseAudio's share is its delta
# over a run with only the tone playing.
set -euo pipefail

[ $# -eq 5 ] || { sed -n 9p "$0" | sed 's/^# //' >&2; exit 2; }
DIST=$1 PROBE=$2 TFCTL=$3 PULSE_PID=$4 OUT=$5
WINE=${TONEFORK_WINE:-wine}
WINE8=$WINE PREFIX8=${WINEPREFIX:-}
WINE10=${E2E_WINE10:-} PREFIX10=${E2E_WINE10_PREFIX:-}
WORK="$OUT/e2e-work"
RESULT="$OUT/e2e_latency.txt"
KEY='HKCU\SOFTWARE\Wavecaster'
source "$(dirname "$0")/sound.sh"
FRAME_BYTES=8          # float32, two channels
SINKS=(speakers headphones hdmi)
TARGETS=(headphones hdmi)
BURSTS=${E2E_BENCH_BURSTS:-5}
LATENCIES=(30 20 10)
CPU_SECONDS=${E2E_BENCH_CPU_SECONDS:-20}
CLK_TCK=$(getconf CLK_TCK)

declare -A REC_PID
declare -A OFFSET=([headphones]=0 [hdmi]=0)
TONE_PID="" TF_PID="" LOOPBACK_MODULES=()

log() { printf '[bench] %s\n' "$*" >&2; }

cleanup() {
  local pid
  for pid in "${REC_PID[@]}" $TONE_PID; do kill "$pid" 2>/dev/null || true; done
  [ -n "$TF_PID" ] && kill "$TF_PID" 2>/dev/null || true
  for pid in "${LOOPBACK_MODULES[@]}"; do pactl unload-module "$pid" 2>/dev/null || true; done
  "$WINE" reg delete "$KEY" /f >/dev/null 2>&1 || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

# --- recordings -------------------------------------------------------------

frames_of() { echo $(( $(stat -c %s "$WORK/$1.raw") / FRAME_BYTES )); }

start_recorders() {
  local s
  for s in "${SINKS[@]}"; do
    record_monitor "$s" "$WORK/$s.raw"
    REC_PID[$s]=$SOUND_PID
  done
  for s in "${SINKS[@]}"; do
    for _ in $(seq 100); do [ "$(frames_of "$s")" -gt 0 ] && break; sleep 0.05; done
  done
  sleep 2.5   # the calibration looks up to 2 s back
}

# cut_segment <sink> <first frame> <frames> <out>
cut_segment() {
  dd if="$WORK/$1.raw" of="$4" bs=64K iflag=skip_bytes,count_bytes skip=$(( $2 * FRAME_BYTES )) \
    count=$(( $3 * FRAME_BYTES )) status=none
}

wait_for_frames() {  # <sink> <frame count>
  for _ in $(seq 200); do [ "$(frames_of "$1")" -ge "$2" ] && return 0; sleep 0.05; done
  log "recorder of $1 stalled"; return 1
}

# play_burst <sink>: plays the burst, echoes the Speakers frame index at which
# the segments start (a little before the burst can be heard).
play_burst() {
  local at=$(( $(frames_of speakers) - RATE / 5 ))
  [ "$at" -ge $(( 2 * RATE )) ] || at=$(( 2 * RATE ))
  pacat -d "$1" --format=float32le --rate=$RATE --channels=2 --raw "$WORK/burst.raw"
  echo "$at"
}

# lag_of <ref.raw> <other.raw> <max lag ms>: "<frames> <correlation>" of
# the other recording behind the reference, or "nan 0".
lag_of() {
  local lag
  lag=$("$PROBE" --delay "$1" "$2" --max-lag-ms "$3" 2>/dev/null |
        sed -n 's/.*delay_frames=\(-\{0,1\}[0-9]*\).*correlation=\([0-9.]*\).*/\1 \2/p') || true
  echo "${lag:-nan 0}"
}

# delay_of <target> <speakers frame> <segment frames>: the target's lag
# behind Speakers in frames (recorder offset removed) and the correlation.
delay_of() {
  local t=$1 at=$2 len=$3
  wait_for_frames speakers $(( at + len ))
  wait_for_frames "$t" $(( at + ${OFFSET[$t]} + len ))
  cut_segment speakers "$at" "$len" "$WORK/seg_ref.raw"
  cut_segment "$t" $(( at + ${OFFSET[$t]} )) "$len" "$WORK/seg_$t.raw"
  lag_of "$WORK/seg_ref.raw" "$WORK/seg_$t.raw" 500
}

# offset_of <target> <speakers frame> <window frames>: the target recorder's
# offset from a burst heard by every sink at once, searched within the
# window either side of the last known offset. The offset is the frame index
# of one instant in the target's recording minus the one in Speakers'.
offset_of() {
  local t=$1 at=$2 window=$3 len=$(( RATE * 6 / 5 )) lag corr
  wait_for_frames speakers $(( at + len ))
  wait_for_frames "$t" $(( at + ${OFFSET[$t]} + len + window ))
  cut_segment speakers "$at" "$len" "$WORK/seg_ref.raw"
  cut_segment "$t" $(( at + ${OFFSET[$t]} - window )) $(( len + 2 * window )) "$WORK/seg_$t.raw"
  read -r lag corr < <(lag_of "$WORK/seg_ref.raw" "$WORK/seg_$t.raw" $(( 2 * window * 1000 / RATE )))
  [ "$lag" = nan ] && return 1
  echo $(( ${OFFSET[$t]} + lag - window ))
}

# calibrate <label>: the recorders' offsets, from a burst that reaches all
# three sinks at the same moment (a combine sink of the three; with no route
# running, so nothing else copies it). One line in calibrations.txt.
calibrate() {
  local module at t line=""
  module=$(pactl load-module module-combine-sink sink_name=tf_bench_all slaves=speakers,headphones,hdmi)
  sleep 0.5
  at=$(play_burst tf_bench_all)
  pactl unload-module "$module"
  for t in "${TARGETS[@]}"; do
    # Wide enough for recorders that started up to 2 s apart.
    OFFSET[$t]=$(offset_of "$t" "$at" $(( 2 * RATE ))) ||
      { log "calibration failed for $t"; return 1; }
    line+="$t=${OFFSET[$t]} "
  done
  printf '%-30s %s\n' "$1:" "$line" >>"$WORK/calibrations.txt"
}

# measure_delays <label>: BURSTS bursts into Speakers; appends one line per
# target with every delay in ms, and echoes "median min max" per target.
measure_delays() {
  local label=$1 i t at lag corr apart
  declare -A list
  for i in $(seq "$BURSTS"); do
    at=$(play_burst speakers)
    sleep 0.8
    apart=""
    for t in "${TARGETS[@]}"; do
      read -r lag corr < <(delay_of "$t" "$at" $(( RATE * 6 / 5 )))
      [ "$lag" = nan ] && continue
      list[$t]+="$(awk -v f="$lag" -v r=$RATE 'BEGIN { printf "%.2f", f * 1000 / r }')/$corr "
      apart+="$lag "
    done
    # Two targets of equal latency must play in step: heard apart by a
    # period, they make an echo in one room.
    read -r lag corr <<<"$apart"
    [ -n "$corr" ] && awk -v a="$lag" -v b="$corr" -v r=$RATE 'BEGIN { printf "%.2f\n", (b - a) * 1000 / r }' \
      >>"$WORK/apart-$label.txt"
  done
  for t in "${TARGETS[@]}"; do
    echo "$label $t: ${list[$t]}" >>"$WORK/delays.txt"
    printf '%s ' "$(echo "${list[$t]}" | tr ' ' '\n' | sed '/^$/d' | cut -d/ -f1 | sort -g |
      awk '{ v[NR] = $1 } END { if (NR == 0) { print "n/a n/a n/a"; exit }
             m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.1f %.1f %.1f", m, v[1], v[NR] }')"
  done
  echo
}

# --- CPU ----------------------------------------------------------------------

# running <pid>: the process exists and has not ended (a child that ended
# stays a zombie until it is waited for).
running() {
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  stat=${stat##*) }
  [ "${stat%% *}" != Z ]
}

cpu_ticks() {  # utime + stime of one process
  local stat
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || { echo 0; return; }
  stat=${stat##*) }
  echo "$stat" | awk '{ print $12 + $13 }'
}

wineserver_pid() {
  local p
  for p in /proc/[0-9]*; do
    case "$(cat "$p/comm" 2>/dev/null)" in wineserver*) ;; *) continue ;; esac
    tr '\0' '\n' <"$p/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX" && { echo "${p#/proc/}"; return; }
  done
  echo ""
}

start_tone() {
  play_raw speakers "$WORK/tone.raw"
  TONE_PID=$SOUND_PID
  sleep 1
}

stop_tone() { kill "$TONE_PID" 2>/dev/null || true; wait "$TONE_PID" 2>/dev/null || true; TONE_PID=""; }

# cpu_per_minute <pid>...: CPU seconds per minute of each pid over
# CPU_SECONDS, with the tone playing. The Headphones frames of the interval
# are kept for gaps_per_minute.
cpu_per_minute() {
  local before=() after=() i
  start_tone
  for i in "$@"; do before+=("$(cpu_ticks "$i")"); done
  echo "$(frames_of headphones)" >"$WORK/interval"
  sleep "$CPU_SECONDS"
  for i in "$@"; do after+=("$(cpu_ticks "$i")"); done
  echo "$(frames_of headphones)" >>"$WORK/interval"
  stop_tone
  for i in "${!before[@]}"; do
    awk -v d=$(( after[i] - before[i] )) -v hz="$CLK_TCK" -v s="$CPU_SECONDS" 'BEGIN { printf "%.2f ", d / hz * 60 / s }'
  done
  echo
}

# Discontinuities per minute of the tone heard on Headphones during the last
# cpu_per_minute (audio_probe's count: dropped, repeated or inserted frames;
# a resampler changing its ratio counts too).
gaps_per_minute() {
  local from to count
  { read -r from; read -r to; } <"$WORK/interval"
  cut_segment headphones "$from" $(( to - from )) "$WORK/interval.raw"
  count=$("$PROBE" "$WORK/interval.raw" --threshold 0.01 | sed -n 's/.*discontinuities=\(-\{0,1\}[0-9]*\).*/\1/p')
  awk -v n="${count:--1}" -v s="$CPU_SECONDS" 'BEGIN { if (n < 0) print "n/a"; else printf "%.0f", n * 60 / s }'
}

# --- Tonefork -----------------------------------------------------------------

MONITOR_SOURCE='{"dataFlow":1,"eguid":"","eid":"","ff":0,"isDefault":false,"name":"Monitor of Speakers"}'
LOOPBACK_SOURCE='{"dataFlow":0,"eguid":"","eid":"","ff":0,"isDefault":false,"name":"Speakers"}'

# use_wine <wine> <prefix>: the Wine that runs Tonefork from here on.
use_wine() {
  WINE=$1
  export WINEPREFIX=$2
  WINESERVER_PID=$(wineserver_pid)
}

seed_tonefork() {  # <bufferMs> <start redirecting 0|1> [source]
  "$WINE" reg delete "$KEY" /f >/dev/null 2>&1 || true
  local name value
  for name in "StartRedirectingOnStartup=$2" "Volume=50" "BufferMs=$1" "MinimizeToTray=1"; do
    "$WINE" reg add "$KEY" /v "${name%%=*}" /t REG_DWORD /d "${name#*=}" /f >/dev/null
  done
  "$WINE" reg add "$KEY" /v SelectedSource /t REG_SZ /d "${3:-$MONITOR_SOURCE}" /f >/dev/null
  value='[{"eguid":"","eid":"","ff":0,"name":"Headphones"},{"eguid":"","eid":"","ff":0,"name":"HDMI Output"}]'
  "$WINE" reg add "$KEY" /v SelectedTargets /t REG_SZ /d "$value" /f >/dev/null
}

start_tonefork() {  # <needle in log.txt>
  rm -rf "$WORK/tf" && cp -r "$DIST" "$WORK/tf"
  "$WINE" "$WORK/tf/Tonefork.exe" >"$WORK/tf-wine.log" 2>&1 &
  TF_PID=$!
  for _ in $(seq 600); do
    grep -q "$1" "$WORK/tf/log.txt" 2>/dev/null && { sleep 1; return 0; }
    sleep 0.1
  done
  log "Tonefork did not log '$1'"; return 1
}

stop_tonefork() {
  "$WINE" "$TFCTL" command 1003 >/dev/null 2>&1 || true   # the tray's Exit
  for _ in $(seq 300); do running "$TF_PID" || break; sleep 0.1; done
  kill "$TF_PID" 2>/dev/null || true
  wait "$TF_PID" 2>/dev/null || true
  TF_PID=""
  "$WINE" "$TFCTL" wait-gone 15000 >/dev/null 2>&1 || true
}

# tonefork_idle: IDLE="<Tonefork> <wineserver> <PulseAudio>", CPU s/min of
# Tonefork started in the tray without routing, under the current Wine.
tonefork_idle() {
  seed_tonefork 30 0
  start_tonefork "System tray icon added."
  [ -z "$WINESERVER_PID" ] && WINESERVER_PID=$(wineserver_pid)
  IDLE=$(cpu_per_minute "$TF_PID" "${WINESERVER_PID:-0}" "$PULSE_PID")
  stop_tonefork
}

# tonefork_route <row> <bufferMs> <source> <label>: one route of Tonefork
# under the current Wine into ROW[<row>].
tonefork_route() {
  local h_med h_min h_max d_med d_min d_max tf_cpu ws_cpu pulse_cpu gaps
  log "$4 at $2 ms"
  seed_tonefork "$2" 1 "$3"
  start_tonefork "WASAPI: source started"
  read -r h_med h_min h_max d_med d_min d_max < <(measure_delays "$1")
  read -r tf_cpu ws_cpu pulse_cpu < <(cpu_per_minute "$TF_PID" "${WINESERVER_PID:-0}" "$PULSE_PID")
  gaps=$(gaps_per_minute)
  stop_tonefork
  calibrate "after $4 $2 ms"
  ROW[$1]="$h_med $h_min $h_max $d_med $d_min $d_max $gaps $tf_cpu $ws_cpu $pulse_cpu"
}

# --- the report ---------------------------------------------------------------

minus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a - b }'; }

# table_row <label> <6 delay figures> <gaps> <Tonefork> <wineserver> <PulseAudio>
table_row() {
  local total
  total=$(echo "$9 ${10} ${11}" | awk '{ t = 0; for (i = 1; i <= NF; ++i) if ($i != "-") t += $i; printf "%.2f", t }')
  printf '%-22s | %-20s | %-20s | %8s | %8s | %10s | %10s | %s\n' "$1" "$2 ($3..$4)" "$5 ($6..$7)" "$8" "$9" "${10}" \
    "${11}" "$total"
}

# tonefork_row <label> <row> <idle Tonefork> <idle wineserver>
tonefork_row() {
  local h_med h_min h_max d_med d_min d_max gaps tf_cpu ws_cpu pulse_cpu
  read -r h_med h_min h_max d_med d_min d_max gaps tf_cpu ws_cpu pulse_cpu <<<"${ROW[$2]}"
  table_row "$1" "$h_med" "$h_min" "$h_max" "$d_med" "$d_min" "$d_max" "$gaps" \
    "$(minus "$tf_cpu" "$3")" "$(minus "$ws_cpu" "$4")" "$(minus "$pulse_cpu" "$pulse_base")"
}

# --- the run ------------------------------------------------------------------

rm -rf "$WORK" && mkdir -p "$WORK"
"$PROBE" --generate-noise "$WORK/burst.raw" --amp 0.3 --seconds 0.25 --seed 11 >/dev/null
"$PROBE" --generate-sine "$WORK/tone.raw" --freq 440 --amp 0.5 --seconds $(( CPU_SECONDS + 10 )) >/dev/null
"$WINE" reg delete "$KEY" /f >/dev/null 2>&1 || true

log "recorders"
start_recorders
calibrate "at the start"

WINESERVER_PID=$(wineserver_pid)
log "baseline: the tone alone"
read -r pulse_base _ < <(cpu_per_minute "$PULSE_PID")
log "baseline: Tonefork idle in the tray"
tonefork_idle
read -r tf_idle ws_idle pulse_tf_idle <<<"$IDLE"

declare -A ROW
for ms in "${LATENCIES[@]}"; do
  tonefork_route "tonefork-${ms}ms" "$ms" "$MONITOR_SOURCE" "Tonefork"

  log "module-loopback at ${ms} ms"
  for t in "${TARGETS[@]}"; do
    LOOPBACK_MODULES+=("$(pactl load-module module-loopback source=speakers.monitor sink="$t" latency_msec="$ms" \
      source_dont_move=true sink_dont_move=true)")
  done
  sleep 3   # the loopback settles its latency first
  read -r h_med h_min h_max d_med d_min d_max < <(measure_delays "loopback-${ms}ms")
  read -r pulse_cpu _ < <(cpu_per_minute "$PULSE_PID")
  gaps=$(gaps_per_minute)
  for t in "${LOOPBACK_MODULES[@]}"; do pactl unload-module "$t"; done
  LOOPBACK_MODULES=()
  calibrate "after module-loopback ${ms} ms"
  ROW[lb$ms]="$h_med $h_min $h_max $d_med $d_min $d_max $gaps $pulse_cpu"
done

wine10_note="not measured: ${E2E_WINE10_SKIPPED:-no Wine 10 given}"
if [ -n "$WINE10" ]; then
  use_wine "$WINE10" "$PREFIX10"
  "$WINE" reg delete "$KEY" /f >/dev/null 2>&1 || true
  log "baseline: Tonefork idle in the tray under Wine 10"
  tonefork_idle
  read -r tf10_idle ws10_idle _ <<<"$IDLE"
  for ms in "${LATENCIES[@]}"; do
    tonefork_route "wine10-loopback-${ms}ms" "$ms" "$LOOPBACK_SOURCE" "Wine 10 loopback"
  done
  "$WINE" reg delete "$KEY" /f >/dev/null 2>&1 || true
  wine10_note="$("$WINE" --version 2>/dev/null); Tonefork in the tray $tf10_idle, wineserver then $ws10_idle"
  use_wine "$WINE8" "$PREFIX8"
fi

{
  echo "End-to-end routing under Wine $("$WINE" --version 2>/dev/null) and PulseAudio $(pulseaudio --version | awk '{print $2}'), $(nproc) cores, load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
  echo "Route: the monitor of Speakers -> Headphones + HDMI Output (Tonefork: volume 50 %, hidden in the tray;"
  echo "  PulseAudio: two module-loopback from speakers.monitor). Delay: $BURSTS noise bursts each, median (min..max) in ms."
  echo "  Wine 10 loopback: Tonefork under Wine 10 with \"[Playback] Speakers\" as the source, captured by loopback."
  echo "CPU: seconds of CPU per minute over ${CPU_SECONDS} s with a tone playing into Speakers. Tonefork's own figure has its"
  echo "  idle cost in the tray (under the same Wine) subtracted; PulseAudio's has its cost with the tone alone subtracted."
  echo "  One clock tick is $(awk -v hz="$CLK_TCK" -v s="$CPU_SECONDS" 'BEGIN { printf "%.2f", 60 / s / hz }') s/min, so differences that small are noise."
  echo "Gaps: discontinuities per minute in the tone heard on Headphones over that interval (frames dropped,"
  echo "  repeated or inserted; module-loopback's adaptive resampling changing its rate counts as well)."
  echo "Recorder offsets (frames; the change across a route bounds the error of its delays, 48 frames = 1 ms):"
  sed 's/^/  /' "$WORK/calibrations.txt"
  echo
  printf '%-22s | %-20s | %-20s | %8s | %8s | %10s | %10s | %s\n' route "to headphones, ms" "to hdmi, ms" \
    "gaps/min" Tonefork wineserver PulseAudio "CPU s/min"
  for ms in "${LATENCIES[@]}"; do
    tonefork_row "Tonefork $ms ms" "tonefork-${ms}ms" "$tf_idle" "$ws_idle"
    [ -n "$WINE10" ] && tonefork_row "Wine 10 loopback $ms ms" "wine10-loopback-${ms}ms" "$tf10_idle" "$ws10_idle"
    read -r h_med h_min h_max d_med d_min d_max gaps pulse_cpu <<<"${ROW[lb$ms]}"
    table_row "module-loopback $ms ms" "$h_med" "$h_min" "$h_max" "$d_med" "$d_min" "$d_max" "$gaps" \
      - - "$(minus "$pulse_cpu" "$pulse_base")"
  done
  echo
  echo "Idle and baseline figures (CPU s/min): Tonefork in the tray $tf_idle, wineserver then $ws_idle,"
  echo "  PulseAudio with the tone alone $pulse_base, with idle Tonefork $pulse_tf_idle."
  echo "Wine 10: $wine10_note."
  echo "Targets in step: HDMI Output's delay less Headphones' for each burst, median (min..max) in ms:"
  for f in "$WORK"/apart-*.txt; do
    [ -e "$f" ] || continue
    printf '  %-26s %s\n' "$(basename "$f" .txt | sed 's/^apart-//')" "$(sort -g "$f" |
      awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
             printf "%.1f (%.1f..%.1f), %d bursts", m, v[1], v[NR], NR }')"
  done
  echo "Every delay (ms/correlation):"
  sed 's/^/  /' "$WORK/delays.txt"
} >"$RESULT"
cat "$RESULT"
