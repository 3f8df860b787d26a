"""The end-to-end tests' side of the rig: starting Windows programs under
Wine, the driver, the desktop's top-level windows, the tray icon and its
menu, screenshots, real mouse and keys, the registry, synthesized test
sounds and recordings of what Wine plays.

Every process a test starts is ended by its own id when the test ends,
whatever way it ends.
"""
import argparse
import array
import atexit
import bisect
import collections
import glob
import os
import re
import shlex
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import mcitrace

HERE = os.path.dirname(os.path.abspath(__file__))

MAIN_CLASS = 'Halvory'
MAIN_TITLE = 'Halvory ver. 1.1'
WM_CLOSE = 0x0010
WM_COMMAND = 0x0111
WM_NULL = 0x0000
IDM_EXIT, IDM_PAUSE, IDM_RESUME, IDM_SETTINGS = 100, 101, 102, 103


def _parse_args():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument('--build', required=True)    # the x86_64 tree: the driver
    parser.add_argument('--rig', required=True)
    parser.add_argument('--exe')      # the program under test; the tree's own by default
    parser.add_argument('--tools')    # the tree whose test tools match the exe's architecture
    args, rest = parser.parse_known_args()
    return args, rest


I386_LOADER = '/usr/lib/wine/wine'


def pe_arch(path):
    """'i686' or 'x86_64': the machine a Windows exe is built for."""
    with open(path, 'rb') as f:
        head = f.read(4096)
    at = int.from_bytes(head[0x3c:0x40], 'little')
    machine = int.from_bytes(head[at + 4:at + 6], 'little')
    return {0x14c: 'i686', 0x8664: 'x86_64'}[machine]


def _read_env(rig):
    env = dict(os.environ)
    with open(os.path.join(rig, 'env.sh'), encoding='utf-8') as f:
        for line in f:
            line = line.strip()
            if line.startswith('export '):
                name, _, value = line[len('export '):].partition('=')
                env[name] = shlex.split(value)[0] if value else ''
    return env


