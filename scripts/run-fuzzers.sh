#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzzing build for a bounded time, as many
# at once as there are cores (a target uses one).
#   scripts/run-fuzzers.sh BUILD_DIR SECONDS_PER_TARGET
# Each target starts from its committed seed corpus; what it finds on the way
# goes into a scratch corpus, so the committed one only changes by hand. A
# crash fails the run with the target's report and a non-zero status.
set -euo pipefail
build=${1:?build directory}
seconds=${2:?seconds per target}
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
corpora="$source_dir/tests/fuzz/corpus"
scratch="$build/fuzz-work"

run_one() {
    local fuzzer=$1 name
    name=$(basename "$fuzzer")
    mkdir -p "$scratch/$name/corpus" "$scratch/$name/artifacts"
    local seeds=()
    [ -d "$corpora/$name" ] && seeds=("$corpora/$name")
    if ! "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$scratch/$name/artifacts/" \
        "$scratch/$name/corpus" "${seeds[@]}" 2>"$scratch/$name/log"; then
        tail -n 60 "$scratch/$name/log"
        echo "$name failed; the input is in $scratch/$name/artifacts/" >&2
        return 1
    fi
    echo "== $name: ${seconds}s, $(grep -E '^stat::number_of_executed_units' "$scratch/$name/log" || echo 'no stats')"
}

fuzzers=()
for fuzzer in "$build"/tests/fuzz/fuzz_*; do
    [ -x "$fuzzer" ] && fuzzers+=("$fuzzer")
done
if [ ${#fuzzers[@]} -eq 0 ]; then
    echo "no fuzz targets in $build/tests/fuzz" >&2
    exit 1
fi

jobs=$(nproc 2>/dev/null || echo 1)
failed=0
running=0
for fuzzer in "${fuzzers[@]}"; do
    if [ "$running" -ge "$jobs" ]; then
        wait -n || failed=1
        running=$((running - 1))
    fi
    run_one "$fuzzer" &
    running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
    wait -n || failed=1
    running=$((running - 1))
done
exit "$failed"
