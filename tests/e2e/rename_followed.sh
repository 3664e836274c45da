#!/usr/bin/env bash
# A described file renamed by another program (mv) while the program shows its folder: after F5
# the description is on the new name, and the old key is gone.
. "$(dirname "$0")/e2e_lib.sh"
program=$1
folder=$E2E_ROOT/work
mkdir -p "$folder"
echo one > "$folder/holiday.jpg"
echo two > "$folder/other.txt"
printf '[Files]\r\nholiday.jpg=Sunset over the lake\r\n' > "$folder/Folder.dnt"

e2e_start_display
e2e_spawn "$program" "$folder"
window=$(e2e_wait_window '^DirNote$')
[ -n "$window" ] || { echo "the main window did not appear"; exit 1; }
# The listing's index update runs after the rows are shown: wait until it holds the file.
index=$XDG_DATA_HOME/KER-MOSS/DirNote/index.sqlite
e2e_poll 20 sh -c 'cat "$1" "$1-wal" 2>/dev/null | grep -aqF "$2"' sh "$index" "Sunset over the lake" ||
  { echo "the index did not record the description"; exit 1; }
mv "$folder/holiday.jpg" "$folder/lake at dusk.jpg"
e2e_focus_window "$window" || { echo "the main window did not get the keyboard focus"; exit 1; }
e2e_xdo key --window "$window" F5
if e2e_wait_file_contains 10 "$folder/Folder.dnt" "lake at dusk.jpg=Sunset over the lake" &&
   ! grep -aq '^holiday.jpg=' "$folder/Folder.dnt"; then
  echo "the description followed the renamed file"
  exit 0
fi
echo "the description did not follow the renamed file:"
cat -A "$folder/Folder.dnt"
exit 1
