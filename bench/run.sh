#!/usr/bin/env bash
# Selvatro's performance beside baselines measured in the same run, under Xvfb with openbox. Builds a Release
# executable, then prints a table: each figure the median of several runs with its min and max.
#
#   bash bench/run.sh [--quick] [--runs N] [--cold-runs N] [--build DIR] [--compare EXE] [--keep DIR]
#   bash bench/run.sh --windows [--quick] [--runs N] [--compare EXE] [--keep DIR]   (the Windows build under Wine:
#                  run-wine.sh)
#
#   --quick        delays 2 4 6 8 10 s instead of 5 15 30 45 60 s
#   --runs N       sequencer runs of each program (default 3)
#   --cold-runs N  cold starts of each program, page cache warm (default 15); a third as many with the page
#                  cache dropped before each start, where this user may write /proc/sys/vm/drop_caches
#   --build DIR    the build folder (default build-perf), configured as Release
#   --compare EXE  also measure another Selvatro executable side by side (an earlier build, say)
#   --keep DIR     keep the raw measurements in DIR
#
# What is measured, and against what (see docs/performance.md):
# 1. Launch instants. Five recorders (tests/lib/recorder.cpp: the first thing each does is read the clocks) in
#    the list; each one's error is its start minus its due instant, the due instant being the window shown plus
#    the delay, and also the program's first tick minus 1 s plus the delay (the first tick is seen from outside
#    as the caption "1 sec."). Baselines: a bare Qt program with the same widgets that starts the same recorders
#    with posix_spawn from a precise timer (bench/minimal_window.cpp), a shell script with sleep, and
#    systemd-run --user --on-active timers where a user systemd instance answers. Where perf may place
#    user-space probes (root), one more Selvatro run per round with probes on the tick's and Quitter's entries.
#    Every other run has no session bus; one more Selvatro run per round has a private one with a stand-in for the
#    user's systemd manager (tests/posix/manager_stand_in.cpp), so that each start also asks for its scope.
# 2. Cold start to the window shown (the window manager setting WM_STATE on the program's window), the CPU
#    time spent until then, and the peak RSS, beside the bare Qt window.
# 3. CPU time (sum of sum_exec_runtime over the threads) and context switches between 0.5 s after the window is
#    shown and 0.5 s after the last delay: the ticks and the five starts, without the start-up and the end;
#    beside the bare Qt window with and without changing its caption, and the shell script.
# 4. Quitter: from the tick after the last delay (due at the first tick plus the last delay) to the process
#    reaped, the durable save included; also with a hand-edited list that the end must rewrite.
# 5. One program's start, in-process (bench/spawn_bench.cpp): Selvatro's start beside posix_spawn and fork + exec;
#    with the manager's stand-in on the bus, also the start announced ahead (held by selvatro-hold, then released).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
if [ "${1:-}" = --windows ]; then
    shift
    exec bash bench/run-wine.sh "$@"
fi
# The tests' shell library: the private X session, lists, the program installed in a folder.
source tests/lib/session.sh

quick=0
runs=3
cold_runs=15
build=build-perf
compare=
keep=
while [ $# -gt 0 ]; do
    case $1 in
        --quick) quick=1 ;;
        --runs) runs=$2; shift ;;
        --cold-runs) cold_runs=$2; shift ;;
        --build) build=$2; shift ;;
        --compare) compare=$(realpath "$2"); shift ;;
        --keep) keep=$2; shift ;;
        *) sed -n '2,12p' "$0" >&2; exit 2 ;;
    esac
    shift
done
if [ "$quick" = 1 ]; then delays=(2 4 6 8 10); else delays=(5 15 30 45 60); fi
last=${delays[-1]}

bash scripts/setup.sh --bench

# ---- the Release build, with the tools of bench/ ----
tools=(bench_launch_watch bench_minimal_window bench_spawn)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target selvatro selvatro_recorder "${tools[@]}" >/dev/null
# The manager's stand-in comes with the tests; without them, the run with a bus is left out.
manager=$root/$build/tests/posix/selvatro_manager_stand_in
cmake --build "$build" -j2 --target selvatro_manager_stand_in >/dev/null 2>&1 || manager=
exe=$(realpath "$build/selvatro")

