#!/usr/bin/env bash
# Builds Selvatro for Windows on Debian 12: installs the mingw-w64 cross compiler and Wine where they are missing,
# cross-builds, and leaves the program in build-windows/selvatro.exe, one static executable that needs nothing but
# Windows' own DLLs, with the user guide README.html beside it (the logo opens it). Extra arguments go to CMake's
# configure step (-DBUILD_TESTING=ON to build the tests too, then: ctest --test-dir build-windows).
set -euo pipefail
cd "$(dirname "$0")/.."

source scripts/lib/install.sh
install_missing cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64 wine wine64 markdown

cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DSELVATRO_PLATFORM=win32 \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "$@"
cmake --build build-windows -j "$(nproc)"
echo "Built: build-windows/selvatro.exe (copy it with README.html and docs/ wherever you like)"
