#!/usr/bin/env bash
# Runs clang-tidy (.clang-tidy) over every tracked source that the given build
# directories compile, each source once, with the flags of the first build
# that compiles it; fails on any finding.
#   scripts/run-clang-tidy.sh BUILD_DIR [BUILD_DIR ...]
set -euo pipefail
cd "$(dirname "$0")/.."
log=$(mktemp)
trap 'rm -f "$log"' EXIT

python3 - "$@" <<'PY' |
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
    xargs -P "$(nproc)" -L 1 sh -c 'clang-tidy -p "$0" --quiet "$1" 2>/dev/null' >"$log" || true

if grep -E '(warning|error):' "$log"; then
    echo "clang-tidy: findings above" >&2
    exit 1
fi
echo "clang-tidy: clean"
