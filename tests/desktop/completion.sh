#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Completes dnt command lines in a real shell from the installed completion file and checks the
# candidates against dnt's help text: every command, each command's options, the values of the
# options that take a fixed set, and paths (only folders where only a folder is taken).
# Usage: completion.sh bash|zsh|fish BUILD_DIR HELP_TEXT
set -uo pipefail
SHELL_NAME=$1
BUILD=$2
HELP=$3
. "$(dirname "${BASH_SOURCE[0]}")/support.sh"
command -v "$SHELL_NAME" >/dev/null || { echo "SKIPPED: $SHELL_NAME is not installed (scripts/setup.sh installs it)"; exit 77; }
if [ "$SHELL_NAME" = bash ] && [ ! -f /usr/share/bash-completion/bash_completion ]; then
  echo "SKIPPED: bash-completion is not installed (scripts/setup.sh installs it)"
  exit 77
fi

install_build "$BUILD"
case $SHELL_NAME in
  bash) FILE=$PREFIX/share/bash-completion/completions/dnt ;;
  zsh) FILE=$PREFIX/share/zsh/vendor-completions/_dnt ;;
  fish) FILE=$PREFIX/share/fish/vendor_completions.d/dnt.fish ;;
esac
[ -f "$FILE" ] || { echo "FAIL: not installed: ${FILE#"$PREFIX"/}" >&2; exit 1; }
"$SHELL_NAME" -n "$FILE" || fail "$SHELL_NAME -n: ${FILE#"$PREFIX"/} has a syntax error"

# What the help text says. Under "Commands:", an item is "  COMMAND ..." with its synopsis
# continued on lines indented by four spaces; its explanation is indented by six.
SYNOPSES=$(awk '/^[A-Z][A-Za-z ]*:$/ { on = ($0 == "Commands:"); next } on && /^(  |    )[^ ]/' "$HELP")
mapfile -t COMMANDS < <(sed -n 's/^  \([a-z][a-z]*\)\( .*\)\{0,1\}$/\1/p' <<<"$SYNOPSES" | sort -u)
[ "${#COMMANDS[@]}" -ge 5 ] || { echo "FAIL: found only the commands '${COMMANDS[*]}' in $HELP" >&2; exit 1; }
synopsis_of() { # every synopsis line of command $1
  awk -v c="$1" '/^  [^ ]/ { on = ($1 == c) } on' <<<"$SYNOPSES"
}
options_of() { # the options of command $1, --help included (every command takes it)
  { synopsis_of "$1" | grep -o -- '--[a-z][a-z-]*'; echo --help; } | sort -u
}
# "--format md|csv|json": an option followed by lower-case alternatives takes one of them.
valued_options() {
  grep -o -- '--[a-z][a-z-]* [a-z0-9.][a-z0-9.|-]*' <<<"$SYNOPSES" | sort -u
}

WORK=$(mktemp -d)
trap 'rm -rf "$PREFIX" "$WORK"' EXIT
mkdir "$WORK/subfolder"
: >"$WORK/notes.txt"

# complete LINE: the candidates the shell offers at the end of LINE, one a line, sorted.
complete_line() {
  local line=$1
  case $SHELL_NAME in
    bash)
      (cd "$WORK" && bash -c '
        . /usr/share/bash-completion/bash_completion
        . "$1"
        read -r -a COMP_WORDS <<<"$2"
        [[ $2 == *" " ]] && COMP_WORDS+=("")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMP_LINE=$2
        COMP_POINT=${#COMP_LINE}
        _dnt dnt "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
        printf "%s\n" "${COMPREPLY[@]}"' _ "$FILE" "$line")
      ;;
    fish)
      (cd "$WORK" && fish --no-config -c 'source $argv[1]; complete -C $argv[2]' "$FILE" "$line") | cut -f1
      ;;
    zsh)
      (cd "$WORK" && zsh -f "$(dirname "${BASH_SOURCE[0]}")/zsh-complete.zsh" "$FILE" "$line")
      ;;
  esac | sed 's:/$::' | sort -u
}

# expect LINE WANTED...: the candidates are exactly WANTED.
expect() {
  local line=$1 got want
  shift
  got=$(complete_line "$line" | tr '\n' ' ')
  want=$(printf '%s\n' "$@" | sort -u | tr '\n' ' ')
  [ "$got" = "$want" ] || fail "'$line' completes to '${got% }', expected '${want% }'"
}
# expect_has LINE WANTED...: the candidates hold each of WANTED.
expect_has() {
  local line=$1 got item
  shift
  got=$(complete_line "$line")
  for item in "$@"; do
    grep -qxF -- "$item" <<<"$got" || fail "'$line' does not offer '$item' (offers: $(tr '\n' ' ' <<<"$got"))"
  done
}

expect_has "dnt " "${COMMANDS[@]}"
for command in "${COMMANDS[@]}"; do
  [ "$command" = help ] && continue
  mapfile -t options < <(options_of "$command")
  expect "dnt $command --" "${options[@]}"
done
while read -r option values; do
  IFS='|' read -r -a alternatives <<<"$values"
  for command in "${COMMANDS[@]}"; do
    synopsis_of "$command" | grep -q -- "$option" && expect "dnt $command $option " "${alternatives[@]}"
  done
done < <(valued_options)
mapfile -t others < <(printf '%s\n' "${COMMANDS[@]}" | grep -vx help)
expect_has "dnt help " "${others[@]}"
# Paths: get and set take any entry, the folder arguments only folders.
expect "dnt get " notes.txt subfolder
expect "dnt set " notes.txt subfolder
for command in ls export import; do
  expect "dnt $command " subfolder
done
expect "dnt find --below " subfolder
# mirror takes its setting, and a folder after "on" only.
expect "dnt mirror " on off status
expect "dnt mirror on " subfolder

[ "$failures" -eq 0 ] || exit 1
echo "$SHELL_NAME completes dnt as its help says"
