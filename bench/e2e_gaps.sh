#!/usr/bin/env bash
# What a listener hears go wrong on a route, under Wine and PulseAudio: a
# steady tone played into "Speakers", routed from its monitor to
# "Headphones" and "HDMI Output" for a minute, and counted on each target as
# inserted silences and as dropped (or repeated) frames. At buffers of 30, 20
# and 10 ms; Tonefork hidden in the tray, with its window shown (under Xvfb
# the window is drawn by the processor), and hidden while a busy loop holds
# one core; beside it PulseAudio's module-loopback at the same latency, alone
# and beside the busy loop. Then, per buffer, the first seconds after a start:
# no silence may follow the first packet heard. Last, at the shortest buffer,
# device-change reactions 500 ms apart while the tone plays: the longest
# silence each target hears. The sinks run at TONEFORK_SINK_RATE (48000).
#
# usage: e2e_gaps.sh <dist/Tonefork> <audio_probe> <tfctl.exe> <results folder>
# E2E_GAPS_SECONDS (60), E2E_GAPS_LATENCIES ("30 20 10"), E2E_GAPS_STARTS
# (3, starts per buffer), E2E_GAPS_REACTIONS (30), E2E_GAPS_CONDITIONS
# ("hidden visible busy") and E2E_GAPS_LOOPBACK ("alone busy") shorten it.
# Needs the headless desktop of scripts/services.sh and owns HKCU\SOFTWARE\Wavecaster.
set -euo pipefail

