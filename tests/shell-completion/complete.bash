# Prints the words that bash offers when TAB is pressed after the command line $2: with
# bash-completion, which finds the completion through its own loader (XDG_DATA_DIRS), for $1
# bash; without it, the completion file sourced into a plain bash, for $1 bash-plain.
#
# The line is typed into an interactive bash on a pseudo-terminal (script(1)), so that readline
# and bash find the word and split the line as they do for a person; complete.bashrc records
# the completion function's replies there. Each reply is then put in place as readline does,
# and what the shell reads there is printed, one word a line, quoted as printf %q does.
#
# Usage: bash complete.bash bash|bash-plain LINE
set -uo pipefail
shell=$1 line=$2
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d) || exit 1
trap 'rm -rf "$dir"' EXIT
export QUORVI_COMPLETE_SHELL=$shell QUORVI_COMPLETE_RECORD=$dir/record QUORVI_COMPLETE_READY=$dir/ready
# Waits up to thirty seconds for the file $1, and no longer than bash runs.
await() {
  local tries
  for ((tries = 0; tries < 3000; tries++)); do
    [[ -e $1 ]] && return 0
    [[ -e $dir/done ]] && break
    sleep 0.01
  done
  echo "bash did not answer: $1" >&2 && return 1
}
printf -v command 'bash --noprofile --rcfile %q -i; : >%q' "$here/complete.bashrc" "$dir/done"
# The line, TAB, ^U to erase what the completion put there, and the end. The input stays open
# until bash has ended, since script(1) lingers after an early end of its input.
{ await "$dir/ready" && printf '%s\t\025exit\n' "$line" && await "$dir/done"; } |
  INPUTRC=/dev/null SHELL=/bin/sh script -qec "$command" /dev/null >/dev/null
[[ -e $dir/record ]] || { echo "bash called no completion function" >&2; exit 1; }
text="" options="" replies=()
source "$dir/record"

# The start of the word under the cursor, and the quote left open at its end, if any.
start=0 quote=""
for ((i = 0; i < ${#line}; i++)); do
  char=${line:i:1}
  if [[ $quote == "'" ]]; then
    [[ $char == "'" ]] && quote=""
  elif [[ $char == \\ ]]; then
    ((i++))
  elif [[ -n $quote ]]; then
    [[ $char == \" ]] && quote=""
  elif [[ $char == [$' \t'] ]]; then
    start=$((i + 1))
  elif [[ $char == [\"\'] ]]; then
    quote=$char
  fi
done
[[ $line == *"$text" ]] || { echo "readline replaces [$text], not the end of the line" >&2; exit 1; }
# Readline puts each reply in place of $text; what comes before it in the word stays.
kept=${line:start:${#line}-start-${#text}}

# Prints the words that the shell reads in $1, each quoted by printf %q.
print_words() {
  local text=$1 word="" quote="" char i started=""
  for ((i = 0; i < ${#text}; i++)); do
    char=${text:i:1}
    if [[ $quote == "'" ]]; then
      [[ $char == "'" ]] && quote="" || word+=$char
    elif [[ $char == \\ && ( -z $quote || ${text:i+1:1} == [\"\\\$\`] ) ]]; then
      ((i++))
      word+=${text:i:1} started=yes
    elif [[ $char == \" || ( -z $quote && $char == "'" ) ]]; then
      [[ -z $quote ]] && quote=$char || quote=""
      started=yes
    elif [[ -z $quote && $char == [$' \t'] ]]; then
      [[ -n $started ]] && printf '%q\n' "$word"
      word="" started=""
    else
      word+=$char started=yes
    fi
  done
  [[ -n $started ]] && printf '%q\n' "$word"
}

for reply in "${replies[@]}"; do
  inserted=$reply
  # With -o filenames readline quotes a reply: with backslashes, or inside the open quote.
  [[ $options == *'-o filenames'* && -z $quote ]] && printf -v inserted %q "$reply"
  word=$kept$inserted space=""
  if ((${#replies[@]} == 1)); then
    # After a single match readline adds "/" when it is a file name that is a directory, else
    # it closes the open quote and adds a space unless told not to; that space is shown where
    # it ends a path.
    if [[ $options == *'-o filenames'* && -d $reply ]]; then
      [[ $reply == */ ]] || word+=/
    else
      word+=$quote
      [[ $options != *'-o nospace'* && $reply == */ ]] && space=' '
    fi
  fi
  printf '%s%s\n' "$(print_words "$word")" "$space"
done
