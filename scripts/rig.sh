#!/bin/bash
# The project's private Wine rig: a Japanese (code page 932) Wine prefix, a
# private Xvfb display with Wine's virtual desktop (held open, see
# rig-hold.c), a private PulseAudio null sink that can be recorded, and a
# persistent wineserver.  Nothing is written outside the rig folder but the
# sink's socket (see pulse_dir), and every process started here is ended by
# its id.
#
#   rig.sh up   RIG   start everything (idempotent while it runs)
#   rig.sh down RIG   end everything that "up" started
#   rig.sh build RIG  build the rig's desktop holder (a Windows program) only
#
# With RIG_DISPLAY set (":0"), "up" uses that display instead of its own Xvfb.
#
# The golden prefix (slow to make) is kept between runs in RIG/golden and
# remade when this script changes; each "up" gives the run a fresh copy.
set -eu

cmd=${1:?usage: rig.sh up|down|build RIG}
RIG=$(mkdir -p "${2:?rig folder}" && cd "$2" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64
# Rigs of one checkout may share the golden prefix (RIG_GOLDEN); it is made
# under a lock, so two rigs starting at once do not both make it.
GOLDEN=${RIG_GOLDEN:-$RIG/golden}

# A unix socket's path holds 107 bytes, which a rig in a deep checkout passes:
# the sink's socket has a short folder of its own, removed by "down".
pulse_dir() {
    local d
    d=$(cat "$RIG/pulse.dir" 2>/dev/null) || d=""
    if [ -z "$d" ] || ! [ -d "$d" ]; then
        d=$(mktemp -d /tmp/halvory-pulse.XXXXXX)
        echo "$d" >"$RIG/pulse.dir"
    fi
    echo "$d"
}

remove_pulse_dir() {
    local d
    d=$(cat "$RIG/pulse.dir" 2>/dev/null) || return 0
    case $d in /tmp/halvory-pulse.*) rm -rf "$d" ;; esac
    rm -f "$RIG/pulse.dir"
}

write_env() {
    local display=$1
    cat >"$RIG/env.sh" <<ENV
export RIG='$RIG'
export HOME='$RIG/home'
export XDG_RUNTIME_DIR='$RIG/run'
export XDG_CONFIG_HOME='$RIG/home/.config'
export XDG_CACHE_HOME='$RIG/home/.cache'
export LOCPATH='$RIG/locale'
export LC_ALL=ja_JP.UTF-8
export LANG=ja_JP.UTF-8
export DISPLAY=':$display'
export WINEPREFIX='$RIG/prefix'
export WINEARCH=win64
export WINELOADER=$WINE
export WINESERVER=$WINESERVER
export WINEDLLOVERRIDES='mscoree,mshtml=;winemenubuilder.exe=d'
export WINEDEBUG=-all
export PULSE_SERVER='unix:$(pulse_dir)/native'
export PULSE_COOKIE='$RIG/pulse/cookie'
export PULSE_RUNTIME_PATH='$RIG/pulse'
ENV
}

# A zombie (ended, not yet reaped: init may reap late) answers kill -0: ended.
alive() {
    [ -n "${1:-}" ] && kill -0 "$1" 2>/dev/null || return 1
    case $(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null) in Z*) return 1 ;; esac
}

make_locale() {
    [ -d "$RIG/locale/ja_JP.UTF-8" ] && return 0
    mkdir -p "$RIG/locale"
    localedef -i ja_JP -f UTF-8 "$RIG/locale/ja_JP.UTF-8" >/dev/null 2>&1 || true
    [ -d "$RIG/locale/ja_JP.UTF-8" ] || { echo "rig: cannot make the ja_JP.UTF-8 locale" >&2; exit 1; }
}

start_xvfb() {
    if [ -f "$RIG/xvfb.pid" ] && alive "$(cat "$RIG/xvfb.pid")"; then return 0; fi
    rm -f "$RIG/display"
    # setsid: detached from the caller's process tree, so that a test runner
    # killing a timed-out test does not take the display with it.
    setsid Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -ac \
        3>"$RIG/display" </dev/null >"$RIG/log/xvfb.log" 2>&1 &
    echo $! >"$RIG/xvfb.pid"
    for _ in $(seq 100); do [ -s "$RIG/display" ] && break; sleep 0.05; done
    [ -s "$RIG/display" ] || { echo "rig: Xvfb did not start" >&2; exit 1; }
}