class Rig:
    """One rig (display, prefix, sound sink) as the tests see it."""

    def __init__(self, build, rig, exe=None, tools=None):
        self.build = os.path.abspath(build)
        self.rig = os.path.abspath(rig)
        self.env = _read_env(self.rig)
        self.wine = self.env['WINELOADER']
        self.display = self.env['DISPLAY']
        self.exe = os.path.abspath(exe or os.path.join(self.build, 'halvory.exe'))
        # The folder a user unpacked the release into: the default chime is there.
        self.exe_dir = os.path.dirname(self.exe)
        self.arch = pe_arch(self.exe)
        self.tools = os.path.abspath(tools or self.build)
        self.driver_exe = os.path.join(self.build, 'tests', 'driver.exe')
        self.tmp = tempfile.mkdtemp(prefix='e2e.', dir=os.path.join(self.rig, 'tmp'))
        self.procs = []
        self.started = []       # every process of the run, for its evidence
        atexit.register(self.kill_all)

    # -- processes -------------------------------------------------------
    def spawn(self, argv, env=None, cwd=None, log=None):
        """Starts a process in the rig; it is ended by id at the end."""
        log = log or os.path.join(self.tmp, 'proc%d.log' % len(self.procs))
        out = open(log, 'wb')
        started = time.monotonic()
        p = subprocess.Popen(argv, env=env or self.env, cwd=cwd or self.tmp, stdin=subprocess.DEVNULL,
                             stdout=out, stderr=subprocess.STDOUT)
        p.started = started
        out.close()     # the child has its own handle on the log
        p.log = log
        self.procs.append(p)
        self.started.append(p)
        return p

    def loader(self, exe):
        """The Wine loader for an exe. A 32-bit one gets the 32-bit loader
        (emulated here), under which it keeps the process id it started
        with, so it can be waited for and ended by that id."""
        return I386_LOADER if pe_arch(exe) == 'i686' else self.wine

    def wine_spawn(self, exe, *args, env=None, cwd=None, log=None):
        return self.spawn([self.loader(exe), exe] + list(args), env=env, cwd=cwd, log=log)

    def kill_all(self):
        for p in self.procs:
            if p.poll() is None:
                p.kill()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    pass
        self.procs = []

    def driver(self, *args, check=True, timeout=30):
        """Runs one driver command; returns its output.

        A launch that never reached the driver (seen once under load: Wine
        exited 1 with nothing said) is tried once more; the driver marks its
        start on stderr, so a command that ran and failed is never repeated."""
        for attempt in (1, 2):
            rc, text, errors = self._driver_once(args, timeout)
            finished = re.search(r'driver: finished (-?\d+)', errors)
            if finished:
                rc = int(finished.group(1))     # the command's own result
            if finished or 'driver: started' in errors or attempt == 2:
                break
            print('driver %s did not start (rc %d, stderr %r); trying again'
                  % (' '.join(map(str, args)), rc, errors), file=sys.stderr)
            time.sleep(0.5)
        if check and rc != 0:
            raise AssertionError('driver %s failed (%d): %s\nstderr: %s'
                                 % (' '.join(map(str, args)), rc, text, errors))
        return text.strip()

    def _driver_once(self, args, timeout):
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            rc = subprocess.call([self.wine, self.driver_exe] + [str(a) for a in args], env=self.env,
                                 stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                 timeout=timeout, cwd=self.tmp)
            out.seek(0)
            text = out.read().decode('utf-8', 'replace')
            err.seek(0)
            # Wine's own complaints, for when the driver never ran.
            errors = err.read().decode('utf-8', 'replace')[-600:]
        return rc, text, errors

    # -- the program under test -------------------------------------------
    def start_halvory(self, *args, cwd=None, env=None, exe=None):
        return self.wine_spawn(exe or self.exe, *args, cwd=cwd, env=env)

    def wait_main_window(self, timeout_ms=20000):
        out = self.driver('wait', MAIN_CLASS, MAIN_TITLE, timeout_ms, check=False)
        hwnd = int(out.split()[-1], 16) if out else 0
        return hwnd

    def main_window(self):
        out = self.driver('find', MAIN_CLASS, MAIN_TITLE, check=False)
        return int(out.split()[-1], 16) if out else 0

    def post(self, hwnd, msg, wparam=0, lparam=0):
        self.driver('post', hex(hwnd), msg, wparam, lparam)

    def command(self, hwnd, command_id):
        self.post(hwnd, WM_COMMAND, command_id, 0)

    def close_leftovers(self):
        """Ends a Halvory left running by an earlier test."""
        hwnd = self.main_window()
        if hwnd:
            self.post(hwnd, WM_CLOSE)
            self.driver('gone', hex(hwnd), 10000, check=False)

    # -- registry (HKCU\Software\Orvel) ----------------------------------
    def reg_clear(self):
        self.driver('regdel')

    def reg_set_wait(self, ms):
        self.driver('regset-dword', 'Wait', ms)

    def reg_set_sound(self, path):
        self.driver('regset-sz', 'SoundFile', (path.encode('cp932') + b'\0').hex())

    def reg_get(self, name):
        """(type, bytes) of a value, or None when missing; 'nokey' when the key is absent."""
        out = self.driver('regget', name)
        if out == 'nokey':
            return 'nokey'
        if out == 'missing':
            return None
        kind, size, data = (out.split() + [''])[:3]
        return int(kind), bytes.fromhex(data)

    # -- screen and input --------------------------------------------------
    def screenshot(self, path=None):
        path = path or os.path.join(self.tmp, 'shot%.3f.png' % time.time())
        subprocess.check_call(['import', '-display', self.display, '-window', 'root', path],
                              env=self.env, stderr=subprocess.DEVNULL)
        return path

    def xdotool(self, *args):
        subprocess.check_call(['xdotool'] + [str(a) for a in args], env=self.env)


