"""The sound player on Wine's real media control interface: what is heard
(recorded from the rig's sink) and which commands were sent (Wine's trace).

One stage process runs the whole scene once, with the recorder on; the cases
below each judge one part of it. Every test sound has its own pitch, so the
recording tells which file (and which part of a file) was playing.
"""
import os
import time
import unittest

import harness
import mcitrace
from mcitrace import MCI_NOTIFY, MCI_WAIT, MCI_OPEN_ELEMENT
from soundtraylib import Stage, make_midi

SHORT_HZ = 440          # the first short WAV
OTHER_HZ = 550          # the short WAV the path is switched to
FIRST_PART_HZ = 330     # the long WAV: first part ...
SECOND_PART_HZ = 880    # ... and second part
MP3_HZ = 660
PART_SECONDS = 2.0      # the first part; the second is twice as long, so a
SECOND_PART_SECONDS = 4.0   # cut play is told from one played to its end


def near(freq, want, tolerance=0.08):
    return abs(freq - want) <= want * tolerance


def pitch_between(t_from, t_to):
    """The pitch heard between two instants, counted over the sounding
    stretches only, so a dropout on a loaded machine does not pull it down."""
    crossings = 0.0
    seconds = 0.0
    for s, e, _ in Scene.sounds:
        a, b = max(s, t_from), min(e, t_to)
        if b - a > 0.02:
            hz = Scene.recorder.freq_between(a, b)
            crossings += hz * (b - a)
            seconds += b - a
    return crossings / seconds if seconds else 0.0


class Scene:
    """What one run of the scene left behind."""
    sounds = []          # [(start, end, freq)] on the recording's clock
    order = []           # the step names in the order they ran
    at = {}              # step name -> when its command was answered (recording's clock)
    sent = {}            # step name -> when its command was sent
    stuck = None         # what the stage said when its last stop never returned
    devices = {}         # step name -> device id the player held after it
    calls = []           # the traced MCI commands
    windows_before = []
    windows_after = []
    files = {}


def setUpModule():
    rig = harness.RIG
    d = rig.tmp
    f = Scene.files
    f['short'] = harness.make_tone(os.path.join(d, 'short.wav'), SHORT_HZ, 0.4)
    f['other'] = harness.make_tone(os.path.join(d, 'other.wav'), OTHER_HZ, 0.4)
    f['long'] = harness.make_two_part_tone(os.path.join(d, 'long.wav'), FIRST_PART_HZ, SECOND_PART_HZ,
                                           PART_SECONDS, SECOND_PART_SECONDS)
    f['mp3'] = harness.make_mp3(os.path.join(d, 'tone.mp3'), MP3_HZ, 0.6)
    f['midi'] = make_midi(os.path.join(d, 'tune.mid'))
    f['missing'] = os.path.join(d, 'missing.wav')
    f['unknown'] = os.path.join(d, 'noise.xyz')
    with open(f['unknown'], 'wb') as out:
        out.write(b'RIFF' + bytes(200))

    stage = Stage(rig, trace=True, name='sound')
    recorder = harness.Recorder(rig).start()
    try:
        def step(name, command, wait):
            Scene.order.append(name)
            t, _ = stage.cmd(command)
            Scene.at[name] = recorder.at(t)
            Scene.sent[name] = recorder.at(stage.sent)
            Scene.devices[name] = stage.device()
            time.sleep(wait)

        step('first-stop', 'stop', 0.1)
        stage.set_path(f['short'])
        step('short', 'start', 0.9)
        step('short-again', 'restart', 0.9)
        stage.set_path(f['other'])
        step('other', 'restart', 0.9)
        stage.set_path(f['long'])
        # Into the second part even if the play started late, with more of
        # it left than a stop lets play out (Wine plays the queued buffers,
        # 0.35-0.7 s here, before the stop returns).
        step('long', 'restart', PART_SECONDS + 0.8)
        step('long-again', 'restart', PART_SECONDS + 1.2)
        # Right after a sound that would be heard again if a failed open
        # played the file before it.
        Scene.windows_before = stage.windows()
        stage.set_path(f['missing'])
        step('missing', 'restart', 0.9)
        stage.set_path(f['unknown'])
        step('unknown', 'restart', 0.9)
        Scene.windows_after = stage.windows()
        stage.set_path(f['midi'])
        step('midi', 'restart', 0.4)
        # The MP3 last: Wine 10's MPEG device can hang in a stop, which then
        # holds up only what comes after it.
        stage.set_path(f['mp3'])
        step('mp3', 'restart', 1.4)
        try:
            step('last-stop', 'stop', 0)
        except AssertionError as e:
            Scene.sent['last-stop'] = recorder.at(stage.sent)
            Scene.stuck = str(e)
    finally:
        recorder.stop()
        stage.quit()
    Scene.sounds = recorder.sounds()
    Scene.calls = stage.calls()
    Scene.trace = stage.trace_path
    recorder.save_wav(os.path.join(d, 'sound_e2e.wav'))
    print('\nheard (start, end, Hz):')
    for s, e, hz in Scene.sounds:
        print('  %.3f-%.3f (%.3f s) %.0f Hz' % (s, e, e - s, hz))
    print('steps: ' + ', '.join('%s=%.3f' % kv for kv in sorted(Scene.at.items(), key=lambda kv: kv[1])))
    print('traced:\n' + mcitrace.describe(Scene.calls))
    Scene.recorder = recorder


