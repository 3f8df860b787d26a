#!/bin/bash
# Starts Halvory under Wine in the foreground: on $DISPLAY when there is one,
# else on a private virtual display. Ctrl-C closes it the way "/u" does.
set -u
BUILD=$(cd "${1:?build folder}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
RIG="$BUILD/run-rig"
EXE="$BUILD/x86_64/halvory.exe"

if [ ! -f "$EXE" ]; then
    echo "run: $EXE was not built" >&2
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

echo "Halvory runs on display $DISPLAY (Ctrl-C to end it)."
[ -z "$user_pulse" ] && \
    echo "No sound server of yours answered: the chime goes to a silent private sink."
cd "$BUILD/x86_64"
"$WINELOADER" "$EXE" </dev/null &
pid=$!
on_interrupt() {
    # The running instance removes its icon and ends with code 0.
    "$WINELOADER" "$EXE" /u </dev/null >/dev/null 2>&1
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
