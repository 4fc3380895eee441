#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzzing build for a bounded time.
#   scripts/run-fuzzers.sh BUILD_DIR SECONDS_PER_TARGET
# Each target starts from its committed seed corpus; what it finds on the way
# goes into a scratch corpus, so the committed one only changes by hand. A
# crash stops the run with the target's report and a non-zero status.
set -euo pipefail
build=${1:?build directory}
seconds=${2:?seconds per target}
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
corpora="$source_dir/tests/fuzz/corpus"
scratch="$build/fuzz-work"

found=0
for fuzzer in "$build"/tests/fuzz/fuzz_*; do
    [ -x "$fuzzer" ] || continue
    name=$(basename "$fuzzer")
    found=1
    mkdir -p "$scratch/$name/corpus" "$scratch/$name/artifacts"
    seeds=()
    [ -d "$corpora/$name" ] && seeds=("$corpora/$name")
    echo "== $name: ${seconds}s"
    "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$scratch/$name/artifacts/" \
        "$scratch/$name/corpus" "${seeds[@]}" 2>"$scratch/$name/log" || {
        tail -n 60 "$scratch/$name/log"
        echo "$name failed; the input is in $scratch/$name/artifacts/" >&2
        exit 1
    }
    grep -E '^stat::number_of_executed_units' "$scratch/$name/log" || true
done
if [ "$found" -eq 0 ]; then
    echo "no fuzz targets in $build/tests/fuzz" >&2
    exit 1
fi
