#!/usr/bin/env bash
# Runs every fuzz target the host build made (build/host/fuzz/fuzz-targets.txt) for a fixed
# time each, one after the other, from its seed corpus in the tree. New inputs collect in
# build/fuzz/corpus/<target>/; a crash leaves its input as build/fuzz/<target>-crash-* and
# fails the run once every target had its turn.
#
#   [FUZZ_BUILD_DIR=build/host] run_fuzzers.sh SECONDS [TARGET...]
set -uo pipefail

root=$(cd "$(dirname "$0")/../../.." && pwd)
seconds=${1:?seconds per target}
shift
list=${FUZZ_BUILD_DIR:-$root/build/host}/fuzz/fuzz-targets.txt
corpus_dir=$root/launcher/unit_tests/fuzz/corpus
out=$root/build/fuzz
[ -f "$list" ] || { echo "no fuzz targets built: $list is missing" >&2; exit 1; }
mkdir -p "$out"

failed=()
while read -r name kind binary; do
    [ -n "$name" ] || continue
    if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$name"; then
        continue
    fi
    [ -x "$binary" ] || { echo "$name: not built ($binary)" >&2; failed+=("$name"); continue; }
    seeds=$corpus_dir/$name
    work=$out/corpus/$name
    mkdir -p "$work"
    args=(-max_total_time="$seconds" -artifact_prefix="$out/$name-")
    if [ "$kind" = libfuzzer ]; then
        # New finds go to the first directory; the tree's corpus is only read.
        args+=(-timeout=20 -rss_limit_mb=2048 -print_final_stats=1 "$work")
    fi
    [ -d "$seeds" ] && args+=("$seeds")
    echo "== $name ($kind, ${seconds}s)"
    if "$binary" "${args[@]}" >"$out/$name.log" 2>&1; then
        tail -n 12 "$out/$name.log" | grep -E 'stat::number_of_executed_units|mutated runs' || true
    else
        echo "$name FAILED; log: build/fuzz/$name.log" >&2
        grep -E 'ERROR|property failed|runtime error|SUMMARY' "$out/$name.log" | head -n 5 >&2
        ls "$out/$name"-* 2>/dev/null | grep -v '\.log$' | sed 's/^/  reproducer: /' >&2
        failed+=("$name")
    fi
done <"$list"

if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz targets that failed: ${failed[*]}" >&2
    exit 1
fi
