# Shared by the tests that drive the restored window with the mouse and the keyboard (sourced after session.sh, not
# run): the main window's caption, its boxes clicked, the focus back in it once a dialog of ours has gone, and the
# window restored for editing. $app is the program's process, $win its main window.

title_is() { [ "$(title_of "$win")" = "$1" ]; }

# The boxes in the window's client area: row i at y = 22 + 26 i, 23 high; path boxes at x 4..320, delay boxes
# at x 324..350.
click_path() { xdotool mousemove --window "$win" 100 $((22 + 26 * $1 + 11)) click 1; }
click_delay() { xdotool mousemove --window "$win" 337 $((22 + 26 * $1 + 11)) click 1; }
# Once a dialog of ours has gone, the window manager gives the focus back to the window a moment later: keys
# typed before that would reach no window at all. The file dialog's completion popup may also outlive the dialog
# for a moment (Qt tears the dialog's file model down after exec returns), and while it shows it holds the
# keyboard: keys typed then are lost.
only_the_window_shows() {
    local candidate
    for candidate in $(xdotool search --pid "$app" 2>/dev/null || true); do
        if [ "$candidate" != "$win" ] && viewable "$candidate" &&
            ! xprop -id "$candidate" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q TOOLTIP; then
            return 1  # a tip may show meanwhile; it takes no keys
        fi
    done
}
focus_back() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$win" ] && only_the_window_shows; }

# Waits for the program's main window and restores it, as a user who edits the list does (the count pauses); sets
# $win. Ends the test through the caller's `fail` when that does not happen.
restore_for_editing() {
    win=""
    find_main_window "$app" || fail "the window did not appear"
    xdotool windowactivate "$win" 2>/dev/null || true
    wait_for "$patience" title_is "Selvatro desabled" ||
        fail "the restored window is not the editing one: '$(title_of "$win")'"
    wait_for "$patience" viewable "$win" || fail "the restored window is not mapped"
    last_position=""
    wait_for "$patience" standing_still "$win" || fail "the restored window does not stand still"
}
