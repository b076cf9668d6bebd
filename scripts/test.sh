#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in the release
# build (unit, integration and fuzz), once more under AddressSanitizer and
# UndefinedBehaviorSanitizer. Exits non-zero when any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh

echo "== format =="
git ls-files -z '*.cpp' '*.hpp' | xargs -0 clang-format --dry-run --Werror

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

for preset in release asan; do
    echo "== $preset build =="
    ./scripts/build.sh "$preset"
    echo "== $preset tests =="
    ctest --test-dir "build/$preset" --output-on-failure --timeout 600 -j 2
done
