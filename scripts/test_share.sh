#!/usr/bin/env bash
# Prints how many lines of C++ the tests hold against the code they test, and fails when the
# tests' share is above a limit. Usage: scripts/test_share.sh [LIMIT_PERCENT] (default 60).
# Lines: non-blank lines of *.cpp and *.hpp. Tests: everything under tests/, and any
# *_test.cpp or *_itest.cpp elsewhere; code: the rest under src/, tools/ and bench/.
set -euo pipefail
cd "$(dirname "$0")/.."
limit="${1:-60}"
if ! [[ "$limit" =~ ^[0-9]+([.][0-9]+)?$ ]]; then
    echo "test_share.sh: the limit must be a percentage, not '$limit'" >&2
    exit 2
fi

count() { # non-blank lines of the files named on stdin, NUL-separated
    xargs -0 -r cat | grep -cv '^[[:space:]]*$' || true
}
cxx=(\( -name '*.cpp' -o -name '*.hpp' \))
tested=(\( -name '*_test.cpp' -o -name '*_itest.cpp' \))

tests=$(( $(find tests "${cxx[@]}" -print0 | count) \
    + $(find src tools bench "${tested[@]}" -print0 | count) ))
code=$(find src tools bench "${cxx[@]}" ! "${tested[@]}" -print0 | count)

share=$(awk -v t="$tests" -v c="$code" 'BEGIN { printf "%.1f", c ? 100 * t / c : 0 }')
echo "tests: $tests lines"
echo "code:  $code lines (src, tools, bench)"
echo "share: $share % (limit $limit %)"
if awk -v s="$share" -v l="$limit" 'BEGIN { exit !(s > l) }'; then
    echo "test_share.sh: the tests are $share % of the code, above $limit %" >&2
    exit 1
fi
