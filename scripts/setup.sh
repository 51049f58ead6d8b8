#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Selvatro need, skipping those present;
# with --bench, also those of the benchmark.
set -euo pipefail

packages=(
    g++ cmake ninja-build pkg-config        # the build
    qt6-base-dev libglib2.0-dev             # the window; the desktop's MIME database
    qt6-translations-l10n                   # Qt's own buttons and dialogs in the user's language
    libgtest-dev clang-format-14            # the tests; the format check
    clang libclang-rt-14-dev                # the fuzz targets (libFuzzer)
    xvfb xauth openbox xdotool x11-utils    # a real X server with a window manager, for the window's tests
    imagemagick desktop-file-utils          # screenshots; the autostart entry's validator
    appstream dpkg-dev markdown             # the package: metainfo check, library dependencies, HTML guide
    valgrind                                # the reliability tests
    dbus-daemon                             # a private session bus for the program start's tests
    g++-mingw-w64-x86-64-posix mingw-w64    # the Windows build
    wine wine64 locales                     # its tests (a French locale is made for one)
    nsis zip                                # the Windows installer and the portable archive
)
# bench/run.sh: the analysis, the window watcher, the probes on the tick (bash scripts/setup.sh --bench)
if [ "${1:-}" = --bench ]; then
    packages+=(python3 libx11-dev linux-perf)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
