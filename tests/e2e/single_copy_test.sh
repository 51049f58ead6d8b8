#!/usr/bin/env bash
# One running copy per list, in the real program under a private X server with a window manager (openbox).
# Copies started in the same instant on one list leave one, which starts each program once; a later start brings
# the running copy's window back (restored, so its count pauses) and ends at once with status 0, without writing
# the list or the autostart entry; a killed copy leaves no claim behind; copies in two folders run side by side;
# without XDG_RUNTIME_DIR the claim lives in a private folder of the system's temporary folder.
#
#   single_copy_test.sh EXECUTABLE RECORDER
set -euo pipefail

source "$(dirname "$0")/../lib/session.sh"
need_tools Xvfb openbox xdotool xprop

exe=$1
recorder=$2
make_work
start_x_session || { echo "FAIL: Xvfb or openbox did not start" >&2; exit 1; }
private_home
export LANG=C.UTF-8 LANGUAGE="" LC_ALL=""

# A folder of its own holding the program and the recorders alpha and beta; the list's rows given as PATH=DELAY.
install_folder() {  # install_folder NAME ROW...
    local dir="$work/$1"
    shift
    install_program "$dir" "$@"
    install_recorders "$dir" alpha beta
    cp "$dir/selvatro.cfg" "$work/$(basename "$dir").cfg"
}
# The names of the programs started from folder $1, one a line.
started() { awk -F'\t' '{ sub(".*/", "", $1); print $1 }' "$1/launches.log" 2>/dev/null; }

# Starts the program of folder $1 in the background; sets $app.
start_copy() {  # start_copy FOLDER ERR_NAME
    "$work/$1/selvatro" 2>"$work/$2.err" &
    app=$!
    pids+=("$app")
}

# ---- three copies in the same instant: one stays, and it starts each program once ----
install_folder together "$work/together/alpha=2" "$work/together/beta=3"
# Every copy waits on the same FIFO, which one write of three lines releases all at once. The FIFO is held open
# here from the start, so that a copy slow to reach it finds its line waiting rather than a FIFO without a writer.
mkfifo "$work/go"
exec {go_fd}<>"$work/go"
together=()
for i in 1 2 3; do
    (
        exec {go_fd}>&-
        : >"$work/together-$i.ready"
        read -r _ <"$work/go" || true
        exec "$work/together/selvatro"
    ) 2>"$work/together-$i.err" &
    together+=($!)
    pids+=($!)
done
all_ready() { [ -e "$work/together-1.ready" ] && [ -e "$work/together-2.ready" ] && [ -e "$work/together-3.ready" ]; }
wait_for "$patience" all_ready || true
printf '\n\n\n' >&"$go_fd"
count_alive() {
    local n=0 p
    for p in "${together[@]}"; do alive "$p" && n=$((n + 1)); done
    echo "$n"
}
one_alive() { [ "$(count_alive)" -eq 1 ]; }
wait_for "$patience" one_alive || true
exec {go_fd}>&-
check "together: one copy of three stays (got $(count_alive))" test "$(count_alive)" -eq 1
survivor=""
for p in "${together[@]}"; do
    if alive "$p"; then
        survivor=$p
    else
        status=0
        wait "$p" || status=$?
        check "together: a later copy ends with status 0 (got $status)" test "$status" -eq 0
    fi
done
if [ -n "$survivor" ] && find_main_window "$survivor"; then
    check "together: the later starts restored the first copy's window" wait_for "$patience" state_is "$win" Normal
    check "together: the restored window is paused" wait_for "$patience" title_matches "$win" '^Selvatro desabled$'
    check "together: nothing starts while the window is normal" test ! -e "$work/together/launches.log"
    xdotool windowminimize "$win"
    reap "$survivor"
    check "together: minimised, the copy counts on and ends by itself with status 0 (got $status)" \
        test "$status" -eq 0
    check "together: each program started once (got: $(started "$work/together" | tr '\n' ' '))" \
        test "$(started "$work/together" | sort | tr '\n' ' ')" = "alpha beta "
    check "together: the list is unchanged" cmp -s "$work/together/selvatro.cfg" "$work/together.cfg"
else
    check "together: the remaining copy shows its window" false
fi

