#!/usr/bin/env bash
# Starts the Windows window under Wine on a virtual display, with COM1 linked to a simulated
# instrument (COMM 1, the port of a first start), clicks "Upload From QX 7400", checks through the history that the upload went
# through COM1, and keeps a picture of the window:
#
#   packaging/windows/window-check.sh PROGRAMS SIM PICTURE.png
#
# PROGRAMS is a folder holding paramporter.exe and paramporter-cli.exe with every DLL they load
# (an installed or staged copy: nothing else is put on Wine's DLL path), SIM the Linux build's
# qx7400-sim. Runs in $WINEPREFIX (made by wine-prefix.sh); its wineserver is stopped first,
# since one started without a display leaves every later window uncreated. Needs xvfb-run,
# xdotool and ImageMagick's import.
set -euo pipefail

PROGRAMS=$(cd "$1" && pwd)
SIM=$2
PICTURE=$3
: "${WINEPREFIX:?WINEPREFIX names the Wine prefix}"
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEPATH=
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
work=$(mktemp -d /tmp/pp-window-check.XXXXXX)
trap 'kill "${sim_pid:-}" 2>/dev/null || true; "$WINESERVER" -k 2>/dev/null || true; rm -rf "$work"' EXIT

"$SIM" >"$work/sim.out" 2>/dev/null &
sim_pid=$!
for _ in $(seq 100); do [[ -s $work/sim.out ]] && break; sleep 0.05; done
pty=$(head -n 1 "$work/sim.out")
history=$work/history.sqlite
# Its name for Windows: Wine's Z: is /.
history_w="Z:${history//\//\\}"

# Where the button is, from the window's bottom right corner: the window opens at its own size,
# with the same fonts in every prefix wine-prefix.sh makes.
cat >"$work/session.sh" <<EOF
#!/usr/bin/env bash
set -euo pipefail
# Wine, once started, links COM1 to /dev/ttyS0 again: the instrument's link comes after.
"$WINE" cmd /c exit
ln -sfn '$pty' '$WINEPREFIX/dosdevices/com1'
PARAMPORTER_HISTORY='$history_w' "$WINE" "$PROGRAMS/paramporter.exe" >'$work/window.log' 2>&1 &
wid=\$(timeout 90 xdotool search --sync --name 'QX7400 Parameter' | head -n 1)
sleep 2
eval "\$(xdotool getwindowgeometry --shell "\$wid")"
xdotool mousemove --window "\$wid" \$((WIDTH - 396)) \$((HEIGHT - 37)) click 1
sleep 3
import -window "\$wid" '$PICTURE'
EOF
chmod +x "$work/session.sh"
"$WINESERVER" -k 2>/dev/null || true
timeout 180 xvfb-run -a -s "-screen 0 1280x900x24" "$work/session.sh"
"$WINESERVER" -k 2>/dev/null || true

listing=$(DISPLAY= "$WINE" "$PROGRAMS/paramporter-cli.exe" --history "$history_w" history 2>&1 || true)
"$WINESERVER" -k 2>/dev/null || true
if ! grep -q ' upload system - 1234 SUCCESS$' <<<"$listing"; then
    echo "window-check.sh: the window recorded no system upload through COM1:" >&2
    echo "$listing" | sed 's/^/    /' >&2
    sed 's/^/    window: /' "$work/window.log" >&2
    exit 1
fi
echo "the window uploaded through COM1: $listing"
echo "picture: $PICTURE"
