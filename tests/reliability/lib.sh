# Shared by the reliability scripts (sourced, not run): a private sandbox, checks that count, and waits that do
# not fork a process per poll.

set -euo pipefail
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

source "$(dirname "${BASH_SOURCE[0]}")/../lib/session.sh"
started_s=$SECONDS

# Makes $work, a temporary folder removed at exit, and points HOME and the XDG folders into it.
make_sandbox() {
    make_work
    private_home
    # A pipe that nobody writes: `read -t` on it is a sleep without a new process.
    exec {nap_fd}<> <(:)
}

# The waits of tests/lib/session.sh (wait_for, and nap through that pipe) poll every 5 ms here, where the instant
# of a signal matters.
poll_s=0.005

# wait_for_file FILE SECONDS: true once FILE exists.
wait_for_file() { wait_for "$2" test -e "$1"; }

# Ends the script with the closing line of the test runner and a line for scripts/reliability.sh:
# finish NAME CASES [DETAILS]
finish() {
    echo "RESULT $1 cases=$2 failures=$failures seconds=$((SECONDS - started_s)) checks=$passes ${3:-}"
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
}
