# Screenshots for the README (sourced, not run), beside tests/lib/session.sh: a window with the window manager's
# frame around it, a window's own X window alone, and waits for a window to stand still and for its picture to
# stop changing. Needs $work.

# The frame's rectangle on the screen, as ImageMagick's crop geometry: the window manager's window that holds the
# client (the child of the root window above it), with its border, title bar and, for a window that can be
# resized, the grip along the bottom.
frame_geometry() {  # frame_geometry WINDOW
    local frame=$1 parent root
    root=$(xwininfo -root | sed -n 's/.*Window id: \(0x[0-9a-f]*\).*/\1/p')
    while parent=$(xwininfo -tree -id "$frame" | sed -n 's/.*Parent window id: \(0x[0-9a-f]*\).*/\1/p') &&
        [ -n "$parent" ] && [ "$((parent))" != "$((root))" ]; do
        frame=$parent
    done
    xwininfo -id "$frame" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
        /Width/ {w=$NF} /Height/ {h=$NF} /Border width/ {b=$NF} END {print w + 2 * b "x" h + 2 * b "+" x "+" y}'
}

# No date in the files: a picture retaken unchanged is the same file, and git shows only the pictures that changed.
png_options=(-define png:exclude-chunks=date,time)

# A screenshot of the window with the window manager's frame around it.
window_shot() {  # window_shot WINDOW FILE
    import -window root "$work/root.png"
    convert "$work/root.png" -crop "$(frame_geometry "$1")" +repage "${png_options[@]}" "$2"
}

# A screenshot of the window's own X window: for a window that Wine leaves to the window manager to frame, its
# client area.
client_shot() {  # client_shot WINDOW FILE
    import -window "$1" "${png_options[@]}" "$2"
}

# settled SHOOTER WINDOW: true once two shots of the window a moment apart are the same, so that a picture is
# not taken while a window still paints, fills a list or loads its icons. SHOOTER is window_shot or client_shot.
# Meant for wait_for, which gives it its time limit.
settled() {
    "$1" "$2" "$work/settle-now.png" 2>/dev/null || return 1
    local same=1
    if [ -f "$work/settle-last.png" ] &&
        [ "$(compare -metric AE "$work/settle-last.png" "$work/settle-now.png" null: 2>&1)" = 0 ]; then
        same=0
    fi
    mv "$work/settle-now.png" "$work/settle-last.png"
    return "$same"
}
# take_settled SHOOTER WINDOW FILE: waits up to $patience seconds for the window's picture to settle, then takes it
# without the text caret: of the shots over a little more than one blink of the caret, the lightest, since the
# caret only darkens the box it stands in. A picture that never settled is taken all the same, with a note.
take_settled() {
    rm -f "$work/settle-last.png"
    local saved=$poll_s
    poll_s=0.3
    wait_for "$patience" settled "$1" "$2" || echo "note: $3 was still changing after $patience s" >&2
    poll_s=$saved
    local end=$((${EPOCHREALTIME//[!0-9]/} + 1300000)) lightest=-1 mean
    while ((${EPOCHREALTIME//[!0-9]/} < end)); do
        "$1" "$2" "$work/candidate.png"
        mean=$(convert "$work/candidate.png" -colorspace Gray -format '%[fx:int(mean * 1000000)]' info:)
        if ((mean > lightest)); then
            lightest=$mean
            cp "$work/candidate.png" "$3"
        fi
        nap 0.1
    done
}
