#!/bin/bash
# Runs every test of a built x86_64 tree under its private Wine rig, and ends
# every process of the rig afterwards, also when a test hangs or fails.
set -u
BUILD=$(cd "${1:?build folder}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
RIG="$BUILD/rig"
# The tests write nothing into the source tree either.
export PYTHONDONTWRITEBYTECODE=1
trap '"$HERE/rig.sh" down "$RIG"' EXIT INT TERM
"$HERE/rig.sh" up "$RIG" || exit 1
cd "$BUILD" && ctest --output-on-failure --timeout 300 ${CTEST_ARGS:-}
