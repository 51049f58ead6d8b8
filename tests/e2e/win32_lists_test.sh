#!/usr/bin/env bash
# Lists as Windows users keep them, under Wine: a hidden list, one that another program holds open at start, one in
# UTF-16 without its mark and one in UTF-8 without its mark (as Notepad writes it) each load and survive an open
# and a close; a renamed program's Startup link names it; the same folder through its short name runs one copy.
#
#   win32_lists_test.sh SELVATRO_EXE RECORDER_EXE HOLD_EXE WINE_RUNNER     (under win32_display.sh: needs $DISPLAY)
set -euo pipefail

exe=$1
recorder=$2
hold=$3
runner=$4
[ -n "${DISPLAY:-}" ] || { echo "win32_lists_test: no DISPLAY (run it under win32_display.sh)" >&2; exit 1; }
# UTF-8 file names, and the Western ANSI code page that the expected bytes below are written in.
export LC_ALL=C.UTF-8

source "$(dirname "$0")/win32_lib.sh"
make_work
wine_prefix

# start_copy PROGRAM: runs it from its folder in the background, its exit status into $work/status; sets copy.
start_copy() {
    rm -f "$work/status"
    (
        status=0
        cd "$(dirname "$1")" && timeout 120 "$runner" "$1" </dev/null >/dev/null 2>&1 || status=$?
        echo "$status" >"$work/status"
    ) &
    copy=$!
    pids+=($copy)
}
copy_ended() { [ -s "$work/status" ]; }
# run_to_end PROGRAM WHAT: runs it until it ends by itself and checks that it ended with status 0.
run_to_end() {
    start_copy "$1"
    wait_for "$patience" copy_ended || true
    check "$2 runs to its end (status $(cat "$work/status" 2>/dev/null))" test "$(cat "$work/status" 2>/dev/null)" = 0
}
# close_copy IMAGE: closes the running program as Windows' task list does (WM_CLOSE) and waits for its end; prints its
# status.
close_copy() {
    wine_run taskkill /im "$1" >/dev/null 2>&1 || true
    wait_for "$patience" copy_ended || true
    cat "$work/status" 2>/dev/null || echo none
}
counting() { [ -n "$(window_named ' sec\.$')" ]; }
attributes() { wine_run cmd /c attrib "$(windows_path "$1")" 2>/dev/null | tr -d '\r'; }

# ---- a hidden (and system) list in a hand-made spelling: loaded, counted, and written back tidied and still hidden ----
install hidden alpha.exe=30
windows=$(windows_path "$dir")
printf '%s\\alpha.exe,30\r\n' "$windows" >"$dir/selvatro.cfg"
# Wine's attrib takes one flag a call.
wine_run cmd /c attrib +h "$windows\\selvatro.cfg" >/dev/null 2>&1
wine_run cmd /c attrib +s "$windows\\selvatro.cfg" >/dev/null 2>&1
# attrib's columns before the name: A, S, H and R where set.
flags() { attributes "$1" | sed 's/[A-Za-z]:\\.*//'; }
check "the list is hidden before the start (attrib: $(attributes "$dir/selvatro.cfg"))" \
    grep -q 'S.*H' <(flags "$dir/selvatro.cfg")
start_copy "$dir/selvatro.exe"
check "a hidden list is loaded: the window counts" wait_for "$patience" counting
status=$(close_copy selvatro.exe)
check "closing the window ends with status 0 (got $status)" test "$status" = 0
check "the hidden list is written back whole, tidied" \
    test "$(cat "$dir/selvatro.cfg")" = "$(printf '"%s\\alpha.exe","30"\r\n"",""\r\n"",""\r\n"",""\r\n"",""\r' "$windows")"
check "and stays hidden and a system file (attrib: $(attributes "$dir/selvatro.cfg"))" \
    grep -q 'S.*H' <(flags "$dir/selvatro.cfg")

# ---- a list that another program holds open at start: the user is told, the window opens empty, and closing it
# after the other program let go leaves the list as it was ----
install locked alpha.exe=30
cp "$dir/selvatro.cfg" "$work/locked.cfg"
: >"$work/held"
# Held far longer than a start takes on a busy machine, and let go once the start is over: its process is ended.
(cd "$dir" && timeout 150 "$runner" "$hold" selvatro.cfg 120 </dev/null >"$work/held" 2>&1) &
holder=$!
pids+=($holder)
held() { grep -q held "$work/held"; }
check "another program holds the list" wait_for "$patience" held
start_copy "$dir/selvatro.exe"
# The message comes during the start, before the main window is shown: the only window of that name on screen. A key
# that the box did not get yet is pressed again.
message=
for attempt in 1 2 3; do
    await $((attempt == 1 ? patience : 3)) visible_named '^Selvatro$' || break
    message=$found
    xdotool windowactivate --sync "$message" key --clearmodifiers Return 2>/dev/null || true
    await 5 visible_named '^Selvatro d' && break
