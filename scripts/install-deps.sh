#!/bin/sh
# Installs what the build, the tests and the benchmarks need. Idempotent and
# quiet: apt runs only when a package is missing.
#
#   install-deps.sh                    this machine (Debian 12, Wine 8)
#   install-deps.sh --wine10-root DIR  also DIR, a Debian 13 root with Wine 10
#                                      and the rig's tools, made once and kept
#
# The shipped exe is 32-bit, and the kernels we test on run no 32-bit code,
# so 32-bit Wine runs under user-mode emulation. That changes the machine in
# three ways, each made once and kept: the i386 architecture is added to
# dpkg, the bookworm-backports suite gets an apt source of its own (qemu 7.2
# of bookworm cannot run Wine; the backported qemu can), and qemu-i386 is
# registered with binfmt_misc, which is kernel state and is lost at reboot.
set -eu

PACKAGES="cmake ninja-build make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
mingw-w64-tools googletest wine64 xvfb xdotool x11-utils imagemagick locales
fonts-ipafont-gothic fonts-wine pulseaudio pulseaudio-utils sox lame
gstreamer1.0-plugins-base gstreamer1.0-plugins-good gnuplot-nox zip unzip python3"
# Loaded by the 32-bit Wine inside the emulated process.
PACKAGES_I386="wine32:i386 gstreamer1.0-plugins-base:i386 gstreamer1.0-plugins-good:i386"
BACKPORTS_FILE=/etc/apt/sources.list.d/halvory-backports.sources
QEMU_I386=/usr/libexec/qemu-binfmt/i386-binfmt-P
BINFMT=/proc/sys/fs/binfmt_misc

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
updated=""

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing_of() {
    out=""
    for p in "$@"; do installed "$p" || out="$out $p"; done
    echo "$out"
}

apt_update() {
    [ -n "$updated" ] && return 0
    $SUDO apt-get update -qq >/dev/null
    updated=1
}

apt_install() {
    apt_update
    # shellcheck disable=SC2086
    $SUDO apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

# The archive address and keyring of the machine's own Debian source, so the
# backports come from where everything else comes from.
debian_source_field() {
    awk -v want="$1" '
        /^[[:space:]]*$/ { if (main && val != "") found = val; main = 0; val = ""; next }
        /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == "bookworm") main = 1 }
        $1 == want":" { val = $2 }
        END { if (main && val != "") found = val; if (found == "") exit; print found }' /etc/apt/sources.list.d/debian.sources 2>/dev/null
}

add_backports() {
    [ -f "$BACKPORTS_FILE" ] && return 0
    uri=$(debian_source_field URIs)
    key=$(debian_source_field Signed-By)
    [ -n "$uri" ] || uri=http://deb.debian.org/debian
    [ -n "$key" ] || key=/usr/share/keyrings/debian-archive-keyring.gpg
    echo "adding the bookworm-backports source ($uri) in $BACKPORTS_FILE"
    printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: %s\n' \
        "$uri" "$key" | $SUDO tee "$BACKPORTS_FILE" >/dev/null
    updated=""
}

qemu_new_enough() {
    v=$(dpkg-query -W -f='${Version}' qemu-user 2>/dev/null) || return 1
    installed qemu-user && dpkg --compare-versions "$v" ge 1:8
}

register_binfmt() {
    [ -e "$BINFMT/register" ] || $SUDO mount -t binfmt_misc binfmt_misc "$BINFMT"
    [ -e "$BINFMT/qemu-i386" ] && return 0
    echo "registering qemu-i386 with binfmt_misc"
    # 32-bit little-endian ELF executables of machine 3 (i386); F opens the
    # interpreter now, so it works in every mount namespace.
    printf '%s' ':qemu-i386:M::\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$QEMU_I386"':OPF' \
        | $SUDO tee "$BINFMT/register" >/dev/null
}

# The 64-bit tool chain, Wine and the rig.
missing=$(missing_of $PACKAGES)
if [ -n "$missing" ]; then
    echo "installing:$missing"
    # shellcheck disable=SC2086
    apt_install $missing
fi

# The emulated 32-bit path.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "adding the i386 architecture"
    $SUDO dpkg --add-architecture i386
    updated=""
fi
add_backports
if ! qemu_new_enough; then
    echo "installing: qemu-user (bookworm-backports)"
    apt_install -t bookworm-backports qemu-user
fi
# Before any i386 package: their maintainer scripts run 32-bit code.
register_binfmt
missing=$(missing_of $PACKAGES_I386)
if [ -n "$missing" ]; then
    echo "installing:$missing"
    # shellcheck disable=SC2086
    apt_install $missing
fi

# The next Wine: Debian 13 has Wine 10, which cannot be installed beside
# Wine 8 here, so it gets a root of its own, made with mmdebstrap from the
# same archive as everything else (about 2.3 GB). The 32-bit half runs
# through the binfmt entry registered above, whose interpreter is opened at
# registration and so also serves programs inside the root. The exes and
# test programs are built here; the root has no cross compiler.
WINE10_PACKAGES="wine,wine64,wine32:i386,libwine,fonts-wine,xvfb,xdotool,x11-utils,imagemagick,
locales,fonts-ipafont-gothic,pulseaudio,pulseaudio-utils,sox,lame,gstreamer1.0-plugins-base,
gstreamer1.0-plugins-good,gstreamer1.0-plugins-base:i386,gstreamer1.0-plugins-good:i386,python3,
cmake,procps,util-linux,file"
if [ "${1:-}" = --wine10-root ]; then
    root=${2:?usage: install-deps.sh --wine10-root DIR}
    [ -f "$root/.halvory-ready" ] && exit 0
    installed mmdebstrap || { echo "installing: mmdebstrap"; apt_install mmdebstrap; }
    uri=$(debian_source_field URIs)
    [ -n "$uri" ] || uri=http://deb.debian.org/debian
    echo "making the Wine 10 root (Debian 13, about 2.3 GB, a few minutes) in $root"
    rm -rf "$root"
    mkdir -p "$(dirname "$root")"
    $SUDO mmdebstrap --quiet --mode=root --variant=apt --architectures=amd64,i386 \
        --keyring=/usr/share/keyrings/debian-archive-keyring.gpg \
        --include="$(echo "$WINE10_PACKAGES" | tr -d '\n')" trixie "$root" "$uri"
    touch "$root/.halvory-ready"
fi
