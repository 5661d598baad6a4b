#!/usr/bin/env bash
# Builds the call-sequence fuzzer (clang, libFuzzer, AddressSanitizer +
# UndefinedBehaviorSanitizer, levels 0 and 5, in build-fuzz/ unless told) and runs it at
# processor levels 5 and 0, starting from the seed corpus in tests/fuzz/corpus.
#
#   tools/fuzz.sh [SECONDS]          run SECONDS at each level (default 60)
#   tools/fuzz.sh --runs N           N executions at each level (the test suite's step)
#   options: --levels "5 0", --build DIR (default build-fuzz; the test
#            suite passes its sanitizer build, made with -DTQS_FUZZ=ON),
#            -- further libFuzzer options
#
# New inputs go to results/fuzz/corpus (not tracked), findings to
# results/fuzz/artifacts; a finding stops the run and the script fails.
# Replay one: build-fuzz/tests/fuzz/tqs_fuzz_calls FILE, with
# TQS_FUZZ_TRACE=1 to print every call.
set -eu
cd "$(dirname "$0")/.."
seconds=60
runs=""
levels="5 0"
build=build-fuzz
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift ;;
    --levels) levels=$2; shift ;;
    --build) build=$2; shift ;;
    --) shift; extra=("$@"); break ;;
    [0-9]*) seconds=$1 ;;
    *) echo "usage: $0 [SECONDS] [--runs N] [--levels LIST] [--build DIR] [-- libFuzzer options]" >&2; exit 2 ;;
  esac
  shift
done

tools/install_deps.sh tests
# A folder configured already (the test suite's sanitizer build) is used as
# it stands.
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTQS_SANITIZE=address,undefined -DTQS_FUZZ=ON -DTQS_LEVELS="0;5" -DTQS_BUILD_TESTS=ON > /dev/null
fi
cmake --build "$build" -j "$(nproc)" --target tqs_fuzz_calls
fuzzer=$build/tests/fuzz/tqs_fuzz_calls

mkdir -p results/fuzz/corpus results/fuzz/artifacts
if [ -n "$runs" ]; then
  # A bounded, repeatable run: fixed seed, nothing kept.
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  corpus=$work
  limit=(-runs="$runs" -seed=1)
else
  corpus=results/fuzz/corpus
  limit=(-max_total_time="$seconds")
fi
status=0
for level in $levels; do
  echo "level $level"
  # Leaks are checked at exit of each input; a commit of a hostile length
  # must fail without asking for gigabytes.
  TQS_DEBUG_CPU_TYPE=$level "$fuzzer" "${limit[@]}" -malloc_limit_mb=1024 -rss_limit_mb=3072 \
    -print_final_stats=1 -artifact_prefix=results/fuzz/artifacts/ ${extra[@]+"${extra[@]}"} \
    "$corpus" tests/fuzz/corpus > results/fuzz/level$level.log 2>&1 || status=1
  grep -E "^Done|stat::number_of_executed_units|ERROR|MISMATCH|runtime error" results/fuzz/level$level.log || true
done
[ $status -eq 0 ] || echo "fuzzer finding: see results/fuzz/level*.log and results/fuzz/artifacts"
exit $status
