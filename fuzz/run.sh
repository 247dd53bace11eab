#!/bin/sh
# Runs each fuzz target of BUILD for SECONDS from the seed corpus (made once)
# and the corpus earlier runs grew. A crash, leak, undefined behaviour or
# timeout stops the target, keeps the input in BUILD/fuzz-findings and fails.
set -e
build=${1:?usage: run.sh BUILD [SECONDS]}
seconds=${2:-60}
here=$(cd "$(dirname "$0")" && pwd)
seeds="$build/fuzz-seeds"
[ -d "$seeds" ] || "$here/make-seeds.sh" "$seeds"
mkdir -p "$build/fuzz-findings"
status=0
export LSAN_OPTIONS="suppressions=$here/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
for target in fuzz_reader fuzz_regions fuzz_options; do
    corpus="$build/fuzz-corpus/$target"
    mkdir -p "$corpus"
    echo "fuzz: $target for $seconds s"
    if ! "$build/fuzz/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/fuzz-findings/$target-" "$corpus" "$seeds/$target" \
        >"$build/fuzz-findings/$target.log" 2>&1; then
        echo "fuzz: $target failed; see $build/fuzz-findings/$target.log"
        tail -n 40 "$build/fuzz-findings/$target.log"
        status=1
    fi
done
exit $status