work=$(mktemp -d "${TMPDIR:-/tmp}/selvatro-bench.XXXXXX")
results=$work/results
mkdir -p "$results" "$work/tools"
pids=()
cleanup() {
    perf probe -q -d 'selvatro_bench:*' >/dev/null 2>&1 || true
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    if [ -n "$keep" ]; then mkdir -p "$keep" && cp -r "$results/." "$keep/"; fi
    rm -rf "$work"
}
trap cleanup EXIT

# A measurement whose watcher failed is left out of the table, and said so.
failed() {
    echo "bench: the measurement $1 failed and is left out" >&2
    echo "failed=$1" >>"$results/failures"
}

# ---- the tools ----
for tool in "${tools[@]}"; do cp "$build/bench/$tool" "$work/tools/${tool#bench_}"; done
cp "$build/tests/lib/selvatro_recorder" "$work/tools/recorder"
watch=$work/tools/launch_watch

# ---- a private X server with a window manager ----
start_x_session || { echo "bench: Xvfb or openbox did not start" >&2; exit 1; }
private_home
unset SESSION_MANAGER DBUS_SESSION_BUS_ADDRESS

subjects=(selvatro)
labels="selvatro:selvatro|probed:selvatro, tick probed|bus:selvatro, manager on the bus|minimal:minimal Qt|quiet:minimal Qt, no caption|shell:sh + sleep|systemd:systemd-run --user"
copies=("selvatro:$exe")
if [ -n "$compare" ]; then
    subjects+=(compare)
    labels+="|compare:compared ($(basename "$(dirname "$compare")")/$(basename "$compare"))"
    copies+=("compare:$compare")
fi

# Each program has a home of its own, as each would at a logon: its logon entry, written at its first start, is
# the same at every later start.
as_user() {  # as_user SUBJECT COMMAND...
    local home=$work/homes/$1
    shift
    mkdir -p "$home/config"
    HOME=$home XDG_CONFIG_HOME=$home/config "$@"
}

# A folder of its own for each Selvatro (the list lives beside the executable), on the same disk as the build.
install_selvatro() {  # install_selvatro NAME EXE LIST_KIND -> folder
    local dir=$work/disk/$1 rows=() i
    rm -rf "$dir"
    if [ "$3" = idle ]; then
        # Nothing starts during a cold-start measurement: row 0 is due long after the program has been ended.
        exe=$2 install_program "$dir" /nowhere/x=3600
    else
        for i in "${!delays[@]}"; do rows+=("$dir/r$((i + 1))=${delays[$i]}"); done
        exe=$2 install_program "$dir" "${rows[@]}"
        for i in "${!delays[@]}"; do ln "$work/disk/recorder" "$dir/r$((i + 1))"; done
    fi
    echo "$dir"
}
# The disk: ext4 or whatever holds the build, not a tmpfs, so that fsync costs what it costs.
mkdir -p "$root/$build/bench-disk"
ln -s "$root/$build/bench-disk" "$work/disk"
rm -rf "$root/$build/bench-disk/"*
# The recorders are hard links of one copy on that disk (a link cannot cross file systems).
cp "$work/tools/recorder" "$work/disk/recorder"

{
    echo "delays=${delays[*]}"
    echo "labels=$labels"
    echo "load_before=$(cut -d' ' -f1-3 /proc/loadavg)"
} >"$results/meta"

# ---- 2. cold start ----
cold_subjects=("${subjects[@]}" minimal)
echo "cold start: $cold_runs runs of ${cold_subjects[*]}, interleaved" >&2
for n in $(seq "$cold_runs"); do
    for s in "${cold_subjects[@]}"; do
        if [ "$s" = minimal ]; then
            "$watch" --window --linger 300 --timeout 60 -- "$work/tools/minimal_window" >"$results/cold-$s-$n.out" 2>/dev/null || failed "cold-$s-$n"
        else
            src=$(printf '%s\n' "${copies[@]}" | sed -n "s/^$s://p")
            dir=$(install_selvatro "app-$s" "$src" idle)
            as_user "$s" "$watch" --window --linger 300 --timeout 60 -- "$dir/selvatro" >"$results/cold-$s-$n.out" 2>/dev/null || failed "cold-$s-$n"
        fi
    done
