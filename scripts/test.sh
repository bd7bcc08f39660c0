#!/usr/bin/env bash
# Sets up a fresh machine, builds everything and runs every test; as root (CI), once more as
# an ordinary user.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVI_WERROR=ON
cmake --build build
ctest --test-dir build --output-on-failure -j2 --timeout 300
# The whole suite again as nobody (uid 65534), so that no test leans on root's powers: in a
# copy of the tree that it owns (the checkout may sit where nobody cannot read, and the build
# writes), with the interoperability tests' node modules, built there afresh.
if [ "$(id -u)" -eq 0 ]; then
  user_tree=$(mktemp -d /tmp/quorvi-user.XXXXXX)
  trap 'rm -rf "$user_tree"' EXIT
  tar -c --exclude=./.git --exclude=./build --exclude='./build-*' --exclude=./bench/peer/node_modules \
    --exclude=./tools/zig/node_modules --exclude=./tools/mcpb/node_modules --exclude=./dist . | tar -x -C "$user_tree"
  mkdir "$user_tree/home" && chown -R 65534:65534 "$user_tree"
  setpriv --reuid=65534 --regid=65534 --clear-groups env HOME="$user_tree/home" bash -c '
    cd "$1" && cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVI_WERROR=ON &&
      cmake --build build && ctest --test-dir build --output-on-failure -j2 --timeout 300' \
    as-nobody "$user_tree"
fi
# Cross-built for macOS and every release artifact made and checked, twice for reproducibility.
bash scripts/release.sh --reproducible build
bash scripts/test-sanitize.sh
bash scripts/fuzz.sh --smoke
bash bench/run.sh --quick  # few repetitions, no goals: keeps the benchmark working
