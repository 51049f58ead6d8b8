#!/usr/bin/env bash
# Runs the built program headless in a folder of its own, as a logon would: it must start the listed programs
# in order at their seconds, end one tick after the last one and leave the list file as it was; without a list
# it must wait; a SIGTERM must save the list and start nothing more.
#
#   logon_test.sh EXECUTABLE RECORDER
set -euo pipefail

source "$(dirname "$0")/../lib/session.sh"

exe=$1
recorder=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
private_home

# A fresh folder, with a blank in its name, holding the program, its list (ROWs as PATH=DELAY, each path a name in
# the folder) and the recorders alpha, beta and gamma; sets dir.
install_folder() {  # install_folder NAME ROW...
    dir="$work/$1/my apps"
    shift
    install_program "$dir" "${@/#/$dir/}"
    install_recorders "$dir" alpha beta gamma
}
# When the recorder FOLDER/NAME started, in seconds since the epoch; the names of those started, in order.
started_at() { awk -F'\t' -v n="$1/$2" '$1 == n { print $4 }' "$1/launches.log" 2>/dev/null; }
started_names() { awk -F'\t' '{ sub(".*/", "", $1); print $1 }' "$1/launches.log" 2>/dev/null | tr '\n' ' '; }

# ---- a logon: three programs at 2, 3 and 3 seconds; the user has switched the logon entry off ----
install_folder logon alpha=2 beta=3 gamma=3
cp "$dir/selvatro.cfg" "$work/logon.cfg"
entry=$XDG_CONFIG_HOME/autostart/Selvatro.desktop
mkdir -p "${entry%/*}"
printf '[Desktop Entry]\nType=Application\nName=Selvatro\nExec=/old/selvatro\nX-GNOME-Autostart-enabled=false\n' >"$entry"
t0=$(now)
status=0
timeout "$patience" "$dir/selvatro" 2>"$work/logon.err" || status=$?
t_end=$(now)
check "the run ends by itself with status 0 (got $status)" test "$status" -eq 0
a=$(started_at "$dir" alpha)
b=$(started_at "$dir" beta)
g=$(started_at "$dir" gamma)
check "every listed program started once (got: $(started_names "$dir"))" \
    test "$(sort <<<"$(started_names "$dir" | tr ' ' '\n')" | tr -d '\n')" = "alphabetagamma"
if [ -n "$a" ] && [ -n "$b" ] && [ -n "$g" ]; then
    check "alpha starts about 2 s after launch" within "$t0" "$a" 1.8 3.5
    check "beta starts one tick after alpha" within "$a" "$b" 0.7 1.4
    check "gamma starts in the same tick as beta" within "$b" "$g" -0.3 0.3
    check "the program ends one tick after the last start" within "$b" "$t_end" 0.7 1.6
fi
check "the list file is byte-identical after the run" cmp -s "$dir/selvatro.cfg" "$work/logon.cfg"
# Standard error is no terminal here: it holds the run's record, as the session's journal would; the log file in the
# private home holds the same lines, each dated.
run_log=$HOME/.local/state/selvatro/selvatro.log
said=$(sed -n 's/^selvatro: //p' "$work/logon.err")
check "standard error holds the run's record alone (got: $(cat "$work/logon.err"))" \
    test "$(grep -cv '^selvatro: ' "$work/logon.err")" -eq 0
check "the record begins with the list" test "$(head -n1 <<<"$said")" = "the run began with the list $dir/selvatro.cfg"
check "the record has one line for each start" \
    test "$(grep -c '^row [1-3] started: ".*", process [0-9]*, [0-9]*\.[0-9]\{3\} s late$' <<<"$said")" -eq 3
check "the record ends with the run's status" test "$(tail -n1 <<<"$said")" = "the run ended with status 0"
check "the log file holds the same lines (got: $(cat "$run_log"))" test "$(cut -c21- "$run_log")" = "$said"
check "each after its local date and time" \
    test "$(grep -cv '^[0-9]\{4\}-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9] ' "$run_log")" -eq 0