# ---- a later start while the first copy counts ----
install_folder later "$work/later/alpha=30"
start_copy later later-first
first=$app
entry=$XDG_CONFIG_HOME/autostart/Selvatro.desktop
if find_main_window "$first"; then
    check "later: the first copy counts, minimised" wait_for "$patience" title_matches "$win" '^[0-9]+ sec\.$'
    check "later: the first copy's window is iconified" state_is "$win" Iconic
    wait_for "$patience" test -f "$entry" || true
    # Marks the entry and keeps the list's identity: a later start that ran the load would rewrite the entry
    # and a save would put a new file in the list's place.
    echo "untouched" >"$entry"
    list_before=$(stat -c '%i %Y' "$work/later/selvatro.cfg")
    started=$(date +%s%N)
    status=0
    timeout "$patience" "$work/later/selvatro" 2>"$work/later-second.err" || status=$?
    took=$((($(date +%s%N) - started) / 1000000))
    check "later: the later start ends with status 0 (got $status)" test "$status" -eq 0
    check "later: the later start ends at once (took $took ms)" test "$took" -lt 2000
    check "later: the first copy's window is restored" wait_for "$patience" state_is "$win" Normal
    check "later: the first copy's count pauses" wait_for "$patience" title_matches "$win" '^Selvatro desabled$'
    check "later: the first copy still runs" alive "$first"
    check "later: the autostart entry is untouched" grep -qx untouched "$entry"
    check "later: the list file is untouched" test "$(stat -c '%i %Y' "$work/later/selvatro.cfg")" = "$list_before"
    # Normal already: a further start finds the window as it is.
    status=0
    timeout "$patience" "$work/later/selvatro" 2>"$work/later-third.err" || status=$?
    check "later: a start while the window is normal ends with status 0 (got $status)" test "$status" -eq 0
    check "later: the window stays normal" state_is "$win" Normal
    kill -TERM "$first"
    reap "$first"
    check "later: SIGTERM still saves and ends the first copy with status 0 (got $status)" test "$status" -eq 0
    check "later: the list is saved unchanged" cmp -s "$work/later/selvatro.cfg" "$work/later.cfg"
else
    check "later: the first copy shows its window" false
fi

# ---- a killed copy leaves no claim; another folder is another list ----
install_folder killed "$work/killed/alpha=30"
start_copy killed killed-first
find_main_window "$app" || true
kill -KILL "$app"
reap "$app"
start_copy killed killed-again
again=$app
# Its window shows once it holds the claim: a later start is then sure to find it.
find_main_window "$again" || true
check "killed: a start after a killed copy runs" alive "$again"
status=0
timeout "$patience" "$work/killed/selvatro" 2>"$work/killed-later.err" || status=$?
check "killed: and a later start reaches it (status $status)" test "$status" -eq 0
install_folder other "$work/other/alpha=30"
start_copy other other
find_main_window "$app" || true
check "other: a copy on another folder's list runs beside it" alive "$app"
kill -TERM "$again" "$app"
reap "$again"
reap "$app"

# ---- without XDG_RUNTIME_DIR ----
install_folder noruntime "$work/noruntime/alpha=30"
fallback=/tmp/selvatro-$(id -u)
before=$(ls "$fallback" 2>/dev/null || true)
(
    unset XDG_RUNTIME_DIR
    exec "$work/noruntime/selvatro"
) 2>"$work/noruntime-first.err" &
app=$!
pids+=("$app")
if find_main_window "$app"; then
    status=0
    timeout "$patience" env -u XDG_RUNTIME_DIR "$work/noruntime/selvatro" 2>"$work/noruntime-later.err" || status=$?
    check "noruntime: a later start ends with status 0 (got $status)" test "$status" -eq 0
    check "noruntime: and restores the first copy's window" wait_for "$patience" state_is "$win" Normal
    check "noruntime: the claim lives in a private folder" test "$(stat -c '%a %u' "$fallback")" = "700 $(id -u)"
else
    check "noruntime: the first copy shows its window" false
fi
kill -TERM "$app"
reap "$app"
for f in $(ls "$fallback" 2>/dev/null); do
    grep -qxF "$f" <<<"$before" || rm -f "$fallback/$f"
done

finish_checks
