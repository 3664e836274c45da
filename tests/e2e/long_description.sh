#!/usr/bin/env bash
# A long description typed into the real program and committed with the Down key reaches the
# folder's description file.
. "$(dirname "$0")/e2e_lib.sh"
program=$1
folder=$E2E_ROOT/work
mkdir -p "$folder"
echo one > "$folder/a.txt"
echo two > "$folder/b.txt"

e2e_start_display
e2e_spawn "$program" "$folder"
window=$(e2e_wait_window '^DirNote$')
[ -n "$window" ] || { echo "the main window did not appear"; exit 1; }
e2e_focus_window "$window" || { echo "the main window did not get the keyboard focus"; exit 1; }
text="A long description typed by hand, $(printf 'word%.0s ' $(seq 1 40))end"
e2e_xdo key --window "$window" alt+f
e2e_xdo type --delay 2 "$text"
e2e_xdo key Down
if e2e_wait_file_contains 10 "$folder/Folder.dnt" "=$text"; then
  echo "the description reached Folder.dnt"
  exit 0
fi
echo "the description did not reach Folder.dnt:"
[ -f "$folder/Folder.dnt" ] && cat -A "$folder/Folder.dnt" | tail -5
exit 1
