# Shared by the Wine end-to-end tests (sourced, not run), beside tests/lib/session.sh: the runner and the build's
# prefix with its Startup folder, a program folder with its recorders and its list, what the recorders saw, the
# program's windows, and waits for what a command finds. Needs $runner (cmake/wine-run.sh) and $work.

source "$(dirname "${BASH_SOURCE[0]}")/../lib/session.sh"

wine_run() { "$runner" "$@" </dev/null; }

wine_answers() { wine_run cmd /c exit >"$work/wine.log" 2>&1; }
# wine_prefix: the Wine prefix of the build (the runner makes it on first use) and its Startup folder, $startup.
wine_prefix() {
    # The first program after another test may meet Wine's server or desktop on their way out: it is tried again.
    wait_for "$patience" wine_answers || { echo "Wine runs no program:" && cat "$work/wine.log" && return 1; } >&2
    export WINEPREFIX=${WINEPREFIX:-${SELVATRO_WINE_BUILD_DIR:?}/wineprefix}
    startup=$(find "$WINEPREFIX/drive_c/users" -maxdepth 8 -type d -iname startup -path '*Start Menu*' | head -n1)
}

# own_wine_prefix: a Wine prefix of the test's own in $work (made by make_work), for what must not stay in the
# build's (an installer, a machine-wide change, a fresh user), that puts no menu entries or file associations on the
# host; its server is ended and waited for at the end, before the work folder goes.
own_wine_prefix() {
    export WINEPREFIX=$work/prefix
    export WINEDLLOVERRIDES="mscoree=;winemenubuilder.exe="
    trap 'stop_wine; end_work' EXIT
}
stop_wine() {
    wineserver -k </dev/null >/dev/null 2>&1 || true
    timeout 30 wineserver -w </dev/null >/dev/null 2>&1 || true
}

# windows_path PATH: the Windows name of a Unix path.
windows_path() { wine_run winepath -w "$1" 2>/dev/null | tr -d '\r'; }

# install NAME ROW...: a folder "NAME/my apps" holding the program, the recorders alpha, beta and gamma and a list
# of ROWs (PATH=DELAY, each path a name in the folder, written as Windows names it); sets dir.
install() {
    dir="$work/$1/my apps"
    shift
    mkdir -p "$dir"
    cp "$exe" "$dir/selvatro.exe"
    for name in alpha beta gamma; do cp "$recorder" "$dir/$name.exe"; done
    local windows count=0 row
    windows=$(windows_path "$dir")
    : >"$dir/selvatro.cfg"
    for row in "$@"; do
        printf '"%s\\%s","%s"\r\n' "$windows" "${row%=*}" "${row##*=}" >>"$dir/selvatro.cfg"
        count=$((count + 1))
    done
    for ((; count < 5; count++)); do printf '"",""\r\n' >>"$dir/selvatro.cfg"; done
}
started_at() { awk -F'\t' -v n="$2.exe" '$1 == n { print $3 }' "$1/launches.log" 2>/dev/null; }
started_names() { awk -F'\t' '{ sub(/\.exe$/, "", $1); print $1 }' "$1/launches.log" 2>/dev/null | tr '\n' ' '; }
# window_named PATTERN: the window whose caption matches, when there is one.
window_named() { xdotool search --name "$1" 2>/dev/null | head -n1 || true; }
# visible_named PATTERN: the same among the windows on screen.
visible_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1 || true; }

# await SECONDS COMMAND...: waits up to SECONDS (wait_for) for COMMAND to print something, such as a window; sets
# $found to what it printed last, empty when it printed nothing in time, and is true when it printed something.
await() {
    found=""
    wait_for "$1" prints "${@:2}"
}
prints() {
    found=$("$@")
    [ -n "$found" ]
}
