#!/usr/bin/env bash
# Start-up of the built program beside a bare Qt window with the same widgets, under Xvfb with openbox: the time
# from exec to the window manager taking the window (both are created minimised), and the peak RSS; the median of
# several runs each, and the ratios. Each run is a new process; the files stay in the page cache between runs.
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

flags=(-std=c++20 -O2 -fPIC)
g++ "${flags[@]}" bench/launch_watch.cpp -o "$work/launch_watch" -lX11
g++ "${flags[@]}" bench/minimal_window.cpp -o "$work/minimal_window" $(pkg-config --cflags --libs Qt6Widgets)

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

for i in $(seq "$runs"); do
    "$work/launch_watch" "$work/app/selvatro" >>"$work/selvatro.txt"
    "$work/launch_watch" "$work/minimal_window" >>"$work/minimal.txt"
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
s_ms=$(awk '{print $1}' "$work/selvatro.txt" | median)
s_kb=$(awk '{print $2}' "$work/selvatro.txt" | median)
m_ms=$(awk '{print $1}' "$work/minimal.txt" | median)
m_kb=$(awk '{print $2}' "$work/minimal.txt" | median)
echo "runs: $runs each, Xvfb + openbox, display $DISPLAY"
printf '%-16s %12s %14s\n' "" "start (ms)" "peak RSS (MB)"
printf '%-16s %12.1f %14.1f\n' selvatro "$s_ms" "$(awk -v k="$s_kb" 'BEGIN{print k/1024}')"
printf '%-16s %12.1f %14.1f\n' "minimal Qt" "$m_ms" "$(awk -v k="$m_kb" 'BEGIN{print k/1024}')"
printf '%-16s %12.2f %14.2f\n' ratio "$(awk -v a="$s_ms" -v b="$m_ms" 'BEGIN{print a/b}')" \
    "$(awk -v a="$s_kb" -v b="$m_kb" 'BEGIN{print a/b}')"
