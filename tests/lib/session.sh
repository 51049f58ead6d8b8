# Shared by the shell tests (sourced, not run): the tools or a skip, a private work folder and home, checks that
# count, lists, the program and the recorders installed in a folder, and a private X server with a window manager.

# A test that `set -e` ends says which command ended it, rather than failing without a word. Only the test's own
# shell speaks: a command substitution's failure is told once, by the command that used it.
if [[ $- == *e* ]]; then
    set -E
    trap 'ended_by=($? "$LINENO"); [ "$BASH_SUBSHELL" -gt 0 ] ||
        echo "${BASH_SOURCE[0]##*/}:${ended_by[1]}: \"$BASH_COMMAND\" failed with status ${ended_by[0]}" >&2' ERR
fi

# need_tools TOOL...: ends the test as skipped (77, which ctest is told to read so) when one is not installed.
need_tools() {
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: $tool is not installed (bash scripts/setup.sh installs it)"
            exit 77
        fi
    done
}

# make_work: $work, a temporary folder removed at exit, after every process listed in $pids has been ended.
make_work() {
    work=$(mktemp -d "${TMPDIR:-/tmp}/selvatro-test.XXXXXX")
    pids=()
    trap end_work EXIT
}
end_work() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}

# Instants for the checks of when things happened: now, in seconds; within A B LOW HIGH: LOW <= B - A <= HIGH;
# gap A B: B - A, for the message.
now() { date +%s.%N; }
within() { awk -v a="$1" -v b="$2" -v lo="$3" -v hi="$4" 'BEGIN { d = b - a; exit !(d >= lo && d <= hi) }'; }
gap() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

# private_home: HOME and the XDG folders inside $work, so that nothing of the user's is read or written (the log of
# the runs goes to its default place in the private home).
private_home() {
    export HOME=$work/home XDG_CONFIG_HOME=$work/home/config XDG_RUNTIME_DIR=$work/runtime
    unset XDG_STATE_HOME
    mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
}

# check DESCRIPTION COMMAND...: counts a pass, or reports the failure and counts it; the test goes on.
passes=0
failures=0
check() {
    local what=$1
    shift
    if "$@"; then
        passes=$((passes + 1))
    else
        echo "FAIL: $what" >&2
        failures=$((failures + 1))
    fi
}

# How long a wait for something that should happen gives it: a server, a window or a process coming up, a process
# ending, a file appearing. Generous, since on a loaded two-core machine an X server, openbox or a Qt program can
# take several seconds to start; each wait returns as soon as its condition holds, so an idle machine pays nothing.
# A check that something does NOT happen within a time keeps its own short window instead.
patience=30

