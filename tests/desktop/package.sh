#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package from this build with cpack and checks it as a distribution's
# packager would: lintian with its default profile gives no error and no warning, and the
# package holds the licence, the change log, both manual pages compressed, the metainfo and the
# completions where Debian's tools and the shells look for them. (The hardening flags are the
# package build's, scripts/package, which fails on lintian's hardening tags.)
# Usage: package.sh BUILD_DIR plain|sanitized
set -uo pipefail
BUILD=$1
. "$(dirname "${BASH_SOURCE[0]}")/support.sh"
if [ "$2" != plain ]; then
  echo "SKIPPED: a sanitizer build is never packaged; the plain build's run checks the package"
  exit 77
fi
need_tools cpack lintian dpkg-deb dpkg-shlibdeps
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

(cd "$OUT" && cpack -G DEB -B "$OUT" --config "$BUILD/CPackConfig.cmake" >cpack.log 2>&1) ||
  { cat "$OUT/cpack.log" >&2; echo "FAIL: cpack" >&2; exit 1; }
DEB=$(ls "$OUT"/dirnote_*.deb 2>/dev/null)
[ -n "$DEB" ] || { echo "FAIL: cpack made no dirnote_*.deb" >&2; exit 1; }

# Lintian as root says so on standard error; its findings are on standard output.
report=$(lintian --fail-on error,warning "$DEB" 2>/dev/null)
status=$?
bad=$(grep -E '^[EW]: ' <<<"$report")
if [ -n "$bad" ]; then
  fail "lintian: $bad"
elif [ "$status" -ne 0 ]; then
  fail "lintian ended with $status: $report"
fi

contents=$(dpkg-deb -c "$DEB" | awk '{ print $6 }' | sed 's:^\./::')
for file in usr/share/doc/dirnote/copyright usr/share/doc/dirnote/changelog.gz \
            usr/share/man/man1/dirnote.1.gz usr/share/man/man1/dnt.1.gz \
            usr/share/metainfo/org.example.dirnote.metainfo.xml usr/share/applications/dirnote.desktop \
            usr/share/bash-completion/completions/dnt usr/share/zsh/vendor-completions/_dnt \
            usr/share/fish/vendor_completions.d/dnt.fish usr/bin/dirnote usr/bin/dnt; do
  grep -qxF "$file" <<<"$contents" || fail "the package lacks $file"
done

[ "$failures" -eq 0 ] || exit 1
echo "$(basename "$DEB"): lintian finds no error and no warning"
