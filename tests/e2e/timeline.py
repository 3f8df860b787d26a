"""One clock for a case: the instants of commands, taken before each is sent; the restarts of the sound that Wine
traced, carried onto the test's clock by the measured offset between Wine's clock and the test's (each up to
mcitrace.STAMP early, so the trace tells a command's effects by order: mark); and the sounds heard, placed on it
by the recording's reads (audio.Recorder.at). So no load can put an effect before its cause: a sound or a tick
that a command caused comes after the command's instant, however late it is seen."""
import re
import statistics
import time

import audio
import mcitrace
from rig import LONG, SHORT

# Steps of an expected sequence of media commands (assert_commands).
TICK = ('MCI_STOP', 'MCI_CLOSE', 'MCI_OPEN', 'MCI_PLAY')    # a restart of the sound, as a tick makes it
STOP = ('MCI_STOP', 'MCI_CLOSE')                            # the sound stopped and its device closed
TICKS = 'any ticks'                                         # any number of ticks' restarts


class Timeline:
    def __init__(self, rig, record=False):
        self.offset = mcitrace.raw_minus_monotonic()
        self.recorder = audio.Recorder(rig).start() if record else None

    def stop(self):
        if self.recorder:
            self.recorder.stop()

    # -- what Wine traced ----------------------------------------------------------
    def at(self, call):
        """The instant of a traced call on the test's clock."""
        return call.time - self.offset

    def mark(self, program):
        """A mark in the program's trace now: the calls after it began later (Wine writes a call's line as it
        begins). To tell a command's effect from what came just before it, where the stamps cannot (mcitrace.STAMP)."""
        return len(program.calls())

    def since(self, program, mark):
        """The calls after a mark taken while the program ran, less the rest of a tick's restart that was under way
        at it: the trace before the mark ends partway through one, and its one thread finishes it first."""
        calls = program.calls()
        done, rest = [c.command for c in calls[:mark]], calls[mark:]
        for k in range(1, len(TICK)):
            if tuple(done[-k:]) == TICK[:k] and tuple(c.command for c in rest[:len(TICK) - k]) == TICK[k:]:
                return rest[len(TICK) - k:]
        return rest

    def ticks(self, program, after=0.0):
        """When the program's restarts of the sound after an instant began: a timer tick's first command, its stop."""
        return [t for t in (self.at(r.stop) for r in mcitrace.restarts(program.calls())) if t > after]

    def wait_ticks(self, program, count, after=0.0, timeout=LONG):
        """Its ticks after an instant once there are `count`, or when time ran out or it ended."""
        deadline = time.monotonic() + timeout
        while len(self.ticks(program, after)) < count and time.monotonic() < deadline and program.poll() is None:
            time.sleep(0.25)
        return self.ticks(program, after)

    # -- what was heard --------------------------------------------------------------
    def place(self, instant):
        """An instant on the recording's clock (audio.Recorder.at)."""
        return self.recorder.at(instant)

    def heard(self, after=0.0, until=None, merge_gap=None):
        """The sounds that started after one instant (and before another)."""
        found = self.recorder.sounds(self.place(after) if after else 0.0)
        found = audio.merged(found, merge_gap) if merge_gap else found
        end = self.place(until) if until is not None else float('inf')
        return [s for s in found if s.start <= end]

    def wait_heard(self, after, timeout=SHORT):
        """The first sound that started after an instant, once it has begun; None if none came in time."""
        return self.recorder.wait_sound(self.place(after), timeout)

    def heard_whole(self, after, timeout=SHORT, lasting=0.6):
        """The sounds after an instant once one has come and had time to play out (`lasting` seconds more)."""
        first = self.wait_heard(after, timeout)
        if first:
            self.recorder.wait(first.start + lasting)
        return self.heard(after)

    def pitch(self, t_from, t_to):
        """The pitch heard between two times of the recording, or None."""
        return self.recorder.pitch(t_from, t_to)

    def track(self, t_from, t_to, window=0.05):
        """[(time, Hz or None)] of the windows between two times of the recording."""
        return [(t_from + k * window, self.pitch(t_from + k * window, t_from + (k + 1) * window))
                for k in range(int((t_to - t_from) / window))]


def near(freq, want, within=0.08):
    return freq is not None and abs(freq - want) <= want * within


def which(sound, pitches):
    """The name of the test sound whose pitch is nearest to a sound's."""
    return min(pitches, key=lambda name: abs(pitches[name] - sound.pitch)) if sound.pitch else None


def assert_commands(test, calls, expected, msg):
    """Wine's ok_sequence for the media commands: the calls, in the trace's order (from a mark taken before what
    caused them, never by their stamps, which may lag a call by mcitrace.STAMP), are the expected steps and nothing
    else. A step is a tuple of commands, or TICKS: any number of restarts by the timer's ticks."""
    letter = {c: chr(ord('a') + i) for i, c in enumerate(sorted(set(TICK)))}
    word = lambda commands: ''.join(letter.get(c, '?') for c in commands)  # noqa: E731
    pattern = ''.join('(?:%s)*' % word(TICK) if step == TICKS else word(step) for step in expected)
    if not re.fullmatch(pattern, word(c.command for c in calls)):
        test.fail('%s: not %s, but:\n%s' % (msg, ', '.join(step if step == TICKS else ' '.join(step) for step in expected),
                                              mcitrace.describe(calls)))


def assert_not_before(test, traced, instant, msg):
    """A traced instant (a tick) came no sooner than another: its stamp may be up to mcitrace.STAMP before it."""
    test.assertGreaterEqual(traced + mcitrace.STAMP, instant, '%s: %.3f s before it' % (msg, instant - traced))


def assert_period(test, instants, seconds, gaps=4, within=0.03):
    """Chimes at these instants come once every `seconds`: over at least `gaps` gaps, their median is within `within`
    of it, so that one chime a loaded machine made late does not decide, and one a few percent late each time does."""
    between = [b - a for a, b in zip(instants, instants[1:])]
    test.assertGreaterEqual(len(between), gaps, 'too few chimes to judge their period: %s' % instants)
    median = statistics.median(between)
    test.assertLessEqual(abs(median - seconds), seconds * within,
                         'median gap %.3f s for %s s: %s' % (median, seconds, ['%.3f' % g for g in between]))
