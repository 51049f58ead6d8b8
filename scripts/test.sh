#!/usr/bin/env bash
# Sets up the machine, then builds and runs every test twice: a normal build, and one with AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

echo "== normal build =="
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build =="
run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DSELVATRO_SANITIZE=ON

echo "== fuzz targets, a short fixed number of runs each =="
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSELVATRO_FUZZ=ON \
    -DSELVATRO_DESKTOP=OFF >/dev/null
cmake --build build-fuzz -j "$jobs" --target fuzz_list_file fuzz_number fuzz_row_rules
ctest --test-dir build-fuzz --output-on-failure -R '^fuzz_'
