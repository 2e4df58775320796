#!/usr/bin/env bash
# Runs every libFuzzer program (tests/fuzz, built with clang under ASan and
# UBSan) for a bounded time and summarises what each did:
#   fuzz.sh [seconds per target]     default 60, or TONEFORK_FUZZ_SECONDS
# Each starts from its committed seeds (tests/fuzz/corpus/<target>, only
# read) and keeps what it finds new in $TF_BUILD/fuzz-results/corpus/<target>.
# A crash leaves its input in $TF_BUILD/fuzz-results/<target>/ and fails the
# run; once mended, that input joins the seeds, where the native unit tests
# run it on every ./dev test.
set -euo pipefail
source "$(dirname "$0")/common.sh"

seconds=${1:-${TONEFORK_FUZZ_SECONDS:-60}}
[[ "$seconds" =~ ^[0-9]+$ ]] && [ "$seconds" -gt 0 ] || die "seconds must be a positive number: $seconds"
"$TF_ROOT/scripts/deps.sh"
source "$TF_ROOT/scripts/deps.sh"
install_fuzz_packages

build="$TF_BUILD/fuzz"
out="$TF_BUILD/fuzz-results"
mkdir -p "$TF_BUILD"
build_preset fuzz "$build"

mkdir -p "$out"
for program in "$build"/*_fuzz; do
  target=$(basename "$program" _fuzz)
  mkdir -p "$out/corpus/$target" "$out/$target"
  say "fuzzing $target for $seconds s"
  status=0
  "$program" -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$out/$target/" "$out/corpus/$target" "$TF_ROOT/tests/fuzz/corpus/$target" \
    >"$out/$target.log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$out/$target.log")
  coverage=$(grep -o 'cov: [0-9]*' "$out/$target.log" | tail -n1)
  found=$(find "$out/corpus/$target" -type f | wc -l)
  if [ "$status" -eq 0 ]; then
    printf '%s: %s runs in %s s, %s, %s inputs kept, no crash\n' "$target" "${runs:-?}" "$seconds" \
      "${coverage:-cov: ?}" "$found"
  else
    printf '%s: FAILED (exit %s), input in %s; see %s\n' "$target" "$status" "$out/$target/" "$out/$target.log"
  fi
done | tee "$out/summary.txt"
grep -q FAILED "$out/summary.txt" && die "a fuzz target failed"
say "results in $out"