def sound_after(name):
    """The first stretch of sound that began after a step's command was sent
    and before the next step's was."""
    following = Scene.order[Scene.order.index(name) + 1:]
    until = Scene.sent[following[0]] if following else float('inf')
    for s, e, hz in Scene.sounds:
        if Scene.sent[name] <= s < until:
            return s, e, hz
    return None


def pitch_track(t_from, t_to, window=0.05):
    """[(start, Hz)] of the 50 ms windows between two instants, each by the
    pitch of what sounds in it (0 Hz where nothing does): a window that holds
    a tone's last 17 ms and silence is not a tone at a third of its pitch."""
    track = []
    t = t_from
    while t + window <= t_to:
        track.append((t, pitch_between(t, t + window)))
        t += window
    return track


class Heard(unittest.TestCase):
    def test_a_short_wav_is_heard_with_its_pitch_each_time_it_starts(self):
        for name, hz in (('short', SHORT_HZ), ('short-again', SHORT_HZ), ('other', OTHER_HZ)):
            found = sound_after(name)
            self.assertIsNotNone(found, '%s: nothing heard; heard %s' % (name, Scene.sounds))
            start = found[0]
            freq = pitch_between(start, start + 0.6)
            self.assertTrue(near(freq, hz), '%s: heard %.0f Hz, want %d' % (name, freq, hz))
            # The whole file (0.4 s), give or take dropouts and fades.
            heard = sum(min(e, start + 0.8) - s for s, e, _ in Scene.sounds if start <= s < start + 0.8)
            self.assertTrue(0.25 <= heard <= 0.6, '%s: heard for %.3f s' % (name, heard))
        # Nothing at all before the first play.
        self.assertTrue(all(s >= Scene.sent['short'] for s, _, _ in Scene.sounds), Scene.sounds)

    def test_restart_plays_the_file_again_from_its_beginning(self):
        # Judged by what is heard, in order: the long file's first part, its
        # second part, its first part again right after the restart, then
        # its second part. A loaded machine may start a play late, or leave
        # no silence between the cut play and the new one: neither matters.
        first = sound_after('long')
        self.assertIsNotNone(first, 'the long file was not heard')
        start = first[0]
        restart = Scene.sent['long-again']
        self.assertTrue(near(pitch_between(start + 0.1, start + 0.6), FIRST_PART_HZ), 'its first part')
        self.assertLess(start + PART_SECONDS + 0.15, restart, 'heard too late to reach its second part')
        track = pitch_track(start + PART_SECONDS + 0.05, Scene.sent['missing'])
        second = [t for t, hz in track if near(hz, SECOND_PART_HZ) and t + 0.05 <= restart]
        self.assertTrue(second, 'its second part before the restart: %s' % track)
        # Back to the first part after the restart ...
        back = [t for t, hz in track if t >= second[-1] and near(hz, FIRST_PART_HZ)]
        self.assertTrue(back, 'its first part after the restart: %s' % track)
        again = back[0]
        self.assertGreaterEqual(again, restart - 0.05, 'the first part came back before the restart')
        # ... well before the second part could have played to its end: it
        # was cut off.
        self.assertLess(again - (start + PART_SECONDS), SECOND_PART_SECONDS - 1.0,
                        'the second part played to its end (%.2f s)' % (again - start - PART_SECONDS))
        self.assertTrue(near(pitch_between(again + 0.1, again + 0.6), FIRST_PART_HZ), 'the first part again')
        # It then plays on into its second part: a whole new play.
        later = pitch_between(again + PART_SECONDS + 0.15, again + PART_SECONDS + 0.55)
        self.assertTrue(near(later, SECOND_PART_HZ), 'later: %.0f Hz' % later)

    def test_an_mp3_is_heard(self):
        found = sound_after('mp3')
        self.assertIsNotNone(found, 'nothing heard; heard %s' % Scene.sounds)
        freq = pitch_between(found[0], found[0] + 0.4)
        self.assertTrue(near(freq, MP3_HZ), 'heard %.0f Hz' % freq)

    def test_missing_and_unknown_files_play_nothing_and_show_nothing(self):
        # The long file was playing when the missing one was asked for: the
        # stop lets its queued end play out, then nothing starts until the
        # next file, and its first part is not heard again.
        begun = [s for s in Scene.sounds if Scene.sent['missing'] <= s[0] < Scene.sent['midi']
                 and not near(s[2], SECOND_PART_HZ)]      # the end, broken up by a dropout
        self.assertEqual([], begun, 'something started')
        track = pitch_track(Scene.sent['missing'], Scene.sent['midi'])
        self.assertFalse([t for t, hz in track if near(hz, FIRST_PART_HZ)], 'the file before played again')
        self.assertEqual(Scene.windows_before, Scene.windows_after,
                         'a window appeared while the bad files were played')
        self.assertFalse([w for w in Scene.windows_after if w[2]], 'the stage shows a window')


