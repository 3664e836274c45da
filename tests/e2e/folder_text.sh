#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The folder text dialog, opened by a click on the "Folder info" picture button: the lines typed
# replace the folder's text in Folder.dnt when OK is pressed (Enter), and the descriptions stay.
# Usage: folder_text.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
touch "$E2E_DATA/kept.txt"
printf '[Files]\nkept.txt=described before\n' >"$E2E_DATA/Folder.dnt"

e2e_start "$E2E_DATA"
# The button's middle at the designed size: (4 + 4 + 105 / 2, 412 + 4 + 25 / 2).
e2e_xdo mousemove --window "$E2E_WINDOW" 60 428 click 1
e2e_await dialog 10 e2e_window "Folder information" || fail "the button did not open the folder text dialog"
e2e_focus "$dialog"
e2e_key ctrl+a
e2e_type "First line of the folder text"
e2e_key ctrl+Return
e2e_type "Second line"
e2e_screenshot dialog
e2e_key Return
e2e_poll 10 e2e_no_window "Folder information" || fail "Enter did not close the dialog"
file=$E2E_DATA/Folder.dnt
e2e_wait_file_contains 10 "$file" "Text1=Second line" || fail "the folder text was not written: $(cat "$file")"
section=$(sed -n '/^\[ThisFolder\]/,/^\[/p' "$file" | grep '^Text')
[ "$section" = $'Text0=First line of the folder text\nText1=Second line' ] \
  || fail "the folder text section holds: $section"
grep -q '^kept.txt=described before' "$file" || fail "a description was lost"
echo "the folder text dialog wrote two lines"
e2e_close
