"""The resident chime end to end: the real halvory.exe under Wine, driven with the real mouse, watched through
screenshots and heard through the rig's recorded sound sink. Each scenario keeps one Halvory process where it can."""
import os
import shutil
import time

import audio
import desktop
import faults
import runner
from faults import assert_ends_with_0
from resources import DIALOG_CAPTION, IDM_PAUSE, IDM_RESUME, IDM_EXIT
from rig import LATE, LONG, SHORT, WATCH, ms, WM_NULL, WM_COMMAND, WM_CLOSE, Commands, windows_path
from timeline import STOP, TICKS, assert_commands, assert_not_before, assert_period, near

INTERVAL_MS = 2000
INTERVAL = INTERVAL_MS / 1000.0
SHORT_TONE = 880    # Hz: the short chime of the timing scenario
LONG_TONE = 660     # Hz: a chime longer than the interval
RETRY_TICK_MS = 1200    # the chime's interval beside the icon's 1 s retry: a retry taken for a tick shows
QUIET = 3 * 1.0     # three of the program's retry periods watched for nothing more


class NotifyArea(Commands):
    """The notification area of tests/tools/notifyarea.c: the icon messages it was sent, a line each, as answered."""

    def __init__(self, *args):
        super().__init__(*args)
        self.pending = []

    def ask(self, *words, timeout=30):
        rc, lines = super().ask(*words, timeout=timeout)
        self.pending += lines
        return rc, lines

    def until(self, look, want=None):
        """The messages up to the one wanted or to one that is no refused retry in this look (a retry may be on its
        way when a command is posted)."""
        seen = [self.next()]
        while seen[-1] != want and seen[-1] in ('modify %s refused' % look, 'add %s refused' % look):
            seen.append(self.next())
        return seen

    def next(self, timeout=SHORT):
        """The next message it answered, or None when none came in time."""
        if self.pending:
            return self.pending.pop(0)
        try:
            return self._next(timeout)
        except AssertionError:
            if self.poll() is not None:
                raise
            return None


def log(text):
    print(text, flush=True)


