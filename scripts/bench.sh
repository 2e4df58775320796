#!/usr/bin/env bash
# Runs the benchmarks and writes every result under $TF_BUILD/bench-results:
#   kernel  the gain + soft clip kernel against a plain copy (Google Benchmark)
#   sim     the delivery policy against the stream model and drifting device
#           clocks (one simulated hour a run): the tables, the Windows grid
#           of rates x settings x clocks, a source that pauses, and how far
#           apart targets of one setting play each packet
#   e2e     delay and CPU cost of the real route under Wine and PulseAudio,
#           beside PulseAudio's module-loopback, and the route by loopback
#           under Wine 10
#   gaps    silences and dropped frames a listener hears on the route in a
#           minute, window hidden, shown and beside a busy core, beside
#           module-loopback; and the first audio after a start
#   startup start-up time, working set and private memory with the
#           fallback faces for other scripts in the Fonts folder, against
#           the same without them
# Arguments pick parts; none means all five. Ends with a short summary.
# One more part runs only when named:
#   soak    ten minutes of routing with start/stop cycles from the tray and
#           device-change bursts: crashes, hangs, gaps, private memory
set -euo pipefail
source "$(dirname "$0")/common.sh"
source "$TF_ROOT/scripts/services.sh"

parts=("$@")
[ ${#parts[@]} -eq 0 ] && parts=(kernel sim e2e gaps startup)
for p in "${parts[@]}"; do
  case "$p" in
    kernel|sim|e2e|gaps|startup|soak) ;;
    *) die "unknown benchmark: $p (kernel, sim, e2e, gaps, startup, soak)" ;;
  esac
done

bench_build="$TF_BUILD/bench"
out="$TF_BUILD/bench-results"
summary="$out/summary.txt"

build_bench() {
  cd "$TF_ROOT"
  build_preset bench "$bench_build"
}

run_kernel() {
  "$bench_build/kernel_bench" --benchmark_out="$out/kernel_bench.json" --benchmark_out_format=json \
    >"$out/kernel_bench.txt" 2>&1 || die "kernel_bench failed (see $out/kernel_bench.txt)"
  # Every kernel's time per packet against the plain copy of the same packet.
  python3 - "$out/kernel_bench.json" <<'EOF' | tee -a "$summary"
import json, sys
runs = {b["name"]: b for b in json.load(open(sys.argv[1]))["benchmarks"] if b.get("run_type") == "iteration"}
copy = runs["BM_Memcpy"]
print(f"kernel: one 480-frame stereo packet, memcpy {copy['cpu_time']:.1f} {copy['time_unit']}")
for name, run in runs.items():
    if name != "BM_Memcpy":
        line = f"  {name:32s} {run['cpu_time']:8.1f} {run['time_unit']}  = {run['cpu_time'] / copy['cpu_time']:5.1f} x memcpy"
        before = runs.get(name.replace("BM_", "BM_Before_", 1))
        if before:
            line += f"  = {run['cpu_time'] / before['cpu_time']:4.2f} x the former kernel"
        print(line)
EOF
}

run_sim() {
  "$bench_build/delivery_sim" "$out/delivery_sim.txt" tables >/dev/null || die "delivery_sim failed"
  { echo "sim: $out/delivery_sim.txt (per target: ppm | frames dropped | gaps at start, after | top-ups | silence ms | queue before a packet against the cushion, ms | queue heard min/mean/max ms | rate min/max ppm | rate changes)"
    grep -E '^bufferMs|^ +[-+][0-9]+ [|]' "$out/delivery_sim.txt" | sed 's/^/  /'; } | tee -a "$summary"
  # The Windows stream over rates, settings and clocks, and a source that
  # pauses: the compact tables only (each run in full is in the file).
  "$bench_build/delivery_sim" "$out/delivery_grid.txt" grid pauses instep holds >/dev/null ||
    die "delivery_sim (grid) failed"
  { echo "sim grid, pauses, targets in step and a held process: $out/delivery_grid.txt"
    awk '/^The grid.s runs in full/ { full = 1 } /^A paused source/ { full = 0; pauses = 1 }
         !full && /^grid|^  grid/ || pauses && /^bufferMs|^  pause/ || /in step|holds/' "$out/delivery_grid.txt" |
      sed 's/^/  /'; } |
    tee -a "$summary"
}

# Wine 10 (the loopback tier's) for the route by loopback, with a prefix of
# its own; this shell keeps the system's Wine for the rest. Without its
# root, the benchmark says why and leaves that route out.
wine10_for_bench() {
  local reason wine10
  if ! reason=$(tf_wine10_root); then
    say "e2e: no route by loopback under Wine 10: $reason"
    export E2E_WINE10_SKIPPED="$reason"
    return 0
  fi
  export TONEFORK_WINE10_SHARE="$TF_RUN:$TF_BUILD/mingw:$out"
  wine10=$(tf_use_wine10 "$TONEFORK_WINE10_SHARE" && printf '%s|%s' "$TF_WINE" "$WINEPREFIX") ||
    die "Wine 10 prefix could not be made"
  export E2E_WINE10="${wine10%%|*}" E2E_WINE10_PREFIX="${wine10#*|}"
}

# Each part with a desktop has one of its own, stopped again at its end,
# whatever part runs next. The command writes <result>.txt (its output goes
# to <result>.log); the lines the pattern picks go into the summary.
# desktop_part <name> <result> <pattern> <command...>
desktop_part() {
  local name=$1 result=$2 pattern=$3 status=0
  shift 3
  tf_services_up "$TF_BUILD/bench-$name-run"
  say "$name: its output goes to $(tf_shown "$out/$result.log")"
  "$@" >"$out/$result.log" 2>&1 || status=$?
  tf_services_stop
  trap - EXIT
  { echo "$name: $out/$result.txt"; sed -n "$pattern" "$out/$result.txt" 2>/dev/null; } | tee -a "$summary"
  [ "$status" -eq 0 ] || { tail -n 20 "$out/$result.log" >&2; die "$name benchmark failed (see $out/$result.log)"; }
}

e2e_latency() {
  wine10_for_bench
  "$TF_ROOT/bench/e2e_latency.sh" "$TF_DIST" "$bench_build/audio_probe" "$TF_BUILD/mingw/tfctl.exe" \
    "$(tf_recorded_pid "$TF_RUN/pulse.pid")" "$out"
}

run_e2e() {
  desktop_part e2e e2e_latency '/^route /,/^$/p; /^Targets in step/,/^Every delay/{/^Every/!p}' e2e_latency
}

run_gaps() {
  desktop_part gaps e2e_gaps '/^route /,/^Load/p; /^Device-change/,+1p' \
    "$TF_ROOT/bench/e2e_gaps.sh" "$TF_DIST" "$bench_build/audio_probe" "$TF_BUILD/mingw/tfctl.exe" "$out"
}

run_startup() {
  desktop_part startup startup_fonts '/^Start-up/,$p' \
    "$TF_ROOT/bench/startup_fonts.sh" "$TF_DIST" "$TF_BUILD/mingw/tfctl.exe" "$out"
}

run_soak() {
  desktop_part soak soak '/^Crashes/,/growth/p' \
    "$TF_ROOT/bench/soak.sh" "$TF_DIST" "$bench_build/audio_probe" "$TF_BUILD/mingw/tfctl.exe" "$out"
}

rm -rf "$out" && mkdir -p "$out"
build_bench
for p in "${parts[@]}"; do
  say "benchmark: $p"
  "run_$p"
done
say "results in $out"