start_pulse() {
    if [ -f "$RIG/pulse.pid" ] && alive "$(cat "$RIG/pulse.pid")"; then return 0; fi
    local sock
    sock=$(pulse_dir)/native
    rm -f "$sock"
    mkdir -p "$RIG/pulse"
    cat >"$RIG/pulse/default.pa" <<PA
load-module module-null-sink sink_name=cap rate=44100 channels=2
set-default-sink cap
set-default-source cap.monitor
load-module module-native-protocol-unix auth-anonymous=1 socket=$sock
PA
    ( . "$RIG/env.sh" 2>/dev/null; unset LC_ALL LANG
      setsid pulseaudio -n -F "$RIG/pulse/default.pa" --daemonize=no \
          --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes \
          </dev/null >"$RIG/log/pulse.log" 2>&1 & echo $! >"$RIG/pulse.pid" )
    for _ in $(seq 100); do [ -S "$sock" ] && break; sleep 0.05; done
    [ -S "$sock" ] || { echo "rig: PulseAudio did not start" >&2; exit 1; }
}

reg_file() {
    # regedit wants UTF-16 with a byte order mark for the Japanese font names.
    printf '\xff\xfe' >"$2"
    iconv -f UTF-8 -t UTF-16LE "$1" >>"$2"
}

make_golden() {
    mkdir -p "$(dirname "$GOLDEN")"
    exec 9>"$GOLDEN.lock"
    flock 9
    make_golden_locked
    exec 9>&-
}

make_golden_locked() {
    local stamp version
    # A prefix belongs to the Wine that made it.
    version=$("$WINE" --version 2>/dev/null || true)
    stamp=$( (cat "$HERE/rig.sh"; echo "$version") | md5sum | cut -d' ' -f1)
    # 32-bit programs need the prefix's 32-bit half, which only a prefix made
    # while 32-bit code can run (qemu-i386 registered with binfmt_misc) has.
    if [ -f "$GOLDEN/.halvory-ready" ] && [ "$(cat "$GOLDEN/.halvory-ready")" = "$stamp" ] &&
       { [ -f "$GOLDEN/drive_c/windows/syswow64/kernel32.dll" ] ||
         [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; }; then
        return 0
    fi
    rm -rf "$GOLDEN"
    ( . "$RIG/env.sh" 2>/dev/null; export WINEPREFIX="$GOLDEN"
      "$WINE" wineboot -i >"$RIG/log/wineboot.log" 2>&1 </dev/null
      cat >"$RIG/tmp/golden.reg.txt" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Explorer]
"Desktop"="test"

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]
"test"="1024x768"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"ＭＳ Ｐゴシック"="IPAPGothic"
"MS PGothic"="IPAPGothic"
"MS UI Gothic"="IPAPGothic"
"ＭＳ ゴシック"="IPAGothic"
"MS Gothic"="IPAGothic"
"MS Shell Dlg"="IPAPGothic"
"MS Shell Dlg 2"="IPAPGothic"
REG
      # Wine 9 and later show a desktop's tray in a small window at the top
      # left unless the desktop has the shell's taskbar, which Windows always
      # has; and they draw menus, captions and tooltips in Tahoma, which has
      # no Japanese: Japanese Windows links it to a Japanese font.
      newer=""
      case $version in wine-[0-8].*) ;; *) newer=1; cat >>"$RIG/tmp/golden.reg.txt" <<'REG'

