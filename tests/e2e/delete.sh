#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Deleting with the keys a person presses: Ctrl+Delete in the file table deletes the selected
# file at once, without a question and not into the trash; in the folder table it asks first and,
# answered with Enter ("&Yes"), moves the folder into the desktop trash of this user
# ($XDG_DATA_HOME/Trash). Usage: delete.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
mkdir -p "$E2E_DATA/Doomed/Inner"
echo inside >"$E2E_DATA/Doomed/inside.txt"
echo 1 >"$E2E_DATA/file1.txt"
echo 2 >"$E2E_DATA/file2.txt"
files_left() { find "$E2E_DATA" -maxdepth 1 -name 'file*.txt' | wc -l; }

e2e_start "$E2E_DATA"
e2e_key alt+f ctrl+Delete
e2e_poll 10 eval '[ "$(files_left)" -eq 1 ]' || fail "Ctrl+Delete did not delete a file"
e2e_no_window Confirm || fail "deleting a file asked a question"
[ -z "$(ls -A "$XDG_DATA_HOME/Trash/files" 2>/dev/null)" ] || fail "the deleted file went to the trash"
echo "Ctrl+Delete deleted a file at once"

e2e_key alt+o ctrl+Delete
e2e_await box 10 e2e_window Confirm || fail "Ctrl+Delete on a folder asked nothing"
[ -d "$E2E_DATA/Doomed" ] || fail "the folder went before the answer"
e2e_screenshot question
e2e_answer Confirm Return
e2e_poll 10 eval '[ ! -e "$E2E_DATA/Doomed" ]' || fail "answering Yes did not delete the folder"
[ -f "$XDG_DATA_HOME/Trash/files/Doomed/inside.txt" ] || fail "the folder is not in the trash"
[ -f "$XDG_DATA_HOME/Trash/info/Doomed.trashinfo" ] || fail "the trash has no .trashinfo for the folder"
echo "Ctrl+Delete on a folder asked, and Enter put it into the trash"
e2e_close
