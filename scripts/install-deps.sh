#!/bin/sh
# Installs the Debian packages the build, the tests and the benchmarks need.
# Idempotent and quiet: it only calls apt when a package is missing.
set -eu

PACKAGES="cmake ninja-build make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
mingw-w64-tools googletest wine64 xvfb xdotool x11-utils imagemagick locales
fonts-ipafont-gothic fonts-wine pulseaudio pulseaudio-utils sox lame
gstreamer1.0-plugins-base gstreamer1.0-plugins-good gnuplot-nox zip python3"

missing=""
for p in $PACKAGES; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing="$missing $p"
    fi
done
[ -z "$missing" ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "installing:$missing"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq >/dev/null
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq --no-install-recommends $missing >/dev/null
