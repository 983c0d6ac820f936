#!/bin/bash
# run_fuzzer.sh FUZZER SEEDS RUNS SECONDS: fuzz from a copy of the seeds,
# with a fixed seed for RUNS inputs (at most SECONDS); print the figures
# (executions, corpus size); fail on any finding. The fixed seed makes a
# run repeatable: what passed here passes in CI.
set -euo pipefail
fuzzer=$1 seeds=$2 runs=$3 seconds=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$seeds" "$work/corpus"
mkdir -p "$work/findings"
# A small quarantine: freed memory held for use-after-free checks would
# otherwise grow past -rss_limit_mb over a long run.
export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1:quarantine_size_mb=16
export LSAN_OPTIONS=suppressions=$(dirname "$0")/../lsan.supp
status=0
"$fuzzer" -seed=1 -runs="$runs" -max_total_time="$seconds" -rss_limit_mb=1024 -malloc_limit_mb=512 -timeout=20 \
    -artifact_prefix="$work/findings/" -print_final_stats=1 "$work/corpus" >"$work/log" 2>&1 || status=$?
grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|#[0-9]+ *DONE)' "$work/log" || true
echo "corpus: $(ls "$work/corpus" | wc -l) inputs (from $(ls "$seeds" | wc -l) seeds)"
if [ $status -ne 0 ] || ls "$work/findings"/* >/dev/null 2>&1; then
    tail -60 "$work/log"
    # Whole, so that a finding on another machine can be replayed here.
    for f in "$work/findings"/*; do echo "finding: $(basename "$f"): $(base64 -w0 "$f")"; done
    exit 1
fi
