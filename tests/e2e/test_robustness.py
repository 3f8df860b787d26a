"""Robustness of the real halvory.exe: sound files it cannot play, and faults
in its life (rapid pause and resume, two starts at once, a kill right after
the settings were confirmed)."""
import os
import random
import shutil
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import mcitrace  # noqa: E402
import residentlib  # noqa: E402
from harness import (WM_CLOSE, WM_COMMAND, IDM_EXIT, IDM_PAUSE, IDM_RESUME, IDM_SETTINGS,  # noqa: E402
                     start_clean, wait_for, windows_path)
from dialoglib import (IDOK, IDC_SOUNDFILE, IDC_HOURS, IDC_MINUTES, IDC_SECONDS,  # noqa: E402
                       SETTINGS_CAPTION, DIALOG_CLASS, open_settings_by_command)
from soundtraylib import make_midi  # noqa: E402


def rig():
    return harness.RIG


def exit_and_wait(r, hwnd, p, timeout=25):
    """Ends Halvory through its menu's exit command; returns the exit code."""
    r.command(hwnd, IDM_EXIT)
    try:
        return p.wait(timeout)
    except subprocess.TimeoutExpired:
        return 'still running'


def hex_of(text):
    return text.encode('cp932').hex()


class BadSoundInputs(unittest.TestCase):
    """Whatever the sound setting names, each tick opens it again, nothing is
    shown, and the process neither crashes nor stops ticking."""

    def tearDown(self):
        rig().kill_all()

    @classmethod
    def setUpClass(cls):
        r = rig()
        r.close_leftovers()
        d = os.path.join(r.tmp, 'bad')
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
        harness.make_tone(os.path.join(d, 'tone.wav'), 500, 0.2)
        os.rename(os.path.join(d, 'tone.wav'), os.path.join(d, 'tone.xyz'))
        cls.dir = d
        # Exactly 259 bytes as Windows sees it (Z:\...), a real WAV at the end.
        base = windows_path(d)
        tail = '\\x.wav'
        need = 259 - len(base) - len(tail)      # backslashes and folder names
        k = -(-need // 101)                          # folders of at most 100 bytes
        sizes = [(need - k) // k + (1 if i < (need - k) % k else 0) for i in range(k)]
        parts = ['L' * n for n in sizes]
        cls.long_win = base + '\\' + '\\'.join(parts) + tail
        assert len(cls.long_win.encode('cp932')) == 259, len(cls.long_win)
        long_unix = os.path.join(d, *parts, 'x.wav')
        os.makedirs(os.path.dirname(long_unix))
        harness.make_tone(long_unix, 650, 0.2)

    def run_with(self, sound_path, period=None):
        """Starts Halvory on sound_path at a half-second interval, or at the
        one whose period is to be judged; returns its trace log after
        several ticks, having checked it stayed up and showed nothing."""
        r = rig()
        p, hwnd = start_clean(r, 500 if period is None else period, sound_path, traced=True)
        wpid = int(r.driver('pid', hex(hwnd)).split()[0])
        # Every tick opens the file afresh: six opens are five ticks after
        # the first, so ticking went on after whatever the first open did,
        # at the interval, by the trace's clock.
        opens = wait_for(lambda: mcitrace.count(p.log, 'MCI_OPEN') >= 6, 20)
        self.assertTrue(opens, 'ticks stopped: %d opens' % mcitrace.count(p.log, 'MCI_OPEN'))
        # Judged where each tick's open fails at once: an open that takes
        # longer than the interval (a garbage MP3 on a loaded machine) holds
        # the ticks up. 0 is the platform's shortest period: 10 ms (Windows's
        # clock makes it 15.6), not a tenth of a second.
        if period is not None:
            harness.assert_period(self, mcitrace.tick_times(p.log), period / 1000.0 or 0.01,
                                  within=0.03 if period else 2.0)
        self.assertIsNone(p.poll(), 'Halvory ended by itself:\n' + harness.tail(p.log))
        self.assertEqual(harness.top_windows(r, pid=wpid, visible=True), [], 'Halvory showed a window')
        self.assertEqual(harness.top_windows(r, cls=DIALOG_CLASS, visible=True), [], 'a box appeared')
        self.assertTrue(r.main_window(), 'the main window is gone')
        self.assertEqual(exit_and_wait(r, hwnd, p), 0)
        return p.log

    def test_unplayable_files_never_crash_nor_show_a_box(self):
        d = self.dir
        cases = [
            ('missing file', os.path.join(d, 'missing.wav'), 500),
            ('missing file at interval 0', os.path.join(d, 'missing.wav'), 0),
            ('empty file', os.path.join(d, 'empty.wav')),
            ('garbage .wav', os.path.join(d, 'garbage.wav')),
            ('garbage .mp3', os.path.join(d, 'garbage.mp3')),
            ('garbage .mid', os.path.join(d, 'garbage.mid')),
            ('truncated WAV header', os.path.join(d, 'truncated.wav')),
            ('a directory', os.path.join(d, 'folder.wav')),
            ('unknown extension', os.path.join(d, 'tone.xyz')),
        ]
        for label, path, *period in cases:
            with self.subTest(label):
                win = windows_path(path)
                log = self.run_with(win, *period)
                # Where the open got as far as naming its file, the name is the
                # setting unchanged.
                names = mcitrace.opened_elements(mcitrace.parse(log))
                self.assertTrue(names, 'no open named a file')
                for name in names:
                    self.assertEqual(name, win)

    def test_259_byte_path_reaches_the_player_whole(self):
        log = self.run_with(self.long_win)
        names = mcitrace.opened_elements(mcitrace.parse(log))
        self.assertTrue(names, 'no open named a file')
        self.assertEqual(set(names), {self.long_win})

    def test_folder_names_with_0x5c_trail_bytes_are_heard(self):
        # 表 is 95 5C and ソ is 83 5C in code page 932: a byte-wise path walk
        # would take their second bytes for folder separators.
        r = rig()
        folder = os.path.join(self.dir, '表示', 'ソース')
        os.makedirs(folder)
        harness.make_tone(os.path.join(folder, 'ベル.wav'), 1100, 0.3)
        win = windows_path(os.path.join(folder, 'ベル.wav'))
        rec = harness.Recorder(r).start()
        try:
            t_start = time.monotonic()
            self.run_with(win)
        finally:
            rec.stop()
        heard = [s for s in rec.sounds() if s[0] > rec.at(t_start) and 1000 < s[2] < 1200]
        self.assertGreaterEqual(len(heard), 2, 'the chime was not heard: %r' % rec.sounds())


class LifecycleFaults(unittest.TestCase):
    """Faults in the program's life: it must come out of them working."""

    def setUp(self):
        rig().close_leftovers()
        rig().reg_clear()

    def tearDown(self):
        # A process a case left behind (stuck, say) must not hold the next.
        rig().kill_all()

    def test_100_pause_resume_cycles_leave_it_chiming_and_looking_running(self):
        r = rig()
        wav = harness.make_tone(os.path.join(r.tmp, 'cycle.wav'), 700, 0.3)
        rec = harness.Recorder(r).start()
        try:
            p, hwnd = start_clean(r, 1000, windows_path(wav), traced=True)
            self.assertTrue(wait_for(lambda: mcitrace.count(p.log, 'MCI_PLAY') >= 2, 15))
            # Posted in bursts, 5 ms apart, with ticks falling among them.
            r.driver('postmany', hex(hwnd), 100, 5, WM_COMMAND, IDM_PAUSE, 0, WM_COMMAND, IDM_RESUME, 0)
            t_posted = time.monotonic()     # every command of the cycles is in the queue by now

            def ticks_after():
                return [t for t in mcitrace.tick_times(p.log) if t > t_posted]
            # Chiming again, every second, however long the queue took to
            # drain: a resume re-arms a whole interval, so no play comes
            # between the cycles' commands.
            self.assertTrue(wait_for(lambda: len(ticks_after()) >= 5, 20), 'no chime after the cycles')
            look = harness.wait_tray_look(r, 'running')[0]
            self.assertIsNone(p.poll(), 'Halvory ended by itself:\n' + harness.tail(p.log))
            self.assertEqual(exit_and_wait(r, hwnd, p), 0)
        finally:
            rec.stop()
        self.assertEqual(look, 'running')
        harness.assert_period(self, ticks_after(), 1.0)
        # Heard, not just asked for: the 700 Hz tone after the cycles. A
        # dropout inside a 0.3 s tone (seen under heavy load) is not a second
        # chime: pieces closer than a quarter second are one.
        after = [s[0] for s in rec.sounds(merge_gap=0.25)
                 if s[0] > rec.at(t_posted) and 600 < s[2] < 800]
        self.assertGreaterEqual(len(after), 4, rec.sounds())

    def test_close_request_while_an_mp3_plays_ends_with_code_0(self):
        # A close request from outside sends no stop to the player, so the
        # device is still open when the loop ends; the process must still
        # end normally rather than die tearing the MPEG player down.
        r = rig()
        mp3 = harness.make_mp3(os.path.join(r.tmp, 'long.mp3'), 660, 3.0)
        p, hwnd = start_clean(r, 1000, windows_path(mp3), traced=True)
        self.assertTrue(wait_for(lambda: mcitrace.count(p.log, 'MCI_PLAY') >= 1, 15))
        time.sleep(0.5)
        t_close = time.monotonic()
        r.post(hwnd, WM_CLOSE)
        try:
            code = p.wait(25)
        except subprocess.TimeoutExpired:
            code = 'still running'
        # After the request (a tick may still come first), the device the
        # last open left is stopped and closed, and nothing follows.
        calls = mcitrace.parse(p.log)
        last = max(i for i, c in enumerate(calls) if c.command == 'MCI_OPEN')
        device, ending = calls[last].opened, calls[last + 2:]
        said = mcitrace.describe(calls[-6:])
        self.assertEqual([(c.command, c.device) for c in ending[:1]], [('MCI_STOP', device)], said)
        # A stop that never returned (the MPEG device now and then) may be a
        # tick's, sent before the request, which the thread then never reads:
        # only the ending is judged then, against the control.
        if ending[0].rc is not None:
            self.assertGreater(ending[0].time - mcitrace.raw_minus_monotonic(), t_close, said)
            self.assertEqual([(c.command, c.device) for c in ending], [('MCI_STOP', device), ('MCI_CLOSE', device)],
                             said)
        harness.assert_ended_with_0(self, r, p, code, mp3)

    def test_two_starts_at_once_leave_one_instance(self):
        # Both look for the other's window before either has made its own;
        # the instance lock lets one run. Over several rounds: the other ends
        # at once with 0, one window remains, and it ends with 0 when closed.
        r = rig()
        r.reg_set_wait(3600000)
        r.reg_set_sound(windows_path(os.path.join(r.tmp, 'none.wav')))
        for round_ in range(5):
            with self.subTest(round=round_):
                a = r.start_halvory()
                b = r.start_halvory()
                self.assertTrue(r.wait_main_window(), 'neither start made a window')
                ended = wait_for(lambda: [p for p in (a, b) if p.poll() is not None], 15)
                self.assertEqual(len(ended), 1, 'not exactly one start ended by itself')
                self.assertEqual(ended[0].returncode, 0, harness.tail(ended[0].log))
                time.sleep(1)
                running = harness.top_windows(r, cls=harness.MAIN_CLASS)
                winner = b if ended[0] is a else a
                self.assertEqual(len(running), 1, 'main windows: %s' % (running,))
                self.assertIsNone(winner.poll(), 'the instance ended by itself:\n' + harness.tail(winner.log))
                self.assertFalse(running[0].visible)
                r.post(running[0].hwnd, WM_CLOSE)
                try:
                    code = winner.wait(25)
                except subprocess.TimeoutExpired:
                    code = 'still running'
                self.assertEqual(code, 0)
            r.kill_all()
        # The lock alone keeps a start out, whichever way the starts fall:
        # held from outside, with no window of ours anywhere, a start ends
        # at once with 0 and makes none.
        with self.subTest('the lock held from outside'):
            holder = r.spawn([r.wine, r.driver_exe, 'hold', 'Local\\' + harness.MAIN_CLASS, '60000'])
            self.assertTrue(wait_for(lambda: 'held' in harness.tail(holder.log), 15), harness.tail(holder.log))
            windows, code = harness.main_windows_while_running(r, r.start_halvory())
            self.assertEqual(windows, [], 'a start ran while the lock was held')
            self.assertEqual(code, 0)

    def test_settings_confirmed_then_killed_are_kept(self):
        r = rig()
        old = harness.make_tone(os.path.join(r.tmp, 'old.wav'), 400, 0.2)
        new = harness.make_tone(os.path.join(r.tmp, 'new ソ.wav'), 450, 0.2)
        p, hwnd = start_clean(r, 5000, windows_path(old))
        r.command(hwnd, IDM_SETTINGS)
        out = r.driver('wait', DIALOG_CLASS, SETTINGS_CAPTION, 20000, check=False)
        dlg = int(out.split()[-1], 16) if out else 0
        self.assertTrue(dlg, 'the settings dialog did not open')
        r.driver('settext', hex(dlg), IDC_HOURS, hex_of('1'))
        r.driver('settext', hex(dlg), IDC_MINUTES, hex_of('2'))
        r.driver('settext', hex(dlg), IDC_SECONDS, hex_of('3'))
        new_win = windows_path(new)
        r.driver('settext', hex(dlg), IDC_SOUNDFILE, hex_of(new_win))
        r.post(dlg, WM_COMMAND, IDOK, 0)
        r.driver('gone', hex(dlg), 10000)
        p.kill()                                   # no chance to tidy up
        p.wait(10)
        try:
            self.assertEqual(r.reg_get('Wait'), (4, (3723000).to_bytes(4, 'little')))
            self.assertEqual(r.reg_get('SoundFile'), (1, new_win.encode('cp932') + b'\0'))
        finally:
            # The shell still shows the dead process's icon: take it away.
            r.driver('traydelete', hex(hwnd), check=False)
        # What the killed instance held is freed with it: the next start runs.
        again = r.start_halvory()
        hwnd = r.wait_main_window()
        self.assertTrue(hwnd, 'a start after the kill did not run')
        self.assertEqual(exit_and_wait(r, hwnd, again), 0)


class DefaultSetup(unittest.TestCase):
    """A first start as a user makes it: no settings stored, started from the
    folder the release was unpacked into, with the Orvel.mp3 shipped there."""

    def tearDown(self):
        rig().kill_all()

    def test_default_chime_is_heard_every_ten_seconds(self):
        r = rig()
        self.assertTrue(os.path.getsize(os.path.join(r.exe_dir, 'Orvel.mp3')) > 10000)
        rec = harness.Recorder(r).start()
        try:
            p, hwnd = start_clean(r, cwd=r.exe_dir, traced=True)
            t_start = p.started
            # Chimes are 10 s apart: pieces of one bell split by a dropout of
            # a loaded machine are one chime.
            def bells():
                return [s for s in rec.sounds(merge_gap=1.0) if s[0] > rec.at(t_start)]
            wait_for(lambda: len(mcitrace.tick_times(p.log)) >= 3 and len(bells()) >= 2, 45, 1.0)
            code = exit_and_wait(r, hwnd, p)
        finally:
            rec.stop()
        # Every ten seconds from the start, on the trace's clock.
        ticks = mcitrace.tick_times(p.log)
        self.assertTrue(ticks, 'nothing played')
        self.assertGreaterEqual(ticks[0], t_start + 10.0, 'the first chime came early')
        # The bell's strike tone is 784 Hz; its partials pull the zero-crossing
        # estimate around a little.
        heard = [s for s in bells() if 600 < s[2] < 1000]
        self.assertTrue(heard, rec.sounds())
        self.assertTrue(0.5 < heard[0][1] - heard[0][0] < 3.0, 'a bell of a few seconds at most')
        self.assertEqual(r.reg_get('Wait'), 'nokey', 'nothing is stored until OK')
        mp3 = os.path.join(r.exe_dir, 'Orvel.mp3')
        with self.subTest('a bell every ten seconds'):
            # A tick's stop to the MPEG device that never returned (seen under
            # load on the emulated 32-bit exe) ends the chimes: the platform's
            # where the minimal program's stop hangs too.
            if len(ticks) < 3:
                harness.judge_mp3_stop_hang(self, r, p.log, mp3, ended=p.poll() is not None)
            harness.assert_period(self, ticks, 10.0, gaps=2)
            self.assertGreaterEqual(len(heard), 2, rec.sounds())
        harness.assert_ended_with_0(self, r, p, code, mp3)

    def test_dlls_planted_beside_the_exe_never_run_in_it(self):
        # Windows takes a DLL that is not one of its KnownDLLs from the exe's
        # folder first, and Wine does too for a name it is told to prefer
        # native. Planted beside the exe: winmm, which Halvory uses, and the
        # media drivers winmm loads by name for a WAV (mciwave), a MIDI file
        # (mciseq) and an MP3 (mciqtz32). Left out: comctl32, which Halvory
        # uses too, and the other names the platform's own DLLs import
        # (imm32, uxtheme, version, msacm32): Wine resolves the imports of its
        # builtin DLLs in the program's folder as well, where Windows takes a
        # KnownDLL's imports from the system alone, so their mark would blame
        # Halvory for Wine.
        r = rig()
        d = os.path.join(r.tmp, 'Downloads')
        os.makedirs(d)
        exe = shutil.copy(r.exe, d)
        planted = ('winmm', 'mciwave', 'mciseq', 'mciqtz32')
        for name in planted:
            shutil.copy(os.path.join(r.tools, 'tests', 'planted.dll'), os.path.join(d, name + '.dll'))
        env = mcitrace.trace_env(r.env)
        env['WINEDLLOVERRIDES'] += ';%s=n,b' % ','.join(planted)
        kinds = [('WAVEAUDIO', harness.make_tone(os.path.join(d, 'bell.wav'), 520, 0.3), 520),
                 ('SEQUENCER', make_midi(os.path.join(d, 'tune.mid')), None),
                 ('MPEGVIDEO', harness.make_mp3(os.path.join(d, 'bell.mp3'), 780, 0.5), 780)]

        def marks():
            found = {}
            for name in sorted(os.listdir(d)):
                if name.endswith('.loaded'):
                    with open(os.path.join(d, name), errors='replace') as f:
                        found[name.lower()] = f.read()
                    os.remove(os.path.join(d, name))
            return found
        # The control: the minimal chime program imports winmm.dll by name.
        # Beside the planted copies and under the same overrides, it must
        # load the planted one; if it does not, this rig plants nothing and
        # "no mark" below would prove nothing.
        control = r.wine_spawn(shutil.copy(os.path.join(r.tools, 'tests', 'chime.exe'), d), '60000',
                               windows_path(kinds[0][1]), cwd=d, env=env)
        wait_for(lambda: os.path.exists(os.path.join(d, 'winmm.dll.loaded')) or control.poll() is not None, 20)
        control.kill()
        control.wait(10)
        planted_in_control = marks()
        self.assertIn('chime.exe', planted_in_control.get('winmm.dll.loaded', ''),
                      'the rig no longer plants: the minimal program loaded no planted winmm (%s)'
                      % planted_in_control)
        rec = harness.Recorder(r).start()
        played, since = {}, {}
        try:
            p, hwnd = start_clean(r, 2000, windows_path(kinds[0][1]), cwd=d, env=env, exe=exe)
            for driver, path, hz in kinds:
                if driver != kinds[0][0]:
                    dlg = open_settings_by_command(r, hwnd)
                    dlg.set_text(IDC_SOUNDFILE, windows_path(path))
                    dlg.command(IDOK)
                    dlg.wait_gone()
                since[driver] = rec.now()

                def plays():
                    calls = mcitrace.parse(p.log)
                    return [(c.driver, c.rc, n.rc) for c, n in zip(calls, calls[1:])
                            if c.command == 'MCI_OPEN' and c.element == windows_path(path)
                            and n.command == 'MCI_PLAY' and n.rc is not None]
                # Twice, and heard where it can be (there is no MIDI synthesizer).
                wait_for(lambda: len(plays()) >= 2 or p.poll() is not None, 20, 0.5)
                if hz:
                    residentlib.wait_onset(rec, since[driver], 10)
                    time.sleep(0.6)
                played[driver] = plays()
            code = exit_and_wait(r, hwnd, p)
        finally:
            rec.stop()
        self.assertEqual(marks(), {}, 'planted DLLs ran inside Halvory (mark: command line)')
        for driver, path, hz in kinds:
            with self.subTest(driver):
                # Opened by the system's own driver for the kind, played, heard.
                self.assertGreaterEqual(len(played[driver]), 2, 'not chimed twice: %s' % played[driver])
                self.assertTrue(all(x == (driver, 0, 0) for x in played[driver]), played[driver])
                if hz:
                    sounds = rec.sounds()
                    self.assertTrue([s for s in sounds if s[0] >= since[driver] and abs(s[2] - hz) < hz * 0.08],
                                    'not heard: %s' % sounds)
        harness.assert_ended_with_0(self, r, p, code, kinds[2][1])


if __name__ == '__main__':
    harness.main()
