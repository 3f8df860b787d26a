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
#
# A mirror in sync can serve an index that does not match its Release file
# for an hour or more. A failed `apt-get update` is tried three times; if an
# index still fails, the install goes on with what apt has, from a view of
# the sources without that suite, both architectures in one call (see
# make_view). Nothing is ever removed: apt stops instead, and so does this
# script, naming the index. apt's own configuration (APT_CONFIG may point it
# at another root) says where the sources and the dpkg database are; under
# its APT::Get::Simulate the installs are only shown, and the kernel is left
# alone.
set -eu

PACKAGES="cmake ninja-build make g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
mingw-w64-tools googletest wine64 xvfb xdotool x11-utils imagemagick locales
fonts-ipafont-gothic fonts-wine pulseaudio pulseaudio-utils sox lame
gstreamer1.0-plugins-base gstreamer1.0-plugins-good gnuplot-nox zip unzip python3"
# Loaded by the 32-bit Wine inside the emulated process.
PACKAGES_I386="wine32:i386 gstreamer1.0-plugins-base:i386 gstreamer1.0-plugins-good:i386"
QEMU_I386=/usr/libexec/qemu-binfmt/i386-binfmt-P
BINFMT=/proc/sys/fs/binfmt_misc
TRIES=3
TRY_GAP=${INSTALL_TRY_GAP:-5}    # seconds between tries (0 in the install test, which fails on purpose)

SIMULATE=false
eval "$(apt-config shell SOURCEPARTS Dir::Etc::sourceparts/d SOURCELIST Dir::Etc::sourcelist/f \
    STATUS Dir::State::status/f SIMULATE APT::Get::Simulate/b)"
ADMINDIR=${STATUS%/*}
BACKPORTS_FILE=${SOURCEPARTS}halvory-backports.sources

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
updated=""
view=""
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

installed() {
    dpkg-query --admindir="$ADMINDIR" -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"
}

missing_of() {
    out=""
    for p in "$@"; do installed "$p" || out="$out $p"; done
    echo "$out"
}

# Runs the function named $2 up to $TRIES times, $TRY_GAP s apart, saying so; its
# errors are left in $tmp/err.
retry() {
    what=$1 try=1
    until "$2" 2>"$tmp/err"; do
        [ "$try" -lt "$TRIES" ] || return 1
        echo "$what failed (try $try of $TRIES): $(grep -m1 '^E:' "$tmp/err"); trying again in $TRY_GAP s"
        try=$((try + 1))
        sleep "$TRY_GAP"
    done
}

update_once() { $SUDO apt-get update -qq >/dev/null; }

# The suites whose indexes failed, from apt's "Failed to fetch URI/dists/SUITE/..."
failed_suites() {
    sed -n 's|.*Failed to fetch [^ ]*/dists/\([^/ ]*\)/.*|\1|p' "$tmp/err" | sort -u | tr '\n' ' '
}

apt_update() {
    [ -n "$updated" ] && return 0
    updated=1 view=""
    retry "apt-get update" update_once && return 0
    failed=$(failed_suites)
    [ -n "$failed" ] || { cat "$tmp/err" >&2; exit 1; }
    fetch_errors=$(grep 'Failed to fetch' "$tmp/err" | sed 's/^E: Failed to fetch/ /')
    echo "an index failed $TRIES times (a mirror in sync?); going on with what apt has, without ${failed% }:"
    echo "$fetch_errors"
    make_view "$failed"
}

