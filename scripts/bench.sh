#!/usr/bin/env bash
# Runs the benchmarks and writes every result under $TF_BUILD/bench-results:
#   kernel  the gain + soft clip kernel against a plain copy (Google Benchmark)
#   sim     the delivery policy against drifting device clocks (one simulated hour)
#   e2e     delay and CPU cost of the real route under Wine and PulseAudio,
#           beside PulseAudio's module-loopback
# Arguments pick parts; none means all three. Ends with a short summary.
# One more part runs only when named:
#   soak    ten minutes of routing with start/stop cycles from the tray and
#           device-change bursts: crashes, hangs, gaps, private memory
set -euo pipefail
source "$(dirname "$0")/common.sh"
source "$TF_ROOT/scripts/services.sh"

parts=("$@")
[ ${#parts[@]} -eq 0 ] && parts=(kernel sim e2e)
for p in "${parts[@]}"; do
  case "$p" in kernel|sim|e2e|soak) ;; *) die "unknown benchmark: $p (kernel, sim, e2e, soak)" ;; esac
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
  "$bench_build/delivery_sim" "$out/delivery_sim.txt" >/dev/null || die "delivery_sim failed"
  { echo "sim: $out/delivery_sim.txt (per target: ppm | trimmed | missed | ... | silence ms | latency ms)"
    grep -E '^bufferMs|^ +[-+][0-9]+ [|]' "$out/delivery_sim.txt" | sed 's/^/  /'; } | tee -a "$summary"
}

run_e2e() {
  tf_services_up "$TF_BUILD/bench-run"
  "$TF_ROOT/bench/e2e_latency.sh" "$TF_DIST" "$bench_build/audio_probe" "$TF_BUILD/mingw/tfctl.exe" \
    "$(cat "$TF_RUN/pulse.pid")" "$out" >"$out/e2e_latency.log" 2>&1 ||
    { tail -n 20 "$out/e2e_latency.log" >&2; die "e2e benchmark failed (see $out/e2e_latency.log)"; }
  { echo "e2e: $out/e2e_latency.txt"; sed -n '/^route /,/^$/p' "$out/e2e_latency.txt"; } | tee -a "$summary"
}

# Its own desktop, stopped again at its end, whatever part runs next.
run_soak() {
  local status=0
  tf_services_up "$TF_BUILD/soak-run"
  "$TF_ROOT/bench/soak.sh" "$TF_DIST" "$bench_build/audio_probe" "$TF_BUILD/mingw/tfctl.exe" "$out" \
    >"$out/soak.log" 2>&1 || status=$?
  tf_services_stop
  trap - EXIT
  { echo "soak: $out/soak.txt"; sed -n '/^Crashes/,/growth/p' "$out/soak.txt" 2>/dev/null | sed 's/^/  /'; } |
    tee -a "$summary"
  [ "$status" -eq 0 ] || { tail -n 20 "$out/soak.log" >&2; die "soak failed (see $out/soak.log)"; }
}

rm -rf "$out" && mkdir -p "$out"
build_bench
for p in "${parts[@]}"; do
  say "benchmark: $p"
  "run_$p"
done
say "results in $out"
