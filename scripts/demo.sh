#!/usr/bin/env bash
# The main job end to end: builds quorvi, its completions and the stand-in app (Release) in
# build-release/, starts the stand-in in a temporary Automation directory, and runs
# `quorvi request` create, search and read against it, printing each command and its output.
# Afterwards `cmake --install build-release` installs what was built. Run as root on a fresh
# machine, or as a user who can install packages with sudo.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVI_BUILD_TESTS=ON >/dev/null
cmake --build build-release --target quorvi quorvi_completions quorvi-standin-app

work=$(mktemp -d)
app_pid=""
cleanup() {
  if [ -n "$app_pid" ]; then
    kill -TERM "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# quorvi finds the app through this directory instead of the one under HOME.
export QUORVI_BRIDGE_DIR="$work/Automation"
build-release/tools/standin-app/quorvi-standin-app "$QUORVI_BRIDGE_DIR" 2>"$work/standin.log" &
app_pid=$!
# The stand-in prints its ready line once connection.json is in place.
for _ in $(seq 100); do
  grep -q listening "$work/standin.log" && break
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q listening "$work/standin.log"; then
  cat "$work/standin.log" >&2
  echo "demo: the stand-in app did not start" >&2
  exit 1
fi
export PATH="$PWD/build-release/src:$PATH"

# Prints a command the way one would type it, then runs it.
show() {
  local words=() word
  for word in "$@"; do
    if [[ $word =~ ^[A-Za-z0-9_./=:-]+$ ]]; then
      words+=("$word")
    else
      words+=("'${word//\'/\'\\\'\'}'")
    fi
  done
  printf '\n$ %s\n' "${words[*]}"
  "$@"
}

echo
echo "Stand-in app listening in $QUORVI_BRIDGE_DIR"
created=$(show quorvi request create '{"text":"Demo note\nBuy oat milk and coffee","tags":"demo"}')
printf '%s\n' "$created"
# The note is the outermost object, so its "id" is the first one (attachments come before it
# in key order, but a new note has none).
id=$(printf '%s' "$created" | grep -o '"id": *"[^"]*"' | head -n 1 | sed 's/.*"\([^"]*\)"$/\1/')
show quorvi request search '{"query":"oat milk"}'
show quorvi request read "{\"id\":\"$id\"}"
