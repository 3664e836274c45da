#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A Folder.dnt that cannot be written, made read-only (chmod 0444, the program running as an
# unprivileged user, as root writes to any file) or replaced by a folder while shown: a commit
# shows an error box that names the file, the program keeps running, and the file or folder keeps
# every byte. Usage: fault_unwritable_file.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
file=$E2E_DATA/Folder.dnt
touch "$E2E_DATA/a.txt" "$E2E_DATA/b.txt"
snapshot() { (cd "$E2E_DATA" && find Folder.dnt -exec sh -c 'ls -ld "$1"; [ -d "$1" ] || md5sum "$1"' _ {} \;); }

for fault in read-only folder; do
  printf '[Files]\r\nb.txt=described before\r\n' >"$file"
  if [ "$fault" = read-only ]; then
    if ! e2e_as_nobody; then
      echo "SKIPPED read-only: the program cannot be run as an unprivileged user here"
      continue
    fi
    chmod 0444 "$file"
    e2e_start "$E2E_DATA"
    expected="Unable to write to $file: Permission denied."
  else
    e2e_start "$E2E_DATA"
    rm "$file"
    mkdir "$file"
    echo inside >"$file/inside.txt"
    expected="Unable to write to $file: it is not a regular file."
  fi
  before=$(snapshot)
  e2e_key alt+f
  e2e_type "typed into a $fault Folder.dnt"
  e2e_key Down
  e2e_error_box "$expected"
  e2e_alive "$E2E_PID" || fail "$fault: the program ended"
  [ "$(snapshot)" = "$before" ] || fail "$fault: Folder.dnt changed: $(snapshot)"
  echo "$fault: the commit was reported, nothing changed, the program runs on"
  # F5 drops the text that cannot be stored, after which the window closes.
  e2e_focus "$E2E_WINDOW"
  e2e_key F5
  e2e_close
  [ "$(snapshot)" = "$before" ] || fail "$fault: Folder.dnt changed at the close: $(snapshot)"
  rm -rf "$file"
done
