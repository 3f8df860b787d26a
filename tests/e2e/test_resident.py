"""The resident chime end to end: the real halvory.exe under Wine, driven with
the real mouse, watched through screenshots and heard through the rig's
recorded sound sink. Each scenario keeps one Halvory process where it can."""
import os
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import mcitrace  # noqa: E402
import residentlib as lib  # noqa: E402

INTERVAL_MS = 2000
INTERVAL = INTERVAL_MS / 1000.0
SHORT_TONE = 880    # Hz: the short chime of the timing scenario
LONG_TONE = 660     # Hz: a chime longer than the interval


def log(text):
    print(text, flush=True)


class Resident(unittest.TestCase):

    @classmethod
    def setUpClass(cls):
        cls.rig = harness.RIG
        cls.short_wav = harness.make_tone(os.path.join(cls.rig.tmp, 'short.wav'), SHORT_TONE, 0.3)
        cls.long_wav = harness.make_tone(os.path.join(cls.rig.tmp, 'long.wav'), LONG_TONE, 6.0)

    def setUp(self):
        self.rig.close_leftovers()
        self.assertEqual(0, self.rig.main_window(), 'a Halvory is still running')
        self.rec = None

    def tearDown(self):
        if self.rec:
            self.rec.stop()
        self.rig.close_leftovers()
        self.rig.kill_all()

    def start(self, wav=None):
        """Starts a fresh Halvory, chiming wav at the test interval (with no
        stored settings when None), its media commands traced; returns
        (process, window, spawn time, time the window was seen)."""
        if wav:
            proc, hwnd = harness.start_clean(self.rig, INTERVAL_MS, harness.windows_path(wav), traced=True)
        else:
            proc, hwnd = harness.start_clean(self.rig, traced=True)
        return proc, hwnd, proc.started, time.monotonic()

    def look(self, want):
        """The tray's look once it is the wanted one, or when time ran out."""
        return harness.wait_tray_look(self.rig, want)[0]

    def test_chimes_once_per_interval_and_stays_single(self):
        rec = self.rec = harness.Recorder(self.rig).start()
        proc, hwnd, spawned, seen = self.start(self.short_wav)
        self.assertEqual('running', self.look('running'))
        log('%s: window %.2f s, tray icon seen %.2f s after the spawn'
            % (self.rig.arch, seen - spawned, time.monotonic() - spawned))

        # A second start, and "/U" which is not the close request, both end
        # at once with 0 and leave the first one as it was.
        rc, took = lib.run_to_end(self.rig)
        self.assertEqual(0, rc)
        log('second start ended with %d after %.2f s' % (rc, took))
        rc, took = lib.run_to_end(self.rig, '/U')
        self.assertEqual(0, rc)
        log('"/U" ended with %d after %.2f s' % (rc, took))
        others_done = time.monotonic()
        self.assertIsNone(proc.poll(), 'Halvory ended by itself:\n' + harness.tail(proc.log))
        self.assertEqual(hwnd, self.rig.main_window())
        self.assertEqual('running', harness.tray_look(self.rig.screenshot()))

        lib.wait_recorded(rec, max(rec.at(seen) + 6 * INTERVAL, rec.at(others_done) + INTERVAL) + 1.0)
        # A dropout inside a chime (a loaded machine) must not count as a
        # second chime: pieces closer than a quarter interval are one.
        spans = [s for s in rec.sounds(merge_gap=INTERVAL / 4) if s[0] >= rec.at(spawned)]
        onsets = [s[0] for s in spans]
        log('onsets after the window was seen: %s'
            % ', '.join('%.3f' % (t - rec.at(seen)) for t in onsets))
        self.assertTrue(onsets, 'no chime: %s' % spans)
        for start, end, freq in spans:
            self.assertAlmostEqual(SHORT_TONE, freq, delta=SHORT_TONE * 0.1)

        # No sound at start: the first chime is one interval after the
        # window exists, which is after the spawn and before it was seen.
        first = onsets[0]
        log('first chime %.3f s after the window was seen, %.3f s after the spawn'
            % (first - rec.at(seen), first - rec.at(spawned)))
        # On one clock: the first media command comes at the first tick.
        self.assertGreaterEqual(mcitrace.tick_times(proc.log)[0], spawned + INTERVAL)
        self.assertLessEqual(first - rec.at(seen), INTERVAL + 1.0)
        gaps = [b - a for a, b in zip(onsets, onsets[1:])]
        log('gaps: %s' % ', '.join('%.3f' % g for g in gaps))
        # Once per interval, by the median gap (the first play of a process
        # opens the device cold and may start late), and never twice in one.
        harness.assert_period(self, onsets, INTERVAL, gaps=5)
        self.assertGreater(min(gaps), INTERVAL / 2, 'two chimes in one interval')
        # The chimes went on through the second starts.
        self.assertTrue([t for t in onsets if t > rec.at(others_done)])

        # "/u" closes it: icon gone, both processes end with 0, the second
        # after its one-second wait.
        rc, took = lib.run_to_end(self.rig, '/u')
        log('"/u" ended with %d after %.2f s' % (rc, took))
        self.assertEqual(0, rc)
        self.assertGreaterEqual(took, 1.0)
        self.assertEqual(0, proc.wait(15))
        self.assertEqual('none', self.look('none'))

    def test_tray_menu_pauses_resumes_and_exits(self):
        rec = self.rec = harness.Recorder(self.rig).start()
        proc, hwnd, spawned, seen = self.start(self.long_wav)
        # Wait for the first chime: the menu is opened while it plays.
        self.assertIsNotNone(lib.wait_onset(rec, rec.at(spawned), 15), 'no chime came')

        shot, state = lib.open_tray_menu_on_screen(self.rig)
        log('menu while running: %s (%s)' % (state, shot))
        self.assertIsNotNone(state, 'the tray menu did not open')
        self.assertTrue(lib.enabled(state['pause']), state)
        self.assertTrue(lib.grayed(state['resume']), state)
        paused_at = lib.choose(self.rig, state, 'pause')
        self.assertEqual('paused', self.look('paused'))
        looked = time.monotonic()       # the paused look was on the screen by now

        # While paused nothing plays, over more than two intervals after the
        # look changed.
        lib.wait_recorded(rec, rec.at(looked) + 2 * INTERVAL + 0.5)
        spans = rec.sounds()
        # Each tick restarts the chime, which may leave a short gap: look
        # at the moments just before the click.
        playing = lib.spans_between(spans, rec.at(paused_at) - 0.4, rec.at(paused_at))
        self.assertTrue(playing, 'the long chime was not playing when Pause was chosen')
        # The last sound to start before the look changed (a tick may have
        # restarted the chime between the click and the command).
        cut = [s for s in spans if s[0] < rec.at(looked)][-1]
        log('sound ended %.3f s after the click on Pause, %.3f s before the paused look was seen'
            % (cut[1] - rec.at(paused_at), rec.at(looked) - cut[1]))
        # Pause stops the sound, then shows the paused look: the 6 s chime,
        # which would have gone on, fell silent before the look changed (the
        # tenth of a second is the sound's way out through the sink) ...
        self.assertLessEqual(cut[1], rec.at(looked) + 0.1)
        self.assertLess(cut[1] - cut[0], 5.5, 'the chime played to its end')
        # ... and nothing started after it.
        self.assertEqual([], [s for s in spans if s[0] > cut[0]])

        shot, state = lib.open_tray_menu_on_screen(self.rig)
        log('menu while paused: %s (%s)' % (state, shot))
        self.assertIsNotNone(state, 'the tray menu did not open')
        self.assertTrue(lib.grayed(state['pause']), state)
        self.assertTrue(lib.enabled(state['resume']), state)
        resumed_at = lib.choose(self.rig, state, 'resume')
        self.assertEqual('running', self.look('running'))

        # Resume plays nothing until a full interval has passed: from the
        # click (taken before it was made) to its first tick, on one clock.
        # Nothing ticked from the paused look to the click.
        lib.wait_recorded(rec, rec.at(resumed_at) + INTERVAL + 1.5)
        ticks = [t for t in mcitrace.tick_times(proc.log) if t > looked]
        self.assertTrue(ticks, 'no chime after resume')
        log('first tick %.3f s after the click on Resume' % (ticks[0] - resumed_at))
        self.assertGreaterEqual(ticks[0], resumed_at + INTERVAL)
        after = [s for s in rec.sounds() if s[0] >= rec.at(resumed_at)]
        self.assertTrue(after, 'no chime heard after resume')
        self.assertAlmostEqual(LONG_TONE, after[0][2], delta=LONG_TONE * 0.1)

        shot, state = lib.open_tray_menu_on_screen(self.rig)
        self.assertIsNotNone(state, 'the tray menu did not open')
        self.assertTrue(lib.enabled(state['pause']), state)
        exit_at = lib.choose(self.rig, state, 'exit')
        self.assertEqual(0, proc.wait(15))
        log('ended with 0 %.2f s after the click on Exit' % (time.monotonic() - exit_at))
        self.assertEqual('none', self.look('none'))

    def test_answers_senders_and_survives_taskbar_restart_without_writing_registry(self):
        # No stored settings: the defaults, and nothing of this run is stored.
        proc, hwnd, _, _ = self.start()
        self.assertEqual('running', self.look('running'))

        # Sent from another process: answered with 1 before it is handled.
        self.assertEqual('1', self.rig.driver('send', hex(hwnd), harness.WM_NULL, 0, 0))
        self.assertEqual('1', self.rig.driver('send', hex(hwnd), harness.WM_COMMAND, 0, 0))

        for state, command in (('running', None), ('paused', harness.IDM_PAUSE)):
            if command:
                self.rig.command(hwnd, command)
                self.assertEqual(state, self.look(state))
            self.rig.driver('traydelete', hex(hwnd))
            self.assertEqual('none', self.look('none'))
            self.rig.driver('broadcast', 'TaskbarCreated')
            look = self.look(state)
            log('icon after a taskbar restart while %s: %s' % (state, look))
            self.assertEqual(state, look)

        self.rig.command(hwnd, harness.IDM_RESUME)
        self.assertEqual('running', self.look('running'))
        self.rig.command(hwnd, harness.IDM_EXIT)
        self.assertEqual(0, proc.wait(15))
        self.assertEqual('none', self.look('none'))
        self.assertEqual('nokey', self.rig.reg_get('Wait'))

    def test_close_requests_with_none_running(self):
        # "/u" with none running: waits its second, ends with 0, starts nothing.
        started = time.monotonic()
        windows, rc = harness.main_windows_while_running(self.rig, self.rig.start_halvory('/u'))
        took = time.monotonic() - started
        log('"/u" with none running ended with %s after %.2f s' % (rc, took))
        self.assertEqual([], windows, 'the close request started an instance')
        self.assertEqual(0, rc)
        self.assertGreaterEqual(took, 1.0)

        # "/U" is no close request: with none running it starts as usual,
        # and a WM_CLOSE posted from outside ends it with 0, icon removed.
        self.rig.reg_clear()
        proc = self.rig.start_halvory('/U')
        hwnd = self.rig.wait_main_window()
        self.assertNotEqual(0, hwnd)
        self.assertEqual('running', self.look('running'))
        self.rig.post(hwnd, harness.WM_CLOSE)
        self.assertEqual(0, proc.wait(15))
        self.assertEqual('none', self.look('none'))

    def test_close_request_typed_for_an_exe_in_a_japanese_folder(self):
        # Where a Japanese user keeps it: C:\Users\山田\ダウンロード. A path
        # walked with signed bytes ends at its first Japanese character, and
        # the rest of it is taken for the argument.
        folder = os.path.join(self.rig.env['WINEPREFIX'], 'drive_c', 'users', '山田', 'ダウンロード')
        os.makedirs(folder, exist_ok=True)
        exe = shutil.copy(self.rig.exe, os.path.join(folder, 'halvory.exe'))
        typed = 'C:\\Users\\山田\\ダウンロード\\halvory.exe'
        # Wine's cmd starts no program at all from "PATH"/u (a control:
        # "C:\windows\notepad.exe"/x is not recognised either): that line
        # is handed to CreateProcessA as it is, as the Run box does.
        for line, by_cmd in ((typed + ' /u', True), ('"%s" /u' % typed, True), ('"%s"/u' % typed, False)):
            with self.subTest(line):
                proc = self.rig.start_halvory(exe=exe, cwd=folder)
                self.assertTrue(self.rig.wait_main_window(), 'no start from ' + folder)
                self.assertEqual('running', self.look('running'))
                if by_cmd:
                    closer = lib.start_line(self.rig, line)
                    rc = closer.wait(30)
                else:
                    rc = int(self.rig.driver('run', line.encode('cp932').hex(), 30000))
                self.assertEqual(0, rc)
                try:
                    self.assertEqual(0, proc.wait(15))
                except subprocess.TimeoutExpired:
                    self.fail('the running instance did not close')
                self.assertEqual('none', self.look('none'))
            self.rig.close_leftovers()

        # The same unquoted line with none running starts nothing: no window
        # while it waits its second, and it ends with 0.
        windows, rc = harness.main_windows_while_running(self.rig, lib.start_line(self.rig, typed + ' /u'))
        self.assertEqual([], windows, 'the close request started an instance')
        self.assertEqual(0, rc)


if __name__ == '__main__':
    harness.main()
