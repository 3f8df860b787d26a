#!/bin/bash
# The release: the 32-bit exe (the Windows release), the 64-bit exe, the
# default chime and the user guide.
#
#   dist.sh stage BUILD           BUILD/release: the files as a user unpacks
#                                 them; the end-to-end tests run these exes
#   dist.sh pack BUILD VERSION [OUT]
#                                 OUT/halvory-VERSION.zip and OUT/SHA256SUMS
#                                 (the zip and every file in it); OUT is
#                                 BUILD/dist by default
#   dist.sh check BUILD VERSION   checks what the staged exes import, then
#                                 builds the release again from a copy of the
#                                 sources in another folder, later, and
#                                 compares the two SHA256SUMS
#
# The same sources give the same bytes: every time stamp (the exes' headers,
# the zip's entries) is SOURCE_DATE_EPOCH, the last commit's time unless set.
set -euo pipefail
cmd=${1:?usage: dist.sh stage|pack|check BUILD [VERSION [OUT]]}
BUILD=$(cd "${2:?build folder}" && pwd)
HERE=$(cd "$(dirname "$0")/.." && pwd)
RELEASE="$BUILD/release"
: "${SOURCE_DATE_EPOCH:=$(git -C "$HERE" log -1 --format=%ct 2>/dev/null || echo 315532800)}"
export SOURCE_DATE_EPOCH

stage() {
    local f
    for f in "$BUILD/i686/halvory.exe" "$BUILD/x86_64/halvory.exe" "$BUILD/i686/Orvel.mp3"; do
        [ -f "$f" ] || { echo "dist: $f was not built" >&2; exit 1; }
    done
    rm -rf "$RELEASE"
    mkdir -p "$RELEASE"
    # Symbols are of no use to a user; the build trees keep theirs. strip
    # writes a new time stamp into the header: SOURCE_DATE_EPOCH's.
    i686-w64-mingw32-strip -s -o "$RELEASE/halvory.exe" "$BUILD/i686/halvory.exe"
    x86_64-w64-mingw32-strip -s -o "$RELEASE/halvory-x64.exe" "$BUILD/x86_64/halvory.exe"
    cp "$BUILD/i686/Orvel.mp3" "$RELEASE/Orvel.mp3"
    # Notepad on every Windows version reads UTF-8 right when the file starts
    # with a byte order mark; line ends as Windows expects.
    { printf '\xef\xbb\xbf'; sed 's/$/\r/' "$HERE/docs/guide.txt"; } >"$RELEASE/readme.txt"
}

# Windows takes every DLL that is not one of its KnownDLLs from the exe's own
# folder first, where anyone may have left one: the exes import KnownDLLs
# only and bind the others themselves from the system folder.
KNOWN_DLLS="advapi32 comdlg32 gdi32 imm32 kernel32 msvcrt shell32 user32"

imports() {
    local exe triple dlls dll bad=0
    for exe in halvory.exe:i686 halvory-x64.exe:x86_64; do
        triple=${exe#*:}-w64-mingw32
        exe=${exe%:*}
        dlls=$("$triple-objdump" -p "$RELEASE/$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' |
               tr 'A-Z' 'a-z' | sed 's/\.dll$//' | sort -u)
        echo "$exe imports:" $dlls
        for dll in $dlls; do
            case " $KNOWN_DLLS " in
            *" $dll "*) ;;
            *) echo "dist: $exe imports $dll.dll, which is not a KnownDLL: Windows would" \
                    "load it from beside the exe" >&2; bad=1 ;;
            esac
        done
    done
    return $bad
}

pack() {
    local version=${1:?version} out=${2:-$BUILD/dist}
    [ -f "$RELEASE/halvory.exe" ] || { echo "dist: $RELEASE is not staged" >&2; exit 1; }
    imports >/dev/null
    mkdir -p "$out"
    # One folder, its files in name order, every entry with the same UTC time
    # and mode, no extra fields.
    python3 - "$RELEASE" "halvory-$version" "$out/halvory-$version.zip" <<'PY'
import os, sys, time, zipfile
src, top, zip_path = sys.argv[1:]
when = time.gmtime(int(os.environ['SOURCE_DATE_EPOCH']))[:6]

def entry(name, mode):
    info = zipfile.ZipInfo(name, date_time=when)
    info.create_system = 3
    info.external_attr = mode << 16
    return info

with zipfile.ZipFile(zip_path + '.tmp', 'w') as z:
    d = entry(top + '/', 0o40755)
    d.external_attr |= 0x10          # the DOS directory bit
    z.writestr(d, b'')
    for name in sorted(os.listdir(src)):
        with open(os.path.join(src, name), 'rb') as f:
            data = f.read()
        info = entry(top + '/' + name, 0o100644)
        info.compress_type = zipfile.ZIP_DEFLATED
        z.writestr(info, data, compresslevel=9)
os.replace(zip_path + '.tmp', zip_path)
PY
    ( cd "$out" && sha256sum "halvory-$version.zip" ) >"$out/SHA256SUMS"
    ( cd "$RELEASE" && for f in $(ls); do
        printf '%s  %s\n' "$(sha256sum <"$f" | cut -d' ' -f1)" "halvory-$version/$f"
      done ) >>"$out/SHA256SUMS"
    echo "$out/halvory-$version.zip"
}

check() {
    local version=${1:?version} scratch="$BUILD/repro" gen="-G Ninja -DHALVORY_TESTS=OFF"
    imports
    rm -rf "$scratch"
    mkdir -p "$scratch/src"
    # The tracked sources as they are now, in another folder: a second clone.
    git -C "$HERE" ls-files -z | (cd "$HERE" && xargs -0 cp --parents -t "$scratch/src")
    for arch in i686 x86_64; do
        # shellcheck disable=SC2086
        cmake -S "$scratch/src" -B "$scratch/$arch" $gen \
            -DCMAKE_TOOLCHAIN_FILE="$scratch/src/cmake/toolchain-$arch.cmake" >/dev/null
        cmake --build "$scratch/$arch" >/dev/null
    done
    "$scratch/src/scripts/dist.sh" stage "$scratch"
    "$scratch/src/scripts/dist.sh" pack "$scratch" "$version" "$scratch/dist" >/dev/null
    pack "$version" "$scratch/ours" >/dev/null
    if diff "$scratch/ours/SHA256SUMS" "$scratch/dist/SHA256SUMS"; then
        echo "reproducible: the second build gives the same bytes"
        cat "$scratch/dist/SHA256SUMS"
        rm -rf "$scratch"
    else
        echo "dist: the second build (in $scratch) differs" >&2
        exit 1
    fi
}

case $cmd in
stage) stage ;;
pack) shift 2; pack "$@"; unzip -l "${2:-$BUILD/dist}/halvory-$1.zip" | sed -n '4,$p' ;;
check) shift 2; check "$@" ;;
*) echo "usage: dist.sh stage|pack|check BUILD [VERSION [OUT]]" >&2; exit 2 ;;
esac
