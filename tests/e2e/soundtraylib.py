"""The sound and tray stage (tests/tools/soundtray.cpp) as the tests see it,
and the MIDI file the tests play.

The stage runs the program's own player and tray code on a hidden window and
answers every command once it has returned, so a test knows when a play was
started or an icon changed: Stage.cmd() gives the wall-clock instant
(time.monotonic) at which that answer came.
"""
import os
import queue
import subprocess
import threading
import time

import harness
import mcitrace


class Stage:
    def __init__(self, rig, trace=False, name='stage'):
        self.rig = rig
        self.trace_path = os.path.join(rig.tmp, name + '.trace') if trace else None
        env = mcitrace.trace_env(rig.env) if trace else rig.env
        self.err = open(self.trace_path or os.path.join(rig.tmp, name + '.err'), 'wb')
        exe = os.path.join(rig.tools, 'tests', 'soundtray.exe')
        self.proc = subprocess.Popen([rig.loader(exe), exe], env=env, cwd=rig.tmp, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=self.err)
        rig.procs.append(self.proc)
        self.lines = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        ready = self._next(30)
        if not ready.startswith('ready '):
            raise AssertionError('the stage did not start: %r' % ready)
        self.hwnd = int(ready.split()[1], 16)
        # What the harness needs to tell a fault of the platform from ours.
        self.proc.log, self.proc.window_thread = self.err.name, int(ready.split()[3])
        rig.started.append(self.proc)

    def _read(self):
        for raw in self.proc.stdout:
            self.lines.put(raw.decode('utf-8', 'replace').strip())
        self.lines.put(None)

    def _next(self, timeout):
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError('the stage gave no answer within %s s' % timeout)
        if line is None:
            raise AssertionError('the stage ended')
        return line

    def cmd(self, *words, timeout=20):
        """Runs one command; returns (instant of the answer, lines before it).
        The instant it was sent is kept in self.sent."""
        self.sent = time.monotonic()
        self.proc.stdin.write((' '.join(words) + '\n').encode())
        self.proc.stdin.flush()
        extra = []
        while True:
            line = self._next(timeout)
            if line.startswith('ok %s ' % words[0]):
                return time.monotonic(), extra
            if line.startswith('error'):
                raise AssertionError('stage: %s' % line)
            extra.append(line)

    def set_path(self, path):
        """Puts a Linux path, as Windows sees it, into the sound path buffer."""
        return self.cmd('path', harness.windows_path(path).encode('cp932').hex())[0]

    def device(self):
        _, lines = self.cmd('device')
        return int(lines[-1].split()[1])

    def windows(self):
        """The visible top-level windows: [(class, title, own)]."""
        _, lines = self.cmd('windows')
        result = []
        for line in lines:
            fields = dict(f.split('=', 1) for f in line.split()[2:] if '=' in f)
            result.append((fields.get('class'), fields.get('title'), fields.get('own') == '1'))
        return result

    def quit(self):
        try:
            self.cmd('quit', timeout=10)
            self.proc.wait(10)
        except (AssertionError, subprocess.TimeoutExpired, BrokenPipeError):
            self.proc.kill()
        self.err.close()

    def calls(self):
        return mcitrace.parse(self.trace_path)


def _vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.insert(0, (n & 0x7F) | 0x80)
        n >>= 7
    return bytes(out)


def make_midi(path, notes=(60, 64, 67), ticks=240):
    """A Standard MIDI File (format 0, one track) playing the notes in turn."""
    track = b''
    for note in notes:
        track += _vlq(0) + bytes([0x90, note, 100])       # note on
        track += _vlq(ticks) + bytes([0x80, note, 0])     # note off
    track += _vlq(0) + b'\xff\x2f\x00'                    # end of track
    header = b'MThd' + (6).to_bytes(4, 'big') + (0).to_bytes(2, 'big') + (1).to_bytes(2, 'big') \
        + (480).to_bytes(2, 'big')
    with open(path, 'wb') as f:
        f.write(header + b'MTrk' + len(track).to_bytes(4, 'big') + track)
    return path
