#!/bin/bash
# Runs every fault kept in tests/mutants/ against the suite: each patch is
# applied to a scratch copy of this checkout, the targets its tests need are
# built incrementally in one scratch build, only those tests run, and the
# patch is taken out again. A mutant the tests fail on is caught; one they
# pass is missed; one that no longer applies or builds is stale (fix the patch).
#
# A patch names its tests before the diff (git apply skips that text):
#   # tests: test_localdatabase test_faults:concurrentPresses "test_faults:programStart:home 0777"
#   # targets: velmora-cli     (optional: what to build besides the tests)
# "test:function" runs only that function of a QtTest program, "test:function:tag"
# only that row of its table; words are quoted as in the shell.
#
# Usage: scripts/run-mutants.sh [PATTERN...]   (only patches whose name holds a pattern)
# MUTANTS_DIR (default build-mutants/) holds the copy and its build; JOBS the build jobs.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
scratch=${MUTANTS_DIR:-$root/build-mutants}
src=$scratch/src
build=$scratch/build
logs=$scratch/logs
jobs=${JOBS:-$(nproc 2>/dev/null || echo 2)}
mkdir -p "$src" "$logs"
scratch=$(cd "$scratch" && pwd)
src=$scratch/src

# Copies the checkout's files (tracked and new, as they are now) into the
# copy. A file is copied only when its content differs, and gets a new time
# when it is, so that the build redoes exactly what changed.
sync_copy() {
    local list=$scratch/files
    (cd "$root" && git ls-files -co --exclude-standard | sort) >"$list"
    while IFS= read -r file; do
        [ -e "$root/$file" ] || [ -L "$root/$file" ] || continue
        if ! cmp -s "$root/$file" "$src/$file"; then
            mkdir -p "$src/$(dirname "$file")"
            rm -f "$src/$file"
            cp -P "$root/$file" "$src/$file"
        fi
    done <"$list"
    (cd "$src" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort) |
        comm -23 - "$list" | (cd "$src" && xargs -r -d '\n' rm -f)
}

# The header value of one patch ("# key: ...").
header() { sed -n "s/^# $1: *//p" "$2" | head -1; }

# Git as a plain patch tool: the copy lies inside this checkout, whose
# repository must not take the patch's paths as its own.
patch_tool() { GIT_CEILING_DIRECTORIES=$scratch git -C "$src" apply "$@"; }

# Builds the targets; runs the tests (ctest for whole programs, the program
# itself with ctest's environment for chosen functions). Status 0 when every
# test passed.
build_targets() { cmake --build "$build" -j "$jobs" --target "$@"; }
run_tests() {
    local whole=() status=0 spec name command
    for spec in "$@"; do
        if [[ $spec == *:* ]]; then
            name=${spec%%:*}
            command=$(python3 - "$scratch/tests.json" "$name" <<'EOF'
import json, shlex, sys
for test in json.load(open(sys.argv[1]))["tests"]:
    if test["name"] == sys.argv[2]:
        properties = test.get("properties", [])
        env = [v for p in properties if p["name"] == "ENVIRONMENT" for v in p["value"]]
        print(shlex.join(env + test["command"]))
EOF
            )
            [ -n "$command" ] || { echo "no test $name"; return 2; }
            # ctest runs a test in the build's tests folder; so does this.
            (cd "$build/tests" && eval "timeout 900 env $command" '"${spec#*:}"') || status=1
        else
            whole+=("$spec")
        fi
    done
    if [ ${#whole[@]} -gt 0 ]; then
        local pattern
        pattern="^($(
            IFS='|'
            echo "${whole[*]}"
        ))\$"
        (cd "$build" && ctest --output-on-failure --no-tests=error -R "$pattern") || status=1
    fi
    return $status
}

patches=()
for patch in "$root"/tests/mutants/*.patch; do
    [ -e "$patch" ] || continue
    if [ $# -eq 0 ]; then
        patches+=("$patch")
        continue
    fi
    for pattern in "$@"; do
        [[ $(basename "$patch") == *"$pattern"* ]] && patches+=("$patch") && break
    done
done
[ ${#patches[@]} -gt 0 ] || { echo "run-mutants: no mutants" >&2; exit 2; }

sync_copy
if [ ! -f "$build/CMakeCache.txt" ]; then
    launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_WERROR=ON \
        "${launcher[@]}" >"$logs/configure.log" || { cat "$logs/configure.log"; exit 2; }
fi

# The unmutated suite first: a test that fails anyway would catch every mutant.
all_targets=() all_tests=() tests=() targets=()
for patch in "${patches[@]}"; do
    eval "tests=($(header tests "$patch")) targets=($(header targets "$patch"))"
    [ ${#tests[@]} -gt 0 ] || { echo "run-mutants: $(basename "$patch") names no tests" >&2; exit 2; }
    all_tests+=("${tests[@]}")
    all_targets+=("${targets[@]}" "${tests[@]%%:*}")
done
mapfile -t all_targets < <(printf '%s\n' "${all_targets[@]}" | sort -u)
# A function is left out where its whole program runs anyway.
mapfile -t all_tests < <(printf '%s\n' "${all_tests[@]}" | sort -u |
    awk '{ whole[NR] = $0; seen[$0] = 1 } END { for (i = 1; i <= NR; i++) {
        split(whole[i], part, ":"); if (whole[i] == part[1] || !(part[1] in seen)) print whole[i] } }')
echo "run-mutants: building and running the unmutated tests (${all_tests[*]})"
if ! build_targets "${all_targets[@]}" >"$logs/baseline.log" 2>&1; then
    tail -30 "$logs/baseline.log"
    echo "run-mutants: the unmutated copy does not build" >&2
    exit 2
fi
(cd "$build" && ctest --show-only=json-v1) >"$scratch/tests.json"
if ! run_tests "${all_tests[@]}" >>"$logs/baseline.log" 2>&1; then
    grep -E "FAIL|Failed|tests passed" "$logs/baseline.log" | tail -20
    echo "run-mutants: the unmutated tests fail (see $logs/baseline.log)" >&2
    exit 2
fi

caught=0 missed=0 stale=0 tests=() targets=()
for patch in "${patches[@]}"; do
    name=$(basename "$patch" .patch)
    log=$logs/$name.log
    eval "tests=($(header tests "$patch")) targets=($(header targets "$patch"))"
    started=$SECONDS
    if ! patch_tool --check "$patch" >"$log" 2>&1; then
        result="does-not-apply"
    else
        patch_tool "$patch" >>"$log" 2>&1
        if ! build_targets "${targets[@]}" "${tests[@]%%:*}" >>"$log" 2>&1; then
            result="build-fails"
        elif run_tests "${tests[@]}" >>"$log" 2>&1; then
            result=missed
        else
            result=caught
        fi
        # Back to the checkout's files, with new times so the build redoes them.
        patch_tool -R "$patch" >>"$log" 2>&1 || sync_copy
    fi
    case $result in
    caught) caught=$((caught + 1)) ;;
    missed) missed=$((missed + 1)) ;;
    *) stale=$((stale + 1)) ;;
    esac
    printf '%-15s %s (%s, %d s)\n' "$result" "$name" "${tests[*]}" $((SECONDS - started))
done
# Leaves the build as the checkout is, for the next run.
sync_copy
echo "mutants: $((caught + missed + stale)) run, $caught caught, $missed missed, $stale stale" \
    "(logs in $logs)"
[ $missed -eq 0 ] && [ $stale -eq 0 ]
