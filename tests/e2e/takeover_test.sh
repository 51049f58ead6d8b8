#!/usr/bin/env bash
# Programs the desktop already starts at logon, taken over in the real program under a private X server with
# openbox, driven through xdotool. The user's own autostart entry and a system one (in a private XDG_CONFIG_DIRS)
# are each chosen in the picker and the question answered Yes: both are then hidden for the desktop (systemd's
# autostart generator and dex leave them out), the system's file untouched, the rows name them, and a logon starts both
# at their delays. Then the rows are emptied and the window closed: both are given back.
#
#   takeover_test.sh EXECUTABLE RECORDER
set -euo pipefail

source "$(dirname "$0")/../lib/session.sh"
need_tools Xvfb openbox xdotool xprop xwininfo

exe=$1
recorder=$2
make_work

fail() {
    echo "FAIL: $*" >&2
    [ -s "$work/err" ] && cat "$work/err" >&2
    exit 1
}

start_x_session || fail "Xvfb or openbox did not start"
private_home
export XDG_CONFIG_DIRS=$work/xdg

dir=$work/app
install_program "$dir"
install_recorders "$dir" notes tray
user_autostart=$XDG_CONFIG_HOME/autostart
system_autostart=$XDG_CONFIG_DIRS/autostart
mkdir -p "$user_autostart" "$system_autostart"
printf '[Desktop Entry]\nType=Application\nName=Notes\nExec=%s --tray\nX-GNOME-Autostart-Delay=5\n' "$dir/notes" \
    >"$user_autostart/notes.desktop"
printf '[Desktop Entry]\nType=Application\nName=Tray\nExec=%s\n' "$dir/tray" >"$system_autostart/tray.desktop"
cp "$user_autostart/notes.desktop" "$work/notes.orig"
cp "$system_autostart/tray.desktop" "$work/tray.orig"

