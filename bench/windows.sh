#!/usr/bin/env bash
# The command line on Windows under Wine against the Linux one (pp-bench-windows), each against a
# simulated QX7400 of its own paced at 9600 baud. Needs the Windows build
# (packaging/windows/build.sh, into build-windows/ or $PP_WINDOWS_BUILD) and its dependency
# cache; builds the benchmark like bench/run.sh (build-bench/, or $BUILD_DIR). Arguments go to
# pp-bench-windows (--repeats N). Runs in a Wine prefix of its own ($PP_WINE_PREFIX, default
# /tmp/pp-wine-bench, made when missing).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-bench}
windows=${PP_WINDOWS_BUILD:-$root/build-windows}
cache=${PP_WINDOWS_CACHE:-/var/cache/paramporter-windows}
cli=$windows/src/app/paramporter-cli.exe
[[ -f $cli ]] || { echo "bench/windows.sh: no $cli (run packaging/windows/build.sh)" >&2; exit 1; }
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPP_BENCH=ON >/dev/null
cmake --build "$build" --target pp-bench-windows >&2

# WINEPATH: the cache's DLLs, for the build folder's program.
. "$cache/env.sh"
export WINEPREFIX=${PP_WINE_PREFIX:-/tmp/pp-wine-bench}
[[ -f $WINEPREFIX/system.reg ]] || "$root/packaging/windows/wine-prefix.sh" "$WINEPREFIX" >&2
wineserver=/usr/lib/wine/wineserver
# One server with its services for the whole run, so each process starts as a Windows program
# does on a running system.
"$wineserver" -k 2>/dev/null || true
DISPLAY= "$wineserver" -p 2>/dev/null
DISPLAY= /usr/lib/wine/wine64 cmd /c exit >/dev/null 2>&1
status=0
DISPLAY= "$build/bench/pp-bench-windows" --windows-cli "$cli" "$@" || status=$?
"$wineserver" -k 2>/dev/null || true
exit $status