done
drop_runs=$(((cold_runs + 2) / 3))
drop_subjects=()
if [ -w /proc/sys/vm/drop_caches ] && sync && echo 3 >/proc/sys/vm/drop_caches 2>/dev/null; then
    drop_subjects=("${cold_subjects[@]}")
    echo "cold start, page cache dropped: $drop_runs runs of ${drop_subjects[*]}" >&2
    for n in $(seq "$drop_runs"); do
        for s in "${drop_subjects[@]}"; do
            if [ "$s" = minimal ]; then
                target=$work/tools/minimal_window
            else
                src=$(printf '%s\n' "${copies[@]}" | sed -n "s/^$s://p")
                target=$(install_selvatro "app-$s" "$src" idle)/selvatro
            fi
            sync
            echo 3 >/proc/sys/vm/drop_caches
            as_user "$s" "$watch" --window --linger 300 --timeout 60 -- "$target" >"$results/drop-$s-$n.out" 2>/dev/null || failed "drop-$s-$n"
        done
    done
else
    echo "cold start, page cache dropped: not measured, /proc/sys/vm/drop_caches is not writable here" >&2
    echo "drop_note=not measured: /proc/sys/vm/drop_caches is not writable for $(id -un)" >>"$results/meta"
fi
{
    echo "cold_subjects=${cold_subjects[*]}"
    echo "drop_subjects=${drop_subjects[*]}"
    echo "cold_baseline=minimal"
} >>"$results/meta"

# ---- 1, 3, 4. the sequencer runs ----
seq_subjects=("${subjects[@]}" minimal quiet shell)
unavailable=
# A private session bus with the stand-in for the user's manager, used by the "bus" runs alone: with no
# dbus-daemon, whatever the tests build, or a stand-in that does not come up, those runs are left out.
bus_subjects=
if [ -n "$manager" ] && command -v dbus-daemon >/dev/null; then
    mkdir -p "$work/bus"
    cat >"$work/bus/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>session</type><listen>unix:path=$work/bus/socket</listen>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/>
</policy></busconfig>
EOF
    dbus-daemon --nofork --config-file="$work/bus/bus.conf" >"$work/bus/daemon.log" 2>&1 &
    pids+=($!)
    bus_address=unix:path=$work/bus/socket
    if wait_for 5 test -S "$work/bus/socket"; then
        "$manager" "$bus_address" "$results/manager.log" answer >"$work/bus/manager.log" 2>&1 &
        pids+=($!)
        wait_for 5 test -e "$results/manager.log.ready" && bus_subjects=bus
    fi
fi
if [ -n "$bus_subjects" ]; then
    seq_subjects=("${subjects[@]}" bus "${seq_subjects[@]:${#subjects[@]}}")
else
    unavailable+="${unavailable:+|}bus:no private bus with the manager's stand-in (dbus-daemon and the tests' build needed)"
fi
if systemd-run --user --quiet --on-active=3600 --unit="selvatro-bench-probe-$$" /bin/true >/dev/null 2>"$work/systemd.err"; then
    systemctl --user stop "selvatro-bench-probe-$$.timer" >/dev/null 2>&1 || true
    seq_subjects+=(systemd)
else
    unavailable="systemd:systemd-run --user fails here ($(head -n1 "$work/systemd.err" | tr '|' '/'))"
fi
# Where perf may place user-space probes (root, a kernel with uprobes), one more Selvatro run per round with a
# probe on the tick's entry and on Quitter's, timed on CLOCK_MONOTONIC: the instants the program itself acts on,
# which the caption seen by the window manager only follows.
add_probes() {  # add_probes EXE
    perf probe -q -d 'selvatro_bench:*' >/dev/null 2>&1 || true
    local tick quit end
    tick=$(nm -C "$1" | awk '$2 == "T" && $3 ~ /^selvatro::sequencer::Timer1_Timer\(/ && !found { found = $1 } END { print found }')
    quit=$(nm -C "$1" | awk '$2 == "T" && $3 ~ /^selvatro::list::Quitter\(/ && !found { found = $1 } END { print found }')
    end=$(nm -C "$1" | awk '$2 == "T" && $3 ~ /^selvatro::platform::qt::QtProcess::end\(/ && !found { found = $1 } END { print found }')
    [ -n "$tick" ] && [ -n "$quit" ] && [ -n "$end" ] &&
        perf probe -q -x "$1" -a "selvatro_bench:selvatro_end=0x$end" >/dev/null 2>"$work/probe.err" &&
        perf probe -q -x "$1" -a "selvatro_bench:selvatro_tick=0x$tick" >/dev/null 2>"$work/probe.err" &&
        perf probe -q -x "$1" -a "selvatro_bench:selvatro_quit=0x$quit" >/dev/null 2>"$work/probe.err"
}
if ! command -v perf >/dev/null; then
    unavailable+="${unavailable:+|}probed:perf is not installed"
