#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# In both tables a typed description reaches Folder.dnt however the cursor leaves it: the Down
# key, a click into the other table, and Tab on the last row. Usage: commit.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
mkdir -p "$E2E_DATA"/{dir1,dir2,dir3}
touch "$E2E_DATA"/{file1,file2,file3}
file=$E2E_DATA/Folder.dnt

e2e_start "$E2E_DATA"
# The accelerator of each table, its name prefix, and a point inside the other table.
for table in "alt+o dir 200 300" "alt+f file 200 100"; do
  read -r accelerator prefix x y <<<"$table"
  e2e_key "$accelerator"
  e2e_type "typed into ${prefix}1, then Down"
  e2e_key Down
  e2e_wait_file_contains 10 "$file" "${prefix}1=typed into ${prefix}1, then Down" || fail "Down did not commit ${prefix}1"
  e2e_type "typed into ${prefix}2, then a click"
  e2e_xdo mousemove --window "$E2E_WINDOW" "$x" "$y" click 1
  e2e_wait_file_contains 10 "$file" "${prefix}2=typed into ${prefix}2, then a click" || fail "a click elsewhere did not commit ${prefix}2"
  e2e_key "$accelerator" Down
  e2e_type "typed into ${prefix}3, then Tab"
  e2e_key Tab
  e2e_wait_file_contains 10 "$file" "${prefix}3=typed into ${prefix}3, then Tab" || fail "Tab did not commit ${prefix}3"
  echo "$prefix table: Down, a click elsewhere and Tab committed"
done
e2e_screenshot committed
e2e_close
