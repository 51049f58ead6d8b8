#!/usr/bin/env bash
# The Windows Installer package as an administrator deploys it, under Wine in a prefix of its own: a silent
# per-machine install of an older version puts the program in Program Files with an entry in the list of installed
# programs; an administrator puts the machine's list beside it; the installed program runs and writes the user's
# Startup link. The older version's removal as an upgrade runs it (UPGRADINGPRODUCTCODE set) keeps the list and the
# link. A silent install of this version over the older one replaces it (one entry, this version, the new program)
# and keeps the list; the new program runs from there. A silent removal takes the program, the Start-menu link, the
# entry and the user's Startup link away and keeps the list; after a new install into another folder, a removal with
# REMOVELIST=1 finds that folder, takes the list and the folder too, and leaves the Startup link of a copy that runs
# from elsewhere.
#
# Two ways in which Wine's msiexec (Debian 12's Wine 8) is not Windows', which the test takes as they are: it
# removes the older version in an upgrade as an ordinary removal, without UPGRADINGPRODUCTCODE (hence the removal
# above, run as Windows runs it), and it resolves ProgramMenuFolder to the installing user's Start menu even in a
# per-machine install (the link is looked for where the installer's log says that folder is).
#
#   win32_msi_test.sh MSI VERSION WINE_RUNNER SELVATRO_EXE ACTIONS_DLL WXS     (under win32_display.sh: needs $DISPLAY)
#
# The older package is made here by wixl from the same source (WXS, configured by the build), whose paths are
# relative to the build folder, the folder of MSI.
set -euo pipefail

msi=$1
version=$2
runner=$3
exe=$4
actions=$5
wxs=$6
[ -n "${DISPLAY:-}" ] || { echo "win32_msi_test: no DISPLAY (run it under win32_display.sh)" >&2; exit 1; }

# check, wait_for, make_work, windows_path and window_named come from the tests' shell libraries.
source "$(dirname "$0")/win32_lib.sh"
need_tools wixl
make_work
# A prefix of the test's own: a per-machine install changes the machine, which the build's prefix must not keep.
own_wine_prefix
wine_prefix
check "the prefix has a Startup folder" test -n "$startup"

dir=$WINEPREFIX/drive_c/Program\ Files/Selvatro
absent() { [ ! -e "$1" ]; }

# msiexec ARGUMENT...: a silent msiexec, which logs what it did in $work/msiexec.log; its exit status in $status.
msiexec() {
    status=0
    rm -f "$work/msiexec.log"
    timeout 120 "$runner" msiexec "$@" /qn /l*v "$(windows_path "$work")\msiexec.log" </dev/null >/dev/null 2>&1 ||
        status=$?
}
# The folder that the last msiexec took for the property NAME, as a Unix path.
resolved() {
    local folder
    folder=$(tr -d '\r' <"$work/msiexec.log" 2>/dev/null | sed -n "s/^Property(S): $1 = //p" | tail -n1)
    [ -n "$folder" ] && wine_run winepath -u "$folder" 2>/dev/null | tr -d '\r'
}

# The entries of the list of installed programs named Selvatro, one line each: the key, then the version and the
# publisher, tab-separated (reg.exe prints each value as NAME, TYPE, DATA).
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
entries() {
    wine_run reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' | awk '
        function flush() { if (name == "Selvatro") printf "%s\t%s\t%s\n", key, shown, publisher }
        /^HKEY_/ { flush(); key = $0; name = shown = publisher = ""; next }
        { field = $1; $1 = ""; $2 = ""; sub(/^ +/, "") }
        field == "DisplayName" { name = $0 }
        field == "DisplayVersion" { shown = $0 }
        field == "Publisher" { publisher = $0 }
        END { flush() }'
}
entry_count() { entries | grep -c . || true; }

# run_installed FOLDER: starts the program in FOLDER on its list (empty rows: the window opens for the rows to be
# filled in), waits for its window and its Startup link, and ends it.
run_installed() {
    local run
    rm -f "$startup/Selvatro.lnk"
    (cd "$1" && timeout 240 "$runner" "$1/selvatro.exe" </dev/null >/dev/null 2>&1) &
    run=$!
    pids+=("$run")
    check "the program in ${1#"$WINEPREFIX"/} opens its window" wait_for 60 prints window_named '^Selvatro'
    check "and writes the Startup link" wait_for "$patience" test -f "$startup/Selvatro.lnk"
    wine_run taskkill /im selvatro.exe >/dev/null 2>&1 || true
    wait_for "$patience" ended "$run" || kill "$run" 2>/dev/null || true
    wait "$run" 2>/dev/null || true
}

# ---- an older version, made from the same source, installed silently ----
# Its program differs from this one: bytes after the image do not change how it runs.
cp "$exe" "$work/older.exe"
printf 'an older program' >>"$work/older.exe"
build=$(dirname "$msi")
(cd "$build" && wixl --arch x64 -D Version=0.0.1 -D ProductCode="$(cat /proc/sys/kernel/random/uuid)" \
    -D Program="$(realpath --relative-to="$build" "$work/older.exe")" \
    -D Actions="$(realpath --relative-to="$build" "$actions")" -o "$work/older.msi" "$wxs" >/dev/null 2>&1) || true