elif ! add_probes "$exe"; then
    unavailable+="${unavailable:+|}probed:perf cannot place user-space probes here, root and uprobes needed ($(grep -m1 -i error "$work/probe.err" | tr '|' '/'))"
else
    seq_subjects=(selvatro probed "${seq_subjects[@]:1}")
fi
{
    echo "subjects=${seq_subjects[*]}"
    echo "quit_subjects=${subjects[*]}${bus_subjects:+ $bus_subjects}$([[ " ${seq_subjects[*]} " == *" probed "* ]] && echo " probed") minimal"
    echo "unavailable=$unavailable"
    for s in "${subjects[@]}" probed bus minimal quiet; do echo "window_$s=1"; done
} >>"$results/meta"
echo "sequencer: $runs runs of ${seq_subjects[*]} with delays ${delays[*]} s, interleaved" >&2
samples=(--sample 500 $((last * 1000 + 500)))
for n in $(seq "$runs"); do
    for s in "${seq_subjects[@]}"; do
        out=$results/seq-$s-$n
        case $s in
            minimal | quiet)
                dir=$work/disk/seq-$s
                rm -rf "$dir" && mkdir -p "$dir"
                args=()
                [ "$s" = quiet ] && args+=(--no-caption)
                args+=(--run "$dir/saved.cfg")
                for i in "${!delays[@]}"; do
                    ln "$work/disk/recorder" "$dir/r$((i + 1))"
                    args+=("${delays[$i]}" "$dir/r$((i + 1))")
                done
                "$watch" --window "${samples[@]}" --timeout $((last + 30)) -- \
                    "$work/tools/minimal_window" "${args[@]}" >"$out.out" 2>/dev/null || failed "seq-$s-$n"
                ;;
            shell)
                dir=$work/disk/seq-shell
                rm -rf "$dir" && mkdir -p "$dir"
                script="" previous=0
                for i in "${!delays[@]}"; do
                    ln "$work/disk/recorder" "$dir/r$((i + 1))"
                    script+="sleep $((delays[i] - previous)); $dir/r$((i + 1)) & "
                    previous=${delays[$i]}
                done
                "$watch" "${samples[@]}" --timeout $((last + 30)) -- /bin/sh -c "${script}sleep 1; wait" >"$out.out" 2>/dev/null || failed "seq-$s-$n"
                ;;
            systemd)
                dir=$work/disk/seq-systemd
                rm -rf "$dir" && mkdir -p "$dir"
                script=""
                for i in "${!delays[@]}"; do
                    ln "$work/disk/recorder" "$dir/r$((i + 1))"
                    script+="systemd-run --user --quiet --on-active=${delays[$i]} $dir/r$((i + 1)); "
                done
                "$watch" --timeout $((last + 30)) -- /bin/sh -c "$script" >"$out.out" 2>/dev/null || failed "seq-$s-$n"
                sleep $((last + 2))
                ;;
            probed)
                dir=$(install_selvatro "seq-$s" "$exe" list)
                add_probes "$dir/selvatro"
                perf record -q -a -k CLOCK_MONOTONIC -e 'selvatro_bench:*' -o "$work/perf.data" >/dev/null 2>&1 &
                recorder=$!
                sleep 1
                as_user "$s" "$watch" --window "${samples[@]}" --timeout $((last + 30)) -- "$dir/selvatro" \
                    >"$out.out" 2>/dev/null || failed "seq-$s-$n"
                kill -INT "$recorder" && wait "$recorder" || true
                perf script -i "$work/perf.data" -F time,event --ns >"$out.probes" 2>/dev/null || failed "seq-$s-$n"
                ;;
            bus)
                dir=$(install_selvatro "seq-$s" "$exe" list)
                DBUS_SESSION_BUS_ADDRESS=$bus_address as_user "$s" "$watch" --window "${samples[@]}" \
                    --timeout $((last + 30)) -- "$dir/selvatro" >"$out.out" 2>/dev/null || failed "seq-$s-$n"
                ;;
            *)
                src=$(printf '%s\n' "${copies[@]}" | sed -n "s/^$s://p")
                dir=$(install_selvatro "seq-$s" "$src" list)
                as_user "$s" "$watch" --window "${samples[@]}" --timeout $((last + 30)) -- "$dir/selvatro" \
                    >"$out.out" 2>/dev/null || failed "seq-$s-$n"
                ;;
        esac
        cp "$dir/launches.log" "$out.log" 2>/dev/null || true
    done
