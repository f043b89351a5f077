#!/usr/bin/env bash
# Plants the faults listed in manager/tests/faults.txt, one at a time, and runs
# the suite on each: a fault that no test notices is a place the tests do not
# pin down. Each worker (MUTANT_WORKERS, default 3, as the tests mostly wait)
# builds a scratch copy of the working tree once, unoptimized; then for each of
# its faults it plants the fault, rebuilds what the fault touches, runs the
# suite on a fresh bed (which loads the schema the fault may have changed),
# stopping at the first failure, and takes the fault out again. One line per
# fault, then "N planted, K caught, E equivalent". Interrupted, it stops every
# bed and removes every scratch copy. Usage: mutants.sh [FAULT-NUMBER...]
set -u
cd "$(dirname "$0")/../.." || exit 1
root=$PWD
workers=${MUTANT_WORKERS:-3}
targets=(param-config param-config-launch param_config_tests param_config_pure)

# The list: "@ FILE | what a user would see", then "- OLD" and "+ NEW" (text
# that stands exactly once in FILE, or "-N OLD" for its Nth place, and what
# replaces it), and for a fault that nothing outside the program could tell
# apart "= why it is equivalent".
files=() whats=() olds=() nths=() news=() whys=()
while IFS= read -r line || [[ -n $line ]]; do
    case $line in
    '@ '*) rest=${line#@ }; files+=("${rest%% | *}"); whats+=("${rest#* | }"); olds+=(""); nths+=(0); news+=(""); whys+=("") ;;
    '- '*) olds[-1]=${line#- } ;;
    -[0-9]' '*) nths[-1]=${line%% *}; nths[-1]=${nths[-1]#-}; olds[-1]=${line#* } ;;
    '+ '* | '+') news[-1]=${line#+}; news[-1]=${news[-1]# } ;;
    '= '*) whys[-1]=${line#= } ;;
    esac
done <manager/tests/faults.txt
n=${#files[@]}
wanted=("$@")
((${#wanted[@]})) || wanted=($(seq 1 "$n"))

out=$(mktemp -d /tmp/param-config-mutants.XXXXXX) || exit 1
pids=()
finish() {
    local pid run
    for run in "$out"/run*; do [[ -f $run ]] && kill -TERM -- "-$(<"$run")" 2>/dev/null; done
    for pid in "${pids[@]}"; do kill -TERM -- "-$pid" 2>/dev/null; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf -- "$out"
}
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Plants (or, with "revert", takes out) fault $2 in tree $1; fails unless its
# text stands exactly once, or at least N times where the list says "-N".
plant() {
    local tree=$1 i=$(($2 - 1))
    # A fresh time stamp, so that the build takes the file out of the program again.
    [[ ${3:-} == revert ]] && { cp "$root/${files[i]}" "$tree/${files[i]}"; return; }
    OLD=${olds[i]} NEW=${news[i]} NTH=${nths[i]} perl -0777 -i -pe '
        my @at; push @at, $-[0] while /\Q$ENV{OLD}\E/g;
        die "stands " . @at . " times\n" if $ENV{NTH} ? @at < $ENV{NTH} : @at != 1;
        substr($_, $at[$ENV{NTH} ? $ENV{NTH} - 1 : 0], length $ENV{OLD}) = $ENV{NEW};' "$tree/${files[i]}"
}

# Worker $1 of $workers: its share of the wanted faults, a line each into
# $out/NUMBER.
work() {
    local w=$1 tree=$out/tree$1 k i caught log first order status
    mkdir -p "$tree" &&
        git ls-files -co --exclude-standard -z | xargs -0 cp -p --parents -t "$tree" &&
        cmake -S "$tree" -B "$tree/build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS=-O0 >"$tree/setup.log" 2>&1 &&
        cmake --build "$tree/build" --target "${targets[@]}" >>"$tree/setup.log" 2>&1 ||
        { echo "mutants: the scratch copy did not build; see below" >&2; tail -n 30 "$tree/setup.log" >&2; return 1; }
    for ((k = w; k < ${#wanted[@]}; k += workers)); do
        i=${wanted[k]}
        log=$tree/run.log
        if ! plant "$tree" "$i" 2>"$log"; then
            caught="LIST ERROR: the text $(<"$log")"
        elif ! cmake --build "$tree/build" --target "${targets[@]}" >"$log" 2>&1; then
            caught="LIST ERROR: does not build"
        elif [[ ${files[i - 1]} == @(debian/*|scripts/build-deb.sh|CMakeLists.txt|doc/*.in) ]] &&
            ! cmake --build "$tree/build" --target deb >"$log" 2>&1; then
            # A package that no longer builds is a fault make check stops at.
            caught="caught by the package build"
        else
            # The first failing test ends the run (and the handler table its
            # first row that differs). First the tests nearest the fault: the
            # handler table, which notices most, or the administration and
            # database tests for db/ and admin/, start-up's for start-up, the
            # keeper's and the documented defaults' for the launcher, the latter
            # for the man pages, the packages' check (on packages built with the
            # fault) for what builds them; then the rest.
            case ${files[i - 1]} in
            db/* | admin/*) first='^admin$|^database$' ;;
            */startup.cpp | */store.pgc) first='^startup$|^Startup' ;;
            */launch/*) first='^defaults$|^Keeper|^Startup.Launcher' ;;
            doc/*.[18] | doc/*.md) first='^defaults$' ;;
            *) first='^Handlers' ;;
            esac
            order=("-R $first" "-E ^ship\$|$first")
            [[ ${files[i - 1]} == @(debian/*|scripts/build-deb.sh|CMakeLists.txt|doc/*.in) ]] && order=('-R ^ship$' '-R ^admin$')
            # A run that hangs is ended, its whole process group; timeout
            # makes that group, so an interrupted run ends it by its pid.
            (cd "$tree" && exec timeout -k 10 300 bash manager/tests/check.sh --run bash -c \
                'for t in "$@"; do ctest --test-dir build --output-on-failure --stop-on-failure $t || exit; done' \
                - "${order[@]}") >"$log" 2>&1 &
            echo $! >"$out/run$w"
            wait $!
            status=$?
            rm -f "$out/run$w"
            caught=$(awk '/The following tests FAILED/ { f = 1; next } f && / - / { print $3; exit }' "$log")
            if ((status == 124)); then
                caught="caught by a hang (the run was ended after 300 s)"
            elif [[ -n $caught ]]; then
                caught="caught by $caught"
            elif [[ $(grep -c '100% tests passed' "$log") == 2 ]]; then
                caught=SURVIVED
            else
                caught="NOT RUN: the bed did not come up; run this fault alone"
            fi
        fi
        plant "$tree" "$i" revert
        if [[ -n ${whys[i - 1]} ]]; then
            caught="$caught (marked equivalent: ${whys[i - 1]})"
            # What a test saw in an equivalent fault: the reason is wrong, or the test unsteady.
            [[ $caught == "caught by"* ]] &&
                caught+=$'\n'$(grep -E -m 2 -A 6 '\*\*\*[A-Z]|: Failure$' "$log" | sed 's/^/      /')
        fi
        printf '%3d %-32s %s: %s\n' "$i" "${files[i - 1]#manager/}" "${whats[i - 1]}" "$caught" | tee "$out/$i"
    done
}

start=$SECONDS
for ((w = 0; w < workers; w++)); do
    set -m
    work "$w" &
    pids+=($!)
    set +m
done
for pid in "${pids[@]}"; do wait "$pid"; done
pids=()

planted=0 caught=0 equivalent=0 survived=()
for i in "${wanted[@]}"; do
    [[ -f $out/$i ]] || continue
    planted=$((planted + 1))
    line=$(<"$out/$i")
    if [[ -n ${whys[i - 1]} ]]; then
        [[ $line == *SURVIVED* ]] && equivalent=$((equivalent + 1)) || survived+=("$i (marked equivalent, yet caught)")
    elif [[ $line == *"caught by"* ]]; then
        caught=$((caught + 1))
    else
        survived+=("$i")
    fi
done
((${#survived[@]})) && echo "to look at: ${survived[*]}"
echo "mutants: $((SECONDS - start)) s with $workers workers"
echo "$planted planted, $caught caught, $equivalent equivalent"
((planted == ${#wanted[@]} && ${#survived[@]} == 0))
