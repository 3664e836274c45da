#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Into a subfolder and back with the keys a person presses: Ctrl+Enter in the folder table lists
# the selected subfolder, Ctrl+Backspace its parent again; what is typed after each lands in the
# Folder.dnt of the folder then listed. Usage: subfolder.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
mkdir -p "$E2E_DATA/Sub/Inner"
echo inside >"$E2E_DATA/Sub/inside.txt"
echo outside >"$E2E_DATA/outside.txt"

e2e_start "$E2E_DATA"
e2e_key alt+o ctrl+Return
e2e_poll 10 test -f "$E2E_DATA/Sub/Folder.dnt" || fail "Ctrl+Enter did not list the subfolder"
e2e_key alt+f
e2e_type "a file of the subfolder"
e2e_key Tab
e2e_wait_file_contains 10 "$E2E_DATA/Sub/Folder.dnt" "inside.txt=a file of the subfolder" \
  || fail "the file table did not list the subfolder's file"
echo "Ctrl+Enter listed the subfolder"

e2e_key ctrl+BackSpace alt+o
e2e_type "the subfolder, described from its parent"
e2e_key Tab
e2e_wait_file_contains 10 "$E2E_DATA/Folder.dnt" "Sub=the subfolder, described from its parent" \
  || fail "Ctrl+Backspace did not list the parent folder again"
echo "Ctrl+Backspace listed the parent folder"
e2e_close
