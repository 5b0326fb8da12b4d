#!/usr/bin/env bash
# `cmake --install` of a build tree: the program, a valid desktop entry that offers every
# media type of the Open dialog's filter, valid AppStream data, the playlist file type and
# icons of the sizes their folders name.
# Usage: install_check.sh BUILD_DIR SOURCE_DIR
set -u
build=$1 src=$2
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
DESTDIR=$dest cmake --install "$build" --prefix /usr >/dev/null || fail "cmake --install"
share=$dest/usr/share
[ -x "$dest/usr/bin/vamplet" ] || fail "no program in bin"
desktop=$(ls "$share"/applications/*.desktop) || fail "no desktop entry"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$desktop" || fail "desktop entry"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$share"/metainfo/*.metainfo.xml >/dev/null || fail "AppStream data"
fi
# Every extension of the media filter that the system's MIME database knows maps to a type
# the desktop entry lists.
types=$(sed -n 's/^MimeType=//p' "$desktop" | tr ';' '\n')
exts=$(grep -o '\*\.[a-z0-9]*' "$src/src/services/keldialogs.cpp" | sort -u | sed 's/^\*\.//')
checked=0
for ext in $exts; do
  for type in $(grep -i ":\*\.$ext\$" /usr/share/mime/globs2 2>/dev/null | cut -d: -f2); do
    checked=$((checked + 1))
    grep -qx "$type" <<<"$types" || fail ".$ext is $type, which the desktop entry does not offer"
  done
done
[ -f /usr/share/mime/globs2 ] && [ $checked -lt 10 ] && fail "only $checked media types checked"
# The playlist type is known once the database is rebuilt.
if command -v update-mime-database >/dev/null; then
  update-mime-database "$share/mime" >/dev/null 2>&1 || fail "update-mime-database"
  grep -q 'application/x-vamplet-playlist:\*\.obs' "$share/mime/globs2" || fail ".obs is not a playlist file"
fi
for png in "$share"/icons/hicolor/*/apps/vamplet.png; do
  size=$(basename "$(dirname "$(dirname "$png")")")
  if command -v identify >/dev/null; then
    [ "$(identify -format '%wx%h' "$png")" = "$size" ] || fail "$png is not $size"
  fi
done
[ -f "$share/icons/hicolor/scalable/apps/vamplet.svg" ] || fail "no scalable icon"
grep -q '<svg' "$share/icons/hicolor/scalable/apps/vamplet.svg" || fail "the scalable icon is no SVG"
echo "PASS"
