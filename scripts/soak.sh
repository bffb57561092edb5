#!/usr/bin/env bash
# Soak run: a thousand upload/edit/download/save/open cycles against the simulated instrument
# with random faults, for each firmware generation, reporting the resident size at the start
# and the end. Not part of the tests (it runs for a few minutes).
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
# Both firmware generations unless one was asked for.
if [[ " $* " == *" --generation "* ]]; then
    exec "$build/tests/pp-soak" "$@"
fi
status=0
for g in 7.3 7.0; do
    echo "== V$g"
    "$build/tests/pp-soak" --generation "$g" "$@" || status=1
done
exit $status
