#!/usr/bin/env bash
# COM ports of a Wine prefix linked to simulated instruments (the Linux build's qx7400-sim on
# pseudo-terminals), for the Windows build's tests under Wine:
#
#   wine_ports.sh start INFO SIM    starts them, writes what stop needs into INFO
#   wine_ports.sh stop INFO         stops them and removes the links
#
#   COM5, COM12  an instrument (COM12: a port number of two digits)
#   COM6         one that answers in pieces of 8 bytes, 40 ms apart
#   COM7         one that hangs up after sending 20 bytes
#   COM8         /dev/null: a device that takes no line settings
#   COM9         nothing at all
#   COM11        one that never answers
#
# The prefix is $WINEPREFIX (Wine's default, ~/.wine, when unset).
set -euo pipefail

prefix=${WINEPREFIX:-$HOME/.wine}
devices=$prefix/dosdevices

start_sim() { # start_sim NAME ARGS...: the instrument's pty path on stdout, its pid in INFO
    local name=$1 out
    shift
    out=$(mktemp)
    "$SIM" "$@" >"$out" 2>/dev/null &
    echo "pid $!" >>"$INFO"
    for _ in $(seq 100); do
        [[ -s $out ]] && break
        sleep 0.05
    done
    [[ -s $out ]] || { echo "wine_ports.sh: $name did not start" >&2; exit 1; }
    head -n 1 "$out"
    rm -f "$out"
}

link() { # link COMn TARGET
    ln -sfn "$2" "$devices/$1"
    echo "link $1" >>"$INFO"
}

case ${1:-} in
start)
    INFO=$2
    SIM=$3
    [[ -d $devices ]] || { echo "wine_ports.sh: no Wine prefix in $prefix" >&2; exit 1; }
    : >"$INFO"
    plain=$(start_sim plain)
    link com5 "$plain"
    link com12 "$plain"
    link com6 "$(start_sim split --split 8:40)"
    link com7 "$(start_sim hang-up --hang-up-after 20)"
    link com8 /dev/null
    link com11 "$(start_sim silent --silent)"
    rm -f "$devices/com9"
    echo "COM5/COM12 $plain, COM6 split, COM7 hangs up, COM8 /dev/null, COM9 none, COM11 silent"
    ;;
stop)
    INFO=$2
    [[ -f $INFO ]] || exit 0
    while read -r what value; do
        case $what in
        pid) kill "$value" 2>/dev/null || true ;;
        link) rm -f "$devices/$value" ;;
        esac
    done <"$INFO"
    rm -f "$INFO"
    ;;
*)
    echo "usage: wine_ports.sh start INFO SIM | stop INFO" >&2
    exit 2
    ;;
esac
