#!/usr/bin/env bash
# Installs the setup program silently under Wine, checks what it put where, runs the installed
# programs with nothing but their own folder to load DLLs from, uninstalls silently and checks
# that what was installed went and the user's files stayed:
#
#   packaging/windows/check-installer.sh SETUP.exe FILES.txt [SIM]
#
# FILES.txt lists the installed files (stage.sh's files.txt). With SIM (the Linux build's
# qx7400-sim) the installed window is started on a virtual display and uploads through COM1
# (window-check.sh); its picture goes beside SETUP.exe as screenshot-windows.png. Runs in
# $WINEPREFIX, which should be fresh (wine-prefix.sh).
set -euo pipefail

SETUP=$(realpath "$1")
FILES=$(realpath "$2")
SIM=${3:-}
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
: "${WINEPREFIX:?WINEPREFIX names the Wine prefix}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPATH=
export DISPLAY=
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
failures=0

check() { # check WHAT COMMAND...
    local what=$1
    shift
    if "$@" >/dev/null 2>&1; then
        echo "ok    $what"
    else
        echo "FAIL  $what"
        failures=$((failures + 1))
    fi
}
# reg_value KEY [VALUE]: the data of a value (the default one without VALUE), or nothing.
reg_value() {
    local args=(/ve)
    [[ $# -gt 1 ]] && args=(/v "$2")
    "$WINE" reg query "$1" "${args[@]}" 2>/dev/null | tr -d '\r' |
        sed -n 's/^ *[^ ].*  *REG_[A-Z_]*  *//p' | head -n 1
}
unix_path() { "$WINE" winepath -u "$1" 2>/dev/null | tr -d '\r'; }
windows_var() { "$WINE" cmd /c echo "%$1%" 2>/dev/null | tr -d '\r'; }

local_app=$(unix_path "$(windows_var LOCALAPPDATA)")
roaming=$(unix_path "$(windows_var APPDATA)")
instdir=$local_app/Programs/ParamPorter
[[ -n $local_app && -n $roaming ]] || { echo "check-installer.sh: no profile folders" >&2; exit 1; }

echo "installing $(basename "$SETUP") /S"
"$WINE" "$SETUP" /S
"$WINESERVER" -w
missing=0
while read -r f; do [[ -f $instdir/$f ]] || { echo "      missing: $f"; missing=1; }; done <"$FILES"
check "every file in $instdir" test "$missing" = 0
check "the uninstaller" test -f "$instdir/uninstall.exe"
check "the Start-menu entry" test -f "$roaming/Microsoft/Windows/Start Menu/Programs/ParamPorter.lnk"
classes='HKCU\Software\Classes'
check ".QX is ParamPorter.QX's" test "$(reg_value "$classes\\.QX")" = ParamPorter.QX
check ".QX offers ParamPorter under Open with" \
    "$WINE" reg query "$classes\\.QX\\OpenWithProgids" /v ParamPorter.QX
exe_w=$("$WINE" winepath -w "$instdir/paramporter.exe" 2>/dev/null | tr -d '\r')
check "a double-click runs paramporter.exe \"%1\"" \
    test "$(reg_value "$classes\\ParamPorter.QX\\shell\\open\\command")" = "\"$exe_w\" \"%1\""
check "the verb reads Open with ParamPorter" \
    test "$(reg_value "$classes\\ParamPorter.QX\\shell\\open")" = "Open with ParamPorter"
check "the file type's icon is the program's" \
    test "$(reg_value "$classes\\ParamPorter.QX\\DefaultIcon")" = "\"$exe_w\",0"
uninstall='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\ParamPorter'
check "listed under Apps with its version" test -n "$(reg_value "$uninstall" DisplayVersion)"
check "nothing under HKLM" bash -c "! '$WINE' reg query 'HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ParamPorter'"

# The installed programs load only what is beside them (WINEPATH is empty).
check "the installed command line runs" \
    bash -c "'$WINE' '$instdir/paramporter-cli.exe' --version | grep -qx '[0-9.]*'"
# (The window's standard output is a text one: CR LF.)
check "the installed window answers --version" \
    bash -c "'$WINE' '$instdir/paramporter.exe' --version | tr -d '\\r' | grep -qx '[0-9.]*'"
if [[ -n $SIM ]]; then
    check "the installed window starts and uploads through COM1" \
        "$HERE/window-check.sh" "$instdir" "$SIM" "$(dirname "$SETUP")/screenshot-windows.png"
    "$WINESERVER" -k 2>/dev/null || true
fi

# What the user made: RIGPREFS.DAT beside the program, settings and the history.
printf '"2"\r\n' >"$instdir/RIGPREFS.DAT"
mkdir -p "$roaming/ParamPorter" "$local_app/ParamPorter"
printf '[General]\r\n' >"$roaming/ParamPorter/paramporter.ini"
printf 'history' >"$local_app/ParamPorter/history.sqlite"

echo "uninstalling silently"
"$WINE" "$instdir/uninstall.exe" /S
# The uninstaller runs on from a copy of itself: wait for every process of the prefix.
"$WINESERVER" -w
left=$(cd "$instdir" 2>/dev/null && find . -type f | sed 's|^\./||' | sort | tr '\n' ' ')
check "only RIGPREFS.DAT is left in the program's folder ($left)" test "$left" = "RIGPREFS.DAT "
check "the settings stay" test -f "$roaming/ParamPorter/paramporter.ini"
check "the history stays" test -f "$local_app/ParamPorter/history.sqlite"
check "the Start-menu entry went" test ! -e "$roaming/Microsoft/Windows/Start Menu/Programs/ParamPorter.lnk"
check "the file type went" bash -c "! '$WINE' reg query '$classes\\ParamPorter.QX'"
check ".QX is nobody's" bash -c "! '$WINE' reg query '$classes\\.QX'"
check "the Apps entry went" bash -c "! '$WINE' reg query '$uninstall'"
"$WINESERVER" -k 2>/dev/null || true

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "installer: every check passed"