class Resident(runner.Case):
    record = True

    def start(self, tone=None):
        """A fresh Halvory chiming a tone at the test interval (no stored settings when None), its commands traced."""
        wav = tone and audio.make_tone(os.path.join(self.rig.tmp, '%d.wav' % tone[0]), *tone)
        return self.rig.start_halvory(*((INTERVAL_MS, windows_path(wav)) if wav else ()), traced=True)

    def look(self, want):
        """The tray's look once it is the wanted one, or when time ran out."""
        return desktop.wait_tray(self.rig, want)[0]

    def test_chimes_once_per_interval_and_stays_single(self):
        tl = self.timeline
        hv = self.start((SHORT_TONE, 0.3))
        seen = time.monotonic()
        self.assertEqual('running', self.look('running'))
        log('%s: window %.2f s, tray icon seen %.2f s after the spawn'
            % (self.rig.arch, seen - hv.started, time.monotonic() - hv.started))

        # A second start, and "/U" which is not the close request, both end at once with 0 and leave the first one.
        for args in ((), ('/U',)):
            other = self.rig.run_halvory(*args)
            self.assertEqual(0, other.wait(LONG), '%s: %s' % (args, other.how()))
        others_done = time.monotonic()
        self.assertIsNone(hv.poll(), 'Halvory ended by itself:\n' + hv.tail())
        self.assertEqual(hv.hwnd, self.rig.main_window())
        self.assertEqual('running', desktop.find_tray_icon(desktop.Shot(self.rig))[0])

        tl.recorder.wait(max(tl.place(seen) + 6 * INTERVAL, tl.place(others_done) + INTERVAL) + LATE)
        # A dropout inside a chime (a loaded machine) is no second chime: pieces closer than a quarter interval are one.
        chimes = tl.heard(after=hv.started, merge_gap=INTERVAL / 4)
        onsets = [s.start for s in chimes]
        log('onsets after the window was seen: %s' % ', '.join('%.3f' % (t - tl.place(seen)) for t in onsets))
        self.assertTrue(onsets, 'no chime')
        pitched = [s for s in chimes if s.pitch]
        self.assertGreaterEqual(len(pitched), len(chimes) - 1, chimes)
        self.assertTrue(all(near(s.pitch, SHORT_TONE, 0.1) for s in pitched), chimes)

        # No sound at start: the first chime is one interval after the window exists (after the spawn, before seen).
        assert_not_before(self, tl.ticks(hv)[0], hv.started + INTERVAL, 'a tick before the first interval')
        self.assertGreaterEqual(onsets[0], tl.place(hv.started + INTERVAL), 'a chime before the first interval')
        self.assertLessEqual(onsets[0] - tl.place(seen), INTERVAL + LATE)
        # Once per interval: the ticks by their median gap on the trace's clock (a busy machine delays heard onsets by
        # 0.1 s or more), every tick heard but the last, which may still be on its way, and never two in one interval.
        ticks = tl.ticks(hv)
        assert_period(self, ticks, INTERVAL, gaps=5)
        self.assertGreaterEqual(len(onsets), len(ticks) - 1, 'a tick not heard: %d ticks, %s' % (len(ticks), chimes))
        self.assertGreater(min(b - a for a, b in zip(onsets, onsets[1:])), INTERVAL / 2, 'two chimes in one interval')
        # The chimes went on through the second starts.
        self.assertTrue([t for t in onsets if t > tl.place(others_done)])

        # "/u" closes it: icon gone, both processes end with 0, the second after its one-second wait.
        closer = self.rig.run_halvory('/u')
        self.assertEqual(0, closer.wait(LONG))
        log('"/u" ended after %.2f s' % (time.monotonic() - closer.started))
        self.assertGreaterEqual(time.monotonic() - closer.started, 1.0)
        assert_ends_with_0(self, hv, hv.wait(LONG))
        self.assertEqual('none', self.look('none'))

    def test_tray_menu_pauses_resumes_and_exits(self):
        tl = self.timeline
        hv = self.start((LONG_TONE, 6.0))
        # Wait for the first chime: the menu is opened while it plays.
        self.assertIsNotNone(tl.wait_heard(hv.started), 'no chime came')
        # A left click and a double click on the icon open no menu and no settings dialog (the right click below
        # opens one, seen the same way; the dialog, in the dialog's cases).
        _, centre, _ = desktop.wait_tray(self.rig, 'running')
        for row, click in (('a left click', ['click', 1]), ('a double click', ['click', '--repeat', 2, 1])):
            with self.subTest(row):
                desktop.xdotool(self.rig, 'mousemove', *centre, *click)
                self.assertIsNone(desktop.wait_window(self.rig, cls=desktop.MENU_CLASS, timeout=WATCH), 'a menu opened')
                self.assertEqual(desktop.top_windows(self.rig, title=DIALOG_CAPTION, visible=True), [], 'a dialog opened')

        menu = desktop.open_tray_menu(self.rig)
        log('menu while running: %r' % menu)
        self.assertTrue(menu.enabled(IDM_PAUSE) and menu.grayed(IDM_RESUME), menu)
        mark = tl.mark(hv)
        paused_at = menu.choose(IDM_PAUSE)
        self.assertEqual('paused', self.look('paused'))
        looked = time.monotonic()       # the paused look was on the screen by now

        # While paused nothing plays, over more than two intervals after the look changed: neither traced nor heard.
        tl.recorder.wait(tl.place(looked) + 2 * INTERVAL + 0.5)
        # Pause stops the sound after the click (ticks may come before it), and nothing plays after it; then it shows
        # the paused look: its close (sent once the stop had returned) came before the look was seen.
        calls = tl.since(hv, mark)
        assert_commands(self, calls, [TICKS, STOP], 'the pause')
        self.assertLess(tl.at(calls[-1]), looked, 'the paused look showed before the sound was stopped')
        # Heard: the 6 s chime was playing when Pause was chosen (each tick restarts it, which may leave a short gap:
        # the moments just before the click), it fell silent long before its end, and nothing started after it.
        sounds = tl.heard()
        self.assertTrue([s for s in sounds if s.end >= tl.place(paused_at) - 0.4 and s.start <= tl.place(paused_at)],
                        'the long chime was not playing when Pause was chosen')
        # Its end, from its last play (a restart's gap may be too short to part two chimes heard): long before 6 s.
        last_play = [c for c in hv.calls() if c.command == 'MCI_PLAY'][-1]
        cut = [s for s in sounds if s.start < tl.place(looked)][-1]
        self.assertLess(cut.end, tl.place(tl.at(last_play)) + 5.5, 'the chime played to its end')
        self.assertEqual([], [s for s in sounds if s.start > cut.start])

        # A system media driver that died on its own thread before this (seen on the emulated exe under load:
        # Wine's wave driver, reloaded under the old device's thread) leaves nothing to resume.
        with faults.judge(self, 'the menu resumes and exits', of=hv, until=time.monotonic()):
            menu = desktop.open_tray_menu(self.rig)
            log('menu while paused: %r' % menu)
            self.assertTrue(menu.grayed(IDM_PAUSE) and menu.enabled(IDM_RESUME), menu)
            resumed_at = menu.choose(IDM_RESUME)
            self.assertEqual('running', self.look('running'))

            # Resume plays nothing until a full interval has passed: from the click (taken before it was made) to its
            # first tick, on one clock, and to the first chime heard.
            ticks = tl.wait_ticks(hv, 1, looked)
            self.assertTrue(ticks, 'no chime after resume')
            tl.heard_whole(resumed_at)
            log('first tick %.3f s after the click on Resume' % (ticks[0] - resumed_at))
            assert_not_before(self, ticks[0], resumed_at + INTERVAL, 'a tick before an interval after Resume')
            after = tl.heard(after=resumed_at)
            self.assertTrue(after, 'no chime heard after resume')
            self.assertGreaterEqual(after[0].start, tl.place(resumed_at + INTERVAL), 'a chime before a full interval')
            self.assertTrue(near(after[0].pitch, LONG_TONE, 0.1), after)

            menu = desktop.open_tray_menu(self.rig)
            self.assertTrue(menu.enabled(IDM_PAUSE), menu)
            exit_at = menu.choose(IDM_EXIT)
            assert_ends_with_0(self, hv, hv.wait(LONG))
            log('ended %.2f s after the click on Exit' % (time.monotonic() - exit_at))
            self.assertEqual('none', self.look('none'))

    def test_answers_senders_and_survives_taskbar_restart_without_writing_registry(self):
        # No stored settings: the defaults, and nothing of this run is stored.
        hv = self.start()
        self.assertEqual('running', self.look('running'))

        # Sent from another process: answered with 1 before it is handled.
        self.assertEqual('1', self.rig.driver('send', hex(hv.hwnd), WM_NULL, 0, 0))
        self.assertEqual('1', self.rig.driver('send', hex(hv.hwnd), WM_COMMAND, 0, 0))

        for state, command in (('running', None), ('paused', IDM_PAUSE)):
            if command:
                hv.command(command)
                self.assertEqual(state, self.look(state))
            self.rig.driver('traydelete', hex(hv.hwnd))
            self.assertEqual('none', self.look('none'))
            self.rig.driver('broadcast', 'TaskbarCreated')
            look = self.look(state)
            log('icon after a taskbar restart while %s: %s' % (state, look))
            self.assertEqual(state, look)

        hv.command(IDM_RESUME)
        self.assertEqual('running', self.look('running'))
        assert_ends_with_0(self, hv, hv.exit())
        self.assertEqual('none', self.look('none'))
        self.assertEqual('nokey', self.rig.reg_get('Wait'))

    def test_icon_a_busy_shell_refused_comes_in_the_look_of_the_state(self):
        # A notification area of the test's own that refuses the adds until told to take them, and broadcasts
        # nothing: the icon must come by itself, by a modify first (an add that timed out may have landed), then an
        # add, in the look of the state at that moment.
        area_exe = os.path.join(self.rig.build, 'tests', 'notifyarea.exe')
        for row, pause, land in (('refused, then taken', False, False), ('paused before it lands', True, False),
                                 ('an add that timed out landed', False, True)):
            with self.subTest(row):
                self.rig.close_leftovers()    # a row that failed left its Halvory
                area = NotifyArea(self.rig, [self.rig.loader(area_exe), area_exe], 'notifyarea')
                self.addCleanup(area.end)
                if land:
                    area.ask('land')
                hv = self.rig.start_halvory(RETRY_TICK_MS, 'none.wav', traced=True)
                self.addCleanup(hv.end)
                self.assertEqual(area.next(), 'add running refused')
                if land:
                    self.assertEqual(area.until('running'), ['modify running taken'], 'no second add')
                else:
                    # Tried again at its period, and refused again.
                    self.assertEqual(area.until('running', 'add running refused')[-1], 'add running refused')
                    look = 'paused' if pause else 'running'
                    if pause:
                        hv.command(IDM_PAUSE)
                        self.assertEqual(area.until('running', 'modify paused refused')[-1], 'modify paused refused')
                    area.ask('take')
                    self.assertEqual(area.until(look)[-1], 'add %s taken' % look)
                taken = time.monotonic()
                if not pause:
                    # Every tick at the interval, none lost or doubled by the retry's timer (over five gaps: the
                    # first ticks, late while a loaded machine starts the program, do not decide).
                    ticks = self.timeline.wait_ticks(hv, 6)
                    assert_period(self, ticks, RETRY_TICK_MS / 1000.0, gaps=5)
                # Then it stops trying: nothing more for three retry periods since the take, ticks' time included.
                self.assertIsNone(area.next(max(0.0, taken + QUIET - time.monotonic())),
                                  'tried again after the shell took the icon')
                assert_ends_with_0(self, hv, hv.close())
                self.assertEqual(area.next(), 'delete none taken')
                area.end()

    def test_close_requests_with_none_running(self):
        # "/u" with none running: waits its second, ends with 0, starts nothing.
        closer = self.rig.run_halvory('/u')
        windows, code = self.rig.main_windows_while(closer)
        took = time.monotonic() - closer.started
        log('"/u" with none running %s after %.2f s' % (closer.how(), took))
        self.assertEqual([], windows, 'the close request started an instance')
        self.assertEqual(0, code)
        self.assertGreaterEqual(took, 1.0)

        # "/U" is no close request: with none running it starts, and a WM_CLOSE from outside ends it with 0, icon gone.
        self.rig.reg_clear()
        hv = self.rig.run_halvory('/U')
        windows, _ = self.rig.main_windows_while(hv)
        self.assertEqual(1, len(windows), 'the watcher saw no window where one came')
        self.assertEqual(windows[0], hv.wait_window().hwnd)
        self.assertEqual('running', self.look('running'))
        self.rig.post(hv.hwnd, WM_CLOSE)
        assert_ends_with_0(self, hv, hv.wait(LONG))
        self.assertEqual('none', self.look('none'))

    def test_close_request_typed_for_an_exe_in_a_japanese_folder(self):
        # Where a Japanese user keeps it: C:\Users\山田\ダウンロード. A path walked with signed bytes ends at its
        # first Japanese character, and the rest of it is taken for the argument.
        folder = os.path.join(self.rig.env['WINEPREFIX'], 'drive_c', 'users', '山田', 'ダウンロード')
        os.makedirs(folder, exist_ok=True)
        exe = shutil.copy(self.rig.exe, os.path.join(folder, 'halvory.exe'))
        typed = 'C:\\Users\\山田\\ダウンロード\\halvory.exe'
        # Wine's cmd starts no program at all from "PATH"/u (a control: "C:\windows\notepad.exe"/x is not recognised
        # either): that line is handed to CreateProcessA as it is, as the Run box does.
        for line, by_cmd in ((typed + ' /u', True), ('"%s" /u' % typed, True), ('"%s"/u' % typed, False)):
            with self.subTest(line):
                hv = self.rig.start_halvory(exe=exe, cwd=folder)
                self.assertEqual('running', self.look('running'))
                if by_cmd:
                    self.assertEqual(0, self.rig.run_line(line).wait(LONG))
                else:
                    self.assertEqual('0', self.rig.driver('run', line.encode('cp932').hex(), ms(LONG)))
                self.assertIsNotNone(hv.wait(LONG), 'the running instance did not close')
                assert_ends_with_0(self, hv, hv.poll())
                self.assertEqual('none', self.look('none'))
            self.rig.close_leftovers()

        # The same unquoted line with none running starts nothing: no window while it waits its second; it ends with 0.
        windows, code = self.rig.main_windows_while(self.rig.run_line(typed + ' /u'))
        self.assertEqual([], windows, 'the close request started an instance')
        self.assertEqual(0, code)


if __name__ == '__main__':
    runner.main()
