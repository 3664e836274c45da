#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a temporary prefix and checks what a desktop reads from there: the
# program, a valid menu entry, the icon at every size, a valid MIME type, and that the MIME
# database built from it gives Folder.dnt (in any letter case, as the program accepts it) the
# type application/x-dirnote.
# The program's German translation, the program's and dnt's manual pages, the licence and the
# change log are installed as a distribution ships them.
# Usage: install.sh BUILD_DIR MIME_SCHEMA MIME_LOOKUP VERSION
set -uo pipefail
BUILD=$1
SCHEMA=$2
LOOKUP=$3
VERSION=$4
. "$(dirname "${BASH_SOURCE[0]}")/support.sh"
need_tools desktop-file-validate xmllint update-mime-database file gzip dpkg-parsechangelog
install_build "$BUILD"

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
# The window's German, where bin/dirnote looks for it (../share/dirnote/translations).
qm=$PREFIX/share/dirnote/translations/dirnote_de.qm
[ -s "$qm" ] || fail "not installed: ${qm#"$PREFIX"/}"

# dnt beside it, with its man page made from the same text as its --help.
[ -f "$PREFIX/bin/dnt" ] && [ -x "$PREFIX/bin/dnt" ] || fail "bin/dnt missing or not executable"
# Manual pages are compressed at the highest level without a name or time stamp in the header.
for page in dnt dirnote; do
  gz=$PREFIX/share/man/man1/$page.1.gz
  [ -f "$gz" ] || { fail "not installed: share/man/man1/$page.1.gz"; continue; }
  gzip -t "$gz" || fail "$page.1.gz is no gzip file"
  [ "$(od -An -tx1 -j3 -N5 "$gz" | tr -d ' ')" = 0000000000 ] || fail "$page.1.gz holds a name or a time stamp"
done
[ ! -e "$PREFIX/share/man/man1/dnt.1" ] || fail "dnt.1 is installed uncompressed too"
render() { # the man page $1 as text; justified lines may hold runs of spaces
  gzip -dc "$PREFIX/share/man/man1/$1.1.gz" | groff -man -Tutf8 -P-cbou 2>&1 | tr -s ' '
}
if command -v groff >/dev/null; then
  rendered=$(render dnt) || fail "groff cannot render dnt.1"
  # Each item of --help, by its first three words (a long line may wrap in the page).
  while read -r first second third _; do
    item=$first${second:+ $second}${third:+ $third}
    grep -qF -- "$item" <<<"$rendered" || fail "dnt.1 lacks the help's item: $item"
  done < <("$PREFIX/bin/dnt" --help | sed -n 's/^  \([a-z-]\)/\1/p')
  # The program's page: what it is started with, its files, its environment and every key.
  rendered=$(render dirnote) || fail "groff cannot render dirnote.1"
  for item in SYNOPSIS 'dirnote [--] [FOLDER|FILE|PATH/Folder.dnt]' 'dirnote --help' KEYS FILES ENVIRONMENT Folder.dnt HKEY_CURRENT_USER.reg index.sqlite \
              XDG_CONFIG_HOME DIRNOTE_NO_INDEX "DirNote $VERSION" \
              Shift+F1 F5 Ctrl+Enter Ctrl+Backspace Ctrl+Delete Ctrl+Tab Ctrl+N Ctrl+F Ctrl+P; do
    grep -qF -- "$item" <<<"$rendered" || fail "dirnote.1 lacks: $item"
  done
fi

# The licence and the change log where Debian's tools look for them.
DOC=$PREFIX/share/doc/dirnote
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' "$DOC/copyright" ||
  fail "share/doc/dirnote/copyright is missing or not in the machine-readable format"
grep -qx 'License: GPL-3.0+' "$DOC/copyright" || fail "the copyright file names no GPL-3.0+ licence"
if gzip -t "$DOC/changelog.gz" 2>/dev/null; then
  log=$(gzip -dc "$DOC/changelog.gz")
  [ "$(dpkg-parsechangelog -l- -SVersion <<<"$log")" = "$VERSION" ] ||
    fail "the newest entry of changelog.gz is not version $VERSION: $(head -1 <<<"$log")"
  [ "$(dpkg-parsechangelog -l- -SSource <<<"$log")" = dirnote ] || fail "changelog.gz is not dirnote's"
  # The entries' lines; the signature line carries the maintainer's address as it is.
  long=$(awk '!/^ -- / && length > 80' <<<"$log")
  [ -z "$long" ] || fail "changelog.gz has lines over 80 columns: $long"
else
  fail "share/doc/dirnote/changelog.gz is missing or no gzip file"
fi

# The menu entry: valid (errors, warnings and hints all count), and naming what was installed.
report=$(desktop-file-validate "$DESKTOP" 2>&1) || fail "desktop-file-validate failed"
[ -z "$report" ] || fail "desktop-file-validate: $report"
for line in 'Type=Application' 'Name=DirNote' 'Icon=dirnote' 'Exec=dirnote %f' 'Terminal=false' \
            'MimeType=application/x-dirnote;'; do
  grep -qxF "$line" "$DESKTOP" || fail "dirnote.desktop lacks the line: $line"
done
# What a desktop makes of it: DirNote handles description files and never folders, so it cannot
# become the opener of every folder where no file manager claimed them.
if command -v update-desktop-database >/dev/null; then
  update-desktop-database "$PREFIX/share/applications" || fail "update-desktop-database failed"
  handled=$(sed -n 's/=.*dirnote\.desktop.*//p' "$PREFIX/share/applications/mimeinfo.cache" | sort | tr '\n' ' ')
  [ "$handled" = "application/x-dirnote " ] || fail "dirnote.desktop handles the types '$handled', expected application/x-dirnote only"
fi
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
