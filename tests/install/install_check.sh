#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds a C program against
# it twice: with pkg-config and with the CMake package.
#   usage: install_check.sh SOURCE_DIR BUILD_DIR
set -eu
src=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" > "$work/install.log"
libdir=$(ls -d "$prefix"/lib*/ | head -n 1)
test -f "$prefix/include/tqs_dfti.h"
ls "$libdir"libtqs_dft.so.11* > /dev/null
test -f "$libdir/libtqs_dft.a"

# The shared library exports the public calls and nothing else.
exported=$(nm -D --defined-only "$libdir/libtqs_dft.so" | awk '{print $3}' | sort | tr '\n' ' ')
expected="DftiBackward DftiCommit DftiCreateDouble1D DftiForward DftiGet DftiRelease DftiSet "
if [ "$exported" != "$expected" ]; then
  echo "unexpected exports: $exported"
  exit 1
fi

# pkg-config, as a user would: cc prog.c $(pkg-config --cflags --libs tqs_dft)
export PKG_CONFIG_PATH=$libdir/pkgconfig
cc "$src/tests/install/prog.c" $(pkg-config --cflags --libs tqs_dft) -o "$work/prog_pc"
LD_LIBRARY_PATH=$libdir "$work/prog_pc"
# The static library with its private dependencies.
cc "$src/tests/install/prog.c" $(pkg-config --cflags tqs_dft) "$libdir/libtqs_dft.a" \
   $(pkg-config --libs-only-l --static tqs_dft | sed 's/-ltqs_dft//') -fopenmp -o "$work/prog_static"
"$work/prog_static"

# CMake package: find_package(TqsDft) and the imported target tqs::dft.
cmake -S "$src/tests/install/consumer" -B "$work/consumer" -G Ninja \
  -DCMAKE_PREFIX_PATH="$prefix" > "$work/consumer.log"
cmake --build "$work/consumer" > "$work/consumer-build.log"
"$work/consumer/consumer"
echo "install check passed"