check "the log's folder and file are the user's alone" \
    test "$(stat -c %a "${run_log%/*}") $(stat -c %a "$run_log")" = "700 600"
check "the autostart entry exists" test -f "$entry"
if [ -f "$entry" ]; then
    check "the autostart entry validates" desktop-file-validate "$entry"
    check "the autostart entry starts this executable" grep -qxF "Exec=\"$dir/selvatro\"" "$entry"
    check "the autostart entry stays switched off" grep -qxF "X-GNOME-Autostart-enabled=false" "$entry"
fi

# ---- a row that cannot be started: the run ends at once, saved, with status 1 and one line saying why ----
install_folder unstartable alpha=2 notes=3 beta=4
printf 'not a program\n' >"$dir/notes"
cp "$dir/selvatro.cfg" "$work/unstartable.cfg"
status=0
timeout "$patience" "$dir/selvatro" 2>"$work/unstartable.err" || status=$?
check "a row that cannot start ends the run with status 1 (got $status)" test "$status" -eq 1
check "the rows after it were not started (got: $(started_names "$dir"))" test "$(started_names "$dir")" = "alpha "
failure="row 2 (\"$dir/notes\", delay \"3\") stopped the run: Permission denied"
check "standard error holds one line naming the row, its path and why (got: $(cat "$work/unstartable.err"))" \
    test "$(grep -cxF "selvatro: $failure" "$work/unstartable.err")" -eq 1
check "the log file holds it too, then the save and the run's end (got: $(tail -n3 "$run_log"))" \
    test "$(tail -n3 "$run_log" | sed -n '1p;3p' | cut -c21-)" = "$failure"$'\n'"the run ended with status 1"
check "the list is saved unchanged" cmp -s "$dir/selvatro.cfg" "$work/unstartable.cfg"

# ---- a list saved as "Unicode" by a Windows editor (UTF-16 with its mark) starts its programs ----
install_folder utf16 alpha=2
iconv -f UTF-8 -t UTF-16 "$dir/selvatro.cfg" >"$work/utf16.cfg"
check "the list is UTF-16 with a byte-order mark" test "$(head -c2 "$work/utf16.cfg" | od -An -tx1 | tr -d ' ')" = fffe
cp "$work/utf16.cfg" "$dir/selvatro.cfg"
status=0
timeout "$patience" "$dir/selvatro" 2>"$work/utf16.err" || status=$?
check "the UTF-16 list runs to its end with status 0 (got $status)" test "$status" -eq 0
check "its program started (got: $(started_names "$dir"))" test "$(started_names "$dir")" = "alpha "
check "the list is saved back in UTF-8" cmp -s "$dir/selvatro.cfg" <(list_of "$dir/alpha=2")

# ---- a FIFO named like the list: never read, never replaced ----
install_folder fifo
mkfifo "$dir/selvatro.cfg"
"$dir/selvatro" 2>"$work/fifo.err" &
pid=$!
sleep 2
check "the program does not wait on the FIFO: it runs, and nobody holds the FIFO open to read" \
    eval 'kill -0 "$pid" && ! timeout 1 sh -c "echo x >\"\$1\"" sh "$dir/selvatro.cfg"'
kill -TERM "$pid"  # the save is refused: its message waits for a user, whom this headless run has not
sleep 1
kill -KILL "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
check "the FIFO is still a FIFO" test -p "$dir/selvatro.cfg"

# ---- no list file: the window waits, normal, and a SIGTERM saves five empty rows ----
install_folder nolist
"$dir/selvatro" 2>"$work/nolist.err" &
pid=$!
sleep 2.5
check "without a list the program waits" kill -0 "$pid"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
check "SIGTERM ends the waiting program with status 0 (got $status)" test "$status" -eq 0
check "nothing was started" test ! -e "$dir/launches.log"
check "the saved list holds five empty rows (35 bytes)" cmp -s "$dir/selvatro.cfg" <(list_of)

# ---- SIGTERM in the middle of the count ----
install_folder interrupted alpha=2 beta=3
cp "$dir/selvatro.cfg" "$work/interrupted.cfg"
"$dir/selvatro" 2>"$work/interrupted.err" &
pid=$!
# The signal goes once alpha has started, within the second before beta is due.
wait_for "$patience" test -s "$dir/launches.log" || true
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
check "SIGTERM mid-count ends with status 0 (got $status)" test "$status" -eq 0
sleep 1.5
check "only the program due before the signal started (got: $(started_names "$dir"))" \
    test "$(started_names "$dir")" = "alpha "
check "the list is saved unchanged" cmp -s "$dir/selvatro.cfg" "$work/interrupted.cfg"

finish_checks
