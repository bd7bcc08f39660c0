#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in its own tree and
# runs the whole test suite there. Any sanitizer report fails the test that triggered it.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${QUORVI_SANITIZE_BUILD:-build-sanitize}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVI_SANITIZE=ON \
  -DQUORVI_WERROR=ON >/dev/null
cmake --build "$build"
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:check_initialization_order=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300
