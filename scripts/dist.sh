#!/bin/bash
# Packs the release: build/dist/halvory-VERSION.zip with the 32-bit exe (the
# Windows release), the 64-bit exe, the default chime and the user guide.
#   dist.sh BUILD VERSION
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
VERSION=${2:?version}
HERE=$(cd "$(dirname "$0")/.." && pwd)
NAME="halvory-$VERSION"
STAGE="$BUILD/dist/$NAME"
ZIP="$BUILD/dist/$NAME.zip"

for f in "$BUILD/i686/halvory.exe" "$BUILD/x86_64/halvory.exe" "$BUILD/i686/Orvel.mp3"; do
    [ -f "$f" ] || { echo "dist: $f was not built" >&2; exit 1; }
done
rm -rf "$STAGE" "$ZIP"
mkdir -p "$STAGE"
# Symbols are of no use to a user; the copies in the build trees keep theirs.
i686-w64-mingw32-strip -s -o "$STAGE/halvory.exe" "$BUILD/i686/halvory.exe"
x86_64-w64-mingw32-strip -s -o "$STAGE/halvory-x64.exe" "$BUILD/x86_64/halvory.exe"
cp "$BUILD/i686/Orvel.mp3" "$STAGE/Orvel.mp3"
# Notepad on every Windows version reads UTF-8 right when the file starts
# with a byte order mark; line ends as Windows expects.
{ printf '\xef\xbb\xbf'; sed 's/$/\r/' "$HERE/docs/guide.txt"; } >"$STAGE/readme.txt"
# Fixed times and order: the same build gives the same zip.
touch -d "@$(git -C "$HERE" log -1 --format=%ct 2>/dev/null || echo 0)" "$STAGE"/*
(cd "$BUILD/dist" && zip -q -X -r "$ZIP" "$NAME")
rm -rf "$STAGE"
echo "$ZIP"
unzip -l "$ZIP" | sed -n '4,$p'
