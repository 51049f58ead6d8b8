#!/usr/bin/env bash
# The real window under a private X server with a window manager (openbox): it starts minimised and counts in
# its title, a restore pauses the count with the disabled caption, a minimise resumes it where it stopped, and
# the normal window's controls stand where the design puts them (checked on a screenshot, at 96 dpi).
#
#   window_test.sh EXECUTABLE ARTEFACT_FOLDER [DOCS_FOLDER]
#
# With DOCS_FOLDER, English and French screenshots of the window, and of the file dialog in French, are written
# there for the README.
set -euo pipefail

source "$(dirname "$0")/../lib/session.sh"
source "$(dirname "$0")/shots.sh"
need_tools Xvfb openbox xdotool xprop xwininfo import convert compare

exe=$1
artefacts=$2
docs=${3:-}
mkdir -p "$artefacts"
make_work

# ---- a private X server at 96 dpi, and openbox ----
start_x_session || { echo "FAIL: Xvfb or openbox did not start" >&2; exit 1; }
private_home

# Starts the program from a folder of its own with the given list (rows as PATH=DELAY, the others left empty)
# and locale; sets $win and $app.
start_program() {  # start_program NAME LANG LANGUAGE ROW...
    local name=$1 lang=$2 language=$3
    shift 3
    local dir="$work/$name"
    install_program "$dir" "$@"
    cp "$dir/selvatro.cfg" "$work/$name.cfg"
    LANG=$lang LANGUAGE=$language LC_ALL="" "$dir/selvatro" 2>"$work/$name.err" &
    app=$!
    pids+=("$app")
    find_main_window "$app"
}

# Ends the program through SIGTERM; the list must come back byte for byte.
stop_program() {  # stop_program NAME
    kill -TERM "$app"
    reap "$app"
    check "$1: SIGTERM ends the program with status 0 (got $status)" test "$status" -eq 0
    check "$1: the list is saved unchanged" cmp -s "$work/$1/selvatro.cfg" "$work/$1.cfg"
}

# Crops the screenshot to the window's client area and prints "x y #RRGGBB" for every pixel.
client_pixels() {  # client_pixels SHOT WINDOW
    local x y
    x=$(xwininfo -id "$2" | sed -n 's/.*Absolute upper-left X: *//p')
    y=$(xwininfo -id "$2" | sed -n 's/.*Absolute upper-left Y: *//p')
    convert "$1" -crop "356x200+$x+$y" +repage txt:- |
        sed -n 's/^\([0-9]*\),\([0-9]*\): ([^)]*) *\(#[0-9A-F]\{6\}\).*/\1 \2 \3/p'
}

# The ten boxes, the gaps between them and the logo, checked in the screenshot of the client area.
check_layout() {  # check_layout PIXELS_FILE
    awk '
        { colour[$1 "," $2] = $3 }
        function at(x, y) { return colour[x "," y] }
        function expect(what, ok) { if (!ok) { print "layout: " what; bad++ } }
        END {
            grey = "#C0C0C0"; cyan = "#C0FFFF"; yellow = "#FFFFC0"
            for (row = 0; row < 5; ++row) {
                top = 22 + 26 * row; bottom = top + 22; mid = top + 11
                # Path box: 4..320 wide, 23 high; delay box: 324..350.
                expect("Text1(" row ") left edge",   at(3, mid) == grey && at(4, mid) != grey)
                expect("Text1(" row ") right edge",  at(320, mid) != grey && at(321, mid) == grey)
                expect("Text2(" row ") left edge",   at(323, mid) == grey && at(324, mid) != grey)
                expect("Text2(" row ") right edge",  at(350, mid) != grey && at(351, mid) == grey)
                expect("Text1(" row ") top edge",    at(200, top - 1) == grey && at(200, top) != grey)
                expect("Text1(" row ") bottom edge", at(200, bottom) != grey && at(200, bottom + 1) == grey)
                expect("Text2(" row ") top edge",    at(337, top - 1) == grey && at(337, top) != grey)
                expect("Text2(" row ") bottom edge", at(337, bottom) != grey && at(337, bottom + 1) == grey)
                if (row > 0) {
                    expect("Text1(" row ") is light cyan", at(300, mid) == cyan)
                    expect("Text2(" row ") is light yellow", at(327, mid) == yellow)
                }
            }
            expect("background", at(1, 199) == grey && at(354, 100) == grey)
            # The logo: the frame from (4,156), 349 x 41, the banner clipped in it, the 4 bottom rows bare.
            expect("logo left edge", at(3, 170) == grey && at(4, 170) != grey)
            expect("logo right edge", at(352, 170) != grey && at(353, 170) == grey)
            expect("logo top edge", at(100, 155) == grey && at(100, 156) != grey)
            expect("logo bottom", at(100, 192) != grey && at(100, 193) == grey)
            exit bad > 0
        }' "$1"
}

# ---- English: minimised and counting, restored, minimised again ----
dir="$work/english"
check "english: the window appears" start_program english C.UTF-8 "" \
    "$dir/nothing-yet=30"
