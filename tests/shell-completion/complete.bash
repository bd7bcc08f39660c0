# Prints the words that bash with bash-completion offers for the command line $1, the cursor at
# its end. The completion is found by bash-completion's own loader (XDG_DATA_DIRS).
source /usr/share/bash-completion/bash_completion || exit 1
line=$1

# Split the line as readline does: at blanks, and around the word-break characters : and =.
words=()
read -ra blank_words <<<"$line"
for word in "${blank_words[@]}"; do
  while [[ $word =~ ^([^:=]*)([:=]+)(.*)$ ]]; do
    [[ -n ${BASH_REMATCH[1]} ]] && words+=("${BASH_REMATCH[1]}")
    words+=("${BASH_REMATCH[2]}")
    word=${BASH_REMATCH[3]}
  done
  [[ -n $word ]] && words+=("$word")
done
[[ $line == *' ' || ${#words[@]} -eq 0 ]] && words+=("")

_completion_loader quorvi
spec=$(complete -p quorvi 2>/dev/null) || { echo "no completion loaded for quorvi" >&2; exit 1; }
[[ $spec =~ -F\ ([^ ]+) ]] || { echo "not a function completion: $spec" >&2; exit 1; }
function=${BASH_REMATCH[1]}

COMP_WORDS=("${words[@]}")
COMP_CWORD=$((${#words[@]} - 1))
COMP_LINE=$line
COMP_POINT=${#line}
COMPREPLY=()
"$function" quorvi "${words[COMP_CWORD]}" "${words[COMP_CWORD - 1]:-}"
((${#COMPREPLY[@]})) && printf '%s\n' "${COMPREPLY[@]}"
exit 0
