"""Sounds: the test files the program plays, and what the rig's sound sink played, recorded in real time and cut
into stretches of sound with their pitch. The tests and the benchmark share it."""
import array
import os
import statistics
import subprocess
import threading
import time

from rig import LONG, SHORT

RATE = 44100
# Loud enough to count as sound: -30 dBFS, a sample of at least 1024, told by
# its high byte alone so that a recording is scanned with bytes.translate.
LOUD = bytes(int(not -5 < (b - 256 if b >= 128 else b) < 4) for b in range(256))
MERGE_GAP = 0.03        # quieter gaps shorter than this are inside one sound
MIN_PITCH = 0.02        # the least sound a pitch is judged on: 9 periods of the lowest test tone


# -- the files played ------------------------------------------------------------
def make_tone(path, freq, seconds, volume=0.5):
    """A 16-bit WAV of one pitch, with short fades so onsets are clean."""
    subprocess.check_call(['sox', '-n', '-r', str(RATE), '-b', '16', '-c', '1', path, 'synth', str(seconds),
                           'sine', str(freq), 'vol', str(volume), 'fade', '0.005', str(seconds), '0.01'],
                          stderr=subprocess.DEVNULL)
    return path


def make_two_part_tone(path, freq_a, freq_b, seconds_a, seconds_b):
    """A WAV of one pitch, then another."""
    parts = [make_tone('%s.a.wav' % path, freq_a, seconds_a), make_tone('%s.b.wav' % path, freq_b, seconds_b)]
    subprocess.check_call(['sox'] + parts + [path])
    for part in parts:
        os.remove(part)
    return path


def make_mp3(path, freq, seconds):
    wav = make_tone(path + '.wav', freq, seconds)
    subprocess.check_call(['lame', '--quiet', '-b', '128', wav, path])
    os.remove(wav)
    return path


def _vlq(n):
    out = [n & 0x7F]
    while n > 0x7F:
        n >>= 7
        out.insert(0, (n & 0x7F) | 0x80)
    return bytes(out)


def make_midi(path, notes=(60, 64, 67), ticks=240):
    """A Standard MIDI File playing the notes in turn."""
    track = b''.join(_vlq(0) + bytes([0x90, n, 100]) + _vlq(ticks) + bytes([0x80, n, 0]) for n in notes)
    track += _vlq(0) + b'\xff\x2f\x00'
    with open(path, 'wb') as f:     # format 0, one track, 480 ticks a quarter note
        f.write(b'MThd\0\0\0\x06\0\0\0\x01\x01\xe0' + b'MTrk' + len(track).to_bytes(4, 'big') + track)
    return path


# -- what the sink played ------------------------------------------------------------
class Sound:
    """A stretch of sound: start and end in seconds of the recording."""

    def __init__(self, recording, first, last):
        self.recording, self.first, self.last = recording, first, last
        self.start, self.end = first / RATE, last / RATE
        self._pitch = False

    @property
    def pitch(self):
        """Hz, or None for a piece too short to judge a pitch on."""
        if self._pitch is False:
            self._pitch = self.recording.pitch(self.start, min(self.end, self.start + 0.2))
        return self._pitch

    def __repr__(self):
        return '%.3f-%.3f %s Hz' % (self.start, self.end, '%.0f' % self.pitch if self.pitch else '-')


def merged(sounds, gap):
    """Sounds closer than gap seconds taken as one (a dropout inside a chime)."""
    out = []
    for s in sounds:
        if out and s.start - out[-1].end < gap:
            out[-1] = Sound(s.recording, out[-1].first, s.last)
        else:
            out.append(s)
    return out


