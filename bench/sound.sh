# Sourced by the benchmarks that route sound: raw stereo float32
# played into a sink and recorded from a sink's monitor on the headless
# desktop's PulseAudio, both in the background.
#
# Played in periods of 10 ms by default, as a Windows program's stream
# reaches its endpoint: with pacat's own two seconds ahead the null sink
# renders in large, uneven blocks for the first seconds of the stream.
# Extra pacat options go last (--latency-msec again overrides the period;
# --latency-msec=2000 measures pacat's own buffering). Recorders take 10 ms
# periods too. E2E_PLAYER_MS sets the player's period where a noisy machine
# starves a 10 ms player (its own gaps are counted as "played").

# At the sinks' own rate: a sound server that resamples every player and
# recorder at a low latency starves them on a small machine.
RATE=${TONEFORK_SINK_RATE:-48000}

# play_raw <sink> <raw file> [pacat options...]: the player's pid in SOUND_PID.
play_raw() {
  local sink=$1 file=$2
  shift 2
  pacat -d "$sink" --format=float32le --rate=$RATE --channels=2 --raw --latency-msec="${E2E_PLAYER_MS:-10}" "$@" "$file" \
    2>/dev/null &
  SOUND_PID=$!
}

# record_monitor <sink> <raw file>: the recorder's pid in SOUND_PID; its own
# messages go to <raw file>.parec.log.
record_monitor() {
  parec -d "$1.monitor" --format=float32le --rate=$RATE --channels=2 --raw --latency-msec=10 \
    >"$2" 2>"$2.parec.log" &
  SOUND_PID=$!
}
