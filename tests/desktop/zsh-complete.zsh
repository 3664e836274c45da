# SPDX-License-Identifier: GPL-3.0-or-later
# Prints the candidates zsh's completion system offers at the end of a dnt command line, one a
# line: an interactive zsh in a pseudo-terminal loads the completion file with compinit, and
# compadd is wrapped to print the matches it is given.
# Usage: zsh -f zsh-complete.zsh COMPLETION_FILE LINE
zmodload zsh/zpty || exit 2
local file=$1 line=$2
local dir=$(mktemp -d)
cp $file $dir/_dnt
zpty session zsh -f -i
zpty -w session "PROMPT= RPROMPT= PS2=; fpath=($dir \$fpath); autoload -Uz compinit; compinit -u -D"
zpty -w session "zstyle ':completion:*' list-grouped false; zstyle ':completion:*' insert-tab false"
# The wrapper prints the matches of each call (got through -O) behind a marker and then adds
# them, so the completion system goes on as it would (no fallback to other tags); the calls
# that only ask for matches (-O, -A, -D) are passed on.
zpty -w session 'compadd() { if [[ ${(j: :)@} == *-[OAD]* ]]; then builtin compadd "$@"; return; fi; local -a found; builtin compadd -O found "$@"; print -rl -- "@@${^found[@]}"; builtin compadd "$@"; }'
# Tab completes and then prints the end marker. The markers are typed with quotes inside, so
# the terminal's echo of the typed text never looks like them.
zpty -w session 'dn-complete() { zle complete-word; print -r -- "@@EN""D"; }; zle -N dn-complete; bindkey "^I" dn-complete'
zpty -w session 'print -r -- "@@REA""DY"'
local out
while zpty -r session out; do [[ $out == *@@READY* ]] && break; done
zpty -w -n session "$line"$'\t'
while zpty -r session out; do
  [[ $out == *@@END* ]] && break
  [[ $out == *@@* ]] && print -r -- ${${out##*@@}%%$'\r'*}
done
zpty -d session
rm -rf $dir