done
# ---- 4. Quitter when the list must be written: a hand-edited list (line feeds alone, a bare number), which the
# save turns into the canonical form; one recorder due at 2 s ----
quit_runs=$(((cold_runs + 2) / 3))
echo "Quitter with a list to rewrite: $quit_runs runs of ${subjects[*]} minimal" >&2
for n in $(seq "$quit_runs"); do
    for s in "${subjects[@]}" minimal; do
        dir=$work/disk/rewrite-$s
        rm -rf "$dir" && mkdir -p "$dir"
        ln "$work/disk/recorder" "$dir/r1"
        if [ "$s" = minimal ]; then
            "$watch" --window --timeout 30 -- "$work/tools/minimal_window" --run "$dir/saved.cfg" 2 "$dir/r1" \
                >"$results/rewrite-$s-$n.out" 2>/dev/null || failed "rewrite-$s-$n"
        else
            src=$(printf '%s\n' "${copies[@]}" | sed -n "s/^$s://p")
            exe=$src install_program "$dir"
            printf '"%s",2\n' "$dir/r1" >"$dir/selvatro.cfg"
            as_user "$s" "$watch" --window --timeout 30 -- "$dir/selvatro" >"$results/rewrite-$s-$n.out" 2>/dev/null || failed "rewrite-$s-$n"
            grep -q $'\r' "$dir/selvatro.cfg" || echo "bench: $s did not rewrite its list" >&2
        fi
    done
done

# ---- 5. one program's start, in-process, without a display ----
# The sequencer runs' requests, counted before the in-process starts add theirs.
sequencer_requests=$(wc -l <"$results/manager.log" 2>/dev/null || echo 0)
echo "one program's start: 200 runs each of selvatro's start, posix_spawn, fork + exec" >&2
mkdir -p "$work/disk/spawn"
cp "$work/tools/recorder" "$work/disk/spawn/recorder"
# With the private bus, the announced start is measured too.
spawn_env=()
[ -n "$bus_subjects" ] && spawn_env=(DBUS_SESSION_BUS_ADDRESS="$bus_address")
env "${spawn_env[@]}" "$work/tools/spawn" "$work/disk/spawn/recorder" 200 >"$results/spawn.txt" || failed spawn

echo "load_after=$(cut -d' ' -f1-3 /proc/loadavg)" >>"$results/meta"

# ---- the table ----
echo "Selvatro performance: $exe"
echo "machine: $(nproc) cores, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)," \
    "$(awk '/MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)," \
    "Debian $(cat /etc/debian_version), Qt $(pkg-config --modversion Qt6Core)"
echo "load average (1, 5, 15 min): before $(sed -n 's/^load_before=//p' "$results/meta"), after $(sed -n 's/^load_after=//p' "$results/meta")"
dropped="not measured"
[ ${#drop_subjects[@]} -gt 0 ] && dropped="$drop_runs each"
echo "delays: ${delays[*]} s; sequencer runs: $runs each; cold starts: $cold_runs each (page cache dropped: $dropped)"
python3 bench/analyse.py "$results"
if [ -s "$results/spawn.txt" ]; then
    echo
    echo "5. One program's start, in-process, without a display (bench/spawn_bench.cpp)"
    cat "$results/spawn.txt"
fi
if [ -n "$bus_subjects" ]; then
    echo "  the manager's stand-in received $sequencer_requests scope requests" \
        "for the $((runs * ${#delays[@]})) programs started by the runs with the bus"
fi
grep -h '^drop_note=' "$results/meta" | sed 's/^drop_note=/  cold start with the page cache dropped: /' || true
