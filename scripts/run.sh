#!/usr/bin/env bash
# Sets up the machine, builds Selvatro and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
# Release, like the test command's optimised build, which shares this folder.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build -j "$(nproc)"
exec build/selvatro