check "wixl makes the older package" test -f "$work/older.msi"
msiexec /i "$(windows_path "$work/older.msi")"
check "the older package installs silently ($status)" test "$status" -eq 0
check "into Program Files" cmp -s "$dir/selvatro.exe" "$work/older.exe"
check "with one entry in the list of installed programs ($(entries))" test "$(entry_count)" -eq 1
check "which has the older version" test "$(entries | cut -f2)" = 0.0.1
older_key=$(entries | cut -f1)

# The administrator's list for the machine, five empty rows as the program writes them.
list_of >"$dir/selvatro.cfg"
cp "$dir/selvatro.cfg" "$work/list"
run_installed "$dir"

# ---- the older version's removal as an upgrade runs it: the link and the list stay ----
msiexec /x "$(windows_path "$work/older.msi")" UPGRADINGPRODUCTCODE="{$(cat /proc/sys/kernel/random/uuid)}"
check "the older version is removed as in an upgrade ($status)" test "$status" -eq 0
check "its program is removed" absent "$dir/selvatro.exe"
check "the user's Startup link is kept" test -f "$startup/Selvatro.lnk"
check "the administrator's list is kept" cmp -s "$dir/selvatro.cfg" "$work/list"

# ---- this version over the older one ----
msiexec /i "$(windows_path "$work/older.msi")"
check "the older version installs again ($status)" test "$status" -eq 0
msiexec /i "$(windows_path "$msi")"
check "this version installs over the older one ($status)" test "$status" -eq 0
check "and replaces its program" cmp -s "$dir/selvatro.exe" "$exe"
check "one entry remains ($(entries))" test "$(entry_count)" -eq 1
check "the older version's entry is gone" test "$(entries | cut -f1)" != "$older_key"
check "the entry has this version" test "$(entries | cut -f2)" = "$version"
check "the entry names the publisher" test "$(entries | cut -f3)" = "The Selvatro developers"
check "the user guide is installed" test -f "$dir/README.html"
check "with its pictures" test "$(find "$dir/docs" -name '*.png' | wc -l)" -eq "$(find "$build/docs" -name '*.png' | wc -l)"
menu=$(resolved ProgramMenuFolder)
check "the Start menu holds the program's link (in ${menu#"$WINEPREFIX"/})" test -f "$menu/Selvatro.lnk"
check "the administrator's list is kept through the upgrade" cmp -s "$dir/selvatro.cfg" "$work/list"
run_installed "$dir"
cp "$dir/selvatro.cfg" "$work/list"

# ---- a silent removal, after Selvatro took a Run value over ----
approved='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\StartupApproved\Run'
off=030000001122334455667788
"$runner" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Run' /v Tray /d 'C:\windows\notepad.exe' /f \
    </dev/null >/dev/null 2>&1
"$runner" reg add "$approved" /v Tray /t REG_BINARY /d "$off" /f </dev/null >/dev/null 2>&1
"$runner" reg add 'HKCU\Software\Selvatro\Taken over' /v 'Run\Tray' /t REG_BINARY /d "$off" /f </dev/null \
    >/dev/null 2>&1
switch_of_tray() { "$runner" reg query "$approved" /v Tray </dev/null 2>/dev/null | tr -d '\r' | grep -c Tray; }
check "a Run value is taken over before the removal" test "$(switch_of_tray)" = 1
msiexec /x "$(windows_path "$msi")"
check "the removal gave it back" test "$(switch_of_tray)" = 0
check "the package is removed silently ($status)" test "$status" -eq 0
check "the program is removed" absent "$dir/selvatro.exe"
check "the user guide is removed" absent "$dir/README.html"
check "its pictures are removed" absent "$dir/docs"
check "the Start-menu link is removed" absent "$menu/Selvatro.lnk"
check "the entry is removed ($(entries))" test "$(entry_count)" -eq 0
check "the user's Startup link is removed" absent "$startup/Selvatro.lnk"
check "the administrator's list is kept" cmp -s "$dir/selvatro.cfg" "$work/list"

# ---- installed again, into a folder of the administrator's choice; a removal that takes the list, while a copy
# elsewhere has the Startup link ----
apps=$WINEPREFIX/drive_c/Apps
msiexec /i "$(windows_path "$msi")" INSTALLDIR='C:\Apps\Selvatro'
check "the package installs again, into C:\Apps\Selvatro ($status)" test "$status" -eq 0
check "the program is there" cmp -s "$apps/Selvatro/selvatro.exe" "$exe"
list_of >"$apps/Selvatro/selvatro.cfg"
# A copy in a folder whose name begins as the install folder's: its link is its own.
mkdir -p "$apps/Selvatro2"
cp "$exe" "$apps/Selvatro2/selvatro.exe"
list_of >"$apps/Selvatro2/selvatro.cfg"
run_installed "$apps/Selvatro2"
cp "$startup/Selvatro.lnk" "$work/other.lnk" 2>/dev/null || true
# The removal finds the chosen folder by itself.
msiexec /x "$(windows_path "$msi")" REMOVELIST=1
check "the package is removed with its list ($status)" test "$status" -eq 0
check "the program is removed from the chosen folder" absent "$apps/Selvatro/selvatro.exe"
check "the list is removed" absent "$apps/Selvatro/selvatro.cfg"
check "and the folder" absent "$apps/Selvatro"
check "the entry is removed once more" test "$(entry_count)" -eq 0
check "the other copy's Startup link is kept" cmp -s "$startup/Selvatro.lnk" "$work/other.lnk"
check "and the other copy with its list" test -f "$apps/Selvatro2/selvatro.cfg"

echo "win32_msi_test: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
