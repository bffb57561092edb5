#!/usr/bin/env bash
# Builds ParamPorter for Windows on Debian 12 and tests it under Wine:
#
#   packaging/windows/build.sh                 # everything
#   packaging/windows/build.sh --cached-deps   # the dependency cache as it is (CI): no deps.sh,
#                                              # no apt-get update
#   options: --no-tests (no ctest, no end-to-end run), --no-package (no zip, no setup program)
#
# 1. deps.sh: MinGW-w64, Wine, NSIS and the Windows builds of OpenSSL, SQLite, libpq and qtbase,
#    into the cache outside the tree (/var/cache/paramporter-windows or $PP_WINDOWS_CACHE); kept
#    while Debian's versions stay (about 45 minutes the first time, most of it qtbase).
# 2. The Linux simulator and command line (build-windows/linux), which the tests compare with.
# 3. The Windows programs (build-windows/), with MinGW-w64 and mingw-toolchain.cmake.
# 4. A fresh Wine prefix (wine-prefix.sh; $PP_WINE_PREFIX, default /tmp/pp-wine-build).
# 5. The Windows tests under Wine (ctest in build-windows/).
# 6. The staged programs with every DLL they load (stage.sh), the portable .zip and the setup
#    program ParamPorter-<version>-setup.exe (NSIS).
# 7. The staged command line against the simulator through COM3, compared with the Linux one
#    (e2e.sh).
# 8. The setup program installed and uninstalled under Wine (check-installer.sh), the installed
#    window started on a virtual display, uploading through COM1; its picture is kept as
#    build-windows/screenshot-windows.png.
# Prints each phase and its time, and at the end the files and their sizes.
set -euo pipefail
shopt -s inherit_errexit

# The machine is shared: out of the way of everything else.
if [[ "$(nice)" -lt 10 && -z "${PP_WINDOWS_NICED:-}" ]]; then
    PP_WINDOWS_NICED=1 exec nice -n 10 "$0" "$@"
fi

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)
OUT=${PP_WINDOWS_BUILD:-$ROOT/build-windows}
LINUX=$OUT/linux
CACHE=${PP_WINDOWS_CACHE:-/var/cache/paramporter-windows}
PREFIX=${PP_WINE_PREFIX:-/tmp/pp-wine-build}
JOBS=${PP_WINDOWS_JOBS:-2}
WINESERVER=/usr/lib/wine/wineserver
export PP_WINDOWS_CACHE=$CACHE

cached=0 tests=1 package=1
for arg in "$@"; do
    case $arg in
    --cached-deps) cached=1 ;;
    --no-tests) tests=0 ;;
    --no-package) package=0 ;;
    *) echo "usage: build.sh [--cached-deps] [--no-tests] [--no-package]" >&2; exit 2 ;;
    esac
done

T0=$SECONDS
declare -a SUMMARY=()
say() { printf '[windows %s] %s\n' "$(date +%H:%M:%S)" "$*"; }
elapsed() { printf '%dm%02ds' $(($1 / 60)) $(($1 % 60)); }
phase() {
    local name=$1 t=$SECONDS
    shift
    say "== $name"
    "$@"
    say "== $name: done in $(elapsed $((SECONDS - t)))"
    SUMMARY+=("$(printf '%-30s %s' "$name" "$(elapsed $((SECONDS - t)))")")
}

# ---------------------------------------------------------------------------------------------

# What this script needs beyond deps.sh's packages: the Linux build's (the simulator and the
# command line), a pointer for the window check, Wine's fonts, ImageMagick's import, poppler's
# PDF tools.
PACKAGES=(build-essential pkg-config qt6-base-dev qt6-serialport-dev libgl-dev libsqlite3-dev
    libssl-dev libpq-dev xdotool fonts-wine imagemagick poppler-utils)
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

