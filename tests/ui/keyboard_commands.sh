#!/usr/bin/env bash
# The keyboard commands in the real program in a virtual X display, with the keys a person
# presses: Ctrl+Enter goes into a subfolder and Ctrl+Backspace back, Ctrl+Delete deletes a file
# at once, and Ctrl+Delete on a folder asks first and, answered with Enter ("&Yes"), puts the
# folder into the desktop trash. Usage: keyboard_commands.sh PROGRAM
program=$1
. "$(dirname "${BASH_SOURCE[0]}")/x_session.sh"

folder=$root/Start
mkdir -p "$folder/Sub/Inner"
echo inside > "$folder/Sub/inside.txt"
for i in 1 2; do echo "$i" > "$folder/file$i.txt"; done
files_left() { find "$folder" -maxdepth 1 -name 'file*.txt' | wc -l; }

"$program" "$folder" &
pids+=($!)
wait_for '[ -n "$(main_window)" ]' || fail "the main window did not appear"
window=$(main_window)
xdotool windowfocus --sync "$window" 2>/dev/null || true
wait_for '[ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ]' || fail "the main window did not take the focus"
[ -f "$folder/Folder.dnt" ] || fail "the start folder was not listed"

# 1. The folder table has the focus: Ctrl+Enter lists Sub, Ctrl+Backspace its parent again.
xdotool key ctrl+Return
wait_for '[ -f "$folder/Sub/Folder.dnt" ]' || fail "Ctrl+Enter did not list the subfolder"
echo "Ctrl+Enter listed the subfolder"
xdotool key ctrl+BackSpace

# 2. Ctrl+Tab to the file table, Ctrl+Delete: one file of the start folder goes at once, which
# also shows that Ctrl+Backspace went back (in Sub it would have taken inside.txt).
xdotool key ctrl+Tab ctrl+Delete
wait_for '[ "$(files_left)" -eq 1 ]' || fail "Ctrl+Delete did not delete a file of the start folder"
[ -f "$folder/Sub/inside.txt" ] || fail "a file of the subfolder was deleted"
[ -z "$(shown_window Confirm)" ] || fail "deleting a file asked a question"
[ -z "$(ls -A "$XDG_DATA_HOME/Trash/files" 2>/dev/null)" ] || fail "the deleted file went to the trash"
echo "Ctrl+Backspace went back; Ctrl+Delete deleted a file at once"

# 3. Ctrl+Tab back to the folder table, Ctrl+Delete: the question, answered with Enter.
xdotool key ctrl+Tab ctrl+Delete
wait_for '[ -n "$(shown_window Confirm)" ]' || fail "Ctrl+Delete on a folder asked nothing"
[ -d "$folder/Sub" ] || fail "the folder went before the answer"
box=$(shown_window Confirm)
xdotool windowfocus --sync "$box" 2>/dev/null || true
xdotool key Return
wait_for '[ ! -e "$folder/Sub" ]' || fail "answering Yes did not delete the folder"
[ -f "$XDG_DATA_HOME/Trash/files/Sub/inside.txt" ] || fail "the folder is not in the trash"
[ -f "$XDG_DATA_HOME/Trash/info/Sub.trashinfo" ] || fail "the trash has no .trashinfo for the folder"
wait_for '[ -z "$(shown_window Confirm)" ]' || fail "the question stayed open"
echo "Ctrl+Delete on a folder asked, and Enter put it into the trash"
echo "all checks passed"
