#!/bin/bash
# Runs every test of a built x86_64 tree (which registers the i686 tree's and
# the release's too) in its two private Wine rigs, one per architecture, side
# by side, and ends every process of the rigs afterwards, also when a test
# hangs or fails.
set -u
BUILD=$(cd "${1:?build folder}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
RIGS="$BUILD/rig-i686 $BUILD/rig-x86_64"
# The tests write nothing into the source tree either.
export PYTHONDONTWRITEBYTECODE=1
down() { for rig in $RIGS; do "$HERE/rig.sh" down "$rig"; done; }
trap down EXIT INT TERM
for rig in $RIGS; do "$HERE/rig.sh" up "$rig" || exit 1; done
cd "$BUILD" || exit 1
# One test of each rig at a time (their locks), and beside them the two that take none.
ctest --output-on-failure --timeout 600 -j4 ${CTEST_ARGS:-}
rc=$?
# CTest shows only the output of tests that failed: every judgement excused
# by a fault of the platform (with its control's result), every launch
# tried again and every fault the program met and came through is listed here.
awk '/^[0-9]+\/[0-9]+ Testing: / { test = $3 }
     /^(excused|relaunched|met): / { print test ": " substr($0, 1, 600) }' Testing/Temporary/LastTest.log
exit $rc
