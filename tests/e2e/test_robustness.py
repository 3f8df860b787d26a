"""Robustness of the real halvory.exe: sound files it cannot play, and faults in its life (rapid pause and resume,
two starts at once, a kill right after the settings were confirmed), and a first start as a user makes it."""
import contextlib
import os
import random
import shutil
import time

import audio
import desktop
import faults
import mcitrace
import runner
from desktop import DIALOG_CLASS, open_settings
from resources import MAIN_CLASS, STOP_DEADLINE, IDOK, IDC_SOUNDFILE, IDC_HOURS, IDC_MINUTES, IDC_SECONDS, IDM_PAUSE, IDM_RESUME
from rig import LATE, LONG, SHORT, WM_CLOSE, ms, WM_COMMAND, said, windows_path
from timeline import STOP, TICKS, Timeline, assert_commands, assert_not_before, assert_period, near


class BadSoundInputs(runner.Case):
    """Whatever the sound setting names, each tick opens it again, nothing shows, and it neither crashes nor stops."""

    @classmethod
    def setUpClass(cls):
        d = cls.dir = os.path.join(runner.RIG.tmp, 'bad')
        os.makedirs(d)
        rnd = random.Random(7)
        open(os.path.join(d, 'empty.wav'), 'wb').close()
        for ext in ('wav', 'mp3', 'mid'):
            with open(os.path.join(d, 'garbage.' + ext), 'wb') as f:
                f.write(bytes(rnd.randrange(256) for _ in range(4096)))
        # A RIFF header that promises far more than the file holds.
        with open(os.path.join(d, 'truncated.wav'), 'wb') as f:
            f.write(b'RIFF\xff\xff\xff\x7fWAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00'
                    b'\x44\xac\x00\x00\x88\x58\x01\x00\x02\x00\x10\x00data\xff\xff\xff\x7f')
        os.makedirs(os.path.join(d, 'folder.wav'))
        # A good WAV under a name no media device claims.
        os.rename(audio.make_tone(os.path.join(d, 'tone.wav'), 500, 0.2), os.path.join(d, 'tone.xyz'))
        # Exactly 259 bytes as Windows sees it (Z:\...), a real WAV at the end.
        base, tail = windows_path(d), '\\x.wav'
        need = 259 - len(base) - len(tail)      # backslashes and folder names
        k = -(-need // 101)                     # folders of at most 100 bytes
        parts = ['L' * ((need - k) // k + (1 if i < (need - k) % k else 0)) for i in range(k)]
        cls.long_win = base + '\\' + '\\'.join(parts) + tail
        assert len(cls.long_win.encode('cp932')) == 259, len(cls.long_win)
        os.makedirs(os.path.join(d, *parts))
        audio.make_tone(os.path.join(d, *parts, 'x.wav'), 650, 0.2)

    def run_with(self, sound_path, period=None, every=250):
        """Starts Halvory on sound_path every `every` ms, or at the interval whose period is to be judged; returns the
        media commands it sent over several ticks, having checked it stayed up and showed nothing."""
        hv = self.rig.start_halvory(every if period is None else period, sound_path, traced=True)
        wpid = int(self.rig.driver('pid', hex(hv.hwnd)).split()[0])
        # Every tick opens the file afresh: six opens are five ticks after the first, so ticking went on after
        # whatever the first open did, at the interval, by the trace's clock.
        opens = lambda: [c for c in hv.calls() if c.command == 'MCI_OPEN']  # noqa: E731
        desktop.wait_until(lambda: len(opens()) >= 6, LONG)
        self.assertGreaterEqual(len(opens()), 6, 'ticks stopped')
        # Judged where each tick's open fails at once: one longer than the interval (a garbage MP3 under load) holds
        # the ticks up. 0 is the platform's shortest period: 10 ms (Windows's clock makes it 15.6), not a tenth of one.
        if period is not None:
            assert_period(self, self.timeline.ticks(hv), period / 1000.0 or 0.01, within=0.03 if period else 2.0)
        self.assertIsNone(hv.poll(), 'Halvory ended by itself:\n' + hv.tail())
        self.assertEqual(desktop.top_windows(self.rig, pid=wpid, visible=True), [], 'Halvory showed a window')
        self.assertEqual(desktop.top_windows(self.rig, cls=DIALOG_CLASS, visible=True), [], 'a box appeared')
        self.assertTrue(self.rig.main_window(), 'the main window is gone')
        faults.assert_ends_with_0(self, hv, hv.exit())
        return hv.calls()

    def test_unplayable_files_never_crash_nor_show_a_box(self):
        for label, name, *period in (('missing file', 'missing.wav', 500), ('missing file at interval 0', 'missing.wav', 0),
                                     ('empty file', 'empty.wav'), ('garbage .wav', 'garbage.wav'),
                                     ('garbage .mp3', 'garbage.mp3'), ('garbage .mid', 'garbage.mid'),
                                     ('truncated WAV header', 'truncated.wav'), ('a directory', 'folder.wav'),
                                     ('unknown extension', 'tone.xyz')):
            with self.subTest(label):
                # Where the open got as far as naming its file, the name is the setting unchanged.
                self.assert_opens_name(windows_path(os.path.join(self.dir, name)), *period)

    def assert_opens_name(self, win, *period):
        names = mcitrace.opened_elements(self.run_with(win, *period))
        self.assertTrue(names, 'no open named a file')
        self.assertEqual(set(names), {win})

    def test_259_byte_path_reaches_the_player_whole(self):
        self.assert_opens_name(self.long_win)

    def test_folder_names_with_0x5c_trail_bytes_are_heard(self):
        # 表 is 95 5C and ソ is 83 5C in code page 932: a byte-wise path walk takes their second bytes for separators.
        tl = Timeline(self.rig, record=True)
        self.addCleanup(tl.stop)
        folder = os.path.join(self.dir, '表示', 'ソース')
        os.makedirs(folder)
        audio.make_tone(os.path.join(folder, 'ベル.wav'), 1100, 0.3)
        t_start = time.monotonic()
        self.run_with(windows_path(os.path.join(folder, 'ベル.wav')), every=500)    # each 0.3 s chime heard apart
        heard = [s for s in tl.heard(t_start) if near(s.pitch, 1100)]
        self.assertGreaterEqual(len(heard), 2, 'the chime was not heard: %r' % tl.heard(t_start))


class LifecycleFaults(runner.Case):
    """Faults in the program's life: it must come out of them working."""
    record = True

    def test_100_pause_resume_cycles_leave_it_chiming_and_looking_running(self):
        tl = self.timeline
        wav = audio.make_tone(os.path.join(self.folder(), 'cycle.wav'), 700, 0.3)
        hv = self.rig.start_halvory(1000, windows_path(wav), traced=True)
        self.assertGreaterEqual(len(tl.wait_ticks(hv, 2)), 2)
        # Posted in bursts, 5 ms apart, with ticks falling among them.
        mark = tl.mark(hv)
        self.rig.driver('postmany', hex(hv.hwnd), 100, 5, WM_COMMAND, IDM_PAUSE, 0, WM_COMMAND, IDM_RESUME, 0)
        t_posted = time.monotonic()     # every command of the cycles is in the queue by now
        # Chiming again, every second, however long the queue took to drain.
        ticks = tl.wait_ticks(hv, 5, after=t_posted)
        self.assertGreaterEqual(len(ticks), 5, 'no chime after the cycles')
        # Each of the hundred pauses stopped and closed the sound, ticks among them: judged up to the last tick's play
        # (a restart after it may be under way), which came after them all (a timer ticks only when the queue is empty).
        calls = tl.since(hv, mark)
        calls = calls[:calls.index([r for r in mcitrace.restarts(calls) if r.play][-1].play) + 1]
        assert_commands(self, calls, [TICKS, STOP] * 100 + [TICKS], 'the hundred pauses')
        self.assertEqual(desktop.wait_tray(self.rig, 'running')[0], 'running')
        self.assertIsNone(hv.poll(), 'Halvory ended by itself:\n' + hv.tail())
        assert_period(self, ticks, 1.0)
        # Heard, not just asked for: the 700 Hz tone after the cycles. A dropout inside a 0.3 s tone (seen under heavy
        # load) is not a second chime: pieces closer than a quarter second are one.
        after = [s for s in tl.heard(t_posted, merge_gap=0.25) if near(s.pitch, 700, 100 / 700)]
        self.assertGreaterEqual(len(after), 4, tl.heard(t_posted))
        faults.assert_ends_with_0(self, hv, hv.exit())

    def test_close_request_while_an_mp3_plays_ends_with_code_0(self):
        # A close request from outside sends no stop to the player, so the device is still open when the loop ends; the
        # process must still end normally rather than die tearing the MPEG player down.
        mp3 = audio.make_mp3(os.path.join(self.folder(), 'long.mp3'), 660, 3.0)
        hv = self.rig.start_halvory(1000, windows_path(mp3), traced=True)
        self.assertTrue(self.timeline.wait_ticks(hv, 1))
        time.sleep(0.5)
        mark = self.timeline.mark(hv)
        self.rig.post(hv.hwnd, WM_CLOSE)
        code = hv.wait(LONG)
        # After the request (a tick may still come first), the device the last open left is stopped and closed, alone.
        calls = hv.calls()
        last = mcitrace.restarts(calls)[-1]
        start = calls.index(last.open) + 2
        ending = calls[start:]
        self.assertGreaterEqual(start, mark, 'the last restart came after the request:\n' + mcitrace.describe(calls[-6:]))
        self.assertEqual({c.device for c in ending}, {last.open.opened}, mcitrace.describe(ending))
        if ending and ending[0].command == 'MCI_STOP' and ending[0].rc is None:
            # Wine 10's MPEG player, stopped while it still decodes, now and then never returns (two threads of its own
            # wait on each other; no command the program may send avoids it). Nothing can follow on the program's one
            # thread: a second one ends it at its deadline, with the run's code, and no sooner.
            assert_commands(self, ending, [('MCI_STOP',)], 'after the request, a stop that never returned')
            self.assertIsNotNone(code, 'no deadline ended Halvory: ' + hv.how())
            self.assertGreaterEqual(hv.ended_at, self.timeline.at(ending[0]) + STOP_DEADLINE,
                                    'it ended before its deadline, not by it: %s' % hv.how())
            said('met: %s: the MPEG device\'s stop never returned; Halvory ended at its deadline' % self.id())
        else:
            assert_commands(self, ending, [STOP], 'after the request')
        faults.assert_ends_with_0(self, hv, code)

    def test_two_starts_at_once_leave_one_instance(self):
        # Both look for the other's window before either has made its own; the instance lock lets one run. Over several
        # rounds: the other ends at once with 0, one window remains, and it ends with 0 when closed.
        r = self.rig
        r.store(3600000, windows_path(os.path.join(r.tmp, 'none.wav')))

        def race():
            """(the start that ended by itself, the other)."""
            a, b = r.run_halvory(), r.run_halvory()
            self.assertTrue(r.main_window(ms(LONG)), 'neither start made a window')
            ended = desktop.wait_until(lambda: [p for p in (a, b) if p.poll() is not None], SHORT)
            self.assertEqual(len(ended), 1, 'not exactly one start ended by itself')
            return ended[0], b if ended[0] is a else a
        for round_ in range(5):
            with self.subTest(round=round_):
                loser, winner = race()
                if loser.poll() and not loser.reached_our_class():
                    # Ended by Wine before our code reached its one path to a failure code: the round raced nothing.
                    said('relaunched: round %d of the two starts, in which one %s before it registered its window '
                         'class; its log ends:\n%s' % (round_, loser.how(), loser.tail()))
                    r.close_leftovers()
                    loser, winner = race()
                self.assertEqual(loser.poll(), 0, loser.tail())
                running = desktop.top_windows(r, cls=MAIN_CLASS)
                self.assertEqual(len(running), 1, 'main windows: %s' % (running,))
                self.assertIsNone(winner.poll(), 'the instance ended by itself:\n' + winner.tail())
                self.assertFalse(running[0].visible)
                r.post(running[0].hwnd, WM_CLOSE)
                self.assertEqual(winner.wait(LONG), 0, winner.how())
            r.end_all()
        # The lock alone keeps a start out, whichever way the starts fall: held from outside, with no window of ours
        # anywhere, a start ends at once with 0 and makes none.
        with self.subTest('the lock held from outside'):
            r.driver('hold', 'Local\\' + MAIN_CLASS)
            windows, code = r.main_windows_while(r.run_halvory())
            self.assertEqual(windows, [], 'a start ran while the lock was held')
            self.assertEqual(code, 0)

    def test_settings_confirmed_then_killed_are_kept(self):
        old = audio.make_tone(os.path.join(self.folder(), 'old.wav'), 400, 0.2)
        new = windows_path(audio.make_tone(os.path.join(self.folder(), 'new ソ.wav'), 450, 0.2))
        hv = self.rig.start_halvory(5000, windows_path(old))
        dlg = open_settings(hv)
        for field, text in ((IDC_HOURS, '1'), (IDC_MINUTES, '2'), (IDC_SECONDS, '3'), (IDC_SOUNDFILE, new)):
            dlg.set_text(field, text)
        dlg.close_by(IDOK)
        hv.end()                                   # no chance to tidy up
        try:
            self.assertEqual(self.rig.reg_get('Wait'), (4, (3723000).to_bytes(4, 'little')))
            self.assertEqual(self.rig.reg_get('SoundFile'), (1, new.encode('cp932') + b'\0'))
        finally:
            # The shell still shows the dead process's icon: take it away.
            self.rig.driver('traydelete', hex(hv.hwnd), check=False)
        # What the killed instance held is freed with it: the next start runs.
        again = self.rig.start_halvory(3723000, new)
        faults.assert_ends_with_0(self, again, again.exit())


BELL_SECONDS = 3.0      # the shipped Orvel.mp3 has rung out within this


class DefaultSetup(runner.Case):
    """A first start as a user makes it: no settings, from the folder the release (with its Orvel.mp3) unpacked into."""
    record = True

    def test_default_chime_is_heard_every_ten_seconds(self):
        tl = self.timeline
        mp3 = os.path.join(self.rig.exe_dir, 'Orvel.mp3')
        self.assertGreater(os.path.getsize(mp3), 10000)
        hv = self.rig.start_halvory(cwd=self.rig.exe_dir, traced=True)
        # Chimes are 10 s apart: pieces of one bell split by a dropout of a loaded machine are one chime.
        bells = lambda: tl.heard(hv.started, merge_gap=1.0)  # noqa: E731
        desktop.wait_until(lambda: len(tl.ticks(hv)) >= 3 and len(bells()) >= 2 or hv.poll() is not None,
                           3 * 10.0 + LONG, 1.0)
        ticks, counted = tl.ticks(hv), time.monotonic()
        # The exit's stop after the bell rang out (faults.py: Wine 10's MPEG device hangs in stops soon after a play).
        if ticks:
            tl.recorder.wait(tl.place(ticks[-1]) + BELL_SECONDS + LATE)
        code = hv.exit()
        # Every ten seconds from the start, on the trace's clock, and heard no sooner.
        self.assertTrue(ticks, 'nothing played')
        assert_not_before(self, ticks[0], hv.started + 10.0, 'the first chime came early')
        self.assertTrue(bells() and bells()[0].start >= tl.place(hv.started + 10.0), 'a bell before ten seconds')
        # The bell's strike tone is 784 Hz, among its partials.
        heard = [s for s in bells() if s.pitch and 600 < s.pitch < 1000]
        self.assertTrue(heard, bells())
        self.assertTrue(0.5 < heard[0].end - heard[0].start < BELL_SECONDS, 'a bell of a few seconds at most')
        self.assertEqual(self.rig.reg_get('Wait'), 'nokey', 'nothing is stored until OK')
        # A tick's stop to the MPEG device that never returned (seen under load, emulated 32-bit) ends the chimes.
        with faults.judge(self, 'a bell every ten seconds', of=hv, until=counted):
            assert_period(self, ticks, 10.0, gaps=2)
            self.assertGreaterEqual(len(heard), 2, bells())
        faults.assert_ends_with_0(self, hv, code)

    def test_dlls_planted_beside_the_exe_never_run_in_it(self):
        # Windows takes a DLL that is not one of its KnownDLLs from the exe's folder first, and Wine does too for a name
        # it is told to prefer native. Planted beside the exe: winmm, which Halvory uses, and the media drivers winmm
        # loads by name for a WAV (mciwave), a MIDI file (mciseq) and an MP3 (mciqtz32). Left out: comctl32, which
        # Halvory uses too, and the other names the platform's own DLLs import (imm32, uxtheme, version, msacm32): Wine
        # resolves the imports of its builtin DLLs in the program's folder as well, where Windows takes a KnownDLL's
        # imports from the system alone, so their mark would blame Halvory for Wine.
        r, tl = self.rig, self.timeline
        d = os.path.join(self.folder(), 'Downloads')
        os.makedirs(d)
        exe = shutil.copy(r.exe, d)
        planted = ('winmm', 'mciwave', 'mciseq', 'mciqtz32')
        for name in planted:
            shutil.copy(os.path.join(r.tools, 'tests', 'planted.dll'), os.path.join(d, name + '.dll'))
        env = mcitrace.trace_env(r.env)
        env['WINEDLLOVERRIDES'] += ';%s=n,b' % ','.join(planted)
        # The MP3 first: its device is then stopped by a tick long after its play, never soon after one (see faults.py).
        wav = audio.make_tone(os.path.join(d, 'bell.wav'), 520, 0.3)
        kinds = [('MPEGVIDEO', audio.make_mp3(os.path.join(d, 'bell.mp3'), 780, 0.5), 780), ('WAVEAUDIO', wav, 520),
                 ('SEQUENCER', audio.make_midi(os.path.join(d, 'tune.mid')), None)]

        def marks():
            found = {}
            for name in sorted(os.listdir(d)):
                if name.endswith('.loaded'):
                    with open(os.path.join(d, name), errors='replace') as f:
                        found[name.lower()] = f.read()
                    os.remove(os.path.join(d, name))
            return found
        # The controls: the minimal chime program imports winmm.dll by name, and its winmm loads the wave driver by
        # name. Beside the planted copies and under the same overrides, it must load the planted winmm, and with winmm
        # its own, the planted wave driver; if it does not, this rig plants nothing and "no mark" below proves nothing.
        chime = shutil.copy(os.path.join(r.tools, 'tests', 'chime.exe'), d)
        for names, mark in ((planted, 'winmm.dll.loaded'), (planted[1:], 'mciwave.dll.loaded')):
            overrides = dict(env, WINEDLLOVERRIDES=r.env['WINEDLLOVERRIDES'] + ';%s=n,b' % ','.join(names))
            control = r.start_exe(chime, '500', windows_path(wav), cwd=d, env=overrides, name='control')

            def marked():
                # The mark's text, not its file (made before it is written), named as the loader spelt the DLL's
                # name (WINMM.dll.loaded): the control is killed once it is seen.
                for name in os.listdir(d):
                    if name.lower() == mark:
                        with contextlib.suppress(OSError), open(os.path.join(d, name), errors='replace') as f:
                            return 'chime.exe' in f.read()
                return False
            desktop.wait_until(lambda: marked() or control.poll() is not None, LONG)
            how = control.how()
            control.end()
            self.assertIn('chime.exe', marks().get(mark, ''),
                          'the rig no longer plants: the minimal program loaded no planted %s (%s); its log ends:\n%s'
                          % (mark[:-7], how, control.tail()))
        played, since = {}, {}
        hv = r.start_halvory(2000, windows_path(kinds[0][1]), cwd=d, env=env, exe=exe)
        for driver, path, hz in kinds:
            if driver != kinds[0][0]:
                dlg = open_settings(hv)
                dlg.set_text(IDC_SOUNDFILE, windows_path(path))
                dlg.close_by(IDOK)
            since[driver] = time.monotonic()

            def plays():
                return [(x.open.driver, x.open.rc, x.play.rc) for x in mcitrace.restarts(hv.calls())
                        if x.open.element == windows_path(path) and x.play and x.play.rc is not None]
            # Twice, and heard where it can be (there is no MIDI synthesizer).
            desktop.wait_until(lambda: len(plays()) >= 2 or hv.poll() is not None, LONG, 0.5)
            if hz:
                tl.heard_whole(since[driver])
            played[driver] = plays()
        code = hv.exit()
        with self.subTest('no planted DLL ran inside Halvory'):
            self.assertEqual(marks(), {}, 'planted DLLs ran inside Halvory (mark: command line)')
        for driver, path, hz in kinds:
            with self.subTest(driver):
                # Opened by the system's own driver for the kind, played, heard.
                self.assertGreaterEqual(len(played[driver]), 2, 'not chimed twice: %s' % played[driver])
                self.assertTrue(all(x == (driver, 0, 0) for x in played[driver]), played[driver])
                if hz:
                    self.assertTrue([s for s in tl.heard(since[driver]) if near(s.pitch, hz)],
                                    'not heard: %s' % tl.heard(since[driver]))
        faults.assert_ends_with_0(self, hv, code)


if __name__ == '__main__':
    runner.main()
