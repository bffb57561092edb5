#!/usr/bin/env bash
# The nightly round's service as it is installed: the build installed into a staging folder
# (DESTDIR) with its configured prefix, the units checked by systemd-analyze verify and the
# account file by systemd-sysusers, then the service's own command line (ExecStart, as systemd
# would hand it to the shell) run with the example settings against the simulator on a pty.
#
#   round_service.sh BUILD PREFIX WORK
set -euo pipefail

build=$1 prefix=$2 work=$3
stage=$work/stage
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/home"
DESTDIR=$stage cmake --install "$build" --prefix "$prefix" >"$work/install.log" ||
    { cat "$work/install.log"; fail "the install into $stage failed"; }

units=$stage$prefix/lib/systemd/system
service=$units/paramporter-round.service
timer=$units/paramporter-round.timer
sysusers=$stage$prefix/lib/sysusers.d/paramporter.conf
example=$stage/etc/paramporter/round.conf.example
for f in "$service" "$timer" "$sysusers" "$example"; do
    [[ -f $f ]] || fail "not installed: ${f#"$stage"}"
done

# ---------------------------------------------------------------- what systemd makes of them
if command -v systemd-analyze >/dev/null; then
    # Man pages are looked up on the host, where this build's is not installed.
    if ! systemd-analyze verify --man=no "$service" "$timer" >"$work/verify.log" 2>&1 ||
        [[ -s $work/verify.log ]]; then
        cat "$work/verify.log"
        fail "systemd-analyze verify found faults in the installed units"
    fi
    echo "systemd-analyze verify: the installed units are sound"
else
    echo "SKIPPED: systemd-analyze verify of the units (systemd-analyze is not installed)"
fi
if command -v systemd-sysusers >/dev/null; then
    mkdir -p "$work/root/etc"
    systemd-sysusers --dry-run --root="$work/root" "$sysusers" >"$work/sysusers.log" 2>&1 ||
        { cat "$work/sysusers.log"; fail "systemd-sysusers refused ${sysusers#"$stage"}"; }
    grep -q "paramporter" "$work/sysusers.log" ||
        { cat "$work/sysusers.log"; fail "systemd-sysusers would make no paramporter account"; }
    echo "systemd-sysusers: the account file makes the paramporter account"
else
    echo "SKIPPED: systemd-sysusers check of the account (systemd-sysusers is not installed)"
fi

# ---------------------------------------------------------------- the service's command line
# ExecStart with its continued lines joined (a trailing backslash becomes a space), systemd's
# quotes removed and "$$" made "$"; a lone "$" would be replaced by systemd, not the shell.
exec_start=$(sed -n '/^ExecStart=/,/[^\\]$/p' "$service" | sed 's/\\$/ /' | tr -d '\n')
exec_start=${exec_start#ExecStart=}
[[ $exec_start == "/bin/sh -c '"*"'" ]] || fail "ExecStart is not /bin/sh -c '...': $exec_start"
command=${exec_start#"/bin/sh -c '"}
command=${command%"'"}
[[ ${command//\$\$/} != *'$'* ]] || fail "ExecStart has a \$ that systemd would replace: $command"
command=${command//\$\$/\$}
[[ $command == *"\"$prefix/bin/paramporter-cli\""* ]] ||
    fail "ExecStart does not call $prefix/bin/paramporter-cli: $command"
[[ -x $stage$prefix/bin/paramporter-cli ]] || fail "$prefix/bin/paramporter-cli not installed"
command=${command//"\"$prefix/bin/"/"\"$stage$prefix/bin/"}

sim_out=$work/sim.out
"$stage$prefix/bin/qx7400-sim" >"$sim_out" 2>/dev/null &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    [[ -s $sim_out ]] && break
    sleep 0.05
done
pty=$(head -n 1 "$sim_out")
[[ -c $pty ]] || fail "the simulator did not start: $pty"

# The example's settings, as EnvironmentFile= reads them (a line KEY=VALUE, the value as it
# stands), with this test's port and hooks and without the plant's server.
hook() { printf '#!/bin/sh\ncat >"%s/%s.json"\n' "$work" "$1" >"$work/$1"; chmod +x "$work/$1"; }
hook deviation
hook failure
settings() { # settings PORTS: the service's environment, one KEY=VALUE a line
    local line
    while IFS= read -r line; do
        [[ -z $line || $line == \#* ]] && continue
        case ${line%%=*} in
        PARAMPORTER_ROUND_PORTS) echo "PARAMPORTER_ROUND_PORTS=$1" ;;
        PARAMPORTER_HISTORY_SERVER) ;;
        PARAMPORTER_ON_DEVIATION) echo "PARAMPORTER_ON_DEVIATION=$work/deviation" ;;
        PARAMPORTER_ON_FAILURE) echo "PARAMPORTER_ON_FAILURE=$work/failure" ;;
        *) echo "$line" ;;
        esac
    done <"$example"
}
grep -q '^PARAMPORTER_ROUND_PORTS=' "$example" || fail "the example sets no PARAMPORTER_ROUND_PORTS"
run() { # run PORTS: the command line as the service runs it, its status in $status
    local -a env=(HOME="$work/home" PATH="$PATH")
    mapfile -t -O 2 env < <(settings "$1")
    status=0
    env -i "${env[@]}" /bin/sh -c "$command" >"$work/round.out" 2>"$work/round.err" || status=$?
}

run "$pty"
[[ $status == 0 ]] || { cat "$work/round.out" "$work/round.err"; fail "the round exited $status"; }
grep -qx "$pty: serial 1234, [1-9][0-9]* read, 0 deviate" "$work/round.out" ||
    { cat "$work/round.out" "$work/round.err"; fail "the round did not read the instrument"; }
[[ ! -e $work/failure.json && ! -e $work/deviation.json ]] || fail "a hook ran for a sound round"
echo "the service's command line read the instrument: $(head -n 1 "$work/round.out")"

# A port without an instrument: the failure hook is handed over by the shell, exit 1.
run "$work/no-such-port"
[[ $status == 1 ]] || { cat "$work/round.out" "$work/round.err"; fail "a failed port exited $status"; }
[[ -s $work/failure.json ]] || fail "the failure hook did not run"
echo "the service's command line ran the failure hook for a missing port"
