#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address and undefined-behaviour sanitizers) and runs them
# one after another, each in one process.
#   scripts/fuzz.sh --smoke                 every target for 10 seconds (CI)
#   scripts/fuzz.sh --minutes N [TARGET...] every target (or the ones named) for N minutes
# Targets: json mcp response rendezvous url tags. The seeds in fuzz/corpus are copied to a
# working corpus in the build tree, so runs never write into the repository. Findings land in
# BUILD/fuzz-artifacts; the script exits 1 if any target finds one.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=""
targets=()
while (($#)); do
  case "$1" in
    # A smoke run shows that each target still builds and runs from its seeds, and finds what
    # breaks at once; searching takes --minutes.
    --smoke) seconds=10 ;;
    --minutes) shift; seconds=$((${1:?--minutes needs a number} * 60)) ;;
    -*) echo "usage: scripts/fuzz.sh --smoke | --minutes N [TARGET...]" >&2; exit 2 ;;
    *) targets+=("$1") ;;
  esac
  shift
done
if [ -z "$seconds" ]; then
  echo "usage: scripts/fuzz.sh --smoke | --minutes N [TARGET...]" >&2
  exit 2
fi
((${#targets[@]})) || targets=(json mcp response rendezvous url tags)

build="${QUORVI_FUZZ_BUILD:-build-fuzz}"
cmake -S . -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVI_FUZZ=ON -DQUORVI_BUILD_TESTS=OFF -DQUORVI_WERROR=ON \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only -DNDEBUG" \
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only -DNDEBUG" >/dev/null
cmake --build "$build" --target "${targets[@]/#/fuzz_}"

artifacts="$build/fuzz-artifacts"
mkdir -p "$artifacts"
failures=0
for target in "${targets[@]}"; do
  corpus="$build/fuzz-corpus/$target"
  mkdir -p "$corpus"
  cp -n fuzz/corpus/"$target"/* "$corpus"/
  log="$build/fuzz-$target.log"
  echo "fuzz_$target: ${seconds}s"
  if ! "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -dict="fuzz/dict/$target.dict" \
    -artifact_prefix="$artifacts/$target-" "$corpus" >"$log" 2>&1 </dev/null; then
    failures=$((failures + 1))
    echo "fuzz_$target FOUND A FAULT; see $log and $artifacts" >&2
    tail -n 40 "$log" >&2
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE|^stat::number_of_executed_units' "$log" || true
done
echo "fuzz: $((${#targets[@]} - failures)) passed, $failures failed"
((failures == 0))