# wait_for SECONDS COMMAND...: true as soon as COMMAND is; false once SECONDS (whole seconds) of wall-clock time have
# passed, after a last try. It polls every $poll_s seconds (50 ms unless the script or the call sets it). The limit
# is counted on the clock, not in polls, so that slow polls on a busy machine do not stretch it.
poll_s=0.05
wait_for() {
    local deadline=$((${EPOCHREALTIME//[!0-9]/} + $1 * 1000000))
    shift
    while :; do
        "$@" && return 0
        ((${EPOCHREALTIME//[!0-9]/} < deadline)) || return 1
        nap "$poll_s"
    done
}

# nap SECONDS (fractions allowed): a sleep. Once a script has opened $nap_fd on a pipe that nobody writes (as
# tests/reliability/lib.sh does, to poll every few milliseconds), a `read -t` on it, which starts no process.
nap() {
    if [ -n "${nap_fd:-}" ]; then
        read -r -t "$1" -u "$nap_fd" _ || true
    else
        sleep "$1"
    fi
}

# alive PID: the process runs (or is a zombie not yet reaped); ended PID: it does not.
alive() { kill -0 "$1" 2>/dev/null; }
ended() { ! kill -0 "$1" 2>/dev/null; }
# holds_or_ended PID COMMAND...: COMMAND holds, or process PID has ended, which it waits for no longer: a server
# that died at its start never comes up.
holds_or_ended() {
    local pid=$1
    shift
    "$@" || ended "$pid"
}

# record PATH DELAY: one record as the program writes it.
record() { printf '"%s","%s"\r\n' "$1" "$2"; }

# list_of [ROW...]: a list as the program saves it, each ROW written PATH=DELAY (split at the last "="), the rows
# not given empty; with no ROW, five empty rows (35 bytes).
list_of() {
    local row count=0
    for row in "$@"; do
        record "${row%=*}" "${row##*=}"
        count=$((count + 1))
    done
    for ((; count < 5; count++)); do record "" ""; done
}

# install_program FOLDER [ROW...]: FOLDER, made if needed, holding a copy of the program under test ($exe), with
# the holder of the programs it starts ahead where the build has one, and, with ROWs, its list beside it (list_of).
# The list lives beside the executable: each copy has its own.
install_program() {
    local folder=$1
    shift
    mkdir -p "$folder"
    cp "$exe" "$folder/selvatro"
    if [ -x "$(dirname "$exe")/selvatro-hold" ]; then cp "$(dirname "$exe")/selvatro-hold" "$folder/"; fi
    if (($#)); then list_of "$@" >"$folder/selvatro.cfg"; fi
}

# install_recorders FOLDER NAME...: the tests' recorder ($recorder, tests/lib/recorder.cpp says what it records)
# as FOLDER/NAME for each NAME. Started, each appends a line to $SELVATRO_RECORDER_LOG, or else to
# FOLDER/launches.log: its name, its argument count, and the instant of its start.
install_recorders() {
    local folder=$1 name
    shift
    mkdir -p "$folder"
    for name in "$@"; do cp "$recorder" "$folder/$name"; done
}

# start_x_session [XVFB_OPTION...]: a private X server with openbox, in $work; by default 1024 x 768 at 96 dpi,
# else the screen the options give. Exports DISPLAY and takes Qt off the offscreen platform. False, with the
# server's or the window manager's log on standard error, when either does not come up within $patience seconds.
start_x_session() {
    local display_fd xvfb wm
    (($#)) || set -- -screen 0 1024x768x24 -dpi 96
    exec {display_fd}>"$work/display"
    # The server picks a free display number and writes it once it accepts clients.
    Xvfb -displayfd "$display_fd" "$@" -nolisten tcp </dev/null >"$work/xvfb.log" 2>&1 &
    xvfb=$!
    pids+=("$xvfb")
    exec {display_fd}>&-
    wait_for "$patience" holds_or_ended "$xvfb" test -s "$work/display"
    if [ ! -s "$work/display" ]; then
        echo "Xvfb gave no display within $patience s:" >&2
        cat "$work/xvfb.log" >&2
        return 1
    fi
    export DISPLAY=":$(head -n1 "$work/display")"
    unset QT_QPA_PLATFORM WAYLAND_DISPLAY SESSION_MANAGER
    openbox --sm-disable </dev/null >"$work/openbox.log" 2>&1 &
    wm=$!
    pids+=("$wm")
    # Ready once it has claimed the screen: windows mapped before that would not be managed.
    wait_for "$patience" holds_or_ended "$wm" window_manager_ready
    if ! window_manager_ready; then
        echo "openbox did not manage the screen within $patience s:" >&2
        cat "$work/openbox.log" >&2
        return 1
    fi
}
window_manager_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

# The program's windows, as xdotool and xprop see them: the caption; Iconic or Normal, as the window manager keeps
# it in WM_STATE.
title_of() { xdotool getwindowname "$1" 2>/dev/null || true; }
title_matches() { [[ "$(title_of "$1")" =~ $2 ]]; }
wm_state() { xprop -id "$1" WM_STATE 2>/dev/null | sed -n 's/.*window state: //p'; }
state_is() { [ "$(wm_state "$1")" = "$2" ]; }
viewable() { xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
gone() { ! viewable "$1"; }

# find_window TITLE: the viewable window of process $app titled exactly TITLE other than its main window $win (a
# dialog, a message); sets $found.
find_window() {
    found=""
    local candidate
    for candidate in $(xdotool search --pid "$app" 2>/dev/null || true); do
        if [ "$candidate" != "${win:-}" ] && [ "$(title_of "$candidate")" = "$1" ] && viewable "$candidate"; then
            found=$candidate
            return 0
        fi
    done
    return 1
}

# standing_still WINDOW: the window has not moved since the last call. The window manager places a new window and
# animates a restore: a click or a picture waits, through wait_for, until the window stands still. Empty
# $last_position before the first call.
last_position=""
standing_still() {
    local now
    now=$(xwininfo -id "$1" 2>/dev/null | sed -n 's/.*Absolute upper-left [XY]: *//p' | tr '\n' ' ')
    [ -n "$now" ] && [ "$now" = "$last_position" ] && return 0
    last_position=$now
    return 1
}

# find_main_window PID: waits up to $patience seconds for the main window of process PID, the one counting in its
# caption or named Selvatro; sets $win (empty when none came). Qt's hidden client-leader window, "selvatro", is not
# it (bash compares with regard to case, unlike xdotool's --name).
find_main_window() {
    win=""
    wait_for "$patience" main_window_now "$1"
}
main_window_now() {
    local candidate
    for candidate in $(xdotool search --pid "$1" 2>/dev/null || true); do
        if [[ "$(title_of "$candidate")" =~ ^(Selvatro.*|[0-9]+\ sec\.)$ ]]; then
            win=$candidate
        fi
    done
    [ -n "$win" ]
}

# reap PID: waits up to $patience seconds for the process to end, then kills it; its exit status is in $status (137
# when killed).
reap() {
    wait_for "$patience" ended "$1" || kill -KILL "$1" 2>/dev/null || true
    status=0
    wait "$1" || status=$?
}

# finish_checks: shows what the programs wrote to their *.err files in $work (but Qt's note about
# XDG_RUNTIME_DIR), prints the count of checks, and is true when none failed.
finish_checks() {
    for f in "$work"/*.err; do
        if [ -e "$f" ] && grep -v 'XDG_RUNTIME_DIR' "$f" | grep -q .; then
            echo "--- $(basename "$f")" >&2
            cat "$f" >&2
        fi
    done
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
}
