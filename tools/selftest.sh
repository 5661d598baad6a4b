#!/usr/bin/env bash
# Builds the self-test program (Release, all six levels, in build/) and runs
# it once per processor level with TQS_DEBUG_CPU_TYPE set, the lengths of
# each level shared among parallel processes.
#
#   tools/selftest.sh [--quick | --full] [--levels "0 1 2 3 4 5"] [--jobs N] [-- selftest options]
#
# --quick (default): the sample the test suite runs; --full: every length
# 1..10000 and the long lengths. Options after -- go to the program
# (--lengths, --seed, --max-failures, -v). Logs go to results/selftest-<time>/.
set -eu
cd "$(dirname "$0")/.."
mode=--quick
levels="0 1 2 3 4 5"
jobs=$(nproc)
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --quick | --full) mode=$1 ;;
    --levels) levels=$2; shift ;;
    --jobs) jobs=$2; shift ;;
    --) shift; extra=("$@"); break ;;
    *) echo "usage: $0 [--quick|--full] [--levels LIST] [--jobs N] [-- selftest options]" >&2; exit 2 ;;
  esac
  shift
done

build=${TQS_BUILD_DIR:-build}
tools/install_deps.sh tests
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTQS_BUILD_TESTS=ON \
  -DTQS_LEVELS="0;1;2;3;4;5" > /dev/null
cmake --build "$build" -j "$(nproc)" --target tqs_selftest
program=$build/tests/selftest/tqs_selftest

# A team of two must be available whatever the machine reports; waiting
# threads sleep, so that the shards do not spin against each other.
export OMP_NUM_THREADS=${OMP_NUM_THREADS:-2}
export TQS_DYNAMIC=${TQS_DYNAMIC:-FALSE}
export OMP_WAIT_POLICY=${OMP_WAIT_POLICY:-PASSIVE}

logs=results/selftest-$(date +%Y%m%d-%H%M%S)${mode}
mkdir -p "$logs"
status=0
start=$(date +%s)
for level in $levels; do
  level_start=$(date +%s)
  pids=()
  for ((s = 0; s < jobs; s++)); do
    TQS_DEBUG_CPU_TYPE=$level "$program" "$mode" --shard "$s/$jobs" ${extra[@]+"${extra[@]}"} \
      > "$logs/level$level-shard$s.log" 2>&1 &
    pids+=($!)
  done
  level_status=0
  for pid in "${pids[@]}"; do wait "$pid" || level_status=1; done
  grep -h -A1 '^FAIL' "$logs"/level"$level"-shard*.log | head -40 || true
  configurations=$(awk '/^selftest/ {for (i = 1; i <= NF; i++) if ($(i + 1) == "configurations,") s += $i} END {print s + 0}' \
    "$logs"/level"$level"-shard*.log)
  result=PASSED
  [ $level_status -eq 0 ] || { result=FAILED; status=1; }
  echo "level $level: $result, $configurations configurations, $(( $(date +%s) - level_start )) s"
done
echo "total $(( $(date +%s) - start )) s; logs in $logs"
exit $status
