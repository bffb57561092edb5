#!/usr/bin/env bash
# Makes a fresh Wine prefix for running and testing the Windows build:
#
#   packaging/windows/wine-prefix.sh PREFIX
#
# Whatever was in PREFIX goes. The prefix then differs from Wine's defaults in three ways:
# - files whose names start with a dot show their own hidden attribute (ShowDotFiles), not one
#   Wine makes up for every dot-file, so the tests see the attribute the program gives;
# - "Courier New", which every Windows has and the report asks for, is Liberation Mono (the same
#   metrics), so the report takes the font it takes on Windows;
# - Wine's Tahoma (fonts-wine), the face of Windows' dialog font, is in C:\windows\Fonts: this
#   Wine does not find it where Debian puts it, and the window would be drawn in a serif face.
set -euo pipefail

PREFIX=${1:?usage: wine-prefix.sh PREFIX}
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
export WINEPREFIX=$PREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# A server of this prefix still running (from a test, a window) would keep its old registry.
"$WINESERVER" -k 2>/dev/null || true
rm -rf "$PREFIX"
# No display while it is made: Wine would start its desktop on one.
DISPLAY= "$WINE" wineboot -i >/dev/null 2>&1
settings=$(mktemp --suffix=.reg)
cat >"$settings" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine]
"ShowDotFiles"="Y"

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Courier New"="Liberation Mono"
REG
DISPLAY= "$WINE" regedit /S "$(DISPLAY= "$WINE" winepath -w "$settings" 2>/dev/null)" >/dev/null 2>&1
"$WINESERVER" -w
rm -f "$settings"
for font in /usr/share/wine/fonts/tahoma*.ttf; do
    [[ -f $font ]] && cp "$font" "$PREFIX/drive_c/windows/Fonts/"
done
grep -q '"ShowDotFiles"="Y"' "$PREFIX/user.reg" ||
    { echo "wine-prefix.sh: the settings did not reach $PREFIX" >&2; exit 1; }
echo "Wine prefix $PREFIX ready ($("$WINE" --version))"
