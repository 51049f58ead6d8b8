#!/usr/bin/env bash
# The real program without a display: with DISPLAY unset, or naming a display where no X server answers, it says
# so in one line on standard error and ends with status 1, touching nothing. When the X server goes away under the
# running program, the list is saved before it ends.
#
#   no_display_test.sh EXECUTABLE
set -euo pipefail

source "$(dirname "$0")/../lib/session.sh"

exe=$1
make_work
private_home
unset WAYLAND_DISPLAY SESSION_MANAGER

dir=$work/app
install_program "$dir"
entry=$XDG_CONFIG_HOME/autostart/Selvatro.desktop

# A display number that no X server holds here.
dead=200
while [ -e "/tmp/.X11-unix/X$dead" ] || [ -e "/tmp/.X$dead-lock" ]; do dead=$((dead + 1)); done

# run_without NAME PATTERN ENV...: runs the program under `env ENV...` and checks its end.
run_without() {
    local name=$1 pattern=$2
    shift 2
    status=0
    timeout "$patience" env "$@" "$dir/selvatro" >"$work/$name.out" 2>"$work/$name.stderr" || status=$?
    check "$name: ends with status 1 (got $status)" test "$status" -eq 1
    check "$name: says so in one line (got $(wc -l <"$work/$name.stderr"))" test "$(wc -l <"$work/$name.stderr")" -eq 1
    check "$name: the line names what is missing: $(cat "$work/$name.stderr")" grep -qE "^selvatro: .*$pattern" \
        "$work/$name.stderr"
    check "$name: no list is written" test ! -e "$dir/selvatro.cfg"
    check "$name: no autostart entry is written" test ! -e "$entry"
}

run_without "no DISPLAY, xcb asked for" "DISPLAY is not set" -u DISPLAY QT_QPA_PLATFORM=xcb
run_without "no DISPLAY, no platform asked for" "DISPLAY is not set" -u DISPLAY -u QT_QPA_PLATFORM
run_without "no X server on the display" "\":$dead\"" -u QT_QPA_PLATFORM DISPLAY=":$dead"

# ---- the X server goes away while the program waits for its list to be filled ----
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    exec {display_fd}>"$work/display"
    Xvfb -displayfd "$display_fd" -screen 0 640x480x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb=$!
    pids+=("$xvfb")
    exec {display_fd}>&-
    wait_for "$patience" holds_or_ended "$xvfb" test -s "$work/display"
    if [ -s "$work/display" ]; then
        lost_display=":$(head -n1 "$work/display")"
        DISPLAY=$lost_display QT_QPA_PLATFORM=xcb "$dir/selvatro" 2>"$work/lost.stderr" &
        app=$!
        pids+=("$app")
        # The load has run once the autostart entry is written; the window then waits, normal and empty, shown.
        shown() { [ -n "$(DISPLAY=$lost_display xdotool search --onlyvisible --pid "$app" 2>/dev/null)" ]; }
        wait_for "$patience" test -e "$entry" || true
        wait_for "$patience" shown || true
        kill "$xvfb"
        reap "$app"
        check "lost: the program ends with the list saved (status $status)" test "$status" -eq 0
        list_of >"$work/empty.cfg"
        check "lost: the list holds the five empty rows" cmp -s "$dir/selvatro.cfg" "$work/empty.cfg"
        check "lost: one line says that the display went away: $(cat "$work/lost.stderr")" \
            test "$(grep -c 'X display broke' "$work/lost.stderr")" -eq 1
    else
        check "lost: Xvfb starts" false
    fi
else
    echo "SKIP: the lost display (Xvfb or xdotool is not installed)"
fi

finish_checks
