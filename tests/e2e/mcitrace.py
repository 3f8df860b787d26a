"""Reads the media control interface commands a Windows program sent, from Wine's own trace of winmm: start the
program with trace_env(env) and its stderr in a file, and a Reader's calls(), read as the file grows, give one
MciCall per mciSendCommandA, in order: the device id, the command as Wine names it ('MCI_OPEN', ...), its flags,
what it returned (rc, None until it has), for an open the file named (element), the device type Wine loaded
(driver: 'WAVEAUDIO', 'MPEGVIDEO', 'SEQUENCER') and the new device's id (opened), the stamp (time:
CLOCK_MONOTONIC_RAW, as of Wine's tick count, up to STAMP before the call) and the Windows thread. The lines it
relies on (Wine 8; an A call is carried out by the W call of the same thread after it, whose "=>" line gives the
result; the drivers' own threads are kept apart):

    1200.616:0140:trace:mci:mciSendCommandA (00000000, MCI_OPEN, 00000200, 14000e1a0)
    1200.616:0140:trace:mci:mciSendCommandW (00000000, MCI_OPEN, 00000200, 00371e08)
    1200.616:0140:trace:mci:MCI_Open lpstrElementName=L"Z:\\\\tmp\\\\a.wav"
    1200.618:0140:trace:mci:MCI_LoadMciDriver Loaded driver 00000000003722A0 (L"WAVEAUDIO"), ...
    1200.618:0140:trace:mci:MCI_Open wDevID=0001 wDeviceID=1 dwRet=0
    1200.618:0140:trace:mci:mciSendCommandW => 00000000
"""
import collections
import re
import time

MCI_NOTIFY = 0x1
MCI_WAIT = 0x2
MCI_OPEN_ELEMENT = 0x200
MciCall = collections.namedtuple('MciCall', 'device command flags rc element driver opened time thread')

TRACE_CHANNELS = '-all,+timestamp,+mci'
# Wine stamps a line with its tick count, moved on every 16 ms or so (seen 21 ms apart under load), not per call.
STAMP = 0.025

_LINE = re.compile(r'^(\d+\.\d+):([0-9a-f]+):(trace|warn|err|fixme):mci:(\w+) ?(.*)$')
_ARGS = re.compile(r'^\(([0-9a-f]+), (\w+), ([0-9a-f]+), ([0-9a-f]+)\)')
_RESULT = re.compile(r'^=> ([0-9a-f]+)')
_ELEMENT = re.compile(r'^lpstrElementName=L"(.*)"$')
_OPENED = re.compile(r'^wDevID=[0-9a-fA-F]+ wDeviceID=(\d+) dwRet=0\b')
_DRIVER = re.compile(r'^Loaded driver [0-9A-Fa-f]+ \(L"([^"]*)"\)')


def trace_env(env):
    """A copy of env that makes Wine trace every MCI command with a timestamp."""
    return dict(env, WINEDEBUG=TRACE_CHANNELS)


def _unescape(text):
    # Wine's debugstr_w doubles backslashes and escapes quotes.
    return text.replace('\\\\', '\x00').replace('\\"', '"').replace('\x00', '\\')


class Reader:
    """The calls in a growing log, read as it grows: each read takes only the lines written since the last."""

    def __init__(self, path):
        self.path, self._at, self._rest, self._done = path, 0, '', []
        # Per thread: the A call being carried out (a dict), and how deep in W calls.
        self._pending = {}
        self._depth = collections.Counter()

    def calls(self):
        """The calls so far; last, those whose result has not come (yet)."""
        try:
            with open(self.path, encoding='utf-8', errors='replace') as f:
                f.seek(self._at)
                text = self._rest + f.read()
                self._at = f.tell()
        except FileNotFoundError:
            text = ''
        *lines, self._rest = text.split('\n')
        for line in lines:
            self._line(line)
        return self._done + [MciCall(**call) for call in self._pending.values()]

    def _line(self, line):
        m = _LINE.match(line)
        if not m:
            return
        stamp, thread, _, function, rest = m.groups()
        thread = int(thread, 16)
        call = self._pending.get(thread)
        if function == 'mciSendCommandA':
            a = _ARGS.match(rest)
            if a:
                self._pending[thread] = dict(device=int(a.group(1), 16), command=a.group(2),
                                             flags=int(a.group(3), 16), rc=None, element=None, driver=None,
                                             opened=None, time=float(stamp), thread=thread)
                self._depth[thread] = 0
        elif function == 'mciSendCommandW' and call is not None:
            if _ARGS.match(rest):
                self._depth[thread] += 1
            elif _RESULT.match(rest):
                self._depth[thread] -= 1
                if self._depth[thread] <= 0:
                    call['rc'] = int(_RESULT.match(rest).group(1), 16)
                    self._done.append(MciCall(**call))
                    del self._pending[thread]
        elif function == 'MCI_Open' and call is not None:
            e, o = _ELEMENT.match(rest), _OPENED.match(rest)
            if e and call['element'] is None:
                call['element'] = _unescape(e.group(1))
            if o:
                call['opened'] = int(o.group(1))
        elif function == 'MCI_LoadMciDriver' and call is not None:
            d = _DRIVER.match(rest)
            if d and call['driver'] is None:
                call['driver'] = d.group(1)


def opened_elements(calls):
    """The file names of the opens that got as far as naming one."""
    return [c.element for c in calls if c.command == 'MCI_OPEN' and c.element is not None]


def raw_minus_monotonic():
    """CLOCK_MONOTONIC_RAW - CLOCK_MONOTONIC, best of a few reads: carries the trace's times onto time.monotonic()."""
    best = None
    for _ in range(5):
        a = time.monotonic()
        r = time.clock_gettime(time.CLOCK_MONOTONIC_RAW)
        b = time.monotonic()
        if best is None or b - a < best[0]:
            best = (b - a, r - (a + b) / 2)
    return best[1]


Restart = collections.namedtuple('Restart', 'stop close open play')


def restarts(calls):
    """Every restart of the sound: a stop and a close, then an open and a play (the play None until traced). Its stop
    is the first command a timer tick sends; the play comes after the open, which can take a while (an MP3's
    first open under emulation); the stop does not wait."""
    return [Restart(*calls[i:i + 3], calls[i + 3] if calls[i + 3:i + 4] and calls[i + 3].command == 'MCI_PLAY'
                    else None)
            for i in range(len(calls) - 2)
            if [c.command for c in calls[i:i + 3]] == ['MCI_STOP', 'MCI_CLOSE', 'MCI_OPEN']]


def describe(calls):
    """One readable line per call, for failure messages."""
    return '\n'.join('%.3f dev=%d %s flags=0x%x rc=%s%s' % (
        c.time, c.device, c.command, c.flags, 'pending' if c.rc is None else '0x%x' % c.rc,
        ' element=%s driver=%s opened=%s' % (c.element, c.driver, c.opened) if c.command == 'MCI_OPEN' else '')
        for c in calls)


if __name__ == '__main__':
    import sys
    print(describe(Reader(sys.argv[1]).calls()))
