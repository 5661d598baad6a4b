#!/usr/bin/env bash
# Plan-level speed against FFTW: builds the benchmarks in Release and runs
# bench/plan_bench at processor levels 0 and 5 (complex and real forward).
#   usage: tools/plan_bench.sh [seconds per length] [lengths...]
set -eu
cd "$(dirname "$0")/.."
tools/install_deps.sh bench
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DTQS_BUILD_BENCH=ON \
  -DTQS_BUILD_TESTS=OFF > /dev/null
cmake --build build-bench --target plan_bench > /dev/null
mkdir -p results
for level in 0 5; do
  echo "== level $level"
  TQS_DEBUG_CPU_TYPE=$level TQS_BENCH_WISDOM=results/plan_bench.wisdom \
    ./build-bench/bench/plan_bench "$@"
done
