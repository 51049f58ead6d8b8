#!/usr/bin/env bash
# The list editor in the real program, under a private X server with a window manager (openbox), driven by the
# mouse and the keyboard through xdotool. A delay typed over is raised above the previous row's; a cancelled
# picker leaves the focus in its path box; a program chosen for an empty row lands with a proposed delay and the
# focus goes on to that row's delay box; the program's own executable, chosen by its bare name (which the dialog
# only finds when it opened in the row's folder), is refused with a message and the path box is emptied. The
# window is then closed through the window manager, and the list that the program saves tells the result.
#
#   editor_gui_test.sh EXECUTABLE RECORDER
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

# ---- a private X server at 96 dpi, and openbox ----
start_x_session || fail "Xvfb or openbox did not start"
private_home

# ---- the program in a folder of its own, beside four recorders; rows 0 to 2 filled ----
dir=$work/app
install_program "$dir" "$dir/tool=10" "$dir/other=20" "$dir/more=30"
install_recorders "$dir" tool other more third

LANG=C.UTF-8 LANGUAGE="" LC_ALL="" "$dir/selvatro" 2>"$work/err" &
app=$!
pids+=("$app")

restore_for_editing

picker_title="Choose the application to be started"
# Waits for the file dialog that a click opened and activates it; sets $dialog.
await_dialog() {
    wait_for "$patience" find_window "$picker_title" || fail "$1: no file dialog opened"
    dialog=$found
    xdotool windowactivate --sync "$dialog"
}

# Delay 30 typed over with 5: raised at once to one above row 1's, 21; Tab leaves the box.
click_delay 2
xdotool key ctrl+a
xdotool type 5
xdotool key Tab

# A cancelled picker: the focus stays in path box 0, so what is typed next lands at the end of its path.
click_path 0
await_dialog cancel
xdotool key Escape
wait_for "$patience" gone "$dialog" || fail "cancel: the dialog stayed open"
wait_for "$patience" focus_back || fail "cancel: the focus did not come back to the window"
xdotool key End
xdotool type x

# The program itself, named without its folder: refused with a message; path box 1 is emptied and the focus
# moves on to delay box 1, whose delay the clearing sweep removes; row 2 stays where it is. The 7 typed there
# stays until Tab leaves the box, whose sweep then lowers row 0 to 6 and clears it.
click_path 1
await_dialog refuse
xdotool type selvatro
xdotool key Return
wait_for "$patience" find_window "Selvatro" || fail "refuse: no message"
message=$found
xdotool windowactivate --sync "$message" 2>/dev/null || true
xdotool key Return
wait_for "$patience" gone "$message" || fail "refuse: the message stayed open"
wait_for "$patience" focus_back || fail "refuse: the focus did not come back to the window"
wait_for "$patience" gone "$dialog" || fail "refuse: the dialog stayed open"
xdotool type 7
xdotool key Tab

# An empty row below an empty row: the chosen program climbs to row 3 with a delay one above row 2's, and the
# focus goes to delay box 4, the clicked row's, after the clearing sweep has removed the delay proposed there.
# The 5 typed there stays alone: the row has no program and no sweep runs before the window closes.
click_path 4
await_dialog choose
xdotool type "$dir/third"
xdotool key Return
wait_for "$patience" gone "$dialog" || fail "choose: the dialog stayed open"
wait_for "$patience" focus_back || fail "choose: the focus did not come back to the window"
xdotool key End
xdotool type 5

# Closed through the window manager: the close request comes after the keystrokes, so it is handled after them.
xdotool windowactivate --sync "$win"
xdotool key alt+F4
reap "$app"
[ "$status" -eq 0 ] || fail "the program did not end by saving its list (status $status)"

list_of "$dir/toolx=6" "=" "$dir/more=21" "$dir/third=22" "=5" >"$work/expected.cfg"
if ! cmp -s "$work/expected.cfg" "$dir/selvatro.cfg"; then
    echo "--- expected" >&2
    cat -A "$work/expected.cfg" >&2
    echo "--- saved" >&2
    cat -A "$dir/selvatro.cfg" >&2
    fail "the saved list is not the edited one"
fi
if [ -e "$dir/launches.log" ]; then
    fail "a program was started while the list was being edited"
fi
if grep -v 'XDG_RUNTIME_DIR' "$work/err" | grep -q .; then
    cat "$work/err" >&2
fi
echo "editor: all checks passed"
