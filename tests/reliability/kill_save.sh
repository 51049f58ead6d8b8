#!/usr/bin/env bash
# Kill during the save: the real program is asked to end (SIGTERM, which saves through the unload event) and then
# killed outright 0 to 20 ms later, so that the kill falls before, during or after the save. Afterwards the list
# file must hold either the old bytes or the new ones, never a torn or empty file, and no file that the program
# could take for the list may be left beside it.
#
#   kill_save.sh SELVATRO [ITERATIONS]
#
# The old list is hand-edited (line feeds alone, unquoted fields), which the save rewrites in the canonical
# form, so that old and new bytes differ and each outcome can be told apart.
source "$(dirname "$0")/lib.sh"

exe=$1
iterations=${2:-30}
make_sandbox

old_list=$'/usr/bin/true, 600\n"/opt/my apps/agenda",900\n'
printf '%s' "$old_list" >"$work/old.cfg"
list_of "/usr/bin/true=600" "/opt/my apps/agenda=900" >"$work/new.cfg"
entry=$XDG_CONFIG_HOME/autostart/Selvatro.desktop

# run_once KILL_DELAY_MS (empty: no kill): one start in a fresh folder; sets status, outcome and leftovers.
run_once() {
    local app=$work/app
    rm -rf "$app" "$entry"
    install_program "$app"
    cp "$work/old.cfg" "$app/selvatro.cfg"
    "$app/selvatro" 2>>"$work/stderr.txt" &
    local pid=$!
    if ! wait_for_file "$entry" "$patience"; then
        echo "the program did not write its autostart entry within $patience s" >&2
        kill -KILL "$pid" 2>/dev/null || true
    fi
    kill -TERM "$pid" 2>/dev/null || true
    if [ -n "$1" ]; then
        ((10#$1 > 0)) && nap "0.0$1"
        kill -KILL "$pid" 2>/dev/null || true
    fi
    status=0
    { wait "$pid"; } 2>/dev/null || status=$?
    if cmp -s "$app/selvatro.cfg" "$work/old.cfg"; then
        outcome=old
    elif cmp -s "$app/selvatro.cfg" "$work/new.cfg"; then
        outcome=new
    else
        outcome=torn
        cp "$app/selvatro.cfg" "${TMPDIR:-/tmp}/selvatro-torn-$$-$n.cfg" 2>/dev/null || true
    fi
    leftovers=$(cd "$app" && find . -mindepth 1 -maxdepth 1 ! -name selvatro ! -name selvatro-hold ! -name selvatro.cfg -printf '%f\n')
}

# A clean end first: the save turns the hand-edited list into the canonical one.
n=0
run_once ""
check "a SIGTERM alone ends with status 0 (got $status)" test "$status" -eq 0
check "a SIGTERM alone saves the canonical list (got: $outcome)" test "$outcome" = new

declare -A outcomes=([old]=0 [new]=0 [torn]=0)
declare -A statuses=()
temps=0
for ((n = 1; n <= iterations; n++)); do
    delay=$(printf '%02d' $((RANDOM % 21)))
    run_once "$delay"
    outcomes[$outcome]=$((outcomes[$outcome] + 1))
    statuses[$status]=$((${statuses[$status]:-0} + 1))
    if [ "$outcome" = torn ]; then
        check "iteration $n (kill after $delay ms): the list is neither the old nor the new one" false
    fi
    # 0: saved and ended before the kill; 137: killed (128 + 9). Anything else is a crash or a lost signal.
    if [ "$status" -ne 0 ] && [ "$status" -ne 137 ]; then
        check "iteration $n (kill after $delay ms): exit status $status" false
    fi
    if [ "$status" -eq 0 ] && [ "$outcome" != new ]; then
        check "iteration $n: the program ended normally without saving" false
    fi
    while IFS= read -r name; do
        [ -z "$name" ] && continue
        if [[ $name == .selvatro.cfg.?????? ]]; then
            temps=$((temps + 1))  # the save's dot-temporary, which no existence test takes for the list
        else
            check "iteration $n: a file '$name' was left beside the list" false
        fi
    done <<<"$leftovers"
done
check "every kill left the old or the new list (torn: ${outcomes[torn]})" test "${outcomes[torn]}" -eq 0

status_text=""
for s in "${!statuses[@]}"; do status_text+="status$s=${statuses[$s]} "; done
echo "kill_save: $iterations kills: old list ${outcomes[old]}, new list ${outcomes[new]}, torn ${outcomes[torn]};" \
    "dot-temporaries left $temps; exit statuses: $status_text"
if [ -s "$work/stderr.txt" ] && grep -v 'XDG_RUNTIME_DIR' "$work/stderr.txt" | grep -q .; then
    echo "--- the program's standard error:" >&2
    sort "$work/stderr.txt" | uniq -c | head -20 >&2
fi
finish kill_save "$iterations" \
    "old=${outcomes[old]} new=${outcomes[new]} torn=${outcomes[torn]} temps=$temps $status_text"