class Recorder:
    """Records the rig's null sink in real time into a file. Its clock, the sample count, is tied to the test's
    (time.monotonic) by the reads: after each, the instant and the count read so far are kept. A sample read by an
    instant was played into the sink before it, so a sound that something done at an instant caused lies at or after
    that instant's place on the recording (at()), however late the reads come. Sounds are found as samples come."""

    def __init__(self, rig, path=None):
        self.rig = rig
        self.path = path or os.path.join(rig.tmp, 'recording%d.raw' % len(rig.started))
        self.count = 0                  # samples read
        self.reads = []                 # [(instant, samples read by then)]
        self.t0 = None                  # sample 0 on the test's clock, at best (for figures)
        self._spans = []                # [first, last] of each stretch of sound
        self._odd = b''
        self._cond = threading.Condition()

    def start(self):
        self.out = open(self.path, 'wb')
        env = dict(self.rig.env)
        env.pop('LC_ALL', None)
        self.program = self.rig.start(['parec', '-d', 'cap.monitor', '--raw', '--format=s16le',
                                       '--rate=%d' % RATE, '--channels=1', '--latency-msec=10'],
                                      env=env, name='recorder', pipes=True)
        self.thread = threading.Thread(target=self._pump, daemon=True)
        self.thread.start()
        with self._cond:
            if not self._cond.wait_for(lambda: self.reads, SHORT):
                raise AssertionError('the recorder gave no data')
        return self

    def _pump(self):
        fd = self.program.proc.stdout.fileno()
        while True:
            chunk = os.read(fd, 8820)
            if not chunk:
                break
            now = time.monotonic()
            data = self._odd + chunk
            usable = len(data) // 2 * 2
            self._odd = data[usable:]
            self.out.write(data[:usable])
            with self._cond:
                self._scan(data[1:usable:2].translate(LOUD), self.count)
                self.count += usable // 2
                # The read soonest after its samples places sample 0 best on the test's clock (for figures only).
                start = now - self.count / RATE
                self.t0 = start if self.t0 is None else min(self.t0, start)
                self.reads.append((now, self.count))
                self._cond.notify_all()
        with self._cond:
            self._cond.notify_all()

    def _scan(self, loud, base):
        """Extends the stretches of sound by a block of loudness flags."""
        gap = int(MERGE_GAP * RATE)
        i = loud.find(1)
        while i >= 0:
            if self._spans and base + i - self._spans[-1][1] <= gap:
                self._spans[-1][1] = base + i
            else:
                self._spans.append([base + i, base + i])
            j = loud.find(0, i)
            if j < 0:
                self._spans[-1][1] = base + len(loud) - 1
                break
            self._spans[-1][1] = base + j - 1
            i = loud.find(1, j)

    def stop(self):
        self.program.end()
        self.thread.join(SHORT)
        self.out.close()
        return self

    def now(self):
        """Seconds of recording so far."""
        return self.count / RATE

    def at(self, instant):
        """An instant of the test's clock on the recording's: the end of what had been read by then. A sound that
        something done at that instant caused starts at or after it. For an instant after the last read so far,
        waits for the next one: a recording that ends before an instant cannot place it, and fails saying so."""
        with self._cond:
            self._cond.wait_for(lambda: (self.reads and self.reads[-1][0] > instant)
                                or not self.thread.is_alive(), max(0.0, instant - time.monotonic()) + SHORT)
            reads = list(self.reads)
        if not reads or reads[-1][0] <= instant:
            self.stopped_short('an instant %.3f s after its last read' % (instant - reads[-1][0] if reads else 0))
        k = next((k for k in range(len(reads) - 1, -1, -1) if reads[k][0] <= instant), None)
        return 0.0 if k is None else reads[k][1] / RATE

    def stopped_short(self, what):
        raise AssertionError('the recording stopped short (%s, %.3f s recorded): %s' % (
            'recorder %s' % self.program.how() if not self.thread.is_alive() else 'no read in %d s' % SHORT,
            self.now(), what))

    def wait(self, until, timeout=LONG):
        """Waits until the recording reaches a time on its clock. A recording that stopped short of it fails: a
        silence is judged only over a recording that covers it."""
        with self._cond:
            self._cond.wait_for(lambda: self.count / RATE >= until or not self.thread.is_alive(), timeout)
        if self.count / RATE < until:
            self.stopped_short('%.3f s wanted' % until)

    def sounds(self, since=0.0):
        """Every stretch of sound that starts at or after a time so far."""
        with self._cond:
            spans = [tuple(s) for s in self._spans]
        return [Sound(self, a, b) for a, b in spans if a >= round(since * RATE)]

    def wait_sound(self, since, timeout):
        """The first sound that starts at or after a time, as soon as it has begun; None if none comes in time. A
        sound going on at that time does not count."""
        with self._cond:
            self._cond.wait_for(lambda: any(a >= round(since * RATE) for a, _ in self._spans[-3:])
                                or not self.thread.is_alive(), timeout)
        found = self.sounds(since)
        if not found and not self.thread.is_alive():
            self.stopped_short('no sound after %.3f s yet' % since)
        return found[0] if found else None

    def samples(self, a, b):
        """The samples from index a up to b."""
        if not self.out.closed:
            self.out.flush()
        with open(self.path, 'rb') as f:
            f.seek(max(0, a) * 2)
            data = f.read(max(0, b - max(0, a)) * 2)
        s = array.array('h')
        s.frombytes(data[:len(data) // 2 * 2])
        return s

    def pitch(self, t_from, t_to):
        """The pitch of what sounds between two times, from the median distance between zero crossings in its
        stretches of sound: a dropout (digital silence where the audio path ran dry) is one long distance, which
        the median leaves out, and silence around a tone adds none. None where less than MIN_PITCH of sound is."""
        halves, sounding = [], 0
        with self._cond:
            spans = [tuple(s) for s in self._spans]
        for first, last in spans:
            a, b = max(first, int(t_from * RATE)), min(last + 1, int(t_to * RATE))
            if b <= a:
                continue
            sounding += b - a
            s = self.samples(a, b)
            crossings = [i for i in range(1, len(s)) if (s[i - 1] < 0) != (s[i] < 0)]
            halves += [y - x for x, y in zip(crossings, crossings[1:])]
        if sounding < MIN_PITCH * RATE or len(halves) < 4:
            return None
        return RATE / (2.0 * statistics.median(halves))
