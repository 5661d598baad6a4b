#!/usr/bin/env bash
# Installs the Debian packages a build needs, only those missing.
#   usage: install_deps.sh [example|tests|bench]
set -eu
what=${1:-tests}
packages=(cmake ninja-build g++ pkg-config)
case "$what" in
  tests) packages+=(libgtest-dev libfftw3-dev qemu-user python3 clang libomp-dev) ;;
  bench) packages+=(libfftw3-dev gnuplot-nox) ;;
esac
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" > /dev/null
fi