def windows_path(path):
    """A Linux path as Wine's programs see it (drive Z: is the root)."""
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def start_clean(rig, wait_ms=None, sound=None, cwd=None, env=None, traced=False, exe=None):
    """Starts a fresh Halvory (the rig's exe, or a copy of it) with the given
    stored settings (None: absent); returns (process, main window). traced:
    Wine's media trace goes to the process's log (see mcitrace)."""
    rig.close_leftovers()
    rig.reg_clear()
    if wait_ms is not None:
        rig.reg_set_wait(wait_ms)
    if sound is not None:
        rig.reg_set_sound(sound)
    if traced:
        env = mcitrace.trace_env(env or rig.env)
    proc = rig.start_halvory(cwd=cwd, env=env, exe=exe)
    hwnd = rig.wait_main_window()
    if not hwnd:
        raise AssertionError('Halvory did not start (%s); its log ends:\n%s' % (
            'still running' if proc.poll() is None else 'ended with %s' % proc.returncode, tail(proc.log)))
    proc.window_thread = int(rig.driver('pid', hex(hwnd)).split()[1])
    return proc, hwnd


def main_windows_while_running(rig, proc, timeout=30):
    """Watches a start that must make no window of ours (a close request
    with none running, a start that finds another instance) until it ends;
    returns (the main windows seen while it ran, its exit code or 'still
    running')."""
    windows = []
    deadline = time.monotonic() + timeout
    while proc.poll() is None and not windows and time.monotonic() < deadline:
        windows = top_windows(rig, cls=MAIN_CLASS)
    try:
        return windows, proc.wait(max(0.1, deadline - time.monotonic()))
    except subprocess.TimeoutExpired:
        return windows, 'still running'


def wait_for(predicate, timeout, step=0.1):
    """Polls until predicate() is true or timeout seconds have passed;
    returns its last value."""
    deadline = time.monotonic() + timeout
    value = predicate()
    while not value and time.monotonic() < deadline:
        time.sleep(step)
        value = predicate()
    return value


def assert_period(test, instants, seconds, gaps=4, within=0.03):
    """Chimes at these instants come once every `seconds`: over at least
    `gaps` gaps, their median is within `within` of it. The median, so that
    a chime a loaded machine made late does not decide, and a chime that is
    a few percent late every time does."""
    between = [b - a for a, b in zip(instants, instants[1:])]
    test.assertGreaterEqual(len(between), gaps, 'too few chimes to judge their period: %s' % instants)
    median = statistics.median(between)
    test.assertLessEqual(abs(median - seconds), seconds * within,
                         'median gap %.3f s for %s s: %s' % (median, seconds, ['%.3f' % g for g in between]))


# -- faults of the platform ----------------------------------------------------
def mp3_stop_hung(log, least=5.0):
    """The MCI_STOP that a traced process sent to an MP3 (MPEG) device and
    that has not returned for `least` seconds, or None."""
    driver_of = {}
    now = time.monotonic() + mcitrace.raw_minus_monotonic()
    for c in mcitrace.parse(log):
        if c.command == 'MCI_OPEN' and c.opened:
            driver_of[c.opened] = c.driver
        elif (c.command == 'MCI_STOP' and c.rc is None and driver_of.get(c.device) == 'MPEGVIDEO'
              and now - c.time >= least):
            return c
    return None


def control_mp3_stops(rig, mp3, stops=30, interval_ms=400):
    """Runs the minimal chime program (bench/chime.c), of the architecture
    of the exe under test, on an MP3 in this rig until it has stopped the
    MPEG device `stops` times or one of its stops never returns (it hangs
    there, or dies there); returns (failed so, what it did)."""
    exe = os.path.join(rig.tools, 'tests', 'chime.exe')
    p = rig.wine_spawn(exe, str(interval_ms), windows_path(mp3), env=mcitrace.trace_env(rig.env),
                       log=os.path.join(rig.tmp, 'control.%d.log' % len(rig.procs)))
    try:
        deadline = time.monotonic() + stops * interval_ms / 1000.0 * 3 + 30
        while time.monotonic() < deadline:
            time.sleep(1.0)
            ended = p.poll() is not None
            done = [c for c in mcitrace.parse(p.log) if c.command == 'MCI_STOP' and c.rc == 0]
            # A stop it died in never returns either.
            if mp3_stop_hung(p.log, least=0 if ended else 5.0):
                print('the minimal program\'s log ends:\n' + tail(p.log, 8), file=sys.stderr)
                how = 'died (exit code %s)' % p.returncode if ended else 'hung'
                return True, ('the minimal program failed the same way: its stop %d to its MP3 '
                              'device never returned, it %s' % (len(done) + 1, how))
            if len(done) >= stops:
                return False, 'the minimal program stopped the same MP3 %d times' % len(done)
            if ended:
                break
        print('the minimal program\'s log ends:\n' + tail(p.log, 8), file=sys.stderr)
        return False, 'the minimal program got through %d stops and then %s' % (
            len(done), 'ended' if p.poll() is not None else 'ran out of time')
    finally:
        if p.poll() is None:
            p.kill()
        p.wait(10)


