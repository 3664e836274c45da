#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Peers of the hand-off socket that connect, send half a request and then hang, more of them
# than the window serves at once: a second start still hands its folder over and ends with exit
# code 0, and the running window lists that folder. Usage: fault_handoff_peer.sh PROGRAM
. "$(dirname "$0")/e2e_lib.sh"
mkdir -p "$E2E_DATA/First" "$E2E_DATA/Second"

e2e_start "$E2E_DATA/First"
e2e_await socket 10 eval 'ls "$XDG_RUNTIME_DIR"/qorprevinst-* | head -n 1' || fail "no hand-off socket"
e2e_spawn python3 -c '
import socket, sys, time
peers = []
for _ in range(40):
    peer = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    peer.connect(sys.argv[1])
    peer.send(b"\x00\x01")
    peers.append(peer)
print("hanging", flush=True)
time.sleep(600)
' "$socket" >"$E2E_ROOT/peers.log"
e2e_poll 10 grep -q hanging "$E2E_ROOT/peers.log" || fail "the hanging peers did not connect"

e2e_hand_over "$E2E_DATA/Second"
echo "with 40 hanging peers the second start ended after $E2E_ELAPSED ms"
e2e_close
