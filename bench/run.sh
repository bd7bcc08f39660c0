#!/usr/bin/env bash
# Side-by-side benchmark of quorvi against the floor of each path (small C programs doing only
# the unavoidable system work) and against an MCP server on the official TypeScript SDK.
#   bash bench/run.sh [--quick] [--source DIR --build DIR --results DIR]
# --quick runs a few repetitions and enforces no goal, so that CI keeps the bench working.
# Prints one table of medians, writes bench/results/latest.md and bench/results/chart.png (the
# chart only outside --quick), and exits 1 when a goal is missed (outside --quick).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench=$root/bench
quick=0 source=$root build=$root/build-bench out=$bench/results
while (($#)); do
  case $1 in
    --quick) quick=1 ;;
    # Another source tree (an older revision, say) and its own build tree; the table and chart
    # then go to --results.
    --source) source=$2 && shift ;;
    --build) build=$2 && shift ;;
    --results) out=$2 && shift ;;
    *) echo "usage: bash bench/run.sh [--quick] [--source DIR --build DIR --results DIR]" >&2 && exit 2 ;;
  esac
  shift
done

cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
ninja -C "$build" -j2 quorvi quorvi-test-opener quorvi-standin-app >/dev/null
# quorvi with the no-op test opener, linked as shipped; older trees only have the test variant.
with_opener=quorvi-bench
ninja -C "$build" -t query "$with_opener" >/dev/null 2>&1 || with_opener=quorvi-test
ninja -C "$build" -j2 "$with_opener" >/dev/null
mkdir -p "$build/bench"
for program in spawn_wait line_echo frame_client mcp_drive; do
  if ! [ "$build/bench/$program" -nt "$bench/c/$program.c" ]; then
    cc -O2 -D_GNU_SOURCE -Wall -Wextra -Werror -o "$build/bench/$program" "$bench/c/$program.c"
  fi
done
if ! [ "$bench/peer/node_modules/.package-lock.json" -nt "$bench/peer/package-lock.json" ]; then
  (cd "$bench/peer" && npm ci --no-audit --no-fund --loglevel=error </dev/null)
fi

quorvi=$build/src/quorvi
quorvi_bench=$build/tests/$with_opener
opener=$build/tests/quorvi-test-opener
standin=$build/tools/standin-app/quorvi-standin-app
c=$build/bench
node=$(command -v node)
peer=(--no-warnings "$bench/peer/server.mjs")
unset QUORVI_TEST_OPENER_LOG QUORVI_TEST_OPENER_STATUS QUORVI_TEST_OPENER_LAUNCH \
  QUORVI_ONLY_TAGS QUORVI_EXCLUDE_TAGS QUORVI_APP_PATH || true

if ((quick)); then
  fast=(--warmup 1 --runs 3) slow=(--warmup 1 --runs 3) reps=1 lists=100 calls=1000
else
  fast=(--warmup 20 --runs 300) slow=(--warmup 3 --runs 20) reps=5 lists=1000 calls=10000
fi

work=$(mktemp -d)
chmod 700 "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Two stand-in apps: a normal one, and one whose every answer is padded to the 8 MiB frame limit.
start_standin() { # NAME [OPTIONS]...
  local dir=$work/$1
  shift
  "$standin" "$dir" --pid-file "$work/$(basename "$dir").pid" "$@" </dev/null &
  pids+=($!)
  for _ in $(seq 100); do
    [ -e "$dir/connection.json" ] && return 0
    sleep 0.05
  done
  echo "bench: the stand-in app did not start" >&2
  exit 1
}
start_standin app
start_standin big --fault max-size
app=$work/app big=$work/big

# The largest attachment the app accepts (700 KB), and a 1 MiB request line whose connector
# request still fits the 1 MiB connector limit (the app refuses that attachment as too large).
node -e 'process.stdout.write(JSON.stringify({id: "note-1", name: "a.bin", data: "QUJD".repeat(716800 / 3)}))' >"$work/seed-attach.json"
node -e '
const data = "QUJD".repeat(Math.floor((1048576 - 256) / 4));
const args = {data, id: "note-1", name: "a.bin"};
require("fs").writeFileSync(process.argv[1], JSON.stringify(args));
process.stdout.write(JSON.stringify({jsonrpc: "2.0", id: 1, method: "tools/call", params: {name: "quorvi_attach", arguments: args}}) + "\n");
' "$work/attach-args.json" >"$work/attach-line.jsonl"
for dir in "$app" "$big"; do
  "$c/frame_client" "$dir" create '{"text":"Benchmark note\nSecond line #bench"}' >/dev/null
done
"$c/frame_client" "$big" attach "@$work/seed-attach.json" >/dev/null

init='{"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-06-18","capabilities":{},"clientInfo":{"name":"bench","version":"1"}}}'
ready='{"jsonrpc":"2.0","method":"notifications/initialized"}'
lines() { # COUNT FORMAT
  seq 1 "$1" | awk -v format="$2" '{ printf format "\n", $1 }'
}
lines 10000 '{"jsonrpc":"2.0","id":%d,"method":"ping"}' >"$work/ping.jsonl"
lines "$lists" '{"jsonrpc":"2.0","id":%d,"method":"tools/list"}' >"$work/list.jsonl"
lines "$calls" '{"jsonrpc":"2.0","id":%d,"method":"tools/call","params":{"name":"quorvi_read","arguments":{"id":"note-1"}}}' >"$work/call.jsonl"
# The same call in the stateless revision, with the `_meta` a client of that revision sends.
meta='"_meta":{"io.modelcontextprotocol/clientCapabilities":{},"io.modelcontextprotocol/clientInfo":{"name":"bench","version":"1"},"io.modelcontextprotocol/protocolVersion":"2026-07-28"}'
lines "$calls" '{"jsonrpc":"2.0","id":%d,"method":"tools/call","params":{"name":"quorvi_read","arguments":{"id":"note-1"},'"$meta"'}}' >"$work/call-modern.jsonl"
{ echo "$init"; echo "$ready"; cat "$work/attach-line.jsonl"; } >"$work/attach.jsonl"
{
  echo "$init"
  echo "$ready"
  echo '{"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"quorvi_read_attachment","arguments":{"attachmentId":"att-1","id":"note-1"}}}'
} >"$work/read-attachment.jsonl"

