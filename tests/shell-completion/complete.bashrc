# The start-up file of the interactive bash that complete.bash types into. It loads the quorvi
# completion, with bash-completion ($QUORVI_COMPLETE_SHELL bash) or, as a user without it
# would, by sourcing the file (bash-plain), and records what the completion function gives.
PS1='' PS2=''
if [[ $QUORVI_COMPLETE_SHELL == bash ]]; then
  source /usr/share/bash-completion/bash_completion || exit 1
  _completion_loader quorvi
else
  source "$XDG_DATA_DIRS/bash-completion/completions/quorvi" || exit 1
fi
[[ $(complete -p quorvi 2>/dev/null) =~ -F\ ([^ ]+) ]] || { echo "no completion function for quorvi" >&2; exit 1; }
quorvi_function=${BASH_REMATCH[1]}

compopt() {
  local IFS=' ' # _filedir sets IFS to a line feed
  quorvi_options+=" $*"
  builtin compopt "$@"
}
# The text that readline replaces ($2), the options asked for and the replies.
quorvi_record() {
  quorvi_options=""
  "$quorvi_function" "$@"
  local -a replies=(${COMPREPLY+"${COMPREPLY[@]}"})
  { printf 'text=%q options=%q\n' "$2" "$quorvi_options" && declare -p replies; } >"$QUORVI_COMPLETE_RECORD"
}
complete -F quorvi_record quorvi

# Keys typed while readline does not run would meet the terminal's own line editing (^U
# erases the line there): from here on every key reaches readline as it is.
stty -icanon -echo
: >"$QUORVI_COMPLETE_READY"
