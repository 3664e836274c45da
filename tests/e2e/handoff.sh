#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A second start hands its folder to the running window and ends at once with exit code 0; the
# running window lists that folder. Usage: handoff.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
mkdir -p "$E2E_DATA/First" "$E2E_DATA/Second"
touch "$E2E_DATA/Second/handed.txt"

e2e_start "$E2E_DATA/First"
e2e_hand_over "$E2E_DATA/Second"
echo "the second start ended after $E2E_ELAPSED ms"
e2e_focus "$E2E_WINDOW"
e2e_key alt+f
e2e_type "described after the hand-off"
e2e_key Tab
e2e_wait_file_contains 10 "$E2E_DATA/Second/Folder.dnt" "handed.txt=described after the hand-off" \
  || fail "the running window does not list the handed folder"
[ "$(e2e_windows DirNote | wc -l)" -eq 1 ] || fail "more than one DirNote window is shown"
echo "the running window lists the handed folder"
e2e_close
