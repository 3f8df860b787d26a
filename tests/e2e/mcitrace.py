"""Reads the media control interface commands a Windows program sent, from
Wine's own trace of winmm.

Start the program with trace_env(env) as its environment and its stderr
sent to a file (Wine writes the trace there), then parse(path) gives one
MciCall per mciSendCommandA, in order:

    device   the device id the command was sent to
    command  'MCI_OPEN', 'MCI_PLAY', ... as Wine names it
    flags    the flags word
    rc       what mciSendCommandA returned (0 = success)
    element  for MCI_OPEN: the file name Wine was asked to open, else None
    driver   for MCI_OPEN: the device type Wine loaded ('WAVEAUDIO',
             'MPEGVIDEO', 'SEQUENCER'), None when none was chosen
    opened   for a successful MCI_OPEN: the new device's id, else None
    time     Wine's timestamp of the call, in seconds (CLOCK_MONOTONIC_RAW,
             the same clock as time.clock_gettime(time.CLOCK_MONOTONIC_RAW))
    thread   the Windows thread id that sent it

The lines it relies on (Wine 8):

    1200.616:0140:trace:mci:mciSendCommandA (00000000, MCI_OPEN, 00000200, 14000e1a0)
    1200.616:0140:trace:mci:mciSendCommandW (00000000, MCI_OPEN, 00000200, 00371e08)
    1200.616:0140:trace:mci:MCI_Open lpstrElementName=L"Z:\\\\tmp\\\\a.wav"
    1200.618:0140:trace:mci:MCI_LoadMciDriver Loaded driver 00000000003722A0 (L"WAVEAUDIO"), ...
    1200.618:0140:trace:mci:MCI_Open wDevID=0001 wDeviceID=1 dwRet=0
    1200.618:0140:trace:mci:mciSendCommandW => 00000000

An A call is carried out by the W call of the same thread that follows it;
the W call's "=>" line gives the result. Lines of other threads (the
drivers' own players) are kept apart by thread id.
"""
import collections
import re
import time

MCI_NOTIFY = 0x1
MCI_WAIT = 0x2
MCI_OPEN_TYPE = 0x2000
MCI_OPEN_ELEMENT = 0x200
MCI_OPEN_ALIAS = 0x400

MCIERR_INVALID_DEVICE_ID = 0x101

MciCall = collections.namedtuple('MciCall', 'device command flags rc element driver opened time thread')

TRACE_CHANNELS = '-all,+timestamp,+mci'

_LINE = re.compile(r'^(\d+\.\d+):([0-9a-f]+):(trace|warn|err|fixme):mci:(\w+) ?(.*)$')
_ARGS = re.compile(r'^\(([0-9a-f]+), (\w+), ([0-9a-f]+), ([0-9a-f]+)\)')
_RESULT = re.compile(r'^=> ([0-9a-f]+)')
_ELEMENT = re.compile(r'^lpstrElementName=L"(.*)"$')
_OPENED = re.compile(r'^wDevID=[0-9a-fA-F]+ wDeviceID=(\d+) dwRet=0\b')
_DRIVER = re.compile(r'^Loaded driver [0-9A-Fa-f]+ \(L"([^"]*)"\)')


def trace_env(env):
    """A copy of env that makes Wine trace every MCI command with a timestamp."""
    env = dict(env)
    env['WINEDEBUG'] = TRACE_CHANNELS
    return env


def _unescape(text):
    # Wine's debugstr_w doubles backslashes and escapes quotes.
    return text.replace('\\\\', '\x00').replace('\\"', '"').replace('\x00', '\\')


def parse_lines(lines):
    calls = []
    # Per thread: the open A call (a dict) and how deep in W calls we are.
    pending = {}
    depth = collections.Counter()
    for line in lines:
        m = _LINE.match(line.rstrip('\n'))
        if not m:
            continue
        stamp, thread, _, function, rest = m.groups()
        thread = int(thread, 16)
        if function == 'mciSendCommandA':
            a = _ARGS.match(rest)
            if not a:
                continue
            pending[thread] = dict(device=int(a.group(1), 16), command=a.group(2),
                                   flags=int(a.group(3), 16), rc=None, element=None, driver=None, opened=None,
                                   time=float(stamp), thread=thread)
            depth[thread] = 0
        elif function == 'mciSendCommandW':
            call = pending.get(thread)
            if _ARGS.match(rest):
                depth[thread] += 1
                continue
            r = _RESULT.match(rest)
            if r and call is not None:
                depth[thread] -= 1
                if depth[thread] <= 0:
                    call['rc'] = int(r.group(1), 16)
                    calls.append(MciCall(**call))
                    del pending[thread]
        elif function == 'MCI_Open':
            e = _ELEMENT.match(rest)
            o = _OPENED.match(rest)
            call = pending.get(thread)
            if call is None:
                continue
            if e and call['element'] is None:
                call['element'] = _unescape(e.group(1))
            if o:
                call['opened'] = int(o.group(1))
        elif function == 'MCI_LoadMciDriver':
            d = _DRIVER.match(rest)
            call = pending.get(thread)
            if d and call is not None and call['driver'] is None:
                call['driver'] = d.group(1)
    # A call whose result never came (the program was ended inside it).
    for call in pending.values():
        calls.append(MciCall(**call))
    return calls


def parse(path):
    with open(path, encoding='utf-8', errors='replace') as f:
        return parse_lines(f)


def count(path, command):
    """How many calls of one command ('MCI_OPEN', 'MCI_PLAY'...) a trace holds so far."""
    return sum(1 for c in parse(path) if c.command == command)


def opened_elements(calls):
    """The file names of the opens that got as far as naming one."""
    return [c.element for c in calls if c.command == 'MCI_OPEN' and c.element is not None]


def raw_minus_monotonic():
    """CLOCK_MONOTONIC_RAW - CLOCK_MONOTONIC now, best of a few reads: what
    carries the trace's times onto time.monotonic()."""
    best = None
    for _ in range(5):
        a = time.monotonic()
        r = time.clock_gettime(time.CLOCK_MONOTONIC_RAW)
        b = time.monotonic()
        if best is None or b - a < best[0]:
            best = (b - a, r - (a + b) / 2)
    return best[1]


def tick_times(path):
    """When each restart began (its stop, the first command a tick sends),
    on the test's clock. The play comes after the open, which can take a
    while (an MP3's first open under emulation); the stop does not wait."""
    offset = raw_minus_monotonic()
    calls = parse(path)
    return [c.time - offset for c, d, e in zip(calls, calls[1:], calls[2:])
            if (c.command, d.command, e.command) == ('MCI_STOP', 'MCI_CLOSE', 'MCI_OPEN')]


def describe(calls):
    """One readable line per call, for failure messages."""
    out = []
    for c in calls:
        extra = ''
        if c.command == 'MCI_OPEN':
            extra = ' element=%s driver=%s opened=%s' % (c.element, c.driver, c.opened)
        rc = 'pending' if c.rc is None else '0x%x' % c.rc
        out.append('%.3f dev=%d %s flags=0x%x rc=%s%s' % (c.time, c.device, c.command, c.flags, rc, extra))
    return '\n'.join(out)


if __name__ == '__main__':
    import sys
    print(describe(parse(sys.argv[1])))
