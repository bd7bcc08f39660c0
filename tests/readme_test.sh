#!/usr/bin/env bash
# Runs every shell block of README.md and tools/standin-app/README.md that is marked
# "<!-- README test: runs -->" on the line before it, each in a fresh bash, from a scratch copy of the repository's layout whose
# build-release/ is the build under test, so that the documented commands cannot drift from
# the program. Paths under /tmp/ move into the scratch directory.
#
# Usage: readme_test.sh SOURCE_DIR BUILD_DIR
set -uo pipefail
source_dir=$(cd "$1" && pwd) || exit 1
build_dir=$(cd "$2" && pwd) || exit 1
scratch=$(mktemp -d /tmp/quorvi-readme.XXXXXX) || exit 1
trap 'rm -rf "$scratch"' EXIT

# The marked blocks, each ended by a NUL.
mapfile -d '' blocks < <(awk -v scratch="$scratch/" '
  state == "block" && $0 == "```" { printf "%s%c", block, 0; block = ""; state = ""; next }
  state == "block" { gsub("/tmp/", scratch); block = block $0 "\n"; next }
  state == "marked" { state = $0 == "```sh" ? "block" : ""; next }
  $0 == "<!-- README test: runs -->" { state = "marked" }
' "$source_dir/README.md" "$source_dir/tools/standin-app/README.md")

failures=0
for i in "${!blocks[@]}"; do
  repo=$scratch/repo$i
  mkdir -p "$repo" && ln -s "$build_dir" "$repo/build-release" && ln -s "$source_dir/tests" "$repo/tests"
  # A failing block must not leave its background jobs behind.
  # Nor may it leave QUORVI_BRIDGE_DIR set in the reader's shell: the app it named has stopped
  # by then, and the next command would fail with a message that points the wrong way.
  (cd "$repo" && timeout 120 bash -e -c "trap 'kill \$(jobs -p) 2>/dev/null || true' EXIT
${blocks[i]}
[[ -z \${QUORVI_BRIDGE_DIR+set} ]] || { echo 'the block leaves QUORVI_BRIDGE_DIR set' >&2; exit 1; }") || {
    printf "README block %d failed (status %d):\n%s\n" "$((i + 1))" "$?" "${blocks[i]}" >&2
    failures=$((failures + 1))
  }
done
echo "README: $((${#blocks[@]} - failures)) of ${#blocks[@]} marked blocks ran"
((failures == 0 && ${#blocks[@]} > 0))
