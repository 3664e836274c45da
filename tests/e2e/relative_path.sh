#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Relative paths, as a user types them in a terminal: the first start lists the folder by its
# whole path, so Ctrl+Backspace reaches its parent; a second start in another folder hands over
# the folder it names there, not the one of the same name beside the running window.
# Usage: relative_path.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
mkdir -p "$E2E_DATA/Projects/alpha" "$E2E_DATA/Other/alpha"

cd "$E2E_DATA/Projects"
e2e_start alpha
e2e_poll 10 test -f "$E2E_DATA/Projects/alpha/Folder.dnt" || fail "the first start did not list alpha"
e2e_key ctrl+BackSpace
e2e_poll 10 test -f "$E2E_DATA/Projects/Folder.dnt" || fail "Ctrl+Backspace did not reach the parent of alpha"
echo "the relative first start has a parent"

cd "$E2E_DATA/Other"
e2e_hand_over alpha
[ ! -f "$E2E_DATA/Other/Folder.dnt" ] || fail "the second start listed the folder it was typed in"
echo "the relative second start handed over the folder it names where it was typed"
cd "$E2E_ROOT"
e2e_close
