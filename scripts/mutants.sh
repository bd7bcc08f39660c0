#!/usr/bin/env bash
# The mutation check: applies each one-line mutation of tests/mutants.txt to a scratch copy of
# the tree, rebuilds it incrementally and runs the tests in stages, stopping at the first stage
# that fails:
#   1. the unit-test binary             2. the end-to-end binary without its slow tests
#   3. the slow end-to-end tests, then every other ctest test (interop, install, completions)
# Prints one line per mutation (killed, by which tests; survived; NOT BUILT when the mutated
# tree does not compile; not applicable when the entry needs root and the run is not root's)
# and a total.
#
# Before anything is built, every selected entry must still apply: its text found exactly once
# in its file. An entry that no longer does (the code was renamed or rewritten) is listed as
# NOT APPLIED and the check stops, so that a stale list never passes.
#   bash scripts/mutants.sh [--from N] [--only N[,N...]] [--list FILE]
#   bash scripts/mutants.sh --check [--list FILE]   # only that, in a second (a ctest test)
# Exit status: 0 every mutation killed, those needing root aside when not run as root (or, with
# --check, every entry applies); 1 a mutation survived; 3 an entry does not apply or its
# mutation does not build; 2 usage, or the unmutated tree fails.
# The scratch tree is build-mutants/ (kept between runs, so later runs rebuild little).
set -euo pipefail
# One compound command, read whole before it runs, so that editing this file meanwhile is safe.
{
root=$(cd "$(dirname "$0")/.." && pwd)
list=$root/tests/mutants.txt
only="" from=1 check_only=false
while (($#)); do
  case $1 in
    --list) list=$2 && shift ;;
    --only) only=",$2," && shift ;;
    --from) from=$2 && shift ;;
    --check) check_only=true ;;
    *)
      echo "usage: bash scripts/mutants.sh [--check] [--from N] [--only N[,N...]] [--list FILE]" >&2
      exit 2
      ;;
  esac
  shift
done

# The selected entries as "NUMBER<TAB>FILE<TAB>ORIGINAL<TAB>REPLACEMENT<TAB>MARK", one a line,
# from lines of the form FILE @@ ORIGINAL @@ REPLACEMENT @@ WHY, with " @@ MARK" after WHY when
# the entry has one (only "root" is known: only a test run as root can kill the mutation).
entries() {
  local line number=0 file rest original replacement mark
  while IFS= read -r line; do
    case $line in '' | '#'*) continue ;; esac
    number=$((number + 1))
    ((number < from)) && continue
    [ -n "$only" ] && [[ $only != *",$number,"* ]] && continue
    file=${line%% @@ *} rest=${line#* @@ }
    original=${rest%% @@ *} rest=${rest#* @@ }
    replacement=${rest%% @@ *} rest=${rest#* @@ } mark=-
    [[ $rest == *' @@ '* ]] && mark=${rest##* @@ }
    printf '%s\t%s\t%s\t%s\t%s\n' "$number" "$file" "$original" "$replacement" "$mark"
  done <"$list"
}

# How often `original` occurs in `file`.
occurrences() {
  MUTANT_FROM=$2 perl -0777 -ne '$n = () = /\Q$ENV{MUTANT_FROM}\E/g; END { print $n + 0 }' "$1"
}

# Every selected entry against the tree as it is; lists those that no longer apply.
stale=0 selected=0
while IFS=$'\t' read -r number file original replacement mark; do
  selected=$((selected + 1))
  if [ ! -f "$root/$file" ]; then
    echo "NOT APPLIED  #$number $file: no such file"
  elif [ "$mark" != - ] && [ "$mark" != root ]; then
    echo "NOT APPLIED  #$number $file: unknown mark \"$mark\" (only \"root\" is known)"
  elif count=$(occurrences "$root/$file" "$original") && [ "$count" != 1 ]; then
    echo "NOT APPLIED  #$number $file: \"$original\" found $count times, not once"
  else
    continue
  fi
  stale=$((stale + 1))
done < <(entries)
if ((stale)); then
  echo "mutants: $stale of $selected entries of ${list#"$root"/} no longer apply: update them to the code as it is now" >&2
  exit 3
fi
if $check_only; then
  echo "mutants: all $selected entries of ${list#"$root"/} apply"
  exit 0
fi

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

unit=$build/src/quorvi_unit_tests
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
  # Not the gtest cases (run above), nor the check that the list applies, which a mutated tree
  # fails by design.
  out=$(timeout 900 ctest --test-dir "$build" -E '\.|^quorvi_mutants_apply$' --timeout 300 2>&1) || status=$?
  ((status == 0)) && return 0
  local names
  names=$(printf '%s\n' "$out" | sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) (.*/\1/p' | head -n 4 | paste -sd ' ')
  echo "${names:-ctest (status $status)}"
}

# Runs the stages; prints "stage: failed tests" for the first stage that fails.
run_stages() {
  local failed
  failed=$(gtest_failures "$unit" '*')
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

killed=0 survived=0 unbuilt=0 inapplicable=0
while IFS=$'\t' read -r number file original replacement mark; do
  label="#$number $file: $original -> $replacement"
  if [ "$mark" = root ] && [ "$(id -u)" -ne 0 ]; then
    echo "not applicable (needs root)  $label"
    inapplicable=$((inapplicable + 1))
    continue
  fi
  target=$source/$file
  cp "$target" "$scratch/saved"
  apply "$target" "$original" "$replacement"
  if ! build_all; then
    verdict="NOT BUILT    $label (see $scratch/build.log)"
    unbuilt=$((unbuilt + 1))
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
done < <(entries)
build_all || true
echo "mutants: $killed killed, $survived survived, $unbuilt not built, $inapplicable not applicable" \
  "(need root) (of $((killed + survived + unbuilt + inapplicable)))"
((unbuilt == 0)) || exit 3
((survived == 0)) || exit 1
exit 0
}
