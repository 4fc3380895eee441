#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy) over every tracked source that the given build
# directories compile, each source once, with the flags of the first build
# that compiles it; fails on any finding, and also when clang-tidy is missing,
# crashes or checks nothing, so that a check that did not run never reads clean.
#   scripts/run-clang-tidy.sh BUILD_DIR [BUILD_DIR ...]
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-tidy >/dev/null || { echo "clang-tidy: not installed" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$@" >"$work/list" <<'PY'
import json, os, subprocess, sys
tracked = set(subprocess.run(["git", "ls-files", "*.cpp"], capture_output=True, text=True,
                             check=True).stdout.split())
seen = set()
for build in sys.argv[1:]:
    for entry in json.load(open(os.path.join(build, "compile_commands.json"))):
        path = os.path.relpath(os.path.join(entry["directory"], entry["file"]))
        if path in tracked and path not in seen:
            seen.add(path)
            print(build, path)
PY
if [ ! -s "$work/list" ]; then
    echo "clang-tidy: no source to check in $*" >&2
    exit 1
fi

# Each run's findings go to the log; its own errors and a non-zero status (a
# crash, a file it cannot compile) fail the check with what it said.
status=0
xargs -P "$(nproc)" -L 1 sh -c \
    'clang-tidy -p "$1" --quiet "$2" 2>"$0/stderr.$$" || { cat "$0/stderr.$$"; exit 1; }' \
    "$work" <"$work/list" >"$work/log" 2>&1 || status=$?
if grep -E '(warning|error):' "$work/log"; then
    echo "clang-tidy: findings above" >&2
    exit 1
fi
if [ "$status" -ne 0 ]; then
    cat "$work/log" >&2
    echo "clang-tidy: did not run cleanly (status $status)" >&2
    exit 1
fi
echo "clang-tidy: clean ($(wc -l <"$work/list") files)"
