#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVI_WERROR=ON
cmake --build build
ctest --test-dir build --output-on-failure -j2 --timeout 300
# Cross-built for macOS and every release artifact made and checked, twice for reproducibility.
bash scripts/release.sh --reproducible build
bash scripts/test-sanitize.sh
bash scripts/fuzz.sh --smoke
bash bench/run.sh --quick  # few repetitions, no goals: keeps the benchmark working
