#!/usr/bin/env bash
# Sets up the machine, builds Selvatro and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build build -j "$(nproc)"
if [ ! -x build/selvatro ]; then
    echo "Selvatro's window is not built yet: only its core and its tests exist so far."
    exit 0
fi
exec build/selvatro
