#!/usr/bin/env bash
# Runs a Windows program under Wine for the cross build's tests, with a Wine prefix private to the build folder.
#
# Wine's own pitfalls, cured here once for every test:
# - Wine's background services (the server, services.exe, explorer.exe) outlive the first program and inherit its
#   standard streams; started from ctest, they hold ctest's pipe open and the first test hangs until its timeout.
#   So the server is started first, kept for 60 s after its last client (-p60, not a bare -p: `wineserver -w`
#   never returns while a persistent server runs), and a first `wine cmd /c exit` with its streams on /dev/null
#   brings the services up detached from any pipe of ours.
# - A new prefix takes about 9 s to make; it is made once, under a lock, since ctest runs tests in parallel.
# - Mono's installer would ask on screen: it is not wanted. The prefix is made without a display, so that Gecko's
#   installer cannot ask either; HTML's shell association, which the browser lookup needs, is registered all the
#   same.
set -euo pipefail

build=${SELVATRO_WINE_BUILD_DIR:-$PWD}
# ctest runs each test in its own folder of the build: the prefix belongs to the top of the build, the first
# folder upwards that holds CMakeCache.txt.
while [ "$build" != / ] && [ ! -f "$build/CMakeCache.txt" ]; do
    build=$(dirname "$build")
done
if [ "$build" = / ]; then
    build=$PWD
fi

export WINEPREFIX=${WINEPREFIX:-$build/wineprefix}
export WINEARCH=win64
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree=}

for tool in wine wineserver; do
    if ! command -v "$tool" >/dev/null; then
        echo "wine-run: $tool is not installed (bash scripts/build-windows.sh installs it)" >&2
        exit 127
    fi
done

# SELVATRO_WINE_READY=1 says that the caller has just run a program through this runner with the same display, so
# that all of the above holds: Wine is run at once. A test that times a program's start sets it, so as to time the
# program rather than this preparation, which takes seconds on a busy machine.
if [ "${SELVATRO_WINE_READY:-}" = 1 ]; then
    exec wine "$@"
fi

mkdir -p "$WINEPREFIX"
(
    flock -w 300 9 || { echo "wine-run: the Wine prefix stays locked: $WINEPREFIX" >&2; exit 1; }
    # Nothing started here may inherit the lock's descriptor: a server holding it would keep every later test
    # waiting for the lock until the server ends.
    if [ ! -f "$WINEPREFIX/.selvatro-ready" ]; then
        timeout 120 env -u DISPLAY wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
        timeout 60 wineserver -w </dev/null >/dev/null 2>&1 9>&- || true
        touch "$WINEPREFIX/.selvatro-ready"
    fi
    # Wine's desktop process belongs to the display of the program that started the server, and serves every
    # later program of the prefix: a test with another display (its own Xvfb; or none) would find no desktop
    # window. So a program for another display than the running server's ends that server first. The window's
    # tests run alone (RUN_SERIAL), so no other test's program is running then.
    if [ "$(cat "$WINEPREFIX/.selvatro-display" 2>/dev/null)" != "${DISPLAY:-}" ]; then
        wineserver -k </dev/null >/dev/null 2>&1 9>&- || true
        timeout 30 wineserver -w </dev/null >/dev/null 2>&1 9>&- || true
        printf '%s' "${DISPLAY:-}" >"$WINEPREFIX/.selvatro-display"
    fi
    wineserver -p60 </dev/null >/dev/null 2>&1 9>&- || true
    timeout 60 wine cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
) 9>"$WINEPREFIX/.selvatro-lock"

exec wine "$@"
