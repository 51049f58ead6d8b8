#!/usr/bin/env bash
# --help and --version: the program answers on standard output and ends with status 0, without a display and
# without touching anything (no logon entry, no list, nothing in the configuration folder). Any other argument is
# ignored: the program then runs as it always does.
#
#   options_test.sh EXECUTABLE VERSION
set -euo pipefail

source "$(dirname "$0")/../lib/session.sh"

exe=$1 version=$2
make_work
private_home
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM SESSION_MANAGER

dir=$work/app
install_program "$dir"

# answer NAME PATTERN ARGUMENT...: runs the program with ARGUMENTs and checks its answer and that nothing was touched.
answer() {
    local name=$1 pattern=$2
    shift 2
    status=0
    timeout "$patience" "$dir/selvatro" "$@" >"$work/$name.out" 2>"$work/$name.err" || status=$?
    check "$name: ends with status 0 (got $status)" test "$status" -eq 0
    check "$name: answers on standard output: $(head -c 200 "$work/$name.out")" grep -qE "$pattern" "$work/$name.out"
    check "$name: says nothing on standard error: $(head -c 200 "$work/$name.err")" test ! -s "$work/$name.err"
    check "$name: the configuration folder stays empty: $(find "$XDG_CONFIG_HOME" -mindepth 1 | head -3)" \
        test -z "$(find "$XDG_CONFIG_HOME" -mindepth 1)"
    check "$name: no list is written beside the program" test ! -e "$dir/selvatro.cfg"
    check "$name: nothing else appears in the home folder: $(ls -A "$HOME")" test "$(ls -A "$HOME")" = config
}

answer version "^selvatro ${version//./\\.}\$" --version
check "version: one line" test "$(wc -l <"$work/version.out")" -eq 1
answer help "^Usage: selvatro \[--help \| --version \| --give-back\]\$" --help
check "help: names the options and the list" grep -qE -- '--version|selvatro\.cfg' "$work/help.out"
answer "an ignored argument first" "^selvatro ${version//./\\.}\$" extra --version

# Another argument alone is ignored: the program starts as usual, and here, with no display, says so and ends.
status=0
timeout "$patience" "$dir/selvatro" --versions >"$work/other.out" 2>"$work/other.stderr" || status=$?
check "another argument: the program runs, and ends for want of a display (status $status)" test "$status" -eq 1
check "another argument: the no-display line: $(cat "$work/other.stderr")" grep -q '^selvatro: no display' "$work/other.stderr"

finish_checks
