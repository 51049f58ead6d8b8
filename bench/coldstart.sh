#!/usr/bin/env bash
# Start-up of the built program beside a bare Qt window with the same widgets, under Xvfb with openbox: the time
# from exec to the window manager taking the window (both are created minimised), the CPU time spent until then,
# and the peak RSS; the median of several runs each, interleaved, and the ratios. Each run is a new process; the
# files stay in the page cache between runs. bench/run.sh measures this and more, with min and max.
#
#   bash bench/coldstart.sh [BUILD_FOLDER] [RUNS]      (defaults: build, 9)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-9}
[ -x "$build/selvatro" ] || { echo "no $build/selvatro: build it first" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

flags=(-std=c++20 -O2)
g++ "${flags[@]}" bench/launch_watch.cpp -o "$work/launch_watch" -lX11
g++ "${flags[@]}" -fPIC bench/minimal_window.cpp -o "$work/minimal_window" $(pkg-config --cflags --libs Qt6Widgets)

exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -n1 "$work/display")"
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep 'window id' >/dev/null && break
    sleep 0.05
done

# Selvatro runs from a folder of its own, with a list that starts nothing during the run, in a private HOME.
mkdir -p "$work/app" "$work/home"
cp "$build/selvatro" "$work/app/selvatro"
printf '"/nowhere/x","60"\r\n"",""\r\n"",""\r\n"",""\r\n"",""\r\n' >"$work/app/selvatro.cfg"
export HOME=$work/home XDG_CONFIG_HOME=$work/home/config XDG_RUNTIME_DIR=$work/runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"

# One line per run: milliseconds to the window shown, CPU milliseconds until then, peak RSS in KiB.
measure() {
    "$work/launch_watch" --window --linger 300 -- "$1" 2>/dev/null |
        awk -F= '{ v[$1] = $2 } END { printf "%.1f %.1f %d\n", (v["shown"] - v["spawn"]) / 1e6, v["cpu_shown_ns"] / 1e6, v["maxrss_kb"] }'
}
for _ in $(seq "$runs"); do
    measure "$work/app/selvatro" >>"$work/selvatro.txt"
    measure "$work/minimal_window" >>"$work/minimal.txt"
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
column() { awk -v c="$2" '{ print $c }' "$1" | median; }
s_ms=$(column "$work/selvatro.txt" 1) s_cpu=$(column "$work/selvatro.txt" 2) s_kb=$(column "$work/selvatro.txt" 3)
m_ms=$(column "$work/minimal.txt" 1) m_cpu=$(column "$work/minimal.txt" 2) m_kb=$(column "$work/minimal.txt" 3)
echo "runs: $runs each, Xvfb + openbox, display $DISPLAY; load average $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-16s %12s %12s %14s\n' "" "start (ms)" "CPU (ms)" "peak RSS (MB)"
printf '%-16s %12.1f %12.1f %14.1f\n' selvatro "$s_ms" "$s_cpu" "$(awk -v k="$s_kb" 'BEGIN{print k/1024}')"
printf '%-16s %12.1f %12.1f %14.1f\n' "minimal Qt" "$m_ms" "$m_cpu" "$(awk -v k="$m_kb" 'BEGIN{print k/1024}')"
printf '%-16s %12.2f %12.2f %14.2f\n' ratio "$(awk -v a="$s_ms" -v b="$m_ms" 'BEGIN{print a/b}')" \
    "$(awk -v a="$s_cpu" -v b="$m_cpu" 'BEGIN{print a/b}')" "$(awk -v a="$s_kb" -v b="$m_kb" 'BEGIN{print a/b}')"
