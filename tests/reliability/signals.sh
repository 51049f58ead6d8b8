#!/usr/bin/env bash
# The signals that end a session: SIGTERM, SIGHUP and SIGINT each close the window through the unload event, so
# the list is saved and the process ends with status 0, both in the middle of a count (window minimised, a
# program already started) and while paused (no list file, window normal). A second signal sent right after the
# first changes nothing: the process still ends and the list is the one saved.
#
#   signals.sh SELVATRO RECORDER
source "$(dirname "$0")/lib.sh"

exe=$1
recorder=$2
make_sandbox
entry=$XDG_CONFIG_HOME/autostart/Selvatro.desktop

cases=0
# run_case NAME STATE SIGNAL [SECOND_SIGNAL]; STATE is counting or paused.
run_case() {
    local name=$1 state=$2 first=$3 second=${4:-}
    local app=$work/$name
    cases=$((cases + 1))
    install_program "$app"
    install_recorders "$app" early
    rm -f "$entry"
    if [ "$state" = counting ]; then
        # Hand-edited (line feeds, unquoted fields), so that the save is seen in the bytes; "early" starts at 2 s.
        printf '%s\n' "$app/early,2" "/usr/bin/true, 600" >"$app/selvatro.cfg"
        list_of "$app/early=2" "/usr/bin/true=600" >"$app/expected"
    else
        list_of >"$app/expected"
    fi
    "$app/selvatro" 2>>"$work/stderr.txt" &
    local pid=$!
    if [ "$state" = counting ]; then
        check "$name: the count starts the program due at 2 s" wait_for_file "$app/launches.log" "$patience"
    else
        check "$name: the program starts" wait_for_file "$entry" "$patience"
        nap 0.5  # the window is shown and waits
    fi
    check "$name: still running before the signal" kill -0 "$pid"
    kill "-$first" "$pid"
    [ -n "$second" ] && kill "-$second" "$pid" 2>/dev/null
    local status=0
    check "$name: the process ends (within $patience s)" wait_for "$patience" ended "$pid"
    kill -KILL "$pid" 2>/dev/null || true
    { wait "$pid"; } 2>/dev/null || status=$?
    echo "$name: exit status $status"
    check "$name: exit status 0 (got $status)" test "$status" -eq 0
    check "$name: the list is saved byte for byte" cmp -s "$app/selvatro.cfg" "$app/expected"
    check "$name: nothing beside the list but the dot-free files we made" \
        test -z "$(cd "$app" && find . -mindepth 1 -maxdepth 1 -name '.*' -printf '%f ')"
    if [ "$state" = counting ]; then
        check "$name: only the program due before the signal started" test "$(wc -l <"$app/launches.log")" -eq 1
    fi
}

signals=(TERM HUP INT)
for k in 0 1 2; do
    s=${signals[$k]}
    next=${signals[$(((k + 1) % 3))]}
    run_case "$s-counting" counting "$s"
    run_case "$s-paused" paused "$s"
    run_case "$s-$s-counting" counting "$s" "$s"
    run_case "$s-$next-paused" paused "$s" "$next"
done
finish signals "$cases"
