#!/bin/bash
# Starts Halvory under Wine in the foreground: on $DISPLAY when there is one,
# else on a private virtual display. Ctrl-C closes it the way "/u" does.
#   run-halvory.sh BUILD [x86_64|i686]
# The i686 exe runs under 32-bit Wine (emulated on a kernel without 32-bit
# support; scripts/install-deps.sh sets that up).
set -u
BUILD=$(cd "${1:?build folder}" && pwd)
ARCH=${2:-x86_64}
HERE=$(cd "$(dirname "$0")" && pwd)
RIG="$BUILD/run-rig"
EXE="$BUILD/$ARCH/halvory.exe"

if [ ! -f "$EXE" ]; then
    echo "run: $EXE was not built (ARCH is x86_64 or i686)" >&2
    exit 1
fi
# The user's own sound server, when one answers, so the chime is heard.
user_pulse=""
[ -S "${XDG_RUNTIME_DIR:-/nonexistent}/pulse/native" ] && user_pulse="unix:$XDG_RUNTIME_DIR/pulse/native"

cleanup() { "$HERE/rig.sh" down "$RIG"; }
trap cleanup EXIT
RIG_DISPLAY="${DISPLAY:-}" "$HERE/rig.sh" up "$RIG" || exit 1
. "$RIG/env.sh" 2>/dev/null
[ -n "$user_pulse" ] && export PULSE_SERVER="$user_pulse"
# The 32-bit loader keeps the process id, so the wait below is on Halvory.
LOADER=$WINELOADER
[ "$ARCH" = i686 ] && LOADER=/usr/lib/wine/wine

echo "Halvory ($ARCH) runs on display $DISPLAY (Ctrl-C to end it)."
[ -z "$user_pulse" ] && \
    echo "No sound server of yours answered: the chime goes to a silent private sink."
cd "$BUILD/$ARCH"
"$LOADER" "$EXE" </dev/null &
pid=$!
on_interrupt() {
    # The running instance removes its icon and ends with code 0.
    "$LOADER" "$EXE" /u </dev/null >/dev/null 2>&1
    wait "$pid" 2>/dev/null
    rc=$?
    echo "Halvory ended with code $rc."
    exit $rc
}
trap on_interrupt INT TERM
wait "$pid"
rc=$?
echo "Halvory ended with code $rc."
exit $rc