viewable() { xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
find_window() {
    found=""
    local candidate
    for candidate in $(xdotool search --pid "$app" 2>/dev/null || true); do
        if [ "$candidate" != "${win:-}" ] && [ "$(title_of "$candidate")" = "$1" ] && viewable "$candidate"; then
            found=$candidate
            return 0
        fi
    done
    return 1
}
gone() { ! viewable "$1"; }
only_the_window_shows() {
    local candidate
    for candidate in $(xdotool search --pid "$app" 2>/dev/null || true); do
        if [ "$candidate" != "$win" ] && viewable "$candidate" &&
            ! xprop -id "$candidate" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q TOOLTIP; then
            return 1
        fi
    done
}
focus_back() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$win" ] && only_the_window_shows; }
title_is() { [ "$(title_of "$win")" = "$1" ]; }
position() { xwininfo -id "$win" 2>/dev/null | sed -n 's/.*Absolute upper-left [XY]: *//p' | tr '\n' ' '; }
last_position=""
standing_still() {
    local now
    now=$(position)
    [ "$now" = "$last_position" ] && return 0
    last_position=$now
    return 1
}
# Starts the program and waits for its window, restored for editing; sets $app and $win.
open_window() {
    LANG=C.UTF-8 LANGUAGE="" LC_ALL="" "$dir/selvatro" 2>>"$work/err" &
    app=$!
    pids+=("$app")
    win=""
    find_main_window "$app" || fail "the window did not appear"
    xdotool windowactivate "$win" 2>/dev/null || true
    wait_for "$patience" title_is "Selvatro desabled" || fail "the window is not the editing one: '$(title_of "$win")'"
    wait_for "$patience" viewable "$win" || fail "the restored window is not mapped"
    last_position=""
    wait_for "$patience" standing_still || fail "the restored window does not stand still"
}
# Row i's boxes: path at x 4..320, delay at x 324..350, y = 22 + 26 i.
click_path() { xdotool mousemove --window "$win" 100 $((22 + 26 * $1 + 11)) click 1; }
click_delay() { xdotool mousemove --window "$win" 337 $((22 + 26 * $1 + 11)) click 1; }

# Chooses FILE in the picker of row ROW, answers the question Yes (its default button), and sets the row's delay.
take_over() {
    local row=$1 file=$2 delay=$3
    click_path "$row"
    wait_for "$patience" find_window "Choose the application to be started" || fail "row $row: no file dialog"
    local dialog=$found
    xdotool windowactivate --sync "$dialog"
    xdotool type "$file"
    xdotool key Return
    wait_for "$patience" find_window "Selvatro" || fail "row $row: no question"
    local question=$found
    xdotool windowactivate --sync "$question" 2>/dev/null || true
    xdotool key Return
    wait_for "$patience" gone "$question" || fail "row $row: the question stayed open"
    wait_for "$patience" gone "$dialog" || fail "row $row: the dialog stayed open"
    wait_for "$patience" focus_back || fail "row $row: the focus did not come back"
    xdotool key ctrl+a
    xdotool type "$delay"
    xdotool key Tab
}

# ---- the two entries taken over ----
open_window
take_over 0 "$user_autostart/notes.desktop" 2
take_over 1 "$system_autostart/tray.desktop" 3
hidden_by_us() { grep -qx 'Hidden=true' "$1" && grep -qx 'X-Selvatro-Took-Over=true' "$1"; }
check "the user's entry is switched off by Selvatro" hidden_by_us "$user_autostart/notes.desktop"
check "the system entry is switched off in the user's copy" hidden_by_us "$user_autostart/tray.desktop"
check "the system's file is untouched" cmp -s "$work/tray.orig" "$system_autostart/tray.desktop"
check "the user's keys stay" grep -qx 'X-GNOME-Autostart-Delay=5' "$user_autostart/notes.desktop"
generator=/usr/lib/systemd/user-generators/systemd-xdg-autostart-generator
if [ -x "$generator" ]; then
    mkdir -p "$work/generated"
    "$generator" "$work/generated" "$work/generated" "$work/generated" 2>/dev/null
    not_generated() { ! ls "$work/generated" | grep -q -e notes -e tray; }
    check "systemd's autostart generator leaves both out" not_generated
fi
if command -v dex >/dev/null; then
    dex_starts() { dex -a -d 2>/dev/null | grep -c -e "$dir/notes" -e "$dir/tray" || true; }
    check "dex, which starts them outside systemd, leaves both out" test "$(dex_starts)" -eq 0
fi

# ---- a logon: minimised, the count starts both at their delays, then the list is saved ----
xdotool windowminimize "$win"
reap "$app"
check "the logon ended by saving its list (status $status)" test "$status" -eq 0
started() { [ -e "$dir/launches.log" ] && [ "$(cut -f1 "$dir/launches.log" | sort | tr '\n' ' ')" = "$1" ]; }
wait_for "$patience" started "$dir/notes $dir/tray " || true
check "both programs were started by Selvatro" started "$dir/notes $dir/tray "
check "Notes got its argument" grep -q "^$dir/notes	1	" "$dir/launches.log"
list_of "$user_autostart/notes.desktop=2" "$system_autostart/tray.desktop=3" "=" "=" "=" >"$work/expected.cfg"
check "the rows name the entries" cmp -s "$work/expected.cfg" "$dir/selvatro.cfg"

# ---- the rows emptied and the window closed: both given back ----
open_window
for row in 1 0; do
    click_delay "$row"
    xdotool key shift+Tab ctrl+a Delete Tab
done
xdotool windowactivate --sync "$win"
xdotool key alt+F4
reap "$app"
check "the close saved the list (status $status)" test "$status" -eq 0
check "the user's entry is as it was" cmp -s "$work/notes.orig" "$user_autostart/notes.desktop"
check "the user's copy of the system entry is gone" test ! -e "$user_autostart/tray.desktop"
check "the system's file is still untouched" cmp -s "$work/tray.orig" "$system_autostart/tray.desktop"

finish_checks
