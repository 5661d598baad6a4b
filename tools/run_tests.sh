#!/usr/bin/env bash
# Builds and runs every test: the Release suite at all six processor levels,
# the build checks (level purity, install tree), the emulated-processor check,
# the suite again under AddressSanitizer + UndefinedBehaviorSanitizer, the
# threaded paths under ThreadSanitizer, and a bounded run of the fuzzer (from
# the AddressSanitizer build).
set -eu
cd "$(dirname "$0")/.."
tools/install_deps.sh tests
jobs=$(nproc)
status=0

start=$SECONDS
step() { echo; echo "==== [$((SECONDS - start)) s] $*"; }

step "Release build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DTQS_BUILD_TESTS=ON > /dev/null
cmake --build build -j "$jobs"
step "Release suite, all levels, and the emulated processors"
ctest --test-dir build -j "$jobs" --output-on-failure || status=1

step "AddressSanitizer + UndefinedBehaviorSanitizer build (with the fuzzer)"
# Levels 0 and 5 cover the two vector widths (128-bit without and 256-bit
# with fused multiply-add), the level-0 limits and the wide alignments; the
# levels between differ in instruction selection and vector width only, which
# the Release suite and the emulated processors cover. Clang builds it so
# that the same library serves the call-sequence fuzzer (libFuzzer), one
# sanitized build instead of two.
CC=clang CXX=clang++ cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTQS_SANITIZE=address,undefined -DTQS_FUZZ=ON -DTQS_LEVELS="0;5" -DTQS_BUILD_TESTS=ON > /dev/null
cmake --build build-asan -j "$jobs"
step "Sanitized suite, levels 0 and 5"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan -j "$jobs" --output-on-failure -L 'level[05]|build' || status=1

step "ThreadSanitizer build"
# Clang with the LLVM OpenMP runtime, whose tool interface tells the
# sanitizer about forks, joins and barriers of the teams (GCC's runtime
# would leave every team a false race). Level 0's 128-bit accesses are all
# instrumented; level 5 covers the 256-bit paths as far as the tool sees them.
CC=clang CXX=clang++ cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTQS_SANITIZE=thread -DTQS_LEVELS="0;5" -DTQS_BUILD_TESTS=ON > /dev/null
# Only the programs whose tests carry the label.
cmake --build build-tsan -j "$jobs" --target tqs_tsan_programs
step "Threaded paths under ThreadSanitizer"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1" \
  ctest --test-dir build-tsan -j "$jobs" --output-on-failure -L tsan || status=1

step "Call-sequence fuzzer, 10000 runs at levels 5 and 0"
# libFuzzer (clang) under AddressSanitizer + UndefinedBehaviorSanitizer, from
# the seed corpus with a fixed seed; tools/fuzz.sh SECONDS runs longer.
tools/fuzz.sh --runs 10000 --build build-asan || status=1

echo
echo "==== [$((SECONDS - start)) s] done"
if [ $status -eq 0 ]; then echo "ALL TESTS PASSED"; else echo "SOME TESTS FAILED"; fi
exit $status
