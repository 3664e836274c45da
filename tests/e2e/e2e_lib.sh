# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by every end-to-end test, with the program as the first argument: a private virtual X
# display, private HOME and XDG folders under $E2E_ROOT, and the steps a person takes (start the
# program, wait for its window, type, answer a box, close). Every wait is bounded, and every
# process started here ends with the test, however the test ends.
set -eEuo pipefail

E2E_PROGRAM=${1:?usage: $0 PROGRAM}
E2E_ROOT=$(mktemp -d)
export HOME=$E2E_ROOT/home XDG_CONFIG_HOME=$E2E_ROOT/config XDG_DATA_HOME=$E2E_ROOT/data \
       XDG_RUNTIME_DIR=$E2E_ROOT/runtime XDG_CACHE_HOME=$E2E_ROOT/cache
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_RUNTIME_DIR" "$XDG_CACHE_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY DISPLAY
# No session bus: the user's own stays out of the test, and the library does not start one for
# the display (that attempt leaks memory, which a sanitizer build reports at the exit).
export DBUS_SESSION_BUS_ADDRESS=unix:path=$E2E_ROOT/no-session-bus
# The settings file of this test's user, and the folder a test keeps its data in.
E2E_REGISTRY=$XDG_CONFIG_HOME/KER-MOSS/HKEY_CURRENT_USER.reg
E2E_DATA=$E2E_ROOT/work
mkdir -p "$E2E_DATA"
# The program's standard error: every error box it shows is written there too.
E2E_LOG=$E2E_ROOT/program.log
: >"$E2E_LOG"
# Prefixed to the program's command line; e2e_as_nobody fills it.
E2E_RUN_AS=()
E2E_PIDS=()

fail() {
  echo "FAILED: $*" >&2
  [ -z "${E2E_XVFB:-}" ] || e2e_alive "$E2E_XVFB" || echo "(the virtual display had ended)" >&2
  exit 1
}

# Runs a command in the background so that it also ends should this script be killed outright
# (no trap runs then); its pid goes into E2E_PIDS. E2E_TAG marks it and whatever it starts, so
# that the cleanup finds anything left behind.
e2e_spawn() {
  E2E_TAG=$E2E_ROOT setpriv --pdeathsig KILL -- "$@" &
  E2E_PIDS+=($!)
}

