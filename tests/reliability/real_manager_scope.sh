#!/usr/bin/env bash
# Each started program in its own systemd scope, against a real systemd user manager: Selvatro started by the
# manager as a unit of its own (as the desktop's autostart generator starts it), with a list whose program forks a
# child and ends at once, as launcher scripts and tray programs do. In every run the program must already be in
# its scope when its first line runs, its child must be there too, and the child must outlive Selvatro's unit.
#
#   real_manager_scope.sh SELVATRO [RUNS]      (RUNS: 20 unless given)
#
# The machine need not have been booted with systemd: the script makes a private mount namespace in which
# /run/systemd and /run/user are its own, gives a test user (SELVATRO_TEST_USER, default nobody) a cgroup of its
# own in every hierarchy under /sys/fs/cgroup, and runs `systemd --user` there as that user, afresh for each run,
# so that Selvatro's start is the manager's first of the session and Selvatro is the first to use its bus (which
# the manager starts on demand). Skips (77) where that cannot be made: not root, no unshare, no systemd.
# SELVATRO_KEEP_LOGS=DIR keeps each run's manager log and records there.
source "$(dirname "$0")/lib.sh"

exe=$(realpath "$1")
runs=${2:-20}

if [ "$(id -u)" != 0 ]; then
    echo "SKIP: the user manager's cgroups and mount namespace need root"
    exit 77
fi
need_tools unshare setpriv systemd-run systemctl Xvfb openbox xprop dbus-daemon
manager_program=/lib/systemd/systemd
if [ ! -x "$manager_program" ]; then
    echo "SKIP: no $manager_program"
    exit 77
fi
test_user=${SELVATRO_TEST_USER:-nobody}
if ! uid=$(id -u "$test_user" 2>/dev/null) || [ "$uid" = 0 ]; then
    echo "SKIP: no unprivileged user $test_user"
    exit 77
fi
gid=$(id -g "$test_user")

# Everything below runs in a mount namespace of its own, so that nothing of the machine's /run is touched.
if [ -z "${SELVATRO_PRIVATE_MOUNTS:-}" ]; then
    if ! unshare -m --propagation private true 2>/dev/null; then
        echo "SKIP: unshare -m is not allowed here"
        exit 77
    fi
    SELVATRO_PRIVATE_MOUNTS=1 exec unshare -m --propagation private bash "$0" "$@"
fi

make_work
chmod 755 "$work"
home=$work/home
mkdir -p "$home"
chown "$uid:$gid" "$home"
runtime=/run/user/$uid
mount -t tmpfs -o mode=755 tmpfs /run/systemd
mkdir /run/systemd/system
mount -t tmpfs -o mode=755 tmpfs /run/user

# The test user's cgroup in every hierarchy this machine has (cgroup2 alone, or v1 hierarchies beside it).
cgroups=()
if [ -e /sys/fs/cgroup/cgroup.procs ]; then
    hierarchies=(/sys/fs/cgroup)
