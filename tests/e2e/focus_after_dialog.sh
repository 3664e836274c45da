#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Without a window manager (as here), nobody gives the main window the keyboard back when a
# dialog over it closes. For every dialog of the window: open it the way a user does, close it,
# and type: the text goes into the table cell that had the focus, not to a button or nowhere.
# Usage: focus_after_dialog.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
touch "$E2E_DATA"/{a,b,c,d}.txt
mkdir "$E2E_DATA/Sub"

e2e_start "$E2E_DATA"
dialogs() { e2e_error_boxes; }
# round ENTRY NAME CLOSE-KEY OPEN-STEP...: the entry typed into (the folder Sub, or the next
# file), a name for the dialog, the key that closes it, and how it is opened.
round() {
  local file=$1 name=$2 close=$3 dialog
  shift 3
  e2e_focus "$E2E_WINDOW"
  if [ "$file" = Sub ]; then
    e2e_key alt+o # the folders table
  else
    e2e_key alt+f # the files table, on the row typed into last
    [ "$file" = a.txt ] || e2e_key Down
  fi
  "$@"
  e2e_await dialog 10 dialogs || fail "$name did not open"
  e2e_focus "$dialog"
  e2e_key "$close"
  e2e_poll 10 eval '[ -z "$(dialogs)" ]' || fail "$name stayed open"
  # Typed at once, as a user does: nothing in between gives the window the focus.
  e2e_type "after $name"
  e2e_key Tab
  e2e_wait_file_contains 10 "$E2E_DATA/Folder.dnt" "$file=after $name" \
    || fail "after $name the typed text did not reach the table (focus on $(e2e_xdo getwindowfocus), window $E2E_WINDOW): $(grep -a "txt=" "$E2E_DATA/Folder.dnt")"
  echo "after $name the focus is back in the table"
}
# The folder text button's middle at the designed size: (4 + 4 + 105 / 2, 412 + 4 + 25 / 2).
click_folder_text() { e2e_xdo mousemove --window "$E2E_WINDOW" 60 428 click 1; }
round a.txt "the About box" Return e2e_key shift+F1
round b.txt "the folder picker" Escape e2e_key alt+s
round c.txt "the folder text" Escape click_folder_text
round d.txt "the pruned descriptions" Escape e2e_key ctrl+p
round Sub "the delete question" Escape e2e_key ctrl+Delete
e2e_close
