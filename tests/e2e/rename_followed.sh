#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A described file renamed by another program (mv) while the program shows its folder: after F5
# the description is on the new name and the old key is gone. Usage: rename_followed.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
file=$E2E_DATA/Folder.dnt
echo one >"$E2E_DATA/holiday.jpg"
echo two >"$E2E_DATA/other.txt"
printf '[Files]\r\nholiday.jpg=Sunset over the lake\r\n' >"$file"

e2e_start "$E2E_DATA"
# The listing's index update runs after the rows are shown: wait until the index holds the file.
index=$XDG_DATA_HOME/KER-MOSS/DirNote/index.sqlite
e2e_poll 20 sh -c 'cat "$1" "$1-wal" 2>/dev/null | grep -aqF "$2"' sh "$index" "Sunset over the lake" \
  || fail "the index did not record the description"
mv "$E2E_DATA/holiday.jpg" "$E2E_DATA/lake at dusk.jpg"
e2e_focus "$E2E_WINDOW"
e2e_key F5
e2e_wait_file_contains 10 "$file" "lake at dusk.jpg=Sunset over the lake" \
  || fail "the description did not follow the renamed file: $(cat -A "$file")"
grep -aq '^holiday.jpg=' "$file" && fail "the old key stayed: $(cat -A "$file")"
echo "the description followed the renamed file"
e2e_close