[ $# -eq 4 ] || { sed -n 15,18p "$0" | sed 's/^# //' >&2; exit 2; }
DIST=$1 PROBE=$2 TFCTL=$3 OUT=$4
WINE=${TONEFORK_WINE:-wine}
WORK="$OUT/gaps-work"
RESULT="$OUT/e2e_gaps.txt"
KEY='HKCU\SOFTWARE\Wavecaster'
source "$(dirname "$0")/sound.sh"
SECONDS_PER_RUN=${E2E_GAPS_SECONDS:-60}
# A start is over in a moment and goes wrong rarely: it is tried more than once.
STARTS=${E2E_GAPS_STARTS:-3}
REACTIONS=${E2E_GAPS_REACTIONS:-30}
read -r -a CONDITIONS <<<"${E2E_GAPS_CONDITIONS:-hidden visible busy}"
read -r -a LOOPBACK_CONDITIONS <<<"${E2E_GAPS_LOOPBACK:-alone busy}"
TARGETS=(headphones hdmi)
# What was played into Speakers is recorded from its monitor too: a gap
# there (the player starved of the processor) is heard on every target and
# is none of the route's doing.
RECORDED=("${TARGETS[@]}" speakers)
read -r -a LATENCIES <<<"${E2E_GAPS_LATENCIES:-30 20 10}"
MONITOR_SOURCE='{"dataFlow":1,"eguid":"","eid":"","ff":0,"isDefault":false,"name":"Monitor of Speakers"}'
BOTH_TARGETS='[{"eguid":"","eid":"","ff":0,"name":"Headphones"},{"eguid":"","eid":"","ff":0,"name":"HDMI Output"}]'

TF_PID="" HOG_PID="" TONE_PID="" MODULES=()
declare -A REC_PID

log() { printf '[gaps] %s\n' "$*" >&2; }

cleanup() {
  local pid
  for pid in "${REC_PID[@]}" $TONE_PID $HOG_PID $TF_PID; do kill "$pid" 2>/dev/null || true; done
  for pid in "${MODULES[@]}"; do pactl unload-module "$pid" 2>/dev/null || true; done
  "$WINE" reg delete "$KEY" /f >/dev/null 2>&1 || true
  wait 2>/dev/null || true
}
trap cleanup EXIT

# --- sound --------------------------------------------------------------------

start_recorders() {  # <run folder>
  local t
  for t in "${RECORDED[@]}"; do
    record_monitor "$t" "$1/$t.raw"
    REC_PID[$t]=$SOUND_PID
  done
  sleep 1
}

stop_recorders() {
  local t
  for t in "${RECORDED[@]}"; do kill "${REC_PID[$t]}" 2>/dev/null || true; wait "${REC_PID[$t]}" 2>/dev/null || true; done
  REC_PID=()
}

# PLAYER=default plays the tone with pacat's own two seconds ahead.
start_tone() {
  local buffering=()
  [ "${PLAYER:-}" = default ] && buffering=(--latency-msec=2000)
  play_raw speakers "$WORK/tone.raw" "${buffering[@]}"
  TONE_PID=$SOUND_PID
}

stop_tone() { kill "$TONE_PID" 2>/dev/null || true; wait "$TONE_PID" 2>/dev/null || true; TONE_PID=""; }

# One core busy for as long as a run lasts.
start_hog() {
  timeout $(( SECONDS_PER_RUN + 30 )) sh -c 'while :; do :; done' &
  HOG_PID=$!
}

stop_hog() { [ -n "$HOG_PID" ] && { kill "$HOG_PID" 2>/dev/null || true; wait "$HOG_PID" 2>/dev/null || true; }; HOG_PID=""; }

# "silences dropped longest-silence-ms" of one recording: the tone from half
# a second after it is first heard to a tenth of a second before it is last
# heard.
judge() {  # <raw file> [skip seconds]
  local skip=${2:-0.5} line
  line=$("$PROBE" "$1" --threshold 0.01 2>/dev/null) || { echo "n/a n/a n/a"; return; }
  local first heard
  first=$(probe_field first_signal_frame "$line")
  heard=$(probe_field signal_frames "$line")
  [ "${first:--1}" -ge 0 ] || { echo "n/a n/a n/a"; return; }
  local from=$(( first + $(awk -v s="$skip" -v r=$RATE 'BEGIN { printf "%d", s * r }') ))
  local count=$(( first + heard - from - RATE / 10 ))
  [ "$count" -gt $RATE ] || { echo "n/a n/a n/a"; return; }
  dd if="$1" of="$1.steady" bs=64K iflag=skip_bytes,count_bytes skip=$(( from * 8 )) count=$(( count * 8 )) status=none
  line=$("$PROBE" "$1.steady" --threshold 0.01)
  # The probe counts time at 48 kHz; the recording is at the sinks' rate.
  echo "$(probe_field silences "$line") $(probe_field dropped "$line")" \
    "$(awk -v ms="$(probe_field longest_silence_ms "$line")" -v r=$RATE 'BEGIN { printf "%.1f", ms * 48000 / r }')"
}

probe_field() {  # <name> <probe line>
  sed -n "s/.* $1=\(-\{0,1\}[0-9.]*\).*/\1/p; s/^$1=\(-\{0,1\}[0-9.]*\).*/\1/p" <<<"$2" | head -n 1
}

# Frames the frame count left out on each target, summed over the lines
# Tonefork writes as a target closes.
left_out() {  # <log file>
  local name out=""
  for name in "Headphones" "HDMI Output"; do
    out+="$(sed -n "s/.*Delivery: '$name' ran dry.* left out \([0-9]*\) frames.*/\1/p" "$1" 2>/dev/null |
      awk '{ s += $1 } END { print s + 0 }') "
  done
  echo "${out% }"
}

# --- Tonefork -----------------------------------------------------------------

seed_tonefork() {  # <bufferMs> <hidden in the tray 0|1>
  "$WINE" reg delete "$KEY" /f >/dev/null 2>&1 || true
  local name
  for name in "StartRedirectingOnStartup=1" "Volume=50" "BufferMs=$1" "MinimizeToTray=$2"; do
    "$WINE" reg add "$KEY" /v "${name%%=*}" /t REG_DWORD /d "${name#*=}" /f >/dev/null
  done
  "$WINE" reg add "$KEY" /v SelectedSource /t REG_SZ /d "$MONITOR_SOURCE" /f >/dev/null
  "$WINE" reg add "$KEY" /v SelectedTargets /t REG_SZ /d "$BOTH_TARGETS" /f >/dev/null
}

