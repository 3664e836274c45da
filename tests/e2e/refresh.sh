#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Changes made outside the program show without F5 once the folder is quiet, and F5 lists the
# folder again all the same: a file created appears, a file removed disappears (its description
# is pruned), and a description another process wrote shows in its cell. Usage: refresh.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
file=$E2E_DATA/Folder.dnt
touch "$E2E_DATA/a.txt" "$E2E_DATA/gone.txt"
printf '[Files]\ngone.txt=described, then removed\n' >"$file"

e2e_start "$E2E_DATA"
# Outside the program: one file more, one less, and a description written by another process
# (a whole new file renamed into place, as editors save).
touch "$E2E_DATA/new.txt"
rm "$E2E_DATA/gone.txt"
sed 's/^\[Files\]$/[Files]\na.txt=written elsewhere/' "$file" >"$file.new"
mv "$file.new" "$file"
e2e_poll 10 eval '! grep -q "^gone.txt=" "$file"' || fail "the window did not follow the folder: gone.txt kept"

e2e_key F5
# The cursor is back on a.txt: the text added to its cell joins what the other process wrote;
# the next row is the new file.
e2e_key alt+f F2 End
e2e_type " and here"
e2e_key Down
e2e_wait_file_contains 10 "$file" "a.txt=written elsewhere and here" \
  || fail "the description written elsewhere did not show: $(grep '^a.txt' "$file")"
e2e_type "a file created outside"
e2e_key Tab
e2e_wait_file_contains 10 "$file" "new.txt=a file created outside" || fail "the new file was not listed"
echo "the window showed the created file and the outside description, and dropped the removed file"
e2e_close
