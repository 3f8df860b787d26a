#!/bin/bash
# Runs the suite under the next Wine: Wine 10, in the Debian 13 root that
# "install-deps.sh --wine10-root" made under BUILD/wine10. The exes and the
# test programs are BUILD's, built on this machine (the root has no cross
# compiler); the tests are the same CTest tests, run by the same script,
# with rigs and a golden prefix of their own (BUILD/wine10), since a prefix
# belongs to the Wine that made it. Everything is mounted in a mount
# namespace of its own, so nothing stays mounted when the run ends, however
# it ends.
#
#   wine10.sh BUILD             run every test that runs under Wine
#   wine10.sh BUILD COMMAND...  run a command there instead (with the rigs'
#                               folders as the tests see them)
set -euo pipefail
BUILD=$(cd "${1:?build folder}" && pwd)
shift
TOP=$(cd "$(dirname "$0")/.." && pwd)
W10=$BUILD/wine10
ROOT=$W10/root
[ -f "$ROOT/.halvory-ready" ] || { echo "wine10: no root in $ROOT (install-deps.sh --wine10-root)" >&2; exit 1; }

if [ "${HALVORY_IN_NAMESPACE:-}" != 1 ]; then
    # The rig's desktop holder is a Windows program: built here.
    for arch in i686 x86_64; do "$TOP/scripts/rig.sh" build "$W10/rig-$arch"; done
    exec env HALVORY_IN_NAMESPACE=1 unshare --mount --propagation private "$0" "$BUILD" "$@"
fi

mount --rbind /dev "$ROOT/dev"
mount --rbind /sys "$ROOT/sys"
mount --rbind /proc "$ROOT/proc"
# The checkout and the build at the paths the CTest files name.
for dir in "$TOP" "$BUILD"; do
    mkdir -p "$ROOT$dir"
    mount --bind "$dir" "$ROOT$dir"
done
# The rigs the tests are registered with are Wine 10's here.
for arch in i686 x86_64; do
    mkdir -p "$W10/rig-$arch" "$BUILD/x86_64/rig-$arch"
    mount --bind "$W10/rig-$arch" "$ROOT$BUILD/x86_64/rig-$arch"
done

echo "under $(chroot "$ROOT" /usr/lib/wine/wine64 --version 2>/dev/null) (Debian $(cat "$ROOT/etc/debian_version"))"
inside() {
    chroot "$ROOT" env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        HOME=/root TERM="${TERM:-dumb}" RIG_GOLDEN="$W10/golden" "$@"
}
if [ $# -gt 0 ]; then
    inside bash -c "cd '$TOP' && $*"
else
    # The release's reproducibility needs the cross compiler, and the install
    # script's test this machine's apt, and neither needs Wine: they are the
    # host's.
    inside CTEST_ARGS="-E ^(release|install)\\. ${CTEST_ARGS:-}" "$TOP/scripts/run-tests.sh" "$BUILD/x86_64"
fi