# The big scenarios must do what they claim before they are timed.
check() { # WHAT PATTERN OUTPUT
  grep -q -- "$2" <<<"$3" || { echo "bench: $1 did not answer as expected" >&2; exit 1; }
}
check "attach" '"text":"Attachment exceeds 700 KB"' \
  "$(QUORVI_BRIDGE_DIR=$app "$quorvi" mcp-server <"$work/attach.jsonl")"
answer=$(QUORVI_BRIDGE_DIR=$big "$quorvi" mcp-server <"$work/read-attachment.jsonl" | tail -n 1)
check "read_attachment" '"isError":false' "$answer"
((${#answer} > 1900000)) || { echo "bench: read_attachment answer too small" >&2; exit 1; }
check "request" '"total":1' "$(QUORVI_BRIDGE_DIR=$app "$quorvi" request search '{}')"
# One call in a revision, request and answer. Their sizes set the goal of the stateless row,
# which an older tree that does not serve that revision skips.
exchange() { # WORKLOAD
  head -n 1 "$1"
  { echo "$init"; echo "$ready"; head -n 1 "$1"; } | QUORVI_BRIDGE_DIR=$app "$quorvi" mcp-server |
    tail -n 1
}
modern=0
grep -q '"isError":false,"resultType":"complete"' <<<"$(exchange "$work/call-modern.jsonl")" && modern=1

results=$work/results
mkdir -p "$results"
if ((modern)); then
  echo "$(exchange "$work/call.jsonl" | wc -c) $(exchange "$work/call-modern.jsonl" | wc -c)" \
    >"$results/call-bytes"
fi
timeit() { # NAME HYPERFINE-OPTIONS... -- COMMANDS...
  local name=$1
  shift
  echo "bench: $name" >&2
  hyperfine --style none --export-json "$results/$name.json" "$@" >/dev/null
}
rss() { # NAME COMMAND (shell text); the peak resident set in KiB, the highest of three runs
  local best=0 kib
  for _ in 1 2 3; do
    kib=$(/usr/bin/time -f %M sh -c "$2" 2>&1 >/dev/null | tail -n 1)
    ((kib > best)) && best=$kib
  done
  echo "$best" >"$results/$1.rss"
}

timeit help "${fast[@]}" -N "$quorvi --help" /bin/true
timeit new "${fast[@]}" -N "$quorvi_bench new hello" \
  "$c/spawn_wait $opener quorvi://x-callback-url/create?text=hello"
QUORVI_BRIDGE_DIR=$app timeit request "${fast[@]}" -N "$quorvi request search '{}'" \
  "$c/frame_client $app search '{}'"
timeit ping "${slow[@]}" "$quorvi mcp-server <$work/ping.jsonl" "$c/line_echo <$work/ping.jsonl"
QUORVI_BRIDGE_DIR=$app timeit attach "${slow[@]}" "$quorvi mcp-server <$work/attach.jsonl" \
  "$c/frame_client -i $app attach @$work/attach-args.json <$work/attach.jsonl"
QUORVI_BRIDGE_DIR=$big timeit read_attachment "${slow[@]}" \
  "$quorvi mcp-server <$work/read-attachment.jsonl" \
  "$c/frame_client -i $big read_attachment '{\"attachmentId\":\"att-1\",\"id\":\"note-1\"}' <$work/read-attachment.jsonl"
QUORVI_BRIDGE_DIR=$app rss attach "$quorvi mcp-server <$work/attach.jsonl"
QUORVI_BRIDGE_DIR=$big rss read_attachment "$quorvi mcp-server <$work/read-attachment.jsonl"

# Peak memory and time for one connector answer of each size and shape, both commands, as ratios
# to the answer's size (a stand-in that answers from a file; older trees lack it).
if "$standin" --help 2>&1 | grep -q -- --answer; then
  bash "$bench/answers.sh" "$quorvi" "$standin" "$results/answers.txt" "$((quick ? 1 : 3))"
fi

drive() { # NAME WORKLOAD ANSWERS COMMAND...
  local name=$1 workload=$2 answers=$3
  shift 3
  echo "bench: $name" >&2
  QUORVI_BRIDGE_DIR=$app "$c/mcp_drive" "$reps" "$workload" "$answers" -- "$@" >"$results/$name.json"
}
drive list-quorvi "$work/list.jsonl" "$lists" "$quorvi" mcp-server
drive list-peer "$work/list.jsonl" "$lists" "$node" "${peer[@]}"
drive call-quorvi "$work/call.jsonl" "$calls" "$quorvi" mcp-server
drive call-peer "$work/call.jsonl" "$calls" "$node" "${peer[@]}"
if ((modern)); then drive call-modern "$work/call-modern.jsonl" "$calls" "$quorvi" mcp-server; fi

machine="$(uname -srm); $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores; load $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
node "$bench/report.mjs" "$results" "$quick" "$lists" "$calls" "$machine" "$out" || status=$?
if ((!quick)); then
  gnuplot -e "data='$out/chart.dat'; out='$out/chart.png'" "$bench/chart.gp"
fi
exit "$status"