dependencies() {
    if ((cached)); then
        [[ -f $CACHE/prefixes.cmake && -f $CACHE/env.sh ]] ||
            { say "no dependency cache in $CACHE: run without --cached-deps"; exit 1; }
        say "the dependency cache as it is: $(sed -n 's/^set(PP_WINDOWS_PREFIXES "\(.*\)")$/\1/p' "$CACHE/prefixes.cmake" | tr ';' ' ')"
    else
        "$HERE/deps.sh"
    fi
    local missing=() p
    for p in "${PACKAGES[@]}"; do installed "$p" || missing+=("$p"); done
    if ((${#missing[@]})); then
        say "installing: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get install -y -qq --no-install-recommends "${missing[@]}" ||
            { apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}"; }
    fi
}

linux_tools() {
    say "configuring $LINUX (the simulator and the command line only)"
    cmake -S "$ROOT" -B "$LINUX" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
        >"$OUT/linux-configure.log" || { cat "$OUT/linux-configure.log"; exit 1; }
    cmake --build "$LINUX" --parallel "$JOBS" --target qx7400-sim paramporter-cli
}

windows_build() {
    say "configuring $OUT for x86_64-w64-mingw32"
    cmake -S "$ROOT" -B "$OUT" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_TOOLCHAIN_FILE="$HERE/mingw-toolchain.cmake" -DPP_LINUX_BUILD="$LINUX" \
        >"$OUT/configure.log" || { cat "$OUT/configure.log"; exit 1; }
    grep -E '^-- Found (SQLite3|OpenSSL|PostgreSQL)' "$OUT/configure.log" | sed 's/^/    /' || true
    cmake --build "$OUT" --parallel "$JOBS"
}

wine_prefix() { "$HERE/wine-prefix.sh" "$PREFIX"; }

# One wineserver for the whole run, started here with its services: started from inside CTest,
# Wine's services would hold the test's output open and CTest would wait for them.
start_wine() {
    "$WINESERVER" -k 2>/dev/null || true
    DISPLAY= "$WINESERVER" -p 2>>"$OUT/wineserver.log"
    DISPLAY= /usr/lib/wine/wine64 cmd /c exit >>"$OUT/wineserver.log" 2>&1
}
stop_wine() { "$WINESERVER" -k 2>/dev/null || true; }

windows_tests() {
    start_wine
    local status=0
    (
        cd "$OUT"
        # The dependencies' DLLs, fonts and Qt's output for the tests (each test sets them too).
        . "$CACHE/env.sh"
        ctest --output-on-failure --timeout 300 -j "$JOBS"
    ) || status=$?
    stop_wine
    return $status
}

VERSION=
STAGE=
stage() {
    VERSION=$(sed -n 's/^#define PP_VERSION "\(.*\)"$/\1/p' "$OUT/generated/version.h")
    STAGE=$OUT/package/ParamPorter-$VERSION
    "$HERE/stage.sh" "$OUT" "$STAGE"
    # The setup program's file lists, from the staged folder: what is installed is removed.
    local f d prev=
    {
        echo '!macro InstallFiles'
        while read -r f; do
            d=$(dirname "$f")
            if [[ $d != "$prev" ]]; then
                if [[ $d == . ]]; then echo '    SetOutPath "$INSTDIR"'; else echo "    SetOutPath \"\$INSTDIR\\${d//\//\\}\""; fi
                prev=$d
            fi
            echo "    File \"$STAGE/$f\""
        done <"$STAGE/files.txt"
        echo '!macroend'
        echo '!macro RemoveFiles'
        while read -r f; do echo "    Delete \"\$INSTDIR\\${f//\//\\}\""; done <"$STAGE/files.txt"
        (cd "$STAGE" && find . -mindepth 1 -type d | sed 's|^\./||' | sort -r) |
            while read -r d; do echo "    RMDir \"\$INSTDIR\\${d//\//\\}\""; done
        echo '!macroend'
    } >"$OUT/package/files.nsh"
}

ZIP=
SETUP=
packages() {
    ZIP=$OUT/package/ParamPorter-$VERSION-portable.zip
    SETUP=$OUT/package/ParamPorter-$VERSION-setup.exe
    rm -f "$ZIP" "$SETUP"
    say "zip: $(basename "$ZIP")"
    (cd "$OUT/package" && zip -q -r -9 -X "$ZIP" "ParamPorter-$VERSION" -x '*/files.txt')
    say "setup program: $(basename "$SETUP")"
    makensis -V2 -DVERSION="$VERSION" -DFILES="$OUT/package/files.nsh" -DOUTFILE="$SETUP" \
        "$HERE/paramporter.nsi"
}

end_to_end() {
    start_wine
    local status=0
    WINEPREFIX=$PREFIX WINEPATH= "$HERE/e2e.sh" "$STAGE/paramporter-cli.exe" \
        "$LINUX/src/app/paramporter-cli" "$LINUX/sim/qx7400-sim" || status=$?
    stop_wine
    return $status
}

installer() {
    stop_wine
    "$HERE/check-installer.sh" "$SETUP" "$STAGE/files.txt" "$LINUX/sim/qx7400-sim"
    mv -f "$OUT/package/screenshot-windows.png" "$OUT/screenshot-windows.png"
}

main() {
    mkdir -p "$OUT"
    export WINEPREFIX=$PREFIX
    say "source $ROOT, build $OUT, cache $CACHE, Wine prefix $PREFIX, $JOBS jobs, niceness $(nice)"
    phase "dependencies" dependencies
    phase "Linux simulator and command line" linux_tools
    phase "Windows build" windows_build
    phase "Wine prefix" wine_prefix
    if ((tests)); then phase "tests under Wine" windows_tests; fi
    phase "staged programs and DLLs" stage
    if ((package)); then phase "zip and setup program" packages; fi
    if ((tests)); then phase "end to end against Linux" end_to_end; fi
    if ((package && tests)); then phase "install and uninstall" installer; fi

    say "summary:"
    local line
    for line in "${SUMMARY[@]}"; do say "  $line"; done
    say "  $(printf '%-30s %s' total "$(elapsed $((SECONDS - T0)))")"
    say "  staged: $STAGE ($(du -sh "$STAGE" | cut -f1))"
    if ((package)); then
        say "  $(basename "$SETUP"): $(du -h "$SETUP" | cut -f1) ($(stat -c %s "$SETUP") bytes)"
        say "  $(basename "$ZIP"): $(du -h "$ZIP" | cut -f1) ($(stat -c %s "$ZIP") bytes)"
    fi
}

# On one line, so that bash, which reads a script as it runs it, has read all of it.
main "$@"; exit $?
