#!/usr/bin/env bash
# test.sh - the test command: install what is missing, build the `dev` preset
# (clang, Debug, AddressSanitizer + UBSan, fuzzers), run every test, then run
# each libFuzzer target for a short bounded time.
#
#   FUZZ_BUDGET=seconds   total fuzzing time, shared by the targets (default 180)
#
# The fuzzers run in a scratch directory on a throwaway copy of their seeds
# (fuzz/seeds/<name>/) plus the shared corpus (../shared/corpus) when present,
# so the tree is never modified.  Inputs that crash are kept under
# build/dev/fuzz-findings/.  Exits non-zero when anything fails.
set -euo pipefail

cd "$(dirname "$(readlink -f "$0")")/.."
root=$PWD

bash scripts/setup.sh
cmake --preset dev
cmake --build --preset dev

failed=()
ctest --preset dev || failed+=("ctest")

fuzzers=()
for f in build/dev/fuzz/*_fuzzer; do
    [ -f "$f" ] && [ -x "$f" ] && fuzzers+=("$f")
done

if [ ${#fuzzers[@]} -gt 0 ]; then
    budget=${FUZZ_BUDGET:-180}
    per=$(( budget / ${#fuzzers[@]} ))
    [ "$per" -gt 20 ] && per=20
    [ "$per" -lt 5 ] && per=5
    scratch=$(mktemp -d "${TMPDIR:-/tmp}/orvo-fuzz.XXXXXX")
    trap 'rm -rf "$scratch"' EXIT
    extra=()
    [ -d ../shared/corpus ] && extra+=("$(readlink -f ../shared/corpus)")
    findings="$root/build/dev/fuzz-findings"

    for f in "${fuzzers[@]}"; do
        name=$(basename "$f")
        work="$scratch/$name"
        mkdir -p "$work/corpus" "$work/artifacts"
        [ -d "fuzz/seeds/$name" ] && cp -R "fuzz/seeds/$name/." "$work/corpus/"
        echo "== fuzz $name for ${per}s"
        if (cd "$work" && "$root/$f" -max_total_time="$per" -rss_limit_mb=2048 -timeout=10 \
                -print_final_stats=1 -artifact_prefix="$work/artifacts/" \
                "$work/corpus" "${extra[@]}" > "$work/log" 2>&1); then
            grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$work/log" | tail -n 2 || true
        else
            tail -n 40 "$work/log"
            mkdir -p "$findings/$name"
            cp -R "$work/artifacts/." "$findings/$name/" 2>/dev/null || true
            echo "== fuzz $name FAILED: inputs kept in build/dev/fuzz-findings/$name/"
            failed+=("$name")
        fi
    done
else
    echo "== no fuzzers in build/dev/fuzz"
fi

if [ ${#failed[@]} -gt 0 ]; then
    echo "test: FAILED: ${failed[*]}" >&2
    exit 1
fi
echo "test: all passed"
