#!/usr/bin/env bash
# Fails when a C or C++ source of the project differs from the committed .clang-format style.
set -euo pipefail
cd "$(dirname "$0")/.."
find src tests tools fuzz bench/c -name node_modules -prune -o \
  \( -name '*.cc' -o -name '*.h' -o -name '*.c' \) -print0 |
  xargs -0 clang-format --dry-run --Werror
