#!/usr/bin/env bash
# The Windows command line against the simulated instrument through a COM port of the Wine
# prefix, and the Linux command line against another one just like it through its
# pseudo-terminal, doing the same: read, write, backup, history, report (as text and as a PDF).
# Their files and outputs must be the same bytes (a PDF: the same text) and the instruments
# must have seen the same frames. Needs pdftotext and pdffonts (poppler-utils).
#
#   packaging/windows/e2e.sh WINDOWS_CLI LINUX_CLI SIM
#
# WINDOWS_CLI is paramporter-cli.exe (with its DLLs beside it, or on $WINEPATH), LINUX_CLI the
# Linux build's paramporter-cli, SIM its qx7400-sim. Runs in $WINEPREFIX; COM3 is linked to the
# instrument. Exits 1 at the first difference, showing it. PP_E2E_KEEP=1 keeps the files.
set -euo pipefail

WINCLI=$1
LINCLI=$2
SIM=$3
: "${WINEPREFIX:?WINEPREFIX names the Wine prefix}"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
WINE=/usr/lib/wine/wine64
work=$(mktemp -d /tmp/pp-e2e.XXXXXX)
pids=()
# PP_E2E_KEEP=1 keeps the work folder to look into.
trap 'kill "${pids[@]}" 2>/dev/null || true; [[ -n ${PP_E2E_KEEP:-} ]] || rm -rf "$work"' EXIT

# An instrument of its own for each side, logging every frame and answer. Not started in a
# command substitution: its process would be out of the trap's reach.
start_sim() { # start_sim SIDE: its device path in $device
    "$SIM" --verbose >"$work/$1.sim" 2>"$work/$1.frames" &
    pids+=($!)
    for _ in $(seq 100); do [[ -s $work/$1.sim ]] && break; sleep 0.05; done
    device=$(head -n 1 "$work/$1.sim")
}

mkdir -p "$work/linux" "$work/windows"
start_sim linux
linux_port=$device
# Wine's services link COM1 anew when they start; COM3 is left alone, but they must be up first.
"$WINE" cmd /c exit >/dev/null 2>&1
start_sim windows
ln -sfn "$device" "$WINEPREFIX/dosdevices/com3"

# run SIDE NAME ARGS...: one command on one side, in its folder (with the side's port unless
# the command is history or report); its output in NAME.out and NAME.err, its exit status in
# NAME.code.
run() {
    local side=$1 name=$2
    shift 2
    local code=0 port=()
    if [[ $side == linux ]]; then
        [[ $1 == history || $1 == report ]] || port=(--port "$linux_port")
        (cd "$work/linux" && "$LINCLI" "${port[@]}" --history history.sqlite "$@") \
            >"$work/linux/$name.out" 2>"$work/linux/$name.err" || code=$?
    else
        [[ $1 == history || $1 == report ]] || port=(--port COM3)
        (cd "$work/windows" && "$WINE" "$WINCLI" "${port[@]}" --history history.sqlite "$@") \
            >"$work/windows/$name.out" 2>"$work/windows/$name.err" || code=$?
    fi
    echo "$code" >"$work/$side/$name.code"
}

same() { # same WHAT FILE...: the files of both sides are the same bytes
    local what=$1 f
    shift
    for f in "$@"; do
        if ! cmp -s "$work/linux/$f" "$work/windows/$f"; then
            echo "DIFFERENT: $what ($f)"
            diff <(od -c "$work/linux/$f" 2>&1) <(od -c "$work/windows/$f" 2>&1) | head -20
            exit 1
        fi
    done
    echo "same: $what"
}

for side in linux windows; do
    run $side read read 5 -o part05.QX
    run $side write write part05.QX
    run $side backup backup --dir backup
    run $side history history
    run $side export history --export 1 -o entry1.QX
    run $side report report part05.QX
    run $side pdf report part05.QX -o report.pdf
done

for name in read write backup; do
    [[ $(cat "$work/linux/$name.code") == 0 ]] ||
        { echo "FAILED: $name on Linux: $(cat "$work/linux/$name.err")"; exit 1; }
done
same "read 5 -o part05.QX: exit status, output, file" read.code read.out read.err part05.QX
same "write part05.QX: exit status, output" write.code write.out write.err
same "backup: exit status" backup.code backup.err
linux_files=$(cd "$work/linux/backup" && ls)
windows_files=$(cd "$work/windows/backup" && ls)
[[ $linux_files == "$windows_files" && -n $linux_files ]] ||
    { echo "DIFFERENT: backup files: $linux_files / $windows_files"; exit 1; }
for f in $linux_files; do same "backup file" "backup/$f"; done
# The listing of the backup names the files as each system writes a path.
[[ $(tr '\\' / <"$work/windows/backup.out") == "$(cat "$work/linux/backup.out")" ]] ||
    { echo "DIFFERENT: backup listing"; exit 1; }
echo "same: backup listing (up to the path separator)"
# The history's times are each run's own.
for side in linux windows; do
    awk '{ $2 = "TIME"; print }' "$work/$side/history.out" >"$work/$side/history.listed"
done
same "history: exit status, entries" history.code history.err history.listed
[[ $(cat "$work/linux/history.code") == 0 ]] || { echo "FAILED: history"; exit 1; }
same "history --export 1" export.code export.out entry1.QX
# The report's heading ends with the time it was made ("Dec 09,2026 19:55"), each run's own:
# the Windows run comes seconds after the Linux one and may be in the next minute.
for side in linux windows; do
    sed -E 's/[A-Z][a-z]{2} [0-9]{2},[0-9]{4} [0-9]{2}:[0-9]{2}/PRINTED/' \
        "$work/$side/report.out" >"$work/$side/report.compared"
done
grep -q PRINTED "$work/linux/report.compared" ||
    { echo "DIFFERENT: the report has no time it was made"; exit 1; }
same "report on standard output" report.code report.compared report.err
grep -q . "$work/linux/history.listed" || { echo "DIFFERENT: no history entries"; exit 1; }
# The report as a PDF: the same text; on Windows in Courier New, the face
# every Windows has (Wine's prefix maps it to Liberation Mono, the face Linux takes).
same "report as a PDF: exit status" pdf.code
for side in linux windows; do
    # Word for word: where pdftotext puts the columns depends on the face's metrics as each
    # platform scales them.
    pdftotext "$work/$side/report.pdf" - | tr -s ' \n' '\n\n' |
        sed -E 's/^[0-9]{2},[0-9]{4}$/DATE/; s/^[0-9]{2}:[0-9]{2}$/TIME/' >"$work/$side/report.txt"
    pdffonts "$work/$side/report.pdf" | tail -n +3 | cut -d' ' -f1 >"$work/$side/report.fonts"
done
same "report as a PDF: its text" report.txt
grep -q '^CourierNew' "$work/windows/report.fonts" ||
    { echo "DIFFERENT: the Windows PDF is not in Courier New: $(cat "$work/windows/report.fonts")"; exit 1; }
echo "the Windows PDF is in $(sort -u "$work/windows/report.fonts" | tr '\n' ' ')"

sleep 0.2 # the simulators log a frame's answer once it is out
cmp -s "$work/linux.frames" "$work/windows.frames" ||
    { echo "DIFFERENT: frames on the wire"; diff "$work/linux.frames" "$work/windows.frames" | head; exit 1; }
echo "frames: $(grep -c '^<- ' "$work/linux.frames") each, the same"
