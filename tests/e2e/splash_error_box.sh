#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# An error at the start (a folder without Folder.dnt that the user cannot write to) shows its box
# above everything: the splash, which stays on top while the window is built, has stepped aside,
# so the user sees the box and not "Initializing ...". Usage: splash_error_box.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
e2e_as_nobody || { echo "SKIPPED: the program cannot be run as an unprivileged user here"; exit 0; }
folder=$E2E_DATA/ReadOnly
mkdir -p "$folder"
touch "$folder/a.txt"
chmod 555 "$folder"
[ "$(id -u)" -ne 0 ] || chown -R nobody: "$folder"

# Windows of the program of a given type that are shown.
shown_of_type() {
  local w
  for w in $(e2e_windows DirNote "$E2E_PID"); do
    xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q "_NET_WM_WINDOW_TYPE_$1" && echo "$w"
  done
  return 0
}

e2e_spawn "${E2E_RUN_AS[@]}" "$E2E_PROGRAM" "$folder" 2>>"$E2E_LOG"
E2E_PID=${E2E_PIDS[-1]}
E2E_WINDOW=none
e2e_await box 20 e2e_error_boxes || fail "no error box appeared for the read-only folder"
e2e_screenshot box-at-start
[ -z "$(shown_of_type SPLASH)" ] || fail "the splash is still shown over the error box"
# The box is the topmost of the program's windows: the last child of the root that is mapped.
top=$(xwininfo -root -children | awk '/^ +0x/ {print $1}' | while read -r w; do
  if xwininfo -id "$w" 2>/dev/null | grep -q 'Map State: IsViewable'; then echo "$w"; fi
done | tail -n 1)
[ "$((top))" -eq "$box" ] || fail "the error box ($box) is not the top window ($top)"
echo "the error box is shown on top and the splash is gone"
e2e_focus "$box"
e2e_key Return
e2e_await E2E_WINDOW 20 e2e_main_window "$E2E_PID" || fail "the main window did not appear after the box"
e2e_close