else
    hierarchies=()
    for h in /sys/fs/cgroup/*; do
        if [ -e "$h/cgroup.procs" ]; then hierarchies+=("$h"); fi
    done
fi
for h in "${hierarchies[@]}"; do
    cg=$h/selvatro-test.$$
    if ! mkdir "$cg" 2>/dev/null; then
        echo "SKIP: cannot make a cgroup in $h"
        exit 77
    fi
    cgroups+=("$cg")
    if [ -e "$cg/cpuset.cpus" ]; then
        cat "$h/cpuset.cpus" >"$cg/cpuset.cpus"
        cat "$h/cpuset.mems" >"$cg/cpuset.mems"
    fi
    chown -R "$uid:$gid" "$cg"
done

# Ends every process left in the test user's cgroups, then removes them, deepest first.
empty_cgroups() {
    local cg p
    for cg in "${cgroups[@]}"; do
        for p in $(find "$cg" -name cgroup.procs -exec cat {} + 2>/dev/null); do kill -KILL "$p" 2>/dev/null || true; done
    done
    for cg in "${cgroups[@]}"; do
        wait_for "$patience" test -z "$(find "$cg" -name cgroup.procs -exec cat {} + 2>/dev/null)" || true
    done
}
remove_cgroups() {
    empty_cgroups
    for cg in "${cgroups[@]}"; do find "$cg" -depth -type d -exec rmdir {} + 2>/dev/null || true; done
}
end_real_manager() {
    remove_cgroups
    end_work
}
trap end_real_manager EXIT

# as_user COMMAND...: COMMAND as the test user, in the environment a session gives it.
as_user() {
    setpriv --reuid="$uid" --regid="$gid" --clear-groups \
        env -i HOME="$home" USER="$test_user" LOGNAME="$test_user" XDG_RUNTIME_DIR="$runtime" PATH=/usr/bin:/bin \
        "$@"
}
manager_running() {
    local state
    state=$(as_user systemctl --user is-system-running 2>/dev/null) || true
    [ "$state" = running ] || [ "$state" = degraded ]
}

# start_manager LOG: a fresh user manager in the test user's cgroups, with an empty runtime folder; true once it
# answers.
start_manager() {
    umount /run/user 2>/dev/null || true
    mount -t tmpfs -o mode=755 tmpfs /run/user
    mkdir -m 700 "$runtime"
    chown "$uid:$gid" "$runtime"
    (
        for cg in "${cgroups[@]}"; do echo "$BASHPID" >"$cg/cgroup.procs"; done
        as_user env SYSTEMD_LOG_LEVEL=debug SYSTEMD_LOG_TARGET=console "$manager_program" --user
    ) </dev/null >"$1" 2>&1 &
    manager=$!
    wait_for "$patience" holds_or_ended "$manager" manager_running && manager_running
}
stop_manager() {
    kill -TERM "$manager" 2>/dev/null || true
    wait_for "$patience" ended "$manager" || true
    empty_cgroups
    wait "$manager" 2>/dev/null || true
}

start_x_session
# The test user's programs are clients of root's X server.
xhost "+si:localuser:$test_user" >/dev/null 2>&1 || true

# The program of the list: records its own cgroup as its first line, starts a child that records its own and
# then lives on, and ends at once.
selvatro_ended() { [ "$(as_user systemctl --user is-active app-selvatro@autostart.service)" != active ]; }
unit_line() { grep -m1 -E '^[0-9]+:name=systemd:|^0::' "$1" | cut -d: -f3; }

program_outside=0
child_outside=0
child_died=0
no_start=0
for ((run = 1; run <= runs; run++)); do
    dir=$work/run$run
    mkdir -p "$dir"
    printf '#!/bin/sh\ncat /proc/$$/cgroup >%s/program.cgroup\necho $$ >%s/program.pid\n(cat /proc/self/cgroup >%s/child.cgroup; exec sleep 120) &\necho $! >%s/child.pid\n' \
        "$dir" "$dir" "$dir" "$dir" >"$dir/launcher"
    chmod 755 "$dir/launcher"
    install_program "$dir/app" "$dir/launcher=2"
    chown -R "$uid:$gid" "$dir"
    if ! start_manager "$dir/manager.log"; then
        echo "run $run: the user manager did not come up" >&2
        cat "$dir/manager.log" >&2
        # The first start tells whether this machine can run a user manager at all (a container without the
        # cgroup controllers or the system calls it needs cannot); one that came up before and not now is a fault.
        if [ "$run" -eq 1 ]; then
            echo "SKIP: this machine cannot run a systemd user manager"
            exit 77
        fi
        exit 1
    fi
    as_user systemd-run --user --quiet --unit=app-selvatro@autostart.service --setenv=DISPLAY="$DISPLAY" \
        "$dir/app/selvatro"
    verdict=ok
    if ! wait_for "$patience" test -s "$dir/child.pid" || ! wait_for "$patience" test -s "$dir/child.cgroup"; then
        verdict="the program did not start"
        no_start=$((no_start + 1))
    else
        program=$(cat "$dir/program.pid")
        child=$(cat "$dir/child.pid")
        scope=app-selvatro-launcher-$program.scope
        # Selvatro ends by itself a second after its last start; its unit goes with it.
        wait_for "$patience" selvatro_ended || true
        nap 0.5
        if [[ "$(unit_line "$dir/program.cgroup")" != */$scope ]]; then
            verdict="the program ran in $(unit_line "$dir/program.cgroup")"
            program_outside=$((program_outside + 1))
        fi
        if ! alive "$child"; then
            verdict="$verdict; the child was stopped with Selvatro's unit (it had started in $(unit_line "$dir/child.cgroup"))"
            child_died=$((child_died + 1))
        elif [[ "$(unit_line "/proc/$child/cgroup")" != */$scope ]]; then
            verdict="$verdict; the child lives in $(unit_line "/proc/$child/cgroup")"
            child_outside=$((child_outside + 1))
        fi
        verdict=${verdict#ok; }
    fi
    check "run $run: program and child in the program's scope, the child outliving Selvatro" test "$verdict" = ok
    echo "run $run: $verdict"
    if [ -n "${SELVATRO_KEEP_LOGS:-}" ]; then
        mkdir -p "$SELVATRO_KEEP_LOGS"
        cp -r "$dir" "$SELVATRO_KEEP_LOGS/run$run"
        rm -f "$SELVATRO_KEEP_LOGS/run$run/app/selvatro"
    fi
    stop_manager
    rm -rf "$dir"
done
finish real_manager_scope "$runs" "program_outside=$program_outside child_died=$child_died child_outside=$child_outside no_start=$no_start"