_mp3_controls = {}


def judge_mp3_stop_hang(test, rig, log, mp3, ended=False):
    """For a case whose traced process got stuck, or ended (`ended`) in the
    middle of a command: when that is an MCI_STOP to its MP3 device that
    never returned, runs the minimal program on the same file in the same
    rig, then skips the case if that fails the same way (Wine 10's MPEG
    device does now and then: a fault of the platform, said in the output)
    and fails it if not. Returns when there is no such stop."""
    stuck = mp3_stop_hung(log, least=0 if ended else 5.0)
    if not stuck:
        return
    print('its MCI_STOP to the MP3 device never returned; its log ends:\n' + tail(log, 5),
          file=sys.stderr)
    # Two judgements of one case may ask: the control is run once.
    if log not in _mp3_controls:
        _mp3_controls[log] = control_mp3_stops(rig, mp3)
    hung, control = _mp3_controls[log]
    said = 'its MCI_STOP (MCI_WAIT) to the MP3 device %d never returned; control: %s' % (stuck.device, control)
    print(said, file=sys.stderr, flush=True)
    if hung:
        test.skipTest('a fault of the platform: ' + said)
    test.fail('Halvory hung: ' + said)


def control_menu_key(rig, tries=3):
    """Starts the minimal tray program (bench/tray.c), of the architecture of
    the exe under test and with Halvory's running icon, right-clicks its
    icon and presses the key of its menu's one item, which ends it; returns
    (the key was taken, what happened).

    Whether Wine 10 hands a tray menu its key depends on what the desktop
    did before (after a dialog took a key, the next menu gets its key and
    the one after that does not), so one try says little: it is tried a few
    times in a row, and one key lost shows that the platform loses them for
    a right program too."""
    # Its icon is Halvory's picture: while Halvory's is still shown, the
    # click could go to that one.
    if wait_tray_look(rig, 'none')[0] != 'none':
        raise AssertionError('the control cannot run: a Halvory icon is still shown')
    for n in range(1, tries + 1):
        taken, said = _menu_key_once(rig)
        if not taken:
            return False, said + ' (try %d of %d)' % (n, tries)
        wait_tray_look(rig, 'none')
    return True, 'the minimal program\'s menu took the key %d times of %d' % (tries, tries)


