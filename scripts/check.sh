#!/usr/bin/env bash
# The quick loop while editing: builds the developer tree (build/, warnings as errors) and runs
# every test but the slow ones, which only wait out real deadlines. Under a minute on a warm
# tree. scripts/test.sh remains the whole of CI.
#   bash scripts/check.sh [CTEST ARGUMENTS...]   # e.g. -R Connector to run a few
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVI_WERROR=ON >/dev/null
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2 -LE slow "$@"
