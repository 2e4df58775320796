# The headless desktop the Windows program runs on: a virtual X display, a
# private PulseAudio server whose null sinks are the audio endpoints, and a
# Wine prefix. Sourced by ./dev; every process started here is stopped by its
# pid file (tf_services_stop), never by name, and a Wine prefix only when it
# was made here.
# shellcheck shell=bash

# How Wine is launched, in one place: a later tier may point these at another
# Wine (for example one inside a chroot) without touching the tests.
TF_WINE=${TONEFORK_WINE:-wine}
TF_WINEBOOT=${TONEFORK_WINEBOOT:-wineboot}
TF_WINESERVER=${TONEFORK_WINESERVER:-wineserver}

# The sinks stand in for the playback devices of a real machine.
TF_SINKS=("speakers:Speakers" "headphones:Headphones" "hdmi:HDMI Output")
# Their rate is the devices' rate Wine reports (TONEFORK_SINK_RATE: 44100,
# 48000 or 96000, as users' devices run).
TF_SINK_RATE=${TONEFORK_SINK_RATE:-48000}
case "$TF_SINK_RATE" in 44100|48000|96000) ;; *) echo "TONEFORK_SINK_RATE: 44100, 48000 or 96000" >&2; exit 2 ;; esac

tf_services_init() {  # $1: state folder of this run
  TF_RUN="$1"
  mkdir -p "$TF_RUN"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  export TONEFORK_WINE="$TF_WINE"
}

tf_start_xvfb() {
  local n
  for n in $(seq 90 130); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1600x1000x24 -nolisten tcp >"$TF_RUN/xvfb.log" 2>&1 &
    tf_record_pid "$TF_RUN/xvfb.pid" $!
    export DISPLAY=":$n"
    for _ in $(seq 50); do
      [ -e "/tmp/.X11-unix/X$n" ] && return 0
      sleep 0.1
    done
  done
  die "could not start Xvfb"
}

# From here on every PulseAudio client of this shell (Wine included) talks to
# the private server, not to a desktop's own.
tf_start_pulse() {
  export XDG_RUNTIME_DIR="$TF_RUN/xdg"
  mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
  export PULSE_SERVER="unix:$TF_RUN/pulse/native"
  export PULSE_RUNTIME_PATH="$TF_RUN/pulse"
  export PULSE_STATE_PATH="$TF_RUN/pulse"
  mkdir -p "$TF_RUN/pulse"
  local pa="$TF_RUN/pulse/default.pa" entry
  {
    echo "load-module module-native-protocol-unix auth-anonymous=1 socket=$TF_RUN/pulse/native"
    for entry in "${TF_SINKS[@]}"; do
      printf 'load-module module-null-sink sink_name=%s rate=%s channels=2 sink_properties=device.description="%s"\n' \
        "${entry%%:*}" "$TF_SINK_RATE" "$(printf '%s' "${entry#*:}" | sed 's/ /\\ /g')"
    done
    echo "set-default-sink speakers"
  } >"$pa"
  pulseaudio -n -F "$pa" --daemonize=no --exit-idle-time=-1 --use-pid-file=no \
    --disallow-module-loading=0 --log-target=file:"$TF_RUN/pulse.log" >/dev/null 2>&1 &
  tf_record_pid "$TF_RUN/pulse.pid" $!
  for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  die "could not start PulseAudio (see $TF_RUN/pulse.log)"
}

tf_prepare_wineprefix() {  # $1: prefix folder (made fresh)
  export WINEPREFIX="$1"
  rm -rf "$WINEPREFIX"
  "$TF_WINEBOOT" -i >"$TF_RUN/wineboot.log" 2>&1 || die "wineboot failed (see $TF_RUN/wineboot.log)"
  "$TF_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Audio /d pulse /f >/dev/null 2>&1
  # No window manager runs on the virtual display; unmanaged windows spare
  # Wine its two-second wait for one whenever a window is hidden or destroyed.
  "$TF_WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  # A crash writes its backtrace to the program's output and ends it, instead
  # of waiting behind a crash dialog nobody can see.
  "$TF_WINE" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  tf_install_test_fonts
  # Each prefix has its own server, stopped with it by tf_services_stop.
  printf '%s|%s\n' "$TF_WINESERVER" "$WINEPREFIX" >>"$TF_RUN/wineservers"
}

# Wine has no Segoe UI, and the toolkit's own bitmap font gives a layout no
# Windows user sees. A free face of the same kind stands in under the two
# file names the program loads; it lives in this prefix only, never in what
# is shipped.
TF_FONT_DIR=/usr/share/fonts/truetype/open-sans
tf_install_test_fonts() {
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  mkdir -p "$fonts"
  cp "$TF_FONT_DIR/OpenSans-Regular.ttf" "$fonts/segoeui.ttf"
  cp "$TF_FONT_DIR/OpenSans-Bold.ttf" "$fonts/segoeuib.ttf"
}

# A pid file holds the pid and the start time of the process, in clock
# ticks after boot. A pid that another process has taken over since (the
# run ended long ago, the machine restarted) shows another start time, and
# that process is never signalled.
tf_start_time() {  # <pid>
  local stat fields
  [[ "$1" =~ ^[0-9]+$ ]] && stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  # The program's name, in parentheses, may hold spaces; the fields after it
  # do not. The start time is the 22nd field.
  read -r -a fields <<<"${stat##*) }"
  printf '%s\n' "${fields[19]}"
}

tf_record_pid() {  # <pid file> <pid>
  printf '%s %s\n' "$2" "$(tf_start_time "$2")" >"$1"
}

# The pid of a pid file while the process it was written for still runs;
# fails once that process has ended, whoever has its pid now.
tf_recorded_pid() {  # <pid file>
  local pid started
  read -r pid started 2>/dev/null <"$1" || return 1
  [ -n "$started" ] && [ "$(tf_start_time "$pid")" = "$started" ] && printf '%s\n' "$pid"
}

# Ends the process of a pid file (TERM, KILL three seconds later) when it is
# still the one started, and removes the file.
tf_stop_recorded() {  # <pid file>
  local pid
  if pid=$(tf_recorded_pid "$1"); then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 30); do tf_recorded_pid "$1" >/dev/null || break; sleep 0.1; done
    ! tf_recorded_pid "$1" >/dev/null || kill -9 "$pid" 2>/dev/null || true
  elif read -r pid _ 2>/dev/null <"$1" && tf_start_time "$pid" >/dev/null; then
    say "left alone: pid $pid of $(basename "$1") is not the process that was started"
  fi
  rm -f "$1"
}

