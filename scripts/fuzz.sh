#!/usr/bin/env bash
# Long fuzzing: builds the libFuzzer targets with clang in a folder of their own and runs each one for a fixed
# time on a scratch copy of its committed seeds, then prints what each run did.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [--merge] [--jobs N] [--target NAME]... [--report]
#
#   SECONDS_PER_TARGET  -max_total_time of each target (default 600)
#   --merge             afterwards, minimise the new inputs into tests/fuzz/corpus/<target> (-merge=1); without it
#                       the committed seeds are never written
#   --jobs N            targets run at once (default: the number of cores, at most 2)
#   --target NAME       run only this target (list_file, number, row_rules); may be repeated
#   --report            build and run nothing: print the table again from the logs of the last run
#
# Environment: SELVATRO_FUZZ_BUILD, the build folder (default build-rel-fuzz beside the sources).
# Exit status: 0 when no target found a crash, 1 otherwise. Each finding is kept as
# <build>/artifacts/<target>/crash-* (or leak-, timeout-, oom-), each log as <build>/logs/<target>.log, and the
# table printed at the end also as <build>/logs/summary.txt (scripts/reliability.sh --doc copies it).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=600
merge=0
report=0
jobs=$(nproc)
((jobs > 2)) && jobs=2
targets=()
while (($#)); do
    case $1 in
        --merge) merge=1 ;;
        --report) report=1 ;;
        --jobs) jobs=$2; shift ;;
        --target) targets+=("$2"); shift ;;
        -h | --help) sed -n '2,17p' "$0"; exit 0 ;;
        *[!0-9]* | '') echo "fuzz.sh: unknown argument: $1" >&2; exit 2 ;;
        *) seconds=$1 ;;
    esac
    shift
done
((${#targets[@]})) || targets=(list_file number row_rules)
build=${SELVATRO_FUZZ_BUILD:-$root/build-rel-fuzz}
logs=$build/logs

# One target: a fresh scratch copy of its seeds, a fresh artifact folder, one timed run.
run_target() {
    local target=$1
    local scratch=$build/long_scratch/$target artifacts=$build/artifacts/$target
    rm -rf "$scratch" "$artifacts"
    mkdir -p "$scratch" "$artifacts"
    cp "$root/tests/fuzz/corpus/$target"/* "$scratch"/
    local start=$SECONDS status=0
    "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 -timeout=10 \
        -artifact_prefix="$artifacts/" "$scratch" >"$logs/$target.log" 2>&1 || status=$?
    echo "$status" >"$logs/$target.status"
    echo $((SECONDS - start)) >"$logs/$target.seconds"
}

run_all() {
    echo "== building the fuzz targets in $build =="
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DSELVATRO_FUZZ=ON -DSELVATRO_PLATFORM=none >/dev/null
    cmake --build "$build" -j 2 --target "${targets[@]/#/fuzz_}"

    echo "== running ${targets[*]} for ${seconds} s each, $jobs at a time =="
    mkdir -p "$logs"
    echo "$seconds" >"$logs/seconds_per_target"
    local running=0
    for target in "${targets[@]}"; do
        if ((running >= jobs)); then
            wait -n
            running=$((running - 1))
        fi
        run_target "$target" &
        running=$((running + 1))
    done
    wait
}

((report)) || run_all

# The figures, from libFuzzer's own lines: the last status line (cov:, ft:, corp:) and the final statistics.
failed=0
summary=$logs/summary.txt
finished=$(for t in "${targets[@]}"; do date -u -r "$logs/$t.log" '+%Y-%m-%d %H:%M UTC'; done | sort | tail -n 1)
printf '# scripts/fuzz.sh: %s s per target, finished %s\n' "$(cat "$logs/seconds_per_target")" "$finished" \
    >"$summary"
printf '\n%-10s %12s %8s %7s %7s %9s %8s %7s\n' target executions exec/s cov ft corpus crashes minutes |
    tee -a "$summary"
for target in "${targets[@]}"; do
    log=$logs/$target.log
    status=$(cat "$logs/$target.status")
    last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
    cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")
    ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")
    corp=$(sed -nE 's/.* corp: ([0-9]+)\/.*/\1/p' <<<"$last")
    execs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log")
    rate=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+)/\1/p' "$log")
    crashes=$(find "$build/artifacts/$target" -type f | wc -l)
    if [ "$status" -ne 0 ] && [ "$crashes" -eq 0 ]; then
        crashes=1  # libFuzzer stopped on a finding without leaving an artifact
    fi
    minutes=$(awk -v s="$(cat "$logs/$target.seconds")" 'BEGIN { printf "%.1f", s / 60 }')
    printf '%-10s %12s %8s %7s %7s %9s %8s %7s\n' "$target" "${execs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" \
        "${corp:-?}" "$crashes" "$minutes" | tee -a "$summary"
    if [ "$crashes" -ne 0 ]; then
        failed=1
        echo "  $target: findings in $build/artifacts/$target, log $log" >&2
        grep -m 3 -E '^==[0-9]+==ERROR|^SUMMARY|deadly signal' "$log" | sed 's/^/    /' >&2 || true
    fi
done

if ((merge)); then
    echo "== merging new inputs into tests/fuzz/corpus =="
    for target in "${targets[@]}"; do
        "$build/tests/fuzz/fuzz_$target" -merge=1 -max_len=4096 "$root/tests/fuzz/corpus/$target" \
            "$build/long_scratch/$target" >"$logs/$target.merge.log" 2>&1
        echo "$target: $(find "$root/tests/fuzz/corpus/$target" -type f | wc -l) files in the committed corpus"
    done
fi
exit "$failed"
