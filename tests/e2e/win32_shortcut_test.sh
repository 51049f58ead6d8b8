#!/usr/bin/env bash
# A row that names a shortcut, under Wine: at the row's delay its program starts with the shortcut's arguments, in
# the shortcut's working folder, as Explorer would start it; a plain row beside it starts as always; the run ends by
# itself and leaves the list as it was.
#
#   win32_shortcut_test.sh SELVATRO_EXE RECORDER_EXE MAKE_LINK_EXE WINE_RUNNER     (under win32_display.sh)
set -euo pipefail

exe=$1
recorder=$2
make_link=$3
runner=$4
[ -n "${DISPLAY:-}" ] || { echo "win32_shortcut_test: no DISPLAY (run it under win32_display.sh)" >&2; exit 1; }

source "$(dirname "$0")/win32_lib.sh"
make_work
wine_prefix
# field NAME N: field N of the recorder's line for NAME.exe.
field() { awk -F'\t' -v n="$1.exe" -v f="$2" '$1 == n { print $f }' "$dir/launches.log" 2>/dev/null; }

# alpha plainly at 2 s (a first delay below 2 would halt the run); beta through "beta launcher.lnk" at 3 s, with two
# arguments (one holding a blank) and a working folder of its own, away from the program's.
install shortcut alpha.exe=2 "beta launcher.lnk=3"
mkdir -p "$work/start here"
folder=$(windows_path "$work/start here")
wine_run "$make_link" "$(windows_path "$dir")\\beta launcher.lnk" "$(windows_path "$dir")\\beta.exe" \
    'one "two three"' "$folder" >/dev/null 2>&1 || true
check "the shortcut was made" test -s "$dir/beta launcher.lnk"
cp "$dir/selvatro.cfg" "$work/shortcut.cfg"

# Wine readies its server and desktop untimed first, as the logon test does; the timed start goes straight to Wine.
wine_run rundll32 user32.dll,GetDesktopWindow >/dev/null 2>&1 || true
t0=$(now)
status=0
(cd "$dir" && SELVATRO_WINE_READY=1 timeout 90 "$runner" "$dir/selvatro.exe" </dev/null >/dev/null 2>&1) || status=$?
check "the run ends by itself with status 0 (got $status)" test "$status" -eq 0
check "both rows started once (got: $(started_names "$dir"))" \
    test "$(started_names "$dir" | tr ' ' '\n' | sort | tr -d '\n')" = "alphabeta"
check "the shortcut's program got its arguments (got: $(field beta 2) \"$(field beta 4)\")" \
    test "$(field beta 2)|$(field beta 4)" = '2|one|two three'
check "the shortcut's program started in its working folder (got: $(field beta 5), expected: $folder)" \
    test "$(field beta 5 | tr '[:upper:]' '[:lower:]')" = "$(printf '%s' "$folder" | tr '[:upper:]' '[:lower:]')"
check "the plain row's program got no arguments (got: $(field alpha 2))" test "$(field alpha 2)" = 0
a=$(started_at "$dir" alpha)
b=$(started_at "$dir" beta)
if [ -n "$a" ] && [ -n "$b" ]; then
    # Ticks come a second apart; Wine itself takes about a second to start the program.
    check "the shortcut's program starts at its delay, not before (took $(gap "$t0" "$b") s)" within "$t0" "$b" 2.8 9
    check "the shortcut's program starts a tick after the plain one ($(gap "$a" "$b") s)" within "$a" "$b" 0.5 2.5
fi
check "the list file is byte-identical after the run" cmp -s "$dir/selvatro.cfg" "$work/shortcut.cfg"

echo "win32_shortcut_test: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
