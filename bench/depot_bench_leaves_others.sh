#!/bin/sh
# The depot benchmark removes only the directories it made: a directory of
# another run, named as the benchmark names its own, survives it.
set -eu
bench="$1"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/depot-bench-lookup-other"
TMPDIR="$scratch" KORVO_TMPDIR="$scratch" "$bench" \
  --benchmark_filter='BM_Lookup/MissingSpread/100/' >/dev/null
test -d "$scratch/depot-bench-lookup-other"
test "$(ls "$scratch")" = "depot-bench-lookup-other"
