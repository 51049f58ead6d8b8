#!/usr/bin/env bash
# Sets up the machine, checks the formatting, then builds and runs every test twice: an optimised build (-O3) and
# one with AddressSanitizer and UndefinedBehaviorSanitizer; then runs the fuzz targets briefly; then cross-builds
# the Windows program and runs the portable tests and the Win32 layer's under Wine. Every build here treats
# warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DSELVATRO_WARNINGS_AS_ERRORS=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

echo "== formatting (.clang-format, clang-format 14) =="
find src tests bench -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | sort -z |
    xargs -0 clang-format-14 --dry-run --Werror
echo "formatted as .clang-format says"

echo "== optimised build =="
# It is also the build that the package test packages, so it has the hardening flags a distribution builds with.
run_suite build -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr -DSELVATRO_HARDENING=ON
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build =="
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DSELVATRO_SANITIZE=ON

echo "== fuzz targets, a short fixed number of runs each =="
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSELVATRO_FUZZ=ON \
    -DSELVATRO_PLATFORM=none -DSELVATRO_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build-fuzz -j "$jobs" --target fuzz_list_file fuzz_number fuzz_row_rules
ctest --test-dir build-fuzz --output-on-failure -R '^fuzz_'

echo "== Windows: mingw-w64 cross build, tests under Wine =="
# Each test has a time limit, so that a Wine that waits for something never stalls the run.
cmake -S . -B build-windows-test -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DSELVATRO_PLATFORM=win32 -DCMAKE_BUILD_TYPE=Release -DSELVATRO_WARNINGS_AS_ERRORS=ON >/dev/null
cmake --build build-windows-test -j "$jobs"
ctest --test-dir build-windows-test --output-on-failure -j "$jobs" --timeout 120