[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops\test]
"EnableShell"=dword:00000001
REG
      esac
      sed -i 's/$/\r/' "$RIG/tmp/golden.reg.txt"
      reg_file "$RIG/tmp/golden.reg.txt" "$RIG/tmp/golden.reg"
      "$WINE" regedit /S "$(winepath_of "$RIG/tmp/golden.reg")" >>"$RIG/log/wineboot.log" 2>&1 </dev/null
      [ -z "$newer" ] || "$WINE" reg add \
          'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
          /v Tahoma /t REG_MULTI_SZ /d 'ipagp.ttf,IPAPGothic' /f >>"$RIG/log/wineboot.log" 2>&1 </dev/null
      for f in /usr/share/wine/fonts/* /usr/share/fonts/opentype/ipafont-gothic/*; do
          [ -e "$f" ] && ln -sf "$f" "$WINEPREFIX/drive_c/windows/Fonts/" || true
      done
      "$WINESERVER" -w )
    echo "$stamp" >"$GOLDEN/.halvory-ready"
}

winepath_of() { echo "Z:$(echo "$1" | tr / '\\')"; }

start_wineserver() {
    if [ -f "$RIG/wineserver.pid" ] && alive "$(cat "$RIG/wineserver.pid")"; then return 0; fi
    rm -rf "$RIG/prefix"
    cp -a "$GOLDEN" "$RIG/prefix"
    # The user's folders (Desktop, ...) link to the HOME of the rig that made
    # the golden prefix, maybe gone since: here, to this rig's own.
    for link in "$RIG/prefix/drive_c/users/"*/*; do
        if [ -L "$link" ]; then ln -sfn "$RIG/home" "$link"; fi
    done
    ( . "$RIG/env.sh" 2>/dev/null
      # Persistent for a minute: without it every Wine process starts cold.
      setsid "$WINESERVER" -f -p60 </dev/null >"$RIG/log/wineserver.log" 2>&1 &
      echo $! >"$RIG/wineserver.pid" )
}

build_hold() {
    [ "$RIG/hold.exe" -nt "$HERE/rig-hold.c" ] ||
        x86_64-w64-mingw32-gcc -O2 -mwindows "$HERE/rig-hold.c" -o "$RIG/hold.exe"
}

start_hold() {
    if [ -f "$RIG/hold.pid" ] && alive "$(cat "$RIG/hold.pid")"; then return 0; fi
    build_hold
    ( . "$RIG/env.sh" 2>/dev/null
      setsid "$WINE" "$RIG/hold.exe" </dev/null >"$RIG/log/hold.log" 2>&1 &
      echo $! >"$RIG/hold.pid" )
}

focus_desktop() {
    # Xvfb has no window manager, so the X input focus stays with whatever
    # window is under the pointer, and Wine 10 then drops keys typed into a
    # tray menu (a minimal tray program's too). On a user's screen the window
    # manager gives the focus to Wine's desktop window: so does the rig.
    ( . "$RIG/env.sh" 2>/dev/null
      for _ in $(seq 100); do
          win=$(xdotool search --maxdepth 1 --onlyvisible --classname explorer.exe 2>/dev/null | head -n 1)
          [ -n "$win" ] && break
          sleep 0.1
      done
      [ -n "$win" ] && xdotool windowfocus --sync "$win" ) ||
        { echo "rig: Wine's desktop window did not come" >&2; exit 1; }
}

stop_pid() {
    local f=$1 pid
    [ -f "$f" ] || return 0
    pid=$(cat "$f")
    if alive "$pid"; then
        kill "$pid" 2>/dev/null || true
        for _ in $(seq 40); do alive "$pid" || break; sleep 0.05; done
        alive "$pid" && kill -9 "$pid" 2>/dev/null || true
    fi
    rm -f "$f"
}

case $cmd in
up)
    mkdir -p "$RIG/log" "$RIG/tmp" "$RIG/home" "$RIG/run"
    chmod 700 "$RIG/run"
    make_locale
    if [ -n "${RIG_DISPLAY:-}" ]; then
        # The caller's own display (make run on a desktop): no Xvfb of ours.
        write_env "${RIG_DISPLAY#:}"
    else
        start_xvfb
        write_env "$(cat "$RIG/display")"
    fi
    start_pulse
    make_golden
    start_wineserver
    start_hold
    [ -n "${RIG_DISPLAY:-}" ] || focus_desktop
    ( . "$RIG/env.sh" 2>/dev/null
      [ "$(locale charmap 2>/dev/null)" = UTF-8 ] || { echo "rig: locale not usable" >&2; exit 1; } )
    ;;
down)
    if [ -f "$RIG/env.sh" ]; then
        # Ends every process of this prefix (explorer, services, programs under test).
        ( . "$RIG/env.sh" 2>/dev/null; timeout 20 "$WINESERVER" -k >/dev/null 2>&1 || true )
    fi
    for p in hold recorder wineserver pulse xvfb; do stop_pid "$RIG/$p.pid"; done
    remove_pulse_dir
    ;;
build)
    build_hold
    ;;
*)
    echo "usage: rig.sh up|down|build RIG" >&2; exit 2 ;;
esac
