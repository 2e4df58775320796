#!/usr/bin/env bash
# ./dev run / ./dev stop: Tonefork under Wine. On a desktop with a display and
# a sound server those are used; on a headless machine a virtual display and a
# private PulseAudio server with null sinks named like real devices stand in,
# and a quiet test tone plays into "Speakers".
set -euo pipefail
source "$(dirname "$0")/common.sh"
source "$TF_ROOT/scripts/services.sh"

RUN_DIR="$TF_BUILD/dev-run"

stop() {
  [ -d "$RUN_DIR" ] || { say "nothing is running"; return 0; }
  TF_RUN="$RUN_DIR"
  # The run's own prefix, whatever WINEPREFIX the shell has.
  export WINEPREFIX="$RUN_DIR/prefix"
  [ -f "$RUN_DIR/env" ] && source "$RUN_DIR/env"
  if tf_recorded_pid "$RUN_DIR/tonefork.pid" >/dev/null; then
    # Quit the way the tray menu does, so the log ends with the shutdown lines.
    "$TF_WINE" "$TF_BUILD/mingw/tfctl.exe" command 1003 >/dev/null 2>&1 || true
    for _ in $(seq 150); do tf_recorded_pid "$RUN_DIR/tonefork.pid" >/dev/null || break; sleep 0.1; done
  fi
  tf_services_stop
  say "stopped; the log stays at $TF_DIST/log.txt"
}

start() {
  tf_recorded_pid "$RUN_DIR/tonefork.pid" >/dev/null && die "already running; ./dev stop first"
  # What a run that ended without ./dev stop left behind is stopped first.
  if [ -d "$RUN_DIR" ]; then (TF_RUN="$RUN_DIR" && tf_services_stop); fi
  rm -rf "$RUN_DIR" && mkdir -p "$RUN_DIR"
  tf_services_init "$RUN_DIR"
  trap 'tf_services_stop' ERR
  local headless=0
  if [ -z "${DISPLAY:-}" ]; then headless=1; tf_start_xvfb; fi
  if ! pactl info >/dev/null 2>&1 || [ $headless -eq 1 ]; then
    headless=1
    tf_start_pulse
    sox -q -n -t raw -r 48000 -e floating-point -b 32 -c 2 - synth 3600 sine 440 vol 0.1 2>/dev/null |
      pacat -d speakers --format=float32le --rate=48000 --channels=2 --raw >/dev/null 2>&1 &
    tf_record_pid "$RUN_DIR/tone.pid" $!
  fi
  # Always a prefix of its own: a WINEPREFIX of the shell may be the
  # developer's, with programs of theirs running in it.
  tf_prepare_wineprefix "$RUN_DIR/prefix"
  declare -p DISPLAY PULSE_SERVER PULSE_RUNTIME_PATH XDG_RUNTIME_DIR WINEPREFIX WINEDEBUG 2>/dev/null |
    sed 's/^declare -x /export /' >"$RUN_DIR/env"
  (cd "$TF_DIST" && exec "$TF_WINE" ./Tonefork.exe >"$RUN_DIR/wine-output.txt" 2>&1) &
  tf_record_pid "$RUN_DIR/tonefork.pid" $!
  "$TF_WINE" "$TF_BUILD/mingw/tfctl.exe" info 30000 >/dev/null 2>&1 || say "window not seen yet"
  cat <<TXT
Tonefork is running under Wine (display $DISPLAY).
  log:        $TF_DIST/log.txt
  screenshot: DISPLAY=$DISPLAY import -window root /tmp/tonefork.png
  stop:       ./dev stop
TXT
}

case "${1:-start}" in
  start) start ;;
  stop) stop ;;
  *) die "usage: run.sh start|stop" ;;
esac
