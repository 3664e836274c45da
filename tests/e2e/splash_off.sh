#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The splash is switched off in the settings file, by the program's own value or by the maker's
# general one: the main window is the first window the program shows.
# Usage: splash_off.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
for key in 'KER-MOSS\DirNote' 'KER-MOSS'; do
  mkdir -p "$(dirname "$E2E_REGISTRY")"
  printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\%s]\r\n"SplashEnabled"=dword:00000000\r\n' "$key" >"$E2E_REGISTRY"
  e2e_watch_windows
  e2e_start "$E2E_DATA"
  [ -z "$(e2e_mapped_before "$E2E_WINDOW")" ] || fail "with SplashEnabled 0 under $key a window came before the main window"
  echo "SplashEnabled 0 under $key: no splash"
  e2e_close
done
