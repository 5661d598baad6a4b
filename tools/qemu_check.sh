#!/usr/bin/env bash
# Runs each processor level's code on an emulated processor that lacks the
# next level's instructions, so that one instruction leaked into a lower
# level (or a level entered without need) ends the run with SIGILL.
#   usage: qemu_check.sh BUILD_DIR
set -u
build=${1:?build dir}
models=(Opteron_G1 Opteron_G2 Conroe Nehalem SandyBridge Haswell-noTSX)
qemu=$(command -v qemu-x86_64) || { echo "qemu-x86_64 not installed"; exit 1; }
failures=0

run() {  # level model description command...
  local level=$1 model=$2 what=$3
  shift 3
  local out rc
  out=$(TQS_DEBUG_CPU_TYPE=$level timeout 600 "$qemu" -cpu "$model" "$@" 2>&1)
  rc=$?
  if [ $rc -ne 0 ]; then
    echo "FAIL level $level on $model: $what (exit $rc)"
    echo "$out" | tail -n 5
    failures=$((failures + 1))
  else
    echo "ok   level $level on $model: $what"
  fi
}

for level in 0 1 2 3 4 5; do
  model=${models[$level]}
  run $level "$model" "example" "$build/example/basic_dp_real_dft_1d"
  # A few transforms of every kind that exists, through the test binaries.
  [ -x "$build/tests/test_interface" ] && run $level "$model" "public calls" "$build/tests/test_interface"
  [ -x "$build/tests/test_codelets" ] && run $level "$model" "codelets" "$build/tests/test_codelets"
  [ -x "$build/tests/test_real" ] && run $level "$model" "real transforms" \
      "$build/tests/test_real" --gtest_filter='RealLayouts.*:RealPlanner.*:RealRefusals.*'
  [ -x "$build/tests/test_complex" ] && run $level "$model" "complex transforms" \
      "$build/tests/test_complex" \
      --gtest_filter='ComplexLayouts.*:ComplexPlanner.*:ComplexBluestein.*:ComplexMultiAxis.*:ComplexThreads.*'
  [ -x "$build/tests/test_split" ] && run $level "$model" "split storage" \
      "$build/tests/test_split" --gtest_filter='SplitStrategies.*:SplitMultiAxis.*:SplitBatch.*'
  [ -x "$build/tests/test_matrix" ] && run $level "$model" "matrix copies" \
      "$build/tests/test_matrix" --gtest_filter='MatrixCopy.*:SquareTranspose.Matches*'
  [ -x "$build/tests/test_plans" ] && run $level "$model" "plans" \
      "$build/tests/test_plans" --gtest_filter='PlanChoice.*:PlanCodes.*:RealSplit.*'
  [ -x "$build/tests/test_pow2" ] && run $level "$model" "power-of-two plans" \
      "$build/tests/test_pow2" \
      --gtest_filter='Pow2Plan.*:AllLengths/Pow2Length.*/log2n_[0-9]:AllLengths/Pow2Length.*/log2n_1[0-3]'
done
[ $failures -eq 0 ] && echo "qemu level check: all levels clean" || echo "qemu level check: $failures failures"
exit $((failures > 0))
