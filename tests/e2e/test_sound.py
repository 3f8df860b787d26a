"""The sound player on Wine's real media control interface: what is heard (recorded from the rig's sink) and which
commands were sent (Wine's trace). One stage process runs the whole scene once, with the recorder on; the cases
below each judge one part of it. Every test sound has its own pitch, so the recording tells which file (and which
part of a file) was playing. Each step waits for what it is to be heard, on the recording's clock, before the next."""
import os
import time
import unittest

import audio
import desktop
import faults
import mcitrace
import runner
from mcitrace import MCI_NOTIFY, MCI_WAIT, MCI_OPEN_ELEMENT
from rig import SHORT, Stage, windows_path
from runner import step_too_late
from timeline import STOP, TICK, Timeline, assert_commands, near

SHORT_HZ = 440          # the first short WAV
OTHER_HZ = 550          # the short WAV the path is switched to
FIRST_PART_HZ = 330     # the long WAV: first part ...
SECOND_PART_HZ = 880    # ... and second part
MP3_HZ = 660
PART_SECONDS = 2.0      # the first part; the second is twice as long, so a
SECOND_PART_SECONDS = 4.0   # cut play is told from one played to its end


class Scene:
    """What one run of the scene left behind."""
    order = []           # the step names in the order they ran
    sent = {}            # step name -> the instant just before its command was sent
    answered = {}        # step name -> the instant its answer came
    devices = {}         # step name -> device id the player held after it
    stuck = None         # what the stage said when its last stop never returned
    files = {}


def setUpModule():
    rig, d, f = runner.RIG, runner.RIG.tmp, Scene.files
    f['short'] = audio.make_tone(os.path.join(d, 'short.wav'), SHORT_HZ, 0.4)
    f['other'] = audio.make_tone(os.path.join(d, 'other.wav'), OTHER_HZ, 0.4)
    f['long'] = audio.make_two_part_tone(os.path.join(d, 'long.wav'), FIRST_PART_HZ, SECOND_PART_HZ,
                                         PART_SECONDS, SECOND_PART_SECONDS)
    f['mp3'] = audio.make_mp3(os.path.join(d, 'tone.mp3'), MP3_HZ, 0.6)
    f['midi'] = audio.make_midi(os.path.join(d, 'tune.mid'))
    f['missing'] = os.path.join(d, 'missing.wav')
    f['unknown'] = os.path.join(d, 'noise.xyz')
    with open(f['unknown'], 'wb') as out:
        out.write(b'RIFF' + bytes(200))

    Scene.timeline = tl = Timeline(rig, record=True)
    Scene.stage = stage = Stage(rig, traced=True, name='sound')
    rec = tl.recorder

    def step(name, command, path=None, heard=None, recorded=None):
        """Runs a step, then waits until its sound has been heard for `heard` seconds, or until the recording holds
        `recorded` seconds more after its answer."""
        if path:
            stage.set_path(path)
        Scene.order.append(name)
        Scene.answered[name] = stage.cmd(command)
        Scene.sent[name] = stage.sent
        Scene.devices[name] = stage.device()
        if heard is not None:
            sound = tl.wait_heard(Scene.sent[name], SHORT)
            rec.wait((sound.start if sound else tl.place(Scene.answered[name])) + heard)
        elif recorded is not None:
            rec.wait(tl.place(Scene.answered[name]) + recorded)

    try:
        step('first-stop', 'stop', recorded=0.1)
        step('short', 'start', f['short'], heard=0.8)
        step('short-again', 'restart', heard=0.8)
        step('other', 'restart', f['other'], heard=0.8)
        # Into the second part, with more of it left than a stop lets play out (Wine plays the queued buffers,
        # 0.35-0.7 s here, before the stop returns).
        step('long', 'restart', f['long'], heard=PART_SECONDS + 0.8)
        # The restart follows the cut play with no silence to tell them apart.
        step('long-again', 'restart', recorded=PART_SECONDS + 1.2)
        # And on until its second part is heard again, however far a busy machine's dropouts drew the first out.
        parts = desktop.wait_until(lambda: parts_again(tl.place(Scene.sent['long-again']), rec.now()), SHORT)
        if parts:
            rec.wait(parts[1] + 0.5)
        # Right after a sound that would be heard again if a failed open played the file before it. With the stage's
        # icon the desktop shows its taskbar, a window the list must see (the pointer off the icon: no tooltip).
        stage.cmd('add')
        desktop.xdotool(rig, 'mousemove', 10, 10)
        Scene.stage_pid = int(rig.driver('pid', hex(stage.hwnd)).split()[0])
        Scene.windows_before = desktop.top_windows(rig, visible=True)
        step('missing', 'restart', f['missing'], recorded=0.9)
        step('unknown', 'restart', f['unknown'], recorded=0.9)
        Scene.windows_after = desktop.top_windows(rig, visible=True)
        stage.cmd('remove')
        step('midi', 'restart', f['midi'], recorded=0.4)
        # The MP3 last: Wine 10's MPEG device can hang in a stop, which then holds up only what comes after it; and
        # its stop once it has played out (see faults.py: the hangs were seen in stops soon after a play).
        step('mp3', 'restart', f['mp3'], heard=2.0)
        try:
            step('last-stop', 'stop')
        except AssertionError as e:
            Scene.sent['last-stop'] = stage.sent
            Scene.stuck = str(e)
        Scene.ended = time.monotonic()
        tl.place(Scene.ended)           # the recording covers every step
    finally:
        tl.stop()
        if not Scene.stuck:
            stage.cmd('quit')
        stage.end()
    Scene.calls = stage.calls()
    Scene.sounds = rec.sounds()
    print('\nheard: %s' % Scene.sounds)
    print('steps sent: ' + ', '.join('%s=%.3f' % (n, tl.place(Scene.sent[n])) for n in Scene.order))
    print('traced:\n' + mcitrace.describe(Scene.calls))


