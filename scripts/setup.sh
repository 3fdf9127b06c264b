#!/usr/bin/env bash
# Sets up a fresh Debian (12 or later) machine for korvo: installs the packages
# the build needs when they are missing, configures and builds into build/,
# and runs the example program.
#   scripts/setup.sh             the Linux build
#   scripts/setup.sh --windows   also what the Windows cross builds and their
#                                tests under Wine need (scripts/test.sh --windows)
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"

# mingw-w64 (the -posix compilers of both targets), Wine for 64-bit and, with
# the i386 architecture, 32-bit programs, and GoogleTest's sources, which the
# cross builds compile themselves (cmake/KorvoCrossPackages.cmake); unzip: the
# check that unpacks the Windows ZIP and runs its programs (package.zip).
if [ "${1:-}" = "--windows" ]; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
    $sudo apt-get update -q
  fi
  windows_packages=(mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 wine32:i386
    googletest unzip)
  missing=()
  for package in "${windows_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
      || missing+=("$package")
  done
  if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
fi

# libcurl4-openssl-dev: the CDS client's HTTP; curl: the CDS benchmark's reference.
# libcli11-dev, nlohmann-json3-dev: the korvo command; pkgconf, dpkg-dev, file:
# the install tests (pkg-config, cpack -G DEB); doxygen: the API reference (target docs);
# lintian: the Debian packages' check; man-db, groff-base: the man pages' check.
# genisoimage: the ISO 9660 image the CD search test mounts (as root, where the kernel can).
# ccache: CI keeps compiled objects between its runs (.ci/run).
# The last line: the libraries the benchmarks measure korvo against
# (msgpack-c, protobuf, OpenSSL's Base64).
packages=(cmake ninja-build g++ binutils libgtest-dev libgmock-dev libbenchmark-dev clang libacl1-dev acl doxygen
  libcurl4-openssl-dev curl libcli11-dev nlohmann-json3-dev pkgconf dpkg-dev file lintian man-db groff-base genisoimage ccache
  libmsgpack-dev libprotobuf-dev protobuf-compiler libssl-dev)
missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" \
    || missing+=("$package")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  $sudo apt-get update -q
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build

if [ -x build/tools/korvo_example ]; then
  echo "== example program"
  (cd build && ./tools/korvo_example)
fi
