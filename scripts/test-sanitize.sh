#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in its own tree and
# runs the test suite there. Any sanitizer report fails the test that triggered it. Left out:
# the slow tests, which only wait out deadlines, and the checks of the format, man page,
# installed tree and completions, which run no quorvi code the rest does not.
set -euo pipefail
cd "$(dirname "$0")/.."

build="${QUORVI_SANITIZE_BUILD:-build-sanitize}"
# -O1 and line tables only: what the sanitizers need for their reports, at a fraction of the
# compile time of full debug information.
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVI_SANITIZE=ON -DQUORVI_WERROR=ON \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" \
  >/dev/null
cmake --build "$build"
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:check_initialization_order=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
ctest --test-dir "$build" --output-on-failure -j2 --timeout 300 -LE slow \
  -E '^quorvi_(format|install|completion_.*)$'
