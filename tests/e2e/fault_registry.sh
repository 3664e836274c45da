#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A settings file of garbage bytes is never overwritten: at the start the window's creation
# reports it and the window opens all the same; closing reports it again (the size cannot be
# stored) and the program ends. When the file goes bad while the program runs, closing reports it
# and the program still ends. The file keeps every byte. Usage: fault_registry.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
mkdir -p "$(dirname "$E2E_REGISTRY")"
head -c 4096 /dev/urandom >"$E2E_ROOT/garbage"
printf '\0' >>"$E2E_ROOT/garbage"
expected="The settings file $E2E_REGISTRY cannot be read"

cp "$E2E_ROOT/garbage" "$E2E_REGISTRY"
e2e_spawn "$E2E_PROGRAM" "$E2E_DATA" 2>>"$E2E_LOG"
E2E_PID=${E2E_PIDS[-1]}
E2E_WINDOW=
e2e_error_box "$expected"
e2e_await E2E_WINDOW 20 e2e_main_window "$E2E_PID" || fail "the window did not open after the report"
e2e_focus "$E2E_WINDOW"
e2e_key alt+c
e2e_error_box "$expected"
e2e_expect_exit "$E2E_PID" 0
cmp -s "$E2E_ROOT/garbage" "$E2E_REGISTRY" || fail "the start changed the settings file"
echo "at the start: reported, the window opened and closed, the file kept"

rm "$E2E_REGISTRY"
: >"$E2E_LOG"
e2e_start "$E2E_DATA"
cp "$E2E_ROOT/garbage" "$E2E_REGISTRY"
e2e_key alt+c
e2e_error_box "$expected"
e2e_expect_exit "$E2E_PID" 0
cmp -s "$E2E_ROOT/garbage" "$E2E_REGISTRY" || fail "closing changed the settings file"
echo "while running: closing reported it and ended, the file kept"
