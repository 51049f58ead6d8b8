#!/usr/bin/env bash
# Retakes every picture in docs/, each under a private X server (Xvfb) with openbox:
# - the Linux window restored with its list, in English and in French, and Qt's file dialog in French
#   (tests/e2e/window_test.sh, which checks the window as it goes);
# - the Windows window under Wine, in English and in French, and the installer's folder page in both languages
#   (tests/e2e/win32_screenshots.sh, in a Wine prefix of its own).
# Installs what the pictures need where it is missing, builds the Linux program in build/ unless one is given, and
# the Windows program and its installer in build-windows/ (scripts/package-windows.sh).
#
#   scripts/screenshots.sh [--linux | --windows] [SELVATRO]
#
# --linux or --windows retakes that desktop's pictures alone; SELVATRO is the Linux program to show (the build's
# `screenshots` target passes its own).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

which=both
case "${1:-}" in
    --linux | --windows)
        which=${1#--}
        shift
        ;;
esac
program=${1:-}
# The window test's own artefacts and the packaging's log: not kept.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/selvatro-shots.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

source scripts/lib/install.sh
# The X server, its window manager and tools, ImageMagick; Qt's French; the French locale's source for Wine.
install_missing xvfb xauth openbox xdotool x11-utils imagemagick qt6-translations-l10n locales

# Each part runs to its end even when the other failed, so that one broken desktop does not keep the other's
# pictures from being retaken; the script fails if either did.
failed=()

if [ "$which" != windows ]; then
    if [ -z "$program" ]; then
        [ -f build/CMakeCache.txt ] || cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
        cmake --build build -j "$(nproc)" --target selvatro
        program=build/selvatro
    fi
    echo "== Linux: the window in English and French, the file dialog in French =="
    bash tests/e2e/window_test.sh "$program" "$scratch/artefacts" "$root/docs" || failed+=(linux)
fi

if [ "$which" != linux ]; then
    echo "== Windows: the window and the installer under Wine, in English and French =="
    log=$scratch/package.log
    # The packaging script's last line is the installer's path.
    if bash scripts/package-windows.sh | tee "$log"; then
        installer=$(tail -n1 "$log")
        bash tests/e2e/win32_display.sh --timeout 300 bash tests/e2e/win32_screenshots.sh build-windows/selvatro.exe \
            "$installer" cmake/wine-run.sh "$root/docs" || failed+=(windows)
    else
        failed+=(windows)
    fi
fi

if ((${#failed[@]})); then
    echo "screenshots: the ${failed[*]} pictures could not all be retaken" >&2
    exit 1
fi
echo "Retaken: $(cd docs && echo *.png)"
