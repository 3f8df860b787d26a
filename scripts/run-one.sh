#!/bin/sh
# Runs one end-to-end file, or one case of it, on one exe of the release, as
# CTest runs it, in a rig of its own (never the rigs CTest or a running
# "make test" use):
#   scripts/run-one.sh FILE [CASE] [ARCH]
#   scripts/run-one.sh test_dialog.py EntryTest.test_arrow_keys_step_by_one_and_stop_at_the_ends i686
# FILE is a file of tests/e2e; CASE a class or Class.test_name (all when
# left out or "-"); ARCH x86_64 (halvory-x64.exe, the default) or i686
# (halvory.exe). The build is BUILD (build), made by "make release". The rig
# (BUILD/x86_64/rig-one-ARCH, or RIG) is brought up when it is not, and down
# again at the end if this script brought it up.
set -u
ROOT=$(cd "$(dirname "$0")/.." && pwd)
FILE=$(basename "${1:?usage: run-one.sh FILE [CASE] [ARCH]}")
CASE=${2:--}
ARCH=${3:-x86_64}
BUILD=$(cd "${BUILD:-$ROOT/build}" && pwd) || exit 1
case $ARCH in
x86_64) EXE=$BUILD/release/halvory-x64.exe ;;
i686) EXE=$BUILD/release/halvory.exe ;;
*) echo "run-one: ARCH is x86_64 or i686, not $ARCH" >&2; exit 2 ;;
esac
[ -f "$ROOT/tests/e2e/$FILE" ] || { echo "run-one: no tests/e2e/$FILE" >&2; exit 2; }
[ -f "$EXE" ] || { echo "run-one: $EXE is missing (make release)" >&2; exit 1; }
RIG=${RIG:-$BUILD/x86_64/rig-one-$ARCH}
# The golden prefix that make's rigs share, as make sets it.
export RIG_GOLDEN="${RIG_GOLDEN:-$BUILD/wine-golden}" PYTHONDONTWRITEBYTECODE=1

brought_up=
if ! [ -f "$RIG/wineserver.pid" ] || ! kill -0 "$(cat "$RIG/wineserver.pid")" 2>/dev/null; then
    "$ROOT/scripts/rig.sh" up "$RIG" || exit 1
    brought_up=1
fi
down() { [ -z "$brought_up" ] || "$ROOT/scripts/rig.sh" down "$RIG"; }
trap down EXIT
trap 'exit 130' INT TERM

[ "$CASE" = - ] && CASE=
# shellcheck disable=SC2086 # CASE is one word or none
python3 "$ROOT/tests/e2e/$FILE" --build "$BUILD/x86_64" --rig "$RIG" --exe "$EXE" --tools "$BUILD/$ARCH" $CASE
