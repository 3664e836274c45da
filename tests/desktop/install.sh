#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a desktop reads from there: the
# program, a valid menu entry, the icon at every size, a valid MIME type, and that the MIME
# database built from it gives Folder.dnt (in any letter case, as the program accepts it) the
# type application/x-dirnote.
# Usage: install.sh BUILD_DIR MIME_SCHEMA MIME_LOOKUP
set -uo pipefail
BUILD=$1
SCHEMA=$2
LOOKUP=$3
# Exit code 77 is reported by CTest as skipped.
for tool in desktop-file-validate xmllint update-mime-database file; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool is missing (scripts/setup.sh installs it)"; exit 77; }
done

PREFIX=$(mktemp -d)
trap 'rm -rf "$PREFIX"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null || { echo "FAIL: cmake --install" >&2; exit 1; }

SIZES=(16 32 48 64 128 256)
DESKTOP=$PREFIX/share/applications/dirnote.desktop
MIME=$PREFIX/share/mime/packages/dirnote.xml
SVG=$PREFIX/share/icons/hicolor/scalable/apps/dirnote.svg
[ -f "$PREFIX/bin/dirnote" ] && [ -x "$PREFIX/bin/dirnote" ] || fail "bin/dirnote missing or not executable"
for f in "$DESKTOP" "$MIME" "$SVG"; do
  [ -f "$f" ] || fail "not installed: ${f#"$PREFIX"/}"
done
for size in "${SIZES[@]}"; do
  png=$PREFIX/share/icons/hicolor/${size}x${size}/apps/dirnote.png
  file -b "$png" | grep -q "^PNG image data, $size x $size," || fail "${png#"$PREFIX"/} is not a $size x $size PNG: $(file -b "$png" 2>&1)"
done
xmllint --noout "$SVG" || fail "the SVG icon is not well-formed"

# dnt beside it, with its man page made from the same text as its --help.
[ -f "$PREFIX/bin/dnt" ] && [ -x "$PREFIX/bin/dnt" ] || fail "bin/dnt missing or not executable"
MAN1=$PREFIX/share/man/man1/dnt.1
[ -f "$MAN1" ] || fail "not installed: share/man/man1/dnt.1"
if command -v groff >/dev/null; then
  # Justified lines may hold runs of spaces.
  rendered=$(groff -man -Tutf8 -P-cbou "$MAN1" 2>&1 | tr -s ' ') || fail "groff cannot render dnt.1"
  # Each item of --help, by its first three words (a long line may wrap in the page).
  while read -r first second third _; do
    item=$first${second:+ $second}${third:+ $third}
    grep -qF -- "$item" <<<"$rendered" || fail "dnt.1 lacks the help's item: $item"
  done < <("$PREFIX/bin/dnt" --help | sed -n 's/^  \([a-z-]\)/\1/p')
fi

# The menu entry: valid (errors, warnings and hints all count), and naming what was installed.
report=$(desktop-file-validate "$DESKTOP" 2>&1) || fail "desktop-file-validate failed"
[ -z "$report" ] || fail "desktop-file-validate: $report"
for line in 'Type=Application' 'Name=DirNote' 'Icon=dirnote' 'Exec=dirnote %f' 'Terminal=false' \
            'MimeType=inode/directory;application/x-dirnote;'; do
  grep -qxF "$line" "$DESKTOP" || fail "dirnote.desktop lacks the line: $line"
done
grep -q '^Comment=.' "$DESKTOP" || fail "dirnote.desktop has no Comment"
grep -q '^Categories=.' "$DESKTOP" || fail "dirnote.desktop has no Categories"

# The MIME type: well-formed and of the package format's structure.
xmllint --noout --relaxng "$SCHEMA" "$MIME" || fail "dirnote.xml does not validate"

# The database built from it, looked up as the freedesktop.org rules say: a case-sensitive
# literal matches the name as it is, any other literal the name in lower case.
update-mime-database "$PREFIX/share/mime" 2>/dev/null || fail "update-mime-database failed"
GLOBS2=$PREFIX/share/mime/globs2
type_of() {
  local name=$1 lower
  lower=$(printf '%s' "$name" | tr '[:upper:]' '[:lower:]')
  awk -F: -v name="$name" -v lower="$lower" '
    /^#/ { next }
    ($4 ~ /(^|,)cs(,|$)/ && $3 == name) || ($4 !~ /(^|,)cs(,|$)/ && $3 == lower) { print $2; exit }
  ' "$GLOBS2"
}
for name in Folder.dnt folder.dnt FOLDER.DNT folder.DNT; do
  type=$(type_of "$name")
  [ "$type" = application/x-dirnote ] || fail "$name has the type '${type}', expected application/x-dirnote"
done
for name in Folder.dnt.bak XFolder.dnt; do
  type=$(type_of "$name")
  [ -z "$type" ] || fail "$name has the type '$type', expected none"
done

# The same names through Qt's reading of the database, with this prefix's types in front of the
# system's (the system's own text/plain and the like stay in effect).
mkdir -p "$PREFIX/empty-home"
mapfile -t qt_types < <(XDG_DATA_HOME=$PREFIX/empty-home XDG_DATA_DIRS=$PREFIX/share:/usr/local/share:/usr/share \
                        "$LOOKUP" Folder.dnt FOLDER.DNT notes.txt)
[ "${qt_types[*]:-}" = "application/x-dirnote application/x-dirnote text/plain" ] ||
  fail "Qt gives Folder.dnt, FOLDER.DNT, notes.txt the types '${qt_types[*]:-}'"

[ "$failures" -eq 0 ] || exit 1
echo "installed, validated and mapped"
