#!/usr/bin/env bash
# Builds the programs of packaging/windows/check/ against the cache of deps.sh with
# mingw-toolchain.cmake, in a scratch folder, and runs them under Wine through CTest.
# Fails when a dependency is not found, does not link, does not load, or gives a wrong answer.
#
#   packaging/windows/check-deps.sh
#   PP_WINDOWS_CACHE=/elsewhere WINEPREFIX=/tmp/my-wine packaging/windows/check-deps.sh
set -euo pipefail
shopt -s inherit_errexit

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
CACHE=${PP_WINDOWS_CACHE:-/var/cache/paramporter-windows}
[[ -f $CACHE/env.sh ]] || { echo "no $CACHE/env.sh: run packaging/windows/deps.sh first" >&2; exit 1; }
# WINEPATH (the folders of the cache's DLLs and of MinGW's runtime), fonts, Wine's quiet.
. "$CACHE/env.sh"

# Kept when something fails, to look into.
WORK=$(mktemp -d /tmp/pp-windows-check.XXXXXX)
export WINEPREFIX=${WINEPREFIX:-/tmp/pp-wine}
if [[ ! -f $WINEPREFIX/system.reg ]]; then
    echo "creating the Wine prefix $WINEPREFIX"
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
fi

echo "building in $WORK/build"
cmake -S "$HERE/check" -B "$WORK/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$HERE/mingw-toolchain.cmake" >"$WORK/configure.log" 2>&1 ||
    { cat "$WORK/configure.log"; exit 1; }
grep -E '^-- Found' "$WORK/configure.log" || true
nice -n 19 cmake --build "$WORK/build" --parallel 2
ctest --test-dir "$WORK/build" --output-on-failure --timeout 120
rm -rf "$WORK"
