"""The rig as the tests see it (display, Wine prefix, sound sink: see scripts/rig.sh), the processes they start
in it, and the driver, their hand inside Wine. One Program starts and ends every process a test starts: each has
its output in a log of its own and is ended by its id when the test ends, whatever way it ends."""
import collections
import contextlib
import os
import queue
import shlex
import subprocess
import sys
import tempfile
import threading
import time

import mcitrace
from resources import MAIN_CLASS, MAIN_TITLE, IDM_EXIT

HERE = os.path.dirname(os.path.abspath(__file__))
I386_LOADER = '/usr/lib/wine/wine'
WM_NULL, WM_CLOSE, WM_COMMAND = 0x0000, 0x0010, 0x0111

# Every fixed time that decides a verdict is one of these, each a multiple of one factor (HALVORY_TIME_FACTOR, 1 by
# default): a slower machine changes the factor, never a time. docs/testing.md says what each is for. A wait for an
# event ends when the event comes; its time only bounds how long a failure takes.
FACTOR = float(os.environ.get('HALVORY_TIME_FACTOR') or 1)
SHORT = 10 * FACTOR     # a window, a focus, a value, a look, a sound or an answer on its way
LONG = 30 * FACTOR      # a process to start or end, a tool to answer, a few ticks to come
WATCH = 3 * FACTOR      # how long a "nothing happens" is watched where no later event shows it
HANG = 5 * FACTOR       # a media command unanswered this long has hung
LATE = 1 * FACTOR       # how late a loaded machine's tick, or the sound it plays, may come
HOLD = 1 * FACTOR       # how long a held key or button stays held at its end
SETTLE = 0.2 * FACTOR   # the pointer's move reaches Wine before the click or key after it

# A Halvory launch logs Wine's errors, and its window class's registration: its one path to exit code 1 is a failed
# registration (after a box), so a launch that ended with a failure code before that line was ended by Wine first.
HALVORY_CHANNELS = 'err+all,+class'
REGISTERS_CLASS = 'trace:class:NtUserRegisterClassExWOW name=L"%s"' % MAIN_CLASS


def ms(seconds):
    return int(seconds * 1000)


def pe_arch(path):
    """'i686' or 'x86_64': the machine a Windows exe is built for."""
    with open(path, 'rb') as f:
        head = f.read(4096)
    at = int.from_bytes(head[0x3c:0x40], 'little')
    return {0x14c: 'i686', 0x8664: 'x86_64'}[int.from_bytes(head[at + 4:at + 6], 'little')]


def windows_path(path):
    """A Linux path as Wine's programs see it (drive Z: is the root)."""
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def own_rig(command, build, name):
    """Brings a script's own rig (BUILD/NAME) up or down, with the test rigs' golden prefix; returns its folder."""
    folder = os.path.join(os.path.abspath(build), name)
    env = dict(os.environ, RIG_GOLDEN=os.environ.get('RIG_GOLDEN', os.path.join(os.path.abspath(build), 'wine-golden')))
    (subprocess.check_call if command == 'up' else subprocess.call)(
        [os.path.join(os.path.dirname(os.path.dirname(HERE)), 'scripts', 'rig.sh'), command, folder], env=env)
    return folder


def said(text):
    """A line the run's summary lists after CTest's (scripts/run-tests.sh), alone on the test runner's stream."""
    print('\n' + text, file=sys.stderr, flush=True)


