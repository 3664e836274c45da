#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The window's size is kept across runs: closing stores the outer size (the client size plus the
# design's 8 x 27 frame) in the settings file, and the next start opens at it.
# Usage: window_size.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
client_size() { xwininfo -id "$E2E_WINDOW" | awk '/-geometry/ {sub(/\+.*/, "", $2); print $2}'; }
stored() { printf '"MainWidth"=dword:%08x\n"MainHeight"=dword:%08x' "$1" "$2"; }
stored_size() { grep -a '"Main\(Width\|Height\)"' "$E2E_REGISTRY" | tr -d '\r'; }

# The designed size first, then the one a person dragged it to.
e2e_start "$E2E_DATA"
[ "$(client_size)" = 445x449 ] || fail "the first start opened at $(client_size), not 445x449"
e2e_close
[ "$(stored_size)" = "$(stored 453 476)" ] || fail "closing stored $(stored_size), not 453 x 476"

e2e_start "$E2E_DATA"
e2e_xdo windowsize "$E2E_WINDOW" 610 520
e2e_poll 10 eval '[ "$(client_size)" = 610x520 ]' || fail "the window was not resized: $(client_size)"
e2e_close
[ "$(stored_size)" = "$(stored 618 547)" ] || fail "closing stored $(stored_size), not 618 x 547"

e2e_start "$E2E_DATA"
[ "$(client_size)" = 610x520 ] || fail "the next start opened at $(client_size), not 610x520"
echo "the size 610 x 520 was kept across runs"
e2e_close
