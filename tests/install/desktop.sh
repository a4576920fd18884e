#!/usr/bin/env bash
# worva's desktop entry and AppStream data as installed, validated with the desktop tools, and
# the icon the entry names present in the sizes the icon theme has.
#   desktop.sh ROOT
set -euo pipefail
root=$1
fail=0
share=$root/usr/share
desktop-file-validate "$share/applications/worva.desktop" || fail=1
appstreamcli validate --no-net --pedantic "$share/metainfo/org.orvanta.worva.metainfo.xml" >&2 || fail=1
icon=$(sed -n 's/^Icon=//p' "$share/applications/worva.desktop")
[[ -f $share/icons/hicolor/scalable/apps/$icon.svg ]] || { echo "no scalable icon $icon" >&2; fail=1; }
for size in 16 22 24 32 48 64 128 256; do
    png=$share/icons/hicolor/${size}x$size/apps/$icon.png
    file -b "$png" | grep -q "^PNG image data, $size x $size," ||
        { echo "$png is not a ${size}x$size PNG: $(file -b "$png" 2>&1)" >&2; fail=1; }
done
exec=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$share/applications/worva.desktop")
[[ -x $root/usr/bin/$exec ]] || { echo "the entry runs $exec, which the packages do not install" >&2; fail=1; }
grep -q "<launchable type=\"desktop-id\">worva.desktop</launchable>" "$share/metainfo/org.orvanta.worva.metainfo.xml" ||
    { echo "the AppStream data does not launch worva.desktop" >&2; fail=1; }
exit $fail
