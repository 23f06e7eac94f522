#!/usr/bin/env bash
# run_campaign.sh - build a harness with libFuzzer and fuzz it for a while
#
# Usage: fuzz/run_campaign.sh HARNESS SECONDS [libFuzzer options...]
#   HARNESS  central_dir, inflate, methods, extract or documents
#   SECONDS  length of the campaign (libFuzzer -max_total_time)
#
# One fuzzing process, one worker.  The campaign keeps its working corpus
# in $BUILD/corpus/HARNESS, so a second campaign goes on where the first
# stopped; it starts from the bundled public corpus (../shared/corpus) and
# the builder-made seeds (for inflate, builder-made raw streams alone).  Findings land in $BUILD/findings/HARNESS/; once
# fixed, copy each one into fuzz/regressions/HARNESS/ under a name that
# says what it holds, and CTest replays it on every build.  The log is
# $BUILD/logs/HARNESS-<time>.log; its last lines hold libFuzzer's figures
# and the CPU time.  Set FUZZ_BUILD to use another build directory, and
# FUZZ_SETUP=1 to install clang and its runtimes first.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
src="$(dirname "$here")"
harness="${1:?usage: run_campaign.sh HARNESS SECONDS [libFuzzer options]}"
seconds="${2:?usage: run_campaign.sh HARNESS SECONDS [libFuzzer options]}"
shift 2
case "$harness" in
  central_dir | inflate | methods | extract | documents) ;;
  *) echo "run_campaign: unknown harness $harness (central_dir, inflate, methods, extract, documents)" >&2; exit 2 ;;
esac
build="$(realpath -m "${FUZZ_BUILD:-$src/build/fuzz}")" # absolute: the fuzzer runs from inside it

if [ "${FUZZ_SETUP:-0}" = 1 ]; then bash "$src/scripts/setup.sh" --fuzz; fi
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DVTQ_BUILD_FUZZERS=ON -DVTQ_BUILD_TESTS=OFF
fi
cmake --build "$build" --target "fuzz_$harness" fuzz_make_seeds -j "${FUZZ_BUILD_JOBS:-2}"

corpus="$build/corpus/$harness"
seeds="$build/seeds/$harness"
findings="$build/findings/$harness"
mkdir -p "$corpus" "$seeds" "$findings" "$build/logs"
"$build/bin/fuzz_make_seeds" "$seeds" "$harness"
shared="$src/../shared/corpus"
seed_dirs=("$seeds")
[ -d "$here/regressions/$harness" ] && seed_dirs+=("$here/regressions/$harness")
[ -d "$shared" ] && [ "$harness" != inflate ] && [ "$harness" != methods ] && seed_dirs+=("$shared")
# The methods harness starts from its seeds in regressions/methods alone,
# the documents harness from the sample documents of tests/data.
[ "$harness" = methods ] && seed_dirs=("$here/regressions/methods")
[ "$harness" = documents ] && seed_dirs=("$src/tests/data/documents")

log="$build/logs/$harness-$(date +%Y%m%d-%H%M%S).log"
echo "run_campaign: $harness for $seconds s, log $log"
# The report of sanitizers goes to the log; UBSan stops at the first error.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:symbolize=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
status=0
cd "$build"
/usr/bin/time -f "run_campaign: cpu user %U s, system %S s, wall %e s, max rss %M KiB" \
  "$build/bin/fuzz_$harness" "$corpus" "${seed_dirs[@]}" \
    -dict="$here/zip.dict" -max_total_time="$seconds" -timeout=1 -rss_limit_mb=2048 \
    -max_len="${FUZZ_MAX_LEN:-20000}" -jobs=1 -workers=1 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$@" > "$log" 2>&1 || status=$?
# -jobs=1 runs the fuzzer as one child whose output goes to fuzz-0.log.
if [ -f fuzz-0.log ]; then cat fuzz-0.log >> "$log" && rm -f fuzz-0.log; fi
grep -E "^#[0-9]+ +DONE|^stat::|^run_campaign:|ERROR|fuzz harness" "$log" | tail -20 || true
echo "run_campaign: findings so far in $findings:"
ls -1 "$findings"
exit "$status"
