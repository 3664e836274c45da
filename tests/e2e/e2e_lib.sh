# Shared by the end-to-end tests: a private virtual display and private user folders.
set -euo pipefail

E2E_ROOT=$(mktemp -d)
export HOME=$E2E_ROOT/home XDG_CONFIG_HOME=$E2E_ROOT/config XDG_DATA_HOME=$E2E_ROOT/data \
       XDG_RUNTIME_DIR=$E2E_ROOT/runtime XDG_CACHE_HOME=$E2E_ROOT/cache
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$XDG_CACHE_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
E2E_PIDS=()

e2e_cleanup() {
  local pid
  for pid in "${E2E_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$E2E_ROOT"
}
trap e2e_cleanup EXIT

# Starts Xvfb on the first free display number and exports DISPLAY.
e2e_start_display() {
  local n
  for n in $(seq 90 140); do
    [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    E2E_PIDS+=($!)
    export DISPLAY=":$n"
    for _ in $(seq 1 50); do
      xdotool getmouselocation >/dev/null 2>&1 && return 0
      sleep 0.1
    done
  done
  echo "no virtual display could be started" >&2
  return 1
}

# Waits until a window whose name matches is mapped; prints its id.
e2e_wait_window() {
  timeout 20 xdotool search --sync --onlyvisible --name "$1" | head -n 1
}
