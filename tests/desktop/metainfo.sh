#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a temporary prefix and checks the AppStream metainfo there as a software
# centre reads it: valid under appstreamcli (no error, no warning), a reverse-domain id that still
# names the former id as provided, launching the installed menu entry,
# providing the file type, with the screenshot, and the project's version as its newest release,
# the same as CHANGELOG.md's newest entry.
# Usage: metainfo.sh BUILD_DIR VERSION CHANGELOG
set -uo pipefail
BUILD=$1
VERSION=$2
CHANGELOG=$3
. "$(dirname "${BASH_SOURCE[0]}")/support.sh"
need_tools appstreamcli xmllint
install_build "$BUILD"

META=$PREFIX/share/metainfo/org.example.dirnote.metainfo.xml
[ -f "$META" ] || { echo "FAIL: not installed: share/metainfo/org.example.dirnote.metainfo.xml" >&2; exit 1; }
status=0
report=$(appstreamcli validate --no-net --pedantic --format yaml "$META" 2>&1) || status=$?
# Each issue is a "tag:" line of the report with its "severity:" next to it.
issues=$(awk '/^- tag:/ { tag = $3 } /^  severity:/ { print $2 ": " tag }' <<<"$report" | grep -v '^pedantic: ')
[ -z "$issues" ] || fail "appstreamcli validate: $(tr '\n' ' ' <<<"$issues")"
[ "$status" -eq 0 ] || fail "appstreamcli validate failed (exit $status): $report"

value() { xmllint --xpath "$1" "$META" 2>/dev/null; }
id=$(value 'string(/component/id)')
launchable=$(value 'string(/component/launchable[@type="desktop-id"])')
# The file is named after the id, as centres look it up; the menu entry kept its name.
[ "$(basename "$META" .metainfo.xml)" = "$id" ] || fail "the file is not named after the id '$id'"
[ "$launchable" = dirnote.desktop ] || fail "the launched menu entry is '$launchable', not dirnote.desktop"
[ "$(value 'string(/component/provides/id)')" = dirnote ] || fail "the former id dirnote is not provided"
[ -f "$PREFIX/share/applications/$launchable" ] || fail "the launched menu entry '$launchable' is not installed"
[ "$(value 'string(/component/@type)')" = desktop-application ] || fail "not a desktop-application"
[ "$(value 'string(/component/provides/mediatype)')" = application/x-dirnote ] || fail "provides no application/x-dirnote"
[ -n "$(value 'string(/component/screenshots/screenshot[@type="default"]/image)')" ] || fail "no default screenshot"
[ "$(value 'string(/component/project_license)')" = GPL-3.0-or-later ] || fail "project_license is not GPL-3.0-or-later"

newest=$(value 'string(/component/releases/release[1]/@version)')
[ "$newest" = "$VERSION" ] || fail "the newest release is '$newest', the project's version is $VERSION"
heading=$(sed -n 's/^## \([^ ]*\) (\([0-9-]*\))$/\1 \2/p' "$CHANGELOG" | head -1)
[ "$heading" = "$VERSION $(value 'string(/component/releases/release[1]/@date)')" ] ||
  fail "CHANGELOG.md's newest entry '$heading' is not the newest release of the metainfo"

[ "$failures" -eq 0 ] || exit 1
echo "metainfo valid, launching dirnote.desktop, release $VERSION"
