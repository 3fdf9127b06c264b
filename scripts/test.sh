#!/usr/bin/env bash
# Builds and runs the whole test suite (unit tests, multi-process tests,
# interface checks and the replayed fuzz corpora).
#   scripts/test.sh              the normal build, in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer, in build-asan/
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  dir=build-asan
  options=(-DCMAKE_BUILD_TYPE=Debug -DKORVO_SANITIZE=ON -DKORVO_BENCH=OFF)
  # allocator_may_return_null: an impossible request answers NULL, as the C
  # heap does, so that the tests of out-of-memory answers run here too.
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:allocator_may_return_null=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
fi

cmake -S . -B "$dir" -G Ninja "${options[@]}" >/dev/null
cmake --build "$dir"
ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$(nproc)" --timeout 600
