#!/usr/bin/env bash
# The mutation check: applies each one-line mutation of tests/mutants.txt to a scratch copy of
# the tree, rebuilds it incrementally and runs the tests in stages, stopping at the first stage
# that fails:
#   1. the unit-test binaries           2. the end-to-end binary without its slow tests
#   3. the slow end-to-end tests, then every other ctest test (interop, install, completions)
# Prints one line per mutation (killed, by which tests; survived; NOT APPLIED when its text is
# not found exactly once; NOT BUILT when the mutated tree does not compile) and a total. Exits 1 when a mutation survives or is not applied.
#   bash scripts/mutants.sh [--from N] [--only N[,N...]] [--list FILE]
# The scratch tree is build-mutants/ (kept between runs, so later runs rebuild little).
set -euo pipefail
# One compound command, read whole before it runs, so that editing this file meanwhile is safe.
{
root=$(cd "$(dirname "$0")/.." && pwd)
list=$root/tests/mutants.txt
only="" from=1
while (($#)); do
  case $1 in
    --list) list=$2 && shift ;;
    --only) only=",$2," && shift ;;
    --from) from=$2 && shift ;;
    *) echo "usage: bash scripts/mutants.sh [--from N] [--only N[,N...]] [--list FILE]" >&2 && exit 2 ;;
  esac
  shift
done

scratch=${QUORVI_MUTANTS_DIR:-$root/build-mutants}
source=$scratch/src build=$scratch/build
mkdir -p "$source"
# The working tree as it is (committed or not), without build trees or node_modules: files that
# changed are copied (so only they get a new time), files that are gone are removed.
(cd "$root" && git ls-files --cached --others --exclude-standard | sort -u) >"$scratch/files"
while IFS= read -r f; do
  [ -f "$root/$f" ] || continue
  cmp -s "$root/$f" "$source/$f" && continue
  mkdir -p "$(dirname "$source/$f")" && cp "$root/$f" "$source/$f"
done <"$scratch/files"
(cd "$source" && find . -path '*/node_modules' -prune -o -type f -print | sed 's|^\./||' | sort) |
  comm -23 - "$scratch/files" | (cd "$source" && xargs -r rm -f --)
for dir in tests/mcp-interop bench/peer; do
  [ -d "$root/$dir/node_modules" ] && ln -sfn "$root/$dir/node_modules" "$source/$dir/node_modules"
done

export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$scratch}
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# -O1 without debug information: quick to compile, close enough to the shipped build. A mutation
# that leaves a name unused must still build.
flags="-O1 -Wno-unused-parameter -Wno-unused-variable -Wno-unused-function -Wno-unused-but-set-variable"
cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Mutants "-DCMAKE_CXX_FLAGS_MUTANTS=$flags" \
  "-DCMAKE_C_FLAGS_MUTANTS=$flags" "${launcher[@]}" >/dev/null

# (Older trees also had the stand-in's own unit tests.)
unit_binaries=("$build/src/quorvi_unit_tests" "$build/tools/standin-app/standin_unit_tests")
e2e=$build/tests/quorvi_e2e_tests

# Failed test names of one gtest binary run; empty when it passed. A crash or timeout with no
# named failure still counts, under the binary's name.
gtest_failures() {
  local binary=$1 filter=$2 out status=0
  out=$(cd "$build" && timeout 600 "$binary" --gtest_brief=1 --gtest_filter="$filter" 2>&1) || status=$?
  ((status == 0)) && return 0
  local names
  names=$(printf '%s\n' "$out" | sed -n 's/^\[  FAILED  \] \([^ ,]*\).*/\1/p' | sort -u | head -n 4 | paste -sd ' ')
  echo "${names:-$(basename "$binary") (status $status)}"
}

ctest_failures() {
  local out status=0
  out=$(timeout 900 ctest --test-dir "$build" -E '\.' --timeout 300 2>&1) || status=$?
  ((status == 0)) && return 0
  local names
  names=$(printf '%s\n' "$out" | sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*/\1/p' | head -n 4 | paste -sd ' ')
  echo "${names:-ctest (status $status)}"
}

# Runs the stages; prints "stage: failed tests" for the first stage that fails.
run_stages() {
  local failed=""
  for binary in "${unit_binaries[@]}"; do
    [ -x "$binary" ] || continue
    failed+=$(gtest_failures "$binary" '*')
    [ -n "$failed" ] && failed+=" "
  done
  [ -n "$failed" ] && echo "unit: $failed" && return
  failed=$(gtest_failures "$e2e" '-*Slow.*')
  [ -n "$failed" ] && echo "e2e: $failed" && return
  failed=$(gtest_failures "$e2e" '*Slow.*')
  [ -n "$failed" ] && echo "slow: $failed" && return
  failed=$(ctest_failures)
  [ -n "$failed" ] && echo "ctest: $failed" && return
  return 0
}

build_all() { ninja -C "$build" -j2 >"$scratch/build.log" 2>&1; }

# Replaces the one occurrence of `original` in `file` by `replacement`; fails unless there is
# exactly one.
apply() {
  MUTANT_FROM=$2 MUTANT_TO=$3 perl -0777 -i -pe '
    BEGIN { $n = 0 }
    $n = () = /\Q$ENV{MUTANT_FROM}\E/g;
    if ($n == 1) { s/\Q$ENV{MUTANT_FROM}\E/$ENV{MUTANT_TO}/ } else { $bad = 1 }
    END { exit($bad ? 3 : 0) }' "$1"
}

echo "mutants: building the unmutated tree in $build"
build_all || { echo "the unmutated tree does not build; see $scratch/build.log" >&2; exit 2; }
baseline=$(run_stages)
if [ -n "$baseline" ]; then
  echo "the unmutated tree fails its tests ($baseline); fix that first" >&2
  exit 2
fi

killed=0 survived=0 unapplied=0 number=0
while IFS= read -r line; do
  case $line in '' | '#'*) continue ;; esac
  number=$((number + 1))
  ((number < from)) && continue
  [ -n "$only" ] && [[ $only != *",$number,"* ]] && continue
  # FILE @@ ORIGINAL @@ REPLACEMENT @@ WHY
  file=${line%% @@ *} rest=${line#* @@ }
  original=${rest%% @@ *} rest=${rest#* @@ }
  replacement=${rest%% @@ *}
  label="#$number $file: $original -> $replacement"
  target=$source/$file
  cp "$target" "$scratch/saved" 2>/dev/null || { echo "NOT APPLIED  $label (no such file)"; unapplied=$((unapplied + 1)); continue; }
  if ! apply "$target" "$original" "$replacement"; then
    echo "NOT APPLIED  $label (text not found exactly once)"
    unapplied=$((unapplied + 1))
    continue
  fi
  if ! build_all; then
    verdict="NOT BUILT    $label (see $scratch/build.log)"
    unapplied=$((unapplied + 1))
  else
    result=$(run_stages)
    if [ -n "$result" ]; then
      verdict="killed       $label [$result]"
      killed=$((killed + 1))
    else
      verdict="SURVIVED     $label"
      survived=$((survived + 1))
    fi
  fi
  # The original bytes back, with a fresh time so that the next build sees the change.
  cp "$scratch/saved" "$target"
  touch "$target"
  echo "$verdict"
done <"$list"
build_all || true
echo "mutants: $killed killed, $survived survived, $unapplied not applied or not built (of $((killed + survived + unapplied)))"
((survived == 0 && unapplied == 0))
exit
}
