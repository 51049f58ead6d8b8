#!/usr/bin/env bash
# Desktop entries in the list, in the real program under a private X server with a window manager (openbox): a row
# that names an application entry starts, at its second, the program that the entry's Exec line names (found on
# $PATH) with both of its arguments, in the entry's working folder; a row that names a hidden entry stops the run
# with the very message that a path naming nothing gets, which a second run, with the entry deleted, shows for
# comparison.
#
#   desktop_entry_test.sh EXECUTABLE RECORDER
set -euo pipefail

source "$(dirname "$0")/../lib/session.sh"
source "$(dirname "$0")/shots.sh"
need_tools Xvfb openbox xdotool xprop xwininfo import compare

exe=$1
recorder=$2
make_work

start_x_session || { echo "FAIL: Xvfb or openbox did not start" >&2; exit 1; }
private_home

# ---- the program and its list: the entry at 2 s, the hidden entry at 3 s; the recorder "tool" on $PATH ----
dir="$work/my apps"
place="$work/work place"
entry="$dir/Tool.desktop"
hidden="$dir/Gone.desktop"
install_recorders "$work/bin" tool
mkdir -p "$dir" "$place"
printf '[Desktop Entry]\nType=Application\nName=Tool\nPath=%s\nExec=tool "first argument" second %%U\n' "$place" \
    >"$entry"
printf '[Desktop Entry]\nType=Application\nName=Gone\nExec=tool\nHidden=true\n' >"$hidden"
install_program "$dir" "$entry=2" "$hidden=3"
cp "$dir/selvatro.cfg" "$work/list.cfg"
export PATH="$work/bin:$PATH" SELVATRO_RECORD="$work/record" SELVATRO_RECORDER_LOG="$work/launches.log"

# run NAME: starts the program and waits for the message; sets $t0, $app, $win and $box, and takes a picture of
# the message, once it stands still and no longer changes, as $work/NAME.png.
run() {
    t0=$(now)
    LANG=C.UTF-8 LANGUAGE="" LC_ALL="" "$dir/selvatro" 2>"$work/$1.err" &
    app=$!
    pids+=("$app")
    win=""
    box=""
    find_main_window "$app" || return 0
    wait_for "$patience" find_window Selvatro || return 0
    box=$found
    xdotool windowactivate --sync "$box" 2>/dev/null || true
    xdotool mousemove 1020 760  # the pointer over the button would light it
    last_position=""
    wait_for "$patience" standing_still "$box" || true
    rm -f "$work/settle-last.png"
    local saved=$poll_s
    poll_s=0.3
    wait_for "$patience" settled client_shot "$box" && cp "$work/settle-last.png" "$work/$1.png"
    poll_s=$saved
}

# close_message NAME: closes the message, as the user would; the window comes back, and a minimise ends the run.
close_message() {
    if [ -n "$box" ]; then
        xdotool windowactivate --sync "$box" 2>/dev/null || true
        xdotool key Return
    fi
    check "$1: closing the message restores the window" wait_for "$patience" state_is "$win" Normal
    xdotool windowminimize "$win"
    reap "$app"
    check "$1: the first tick after the minimise ends the program with status 0 (got $status)" test "$status" -eq 0
    check "$1: the list is saved unchanged" cmp -s "$dir/selvatro.cfg" "$work/list.cfg"
}

# ---- the entry starts its program; the hidden entry is a missing program ----
run hidden
check "the window appears" test -n "$win"
check "the entry's program started" wait_for "$patience" test -s "$work/record"
started=$(awk -F'\t' 'NR == 1 { print $4 }' "$work/launches.log" 2>/dev/null || true)
check "the entry's program started at its second, about 2 s after launch (got $started, launched $t0)" \
    within "$t0" "${started:-0}" 1.8 6
check "it is the program that \$PATH gives (got: $(cat "$work/record.name" 2>/dev/null))" \
    test "$(cat "$work/record.name" 2>/dev/null)" = "$work/bin/tool"
check "it got both arguments and nothing for %U (got: $(tail -n +8 "$work/record" 2>/dev/null | tr '\n' '|'))" \
    test "$(tail -n +8 "$work/record" 2>/dev/null)" = $'2\nfirst argument\nsecond'
check "it runs in the entry's working folder (got: $(cat "$work/record.folder" 2>/dev/null))" \
    test "$(cat "$work/record.folder" 2>/dev/null)" = "$place"
check "the hidden entry brings the message" test -n "$box"
starts() { cat "$work/launches.log" 2>/dev/null | wc -l; }
check "the hidden entry started nothing (got $(starts) starts)" test "$(starts)" -eq 1
check "the hidden entry is no start failure: the program runs on" alive "$app"
hidden_recorded() {
    grep -qF "row 2 missing: [$hidden] Can not find this file" "$work/hidden.err" &&
        ! grep -q 'stopped the run' "$work/hidden.err"
}
check "the record tells the missing program, and no start failure" hidden_recorded
check "a picture of the message was taken" test -s "$work/hidden.png"
close_message hidden

# ---- the same row with the entry deleted: the message that a path naming nothing gets ----
rm "$hidden"
run deleted
check "the deleted entry brings the message" test -n "$box"
if [ -s "$work/hidden.png" ] && [ -s "$work/deleted.png" ]; then
    difference=$(compare -metric AE "$work/hidden.png" "$work/deleted.png" null: 2>&1 || true)
    check "the hidden entry's message is the missing file's, pixel for pixel ($difference pixels differ)" \
        test "$difference" = 0
fi
close_message deleted

finish_checks