start_tonefork() {
  rm -rf "$WORK/tf" && cp -r "$DIST" "$WORK/tf"
  "$WINE" "$WORK/tf/Tonefork.exe" >"$WORK/tf-wine.log" 2>&1 &
  TF_PID=$!
  for _ in $(seq 600); do
    grep -q "WASAPI: source started" "$WORK/tf/log.txt" 2>/dev/null && return 0
    sleep 0.1
  done
  log "Tonefork did not start routing"; return 1
}

stop_tonefork() {
  "$WINE" "$TFCTL" command 1003 >/dev/null 2>&1 || true   # the tray's Exit
  for _ in $(seq 300); do kill -0 "$TF_PID" 2>/dev/null || break; sleep 0.1; done
  kill "$TF_PID" 2>/dev/null || true
  wait "$TF_PID" 2>/dev/null || true
  TF_PID=""
  "$WINE" "$TFCTL" wait-gone 15000 >/dev/null 2>&1 || true
}

# One minute of the tone through a running route, judged on every target;
# the figures are left in FIGURES.
record_run() {  # <run name>
  local dir="$WORK/$1" t
  mkdir -p "$dir"
  start_recorders "$dir"
  start_tone
  sleep "$SECONDS_PER_RUN"
  stop_tone
  sleep 0.3
  stop_recorders
  FIGURES=""
  for t in "${RECORDED[@]}"; do FIGURES+="$(judge "$dir/$t.raw" | cut -d' ' -f1-2) "; done
}

tonefork_run() {  # <bufferMs> <condition: hidden|visible|busy>
  local hidden=1
  [ "$2" = visible ] && hidden=0
  seed_tonefork "$1" "$hidden"
  start_tonefork
  sleep 2
  [ "$2" = busy ] && start_hog
  record_run "tonefork-$1ms-$2"
  stop_hog
  stop_tonefork
  cp "$WORK/tf/log.txt" "$WORK/tonefork-$1ms-$2/" 2>/dev/null || true
  FIGURES+="$(left_out "$WORK/tonefork-$1ms-$2/log.txt")"
}

loopback_run() {  # <bufferMs> <condition: alone|busy>
  local t
  for t in "${TARGETS[@]}"; do
    MODULES+=("$(pactl load-module module-loopback source=speakers.monitor sink="$t" latency_msec="$1" \
      source_dont_move=true sink_dont_move=true)")
  done
  sleep 3
  [ "$2" = busy ] && start_hog
  record_run "loopback-$1ms-$2"
  stop_hog
  for t in "${MODULES[@]}"; do pactl unload-module "$t"; done
  MODULES=()
}

# The first seconds of a route: recorders and tone first, then Tonefork
# starts routing; judged from the first sound heard on, silences only.
first_audio_run() {  # <bufferMs> <start number>
  local dir="$WORK/start-$1ms-$2" t
  mkdir -p "$dir"
  seed_tonefork "$1" 1
  start_recorders "$dir"
  start_tone
  start_tonefork
  sleep 4
  stop_tonefork
  stop_tone
  stop_recorders
  cp "$WORK/tf/log.txt" "$dir/" 2>/dev/null || true
  FIGURES=""
  for t in "${TARGETS[@]}"; do FIGURES+="$(judge "$dir/$t.raw" 0 | cut -d' ' -f1) "; done
  FIGURES=${FIGURES% }
}

# Device-change reactions while the route plays: each message is one refresh
# of the lists once the debounce has passed, as a burst of endpoint events
# makes on a real machine. Judged by the longest silence on each target.
reactions_run() {  # <bufferMs>
  local dir="$WORK/reactions-$1ms" t
  mkdir -p "$dir"
  seed_tonefork "$1" 1
  start_tonefork
  start_recorders "$dir"
  start_tone
  sleep 3
  "$WINE" "$TFCTL" post 0x8064 0 0 "$REACTIONS" 500 >/dev/null 2>&1 || true
  sleep 2
  stop_tone
  sleep 0.3
  stop_recorders
  stop_tonefork
  cp "$WORK/tf/log.txt" "$dir/" 2>/dev/null || true
  REACTED=$(grep -c "WM_TIMER fired for device-change debounce" "$dir/log.txt" 2>/dev/null || true)
  FIGURES=""
  for t in "${RECORDED[@]}"; do FIGURES+="$(judge "$dir/$t.raw" | cut -d' ' -f3) "; done
}

