#!/usr/bin/env bash
# Runs the built program headless in a folder of its own, as a logon would: it must start the listed programs
# in order at their seconds, end one tick after the last one and leave the list file as it was; without a list
# it must wait; a SIGTERM must save the list and start nothing more.
set -euo pipefail

source "$(dirname "$0")/../lib/session.sh"

exe=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
private_home

now() { date +%s.%N; }
# within A B LOW HIGH: LOW <= B - A <= HIGH
within() { awk -v a="$1" -v b="$2" -v lo="$3" -v hi="$4" 'BEGIN { d = b - a; exit !(d >= lo && d <= hi) }'; }

# A fresh folder, with a blank in its name, holding the program and its recorders.
install_folder() {
    local dir="$work/$1/my apps"
    mkdir -p "$dir"
    cp "$exe" "$dir/selvatro"
    for name in alpha beta gamma; do
        printf '#!/bin/sh\necho "%s $(date +%%s.%%N)" >> "%s/started.log"\n' "$name" "$dir" > "$dir/$name"
        chmod +x "$dir/$name"
    done
    echo "$dir"
}
started_at() { awk -v n="$2" '$1 == n { print $2 }' "$1/started.log" 2>/dev/null; }
started_names() { awk '{ print $1 }' "$1/started.log" 2>/dev/null | tr '\n' ' '; }

# ---- a logon: three programs at 2, 3 and 3 seconds ----
dir=$(install_folder logon)
{ record "$dir/alpha" 2; record "$dir/beta" 3; record "$dir/gamma" 3; record "" ""; record "" ""; } > "$dir/selvatro.cfg"
cp "$dir/selvatro.cfg" "$work/logon.cfg"
t0=$(now)
status=0
timeout 20 "$dir/selvatro" 2>"$work/logon.err" || status=$?
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
entry=$XDG_CONFIG_HOME/autostart/Selvatro.desktop
check "the autostart entry exists" test -f "$entry"
if [ -f "$entry" ]; then
    check "the autostart entry validates" desktop-file-validate "$entry"
    check "the autostart entry starts this executable" grep -qxF "Exec=\"$dir/selvatro\"" "$entry"
fi

# ---- no list file: the window waits, normal, and a SIGTERM saves five empty rows ----
dir=$(install_folder nolist)
"$dir/selvatro" 2>"$work/nolist.err" &
pid=$!
sleep 2.5
check "without a list the program waits" kill -0 "$pid"
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
check "SIGTERM ends the waiting program with status 0 (got $status)" test "$status" -eq 0
check "nothing was started" test ! -e "$dir/started.log"
{ for _ in 1 2 3 4 5; do record "" ""; done; } > "$work/empty.cfg"
check "the saved list holds five empty rows (35 bytes)" cmp -s "$dir/selvatro.cfg" "$work/empty.cfg"

# ---- SIGTERM in the middle of the count ----
dir=$(install_folder interrupted)
{ record "$dir/alpha" 2; record "$dir/beta" 3; record "" ""; record "" ""; record "" ""; } > "$dir/selvatro.cfg"
cp "$dir/selvatro.cfg" "$work/interrupted.cfg"
"$dir/selvatro" 2>"$work/interrupted.err" &
pid=$!
for _ in $(seq 100); do
    [ -s "$dir/started.log" ] && break
    sleep 0.05
done
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
check "SIGTERM mid-count ends with status 0 (got $status)" test "$status" -eq 0
sleep 1.5
check "only the program due before the signal started (got: $(started_names "$dir"))" \
    test "$(started_names "$dir")" = "alpha "
check "the list is saved unchanged" cmp -s "$dir/selvatro.cfg" "$work/interrupted.cfg"

finish_checks
