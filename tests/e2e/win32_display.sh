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
for tool in Xvfb openbox xprop; do
    if ! command -v "$tool" >/dev/null; then
        echo "win32_display: $tool is not installed (scripts/setup.sh installs it)" >&2
        exit 127
    fi
done

# The server and openbox as the shell tests start them (each wait bounded by $patience), on a larger screen; the
# command starts once openbox manages the screen, so that its first window is managed like any later one.
source "$(dirname "$0")/../lib/session.sh"
make_work
start_x_session -screen 0 1280x800x24 -auth /dev/null || { echo "win32_display: no X session" >&2; exit 1; }

status=0
timeout --kill-after=10 "$limit" "$@" || status=$?
if [ "$status" = 124 ]; then
    echo "win32_display: '$*' did not end within $limit s" >&2
fi
exit "$status"
