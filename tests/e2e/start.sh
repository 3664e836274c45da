#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The program started on a folder lists that folder; started on a Folder.dnt path (in any letter
# case) it lists the folder holding that file: the file typed into is that folder's, and a stale
# description there is pruned. Tab commits a description on a table of one row. Usage: start.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"

for start in Plain Holder/Folder.dnt Upper/FOLDER.DNT; do
  folder=$E2E_DATA/${start%%/*}
  mkdir -p "$folder"
  echo data >"$folder/only.txt"
  [ "$start" = Holder/Folder.dnt ] && printf '[Files]\ngone.txt=stale\n' >"$folder/Folder.dnt"
  e2e_start "$E2E_DATA/$start"
  e2e_key alt+f
  e2e_type "listed by $start"
  e2e_key Tab
  e2e_wait_file_contains 10 "$folder/Folder.dnt" "only.txt=listed by $start" \
    || fail "started on $start, the description did not reach $folder/Folder.dnt"
  e2e_close
  ! grep -q gone.txt "$folder/Folder.dnt" || fail "started on $start, the stale description stayed"
  [ -z "$(find "$E2E_DATA" -maxdepth 1 -name Folder.dnt)" ] || fail "started on $start, the parent folder was listed"
  echo "started on $start: $folder listed"
done
