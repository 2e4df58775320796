#!/usr/bin/env bash
# Runs the test tiers and ends with one line "N passed, M failed" over all of
# them. Tiers: native (rules under ASan/UBSan, via ctest), win (GoogleTest
# executables built with mingw, run under Wine), e2e (the real program under
# Wine, PulseAudio and Xvfb), loopback (the real program under Wine 10, which
# captures by loopback, in its cached root; skipped, with the reason, when
# the root cannot be had). Arguments pick tiers; none means all four.
set -uo pipefail
source "$(dirname "$0")/common.sh"
source "$TF_ROOT/scripts/services.sh"

tiers=("$@")
# TONEFORK_TEST_FILTER narrows the GoogleTest tiers (win, e2e, loopback) to matching tests.
filter=()
[ -n "${TONEFORK_TEST_FILTER:-}" ] && filter=(--gtest_filter="$TONEFORK_TEST_FILTER")
[ ${#tiers[@]} -eq 0 ] && tiers=(native win e2e loopback)
results="$TF_BUILD/test-results"
rm -rf "$results" && mkdir -p "$results"

run_native() {
  ctest --test-dir "$TF_BUILD/native" --output-on-failure --timeout 300 \
    --output-junit "$results/native.xml" >"$results/native.log" 2>&1
  tail -n 3 "$results/native.log"
}

run_win() {
  local xml
  xml=$(TF_WINEPATH_OF "$results/win.xml")
  (cd "$TF_BUILD/mingw" && timeout 900 "$TF_WINE" tonefork_win_tests.exe --gtest_output="xml:$xml" "${filter[@]}") \
    >"$results/win.log" 2>&1
  grep -E '^\[  (PASSED|FAILED) ' "$results/win.log" | tail -n 5
}

run_e2e() {
  TONEFORK_DIST="$TF_DIST" TONEFORK_TFCTL="$TF_BUILD/mingw/tfctl.exe" TONEFORK_E2E_WORK="$TF_RUN/e2e" \
    TONEFORK_SCRIPTS="$TF_ROOT/scripts" TONEFORK_AUDIO_PROBE="$TF_BUILD/native/audio_probe" TONEFORK_E2E_RESULTS="$results" \
    timeout 2400 "$TF_BUILD/native/tonefork_e2e" --gtest_output="xml:$results/e2e.xml" "${filter[@]}" >"$results/e2e.log" 2>&1
  grep -E '^\[  (PASSED|FAILED) ' "$results/e2e.log" | tail -n 5
}

run_loopback() {
  local reason work="$TF_RUN/loopback"
  if ! reason=$(tf_wine10_root); then
    say "tier loopback skipped: $reason"
    echo "$reason" >"$results/loopback.skipped"
    return 0
  fi
  mkdir -p "$work"
  (
    tf_use_wine10 "$work:$TF_BUILD/mingw"
    TONEFORK_DIST="$TF_DIST" TONEFORK_TFCTL="$TF_BUILD/mingw/tfctl.exe" TONEFORK_E2E_WORK="$work" \
      TONEFORK_E2E_RESULTS="$results" timeout 1200 "$TF_BUILD/native/tonefork_loopback" \
      --gtest_output="xml:$results/loopback.xml" "${filter[@]}" >"$results/loopback.log" 2>&1
    grep -E '^\[  (PASSED|FAILED) ' "$results/loopback.log" | tail -n 5
  )
}

TF_WINEPATH_OF() { printf 'Z:%s' "$(printf '%s' "$1" | tr '/' '\\')"; }

needs_services=0
for t in "${tiers[@]}"; do [ "$t" != native ] && needs_services=1; done
[ $needs_services -eq 1 ] && tf_services_up "$TF_BUILD/test-run"

for t in "${tiers[@]}"; do
  case "$t" in
    native|win|e2e|loopback) say "tier: $t (log: $(tf_shown "$results/$t.log"))"; "run_$t" ;;
    *) die "unknown tier: $t (native, win, e2e, loopback)" ;;
  esac
done

python3 "$TF_ROOT/scripts/test_summary.py" "$results" "${tiers[@]}"