# --- the run ------------------------------------------------------------------

rm -rf "$WORK" && mkdir -p "$WORK"
"$PROBE" --generate-sine "$WORK/tone.raw" --freq 440 --amp 0.5 --seconds $(( SECONDS_PER_RUN + 30 )) >/dev/null

declare -A ROW
FIGURES=""
for ms in "${LATENCIES[@]}"; do
  for condition in "${CONDITIONS[@]}"; do
    log "Tonefork at $ms ms, $condition"
    tonefork_run "$ms" "$condition"
    ROW[tf-$ms-$condition]=$FIGURES
  done
  for condition in "${LOOPBACK_CONDITIONS[@]}"; do
    log "module-loopback at $ms ms, $condition"
    loopback_run "$ms" "$condition"
    ROW[lb-$ms-$condition]=$FIGURES
  done
  ROW[start-$ms]=""
  for n in $(seq "$STARTS"); do
    log "first audio at $ms ms, start $n"
    first_audio_run "$ms" "$n"
    ROW[start-$ms]+="${ROW[start-$ms]:+, }$FIGURES"
  done
done

SHORTEST=$(printf '%s\n' "${LATENCIES[@]}" | sort -n | head -n 1)
log "device-change reactions at $SHORTEST ms"
reactions_run "$SHORTEST"

row() {  # <label> <figures: silences dropped per target, then in what was played, then left out per target>
  local hs hd ds dd ss sd hl dl
  read -r hs hd ds dd ss sd hl dl <<<"$2"
  printf '%-34s | %8s %8s | %8s %8s | %8s %8s | %9s %9s\n' "$1" "$hs" "$hd" "$ds" "$dd" "$ss" "$sd" "${hl:--}" "${dl:--}"
}

{
  echo "Gaps heard on a route under Wine $("$WINE" --version 2>/dev/null) and PulseAudio $(pulseaudio --version | awk '{print $2}'), $(nproc) cores, sinks at ${TONEFORK_SINK_RATE:-48000} Hz."
  echo "A 440 Hz tone played into Speakers for ${SECONDS_PER_RUN} s, routed from its monitor to Headphones and HDMI Output"
  echo "  (Tonefork: volume 50 %; module-loopback: one per target). Counted on each target from half a second after"
  echo "  the tone is first heard: silences = runs of at least half a millisecond without sound inside the tone;"
  echo "  dropped = discontinuities with no silence beside them (frames dropped or repeated)."
  echo "  busy: a shell loop holds one of the cores for the whole run."
  echo "  played: the same count on Speakers' monitor, what went into the route; a gap there is heard on every"
  echo "  target and is the player's (starved of the processor), not the route's."
  echo "  left out: frames Tonefork's frame count left out on each target, from its log."
  echo
  printf '%-34s | %17s | %17s | %17s | %19s\n' route headphones "hdmi" played "left out"
  printf '%-34s | %8s %8s | %8s %8s | %8s %8s | %9s %9s\n' "" silences dropped silences dropped silences dropped headphones hdmi
  for ms in "${LATENCIES[@]}"; do
    for condition in "${CONDITIONS[@]}"; do row "Tonefork $ms ms, $condition" "${ROW[tf-$ms-$condition]}"; done
    for condition in "${LOOPBACK_CONDITIONS[@]}"; do row "module-loopback $ms ms, $condition" "${ROW[lb-$ms-$condition]}"; done
  done
  echo
  echo "First audio after Start (silences after the first sound heard, in the first seconds; headphones hdmi, for each of $STARTS starts):"
  for ms in "${LATENCIES[@]}"; do echo "  $ms ms: ${ROW[start-$ms]}"; done
  read -r lh ld lp <<<"$FIGURES"
  echo "Device-change reactions at $SHORTEST ms: $REACTED of $REACTIONS messages 500 ms apart reacted to; longest silence (ms)"
  echo "  headphones $lh, hdmi $ld, played $lp"
  echo "Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
} >"$RESULT"
cat "$RESULT"
