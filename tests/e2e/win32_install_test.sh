#!/usr/bin/env bash
# The installer as a Windows user meets it, under Wine in a prefix of its own: a silent install puts the program in
# the user's programs folder, in the Start menu and in the list of installed programs; a first start opens the
# window and writes the Startup link. While the installed program hangs, a silent setup and a silent uninstall
# fail through their exit status and leave the program and the entry as they were; a silent upgrade while the
# installed program runs a logon ends that copy, which saves its list, and replaces the program. A silent uninstall
# while it runs leaves no program, no Start-menu link, no Startup link and no uninstall entry, and keeps the user's
# list; a portable copy, running from elsewhere, and its Startup link outlive a later uninstall. NSIS uninstallers
# return before their work is done (the uninstaller runs from a copy of itself), so every step waits on the files,
# each wait bounded.
#
#   win32_install_test.sh INSTALLER VERSION WINE_RUNNER SELVATRO_EXE     (under win32_display.sh: needs $DISPLAY)
set -euo pipefail

installer=$1
version=$2
runner=$3
exe=$4
[ -n "${DISPLAY:-}" ] || { echo "win32_install_test: no DISPLAY (run it under win32_display.sh)" >&2; exit 1; }

# check and its counters, wait_for, ended and alive come from the tests' shell libraries. The waits poll every
# 100 ms here: each poll of the registry is a Wine program of its own.
source "$(dirname "$0")/win32_lib.sh"
poll_s=0.1
make_work
own_wine_prefix
absent() { [ ! -e "$1" ]; }
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\Selvatro'
# The value NAME of the uninstall entry, as reg.exe prints it.
entry() { wine_run reg query "$key" /v "$1" 2>/dev/null | tr -d '\r' | awk -v n="$1" '$1 == n { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'; }
entry_is() { [ "$(entry "$1")" = "$2" ]; }
window_open() { [ -n "$(xdotool search --name '^Selvatro' 2>/dev/null | head -n1)" ]; }
# A logon in progress: the caption counts its seconds.
counting() { [ -n "$(xdotool search --name ' sec\.$' 2>/dev/null | head -n1)" ]; }
entry_gone() { ! wine_run reg query "$key" >/dev/null 2>&1; }

# The prefix, made by the runner on first use.
wine_run cmd /c exit >/dev/null 2>&1
user=$(find "$WINEPREFIX/drive_c/users" -mindepth 1 -maxdepth 1 -type d ! -name Public | head -n1)
dir=$user/AppData/Local/Programs/Selvatro
menu=$user/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs
check "the prefix has a user's Start menu" test -d "$menu"
# Wine names the Startup folder StartUp.
startup=$(find "$menu" -maxdepth 1 -type d -iname startup | head -n1)
check "the prefix has a Startup folder" test -n "$startup"

# ---- a silent install ----
timeout 120 "$runner" "$installer" /S </dev/null >/dev/null 2>&1 || true
check "the program is installed in the user's programs folder" wait_for 60 test -f "$dir/uninstall.exe"
check "with its user guide" test -f "$dir/README.html"
check "the Start menu holds the program's link" wait_for "$patience" test -f "$menu/Selvatro.lnk"
check "the uninstall entry names the program" wait_for "$patience" entry_is DisplayName Selvatro
check "the uninstall entry has the version ($(entry DisplayVersion))" test "$(entry DisplayVersion)" = "$version"
check "the uninstall entry has a publisher" test -n "$(entry Publisher)"
check "the uninstall entry has the program's icon" test "$(entry DisplayIcon)" = 'C:\users\'"${user##*/}"'\AppData\Local\Programs\Selvatro\selvatro.exe,0'
check "the uninstall entry names the uninstaller" grep -q 'uninstall\.exe"$' <<<"$(entry UninstallString)"
size=$(entry EstimatedSize)
check "the uninstall entry has the size in KiB ($size)" test "$((${size:-0}))" -gt 500

# The programs started in the background below are ended by stop_run, and by the prefix's end at exit; their own
# limit, the whole test's, only keeps one from outliving a test that was killed.

# stop_run: ends the program started as $run, when it has not ended on its own.
stop_run() {
    ended "$run" || wine_run taskkill /im selvatro.exe >/dev/null 2>&1 || true
    wait_for "$patience" ended "$run" || kill "$run" 2>/dev/null || true
    wait "$run" 2>/dev/null || true
}

# ---- a first start: the window opens and the Startup link appears ----
# The user's list: five empty rows, as the program writes them.
for _ in 1 2 3 4 5; do printf '"",""\r\n'; done >"$dir/selvatro.cfg"
cp "$dir/selvatro.cfg" "$work/list"
(cd "$dir" && timeout 240 "$runner" "$dir/selvatro.exe" </dev/null >/dev/null 2>&1) &
run=$!
check "the window opens" wait_for 40 window_open
check "the Startup folder holds Selvatro.lnk" wait_for "$patience" test -f "$startup/Selvatro.lnk"
stop_run

# start_logon: starts the installed program on a list whose first program is due in ten minutes, so that it
# stays, minimised, counting; sets run.
start_logon() {
    {
        printf '"C:\\windows\\notepad.exe","600"\r\n'
        for _ in 1 2 3 4; do printf '"",""\r\n'; done
    } >"$dir/selvatro.cfg"
    cp "$dir/selvatro.cfg" "$work/list"
    (cd "$dir" && timeout 240 "$runner" "$dir/selvatro.exe" </dev/null >/dev/null 2>&1) &
    run=$!
}

