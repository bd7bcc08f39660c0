# Prints the words that an interactive zsh with compinit offers when TAB is pressed after the
# command line $3. zsh completes only inside its line editor, so the shell runs on a
# pseudo-terminal (zpty) and a wrapper around compadd records every match it is given.
#
# Usage: zsh -f complete.zsh SHARE SCRATCH LINE
# SCRATCH keeps compinit's dump between runs, which makes every run after the first fast.
zmodload zsh/zpty zsh/zselect || exit 1
share=$1 scratch=$2 line=$3
dir=$(mktemp -d "$scratch/zsh.XXXXXX") || exit 1
cat >"$dir/setup.zsh" <<SETUP
PS1='> '
unsetopt AUTO_LIST AUTO_MENU LIST_BEEP BEEP
fpath=($share/zsh/site-functions \$fpath)
autoload -Uz compinit && compinit -u -d $scratch/zcompdump
compadd() {
  # Calls that only ask for matches (-O, -A) or filter them (-D) are passed through.
  if ((\${@[(I)-[OAD]*]})); then builtin compadd "\$@"; return; fi
  local -a found
  builtin compadd -O found "\$@"
  # A prefix that compset moved out of the word (the @ of @FILE) is part of what is offered;
  # zsh inserts a file name (-f) that is a directory with its "/".
  local match
  for match in \$found; do
    if ((\${@[(I)-[a-zA-Z]#f[a-zA-Z]#]})) && [[ -d \$match ]]; then match+=/; fi
    print -r -- \$IPREFIX\$match >>$dir/matches
  done
  builtin compadd "\$@"
}
# Keys typed while no line editor runs would meet the terminal's own line editing, so the
# line is typed only once the editor has started, and the end is marked from inside it.
zle-line-init() { : >$dir/editing }
mark-done() { : >$dir/done }
zle -N zle-line-init && zle -N mark-done && bindkey '^X^D' mark-done
SETUP

# Waits up to thirty seconds for the shell to create the file $1.
await() {
  for i in {1..300}; do [[ -e $1 ]] && return 0; zselect -t 10; done
  print -u2 "zsh did not answer: $1" && return 1
}
zpty z zsh -f -i || exit 1
zpty -w z "source $dir/setup.zsh"
await $dir/editing && zpty -w -n z "$line"$'\t\C-x\C-d' && await $dir/done || { zpty -d z; exit 1 }
zpty -d z
[[ -e $dir/matches ]] && cat $dir/matches
exit 0
