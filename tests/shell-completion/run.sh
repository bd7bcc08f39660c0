#!/usr/bin/env bash
# Completes every command line of cases.txt in a real shell that finds the quorvi completion
# the way it does on an installed system, below SHARE (the build tree's share/ directory or an
# installed one), and compares the words offered with the expected ones. bash runs with
# bash-completion loaded, bash-plain without it; both also complete the lines of cases.bash.txt.
#
# Usage: run.sh bash|bash-plain|zsh|fish SHARE
set -uo pipefail
shell=$1
share=$(cd "$2" && pwd) || exit 1
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d) || exit 1
trap 'rm -rf "$scratch"' EXIT
# A home of its own (the XDG directories unset, so that they fall back below it), so that no
# user configuration is read and nothing is written elsewhere;
# a quorvi in PATH, as fish completes only a command that it finds; the file that
# `request OPERATION @` offers in the working directory, and a directory beside it that holds
# names which readline must quote or split at.
export HOME=$scratch/home XDG_DATA_DIRS=$share PATH=$scratch/bin:$PATH TERM=dumb
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME BASH_COMPLETION_USER_DIR
mkdir -p "$HOME" "$scratch/bin" "$scratch/work/sub" && cd "$scratch/work" || exit 1
: >note.json && : >"sub/my notes.json" && : >sub/a:b.json || exit 1
printf '#!/bin/sh\n' >"$scratch/bin/quorvi" && chmod +x "$scratch/bin/quorvi"

offered() {
  case $shell in
    bash | bash-plain) timeout 30 bash --norc --noprofile "$here/complete.bash" "$shell" "$1" ;;
    zsh) timeout 30 zsh -f "$here/complete.zsh" "$share" "$scratch" "$1" ;;
    fish) timeout 30 fish -c 'complete -C $argv[1]' "$1" | cut -f1 ;;
  esac
}

failures=0 count=0
while IFS='|' read -r line expected; do
  [[ -z $line || $line == \#* ]] && continue
  count=$((count + 1))
  actual=$(offered "$line" </dev/null | LC_ALL=C sort -u | paste -sd ' ')
  status=${PIPESTATUS[0]}
  if ((status != 0)) || [[ $actual != "$expected" ]]; then
    failures=$((failures + 1))
    echo "$shell: \"$line\" offered [$actual] (status $status), expected [$expected]"
  fi
done < <(cat "$here/cases.txt" && [[ $shell == bash* ]] && cat "$here/cases.bash.txt")
echo "$shell: $((count - failures)) of $count command lines completed as expected"
((failures == 0 && count > 0))
