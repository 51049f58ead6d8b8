#!/usr/bin/env bash
# One whole logon under Valgrind's memcheck: the program starts two recorders at 2 and 3 seconds, saves the list
# and ends by itself. Any invalid read or write, use of uninitialised memory, or leak that the narrow suppression
# file (valgrind.supp, each entry explained there) does not name, makes Valgrind end with status 1.
#
#   valgrind_logon.sh SELVATRO RECORDER [SUPPRESSIONS]
#
# Exit status 77 (skipped) without valgrind.
source "$(dirname "$0")/lib.sh"

exe=$1
recorder=$2
supp=${3:-$(dirname "$0")/valgrind.supp}
if ! command -v valgrind >/dev/null; then
    echo "valgrind is not installed: skipped"
    exit 77
fi
make_sandbox

app=$work/app
install_program "$app" "$app/alpha=2" "$app/beta=3"
install_recorders "$app" alpha beta
cp "$app/selvatro.cfg" "$work/before.cfg"
export SELVATRO_RECORDER_LOG=$work/started.log

# The children of fork (the detached start of each program) are not checked: they only exec or _exit.
status=0
timeout 120 valgrind --error-exitcode=1 --leak-check=full --num-callers=40 --child-silent-after-fork=yes \
    --suppressions="$supp" --log-file="$work/valgrind.log" "$app/selvatro" 2>"$work/stderr.txt" || status=$?

grep -E 'ERROR SUMMARY|definitely lost:|indirectly lost:|possibly lost:|still reachable:|suppressed:' \
    "$work/valgrind.log" | sed 's/^==[0-9]*== */valgrind: /'
check "valgrind reports no error and the program ends with status 0 (got $status)" test "$status" -eq 0
if [ "$status" -ne 0 ]; then
    sed -n '/ERROR SUMMARY/q; /^==[0-9]*== *$/d; p' "$work/valgrind.log" | tail -n 120 >&2
fi
check "both programs started" test "$(cut -f1 "$SELVATRO_RECORDER_LOG" 2>/dev/null | sort | tr '\n' ' ')" \
    = "$app/alpha $app/beta "
check "the list is saved unchanged" cmp -s "$app/selvatro.cfg" "$work/before.cfg"
errors=$(sed -nE 's/.*ERROR SUMMARY: ([0-9]+) errors.*/\1/p' "$work/valgrind.log")
lost=$(sed -nE 's/.*definitely lost: ([0-9,]+) bytes.*/\1/p' "$work/valgrind.log")
finish valgrind_logon 1 "memcheck_errors=${errors:-?} definitely_lost_bytes=${lost:-?}"
