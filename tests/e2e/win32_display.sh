#!/usr/bin/env bash
# Runs a command with a private X server (Xvfb) and a window manager (openbox), as the Win32 window under Wine
# needs one: without a display CreateWindowExW fails. Everything is bounded in time, so that a test fails rather
# than hangs; the server and the window manager go with the command.
#
#   win32_display.sh [--timeout SECONDS] COMMAND [ARGUMENT...]
set -euo pipefail

limit=300
if [ "${1:-}" = --timeout ]; then
    limit=$2
    shift 2
fi
for tool in Xvfb openbox; do
    if ! command -v "$tool" >/dev/null; then
        echo "win32_display: $tool is not installed (scripts/setup.sh installs it)" >&2
        exit 127
    fi
done

work=$(mktemp -d)
xvfb=
wm=
finish() {
    [ -n "$wm" ] && kill "$wm" 2>/dev/null || true
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap finish EXIT

# The server picks a free display number and writes it once it accepts clients.
exec 8>"$work/display"
Xvfb -displayfd 8 -screen 0 1280x800x24 -nolisten tcp -auth /dev/null </dev/null >"$work/xvfb.log" 2>&1 &
xvfb=$!
exec 8>&-
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || { echo "win32_display: Xvfb did not start:" >&2; cat "$work/xvfb.log" >&2; exit 1; }
    sleep 0.1
done
[ -s "$work/display" ] || { echo "win32_display: Xvfb gave no display within 10 s" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"

openbox --sm-disable </dev/null >"$work/openbox.log" 2>&1 &
wm=$!
sleep 0.5

status=0
timeout --kill-after=10 "$limit" "$@" || status=$?
if [ "$status" = 124 ]; then
    echo "win32_display: '$*' did not end within $limit s" >&2
fi
exit "$status"