def _menu_key_once(rig):
    exe = os.path.join(rig.tools, 'tests', 'tray.exe')
    p = rig.wine_spawn(exe, windows_path(rig.exe))
    try:
        right_click_tray_icon(rig)
        menus = wait_for(lambda: top_windows(rig, cls='#32768', visible=True), 8, 0.2)
        if not menus:
            return False, 'the minimal program\'s menu did not open'
        rect = parse_info(rig.driver('info', hex(menus[0].hwnd)))['rect']
        rig.xdotool('mousemove', (rect[0] + rect[2]) // 2, rect[1] + 4)
        time.sleep(0.2)
        rig.xdotool('key', 'c')
        try:
            p.wait(8)
            return True, 'the minimal program\'s menu took the key'
        except subprocess.TimeoutExpired:
            return False, 'the minimal program\'s menu did not take the key either'
    finally:
        if p.poll() is None:
            rig.xdotool('mousemove', 10, 10, 'click', 1)     # closes its menu
            p.kill()
        p.wait(10)


def assert_ended_with_0(test, rig, proc, code, mp3):
    """The judgement that the process ended with code 0, as a subtest of its
    own: where it hung or died in a stop to its MP3 device and the minimal
    program does the same, only this judgement is skipped."""
    with test.subTest('ends with code 0'):
        if code != 0:
            judge_mp3_stop_hang(test, rig, proc.log, mp3, ended=proc.poll() is not None)
        test.assertEqual(code, 0, tail(proc.log))


_DEATH = re.compile(r'Unhandled (.+?) at address ([0-9A-Fa-f]+) \(thread ([0-9A-Fa-f]+)\)')


def media_driver_at(address, arch):
    """The system media driver (Wine's) whose image, where it loads, holds
    an address; None when none does."""
    for name in ('mciwave.dll', 'mciseq.dll', 'mciqtz32.dll'):
        for path in glob.glob('/usr/lib/*/wine/%s-windows/%s' % ('i386' if arch == 'i686' else 'x86_64', name)):
            with open(path, 'rb') as f:
                head = f.read(1024)
            opt = int.from_bytes(head[0x3c:0x40], 'little') + 24     # the optional header
            base = (int.from_bytes(head[opt + 28:opt + 32], 'little') if arch == 'i686'
                    else int.from_bytes(head[opt + 24:opt + 32], 'little'))
            if base <= address < base + int.from_bytes(head[opt + 56:opt + 60], 'little'):
                return name
    return None


def platform_death(proc, arch):
    """What Wine said when a process died of a fault inside a system media
    driver, in a thread other than its window's; None otherwise. Our code
    runs on the window's thread alone: a driver's own thread (Wine's wave
    driver plays on one, and unloads itself under it when the device is
    closed as it ends) is the platform's."""
    with open(proc.log, errors='replace') as f:
        m = _DEATH.search(f.read())
    if not m or getattr(proc, 'window_thread', None) in (None, int(m.group(3), 16)):
        return None
    driver = media_driver_at(int(m.group(2), 16), arch)
    return driver and '%s, in %s' % (m.group(0), driver)


class _Result(unittest.TextTestResult):
    """A case whose program a fault of the platform ended (platform_death)
    is said and skipped, with the failure it led to; any other failure
    stands."""

    def startTest(self, test):
        self._since = len(RIG.started)
        super().startTest(test)

    def _platform(self, test, err):
        for proc in RIG.started[getattr(self, '_since', 0):]:
            said = platform_death(proc, RIG.arch)
            if said:
                print('%s\n%s' % (self._exc_info_to_string(err, test), said), file=sys.stderr, flush=True)
                self.addSkip(test, 'a fault of the platform: ' + said)
                return True
        return False

    def addFailure(self, test, err):
        if not self._platform(test, err):
            super().addFailure(test, err)

    def addError(self, test, err):
        if not self._platform(test, err):
            super().addError(test, err)

    def addSubTest(self, test, subtest, err):
        if err is None or not self._platform(subtest, err):
            super().addSubTest(test, subtest, err)


def tail(path, lines=15):
    """The last lines of a process's log (Wine's output, the trace), as
    evidence when it did something by itself."""
    try:
        with open(path, errors='replace') as f:
            return ''.join(collections.deque(f, lines))
    except OSError as e:
        return str(e)


# -- windows -------------------------------------------------------------------
Window = collections.namedtuple('Window', 'hwnd pid owner visible cls title')


def top_windows(rig, cls=None, title=None, pid=None, visible=None):
    """The desktop's top-level windows, each a Window, filtered by class,
    title, Windows process id and visibility where given."""
    result = []
    for line in rig.driver('windows').splitlines():
        head, _, name = line.partition(' title=')
        head, _, klass = head.partition(' class=')
        fields = dict(part.split('=', 1) for part in head.split())
        w = Window(int(fields['hwnd'], 16), int(fields['pid']), int(fields['owner'], 16),
                   fields['visible'] == '1', klass, name)
        if ((cls is None or w.cls == cls) and (title is None or w.title == title)
                and (pid is None or w.pid == pid) and (visible is None or w.visible == visible)):
            result.append(w)
    return result


def parse_info(line):
    """One line of the driver's info/children output as a dict."""
    fields = {}
    for part in line.split():
        name, _, value = part.partition('=')
        fields[name] = value
    return {
        'hwnd': int(fields['hwnd'], 16),
        'class': fields['class'],
        'id': int(fields['id']) & 0xFFFF,
        'style': int(fields['style'], 16),
        'exstyle': int(fields['exstyle'], 16),
        'enabled': fields['enabled'] == '1',
        'visible': fields['visible'] == '1',
        'rect': tuple(int(v) for v in fields['rect'].split(',')),
    }


# -- the tray ------------------------------------------------------------------
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(HERE)), 'res', 'art'))
import make_art  # noqa: E402


