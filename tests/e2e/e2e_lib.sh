# Shared by the end-to-end tests: a private virtual display and private user folders. Every wait
# is bounded, and every process started here ends with the test, however it ends.
set -euo pipefail

E2E_ROOT=$(mktemp -d)
export HOME=$E2E_ROOT/home XDG_CONFIG_HOME=$E2E_ROOT/config XDG_DATA_HOME=$E2E_ROOT/data \
       XDG_RUNTIME_DIR=$E2E_ROOT/runtime XDG_CACHE_HOME=$E2E_ROOT/cache
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$XDG_CACHE_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DISPLAY
E2E_PIDS=()

# Runs a command in the background so that it also ends should this script be killed outright
# (no trap runs then); its pid goes into E2E_PIDS.
e2e_spawn() {
  setpriv --pdeathsig KILL -- "$@" &
  E2E_PIDS+=($!)
}

# e2e_poll SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds; fails after SECONDS.
e2e_poll() {
  local tries=$(($1 * 10))
  shift
  while ! "$@" 2>/dev/null; do
    tries=$((tries - 1))
    [ "$tries" -gt 0 ] || return 1
    sleep 0.1
  done
}

# A process that ended but was not yet waited for counts as gone.
e2e_alive() {
  local state
  state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null) || return 1
  [ "${state:0:1}" != Z ]
}
e2e_gone() { ! e2e_alive "$1"; }

# Ends one process: politely first, by force after 5 s.
e2e_end() {
  kill "$1" 2>/dev/null || return 0
  e2e_poll 5 e2e_gone "$1" || kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

e2e_cleanup() {
  local status=$? i
  trap - EXIT INT TERM ERR
  if [ "$status" -ne 0 ] && [ -s "$E2E_ROOT/xvfb.log" ]; then
    echo "Xvfb said:" >&2
    cat "$E2E_ROOT/xvfb.log" >&2
  fi
  # The latest first: the program before the display it draws on.
  for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do e2e_end "${E2E_PIDS[i]}"; done
  rm -rf "$E2E_ROOT"
  exit "$status"
}
trap e2e_cleanup EXIT
trap 'echo "failed at line $LINENO: $BASH_COMMAND" >&2' ERR
trap 'exit 130' INT
trap 'exit 143' TERM

# Starts Xvfb on a display number it picks itself (free of other X servers, with no race
# between looking and taking) and exports DISPLAY once the server accepts connections.
e2e_start_display() {
  local number_file=$E2E_ROOT/display
  : >"$number_file"
  e2e_spawn Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number_file" \
    >"$E2E_ROOT/xvfb.log" 2>&1
  local xvfb=${E2E_PIDS[-1]}
  if ! e2e_poll 10 grep -qx '[0-9][0-9]*' "$number_file"; then
    echo "no virtual display could be started:" >&2
    e2e_alive "$xvfb" || echo "Xvfb ended" >&2
    cat "$E2E_ROOT/xvfb.log" >&2
    return 1
  fi
  export DISPLAY=":$(head -n 1 "$number_file")"
}

# xdotool, which cannot hang the test on a stuck display.
e2e_xdo() { timeout 10 xdotool "$@"; }

# Waits until a window whose name matches is mapped; prints its id (nothing after 20 s).
e2e_wait_window() {
  timeout 20 xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true
}

# Gives the window the keyboard focus and waits until it has it.
e2e_focus_window() {
  e2e_xdo windowactivate "$1" 2>/dev/null || e2e_xdo windowfocus "$1" 2>/dev/null || true
  e2e_poll 5 e2e_has_focus "$1"
}
e2e_has_focus() { [ "$(e2e_xdo getwindowfocus 2>/dev/null)" = "$1" ]; }

# e2e_wait_file_contains SECONDS FILE TEXT: waits until FILE holds TEXT.
e2e_wait_file_contains() {
  e2e_poll "$1" grep -aqF -- "$3" "$2"
}
