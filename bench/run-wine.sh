#!/usr/bin/env bash
# Selvatro's Windows build under Wine beside a bare Win32 window, and beside the same window writing its Startup
# shortcut as the design needs, each figure measured in the same run: cold start to the window shown, the launch
# instants of three programs due at 2, 3 and 4 s, the peak memory, the DLLs loaded when the window is shown. Wine is
# not Windows: the figures say how the program behaves under Wine on this machine, not on Windows.
#
#   bash bench/run-wine.sh [--quick] [--runs N] [--compare EXE] [--keep DIR]   (or: bash bench/run.sh --windows ...)
#
#   --quick        3 rounds instead of 5
#   --runs N       N rounds, each a run of selvatro.exe and one of each yardstick, interleaved
#   --compare EXE  also measure another selvatro.exe in the same rounds (an earlier build, say)
#   --keep DIR     keep the raw measurements (JSON) in DIR
#
# Builds with scripts/build-windows.sh (the program and the benchmark's Windows tools in build-windows), then runs
# bench/wine_bench.py under a private X server with openbox (tests/e2e/win32_display.sh), which bounds the whole.
set -euo pipefail
cd "$(dirname "$0")/.."

runs=5
keep=()
compare=()
while [ $# -gt 0 ]; do
    case $1 in
        --quick) runs=3 ;;
        --runs) runs=$2; shift ;;
        --keep) keep=(--keep "$(realpath -m "$2")"); shift ;;
        --compare) compare=(--compare "$(realpath "$2")"); shift ;;
        *) sed -n '2,13p' "$0" >&2; exit 2 ;;
    esac
    shift
done

for tool in xdotool xprop Xvfb openbox python3; do
    if ! command -v "$tool" >/dev/null; then
        echo "run-wine: $tool is not installed (bash scripts/setup.sh --bench installs it)" >&2
        exit 127
    fi
done

bash scripts/build-windows.sh >/dev/null
for built in build-windows/selvatro.exe build-windows/bench/bench_minimal_window_win32.exe \
    build-windows/bench/bench_shortcut_window_win32.exe build-windows/bench/bench_win32_recorder.exe; do
    [ -f "$built" ] || { echo "run-wine: the build left no $built" >&2; exit 1; }
done

# About 10 s a run under Wine, and the prefix's first making: the limit is generous, but a limit.
exec bash tests/e2e/win32_display.sh --timeout $((120 + runs * 4 * 20)) \
    python3 bench/wine_bench.py --build build-windows --runs "$runs" "${compare[@]}" "${keep[@]}"