# The machine's sources less the failed suites, in a folder of their own.
# With a suite's index missing for one architecture, the other's (kept from
# an earlier update) offers versions of Multi-Arch "same" libraries that have
# no twin: apt then refuses the i386 packages or removes amd64 ones (wine64,
# pulseaudio). Without the suite, both come from the same place.
make_view() {
    mkdir -p "$tmp/view"
    for f in "$SOURCELIST" "$SOURCEPARTS"*.list "$SOURCEPARTS"*.sources; do
        [ -f "$f" ] || continue
        name=${f##*/}
        [ "$f" = "$SOURCELIST" ] && name=00-main.list
        awk -v drop=" $1 " '
            function gone(w) { return index(drop, " " w " ") > 0 }
            BEGIN { RS = ""; ORS = "\n\n" }
            { out = ""; keep = 1; n = split($0, line, "\n")
              for (i = 1; i <= n; i++) {
                  l = line[i]; m = split(l, w, /[ \t]+/)
                  if (w[1] == "Suites:") {
                      l = "Suites:"
                      for (j = 2; j <= m; j++) if (!gone(w[j])) l = l " " w[j]
                      if (l == "Suites:") keep = 0
                  } else if (w[1] ~ /^deb/) {
                      for (j = 2; j <= m; j++) if (gone(w[j])) l = "# " l
                  }
                  out = out l "\n"
              }
              if (keep) print out }' "$f" >"$tmp/view/$name"
    done
    view="-o Dir::Etc::SourceParts=$tmp/view -o Dir::Etc::SourceList=/dev/null"
}

# Every install: never a removal (apt stops instead), and after a failed
# index from the view without its suite. apt's report is shown when it fails,
# or when it only simulates (then it is the result).
apt_install() {
    apt_update
    # shellcheck disable=SC2086
    if $SUDO apt-get install -y -qq --no-install-recommends --no-remove $view "$@" \
        >"$tmp/out" 2>&1; then
        [ "$SIMULATE" = false ] || cat "$tmp/out"
        return 0
    fi
    cat "$tmp/out" >&2
    [ -n "$view" ] || exit 1
    echo "install-deps.sh: nothing left to install without the index that failed:" >&2
    echo "$fetch_errors" >&2
    echo "The mirror is probably in sync: run this again in an hour, or point the URIs of" \
        "${SOURCEPARTS}debian.sources at another Debian mirror." >&2
    exit 1
}

# The archive address and keyring of the machine's own Debian source, so the
# backports come from where everything else comes from.
debian_source_field() {
    awk -v want="$1" '
        /^[[:space:]]*$/ { if (main && val != "") found = val; main = 0; val = ""; next }
        /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == "bookworm") main = 1 }
        $1 == want":" { val = $2 }
        END { if (main && val != "") found = val; if (found == "") exit; print found }' "${SOURCEPARTS}debian.sources" 2>/dev/null
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
    v=$(dpkg-query --admindir="$ADMINDIR" -W -f='${Version}' qemu-user 2>/dev/null) || return 1
    installed qemu-user && dpkg --compare-versions "$v" ge 1:8
}

register_binfmt() {
    # Under apt's simulation qemu-user is not there to register.
    [ "$SIMULATE" = false ] || return 0
    [ -e "$BINFMT/register" ] || $SUDO mount -t binfmt_misc binfmt_misc "$BINFMT"
    [ -e "$BINFMT/qemu-i386" ] && return 0
    echo "registering qemu-i386 with binfmt_misc"
    # 32-bit little-endian ELF executables of machine 3 (i386); F opens the
    # interpreter now, so it works in every mount namespace.
    printf '%s' ':qemu-i386:M::\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$QEMU_I386"':OPF' \
        | $SUDO tee "$BINFMT/register" >/dev/null
}

# The emulated 32-bit path first: qemu-user, then its binfmt entry, before
# any i386 package (their maintainer scripts run 32-bit code).
if ! dpkg --admindir="$ADMINDIR" --print-foreign-architectures | grep -qx i386; then
    echo "adding the i386 architecture"
    $SUDO dpkg --admindir="$ADMINDIR" --add-architecture i386
    updated=""
fi
add_backports
if ! qemu_new_enough; then
    echo "installing: qemu-user (bookworm-backports)"
    apt_install -t bookworm-backports qemu-user
fi
register_binfmt
# The 64-bit tool chain, Wine and the rig, and what the 32-bit Wine loads, in
# one call: Multi-Arch "same" libraries of both architectures must come at
# the same version.
# shellcheck disable=SC2086
missing=$(missing_of $PACKAGES $PACKAGES_I386)
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
bootstrap_once() {
    rm -rf "$root"
    $SUDO mmdebstrap --quiet --mode=root --variant=apt --architectures=amd64,i386 \
        --keyring=/usr/share/keyrings/debian-archive-keyring.gpg \
        --include="$(echo "$WINE10_PACKAGES" | tr -d '\n')" trixie "$root" "$uri"
}
if [ "${1:-}" = --wine10-root ]; then
    root=${2:?usage: install-deps.sh --wine10-root DIR}
    [ -f "$root/.halvory-ready" ] && exit 0
    installed mmdebstrap || { echo "installing: mmdebstrap"; apt_install mmdebstrap; }
    uri=$(debian_source_field URIs)
    [ -n "$uri" ] || uri=http://deb.debian.org/debian
    echo "making the Wine 10 root (Debian 13, about 2.3 GB, a few minutes) in $root"
    mkdir -p "$(dirname "$root")"
    if ! retry mmdebstrap bootstrap_once; then
        cat "$tmp/err" >&2
        echo "install-deps.sh: mmdebstrap failed $TRIES times; if an index failed (a mirror in" \
            "sync), run this again in an hour or point ${SOURCEPARTS}debian.sources at another mirror." >&2
        exit 1
    fi
    touch "$root/.halvory-ready"
fi
