#!/usr/bin/env bash
# Builds and runs the whole test suite (unit tests, multi-process tests,
# interface checks and the replayed fuzz corpora).
#   scripts/test.sh              the normal build, in build/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer, in build-asan/
#   scripts/test.sh --windows    mingw-w64 cross builds for x86_64 and i686, in
#                                build-win64/ and build-win32/, run under Wine
#   scripts/test.sh --windows-build   the same two cross builds, tests
#                                included, without running them
set -euo pipefail
cd "$(dirname "$0")/.."

# The Windows suite: each target is cross-built and its tests run under
# WINEPREFIX when it is set, else under a Wine prefix of the build folder's
# own (made on the first run), so that no run depends on, or changes, the
# user's ~/.wine. Under Wine one
# ctest entry is one test program; its GoogleTest totals are summed at the
# end. Fails when either target fails.
windows() {
  local run=$1 failed=0 dir toolchain prefix=${WINEPREFIX:-}
  for target in win64:mingw-x86_64 win32:mingw-i686; do
    dir=build-${target%%:*}
    toolchain=cmake/toolchains/${target#*:}.cmake
    echo "== ${dir}"
    cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVO_BENCH=OFF -DKORVO_TESTS=ON >/dev/null
    if ! cmake --build "$dir"; then
      failed=1
      continue
    fi
    [ "$run" = run ] || continue
    export WINEPREFIX=${prefix:-$PWD/$dir/wine-prefix}
    export WINEDEBUG=-all
    # wine64 serves both targets (WoW64); a new prefix is made once.
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "making the Wine prefix $WINEPREFIX"
      wineboot -i >/dev/null 2>&1 || true
      wineserver -w || true
    fi
    if ! ctest --test-dir "$dir" --output-on-failure --no-tests=error -j "$(nproc)" --timeout 1800; then
      failed=1
    fi
    wineserver -k >/dev/null 2>&1 || true
    windows_counts "$dir"
  done
  # The Linux suite's size, to set beside the totals above.
  if [ "$run" = run ] && [ -f build/CTestTestfile.cmake ]; then
    echo "build (Linux): $(ctest --test-dir build -N | sed -n 's/^Total Tests: //p') tests"
  fi
  return $failed
}

# The totals of the last run in `dir`: GoogleTest cases that passed, were
# skipped and failed, over every program, and the ctest entries that are no
# GoogleTest program (interface checks, fuzz replays), so that the sum can be
# set beside the Linux suite's count of ctest entries.
windows_counts() {
  local log=$1/Testing/Temporary/LastTest.log
  [ -f "$log" ] || return 0
  awk '/^[0-9]+\/[0-9]+ Testing: / { gtest = 0 }
       /^\[==========\] Running/ { gtest = 1 }
       /^\[  PASSED  \] [0-9]+ test/ { passed += $4 }
       /^\[  SKIPPED \] [0-9]+ test/ { skipped += $4 }
       /^\[  FAILED  \] [0-9]+ test/ { failed += $4 }
       /^Test Passed\./ && !gtest { other_passed++ }
       /^Test Failed\./ && !gtest { other_failed++ }
       END {
         printf "%s: GoogleTest cases: %d passed, %d skipped, %d failed\n", dir, passed, skipped, failed
         printf "%s: other checks: %d passed, %d failed\n", dir, other_passed, other_failed
         printf "%s: %d passed in all\n", dir, passed + other_passed
       }' dir="$1" "$log"
}

if [ "${1:-}" = "--windows" ]; then
  windows run
  exit
fi
if [ "${1:-}" = "--windows-build" ]; then
  windows build
  exit
fi

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