class Commands(unittest.TestCase):
    def expect(self, call, command, device, flags):
        self.assertEqual((command, device, flags), (call.command, call.device, call.flags),
                         mcitrace.describe([call]))

    def restarts(self):
        """The traced calls cut into the scene's steps: 2 calls for the
        first stop, 2 for the start, 4 for every restart, 2 for the last stop
        (1 when it never returned)."""
        calls = list(Scene.calls)
        sizes = {'first-stop': 2, 'short': 2, 'last-stop': 1 if Scene.stuck else 2}
        self.assertEqual(sum(sizes.get(name, 4) for name in Scene.order), len(calls),
                         'unexpected number of commands:\n' + mcitrace.describe(calls))
        steps = {}
        for name in Scene.order:
            size = sizes.get(name, 4)
            steps[name], calls = calls[:size], calls[size:]
        return steps

    def expect_open_and_play(self, calls, path, driver):
        open_, play = calls
        self.expect(open_, 'MCI_OPEN', 0, MCI_OPEN_ELEMENT)
        self.assertEqual(harness.windows_path(path), open_.element)
        if driver != 'any':
            self.assertEqual(driver, open_.driver)
        self.expect(play, 'MCI_PLAY', open_.opened if open_.rc == 0 else play.device, MCI_NOTIFY)
        return open_, play

    def test_stop_open_play_and_restart_follow_the_rules(self):
        steps = self.restarts()
        f = Scene.files
        # The first stop: stop then close, both waiting, to device 0.
        stop, close = steps['first-stop']
        self.expect(stop, 'MCI_STOP', 0, MCI_WAIT)
        self.expect(close, 'MCI_CLOSE', 0, MCI_WAIT)
        # The start: an open naming the file alone, then a notified play to
        # the device it opened, which is the id the player keeps.
        open_, play = self.expect_open_and_play(steps['short'], f['short'], 'WAVEAUDIO')
        self.assertEqual(0, open_.rc)
        self.assertEqual(0, play.rc)
        self.assertEqual(Scene.devices['short'], play.device)
        # A restart: stop and close (waiting) of that device, a fresh open
        # and play.
        previous = play.device
        for name in ('short-again', 'other', 'long', 'long-again'):
            stop, close = steps[name][:2]
            self.expect(stop, 'MCI_STOP', previous, MCI_WAIT)
            self.expect(close, 'MCI_CLOSE', previous, MCI_WAIT)
            self.assertEqual(0, close.rc, '%s: the device was not open' % name)
            path = f[{'short-again': 'short', 'long-again': 'long'}.get(name, name)]
            open_, play = self.expect_open_and_play(steps[name][2:], path, 'WAVEAUDIO')
            self.assertEqual((0, 0), (open_.rc, play.rc), name)
            self.assertEqual(Scene.devices[name], play.device)
            previous = play.device
        # After files that failed to open, the stop and close go to whatever
        # id the last open left; the MP3 opens on the MPEG device.
        stop, close = steps['midi'][:2]
        self.expect(stop, 'MCI_STOP', Scene.devices['unknown'], MCI_WAIT)
        self.expect(close, 'MCI_CLOSE', Scene.devices['unknown'], MCI_WAIT)
        stop, close = steps['mp3'][:2]
        self.expect(stop, 'MCI_STOP', Scene.devices['midi'], MCI_WAIT)
        self.expect(close, 'MCI_CLOSE', Scene.devices['midi'], MCI_WAIT)
        open_, play = self.expect_open_and_play(steps['mp3'][2:], f['mp3'], 'MPEGVIDEO')
        self.assertEqual((0, 0), (open_.rc, play.rc))
        self.assertEqual(Scene.devices['mp3'], play.device)

    def test_last_stop_stops_and_closes_the_device_the_last_open_left(self):
        if Scene.stuck:
            # The stage is gone by now (ended when it gave no answer).
            harness.judge_mp3_stop_hang(self, harness.RIG, Scene.trace, Scene.files['mp3'], ended=True)
        self.assertIsNone(Scene.stuck)
        stop, close = self.restarts()['last-stop']
        self.expect(stop, 'MCI_STOP', Scene.devices['mp3'], MCI_WAIT)
        self.expect(close, 'MCI_CLOSE', Scene.devices['mp3'], MCI_WAIT)
        self.assertEqual((0, 0), (stop.rc, close.rc))

    def test_path_change_is_taken_by_the_next_start_alone(self):
        steps = self.restarts()
        # Between the play of the old file and the open of the new one come
        # only the restart's stop and close: nothing reacts to the change.
        other = steps['other']
        self.assertEqual(['MCI_STOP', 'MCI_CLOSE', 'MCI_OPEN', 'MCI_PLAY'], [c.command for c in other])
        self.assertEqual(harness.windows_path(Scene.files['other']), other[2].element)

    def test_midi_goes_to_the_sequencer_and_bad_files_fail_quietly(self):
        steps = self.restarts()
        f = Scene.files
        open_, play = self.expect_open_and_play(steps['midi'][2:], f['midi'], 'SEQUENCER')
        self.assertEqual((0, 0), (open_.rc, play.rc))
        # A missing file: the open fails; the play goes to whatever id the
        # player holds, and so do the next stop and close.
        for name, driver in (('missing', 'any'), ('unknown', None)):
            open_, play = self.expect_open_and_play(steps[name][2:], f[name], driver)
            self.assertNotEqual(0, open_.rc, '%s: the open succeeded' % name)
            self.assertEqual(Scene.devices[name], play.device, name)
            self.assertNotEqual(0, play.rc, '%s: the play succeeded' % name)


if __name__ == '__main__':
    harness.main()