def tearDownModule():
    runner.RIG.end_all()


def sent(name):
    return Scene.timeline.place(Scene.sent[name])


def sound_after(name):
    """The first sound that began after a step's command was sent and before the next step's was."""
    following = Scene.order[Scene.order.index(name) + 1:]
    until = sent(following[0]) if following else float('inf')
    return next((s for s in Scene.sounds if sent(name) <= s.start < until), None)


def parts_again(t_from, t_to):
    """The first window of the long file's first part from a time, and the first of its second part after that
    (None where there is none)."""
    track = Scene.timeline.track(t_from, t_to)
    first = next((t for t, hz in track if near(hz, FIRST_PART_HZ)), None)
    second = next((t for t, hz in track if first is not None and t > first and near(hz, SECOND_PART_HZ)), None)
    return second and (first, second)


def pitch(t_from, t_to):
    return Scene.timeline.pitch(t_from, t_to)


class Heard(unittest.TestCase):
    def test_a_short_wav_is_heard_with_its_pitch_each_time_it_starts(self):
        for name, hz in (('short', SHORT_HZ), ('short-again', SHORT_HZ), ('other', OTHER_HZ)):
            found = sound_after(name)
            self.assertIsNotNone(found, '%s: nothing heard; heard %s' % (name, Scene.sounds))
            freq = pitch(found.start, found.start + 0.6)
            self.assertTrue(near(freq, hz), '%s: heard %s Hz, want %d' % (name, freq, hz))
            # The whole file (0.4 s), give or take dropouts and fades.
            heard = sum(min(s.end, found.start + 0.8) - s.start for s in Scene.sounds
                        if found.start <= s.start < found.start + 0.8)
            self.assertTrue(0.25 <= heard <= 0.6, '%s: heard for %.3f s' % (name, heard))
        # Nothing at all before the first play.
        self.assertTrue(all(s.start >= sent('short') for s in Scene.sounds), Scene.sounds)

    def test_restart_plays_the_file_again_from_its_beginning(self):
        # Judged by what is heard, in order: the long file's first part, its second part, its first part again right
        # after the restart, then its second part. A loaded machine may start a play late, or leave no silence
        # between the cut play and the new one: neither matters.
        first = sound_after('long')
        self.assertIsNotNone(first, 'the long file was not heard')
        start, restart = first.start, sent('long-again')
        self.assertTrue(near(pitch(start + 0.1, start + 0.6), FIRST_PART_HZ), 'its first part')
        # The scene restarts it into its second part, long before that part could end; a later one tells nothing.
        if not start + PART_SECONDS + 0.15 < restart < start + PART_SECONDS + SECOND_PART_SECONDS - 1.0:
            step_too_late('the scene restarted the long file %.2f s after it was heard (%.2f s): '
                          'not into its second part, before it could end' % (restart - start, start))
        track = Scene.timeline.track(start + PART_SECONDS + 0.05, sent('missing'))
        second = [t for t, hz in track if near(hz, SECOND_PART_HZ) and t + 0.05 <= restart]
        self.assertTrue(second, 'its second part before the restart: %s' % track)
        # Back to the first part after the restart ...
        back = [t for t, hz in track if t >= second[-1] and near(hz, FIRST_PART_HZ)]
        self.assertTrue(back, 'its first part after the restart: %s' % track)
        again = back[0]
        self.assertGreaterEqual(again, restart - 0.05, 'the first part came back before the restart')
        # ... well before the second part could have played to its end: it was cut off.
        self.assertLess(again - (start + PART_SECONDS), SECOND_PART_SECONDS - 1.0,
                        'the second part played to its end (%.2f s)' % (again - start - PART_SECONDS))
        self.assertTrue(near(pitch(again + 0.1, again + 0.6), FIRST_PART_HZ), 'the first part again')
        # It then plays on into its second part, after the whole first part (dropouts only draw it out): a whole
        # new play.
        _, later = parts_again(again, sent('missing')) or (None, None)
        self.assertIsNotNone(later, 'its second part after the first again: %s' % track)
        self.assertGreaterEqual(later - again, PART_SECONDS - 0.15, 'the first part again was cut short')
        self.assertTrue(near(pitch(later + 0.05, later + 0.45), SECOND_PART_HZ), 'its second part again')

    def test_an_mp3_is_heard(self):
        found = sound_after('mp3')
        self.assertIsNotNone(found, 'nothing heard; heard %s' % Scene.sounds)
        freq = pitch(found.start, found.start + 0.4)
        self.assertTrue(near(freq, MP3_HZ), 'heard %s Hz' % freq)

    def test_missing_and_unknown_files_play_nothing_and_show_nothing(self):
        # The long file was playing when the missing one was asked for: the stop lets its queued end play out, then
        # nothing starts until the next file, and its first part is not heard again.
        begun = [s for s in Scene.sounds if sent('missing') <= s.start < sent('midi')     # the end, broken up
                 and not (near(s.pitch, SECOND_PART_HZ) and s.start < sent('missing') + 0.7)]  # by a dropout
        self.assertEqual([], begun, 'something started')
        track = Scene.timeline.track(sent('missing'), sent('midi'))
        self.assertFalse([t for t, hz in track if near(hz, FIRST_PART_HZ)], 'the file before played again')
        self.assertIn('Shell_TrayWnd', [w.cls for w in Scene.windows_before], 'the list sees no window')
        self.assertEqual(Scene.windows_before, Scene.windows_after,
                         'a window appeared while the bad files were played')
        self.assertFalse([w for w in Scene.windows_after if w.pid == Scene.stage_pid], 'the stage shows a window')


