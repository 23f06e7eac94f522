#!/usr/bin/env bash
# run.sh - time ziptext against unzip, bsdtar and the floor, side by side
#
# Usage:
#   bench/run.sh [--reps N] [--no-jobs] [--before ZIPTEXT]
#       Builds the bench preset (Release, build/bench), installs bsdtar
#       (libarchive-tools) and Google Benchmark when they are missing,
#       generates the benchmark archives into $BENCH_DIR (default
#       /tmp/vtq-bench; made once, kept for the next run), times every tool
#       N times (default 5) on each archive, alternating, and prints the
#       table (fastest peer, ratios, peak RSS) and the targets, met or not;
#       then ziptext --jobs 1 and 2 over 40 copies of many (--no-jobs
#       skips that).  --before ZIPTEXT times another build of ziptext
#       alongside ("before -o").  The micro-benchmarks are in
#       build/bench/bin/vtq_micro_bench.
#   bench/run.sh --smoke --ziptext PATH --gen PATH --floor PATH --runner PATH
#       The harness's own test (CTest runs it): tiny archives in a fresh
#       temporary directory, one run of each tool that is installed, no
#       build and no installs.  Fails when a tool fails or writes less
#       text than the members hold.
#
# Nothing is written into the source tree except the build directory.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/.." && pwd)"

smoke=0
reps=5
nojobs=""
before=()
ziptext="" gen="" floor="" runner=""
while [ $# -gt 0 ]; do
  case "$1" in
    --smoke) smoke=1 ;;
    --reps) reps="$2"; shift ;;
    --no-jobs) nojobs=--no-jobs ;;
    --before) before=(--before "$(realpath "$2")"); shift ;;
    --ziptext) ziptext="$2"; shift ;;
    --gen) gen="$2"; shift ;;
    --floor) floor="$2"; shift ;;
    --runner) runner="$2"; shift ;;
    *) echo "run.sh: unknown argument $1" >&2; exit 2 ;;
  esac
  shift
done

if [ "$smoke" = 1 ]; then
  if [ -z "$ziptext" ] || [ -z "$gen" ] || [ -z "$floor" ] || [ -z "$runner" ]; then
    echo "run.sh: --smoke needs --ziptext, --gen, --floor and --runner" >&2
    exit 2
  fi
  work="$(mktemp -d "${TMPDIR:-/tmp}/vtq-bench-smoke.XXXXXX")"
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/archives" "$work/scratch"
  "$gen" --small "$work/archives"
  status=0
  python3 "$here/timing.py" --smoke --ziptext "$ziptext" --floor "$floor" --runner "$runner" \
    --archives "$work/archives" --scratch "$work/scratch" || status=$?
  exit "$status"
fi

# ----------------------------------------------------------------- install
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
need=()
command -v bsdtar > /dev/null || need+=(libarchive-tools)
command -v unzip > /dev/null || need+=(unzip)
have libbenchmark-dev || need+=(libbenchmark-dev)
if [ "${#need[@]}" -gt 0 ]; then
  echo "run.sh: installing ${need[*]}"
  SUDO=""; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}"
fi

# ------------------------------------------------------------------- build
cd "$root"
cmake --preset bench > /dev/null
cmake --build --preset bench
bin="$root/build/bench/bin"

# ---------------------------------------------------------------- archives
dir="${BENCH_DIR:-/tmp/vtq-bench}"
mkdir -p "$dir/archives" "$dir/scratch"
# The generator's source decides the archives' bytes: make them again only
# when it changed (or an archive is missing).
stamp="$(sha256sum "$here/gen_archives.cpp" | cut -c1-16)"
if [ "$(cat "$dir/archives/STAMP" 2>/dev/null)" != "$stamp" ] ||
   ! ls "$dir"/archives/{big,stored,many,tiny,nested,tiny200k}.zip > /dev/null 2>&1; then
  echo "run.sh: generating the benchmark archives in $dir/archives"
  rm -f "$dir/archives/STAMP"
  "$bin/vtq_bench_gen" "$dir/archives"
  echo "$stamp" > "$dir/archives/STAMP"
fi

# ------------------------------------------------------------------ timing
echo "machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')," \
     "$(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo)," \
     "TMPDIR=${TMPDIR:-(unset)}, archives and outputs in $dir"
echo "tools: $("$bin/ziptext" --version 2>/dev/null | head -1), $(unzip -v | head -1 | cut -d' ' -f1-2)," \
     "$(bsdtar --version | cut -d' ' -f1-2), median of $reps runs after one warm-up"
echo
python3 "$here/timing.py" --ziptext "$bin/ziptext" --floor "$bin/vtq_bench_floor" --floor-zlib \
  --runner "$bin/vtq_bench_run" \
  --archives "$dir/archives" --scratch "$dir/scratch" --reps "$reps" $nojobs "${before[@]}"
