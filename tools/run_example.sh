#!/usr/bin/env bash
# Builds the library and the example program in Release, then runs it.
set -eu
cd "$(dirname "$0")/.."
tools/install_deps.sh example
cmake -S . -B build-example -G Ninja -DCMAKE_BUILD_TYPE=Release -DTQS_BUILD_TESTS=OFF > /dev/null
cmake --build build-example --target basic_dp_real_dft_1d > /dev/null
exec ./build-example/example/basic_dp_real_dft_1d