done
check "the user is told that the list could not be read" test -n "$message"
check "the window opens with the count paused" await "$patience" visible_named '^Selvatro d'
wine_run taskkill /f /im "$(basename "$hold")" >/dev/null 2>&1 || true
wait "$holder" || true
status=$(close_copy selvatro.exe)
check "closing the window ends with status 0 (got $status)" test "$status" = 0
check "the list held at the start is left as it was" cmp -s "$dir/selvatro.cfg" "$work/locked.cfg"
check "nothing was started" test ! -e "$dir/launches.log"

# ---- UTF-16 without its mark: read as text, its program started, saved in the code page ----
install utf16 alpha.exe=2
cp "$dir/selvatro.cfg" "$work/utf16.cfg"
iconv -f UTF-8 -t UTF-16LE "$work/utf16.cfg" >"$dir/selvatro.cfg"
run_to_end "$dir/selvatro.exe" "a list in UTF-16 without its mark"
check "its program started (got: $(started_names "$dir"))" test "$(started_names "$dir")" = "alpha "
check "and it is saved as the same list" cmp -s "$dir/selvatro.cfg" "$work/utf16.cfg"

# ---- UTF-8 without its mark, a folder named café: its program starts, the file is left byte for byte ----
install café alpha.exe=2
cp "$dir/selvatro.cfg" "$work/utf8.cfg"
check "the list holds UTF-8 without a mark" env LC_ALL=C grep -q $'^"[^\xef]*caf\xc3\xa9' "$dir/selvatro.cfg"
run_to_end "$dir/selvatro.exe" "a list in UTF-8 without its mark"
check "its program in café started (got: $(started_names "$dir"))" test "$(started_names "$dir")" = "alpha "
check "the list is left byte for byte" cmp -s "$dir/selvatro.cfg" "$work/utf8.cfg"

# ---- a renamed program, as a browser names a second download: its Startup link starts it under that name ----
install renamed alpha.exe=2
mv "$dir/selvatro.exe" "$dir/selvatro (1).exe"
[ -n "$startup" ] && rm -f "$startup"/*.lnk
run_to_end "$dir/selvatro (1).exe" "the renamed program"
link=$(find "${startup:-/nonexistent}" -iname 'Selvatro.lnk' -print -quit 2>/dev/null || true)
check "the Startup link keeps its name" test -n "$link"
# The link holds its target in the ANSI code page and in UTF-16: either, with the NULs dropped, names it.
check "the Startup link names the renamed program" grep -aq 'selvatro (1)\.exe' <(tr -d '\000' <"${link:-/dev/null}")

# ---- the same folder through its short 8.3 name: one copy per list, the second start brings the first back ----
install 'alias folder' alpha.exe=30
cp "$dir/selvatro.cfg" "$work/alias.cfg"
parent=$(windows_path "$(dirname "$dir")")
# dir /x shows each entry's short name before its long one.
short=$(wine_run cmd /c dir /x "$parent" 2>/dev/null | tr -d '\r' | awk '/ my apps$/ { print $(NF - 2) }')
check "the folder has a short name ($short)" test -n "$short" -a "$short" != "<DIR>"
short="$parent\\$short"
start_copy "$dir/selvatro.exe"
first=$copy
check "the first copy counts" wait_for "$patience" counting
status=0
timeout 60 "$runner" "$short\\selvatro.exe" </dev/null >/dev/null 2>&1 || status=$?
check "a start through the short name ends at once with status 0 (got $status)" test "$status" -eq 0
check "the first copy's window came back" await "$patience" window_named '^Selvatro d'
status=$(close_copy selvatro.exe)
wait "$first" 2>/dev/null || true
check "the first copy, closed, ends with status 0 (got $status)" test "$status" = 0
check "only one copy ran: nothing was started" test ! -e "$dir/launches.log"
check "and the list is left byte for byte" cmp -s "$dir/selvatro.cfg" "$work/alias.cfg"

echo "win32_lists_test: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