def _icon_rows(light_on_dark):
    """The 16 rows of a look's 16x16 icon as the screen shows it, RGB bytes,
    drawn by the program's own art script (16 colours, fully opaque, so the
    screen shows exactly these pixels whatever is behind them)."""
    return [b''.join(bytes(make_art.PALETTE[make_art.shade(c, light_on_dark)]) for c in row)
            for row in make_art.coverage(16)]


LOOKS = {'running': _icon_rows(True), 'paused': _icon_rows(False)}


def screen_rgb(png):
    """(width, height, RGB bytes) of a screenshot."""
    ppm = subprocess.check_output(['convert', png, '-depth', '8', 'ppm:-'])
    w, h = (int(v) for v in ppm.split(maxsplit=3)[1:3])
    return w, h, ppm[len(ppm) - w * h * 3:]      # the pixels end the file


def find_tray_icon(png):
    """(look, (x, y) of its centre) of Halvory's icon wherever the desktop
    shows it, found by its picture: 'running', 'paused', or ('none', None)."""
    w, h, data = screen_rgb(png)
    for look, rows in LOOKS.items():
        # Looked for by its most varied row, then checked whole.
        key = max(range(16), key=lambda r: len({rows[r][i:i + 3] for i in range(0, 48, 3)}))
        at = data.find(rows[key])
        while at >= 0:
            x, y = at // 3 % w, at // 3 // w - key
            if (at % 3 == 0 and x + 16 <= w and 0 <= y <= h - 16 and
                    all(data[((y + r) * w + x) * 3:((y + r) * w + x + 16) * 3] == rows[r] for r in range(16))):
                return look, (x + 8, y + 8)
            at = data.find(rows[key], at + 1)
    return 'none', None


def tray_look(png):
    """'running' (light glyph on black), 'paused' (dark on white) or 'none'."""
    return find_tray_icon(png)[0]


def wait_tray_icon(rig, want, timeout=8.0):
    """Screenshots until the tray shows the wanted look or time runs out;
    returns (look, centre, screenshot) of the last one."""
    last = {}

    def shown():
        last['shot'] = rig.screenshot()
        last['look'], last['centre'] = find_tray_icon(last['shot'])
        return last['look'] == want
    wait_for(shown, timeout, 0.2)
    return last['look'], last['centre'], last['shot']


def wait_tray_look(rig, want, timeout=8.0):
    """(look, screenshot) once the tray shows the wanted look, or when time ran out."""
    look, _, shot = wait_tray_icon(rig, want, timeout)
    return look, shot


def right_click_tray_icon(rig):
    """A real right-click on the tray icon, where the desktop shows it. The
    pointer leaves first, so that the click comes after a fresh move onto
    the icon."""
    seen = {}

    def shown():
        seen['shot'] = rig.screenshot()
        return find_tray_icon(seen['shot'])[1]
    centre = wait_for(shown, 8.0, 0.2)
    if not centre:
        raise AssertionError('no tray icon of ours on the screen (%s)' % seen['shot'])
    rig.xdotool('mousemove', centre[0] - 200, centre[1] - 200)
    time.sleep(0.2)
    rig.xdotool('mousemove', centre[0], centre[1], 'click', 3)
    return centre


def open_tray_menu(rig, timeout=8.0):
    """Right-clicks the tray icon and waits for its menu window; returns
    the menu's rect (left, top, right, bottom), or an assertion."""
    right_click_tray_icon(rig)
    menus = wait_for(lambda: top_windows(rig, cls='#32768', visible=True), timeout, 0.2)
    if not menus:
        raise AssertionError('the tray menu did not open')
    return parse_info(rig.driver('info', hex(menus[0].hwnd)))['rect']


