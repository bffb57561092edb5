#!/usr/bin/env bash
# Soak run: a thousand upload/edit/download/save/open cycles against the simulated instrument
# with random faults, reporting the resident size at the start and the end. Not part of the
# tests (it runs for a minute or more).
#
#   scripts/soak.sh [--build DIR] [pp-soak options: --cycles N --seed N --fault-rate P
#                    --generation 7.0|7.3]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
if [ "${1:-}" = --build ]; then
    build=$2
    shift 2
fi
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target pp-soak
exec "$build/tests/pp-soak" "$@"