class Commands(unittest.TestCase):
    def expect(self, call, command, device, flags):
        self.assertEqual((command, device, flags), (call.command, call.device, call.flags),
                         mcitrace.describe([call]))

    def steps(self):
        """The traced calls cut into the scene's steps, once they are what the steps send, in order: a stop and a
        close for the first stop, an open and a play for the start, a restart for each of the others, and a stop and
        a close for the last stop (the stop alone when it never returned)."""
        expected = [{'first-stop': STOP, 'short': ('MCI_OPEN', 'MCI_PLAY'),
                     'last-stop': STOP[:1] if Scene.stuck else STOP}.get(name, TICK) for name in Scene.order]
        assert_commands(self, Scene.calls, expected, 'the scene\'s commands')
        calls, steps = list(Scene.calls), {}
        for name, commands in zip(Scene.order, expected):
            steps[name], calls = calls[:len(commands)], calls[len(commands):]
        return steps

    def expect_open_and_play(self, name, driver):
        """Its open names its file alone; its play goes to the device opened, or after a failed open to the id held."""
        open_, play = self.steps()[name][-2:]
        self.expect(open_, 'MCI_OPEN', 0, MCI_OPEN_ELEMENT)
        self.assertEqual(windows_path(Scene.files[{'short-again': 'short', 'long-again': 'long'}.get(name, name)]),
                         open_.element)
        if driver != 'any':
            self.assertEqual(driver, open_.driver)
        self.expect(play, 'MCI_PLAY', open_.opened if open_.rc == 0 else Scene.devices[name], MCI_NOTIFY)
        self.assertEqual(Scene.devices[name], play.device)
        return open_, play

    def test_the_trace_is_on_the_test_clock(self):
        # Wine's timestamps, carried by the measured offset, put every step's commands between the instant it was
        # sent and its answer; a stamp is Wine's tick count, which may be up to mcitrace.STAMP behind.
        for name, calls in self.steps().items():
            with self.subTest(name):
                for call in calls:
                    at = Scene.timeline.at(call)
                    self.assertTrue(Scene.sent[name] - mcitrace.STAMP < at <= Scene.answered[name],
                                    '%s stamped %.4f, sent %.4f, answered %.4f' % (
                                        call.command, at, Scene.sent[name], Scene.answered[name]))

    def test_stop_open_play_and_restart_follow_the_rules(self):
        steps = self.steps()
        # The first stop: stop then close, both waiting, to device 0.
        stop, close = steps['first-stop']
        self.expect(stop, 'MCI_STOP', 0, MCI_WAIT)
        self.expect(close, 'MCI_CLOSE', 0, MCI_WAIT)
        # The start: an open naming the file alone, then a notified play to the device it opened, which is the id the
        # player keeps. A restart: stop and close (waiting) of that device, a fresh open and play.
        previous = None
        for name in ('short', 'short-again', 'other', 'long', 'long-again'):
            if previous:
                stop, close = steps[name][:2]
                self.expect(stop, 'MCI_STOP', previous, MCI_WAIT)
                self.expect(close, 'MCI_CLOSE', previous, MCI_WAIT)
                self.assertEqual(0, close.rc, '%s: the device was not open' % name)
            open_, play = self.expect_open_and_play(name, 'WAVEAUDIO')
            self.assertEqual((0, 0), (open_.rc, play.rc), name)
            previous = play.device
        # After failed opens, the stop and close go to whatever id the last open left; the MP3 opens on the MPEG device.
        for name, before in (('midi', 'unknown'), ('mp3', 'midi')):
            stop, close = steps[name][:2]
            self.expect(stop, 'MCI_STOP', Scene.devices[before], MCI_WAIT)
            self.expect(close, 'MCI_CLOSE', Scene.devices[before], MCI_WAIT)
        open_, play = self.expect_open_and_play('mp3', 'MPEGVIDEO')
        self.assertEqual((0, 0), (open_.rc, play.rc))

    def test_last_stop_stops_and_closes_the_device_the_last_open_left(self):
        with faults.judge(self, 'the last stop closes the device', of=Scene.stage, until=Scene.ended):
            self.assertIsNone(Scene.stuck)
            stop, close = self.steps()['last-stop']
            self.expect(stop, 'MCI_STOP', Scene.devices['mp3'], MCI_WAIT)
            self.expect(close, 'MCI_CLOSE', Scene.devices['mp3'], MCI_WAIT)
            self.assertEqual((0, 0), (stop.rc, close.rc))

    def test_path_change_is_taken_by_the_next_start_alone(self):
        # Between the old file's play and the new one's open come only the restart's stop and close: nothing reacts.
        other = self.steps()['other']
        self.assertEqual(['MCI_STOP', 'MCI_CLOSE', 'MCI_OPEN', 'MCI_PLAY'], [c.command for c in other])
        self.assertEqual(windows_path(Scene.files['other']), other[2].element)

    def test_midi_goes_to_the_sequencer_and_bad_files_fail_quietly(self):
        open_, play = self.expect_open_and_play('midi', 'SEQUENCER')
        self.assertEqual((0, 0), (open_.rc, play.rc))
        # A missing file: the open fails; the play, and the next stop and close, go to whatever id the player holds.
        for name, driver in (('missing', 'any'), ('unknown', None)):
            open_, play = self.expect_open_and_play(name, driver)
            self.assertNotEqual(0, open_.rc, '%s: the open succeeded' % name)
            self.assertNotEqual(0, play.rc, '%s: the play succeeded' % name)


if __name__ == '__main__':
    runner.main()
