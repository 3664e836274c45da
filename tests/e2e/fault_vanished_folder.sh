#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The folder shown is removed by someone else. F5 leaves the window as it was (there is nothing
# to list); a description typed then cannot be stored: an error box names the file, the program
# keeps running, the folder is not made again, and the cursor stays on the row, so the text is
# stored by the next move once the folder is back (made again whole, as a checkout does; the
# window may list it again before that move). Usage: fault_vanished_folder.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
shown=$E2E_DATA/Shown
mkdir "$shown"
touch "$shown/a.txt" "$shown/b.txt"

e2e_start "$shown"
rm -r "$shown"
e2e_key F5 alt+f
e2e_type "typed after the folder vanished"
e2e_key Down
e2e_error_box "Unable to write to $shown/Folder.dnt"
e2e_alive "$E2E_PID" || fail "the program ended"
[ ! -e "$shown" ] || fail "the vanished folder was made again"
echo "a commit into the vanished folder was reported, the program runs on"

mkdir "$E2E_DATA/Back"
touch "$E2E_DATA/Back/a.txt" "$E2E_DATA/Back/b.txt"
mv "$E2E_DATA/Back" "$shown"
# Time for the window to see the folder again and list it, the typed text kept on its row.
sleep 1.2
e2e_focus "$E2E_WINDOW"
e2e_key Down
e2e_wait_file_contains 10 "$shown/Folder.dnt" "a.txt=typed after the folder vanished" \
  || fail "the typed text was not stored once the folder was back"
echo "once the folder was back, the next move stored the typed text"
e2e_close
