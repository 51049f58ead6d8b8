#!/usr/bin/env bash
# Builds Selvatro for Windows on Debian 12: installs the mingw-w64 cross compiler and Wine where they are missing,
# cross-builds, and leaves the program in build-windows/selvatro.exe, one static executable that needs nothing but
# Windows' own DLLs, with the user guide README.html beside it (the logo opens it). Extra arguments go to CMake's
# configure step (-DBUILD_TESTING=ON to build the tests too, then: ctest --test-dir build-windows).
set -euo pipefail
cd "$(dirname "$0")/.."

# Without --no-install-recommends, Wine pulls in over a hundred packages and upgrades Mesa.
packages=(cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64 wine wine64 markdown)
missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo=(sudo)
    fi
    echo "Installing: ${missing[*]}"
    "${sudo[@]}" apt-get update -qq
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DSELVATRO_PLATFORM=win32 \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF "$@"
cmake --build build-windows -j "$(nproc)"
if [ -f build-windows/selvatro.exe ]; then
    echo "Built: build-windows/selvatro.exe (copy it with README.html and docs/ wherever you like)"
else
    echo "The Windows program has no entry point yet: built the Win32 layer only" >&2
fi
