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
source "$(dirname "$0")/window_driving.sh"
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

# Starts the program and waits for its window, restored for editing; sets $app and $win.
open_window() {
    LANG=C.UTF-8 LANGUAGE="" LC_ALL="" "$dir/selvatro" 2>>"$work/err" &
    app=$!
    pids+=("$app")
    restore_for_editing
}
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
