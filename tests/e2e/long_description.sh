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
"$program" "$folder" &
E2E_PIDS+=($!)
window=$(e2e_wait_window '^DirNote$')
[ -n "$window" ] || { echo "the main window did not appear"; exit 1; }
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
sleep 0.3
text="A long description typed by hand, $(printf 'word%.0s ' $(seq 1 40))end"
xdotool key --window "$window" alt+f
xdotool type --delay 2 "$text"
xdotool key Down
sleep 0.5
if grep -aqF "=$text" "$folder/Folder.dnt"; then
  echo "the description reached Folder.dnt"
  exit 0
fi
echo "the description did not reach Folder.dnt:"; cat -A "$folder/Folder.dnt" | tail -5
exit 1
