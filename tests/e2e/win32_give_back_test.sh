#!/usr/bin/env bash
# `selvatro.exe /give-back`, as the uninstaller runs it, under Wine in a prefix of its own: the user's registry holds
# Run values that Selvatro took over (switched off in StartupApproved as Task Manager switches, and marked), one that
# the user switched on again since and one the user switched off alone. The program gives back only its own switches,
# each to what it was before, forgets its marks, exits with status 0, and does nothing else: no window, no list, no
# Startup shortcut.
#
#   win32_give_back_test.sh SELVATRO_EXE WINE_RUNNER     (under win32_display.sh: needs $DISPLAY)
set -euo pipefail

exe=$1
runner=$2
[ -n "${DISPLAY:-}" ] || { echo "win32_give_back_test: no DISPLAY (run it under win32_display.sh)" >&2; exit 1; }

source "$(dirname "$0")/win32_lib.sh"
make_work
own_wine_prefix
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
approved='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run'
marks='HKCU\Software\Selvatro\Taken over'
# value KEY NAME: the value's data as reg.exe prints it (binary in hexadecimal, upper case); nothing when absent.
value() {
    wine_run reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        awk -v n="$2" 'index($0, "    " n "    ") == 1 { sub(/^.*REG_[A-Z_]+ +/, ""); print toupper($0) }'
}
set_binary() { wine_run reg add "$1" /v "$2" /t REG_BINARY /d "$3" /f >/dev/null 2>&1; }

wine_run cmd /c exit >/dev/null 2>&1
startup=$(find "$WINEPREFIX/drive_c/users" -maxdepth 8 -type d -iname startup -path '*Start Menu*' | head -n1)
check "the prefix has a Startup folder" test -n "$startup"

on=020000000000000000000000
off_tray=030000001122334455667788   # taken over from a value never switched: no value before
off_mail=030000009988776655443322   # taken over from Task Manager's "on"
off_user=0300000001020304050607D0   # switched off by the user alone
for name in Tray Mail Back Own; do
    wine_run reg add "$run_key" /v "$name" /d 'C:\windows\notepad.exe' /f >/dev/null 2>&1
done
set_binary "$approved" Tray "$off_tray"
set_binary "$marks" 'Run\Tray' "$off_tray"
set_binary "$approved" Mail "$off_mail"
set_binary "$marks" 'Run\Mail' "$off_mail$on"
set_binary "$approved" Back "$on"               # the user switched it on again since
set_binary "$marks" 'Run\Back' "$off_tray"
set_binary "$approved" Own "$off_user"
check "the switches are in place" test "$(value "$approved" Mail)" = "$off_mail"

app=$work/app
mkdir -p "$app"
cp "$exe" "$app/selvatro.exe"
status=0
(cd "$app" && timeout 120 "$runner" "$app/selvatro.exe" /give-back </dev/null >/dev/null 2>&1) || status=$?
check "/give-back exits with status 0 ($status)" test "$status" -eq 0
check "a Run value never switched before has no switch again" test -z "$(value "$approved" Tray)"
check "a Run value that Task Manager had on is on again as it was" test "$(value "$approved" Mail)" = "$on"
check "one the user switched on again is left on" test "$(value "$approved" Back)" = "$on"
check "one the user switched off is left off" test "$(value "$approved" Own)" = "$off_user"
check "no mark is left" test -z "$(value "$marks" 'Run\Tray')$(value "$marks" 'Run\Mail')$(value "$marks" 'Run\Back')"
check "the Run values themselves are kept" test "$(value "$run_key" Tray)" = 'C:\WINDOWS\NOTEPAD.EXE'
check "no list was written" test -z "$(ls -A "$app" | grep -v '^selvatro.exe$')"
check "no Startup shortcut was made" test ! -e "$startup/Selvatro.lnk"
check "no window was opened" test -z "$(xdotool search --name '^Selvatro' 2>/dev/null | head -n1)"

echo "win32_give_back_test: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