def pixels(png, x, y, w, h):
    """(x, y, (r, g, b)) of every pixel in a region of a picture."""
    out = subprocess.check_output(['convert', png, '-crop', '%dx%d+%d+%d' % (w, h, x, y), '+repage',
                                   '-depth', '8', 'txt:-'], text=True)
    for line in out.splitlines()[1:]:
        try:
            xy, rest = line.split(':', 1)
            px, py = (int(v) for v in xy.split(','))
            r, g, b = (int(float(v)) for v in rest.split('(')[1].split(')')[0].split(',')[:3])
        except (IndexError, ValueError):
            continue
        yield px + x, py + y, (r, g, b)


# -- sounds ----------------------------------------------------------------
def make_tone(path, freq, seconds, volume=0.5):
    """A 16-bit tone of one pitch, with short fades so onsets are clean."""
    args = ['sox', '-n', '-r', '44100', '-b', '16', '-c', '1', path, 'synth', str(seconds), 'sine',
            str(freq), 'vol', str(volume), 'fade', '0.005', str(seconds), '0.01']
    subprocess.check_call(args, stderr=subprocess.DEVNULL)
    return path


def make_two_part_tone(path, freq_a, freq_b, seconds_a, seconds_b):
    """A WAV of one pitch, then another."""
    a = path + '.a.wav'
    b = path + '.b.wav'
    make_tone(a, freq_a, seconds_a)
    make_tone(b, freq_b, seconds_b)
    subprocess.check_call(['sox', a, b, path])
    os.remove(a)
    os.remove(b)
    return path


def make_mp3(path, freq, seconds):
    wav = path + '.wav'
    make_tone(wav, freq, seconds)
    subprocess.check_call(['lame', '--quiet', '-b', '128', wav, path])
    os.remove(wav)
    return path


RATE = 44100


def loud_limit(threshold_dbfs=-30.0):
    """The sample size above which a sample counts as sound."""
    return int(32768 * 10 ** (threshold_dbfs / 20))


