# Prints the words that bash with bash-completion offers for the command line $1, the cursor at
# its end. The completion is found by bash-completion's own loader (XDG_DATA_DIRS).
source /usr/share/bash-completion/bash_completion || exit 1
line=$1
# Split the line as readline does: at blanks, and around those of the word-break characters :,
# = and @ that are in COMP_WORDBREAKS (bash-completion takes @ out).
breaks=${COMP_WORDBREAKS//[^:=@]/}
words=()
read -ra blank_words <<<"$line"
for word in "${blank_words[@]}"; do
  while [[ $word =~ ^([^$breaks]*)([$breaks]+)(.*)$ ]]; do
    [[ -n ${BASH_REMATCH[1]} ]] && words+=("${BASH_REMATCH[1]}")
    words+=("${BASH_REMATCH[2]}") word=${BASH_REMATCH[3]}
  done
  [[ -n $word ]] && words+=("$word")
done
[[ $line == *' ' || ${#words[@]} -eq 0 ]] && words+=("")

# Outside readline compopt cannot work: the options asked for are recorded instead.
options=""
compopt() { options+=" $*"; }

_completion_loader quorvi
[[ $(complete -p quorvi 2>/dev/null) =~ -F\ ([^ ]+) ]] || { echo "no completion function for quorvi" >&2; exit 1; }
COMP_WORDS=("${words[@]}") COMP_CWORD=$((${#words[@]} - 1)) COMP_LINE=$line COMP_POINT=${#line}
"${BASH_REMATCH[1]}" quorvi "${words[COMP_CWORD]}" "${words[COMP_CWORD - 1]:-}"
# After a single match readline adds "/" when it is a file name that is a directory, else a
# space unless told not to; that space is shown where it ends a path.
if ((${#COMPREPLY[@]} == 1)); then
  if [[ $options == *'-o filenames'* && -d ${COMPREPLY[0]} ]]; then
    [[ ${COMPREPLY[0]} == */ ]] || COMPREPLY[0]+=/
  elif [[ $options != *'-o nospace'* && ${COMPREPLY[0]} == */ ]]; then
    COMPREPLY[0]+=' '
  fi
fi
# Readline puts a reply in place of the text after the word's last break character; what the
# word becomes is printed.
last=""
[[ $line == *' ' || ${#blank_words[@]} -eq 0 ]] || last=${blank_words[-1]}
for reply in "${COMPREPLY[@]}"; do printf '%s%s\n' "${last%"${last##*[$breaks]}"}" "$reply"; done
