#!/usr/bin/env bash
# Prints how the tracked source lines split into product code, tests and tools,
# and the tests' share of all of them, so every change shows what it did to the
# balance. A line counts when it is neither blank nor only a comment (C++: //,
# /*, * continuations; Python, shell, CMake, Makefile: #).
#   scripts/test-share.sh [CHECKOUT]   (default: this checkout)
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
count() {
    { git ls-files -- "$@" 2>/dev/null || true; } \
        | grep -E '\.(cpp|cc|cxx|c|h|hpp|py|sh|cmake)$|(^|/)CMakeLists\.txt$|(^|/)Makefile$|^\.ci/run$' \
        | while IFS= read -r f; do
              [ -f "$f" ] || continue
              case "$f" in
                  *.cpp|*.cc|*.cxx|*.c|*.h|*.hpp) grep -Ev '^[[:space:]]*$|^[[:space:]]*(//|/\*|\*)' "$f" || true ;;
                  *) grep -Ev '^[[:space:]]*$|^[[:space:]]*#' "$f" || true ;;
              esac
          done | wc -l
}
tests=$(count tests)
tools=$(count bench scripts cmake .ci Makefile)
all=$(count .)
product=$((all - tests - tools))
share=$(awk -v t="$tests" -v a="$all" 'BEGIN { printf "%.2f", (a > 0 ? t / a : 0) }')
printf 'product %d  tests %d  tools %d  all %d  tests-share %s (aim 0.25-0.33)\n' \
    "$product" "$tests" "$tools" "$all" "$share"
