#!/usr/bin/env bash
# run_campaign.sh HARNESS SECONDS [libFuzzer options...]: build a harness with
# libFuzzer in build/fuzz (or $FUZZ_BUILD) and fuzz it; see fuzz/README.md.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)" && src="$(dirname "$here")"
harness="${1:?usage: run_campaign.sh HARNESS SECONDS [libFuzzer options]}" seconds="${2:?}"
shift 2
build="$(realpath -m "${FUZZ_BUILD:-$src/build/fuzz}")" && findings="$build/findings/$harness"
if [ "${FUZZ_SETUP:-0}" = 1 ]; then bash "$src/scripts/setup.sh" --fuzz; fi
[ -f "$build/build.ninja" ] || cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVTQ_BUILD_FUZZERS=ON -DVTQ_BUILD_TESTS=OFF
cmake --build "$build" --target "fuzz_$harness" -j "${FUZZ_BUILD_JOBS:-2}"
seeds=("$here/regressions/$harness") # and for the archive harnesses, the public corpus
case "$harness" in central_dir | extract) seeds+=("$src/../shared/corpus") ;; esac
mkdir -p "$build/corpus/$harness" "$findings" "$build/logs" && cd "$build"
log="$build/logs/$harness-$(date +%Y%m%d-%H%M%S).log" && echo "run_campaign: log $log"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
status=0 && /usr/bin/time -f "run_campaign: cpu user %U s, system %S s, wall %e s, max rss %M KiB" \
  "bin/fuzz_$harness" "corpus/$harness" "${seeds[@]}" -dict="$here/zip.dict" -max_total_time="$seconds" \
  -timeout=1 -rss_limit_mb=2048 -max_len="${FUZZ_MAX_LEN:-20000}" -jobs=1 -workers=1 \
  -print_final_stats=1 -artifact_prefix="$findings/" "$@" >"$log" 2>&1 || status=$?
if [ -f fuzz-0.log ]; then cat fuzz-0.log >>"$log" && rm fuzz-0.log; fi # -jobs=1 logs there
grep -E "^#[0-9]+ +DONE|^stat::|^run_campaign:|ERROR|fuzz harness" "$log" | tail -20 || true
echo "run_campaign: findings in $findings:" && ls -1 "$findings" && exit "$status"
