#!/usr/bin/env bash
# The real program in a virtual X display, driven as a person would: the splash comes and goes,
# the main window opens centred at its stored size, a second start hands its folder over and
# ends, the window menu's About item opens the About box and Esc closes it, and closing stores
# the size. Usage: program_window.sh PROGRAM [SCREENSHOT]
program=$1
screenshot=${2:-}
. "$(dirname "${BASH_SOURCE[0]}")/x_session.sh"

folder=$root/Start
other=$root/Other
mkdir -p "$folder/Sub" "$other"
for i in 1 2 3; do echo "$i" > "$folder/file$i.txt"; done
registry=$XDG_CONFIG_HOME/KER-MOSS/HKEY_CURRENT_USER.reg

# 1. The splash shows while the window is built, then goes: the display's log of windows made,
# mapped and destroyed tells, however short the splash was up.
events=$root/events
xev -root -event substructure > "$events" 2>/dev/null &
pids+=($!)
sleep 0.3
"$program" "$folder" &
first=$!
pids+=($first)
wait_for '[ -n "$(main_window)" ]' || fail "the main window did not appear"
window=$(main_window)
# The splash: the first window shown that is not the main window.
main_hex=$(printf '0x%x' "$window")
splash=$(grep -A1 MapNotify "$events" | grep -o 'window 0x[0-9a-f]*, override' | awk '{print $2}' | tr -d , \
         | grep -vx "$main_hex" | head -n 1)
[ -n "$splash" ] || fail "no splash was shown"
wait_for 'grep -A1 DestroyNotify "$events" | grep -Eq "window $splash(,|$)"' || fail "the splash stayed"
echo "splash $splash shown and gone"

# 2. Centred at the designed size.
geometry=$(xwininfo -id "$window" | awk '/-geometry/ {print $2}')
[ "$geometry" = "445x449+285+146" ] || fail "main window at $geometry, not 445x449+285+146"
[ -f "$folder/Folder.dnt" ] || fail "the start folder was not listed"
if [ -n "$screenshot" ]; then
  sleep 0.5
  import -window root -crop 445x449+285+146 "$screenshot"
fi

# 3. A second start hands its folder over and ends at once.
started=$(date +%s%N)
"$program" "$other" || fail "the second start ended with $?"
elapsed=$(( ($(date +%s%N) - started) / 1000000 ))
echo "second start ended after $elapsed ms"
[ "$elapsed" -lt 1000 ] || fail "the second start took $elapsed ms"
[ -f "$other/Folder.dnt" ] || fail "the running window did not list the handed folder"
[ "$(windows_named DirNote | grep -vc ' 1x1')" -ge 1 ] || fail "no main window any more"

# 4. The window menu's About item opens the About box; Esc closes it.
xdotool windowfocus --sync "$window" 2>/dev/null || true
visible=$(xdotool search --onlyvisible --class dirnote 2>/dev/null | wc -l)
xdotool mousemove --window "$window" 12 10 click 3
wait_for '[ "$(xdotool search --onlyvisible --class dirnote 2>/dev/null | wc -l)" -gt "$visible" ]' \
  || fail "no window menu on a right click beside the folder label"
xdotool key Up Return
wait_for '[ -n "$(xdotool search --onlyvisible --name "^About - DirNote$" 2>/dev/null)" ]' \
  || fail "the About box did not open"
about=$(xdotool search --onlyvisible --name '^About - DirNote$' | head -n 1)
xdotool windowfocus --sync "$about" 2>/dev/null || true
xdotool key Escape
wait_for '[ -z "$(xdotool search --onlyvisible --name "^About - DirNote$" 2>/dev/null)" ]' \
  || fail "Esc did not close the About box"
echo "About box opened from the window menu and closed with Esc"

# 5. Closing stores the outer size; a size in the settings file is used at the next start.
xdotool windowfocus --sync "$window" 2>/dev/null || true
xdotool key alt+c
wait_for '! kill -0 $first 2>/dev/null' || fail "Alt+C did not close the window"
grep -q '"MainWidth"=dword:000001c5' "$registry" || fail "MainWidth 453 not stored: $(cat "$registry")"
grep -q '"MainHeight"=dword:000001dc' "$registry" || fail "MainHeight 476 not stored"
sed -i 's/"MainWidth"=dword:000001c5/"MainWidth"=dword:00000258/; s/"MainHeight"=dword:000001dc/"MainHeight"=dword:000001f4/' "$registry"
"$program" "$folder" &
again=$!
pids+=($again)
wait_for '[ -n "$(main_window)" ]' || fail "the main window did not open again"
window=$(main_window)
geometry=$(xwininfo -id "$window" | awk '/-geometry/ {print $2}')
[ "${geometry%%+*}" = "592x473" ] || fail "a stored 600 x 500 gave $geometry"
echo "stored size 600 x 500 applied: $geometry"
kill "$again"; wait "$again" 2>/dev/null || true

# 6. A setting the start cannot read ends it with an "Application Error" box and exit code 1.
printf '\r\n[HKEY_CURRENT_USER\\Software\\KER-MOSS]\r\n"SplashEnabled"="yes"\r\n' >> "$registry"
"$program" "$folder" &
failing=$!
pids+=($failing)
wait_for '[ -n "$(xdotool search --onlyvisible --name "^Application Error$" 2>/dev/null)" ]' \
  || fail "no Application Error box for a SplashEnabled text"
[ -z "$(main_window)" ] || fail "the main window opened although the start failed"
box=$(xdotool search --onlyvisible --name '^Application Error$' | head -n 1)
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key Return
status=0
wait "$failing" || status=$?
[ "$status" -eq 1 ] || fail "the failed start ended with $status, not 1"
echo "Application Error shown, exit code 1"
echo "all checks passed"