# e2e_poll SECONDS COMMAND...: runs COMMAND every 0.05 s until it succeeds; fails after SECONDS.
e2e_poll() {
  local deadline=$((SECONDS + $1))
  shift
  until "$@" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

# e2e_await VARIABLE SECONDS COMMAND...: runs COMMAND every 0.05 s until it succeeds and prints
# something, which goes into VARIABLE; fails after SECONDS. (A search of the display's windows
# fails now and then when a window vanishes during it; one that succeeded is taken as it was.)
e2e_await() {
  local -n e2e_await_result=$1
  local deadline=$((SECONDS + $2))
  shift 2
  until e2e_await_result=$("$@" 2>/dev/null) && [ -n "$e2e_await_result" ]; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.05
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

# Processes still marked as started by this test.
e2e_leftovers() {
  grep -lsxzF "E2E_TAG=$E2E_ROOT" /proc/[0-9]*/environ | cut -d/ -f3 || true
}
e2e_no_leftovers() { [ -z "$(e2e_leftovers)" ]; }

e2e_cleanup() {
  local status=$? i pid
  trap - EXIT INT TERM ERR
  if [ "$status" -ne 0 ]; then
    [ -s "$E2E_LOG" ] && { echo "the program said:" >&2; cat "$E2E_LOG" >&2; }
    [ -s "$E2E_ROOT/xvfb.log" ] && { echo "Xvfb said:" >&2; cat "$E2E_ROOT/xvfb.log" >&2; }
  fi
  # The latest first: the program before the display it draws on.
  for ((i = ${#E2E_PIDS[@]} - 1; i >= 0; i--)); do e2e_end "${E2E_PIDS[i]}"; done
  # Anything else this test started (a child of the program) is a fault of the program.
  if ! e2e_poll 5 e2e_no_leftovers; then
    for pid in $(e2e_leftovers); do
      echo "FAILED: left behind: $pid $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)" >&2
      kill -KILL "$pid" 2>/dev/null || true
    done
    [ "$status" -ne 0 ] || status=1
  fi
  rm -rf "$E2E_ROOT"
  exit "$status"
}
trap e2e_cleanup EXIT
# Inside functions too (set -E), but not in the subshells of $(...), where a probe may fail.
trap '[ "$BASHPID" != $$ ] || echo "failed at line $LINENO: $BASH_COMMAND" >&2' ERR
trap 'exit 130' INT
trap 'exit 143' TERM

# Starts Xvfb on a display number it picks itself (free of other X servers, with no race
# between looking and taking) and exports DISPLAY once the server accepts connections. Without
# -noreset the server resets whenever its last client leaves (a probe, a window search) and
# refuses whoever connects meanwhile.
e2e_start_display() {
  local number_file=$E2E_ROOT/display
  : >"$number_file"
  e2e_spawn Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$number_file" \
    >"$E2E_ROOT/xvfb.log" 2>&1
  E2E_XVFB=${E2E_PIDS[-1]}
  e2e_poll 10 grep -qx '[0-9][0-9]*' "$number_file" || fail "no virtual display could be started"
  export DISPLAY=":$(head -n 1 "$number_file")"
  e2e_poll 10 xprop -root _E2E_NONE >/dev/null || fail "the virtual display $DISPLAY refuses clients"
}

# xdotool, which cannot hang the test on a stuck display.
e2e_xdo() { timeout 10 xdotool "$@"; }

# Shown windows titled exactly TITLE (of process PID when given), one id a line.
e2e_windows() {
  local pid=()
  [ -n "${2:-}" ] && pid=(--pid "$2")
  e2e_xdo search --onlyvisible "${pid[@]}" --name "^$1\$" 2>/dev/null || true
}
# The first shown window titled exactly TITLE; fails while there is none.
e2e_window() {
  local id
  id=$(e2e_windows "$@" | head -n 1)
  [ -n "$id" ] && echo "$id"
}
e2e_no_window() { [ -z "$(e2e_windows "$@")" ]; }

# The main window of process PID: its top-level window of the normal type alone (the splash and
# the boxes bear the same title; the splash lists the normal type after its own).
e2e_main_window() {
  local id
  for id in $(e2e_windows DirNote "$1"); do
    if timeout 5 xprop -id "$id" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -qx '.* = _NET_WM_WINDOW_TYPE_NORMAL'; then
      echo "$id"
      return 0
    fi
  done
  return 1
}

# Gives a window the keyboard focus and waits until it has it.
# (A window just mapped may refuse it once, so it is asked again until it has it.)
e2e_has_focus() { [ "$(e2e_xdo getwindowfocus 2>/dev/null)" = "$1" ]; }
e2e_take_focus() { e2e_has_focus "$1" || { e2e_xdo windowfocus "$1" && e2e_has_focus "$1"; }; }
# The same for the window titled TITLE, which is looked up afresh each time (a toolkit may
# replace a window it has just shown by a new one).
e2e_take_focus_of() {
  local id
  id=$(e2e_window "$1") && e2e_take_focus "$id"
}
e2e_focus() {
  e2e_poll 5 e2e_take_focus "$1" \
    || fail "window $1 did not get the keyboard focus (window $(e2e_xdo getwindowfocus) has it): $(xwininfo -id "$1" 2>&1 | grep -E 'Map State|geometry|xwininfo')"
}

# e2e_start ARGUMENT...: starts the program (E2E_PID), waits for its main window (E2E_WINDOW)
# and gives that the focus.
e2e_start() {
  e2e_spawn "${E2E_RUN_AS[@]}" "$E2E_PROGRAM" "$@" 2>>"$E2E_LOG"
  E2E_PID=${E2E_PIDS[-1]}
  e2e_await E2E_WINDOW 20 e2e_main_window "$E2E_PID" || fail "the main window did not appear"
  e2e_focus "$E2E_WINDOW"
}

# e2e_expect_exit PID CODE: waits until the process PID has ended, with exit code CODE.
e2e_expect_exit() {
  local status=0
  e2e_poll 10 e2e_gone "$1" || fail "the program ($1) did not end"
  wait "$1" || status=$?
  [ "$status" -eq "$2" ] || fail "the program ended with exit code $status, not $2"
}

# Closes the main window with its Close button (Alt+C) and waits until the program has ended.
e2e_close() {
  e2e_focus "$E2E_WINDOW"
  e2e_key alt+c
  e2e_expect_exit "$E2E_PID" 0
}

# e2e_hand_over FOLDER: a second start on FOLDER, which must end with exit code 0 (after
# E2E_ELAPSED ms) while the running program lists FOLDER (its Folder.dnt appears) and runs on.
e2e_hand_over() {
  local started status=0
  started=$(date +%s%N)
  E2E_TAG=$E2E_ROOT timeout 20 "$E2E_PROGRAM" "$1" 2>>"$E2E_LOG" || status=$?
  E2E_ELAPSED=$((($(date +%s%N) - started) / 1000000))
  [ "$status" -eq 0 ] || fail "the second start ended with exit code $status"
  e2e_poll 10 test -f "$1/Folder.dnt" || fail "the running window did not list the handed folder"
  e2e_alive "$E2E_PID" || fail "the first instance ended"
}

# The keys and text a person presses, into whatever has the focus.
e2e_key() { e2e_xdo key "$@"; }
e2e_type() { e2e_xdo type --delay 2 "$1"; }

# e2e_wait_file_contains SECONDS FILE TEXT: waits until FILE holds TEXT.
e2e_wait_file_contains() { e2e_poll "$1" grep -aqF -- "$3" "$2"; }

# e2e_answer TITLE KEY...: waits for the box titled TITLE, presses the keys in it and waits
# until it has gone.
e2e_answer() {
  local title=$1 box
  shift
  e2e_await box 10 e2e_window "$title" || fail "no box \"$title\" appeared"
  e2e_poll 5 e2e_take_focus_of "$title" || fail "the box \"$title\" did not get the keyboard focus"
  e2e_key "$@"
  e2e_poll 10 e2e_no_window "$title" || fail "the box \"$title\" stayed open"
}

# e2e_error_box TEXT: waits for the program's error box that says TEXT (its message is also
# written to standard error, which is where its words are read) and closes it with Enter.
e2e_error_boxes() {
  local w
  # Dialogs only: the splash, which a start may still show, carries the same name.
  for w in $(e2e_windows DirNote "$E2E_PID" | grep -vx "$E2E_WINDOW"); do
    xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q _NET_WM_WINDOW_TYPE_DIALOG && echo "$w"
  done
}
e2e_error_box() {
  local box
  e2e_poll 10 grep -qF -- "$1" "$E2E_LOG" || fail "no error said \"$1\""
  e2e_await box 10 e2e_error_boxes || fail "no error box appeared for \"$1\""
  e2e_screenshot error-box
  e2e_focus "$box"
  e2e_key Return
  e2e_poll 10 eval '[ -z "$(e2e_error_boxes)" ]' || fail "the error box stayed open"
  : >"$E2E_LOG"
}

# Logs the windows mapped and destroyed on the display from now on (E2E_MAPS, a new log at each
# call) and waits until the log runs: it has seen a property this test sets on the root window.
e2e_watch_windows() {
  E2E_MAPS=$(mktemp "$E2E_ROOT/maps.XXXX")
  e2e_spawn xev -root -event substructure -event property >"$E2E_MAPS" 2>&1
  e2e_poll 10 e2e_watch_sees_mark || fail "the window log did not start: $(head -c 300 "$E2E_MAPS")"
}
e2e_watch_sees_mark() {
  xprop -root -f _E2E_MARK 8s -set _E2E_MARK "$E2E_ROOT"
  grep -q _E2E_MARK "$E2E_MAPS"
}
# The windows mapped so far, oldest first, as hexadecimal ids.
e2e_mapped() { grep -A1 MapNotify "$E2E_MAPS" | sed -n 's/.*window \(0x[0-9a-f]*\), override.*/\1/p'; }
# e2e_mapped_before WINDOW: the windows mapped before WINDOW (once the log has its mapping).
e2e_mapped_before() {
  local hex
  hex=$(printf '0x%x' "$1")
  e2e_poll 10 eval 'e2e_mapped | grep -qx "$hex"' || fail "the window log missed window $hex"
  e2e_mapped | sed "/^$hex\$/,\$d"
}
e2e_destroyed() { grep -A1 DestroyNotify "$E2E_MAPS" | grep -Eq "window $1(,|\$)"; }

# A picture of the screen, when E2E_SCREENSHOTS names a folder to keep it in.
e2e_screenshot() {
  [ -n "${E2E_SCREENSHOTS:-}" ] || return 0
  import -window root "$E2E_SCREENSHOTS/$(basename "$0" .sh)-$1.png"
}

# Makes the program run as the unprivileged user nobody (the root user writes to any file, so
# a read-only file means nothing to it). Fails when the test cannot switch users.
e2e_as_nobody() {
  [ "$(id -u)" -eq 0 ] || return 0
  id nobody >/dev/null 2>&1 || return 1
  chown -R nobody: "$E2E_ROOT" || return 1
  chmod 711 "$E2E_ROOT"
  E2E_RUN_AS=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups --)
}

e2e_start_display
