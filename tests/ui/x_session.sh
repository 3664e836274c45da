# Sourced by the tests that drive the real program in a virtual X display, as a person would.
# It gives the test private HOME and XDG folders under $root, a display of its own, helpers, and
# a cleanup that ends every process whose id the test adds to pids and removes $root.
set -euo pipefail

root=$(mktemp -d)
export HOME=$root/home XDG_CONFIG_HOME=$root/config XDG_DATA_HOME=$root/data \
       XDG_RUNTIME_DIR=$root/runtime XDG_CACHE_HOME=$root/cache
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$XDG_CACHE_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$root"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; exit 1; }

# A display of our own: Xvfb picks a free number and tells it.
exec {displayfd}<> <(:)
Xvfb -displayfd "$displayfd" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
read -r -t 20 -u "$displayfd" number || fail "no virtual display"
export DISPLAY=":$number"

# Polls a condition for up to 20 seconds.
wait_for() {
  local i
  for i in $(seq 1 400); do
    if eval "$1"; then return 0; fi
    sleep 0.05
  done
  return 1
}
# Top-level windows named exactly NAME, as "id geometry" lines.
windows_named() {
  xwininfo -root -tree 2>/dev/null | awk -v name="\"$1\":" '$2 == name && $0 !~ /\(\)/ {print $1, $(NF-1)}'
}
# The program's main window (not its splash, which is 341 pixels wide), if it is shown.
main_window() { xdotool search --onlyvisible --name '^DirNote$' 2>/dev/null | while read -r id; do
  geometry=$(xwininfo -id "$id" 2>/dev/null | awk '/-geometry/ {print $2}')
  case $geometry in 341x*) ;; *) echo "$id"; break ;; esac
done; }
# The first shown window titled exactly TITLE, if any.
shown_window() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