class Recorder:
    """Records the rig's null sink in real time; onsets come from the samples.

    The recording's clock is its sample count. It is tied to the test's
    clock (time.monotonic) by the reads: after each one, the instant and the
    count read so far are kept. Every sample read by an instant had been
    played into the sink before it, so a sound caused by something done at
    an instant lies at or after that instant's place on the recording
    (at()), however late the reads come on a loaded machine.
    """

    def __init__(self, rig):
        self.rig = rig
        self.samples = array.array('h')
        self._pending = b''
        self._read_at = []          # instants of the reads (time.monotonic) ...
        self._read_upto = []        # ... and the samples read by each
        self.t0 = None
        self.proc = None
        self.thread = None

    def start(self):
        env = dict(self.rig.env)
        env.pop('LC_ALL', None)
        self.proc = subprocess.Popen(['parec', '-d', 'cap.monitor', '--raw', '--format=s16le',
                                      '--rate=%d' % RATE, '--channels=1', '--latency-msec=10'],
                                     env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     stdin=subprocess.DEVNULL)
        self.rig.procs.append(self.proc)
        self.thread = threading.Thread(target=self._pump, daemon=True)
        self.thread.start()
        deadline = time.monotonic() + 5
        while self.t0 is None and time.monotonic() < deadline:
            time.sleep(0.01)
        if self.t0 is None:
            raise AssertionError('the recorder gave no data')
        return self

    def _pump(self):
        fd = self.proc.stdout.fileno()
        got = 0
        while True:
            chunk = os.read(fd, 8820)
            if not chunk:
                break
            self._keep(chunk)
            got += len(chunk)
            now = time.monotonic()
            # The read that came soonest after its samples places sample 0
            # best on the test's clock (for figures, not for judgements).
            start = now - got // 2 / RATE
            if self.t0 is None or start < self.t0:
                self.t0 = start
            self._read_upto.append(got // 2)
            self._read_at.append(now)

    def _keep(self, chunk):
        """Keeps the raw bytes read; a chunk may end in half a sample."""
        self._pending += chunk
        usable = len(self._pending) // 2 * 2
        self.samples.frombytes(self._pending[:usable])
        self._pending = self._pending[usable:]

    def now(self):
        """Seconds of recording so far, on the recording's clock."""
        return len(self.samples) / RATE

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(5)
        if self.thread:
            self.thread.join(5)
        return self

    def at(self, t_monotonic):
        """An instant of the test's clock on the recording's: the end of
        what had been read by then. A sound that something done at that
        instant caused starts at or after it; a sound that ends before it
        was heard before the instant. For an instant after the last read
        so far, waits for the next one."""
        deadline = max(time.monotonic(), t_monotonic) + 2.0
        while ((not self._read_at or self._read_at[-1] <= t_monotonic) and self.thread.is_alive()
               and time.monotonic() < deadline):
            time.sleep(0.005)
        n = len(self._read_upto)
        k = bisect.bisect_right(self._read_at, t_monotonic, 0, n) - 1
        if k < 0:
            return 0.0
        # Only when the recorder stalled: counted on from its last read.
        extra = max(0.0, t_monotonic - self._read_at[k]) if k == n - 1 else 0.0
        return self._read_upto[k] / RATE + extra

    def sounds(self, threshold_dbfs=-30.0, merge_gap=0.03):
        """[(start, end, freq)] of every stretch of sound, times in seconds
        of the recording; freq from zero crossings."""
        limit = loud_limit(threshold_dbfs)
        s = self.samples
        gap = int(merge_gap * RATE)
        spans = []
        start = None
        last = None
        for i in range(len(s)):
            if abs(s[i]) > limit:
                if start is None:
                    start = i
                elif i - last > gap:
                    spans.append((start, last))
                    start = i
                last = i
        if start is not None:
            spans.append((start, last))
        result = []
        for a, b in spans:
            result.append((a / RATE, b / RATE, self._freq(a, b, limit)))
        return result

    def _freq(self, a, b, limit=loud_limit()):
        """The pitch between two samples: the median over the sounding 50 ms
        windows, so a dropout of a loaded machine (silent milliseconds inside
        a stretch) spoils one window at most, not the whole estimate."""
        window = RATE // 20
        rates = [self._crossing_rate(i, i + window) for i in range(a, b - window + 1, window)
                 if max(map(abs, self.samples[i:i + window])) > limit]
        return statistics.median(rates) if len(rates) >= 2 else self._crossing_rate(a, b)

    def _crossing_rate(self, a, b):
        s = self.samples
        crossings = 0
        for i in range(a + 1, b + 1):
            if (s[i - 1] < 0) != (s[i] < 0):
                crossings += 1
        duration = max(b - a, 1) / RATE
        return crossings / 2 / duration

    def freq_between(self, t_from, t_to):
        a = max(0, int(t_from * RATE))
        b = min(len(self.samples) - 1, int(t_to * RATE))
        if b <= a:
            return 0.0
        return self._freq(a, b)

    def save_wav(self, path):
        import wave
        with wave.open(path, 'wb') as w:
            w.setnchannels(1)
            w.setsampwidth(2)
            w.setframerate(RATE)
            w.writeframes(self.samples.tobytes())


# -- running a test file -------------------------------------------------------
RIG = None


def main():
    """Runs the calling module's unittest cases inside the rig."""
    global RIG
    args, rest = _parse_args()
    RIG = Rig(args.build, args.rig, args.exe, args.tools)
    built = os.path.join(RIG.tools, 'halvory.exe')
    if os.path.exists(built) and os.path.getmtime(built) > os.path.getmtime(RIG.exe):
        sys.exit('%s is older than %s: stage the release again (make release)' % (RIG.exe, built))
    print('testing %s (%s)' % (RIG.exe, RIG.arch), file=sys.stderr, flush=True)

    def on_signal(signum, frame):
        RIG.kill_all()
        sys.exit(1)
    signal.signal(signal.SIGTERM, on_signal)
    try:
        unittest.main(module='__main__', argv=[sys.argv[0]] + rest,
                      testRunner=unittest.TextTestRunner(resultclass=_Result, verbosity=2))
    finally:
        RIG.kill_all()