class Program:
    """A process of the rig. `started`: the instant just before the spawn; `killed`: that the test ended it."""
    window_thread = None        # the thread of its window, where it has one

    def __init__(self, rig, argv, env=None, cwd=None, name='proc', pipes=False):
        self.rig, self.argv, self.name, self.pipes = rig, argv, name, pipes
        self.env, self.cwd = env or rig.env, cwd or rig.tmp
        self.spawn()

    def spawn(self):
        self.log = os.path.join(self.rig.tmp, '%s%d.log' % (self.name, len(self.rig.started)))
        self.ended_at, self.killed = None, False
        with open(self.log, 'wb') as out:
            self.started = time.monotonic()
            self.proc = subprocess.Popen(self.argv, env=self.env, cwd=self.cwd,
                                         stdin=subprocess.PIPE if self.pipes else subprocess.DEVNULL,
                                         stdout=subprocess.PIPE if self.pipes else out,
                                         stderr=out if self.pipes else subprocess.STDOUT)
        self.pid = self.proc.pid
        self._calls = mcitrace.Reader(self.log)
        self.rig.started.append(self)
        threading.Thread(target=self._watch, args=(self.proc,), daemon=True).start()

    def _watch(self, proc):
        # The instant it ended, whenever the test next looks.
        proc.wait()
        if proc is self.proc:
            self.ended_at = time.monotonic()

    def poll(self):
        code = self.proc.poll()
        if code is not None and self.ended_at is None:
            self.ended_at = time.monotonic()
        return code

    def wait(self, timeout):
        """Its exit code, or None when it still runs after timeout seconds."""
        with contextlib.suppress(subprocess.TimeoutExpired):
            self.proc.wait(timeout)
        return self.poll()

    def how(self):
        code = self.poll()
        return 'still running' if code is None else 'ended with code %d' % code

    def tail(self, lines=15):
        """The end of its log (Wine's output, the trace): evidence when it did something by itself."""
        try:
            with open(self.log, errors='replace') as f:
                return ''.join(collections.deque(f, lines))
        except OSError as e:
            return str(e)

    def calls(self):
        """The media commands it sent so far, from Wine's trace in its log."""
        return self._calls.calls()

    def end(self):
        if self.poll() is None:
            self.killed = True
            self.proc.kill()
        self.wait(SHORT)


class Commands(Program):
    """A program of ours that takes one command a line and ends each answer with "done RC", after "ready ..."."""

    def __init__(self, rig, argv, name, env=None, timeout=LONG):
        super().__init__(rig, argv, env=env, name=name, pipes=True)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.ready = self._next(timeout)
        if not self.ready.startswith('ready'):
            raise AssertionError('%s did not start: %r' % (name, self.ready))

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.put(raw.decode('utf-8', 'replace').rstrip('\r\n'))
        self.lines.put(None)

    def _next(self, timeout):
        line = None
        with contextlib.suppress(queue.Empty):
            line = self.lines.get(timeout=timeout)
        if line is None:
            raise AssertionError('%s gave no answer (%s); its log ends:\n%s' % (self.name, self.how(), self.tail()))
        return line

    def ask(self, *words, timeout=LONG):
        """(its result code, the lines before it); self.sent: the instant just before the command was sent."""
        self.sent = time.monotonic()
        self.proc.stdin.write('\t'.join(map(str, words)).encode('cp932') + b'\n')
        self.proc.stdin.flush()
        lines = []
        while True:
            line = self._next(timeout)
            if line.startswith('done '):
                return int(line.split()[1]), lines
            lines.append(line)

    def end(self):
        with contextlib.suppress(OSError):
            self.proc.stdin.close()
        super().end()


class Stage(Commands):
    """The sound and tray stage (tests/tools/soundtray.cpp): the program's own player and tray code on a hidden
    window, a command a line, answered once it has returned on the window's thread."""

    def __init__(self, rig, traced=False, name='stage'):
        exe = os.path.join(rig.tools, 'tests', 'soundtray.exe')
        super().__init__(rig, [rig.loader(exe), exe], name, env=mcitrace.trace_env(rig.env) if traced else None)
        _, hwnd, self.window_thread = self.ready.split()
        self.hwnd, self.window_thread = int(hwnd, 16), int(self.window_thread)

    def cmd(self, *words, timeout=LONG):
        """Runs a command; returns the instant its answer came."""
        rc, lines = self.ask(*words, timeout=timeout)
        if rc:
            raise AssertionError('stage: %s failed: %s' % (words[0], lines))
        self.answer = lines
        return time.monotonic()

    def set_path(self, path):
        """Puts a Linux path, as Windows sees it, into the sound path buffer."""
        return self.cmd('path', windows_path(path).encode('cp932').hex())

    def device(self):
        self.cmd('device')
        return int(self.answer[-1].split()[1])


