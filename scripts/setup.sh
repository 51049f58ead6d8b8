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
    scdoc lintian rpm rpmlint               # its manual page; Debian's checker; the RPM and its checker
    valgrind                                # the reliability tests
    dbus-daemon                             # a private session bus for the program start's tests
    systemd dex                             # a real user manager and its autostart generator; dex
    g++-mingw-w64-x86-64-posix mingw-w64    # the Windows build
    wine wine64 locales                     # its tests (a French locale is made for one)
    nsis zip                                # the Windows installer and the portable archive
    wixl msitools                           # the Windows Installer package (.msi)
)
# bench/run.sh: the analysis, the window watcher, the probes on the tick (bash scripts/setup.sh --bench)
if [ "${1:-}" = --bench ]; then
    packages+=(python3 libx11-dev linux-perf)
fi

source "$(dirname "$0")/lib/install.sh"
install_missing "${packages[@]}"
