#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each of them for a while.
#
#   scripts/fuzz.sh [--seconds N | --repeatable] [--build DIR] [--merge] [TARGET ...]
#
#   --seconds N    run time of each target from a random seed (default 600)
#   --repeatable   what CI runs: every seed of fuzz/corpus/<target>/, then a fixed number of
#                  runs from a fixed seed, on a fresh copy of the corpus; the same commit
#                  gives the same result on every run ($PP_FUZZ_RUNS scales the runs, 1 = the
#                  CI's number)
#   --build DIR    build folder (default build-fuzz)
#   --merge        add the inputs that found new paths to the seed corpus in fuzz/corpus/
#   TARGET         session, records, param_file, history, settings, cli (default: all)
#
# The seeds in fuzz/corpus/<target>/ are copied into the build folder and grown there. A
# crash or a broken invariant leaves its input in <build>/artifacts/<target>/ and makes the
# script fail; it then says how to keep that input as a seed, which every later run, CI's
# included, replays first. Prints the executions of every target.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)

seconds=600
repeatable=0
build=$root/build-fuzz
merge=0
targets=()
while (($#)); do
    case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --repeatable) repeatable=1; shift ;;
    --build) build=$2; shift 2 ;;
    --merge) merge=1; shift ;;
    -h | --help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "fuzz.sh: unknown option $1" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
    esac
done
if ((${#targets[@]} == 0)); then
    targets=(session records param_file history settings cli)
fi

declare -A dictionary=(
    [session]=protocol.dict [records]=protocol.dict
    [param_file]=files.dict [history]=files.dict [settings]=files.dict
    [cli]=cli.dict
)
declare -A maxlen=([session]=4096 [records]=4096 [param_file]=4096 [history]=4096 [settings]=512
    [cli]=512)
# Runs after the seeds in a repeatable run: about 20 s each on a loaded 2-core machine.
declare -A runs=([session]=60000 [records]=100000 [param_file]=200000 [history]=3000
    [settings]=300000 [cli]=500000)
scale=${PP_FUZZ_RUNS:-1}

if [ ! -f "$build/build.ninja" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DPP_FUZZ=ON \
        -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target fuzzers

# Leaks are checked at the end of each run; UBSan stops at its first finding.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0
summary=()
for t in "${targets[@]}"; do
    [ -n "${dictionary[$t]:-}" ] || { echo "fuzz.sh: no target $t" >&2; exit 2; }
    corpus=$build/corpus/$t
    artifacts=$build/artifacts/$t
    if ((repeatable)); then
        # A fresh copy each time: what an earlier run grew must not change this one.
        corpus=$build/corpus-repeatable/$t
        rm -rf "$corpus"
        mode=(-seed=1 -runs=$((runs[$t] * scale)))
        what="the seeds, then ${mode[1]#-runs=} runs from seed 1"
    else
        mode=(-max_total_time="$seconds")
        what="${seconds}s"
    fi
    mkdir -p "$corpus" "$artifacts"
    cp -n "$root/fuzz/corpus/$t/"* "$corpus/" 2>/dev/null || true
    log=$build/fuzz-$t.log
    echo "== fuzz_$t: $what"
    if "$build/fuzz/fuzz_$t" "$corpus" \
        -dict="$root/fuzz/dict/${dictionary[$t]}" \
        -max_len="${maxlen[$t]}" \
        "${mode[@]}" \
        -artifact_prefix="$artifacts/" \
        -print_final_stats=1 >"$log" 2>&1; then
        result=ok
    else
        result=FAILED
        status=1
        grep -E "invariant broken|ERROR: |runtime error|SUMMARY" "$log" | head -5 || true
        echo "   input kept in $artifacts/, log in $log"
        for found in "$artifacts"/*; do
            [ -f "$found" ] || continue
            echo "   replay:       $build/fuzz/fuzz_$t $found"
            echo "   keep as seed: cp $found $root/fuzz/corpus/$t/ (then mend the cause and"
            echo "                 add a regression test; every run replays the seeds first)"
        done
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    summary+=("$(printf '%-12s %-7s %12s executions' "$t" "$result" "${runs:-?}")")
    if ((merge)) && [ "$result" = ok ]; then
        "$build/fuzz/fuzz_$t" -merge=1 "$root/fuzz/corpus/$t" "$corpus" \
            -max_len="${maxlen[$t]}" >>"$log" 2>&1
    fi
done

printf '%s\n' "${summary[@]}"
exit $status