if [ -n "$win" ]; then
    check "english: the window starts iconified" wait_for "$patience" state_is "$win" Iconic
    check "english: the title counts the seconds" wait_for "$patience" title_matches "$win" '^2 sec\.$'
    xdotool windowactivate "$win" 2>/dev/null || true
    check "english: a restore shows the normal window" wait_for "$patience" state_is "$win" Normal
    check "english: the restored window says it is disabled" \
        wait_for "$patience" title_matches "$win" '^Selvatro desabled$'
    stopped=$(xprop -id "$win" _NET_WM_NAME WM_NAME | sed -n 's/.*= "\([0-9]*\) sec\..*/\1/p' | head -n1)
    sleep 1.5
    check "english: the count pauses while the window is normal" title_matches "$win" '^Selvatro desabled$'
    xdotool mousemove 1000 700
    sleep 0.3
    import -window root "$artefacts/window-normal.png"
    client_pixels "$artefacts/window-normal.png" "$win" >"$work/pixels.txt"
    check "english: the controls stand where the design puts them" check_layout "$work/pixels.txt"

    # Minimise: the count goes on from where it stopped (the restore came after 2 or 3 ticks).
    xdotool windowminimize "$win"
    check "english: minimise iconifies the window" wait_for "$patience" state_is "$win" Iconic
    # The first count shown after the minimise.
    first=""
    counted() {
        [[ "$(title_of "$win")" =~ ^([0-9]+)\ sec\.$ ]] || return 1
        first=${BASH_REMATCH[1]}
    }
    wait_for "$patience" counted || true
    check "english: the count resumes after a minimise (got '$first')" test -n "$first"
    check "english: the count resumes at 3 or 4, one past where it stopped (got '$first')" \
        test "${first:-0}" -ge 3 -a "${first:-0}" -le 4
    stop_program english
fi

# ---- A missing program: the message shows over the minimised window, the window comes back with the path
# selected, and the first tick after the next minimise saves and ends ----
check "missing: the window appears" start_program missing C.UTF-8 "" "$work/missing/not-there=2"
if [ -n "$win" ]; then
    found=""
    wait_for "$patience" find_window Selvatro || true
    box=$found
    check "missing: the message shows while the window is minimised" test -n "$box"
    check "missing: the window stays minimised behind it" state_is "$win" Iconic
    sleep 2.2
    check "missing: the count stops behind the message" title_matches "$win" '^2 sec\.$'
    if [ -n "$box" ]; then
        xdotool windowactivate --sync "$box" 2>/dev/null || true
        xdotool key Return
    fi
    check "missing: closing the message restores the window" wait_for "$patience" state_is "$win" Normal
    check "missing: the restored window says it is disabled" \
        wait_for "$patience" title_matches "$win" '^Selvatro desabled$'
    xdotool windowminimize "$win"
    reap "$app"
    check "missing: the first tick after the minimise ends the program with status 0 (got $status)" \
        test "$status" -eq 0
    check "missing: the list is saved unchanged" cmp -s "$work/missing/selvatro.cfg" "$work/missing.cfg"
fi

# ---- French: texts and caption ----
dir="$work/french"
check "french: the window appears" start_program french fr_FR.UTF-8 fr \
    "/usr/bin/thunderbird=15" "/usr/bin/xterm=25" "/opt/outils/sauvegarde=40"
if [ -n "$win" ]; then
    xdotool windowactivate "$win" 2>/dev/null || true
    check "french: the restored window says it is disabled, in French" \
        wait_for "$patience" title_matches "$win" '^Selvatro désactivé$'
    if [ -n "$docs" ]; then
        last_position=""
        check "french: the restored window stands still" wait_for "$patience" standing_still "$win"
        xdotool mousemove 1000 700
        take_settled window_shot "$win" "$docs/window-fr.png"
        # The picker of an empty row opens at the root, in French once Qt's translations are installed.
        xdotool mousemove --window "$win" 100 $((22 + 26 * 3 + 11)) click 1
        check "french: a click in an empty row opens the file dialog" \
            wait_for "$patience" find_window "Choisissez l'application à démarrer"
        dialog=$found
        if [ -n "$dialog" ]; then
            xdotool mousemove 1000 700
            take_settled window_shot "$dialog" "$docs/file-dialog-fr.png"
            xdotool windowactivate --sync "$dialog" key Escape 2>/dev/null || true
            check "french: Escape closes the file dialog" wait_for "$patience" gone "$dialog"
        fi
    fi
    stop_program french
fi

# ---- English with a list, for the README ----
if [ -n "$docs" ]; then
    dir="$work/docs"
    start_program docs en_GB.UTF-8 "" \
        "/usr/bin/thunderbird=15" "/usr/bin/xterm=25" "/opt/tools/backup=40"
    xdotool windowactivate "$win" 2>/dev/null || true
    wait_for "$patience" title_matches "$win" '^Selvatro desabled$'
    last_position=""
    wait_for "$patience" standing_still "$win"
    xdotool mousemove 1000 700
    take_settled window_shot "$win" "$docs/window-en.png"
    stop_program docs
fi

finish_checks
