#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real program's windows: the splash comes and goes, the main window opens centred at its
# designed size, the window menu's About item opens the About box and Esc closes it, and a
# setting the start cannot read ends it with an "Application Error" box and exit code 1.
# Usage: program_window.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
for i in 1 2 3; do echo "$i" >"$E2E_DATA/file$i.txt"; done

# 1. The splash shows while the window is built, then goes: the display's log of windows mapped
# and destroyed tells, however short the splash was up.
e2e_watch_windows
e2e_start "$E2E_DATA"
splash=$(e2e_mapped_before "$E2E_WINDOW" | head -n 1)
[ -n "$splash" ] || fail "no splash was shown"
e2e_poll 10 e2e_destroyed "$splash" || fail "the splash stayed"
echo "splash $splash shown and gone"

# 2. Centred at the designed size.
geometry=$(xwininfo -id "$E2E_WINDOW" | awk '/-geometry/ {print $2}')
[ "$geometry" = "445x449+285+146" ] || fail "main window at $geometry, not 445x449+285+146"
[ -f "$E2E_DATA/Folder.dnt" ] || fail "the start folder was not listed"
e2e_screenshot main

# 3. The window menu's About item opens the About box; Esc closes it.
visible=$(e2e_xdo search --onlyvisible --class dirnote | wc -l)
e2e_xdo mousemove --window "$E2E_WINDOW" 12 10 click 3
e2e_poll 10 eval '[ "$(e2e_xdo search --onlyvisible --class dirnote | wc -l)" -gt "$visible" ]' \
  || fail "no window menu on a right click beside the folder label"
e2e_key Up Return
e2e_answer "About - DirNote" Escape
echo "About box opened from the window menu and closed with Esc"
e2e_close

# 4. A setting the start cannot read ends it with an "Application Error" box and exit code 1.
printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\KER-MOSS]\r\n"SplashEnabled"="yes"\r\n' >"$E2E_REGISTRY"
e2e_spawn "$E2E_PROGRAM" "$E2E_DATA"
failing=${E2E_PIDS[-1]}
e2e_answer "Application Error" Return
e2e_expect_exit "$failing" 1
echo "Application Error shown, exit code 1"
