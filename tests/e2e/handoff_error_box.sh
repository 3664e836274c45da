#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A hand-off that arrives while the error box of an earlier hand-off is shown, after the start
# that caused the box has ended: the running window survives, closes the box and lists the
# handed folder, and the description typed before the hand-offs is in Folder.dnt. Three rounds,
# as a deleted object is not touched in the same way each time.
# Usage: handoff_error_box.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
small=$E2E_DATA/Small huge=$E2E_DATA/Huge
mkdir -p "$small" "$huge"
touch "$small"/{a,b,c,d}.txt
# A description file over the 256 MiB the program reads; sparse, so it takes no room.
truncate -s 300M "$huge/Folder.dnt"
# Freed memory is overwritten (also in the per-thread caches, which are switched off), so that
# a use of a deleted object fails here as it does on the users' machines.
export MALLOC_PERTURB_=165 GLIBC_TUNABLES=glibc.malloc.tcache_count=0

e2e_start "$small"
for round in 1 2 3; do
  file=$(printf "\\x$(printf %x $((96 + round)))").txt
  # Typed into the first undescribed file, and not committed.
  e2e_focus "$E2E_WINDOW"
  e2e_key alt+f
  e2e_type "typed in round $round"

  # The second start, on the folder the window cannot read: its error box comes up.
  e2e_spawn "$E2E_PROGRAM" "$huge"
  second=${E2E_PIDS[-1]}
  e2e_poll 10 grep -qF "larger than 256 MiB" "$E2E_LOG" || fail "no error for the huge description file"
  e2e_await box 10 e2e_error_boxes || fail "no error box for the huge description file"
  e2e_expect_exit "$second" 0
  e2e_alive "$E2E_PID" || fail "the window ended once the second start had"
  : >"$E2E_LOG"

  # The third start, while the box is still up.
  status=0
  E2E_TAG=$E2E_ROOT timeout 20 "$E2E_PROGRAM" "$small" 2>>"$E2E_LOG" || status=$?
  [ "$status" -eq 0 ] || fail "the third start ended with exit code $status"
  e2e_poll 10 eval '[ -z "$(e2e_error_boxes)" ]' || fail "the error box stayed open after the hand-off"
  # A crash comes within moments of the hand-off.
  sleep 0.5
  e2e_alive "$E2E_PID" || fail "the window ended at the third start (round $round)"
  e2e_wait_file_contains 10 "$small/Folder.dnt" "$file=typed in round $round" \
    || fail "the description typed before the hand-offs was lost (round $round)"
  echo "round $round: the window survived and kept what was typed"
done
e2e_screenshot after-third-start

# The window lists the small folder again: a description typed now goes into its file.
e2e_focus "$E2E_WINDOW"
e2e_key alt+f
e2e_type "typed after the third start"
e2e_key Tab
e2e_wait_file_contains 10 "$small/Folder.dnt" "d.txt=typed after the third start" \
  || fail "the window does not list the folder the third start handed over"
echo "the window survived the hand-offs during the error box and lists the handed folder"
e2e_close
