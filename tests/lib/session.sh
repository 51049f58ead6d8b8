# Shared by the shell tests (sourced, not run): the tools or a skip, a private work folder and home, checks that
# count, lists, the program and the recorders installed in a folder, and a private X server with a window manager.

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

# private_home: HOME and the XDG folders inside $work, so that nothing of the user's is read or written.
private_home() {
    export HOME=$work/home XDG_CONFIG_HOME=$work/home/config XDG_RUNTIME_DIR=$work/runtime
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

# wait_for SECONDS COMMAND...: true as soon as COMMAND is, polling every 50 ms.
wait_for() {
    local tries=$(($1 * 20))
    shift
    for _ in $(seq "$tries"); do
        "$@" && return 0
        sleep 0.05
    done
    return 1
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

# install_program FOLDER [ROW...]: FOLDER, made if needed, holding a copy of the program under test ($exe) and,
# with ROWs, its list beside it (list_of). The list lives beside the executable: each copy has its own.
install_program() {
    local folder=$1
    shift
    mkdir -p "$folder"
    cp "$exe" "$folder/selvatro"
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

# start_x_session: a private X server at 96 dpi, 1024 x 768, with openbox, in $work; exports DISPLAY and takes
# Qt off the offscreen platform. False when either does not come up within five seconds.
start_x_session() {
    local display_fd
    exec {display_fd}>"$work/display"
    Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -dpi 96 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    wait_for 5 test -s "$work/display" || return 1
    export DISPLAY=":$(head -n1 "$work/display")"
    unset QT_QPA_PLATFORM WAYLAND_DISPLAY SESSION_MANAGER
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    pids+=($!)
    wait_for 5 window_manager_ready
}
window_manager_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

# reap PID: waits up to 5 s for the process to end, then kills it; its exit status is in $status (137 when
# killed).
reap() {
    for _ in $(seq 100); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.05
    done
    kill -KILL "$1" 2>/dev/null || true
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
