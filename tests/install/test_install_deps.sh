#!/bin/sh
# scripts/install-deps.sh against apt itself, on a repository made here whose
# i386 index of bookworm-security does not match its Release file, as a
# mirror in sync serves it. The machine had updated before i386 was added, so
# apt keeps that suite's old amd64 index, whose libfoo (Multi-Arch: same) is
# newer than any i386 one. apt runs in a private root (APT_CONFIG) and only
# simulates; the machine's dpkg database and apt configuration must come out
# unchanged.
#   test_install_deps.sh DIR
set -eu
script=$(cd "$(dirname "$0")/../../scripts" && pwd)/install-deps.sh
top=${1:?usage: test_install_deps.sh DIR}
mkdir -p "$top" && top=$(cd "$top" && pwd)
eval "$(sed -n '/^PACKAGES="/,/"$/p' "$script")"
passes=0 failures=0
check() { # WHAT COMMAND...
    what=$1; shift
    if "$@"; then echo "ok: $what"; passes=$((passes + 1))
    else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
machine() {
    { find /etc/apt /var/lib/dpkg/status /var/lib/dpkg/arch -exec ls -ld --full-time {} +
      find /etc/apt /var/lib/dpkg/status -type f -exec sha256sum {} +; } 2>/dev/null || :
}

deb() { # NAME VERSION ARCH SUITE [DEPENDS]
    d=$src/$1-${2#*:}-$3 f=pool/$1_${2#*:}_$3.deb
    mkdir -p "$d/DEBIAN" "$repo/pool"
    { printf 'Package: %s\nVersion: %s\nArchitecture: %s\nMulti-Arch: same\n' "$1" "$2" "$3"
      printf 'Maintainer: t <t@example.org>\nDescription: t\n'
      [ -z "${5:-}" ] || echo "Depends: $5"; } >"$d/DEBIAN/control"
    dpkg-deb -b "$d" "$repo/$f" >/dev/null
    { dpkg-deb -f "$repo/$f"; echo "Filename: $f"; echo "Size: $(stat -c %s "$repo/$f")"
      echo "SHA256: $(sha256sum <"$repo/$f" | cut -d' ' -f1)"; echo; } \
        >>"$repo/dists/$4/main/binary-$3/Packages"
}

release() { # SUITE
    cd "$repo/dists/$1"
    { printf 'Suite: %s\nCodename: %s\nDate: %s\n' "$1" "$1" "$(date -Ru)"
      printf 'Architectures: amd64 i386\nComponents: main\nSHA256:\n'
      for f in main/*/Packages; do
          echo " $(sha256sum <"$f" | cut -d' ' -f1) $(stat -c %s "$f") $f"
      done; } >Release
    cd - >/dev/null
}

status() { # NAME [DEPENDS [VERSION]]
    printf 'Package: %s\nStatus: install ok installed\nArchitecture: amd64\nMulti-Arch: same\n' "$1"
    printf 'Version: %s\nMaintainer: t\nDescription: t\n%s\n' "${3:-1.0}" "${2:+Depends: $2
}"
}

run_case() { # NAME [taken]: the machine has taken libfoo 1.1 from bookworm-security
    root=$top/$1 repo=$top/$1/repo src=$top/$1/src
    rm -rf "$root"
    for s in bookworm bookworm-security bookworm-backports; do
        for a in amd64 i386; do mkdir -p "$repo/dists/$s/main/binary-$a"
            touch "$repo/dists/$s/main/binary-$a/Packages"; done
    done
    for a in amd64 i386; do deb libfoo 1.0 $a bookworm; deb libfoo 1.1 $a bookworm-security; done
    deb wine64 1.0 amd64 bookworm libfoo
    deb wine32 1.0 i386 bookworm libfoo
    deb gstreamer1.0-plugins-base 1.0 i386 bookworm
    deb gstreamer1.0-plugins-good 1.0 i386 bookworm
    deb qemu-user 1:7.2 amd64 bookworm
    deb qemu-user 1:10.0 amd64 bookworm-backports
    for s in bookworm bookworm-security bookworm-backports; do release $s; done
    # The mirror has moved on: this index is newer than its Release file.
    printf 'Package: libfoo\nVersion: 1.2\nArchitecture: i386\n\n' \
        >>"$repo/dists/bookworm-security/main/binary-i386/Packages"

    mkdir -p "$root/etc/apt/sources.list.d" "$root/etc/apt/apt.conf.d" \
        "$root/etc/apt/preferences.d" "$root/var/lib/dpkg"
    echo amd64 >"$root/var/lib/dpkg/arch"
    for p in $PACKAGES; do
        case $p-${2:-} in
        wine64-) ;;
        wine64-taken | pulseaudio-taken) status "$p" libfoo ;;
        *) status "$p" ;;
        esac
    done >"$root/var/lib/dpkg/status"
    [ -z "${2:-}" ] || status libfoo "" 1.1 >>"$root/var/lib/dpkg/status"
    stanza() { printf 'Types: deb\nURIs: file:%s\nSuites: %s\nComponents: main\nTrusted: yes\n\n' "$repo" "$1"; }
    { stanza bookworm; stanza bookworm-security; } >"$root/etc/apt/sources.list.d/debian.sources"
    stanza bookworm-backports >"$root/etc/apt/sources.list.d/halvory-backports.sources"
    cat >"$root/apt.conf" <<EOF
Dir "$root/";
Dir::State::status "$root/var/lib/dpkg/status";
DPkg::Options { "--admindir=$root/var/lib/dpkg"; };
APT::Get::Simulate "true";
EOF
    export APT_CONFIG="$root/apt.conf"
    # What the machine had before the i386 architecture was added.
    apt-get update -qq >/dev/null
    rc=0
    INSTALL_TRY_GAP=0 sh "$script" >"$root/out" 2>&1 || rc=$?
    sed "s/^/  $1| /" "$root/out"
}

before=$(machine)
run_case faulty
out=$root/out
check "exit 0 past the failed index" [ "$rc" = 0 ]
check "apt-get update tried again" grep -q 'apt-get update failed (try 2 of 3)' "$out"
check "wine64 and wine32:i386 with libfoo of both architectures at one version" sh -c '
    grep -q "^Inst wine64 " "$1" && grep -q "^Inst wine32:i386 " "$1" &&
    grep -qx "Inst libfoo (1.0 bookworm \[amd64\])" "$1" &&
    grep -qx "Inst libfoo:i386 (1.0 bookworm \[i386\])" "$1"' - "$out"
check "nothing from the suite whose index failed" sh -c '! grep "^Inst .*bookworm-security" "$1"' - "$out"
check "qemu-user from backports before any i386 package" awk '
    /^Inst qemu-user .*bookworm-backports/ && !q { q = NR }
    /^Inst [^ ]*:i386 / && !i { i = NR }
    END { exit !(q && i && q < i) }' "$out"
check "nothing removed" sh -c '! grep -q "^Remv" "$1"' - "$out"

# libfoo:i386 1.1 is in the index that failed: apt would remove libfoo and
# pulseaudio (amd64) to install libfoo:i386 1.0.
run_case nothing-left taken
out=$root/out
check "a non-zero exit with nothing installable" [ "$rc" != 0 ]
check "the stop names the failed index and what to try" sh -c 'grep -A1 "^install-deps.sh: nothing left" "$1" |
    grep -q "dists/bookworm-security/main/binary-i386/Packages" && grep -q "run this again" "$1"' - "$out"
check "nothing removed" sh -c '! grep -q "^Remv" "$1"' - "$out"

check "the machine's dpkg database and /etc/apt unchanged" [ "$before" = "$(machine)" ]
echo "$passes passed, $failures failed"
[ "$failures" = 0 ]