class Halvory(Program):
    """A Halvory process and, once found, its hidden main window."""
    hwnd = None

    def reached_our_class(self):
        """Whether its log shows our code registering its window class."""
        with open(self.log, errors='replace') as f:
            return REGISTERS_CLASS in f.read()

    def wait_window(self, timeout=LONG):
        """Its main window (self.hwnd), once made, and the window's thread. A launch that Wine ended with a failure
        code before our code registered the window class is launched again, once, and said."""
        self.hwnd = self.find_window(timeout)
        if not self.hwnd and self.poll() and not self.reached_our_class():
            said('relaunched: Halvory, which %s before it registered its window class; its log ends:\n%s'
                 % (self.how(), self.tail()))
            self.spawn()
            self.hwnd = self.find_window(timeout)
        if not self.hwnd:
            raise AssertionError('Halvory did not start (%s); its log ends:\n%s' % (self.how(), self.tail()))
        self.window_thread = int(self.rig.driver('pid', hex(self.hwnd)).split()[1])
        return self

    def find_window(self, timeout):     # the main window, once made, while it runs (or 0)
        deadline, hwnd = time.monotonic() + timeout, 0
        while not hwnd and self.poll() is None and time.monotonic() < deadline:
            hwnd = self.rig.main_window(500)
        return hwnd or self.rig.main_window()

    def command(self, command_id):
        self.rig.post(self.hwnd, WM_COMMAND, command_id)

    def close(self, timeout=LONG):
        """Asks it to close as /u does; its exit code, or None."""
        if self.rig.driver('info', hex(self.hwnd), check=False):
            self.rig.post(self.hwnd, WM_CLOSE)
        return self.wait(timeout)

    def exit(self, timeout=LONG):
        """Ends it through its menu's exit command; its exit code, or None."""
        self.command(IDM_EXIT)
        return self.wait(timeout)


