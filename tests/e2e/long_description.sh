#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A long description typed into the real program and committed with the Down key reaches the
# folder's description file whole. Usage: long_description.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
echo one >"$E2E_DATA/a.txt"
echo two >"$E2E_DATA/b.txt"

e2e_start "$E2E_DATA"
text="A long description typed by hand, $(printf 'word%.0s ' $(seq 1 40))end"
e2e_key alt+f
e2e_type "$text"
e2e_key Down
e2e_wait_file_contains 10 "$E2E_DATA/Folder.dnt" "a.txt=$text" \
  || fail "the description did not reach Folder.dnt: $(tail -3 "$E2E_DATA/Folder.dnt")"
echo "the description reached Folder.dnt"