# Only the servers of the prefixes made here are stopped, never the one a
# WINEPREFIX of the environment names: that may be the developer's own.
tf_services_stop() {
  local f server prefix
  if [ -f "$TF_RUN/wineservers" ]; then
    while IFS='|' read -r server prefix; do
      WINEPREFIX=$prefix "$server" -k >/dev/null 2>&1 || true
    done <"$TF_RUN/wineservers"
    rm -f "$TF_RUN/wineservers"
  fi
  for f in "$TF_RUN"/*.pid; do
    [ -f "$f" ] || continue
    tf_stop_recorded "$f"
  done
}

# Everything a run of the Windows program needs, stopped again on exit:
# display, sound server and a fresh prefix with a resident wineserver.
tf_services_up() {  # $1: state folder of this run
  tf_services_init "$1"
  trap tf_services_stop EXIT
  tf_start_xvfb
  tf_start_pulse
  say "preparing a throwaway Wine prefix"
  tf_prepare_wineprefix "$TF_RUN/prefix"
  "$TF_WINESERVER" -p >/dev/null 2>&1 || true
}

# The Wine 10 root (scripts/wine10-root.sh), made on first use, its progress
# shown as it goes. When it cannot be had, prints why on stdout, in one
# line, and fails.
tf_wine10_root() {
  local log="$TF_RUN/wine10-root.log"
  "$TF_ROOT/scripts/wine10-root.sh" 2>&1 >/dev/null | tee "$log" >&2
  [ "${PIPESTATUS[0]}" -eq 0 ] && return 0
  tail -n 1 "$log" | sed 's/^\[dev\] error: //'
  return 1
}

# From here on this shell's Wine is Wine 10 in its root, through links to
# the one launcher (scripts/wine10.sh), with a prefix of its own and a
# resident wineserver. $1: the folders, colon-separated, that Wine 10 must
# see at their own paths besides the prefix (the launcher binds them).
tf_use_wine10() {
  local bin="$TF_RUN/wine10-bin" p
  mkdir -p "$bin"
  for p in wine wineboot wineserver; do ln -sfn "$TF_ROOT/scripts/wine10.sh" "$bin/$p"; done
  TF_WINE="$bin/wine" TF_WINEBOOT="$bin/wineboot" TF_WINESERVER="$bin/wineserver"
  export TONEFORK_WINE="$TF_WINE" TONEFORK_WINEBOOT="$TF_WINEBOOT" TONEFORK_WINESERVER="$TF_WINESERVER"
  export TONEFORK_WINE10_SHARE="$1"
  say "preparing a throwaway Wine 10 prefix"
  tf_prepare_wineprefix "$TF_RUN/prefix-wine10"
  "$TF_WINESERVER" -p >/dev/null 2>&1 || true
}
