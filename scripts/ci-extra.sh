#!/usr/bin/env bash
# Runs after the README's test command in CI:
#   1. the whole test suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer
#      (build-asan); any finding fails the test that made it;
#   2. every fuzz target over its seed corpus in fuzz/corpus/, then a fixed number of runs
#      from a fixed seed (build-fuzz, clang): the same commit passes or fails alike on every
#      run. scripts/fuzz.sh runs them longer, from random seeds, on demand;
#   3. the Windows programs built and tested under Wine, where the Windows dependency cache is
#      (scripts/ci-windows.sh; it says so when it skips).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

phase() { printf '\n== %s (%ds since start)\n' "$1" "$SECONDS"; }

phase "sanitizers: build"
cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPP_SANITIZE=ON
cmake --build "$root/build-asan" --parallel "$(nproc)"

phase "sanitizers: tests"
(
    cd "$root/build-asan"
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export PP_PLANT_REQUIRED=1
    QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600
)

phase "fuzzing: the seeds and a fixed number of runs per target"
"$root/scripts/fuzz.sh" --repeatable --build "$root/build-fuzz"

phase "Windows: build and tests under Wine"
"$root/scripts/ci-windows.sh"

phase "done"
