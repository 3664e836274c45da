#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A full disk (the shim preloaded into the program makes every write that grows a file fail with
# ENOSPC): a commit shows an error box that says so, the program keeps running, Folder.dnt keeps
# every byte and no temporary file stays; closing reports that the size cannot be stored and the
# program still ends. Usage: fault_full_disk.sh PROGRAM SHIM
. "$(dirname "$0")/e2e_lib.sh"
shim=${2:?usage: $0 PROGRAM SHIM}
file=$E2E_DATA/Folder.dnt
touch "$E2E_DATA/a.txt"
printf '[ThisFolder]\r\nText0=kept\r\n[Files]\r\n' >"$file"
cp "$file" "$E2E_ROOT/before"

# (A sanitizer build would refuse a library loaded before its own runtime.)
E2E_RUN_AS=(env LD_PRELOAD="$shim" DN_FULL_DISK_AFTER=0 ASAN_OPTIONS="${ASAN_OPTIONS:-}:verify_asan_link_order=0")
e2e_start "$E2E_DATA"
e2e_key alt+f
e2e_type "typed onto a full disk"
e2e_key Tab
e2e_error_box "Unable to write to $file: No space left on device"
e2e_alive "$E2E_PID" || fail "the program ended"
cmp -s "$E2E_ROOT/before" "$file" || fail "Folder.dnt changed: $(cat -A "$file")"
[ "$(ls -A "$E2E_DATA")" = $'Folder.dnt\na.txt' ] || fail "the folder holds more: $(ls -A "$E2E_DATA")"
echo "a commit onto a full disk was reported, nothing changed, the program runs on"

# F5 drops the text that cannot be stored; the size cannot be stored either.
e2e_focus "$E2E_WINDOW"
e2e_key F5 alt+c
e2e_error_box "Unable to write to $E2E_REGISTRY: No space left on device"
e2e_expect_exit "$E2E_PID" 0
cmp -s "$E2E_ROOT/before" "$file" || fail "Folder.dnt changed at the close"
echo "closing reported the size that could not be stored and ended"
