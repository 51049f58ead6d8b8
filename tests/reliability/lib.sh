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

# nap SECONDS (fractions allowed)
nap() {
    read -r -t "$1" -u "$nap_fd" _ || true
}

# wait_for_file FILE SECONDS: true once FILE exists, polling every 5 ms.
wait_for_file() {
    local file=$1 polls
    polls=$(awk -v s="$2" 'BEGIN { printf "%d", s * 200 }')
    for ((i = 0; i < polls; i++)); do
        [ -e "$file" ] && return 0
        nap 0.005
    done
    [ -e "$file" ]
}

# Ends the script with the closing line of the test runner and a line for scripts/reliability.sh:
# finish NAME CASES [DETAILS]
finish() {
    echo "RESULT $1 cases=$2 failures=$failures seconds=$((SECONDS - started_s)) checks=$passes ${3:-}"
    echo "$passes passed, $failures failed"
    [ "$failures" -eq 0 ]
}