# windows_process PID: the Windows program's own process under the one started as PID (the runner and Wine's
# loader hand over to it), which is the last of the chain.
windows_process() {
    local p=$1 child
    while child=$(pgrep -P "$p" | head -n1) && [ -n "$child" ]; do p=$child; done
    [ "$p" != "$1" ] && echo "$p"
}

# ---- a hung Selvatro: a setup and an uninstall that cannot replace or remove it fail, and say so ----
# The installed program made different from the one in the setup: bytes after its image do not change how it runs.
printf 'an older program' >>"$dir/selvatro.exe"
cp "$dir/selvatro.exe" "$work/older.exe"
wine_run reg add "$key" /v DisplayVersion /d 0.0.1 /f >/dev/null 2>&1
start_logon
check "the installed program runs a logon" wait_for 40 counting
# Stopped, it answers no message and keeps its program open, as a hung program does.
hung=$(windows_process "$run" || true)
check "its process is found" test -n "$hung"
kill -STOP "${hung:-none}" 2>/dev/null || true
status=0
timeout 120 "$runner" "$installer" /S </dev/null >/dev/null 2>&1 || status=$?
check "a setup that cannot replace the hung program exits with a failure ($status)" test "$status" -ne 0
check "and leaves the program as it was" cmp -s "$dir/selvatro.exe" "$work/older.exe"
check "and the uninstall entry's version as it was" entry_is DisplayVersion 0.0.1
# _?= runs the uninstaller in place, where its exit status can be seen, instead of from a copy of itself.
status=0
timeout 120 "$runner" "$dir/uninstall.exe" /S "_?=$(wine_run winepath -w "$dir" 2>/dev/null | tr -d '\r')" </dev/null \
    >/dev/null 2>&1 || status=$?
check "an uninstall that cannot remove the hung program exits with a failure ($status)" test "$status" -ne 0
check "and keeps the program" test -f "$dir/selvatro.exe"
check "and the uninstall entry, to try again" entry_is DisplayName Selvatro
check "and the Startup link" test -f "$startup/Selvatro.lnk"
kill -CONT "${hung:-none}" 2>/dev/null || true

# ---- a silent upgrade while the installed program runs (the same copy, going again) ----
check "the installed program runs its logon again" counting
status=0
timeout 120 "$runner" "$installer" /S </dev/null >/dev/null 2>&1 || status=$?
check "the upgrade while Selvatro runs succeeds ($status)" test "$status" -eq 0
check "the upgrade replaced the running program" cmp -s "$dir/selvatro.exe" "$exe"
check "the uninstall entry has the version again" entry_is DisplayVersion "$version"
check "the running copy was ended" wait_for "$patience" ended "$run"
check "which kept its list as it was" cmp -s "$dir/selvatro.cfg" "$work/list"
stop_run

# ---- a silent uninstall while the installed program runs ----
start_logon
check "the installed program runs a logon again" wait_for 40 counting
check "the Startup link is there to remove" test -f "$startup/Selvatro.lnk"
timeout 120 "$runner" "$dir/uninstall.exe" /S </dev/null >/dev/null 2>&1 || true
# The entry goes last: once it is gone, every file the uninstaller removes is gone too.
check "the uninstall entry is removed" wait_for 60 entry_gone
check "the running copy was ended" wait_for "$patience" ended "$run"
stop_run
check "the program is removed" absent "$dir/selvatro.exe"
check "the uninstaller is removed" absent "$dir/uninstall.exe"
check "the user guide is removed" absent "$dir/README.html"
check "its pictures are removed" absent "$dir/docs"
check "the Start-menu link is removed" absent "$menu/Selvatro.lnk"
check "the Startup link is removed" absent "$startup/Selvatro.lnk"
check "the list is kept as it was" cmp -s "$dir/selvatro.cfg" "$work/list"

# ---- a portable copy's Startup link is not the uninstaller's ----
timeout 120 "$runner" "$installer" /S </dev/null >/dev/null 2>&1 || true
check "the program is installed again" wait_for 60 test -f "$dir/uninstall.exe"
portable=$work/portable
mkdir -p "$portable"
cp "$exe" "$portable/selvatro.exe"
for _ in 1 2 3 4 5; do printf '"",""\r\n'; done >"$portable/selvatro.cfg"
(cd "$portable" && timeout 240 "$runner" "$portable/selvatro.exe" </dev/null >/dev/null 2>&1) &
run=$!
check "the portable copy writes its Startup link" wait_for 40 test -f "$startup/Selvatro.lnk"
check "whose window opens" wait_for 40 window_open
cp "$startup/Selvatro.lnk" "$work/portable.lnk"
timeout 120 "$runner" "$dir/uninstall.exe" /S </dev/null >/dev/null 2>&1 || true
check "the uninstall entry is removed once more" wait_for 60 entry_gone
check "the program is removed once more" absent "$dir/selvatro.exe"
check "the portable copy's Startup link is kept" cmp -s "$startup/Selvatro.lnk" "$work/portable.lnk"
check "the portable copy, running from elsewhere, is left running" alive "$run"
stop_run

echo "win32_install_test: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
