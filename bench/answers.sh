#!/usr/bin/env bash
# Peak memory and time of `quorvi request` and `quorvi mcp-server` for one connector answer of
# each shape and size, the costly shapes included: a stand-in app answers every request with a
# prepared body. Prints one line per run to OUT: shape, answer bytes, command, peak RSS in KiB,
# seconds (the lowest of REPS runs for the time, the highest for the memory).
#   bash bench/answers.sh QUORVI STANDIN OUT [REPS]
set -euo pipefail
quorvi=$1 standin=$2 out=$3 reps=${4:-3}
work=$(mktemp -d)
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

"$standin" "$work/app" --answer "$work/answer.json" </dev/null 2>/dev/null &
pid=$!
for _ in $(seq 100); do
  [ -e "$work/app/connection.json" ] && break
  sleep 0.05
done

# Each body is at most the 8 MiB frame limit.
shape() { # NAME MIB
  node -e '
const [name, mib] = [process.argv[1], Number(process.argv[2])];
const limit = Math.floor(mib * 1048576) - 64;
let body;
if (name === "string") {
  body = JSON.stringify({result: {data: "x".repeat(limit - 30), id: "att-1"}});
} else if (name === "escaped") {  // a note whose text is all quotation marks and line feeds
  body = JSON.stringify({result: {id: "note-1", text: "\"\n".repeat((limit - 40) / 4)}});
} else if (name === "repeated") {
  body = "{\"result\":{" + "\"a\":0,".repeat((limit - 20) / 6) + "\"a\":1}}";
} else if (name === "reversed") {
  const parts = [];
  let size = 20;
  for (let i = 9999999; size < limit - 20; --i) { const p = `"${i.toString(36)}":0`; parts.push(p); size += p.length + 1; }
  body = "{\"result\":{" + parts.join(",") + "}}";
} else if (name === "nested") {  // 126 levels, each with its members out of order
  body = "{\"result\":" + "{\"z\":".repeat(125) + JSON.stringify("x".repeat(limit - 1500)) + ",\"a\":0}".repeat(125) + "}";
} else if (name === "objects") {
  body = "{\"result\":[" + "{},".repeat((limit - 20) / 3) + "{}]}";
} else if (name === "error") {  // a failure whose message is the whole answer
  body = JSON.stringify({error: "x".repeat(limit - 20)});
} else if (name === "error-escaped") {
  body = JSON.stringify({error: "\"\n".repeat((limit - 20) / 4)});
} else if (name === "error-first") {  // an "error" that is no message, before a large result
  body = "{\"error\":0,\"result\":[" + "1,".repeat((limit - 40) / 2) + "1]}";
}
if (body.length > 8388608) throw new Error(`${name}: ${body.length} bytes`);
process.stdout.write(body);
' "$1" "$2" >"$work/answer.json"
}

init='{"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-06-18","capabilities":{},"clientInfo":{"name":"bench","version":"1"}}}'
ready='{"jsonrpc":"2.0","method":"notifications/initialized"}'
call='{"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"quorvi_read","arguments":{"id":"note-1"}}}'
printf '%s\n%s\n%s\n' "$init" "$ready" "$call" >"$work/call.jsonl"

measure() { # SHAPE COMMAND...
  local name=$1 best_time="" worst_rss=0 line kib seconds
  shift
  for _ in $(seq "$reps"); do
    line=$(QUORVI_BRIDGE_DIR=$work/app /usr/bin/time -f '%M %e' "$@" 2>&1 >/dev/null </"$work/call.jsonl" |
      tail -n 1)
    kib=${line% *} seconds=${line#* }
    ((kib > worst_rss)) && worst_rss=$kib
    if [ -z "$best_time" ] || awk -v a="$seconds" -v b="$best_time" 'BEGIN { exit !(a < b) }'; then
      best_time=$seconds
    fi
  done
  echo "$name $(stat -c %s "$work/answer.json") $worst_rss $best_time"
}

: >"$out"
for row in "string 1" "string 2" "string 4" "string 8" "escaped 8" "repeated 8" "reversed 8" \
  "nested 8" "objects 8" "error 8" "error-escaped 8" "error-first 8"; do
  read -r name mib <<<"$row"
  shape "$name" "$mib"
  echo "bench: answers $name $mib MiB" >&2
  read -r _ bytes kib seconds <<<"$(measure "$name" "$quorvi" request read '{"id":"note-1"}')"
  echo "$name $bytes request $kib $seconds" >>"$out"
  read -r _ bytes kib seconds <<<"$(measure "$name" "$quorvi" mcp-server)"
  echo "$name $bytes mcp-server $kib $seconds" >>"$out"
done
