#!/usr/bin/env bash
# Installs every build and test dependency on a fresh Debian machine. Run as root (or with
# sudo available). Safe to run again: it only adds what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# Package lists are fetched at most once, and only when something has to be looked up or added.
updated=false
update_lists() { $updated || $sudo apt-get update -qq; updated=true; }
available() { apt-cache policy "$1" 2>/dev/null | grep 'Candidate: [^(]' >/dev/null; }

packages=(
  build-essential cmake ninja-build g++ clang clang-format
  libgtest-dev googletest nlohmann-json3-dev libfmt-dev libunistring-dev
)
# scripts/fuzz.sh: libFuzzer and clang's sanitizer runtimes of the distribution's clang, whose
# version is in their names (libfuzzer-14-dev on Debian 12). Older releases ship the runtimes
# with clang itself, with no libclang-rt package.
available clang || update_lists
clang_version=$(apt-cache depends clang 2>/dev/null | sed -n 's/^ *Depends: clang-\([0-9][0-9]*\)$/\1/p' | head -n 1)
if [ -z "$clang_version" ]; then
  echo "setup: no clang package found; the fuzz targets will not build" >&2
else
  for package in "libfuzzer-$clang_version-dev" "libclang-rt-$clang_version-dev"; do
    available "$package" && packages+=("$package")
  done
fi
# The man page's lint and the install test (mandoc, groff, man); the completions' tests run in
# their real shells.
packages+=(mandoc groff-base man-db bash-completion zsh fish)
# The benchmark (bench/run.sh): timings, peak memory, the chart, and profiling.
packages+=(hyperfine time gnuplot-nox linux-perf)
# The macOS cross-build (scripts/macos.sh): libunistring's source package unpacked and built,
# the universal binary made and inspected, the Homebrew formula's syntax checked. The compiler,
# Zig, is pinned in tools/zig.
packages+=(dpkg-dev make llvm file ruby)
# Node.js (for the MCP interoperability tests) may come from elsewhere on the image; only add
# Debian's when there is none.
command -v node >/dev/null 2>&1 || packages+=(nodejs)
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if ((${#missing[@]})); then
  update_lists
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Pinned npm packages of the MCP interoperability tests, of the benchmark's peer server, of the
# macOS cross-build and of the release's MCP bundle, installed again only when the lock file is
# newer than the last install.
for dir in tests/mcp-interop bench/peer tools/zig tools/mcpb; do
  if [ -f "$dir/package-lock.json" ] &&
    ! [ "$dir/node_modules/.package-lock.json" -nt "$dir/package-lock.json" ]; then
    (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error </dev/null)
  fi
done
