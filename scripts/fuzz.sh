#!/usr/bin/env bash
# Builds every libFuzzer target with clang under ASan+UBSan and runs each for a bounded time.
# Any crash, leak, sanitizer report or hang fails the run.
#
#   scripts/fuzz.sh [SECONDS]        each target for SECONDS (default 20)
#   FUZZ_RUNS=N scripts/fuzz.sh      each target for N inputs instead (a fixed amount of work)
#
# The seed corpora in fuzz/corpus are copied to a scratch folder first: a run never changes
# the repository, and every run starts from the same seeds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

seconds=${1:-20}
build=build/fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
    -DORVELA_SANITIZE=ON -DORVELA_BUILD_TESTS=OFF >/dev/null
ninja -C "$build" orvela-fuzzers

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

bound=(-max_total_time="$seconds")
[ -n "${FUZZ_RUNS:-}" ] && bound=(-runs="$FUZZ_RUNS")

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
status=0
passed=0
failed=0
for source in fuzz/*_fuzz.cpp; do
    name=$(basename "$source" _fuzz.cpp)
    name=${name//_/-}
    corpus=$scratch/$name
    mkdir -p "$corpus"
    [ -d "fuzz/corpus/$name" ] && cp fuzz/corpus/"$name"/* "$corpus"/
    echo "=== fuzzing $name ==="
    # -timeout: one input that takes longer than that is a hang (generous: a busy machine must not
    # pass for one); -rss_limit_mb: a memory spike.
    if ! "$build/orvela-$name-fuzz" "${bound[@]}" -timeout=20 -rss_limit_mb=2048 -max_len=8192 \
        -dict=fuzz/json.dict -artifact_prefix="$scratch/" -print_final_stats=1 "$corpus" \
        >"$scratch/$name.log" 2>&1; then
        tail -n 40 "$scratch/$name.log"
        echo "fuzzing $name FAILED" >&2
        status=1
        failed=$((failed + 1))
        continue
    fi
    passed=$((passed + 1))
    grep -E '^(#[0-9]+.*DONE|stat::number_of_executed_units|stat::peak_rss_mb)' "$scratch/$name.log" || true
done
echo "fuzz: $passed passed, $failed failed"
exit $status
