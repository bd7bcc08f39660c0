#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVI_WERROR=ON
cmake --build build
ctest --test-dir build --output-on-failure -j2 --timeout 300
bash scripts/macos.sh build  # cross-built for macOS: universal binary, archive, formula checked
bash scripts/test-sanitize.sh
bash scripts/fuzz.sh --smoke
bash bench/run.sh --quick  # few repetitions, no goals: keeps the benchmark working
