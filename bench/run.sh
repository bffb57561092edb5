#!/usr/bin/env bash
# Builds the benchmark (optimised, in build-bench/ or $BUILD_DIR) and prints the speed and
# memory tables. Arguments go to pp-bench (--repeats N, --launches N, --exchanges N,
# --only transfers|startup|memory|history|plant). Quieten the machine first: the figures are
# latencies. The plant rows start a PostgreSQL server of their own (tests/support/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
# --only windows: the command line on Windows under Wine against Linux's (bench/windows.sh, which
# needs the Windows build and builds its own part).
case " $* " in
*" --only windows "* | *" --only=windows "*) exec "$root/bench/windows.sh" ;;
esac
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPP_BENCH=ON >/dev/null
cmake --build "$build" --target pp-bench pp-bench-history pp-bench-plant >&2
# --only history: the history's costs alone (pp-bench-history); they follow the rest otherwise.
case " $* " in
*" --only history "* | *" --only=history "*) exec "$build/bench/pp-bench-history" ;;
*" --only plant "* | *" --only=plant "*) exec "$build/bench/pp-bench-plant" ;;
*" --only "* | *" --only="*) exec "$build/bench/pp-bench" "$@" ;;
esac
status=0
"$build/bench/pp-bench" "$@" || status=$?
"$build/bench/pp-bench-history" || status=$?
"$build/bench/pp-bench-plant" || status=$?
exit $status