class Rig:
    """One rig, with the program under test and the tools of its architecture."""

    def __init__(self, build, rig, exe=None, tools=None):
        self.build = os.path.abspath(build)
        self.rig = os.path.abspath(rig)
        self.env = dict(os.environ)
        with open(os.path.join(self.rig, 'env.sh'), encoding='utf-8') as f:
            for line in f:
                name, _, value = line.strip()[len('export '):].partition('=')
                self.env[name] = shlex.split(value)[0] if value else ''
        self.wine, self.display = self.env['WINELOADER'], self.env['DISPLAY']
        self.exe = os.path.abspath(exe or os.path.join(self.build, 'halvory.exe'))
        # The folder a user unpacked the release into: the default chime is there.
        self.exe_dir = os.path.dirname(self.exe)
        self.arch = pe_arch(self.exe)
        self.tools = os.path.abspath(tools or self.build)
        self.driver_exe = os.path.join(self.build, 'tests', 'driver.exe')
        self.tmp = tempfile.mkdtemp(prefix='e2e.', dir=os.path.join(self.rig, 'tmp'))
        self.started = []       # every program of the run, for its evidence
        self.halvory_channels = HALVORY_CHANNELS
        self._driver = None

    def loader(self, exe):
        """The Wine loader for an exe. A 32-bit one gets the 32-bit loader (emulated here), under which it keeps the
        process id it started with, so it can be waited for and ended by that id."""
        return I386_LOADER if pe_arch(exe) == 'i686' else self.wine

    def start(self, argv, env=None, cwd=None, name='proc', pipes=False):
        return Program(self, argv, env, cwd, name, pipes)

    def start_exe(self, exe, *args, env=None, cwd=None, name=None, kind=Program):
        return kind(self, [self.loader(exe), exe] + list(args), env, cwd, name or os.path.basename(exe))

    def end_all(self):
        for p in self.started:
            p.end()
        self._driver = None

    # -- the driver ------------------------------------------------------------
    def driver(self, *args, check=True, timeout=LONG):
        """Runs a driver command (tests/tools/driver.cpp); returns its output. One driver serves the run. One that
        Wine ended before it said it was ready (seen under load) is launched again, and said."""
        if self._driver is None or self._driver.poll() is not None:
            try:
                self._driver = Commands(self, [self.wine, self.driver_exe], 'driver')
            except AssertionError as e:
                said('relaunched: the driver, which %s' % e)
                self._driver = Commands(self, [self.wine, self.driver_exe], 'driver')
        rc, lines = self._driver.ask(*args, timeout=timeout)
        if check and rc != 0:
            raise AssertionError('driver %s failed (%d): %s' % (' '.join(map(str, args)), rc, lines))
        return '\n'.join(lines).strip()

    def post(self, hwnd, msg, wparam=0, lparam=0):
        self.driver('post', hex(hwnd), msg, wparam, lparam)

    def find_window(self, cls, title='-', wait_ms=0):
        """A top-level window, shown or hidden, once it exists (waited for inside Wine), or 0."""
        out = self.driver('wait', cls, title, '-', '-', wait_ms, check=False)
        return int(out.split()[0].split('=')[1], 16) if out else 0

    def main_window(self, wait_ms=0):
        """Halvory's main window (hidden, found by its class and name), or 0."""
        return self.find_window(MAIN_CLASS, MAIN_TITLE, wait_ms)

    # -- the program under test -------------------------------------------------
    def close_leftovers(self, fail=True):
        """Closes a Halvory left running, as /u does. One that will not close fails the case that meets it (fail):
        a start after it would find its window and drive it in place of the new one."""
        hwnd = self.main_window()
        if hwnd:
            self.post(hwnd, WM_CLOSE)
            self.driver('gone', hex(hwnd), ms(SHORT), check=False)
            if fail and self.main_window():
                raise AssertionError('a Halvory left running (window %#x) did not close in %d s' % (hwnd, SHORT))

    def run_halvory(self, *args, exe=None, cwd=None, env=None, traced=False):
        """Starts Halvory with arguments, whatever it then does. traced: Wine's media trace goes to its log too."""
        env = mcitrace.trace_env(env or self.env) if traced else dict(env or self.env)
        if self.halvory_channels:
            env['WINEDEBUG'] = env.get('WINEDEBUG', '-all') + ',' + self.halvory_channels
        return self.start_exe(exe or self.exe, *args, cwd=cwd, env=env, name='halvory', kind=Halvory)

    def start_halvory(self, wait_ms=None, sound=None, *args, cwd=None, env=None, traced=False, exe=None):
        """A fresh Halvory (the rig's exe, or a copy) with these stored settings (None: absent), once its window is."""
        self.close_leftovers()
        self.store(wait_ms, sound)
        return self.run_halvory(*args, exe=exe, cwd=cwd, env=env, traced=traced).wait_window()

    def main_windows_while(self, program, timeout=LONG):
        """Watches a start that must make no window of ours (a close request with none running, a start that finds
        another instance) until it ends, or until one shows: (the main windows seen, its exit code or None)."""
        deadline = time.monotonic() + timeout
        while program.poll() is None and time.monotonic() < deadline:
            hwnd = self.main_window(250)
            if hwnd:
                return [hwnd], program.poll()
        return [], program.wait(max(0.1, deadline - time.monotonic()))

    def run_line(self, line):
        """Runs a command line as a batch file or a prompt hands it on: written to a batch file in code page 932 and
        run by cmd /c, which passes it on as written (a line given to cmd /c directly Wine would quote again)."""
        bat = os.path.join(self.tmp, 'line%d.bat' % len(self.started))
        with open(bat, 'wb') as f:
            f.write(b'@' + line.encode('cp932') + b'\r\n')
        return self.start([self.wine, 'cmd', '/c', windows_path(bat)], name='cmd')

    # -- registry (HKCU\Software\Orvel) ----------------------------------------
    def reg_clear(self):
        self.driver('regdel')

    def store(self, wait_ms=None, sound=None):
        """Stores these settings in place of any (None: absent)."""
        self.reg_clear()
        if wait_ms is not None:
            self.driver('regset', 'Wait', 4, wait_ms.to_bytes(4, 'little').hex())        # REG_DWORD
        if sound is not None:
            self.driver('regset', 'SoundFile', 1, (sound.encode('cp932') + b'\0').hex())  # REG_SZ

    def reg_get(self, name):
        """(type, bytes) of a value, None when missing, 'nokey' without the key."""
        out = self.driver('regget', name)
        if out in ('nokey', 'missing'):
            return None if out == 'missing' else out
        kind, _, data = (out.split() + [''])[:3]
        return int(kind), bytes.fromhex(data)
