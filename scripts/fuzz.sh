#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (in build-fuzz/) and fuzzes one of
# them. New inputs that widen coverage are merged into fuzz/corpus/<target>;
# a crashing input is written into that folder too, so that the replayed
# corpus keeps it for good.
#   scripts/fuzz.sh <target> [seconds]      e.g. scripts/fuzz.sh match 300
#   scripts/fuzz.sh --list
set -euo pipefail
cd "$(dirname "$0")/.."

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DKORVO_FUZZ=ON -DKORVO_TESTS=OFF -DKORVO_BENCH=OFF >/dev/null
if [ "${1:-}" = "--list" ] || [ -z "${1:-}" ]; then
  ls fuzz/corpus
  exit 0
fi
target=$1
seconds=${2:-60}
cmake --build build-fuzz --target "fuzz_$target"

corpus=fuzz/corpus/$target
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$corpus"
dict=()
[ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
status=0
"build-fuzz/fuzz/fuzz_$target" "${dict[@]}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -artifact_prefix="$corpus/" "$work" "$corpus" || status=$?
"build-fuzz/fuzz/fuzz_$target" -merge=1 "$corpus" "$work" >/dev/null 2>&1 || true
exit $status
