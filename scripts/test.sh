#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: once in the plain build
# (unit, integration, fuzz and package), once more under AddressSanitizer and
# UndefinedBehaviorSanitizer (built with clang). Warnings are errors here (the presets
# turn that on). Prints the time of each stage. Exits non-zero when any test fails.
# Usage: scripts/test.sh [PLAIN_PRESET SANITIZER_PRESET]  (default: ci-release ci-asan,
# which build the test programs alone, for speed; `release asan` builds everything)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/stage.sh
. ./scripts/stage.sh

presets=("${1:-ci-release}" "${2:-ci-asan}")

stage "dependencies" ./scripts/install-deps.sh
stage "format" bash -c "git ls-files -z '*.cpp' '*.hpp' | xargs -0 clang-format --dry-run --Werror"
stage "layers" python3 scripts/check_layers.py

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

# Two at a time: tests/itest_schedule.cmake keeps the timing-sensitive ones apart.
for preset in "${presets[@]}"; do
    stage "$preset build" ./scripts/build.sh "$preset"
    stage "$preset tests" ctest --test-dir "build/$preset" --output-on-failure --timeout 600 -j 2
done
stage_summary
