"""The settings dialog and the sound file chooser, end to end on the real
halvory.exe: opened from the real tray menu, driven with real keys and clicks
where a person would use them, heard through the rig's sound sink."""
import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import harness  # noqa: E402
import mcitrace  # noqa: E402
import residentlib as lib  # noqa: E402
from harness import start_clean, windows_path  # noqa: E402
from dialoglib import (  # noqa: E402
    IDOK, IDCANCEL, IDC_SOUNDFILE, IDC_BROWSE, IDC_HOURS, IDC_HOURS_SPIN, IDC_MINUTES,
    IDC_MINUTES_SPIN, IDC_SECONDS, IDC_SECONDS_SPIN, IDC_PLAY, IDC_STOP, IDC_STATIC,
    CHOOSER_TITLE, CHOOSER_FILENAME, CHOOSER_FILETYPE, SETTINGS_CAPTION, EM_GETLIMITTEXT,
    UDM_GETRANGE, UDM_GETACCEL, CB_GETCOUNT, CB_GETLBTEXT, MINUTES_MESSAGE, HOURS_MESSAGE,
    PATH_MESSAGE, DIALOG_CLASS, Dialog, centre, glyph_counts, open_settings_by_command,
    open_settings_from_tray_menu, owned_boxes, stop, wait_owned_box)

WS_VISIBLE, WS_DISABLED, WS_CLIPSIBLINGS = 0x10000000, 0x08000000, 0x04000000
WS_CHILD, WS_BORDER, WS_GROUP, WS_TABSTOP = 0x40000000, 0x00800000, 0x00020000, 0x00010000
WS_EX_CLIENTEDGE = 0x200
DS_3DLOOK = 0x4
CV = WS_CHILD | WS_VISIBLE
LABEL = CV | WS_GROUP                                    # SS_LEFT is 0
NUMBER_EDIT = CV | WS_BORDER | WS_TABSTOP | 0x2000 | 0x2  # ES_NUMBER | ES_RIGHT
SPIN = CV | 0x36                 # UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS
BITMAP_BUTTON = CV | 0x80 | WS_TABSTOP                   # BS_BITMAP

# The template, in tab order: id, class, text, style, x, y, width, height.
TEMPLATE = [
    (IDC_STATIC, 'Static', '音声ファイル (*.wav;*.mid;*.mp3) (&S):', LABEL, 5, 10, 120, 10),
    (IDC_SOUNDFILE, 'Edit', None, CV | WS_BORDER | WS_TABSTOP | 0x80, 5, 20, 240, 14),
    (IDC_BROWSE, 'Button', '参照(&B)...', CV | WS_TABSTOP, 195, 40, 50, 14),
    (IDC_PLAY, 'Button', '', BITMAP_BUTTON, 5, 40, 15, 14),
    (IDC_STOP, 'Button', '', BITMAP_BUTTON, 20, 40, 15, 14),
    (IDC_STATIC, 'Static', '音を鳴らす間隔(&I):', LABEL, 5, 65, 60, 10),
    (IDC_HOURS, 'Edit', None, NUMBER_EDIT, 65, 63, 30, 14),
    (IDC_HOURS_SPIN, 'msctls_updown32', '', SPIN, 85, 63, 7, 14),
    (IDC_STATIC, 'Static', '時間', LABEL, 100, 65, 20, 11),
    (IDC_MINUTES, 'Edit', None, NUMBER_EDIT, 125, 63, 25, 14),
    (IDC_MINUTES_SPIN, 'msctls_updown32', '', SPIN, 140, 63, 7, 14),
    (IDC_STATIC, 'Static', '分', LABEL, 155, 65, 10, 11),
    (IDC_SECONDS, 'Edit', None, NUMBER_EDIT, 170, 63, 25, 14),
    (IDC_SECONDS_SPIN, 'msctls_updown32', '', SPIN, 185, 63, 7, 14),
    (IDC_STATIC, 'Static', '秒', LABEL, 200, 65, 10, 11),
    (IDOK, 'Button', 'OK', CV | 0x1 | WS_TABSTOP, 140, 95, 50, 14),
    (IDCANCEL, 'Button', 'キャンセル', CV | WS_TABSTOP, 195, 95, 50, 14),
]

PLAY_ROWS = [2, 4, 6, 8, 10, 12, 12, 10, 8, 6, 4, 2]
STOP_ROWS = [10] * 10
REG_SZ, REG_DWORD = 1, 4

def rig():
    return harness.RIG


class DialogCase(unittest.TestCase):
    """Each case runs its own Halvory in its own folder with its own settings."""

    def setUp(self):
        self.rig = rig()
        self.dir = os.path.join(self.rig.tmp, self.id().split('.')[-1][5:25])
        os.makedirs(self.dir, exist_ok=True)
        self.proc = None
        self.main = 0
        self.rec = None

    def tearDown(self):
        if self.rec:
            self.rec.stop()
        if self.proc and self.proc.poll() is None:
            # Whatever the case left open ends with the program.
            self.rig.post(self.main, harness.WM_CLOSE)
            try:
                self.proc.wait(20)
            except Exception:
                self.proc.kill()

    def start(self, wait_ms=None, sound=None, record=False, traced=False):
        if record:
            self.rec = harness.Recorder(self.rig).start()
        self.proc, self.main = start_clean(self.rig, wait_ms, sound, cwd=self.dir, traced=traced)

    def ticks(self, after):
        """When the program's ticks after an instant began, on the test's clock."""
        return [t for t in mcitrace.tick_times(self.proc.log) if t > after]

    def tone(self, name, freq, seconds):
        return harness.make_tone(os.path.join(self.dir, name), freq, seconds)

    def assertRegistry(self, wait_ms, sound):
        kind, data = self.rig.reg_get('Wait')
        self.assertEqual((kind, len(data)), (REG_DWORD, 4))
        self.assertEqual(int.from_bytes(data, 'little'), wait_ms)
        kind, data = self.rig.reg_get('SoundFile')
        raw = sound.encode('cp932')
        self.assertEqual(kind, REG_SZ)
        self.assertEqual(data, raw + b'\0', 'SoundFile is the path and one NUL')

    def chimes_after(self, t_from):
        """The sounds that start after a wall-clock instant, once one has come
        and played out (a 2 s interval: at most about 5 s on a loaded machine)."""
        lib.wait_onset(self.rec, self.rec.at(t_from), 6.0)
        time.sleep(0.6)
        return self.onsets(t_from, time.monotonic())

    def onsets(self, t_from, t_to, rec=None, merge_gap=0.03):
        """Sounds that start between two wall-clock instants."""
        rec = rec or self.rec
        a, b = rec.at(t_from), rec.at(t_to)
        return [s for s in rec.sounds(merge_gap=merge_gap) if a <= s[0] <= b]

    def expect_box(self, dlg, message, focus_id):
        """A warning box with this message; after it is closed, the focus."""
        box = wait_owned_box(self.rig, dlg.hwnd)
        self.assertEqual(box.text(IDC_STATIC), message)
        # The platform's default caption (NULL was passed), not a caption of ours.
        self.assertIn(box.text(), ('エラー', 'Error'))
        self.assertEqual(len(owned_boxes(self.rig, dlg.hwnd)), 1, 'one box at a time')
        box.command(IDOK)
        box.wait_gone()
        time.sleep(0.3)
        self.assertEqual(owned_boxes(self.rig, dlg.hwnd), [], 'no second message follows')
        self.assertEqual(dlg.focus_id(), focus_id)
        self.assertTrue(dlg.alive(), 'the dialog stays open')
        return box


class OpeningTest(DialogCase):

    def test_opens_from_tray_menu_as_its_template_with_defaults(self):
        self.start()
        dlg, by_key = open_settings_from_tray_menu(self.rig, use_key=True)
        self.assertEqual(dlg.text(), SETTINGS_CAPTION)
        info = dlg.info()
        # WS_VISIBLE, WS_CLIPSIBLINGS and DS_3DLOOK are added by the platform.
        self.assertEqual(info['style'] & ~(WS_VISIBLE | WS_CLIPSIBLINGS | DS_3DLOOK), 0x00C808C0)
        left, top, right, bottom = info['rect']
        width = harness.screen_rgb(self.rig.screenshot())[0]
        self.assertLessEqual(abs((left + right) // 2 - width // 2), 3, 'DS_CENTER centres it')

        # The stored (default) settings split into the fields; focus in the path.
        self.assertEqual([dlg.text(i) for i in (IDC_HOURS, IDC_MINUTES, IDC_SECONDS)], ['0', '0', '10'])
        self.assertEqual(dlg.text(IDC_SOUNDFILE), 'Orvel.mp3')
        self.assertEqual(dlg.focus_id(), IDC_SOUNDFILE)

        kids = dlg.children()
        self.assertEqual([(k['id'], k['class'].lower()) for k in kids],
                         [(t[0], t[1].lower()) for t in TEMPLATE], 'ids and classes in tab order')
        for kid, (cid, cls, text, style, x, y, w, h) in zip(kids, TEMPLATE):
            got = kid['style'] & ~WS_DISABLED
            if cls == 'Edit' and kid['exstyle'] & WS_EX_CLIENTEDGE:
                got |= WS_BORDER    # an edit turns its border into a client edge
            self.assertEqual(got, style, 'style of control %d %r' % (cid, text))
            if text is not None:
                self.assertEqual(Dialog(self.rig, kid['hwnd']).text(), text)

        # Positions: map dialog units to pixels from two controls, then every
        # control but the spins sits where the template puts it.
        first, ok = kids[0]['rect'], kids[15]['rect']
        sx = (ok[0] - first[0]) / (140 - 5)
        sy = (ok[1] - first[1]) / (95 - 10)
        px = lambda v: first[0] + (v - 5) * sx  # noqa: E731
        py = lambda v: first[1] + (v - 10) * sy  # noqa: E731
        for kid, (cid, cls, text, style, x, y, w, h) in zip(kids, TEMPLATE):
            r = kid['rect']
            if cls == 'msctls_updown32':
                continue
            if cid in (IDC_HOURS, IDC_MINUTES, IDC_SECONDS):
                right = px(x + w) - 16 - 3   # narrowed by the spin that joined it
            else:
                right = px(x + w) - 3
            self.assertLessEqual(abs(r[0] - px(x)), 3, 'left of %d %r' % (cid, text))
            self.assertLessEqual(abs(r[1] - py(y)), 3, 'top of %d %r' % (cid, text))
            self.assertLessEqual(abs(r[3] - py(y + h)), 3, 'bottom of %d %r' % (cid, text))
            if cid not in (IDC_HOURS, IDC_MINUTES, IDC_SECONDS):
                self.assertLessEqual(abs(r[2] - px(x + w)), 3, 'right of %d %r' % (cid, text))
            else:
                self.assertLess(r[2], px(x + w) - 8, 'the spin narrows field %d' % cid)
        # Each spin has joined the field before it: against its right edge.
        by_id = {k['id']: k for k in kids if k['id'] != IDC_STATIC}
        for field, spin, (x, w) in ((IDC_HOURS, IDC_HOURS_SPIN, (65, 30)),
                                    (IDC_MINUTES, IDC_MINUTES_SPIN, (125, 25)),
                                    (IDC_SECONDS, IDC_SECONDS_SPIN, (170, 25))):
            f, s = by_id[field]['rect'], by_id[spin]['rect']
            self.assertLessEqual(abs(s[2] - px(x + w)), 3, 'spin %d ends where its field ended' % spin)
            self.assertLessEqual(abs(s[0] - f[2]), 3, 'spin %d touches its field' % spin)
            self.assertEqual((s[1], s[3]), (f[1], f[3]))

        # Typing limits, spin ranges (reversed: maximum 0) and one accel entry.
        self.assertEqual([dlg.send(i, EM_GETLIMITTEXT) for i in (IDC_HOURS, IDC_MINUTES, IDC_SECONDS)],
                         [3, 2, 2])
        self.assertEqual([dlg.send(i, UDM_GETRANGE) for i in (IDC_HOURS_SPIN, IDC_MINUTES_SPIN,
                                                               IDC_SECONDS_SPIN)],
                         [0x03E70000, 0x003B0000, 0x003B0000])
        for spin in (IDC_HOURS_SPIN, IDC_MINUTES_SPIN, IDC_SECONDS_SPIN):
            self.assertEqual(dlg.send(spin, UDM_GETACCEL, 0, 0), 1, 'one accel entry')
            count, data = dlg.send_buffer(spin, UDM_GETACCEL, 4, 32)
            self.assertEqual(count, 1)
            self.assertEqual(int.from_bytes(data[4:8], 'little', signed=True), -1, 'nInc is -1')

        # No Orvel.mp3 in the current folder: nothing to preview.
        self.assertFalse(dlg.enabled(IDC_PLAY))
        self.assertFalse(dlg.enabled(IDC_STOP))

        # Cancel (by the real key) leaves everything as it was.
        x, y = centre(info['rect'])
        self.rig.xdotool('mousemove', x, y, 'key', 'Escape')
        dlg.wait_gone()
        self.assertEqual(self.rig.reg_get('Wait'), 'nokey')
        self.assertEqual(stop(self.rig, self.proc, self.main), 0)

        # 設定 was chosen by its key; where the menu did not take it, the
        # minimal tray program, in the same rig, says whose fault that is.
        with self.subTest('the tray menu takes its keys'):
            if not by_key:
                taken, said = harness.control_menu_key(self.rig)
                print('the tray menu did not take the key; control: ' + said, flush=True)
                if taken:
                    self.fail('the tray menu did not take the key, the minimal program\'s did')
                self.skipTest('a fault of the platform: the tray menu did not take the key; ' + said)

    def test_second_command_brings_the_open_dialog_forward(self):
        a = self.tone('a.wav', 440, 0.3)
        self.start(wait_ms=3600000, sound=windows_path(a))
        dlg, _ = open_settings_from_tray_menu(self.rig, use_key=False)
        # Move the foreground away: a click on the desktop.
        self.rig.xdotool('mousemove', 60, 60, 'click', 1)
        time.sleep(0.5)
        self.assertNotEqual(int(self.rig.driver('foreground'), 16), dlg.hwnd)
        self.rig.command(self.main, harness.IDM_SETTINGS)
        deadline = time.monotonic() + 5
        while int(self.rig.driver('foreground'), 16) != dlg.hwnd and time.monotonic() < deadline:
            time.sleep(0.2)
        self.assertEqual(int(self.rig.driver('foreground'), 16), dlg.hwnd, 'brought to the front')
        time.sleep(0.5)
        dialogs = [w.hwnd for w in harness.top_windows(self.rig, cls=DIALOG_CLASS, title=SETTINGS_CAPTION,
                                                       visible=True)]
        self.assertEqual(dialogs, [dlg.hwnd], 'the same dialog, no second one')
        # Its pictures are still the play triangle and the stop square.
        shot = self.rig.screenshot()
        self.assertEqual(glyph_counts(shot, dlg.child(IDC_PLAY)['rect']), PLAY_ROWS)
        self.assertEqual(glyph_counts(shot, dlg.child(IDC_STOP)['rect']), STOP_ROWS)
        dlg.command(IDCANCEL)
        dlg.wait_gone()
        self.assertTrue(self.rig.main_window(), 'the program runs on')

    def test_close_request_or_exit_while_open_ends_dialog_and_program(self):
        # The modal dialog does not hold the program up: it ends with it.
        self.start()
        dlg = open_settings_by_command(self.rig, self.main)
        self.assertTrue(dlg.alive())
        closer = self.rig.start_halvory('/u', cwd=self.dir)
        self.assertEqual(self.proc.wait(20), 0, 'ended by /u with code 0')
        self.assertEqual(closer.wait(20), 0)

        # The same through the tray menu's exit command.
        self.start()
        dlg = open_settings_by_command(self.rig, self.main)
        self.assertTrue(dlg.alive())
        self.rig.command(self.main, harness.IDM_EXIT)
        self.assertEqual(self.proc.wait(20), 0, 'ended by the exit command with code 0')
        self.assertEqual(self.rig.reg_get('Wait'), 'nokey', 'nothing was applied')


class EntryTest(DialogCase):

    def arrow(self, dlg, field, keys, start):
        dlg.set_text(field, start)
        for key in keys:
            self.rig.xdotool('key', key)
        return dlg.text(field)

    def test_arrow_keys_step_by_one_and_stop_at_the_ends(self):
        open(os.path.join(self.dir, 'Orvel.mp3'), 'w').close()
        self.start(wait_ms=7200000)
        dlg = open_settings_by_command(self.rig, self.main)
        self.assertEqual([dlg.text(i) for i in (IDC_HOURS, IDC_MINUTES, IDC_SECONDS)], ['2', '0', '0'])

        dlg.click(IDC_HOURS)     # real focus, pointer over the dialog for the keys
        self.assertEqual(dlg.focus_id(), IDC_HOURS)
        self.assertEqual(self.arrow(dlg, IDC_HOURS, ['Up'], '2'), '3', 'Up adds 1')
        self.assertEqual(self.arrow(dlg, IDC_HOURS, ['Up', 'Up'], '998'), '999', 'stops at 999')
        self.assertEqual(self.arrow(dlg, IDC_HOURS, ['Down'], '999'), '998', 'Down subtracts 1')
        self.assertEqual(self.arrow(dlg, IDC_HOURS, ['Down', 'Down'], '1'), '0', 'stops at 0')

        dlg.click(IDC_MINUTES)
        self.assertEqual(self.arrow(dlg, IDC_MINUTES, ['Up', 'Up'], '58'), '59', 'minutes stop at 59')
        self.assertEqual(self.arrow(dlg, IDC_MINUTES, ['Down', 'Down'], '1'), '0')
        dlg.click(IDC_SECONDS)
        self.assertEqual(self.arrow(dlg, IDC_SECONDS, ['Up', 'Up'], '58'), '59', 'seconds stop at 59')
        self.assertEqual(self.arrow(dlg, IDC_SECONDS, ['Down'], '30'), '29')

        # Held: the key repeats, the value climbs by ones and never wraps.
        dlg.set_text(IDC_MINUTES, '50')
        dlg.click(IDC_MINUTES)
        self.rig.xdotool('keydown', 'Up')
        time.sleep(1.5)
        self.rig.xdotool('keyup', 'Up')
        self.assertEqual(dlg.text(IDC_MINUTES), '59')
        # The mouse held on the hours' up arrow: no step past 999.
        dlg.set_text(IDC_HOURS, '990')
        spin = dlg.child(IDC_HOURS_SPIN)['rect']
        self.rig.xdotool('mousemove', (spin[0] + spin[2]) // 2, spin[1] + 3, 'mousedown', 1)
        time.sleep(1.5)
        self.rig.xdotool('mouseup', 1)
        self.assertEqual(dlg.text(IDC_HOURS), '999')

        # What the arrows set is what OK stores.
        # (the bare default name is found in the program's current folder).
        dlg.set_text(IDC_SECONDS, '7')
        dlg.command(IDOK)
        dlg.wait_gone()
        self.assertRegistry(((999 * 60 + 59) * 60 + 7) * 1000, 'Orvel.mp3')

    def test_validation_refuses_with_message_and_focus(self):
        folder = os.path.join(self.dir, 'folder')
        os.makedirs(folder, exist_ok=True)
        missing = windows_path(os.path.join(self.dir, 'missing.wav'))
        self.start(wait_ms=5400000)
        dlg = open_settings_by_command(self.rig, self.main)
        self.assertEqual([dlg.text(i) for i in (IDC_HOURS, IDC_MINUTES, IDC_SECONDS)], ['1', '30', '0'])

        dlg.set_text(IDC_MINUTES, '75')
        dlg.click(IDOK)    # a real click on OK
        self.expect_box(dlg, MINUTES_MESSAGE, IDC_MINUTES)
        self.assertEqual(dlg.text(IDC_MINUTES), '75', 'the typed text stays')

        dlg.set_text(IDC_SOUNDFILE, missing)
        dlg.command(IDOK)
        self.expect_box(dlg, MINUTES_MESSAGE, IDC_MINUTES)   # only the first failure

        dlg.set_text(IDC_MINUTES, '0')
        dlg.set_text(IDC_HOURS, '')
        dlg.command(IDOK)
        self.expect_box(dlg, HOURS_MESSAGE, IDC_HOURS)
        dlg.set_text(IDC_HOURS, '1000')
        dlg.command(IDOK)
        self.expect_box(dlg, HOURS_MESSAGE, IDC_HOURS)

        dlg.set_text(IDC_HOURS, '0')
        dlg.set_text(IDC_SECONDS, '60')
        dlg.command(IDOK)
        self.expect_box(dlg, MINUTES_MESSAGE, IDC_SECONDS)

        dlg.set_text(IDC_SECONDS, '5')
        dlg.command(IDOK)
        self.expect_box(dlg, PATH_MESSAGE, IDC_BROWSE)   # Browse, not the path field
        self.assertEqual(dlg.text(IDC_SOUNDFILE), missing)

        # Nothing was applied by the refusals.
        kind, data = self.rig.reg_get('Wait')
        self.assertEqual(int.from_bytes(data, 'little'), 5400000)
        self.assertIsNone(self.rig.reg_get('SoundFile'))

        # A folder exists, so it passes; the stored values are exact.
        dlg.set_text(IDC_SOUNDFILE, windows_path(folder))
        dlg.command(IDOK)
        dlg.wait_gone()
        self.assertRegistry(5000, windows_path(folder))

    def test_long_typed_path_is_cut_to_259_bytes_on_a_character_boundary(self):
        self.start(wait_ms=60000)
        base = windows_path(self.dir) + '\\'

        def components(total, unit, unit_bytes, limit):
            """Folder names filling `total` cp932 bytes with separators, each
            short enough for Linux (255 bytes of UTF-8)."""
            names = []
            while total > limit + 1:
                names.append(unit * (limit // unit_bytes))
                total -= limit // unit_bytes * unit_bytes + 1
            names.append('x' * (total % unit_bytes) + unit * (total // unit_bytes))
            return names

        def make_file(text):
            linux = text[2:].replace('\\', '/')
            os.makedirs(os.path.dirname(linux), exist_ok=True)
            open(linux, 'w').close()

        # A 259-byte path that exists, typed with more after it.
        path_259 = base + 'a\\' + '\\'.join(
            components(259 - len(base) - 2, 'x', 1, 200))
        self.assertEqual(len(path_259.encode('cp932')), 259)
        make_file(path_259)
        dlg = open_settings_by_command(self.rig, self.main)
        dlg.set_text(IDC_SOUNDFILE, path_259 + 'yyyyyyyy.wav')
        self.assertTrue(dlg.enabled(IDC_PLAY), 'the field is tested cut as well')
        dlg.command(IDOK)
        dlg.wait_gone()
        self.assertRegistry(60000, path_259)

        # Double-byte characters (表 is 0x95 0x5C: its trail byte looks like a
        # backslash) so that bytes 259 and 260 are one character: the cut falls
        # before it and 258 bytes remain, which name an existing file.
        head = base + 'b\\'
        rest = 258 - len(head.encode('cp932')) - 81
        self.assertGreater(rest, 0)
        path_258 = head + '\\'.join(components(rest, '表', 2, 150) + ['表' * 40])
        self.assertEqual(len(path_258.encode('cp932')), 258)
        make_file(path_258)
        dlg = open_settings_by_command(self.rig, self.main)
        dlg.set_text(IDC_SOUNDFILE, path_258 + '表表.wav')
        self.assertTrue(dlg.enabled(IDC_PLAY), 'the 258 bytes name the file')
        dlg.command(IDOK)
        deadline = time.monotonic() + 5
        while dlg.alive() and time.monotonic() < deadline:
            self.assertEqual(owned_boxes(self.rig, dlg.hwnd), [], 'the cut path was refused')
            time.sleep(0.2)
        self.assertFalse(dlg.alive())
        self.assertRegistry(60000, path_258)


class PreviewTest(DialogCase):

    def test_preview_buttons_follow_the_field_and_play_the_setting(self):
        a = self.tone('a.wav', 440, 2.5)
        b = self.tone('b.wav', 880, 0.4)
        self.start(wait_ms=3600000, sound=windows_path(a), record=True)
        dlg = open_settings_by_command(self.rig, self.main)
        self.assertTrue(dlg.enabled(IDC_PLAY) and dlg.enabled(IDC_STOP))
        shot = self.rig.screenshot()
        self.assertEqual(glyph_counts(shot, dlg.child(IDC_PLAY)['rect']), PLAY_ROWS, 'play triangle')
        self.assertEqual(glyph_counts(shot, dlg.child(IDC_STOP)['rect']), STOP_ROWS, 'stop square')

        for text, enabled in (('', False), (windows_path(os.path.join(self.dir, 'nothing.wav')), False),
                              (windows_path(self.dir), True), (windows_path(b)[:-1], False)):
            dlg.set_text(IDC_SOUNDFILE, text)
            self.assertEqual((dlg.enabled(IDC_PLAY), dlg.enabled(IDC_STOP)), (enabled, enabled), text)
        # Real typing: the last letter completes an existing name.
        dlg.click(IDC_SOUNDFILE)
        self.rig.xdotool('key', 'End', 'v')
        self.assertEqual(dlg.text(IDC_SOUNDFILE), windows_path(b))
        self.assertTrue(dlg.enabled(IDC_PLAY))
        self.rig.xdotool('key', 'BackSpace')
        self.assertFalse(dlg.enabled(IDC_PLAY))
        self.rig.xdotool('key', 'v')
        self.assertTrue(dlg.enabled(IDC_STOP))

        # Play plays the setting (a, 440 Hz), not the typed b; Stop, clicked
        # once it is heard, silences it.
        t_play = time.monotonic()
        dlg.click(IDC_PLAY)
        self.assertIsNotNone(lib.wait_onset(self.rec, self.rec.at(t_play), 10), 'play played nothing')
        time.sleep(0.5)
        dlg.click(IDC_STOP)
        time.sleep(2.5)
        # One play, though a loaded machine may break it up for a moment.
        played = self.onsets(t_play, time.monotonic(), merge_gap=0.3)
        self.assertEqual(len(played), 1, played)
        start, end, freq = played[0]
        self.assertAlmostEqual(freq, 440, delta=30)
        # Cut well before its natural end (Wine's stop lets the queued
        # buffers play, up to about 0.7 s), and nothing after it.
        self.assertLess(end, start + 2.2, 'stop cut the 2.5 s sound short')

        # After OK the typed file is the setting: the next preview plays it.
        dlg.command(IDOK)
        dlg.wait_gone()
        dlg = open_settings_by_command(self.rig, self.main)
        t_play = time.monotonic()
        dlg.click(IDC_PLAY)
        self.assertIsNotNone(lib.wait_onset(self.rec, self.rec.at(t_play), 10), 'play played nothing')
        time.sleep(0.6)
        played = self.onsets(t_play, time.monotonic(), merge_gap=0.3)
        self.assertEqual(len(played), 1, played)
        self.assertAlmostEqual(played[0][2], 880, delta=50)
        dlg.command(IDCANCEL)
        dlg.wait_gone()


class ChooserTest(DialogCase):

    def test_browse_writes_the_live_setting_and_cancel_keeps_it(self):
        def played(sounds):
            """Which files the sounds were, by the nearest of their pitches (a
            dropout on a loaded machine pulls the estimate down a little). A
            piece shorter than 50 ms has no pitch to judge."""
            return {min((('a', 440), ('c', 660), ('b', 880)), key=lambda f: abs(f[1] - s[2]))[0]
                    for s in sounds if s[1] - s[0] >= 0.05}
        a = self.tone('a.wav', 440, 0.3)
        self.tone('b.wav', 880, 0.3)
        open(os.path.join(self.dir, 'notes.txt'), 'w').close()
        self.start(wait_ms=2000, sound=windows_path(a), record=True)
        dlg = open_settings_by_command(self.rig, self.main)
        dlg.set_text(IDC_SOUNDFILE, 'typed-nothing.wav')
        self.assertFalse(dlg.enabled(IDC_PLAY))

        dlg.click(IDC_BROWSE)
        chooser = wait_owned_box(self.rig, dlg.hwnd)
        self.assertEqual(chooser.text(), CHOOSER_TITLE)
        # The current setting is its file name; the sound filter is selected.
        self.assertEqual(chooser.text(CHOOSER_FILENAME), 'a.wav')
        self.assertEqual(chooser.text(CHOOSER_FILETYPE), '音声ファイル (*.wav;*.mid;*.mp3)')
        self.assertEqual(chooser.send(CHOOSER_FILETYPE, CB_GETCOUNT), 2)
        self.assertEqual(chooser.send_for_text(CHOOSER_FILETYPE, CB_GETLBTEXT, 1), 'すべてのファイル (*.*)')

        # Cancelled: the field keeps its text and the chime keeps its file.
        chooser.command(IDCANCEL)
        chooser.wait_gone()
        self.assertEqual(dlg.text(IDC_SOUNDFILE), 'typed-nothing.wav')
        heard = self.chimes_after(time.monotonic())
        self.assertTrue(heard, 'a chime came')
        self.assertEqual(played(heard), {'a'}, heard)

        # A file whose path is longer than the setting holds, in bytes, though
        # not in characters (Japanese folder names): not taken. The field and
        # the chime keep what they had.
        n = (300 - len(windows_path(self.dir).encode('cp932'))) // 4
        folder = os.path.join(self.dir, 'ソ' * n, '表' * n)
        os.makedirs(folder)
        deep = windows_path(self.tone(os.path.join(folder, 'c.wav'), 660, 0.3))
        self.assertTrue(len(deep) < 260 < len(deep.encode('cp932')), deep)
        dlg.click(IDC_BROWSE)
        chooser = wait_owned_box(self.rig, dlg.hwnd)
        chooser.set_text(CHOOSER_FILENAME, deep)
        chooser.command(IDOK)
        chooser.wait_gone()
        self.assertEqual(dlg.text(IDC_SOUNDFILE), 'typed-nothing.wav')
        heard = self.chimes_after(time.monotonic())
        self.assertTrue(heard, 'no chime after the long path')
        self.assertEqual(played(heard), {'a'}, heard)

        # Chosen by typing its name and Enter, like a person would.
        dlg.click(IDC_BROWSE)
        chooser = wait_owned_box(self.rig, dlg.hwnd)
        # The name field has the focus with its text selected: typing replaces it.
        self.assertEqual(chooser.focus_id(), CHOOSER_FILENAME)
        self.rig.xdotool('mousemove', *centre(chooser.info()['rect']))
        self.rig.xdotool('type', 'b.wav')
        self.rig.xdotool('key', 'Return')
        chooser.wait_gone()
        t_chosen = time.monotonic()
        self.assertEqual(dlg.text(IDC_SOUNDFILE), windows_path(os.path.join(self.dir, 'b.wav')))
        self.assertTrue(dlg.enabled(IDC_PLAY) and dlg.enabled(IDC_STOP), 'the chosen file enables them')
        heard = self.chimes_after(t_chosen + 0.3)
        self.assertTrue(heard, 'a chime came')
        self.assertEqual(played(heard), {'b'}, 'b plays before OK: %r' % heard)

        # Cancel keeps b in memory; the registry keeps a.
        dlg.command(IDCANCEL)
        dlg.wait_gone()
        heard = self.chimes_after(time.monotonic() + 0.3)
        self.assertEqual(played(heard), {'b'}, heard)
        kind, data = self.rig.reg_get('SoundFile')
        self.assertEqual(data, windows_path(a).encode('cp932') + b'\0')


class ApplyTest(DialogCase):

    def test_ok_while_running_restarts_the_interval(self):
        a = self.tone('a.wav', 660, 0.2)
        self.start(wait_ms=2000, sound=windows_path(a), record=True, traced=True)
        dlg = open_settings_by_command(self.rig, self.main)
        dlg.set_text(IDC_SECONDS, '4')
        # Ticks go on while the dialog is open.
        t_open = time.monotonic()
        self.assertIsNotNone(lib.wait_onset(self.rec, self.rec.at(t_open), 6), 'no chime while it is open')
        time.sleep(0.5)
        t_ok = time.monotonic()
        dlg.command(IDOK)
        dlg.wait_gone()
        t_gone = time.monotonic()
        harness.wait_for(lambda: len(self.ticks(t_gone)) >= 2, 15)
        # On the trace's clock. OK re-armed the timer after t_ok and before
        # the dialog was seen gone: from then on, no tick until a whole new
        # interval after OK (the old 2 s count would have ticked), then one
        # every 4 s.
        self.assertGreater(t_ok + 4.0 - t_gone, 1.5, 'OK took %.1f s to close the dialog' % (t_gone - t_ok))
        ticks = self.ticks(t_gone)
        self.assertGreaterEqual(len(ticks), 2, 'the new interval does not chime')
        self.assertGreaterEqual(ticks[0], t_ok + 4.0, 'the old count went on after OK')
        self.assertLess(ticks[0], t_gone + 5.0, 'no chime about 4 s after OK')
        self.assertTrue(3.5 < ticks[1] - ticks[0] < 4.5, 'chimes %.2f s apart' % (ticks[1] - ticks[0]))
        # And heard. A piece shorter than 50 ms (a tone the recording has only
        # begun, or split by a dropout of a loaded machine) has no pitch to judge.
        sounds = self.onsets(t_gone, time.monotonic())
        heard = [s for s in sounds if s[1] - s[0] >= 0.05]
        self.assertTrue(heard and all(abs(s[2] - 660) < 40 for s in heard), sounds)
        self.assertRegistry(4000, windows_path(a))

    def test_ok_while_paused_stays_paused_and_silent(self):
        a = self.tone('a.wav', 660, 0.2)
        self.start(wait_ms=2000, sound=windows_path(a), record=True, traced=True)
        self.rig.command(self.main, harness.IDM_PAUSE)
        self.assertEqual(harness.wait_tray_look(self.rig, 'paused')[0], 'paused')
        t_paused = time.monotonic()     # the pause was handled before its look showed
        dlg = open_settings_by_command(self.rig, self.main)
        dlg.set_text(IDC_SECONDS, '1')
        dlg.command(IDOK)
        dlg.wait_gone()
        time.sleep(3.0)
        self.assertEqual(harness.tray_look(self.rig.screenshot()), 'paused')
        self.assertRegistry(1000, windows_path(a))
        # Resume arms the new 1 s interval: the first chime one second after
        # the command (sent between these two instants), then every second;
        # nothing played from the pause to the resume.
        t_resume = time.monotonic()
        self.rig.command(self.main, harness.IDM_RESUME)
        t_sent = time.monotonic()
        harness.wait_for(lambda: len(self.ticks(t_paused)) >= 3, 10)
        ticks = self.ticks(t_paused)
        self.assertGreaterEqual(len(ticks), 3, 'the new interval does not chime after Resume')
        self.assertGreaterEqual(ticks[0], t_resume + 1.0, 'played while paused, or too soon after Resume')
        self.assertLess(ticks[0], t_sent + 1.5, 'the first chime came after the old interval')
        self.assertTrue(all(0.75 < b - a < 1.5 for a, b in zip(ticks, ticks[1:3])), ticks)
        self.assertTrue(self.onsets(t_resume, time.monotonic()), 'no chime heard after Resume')


if __name__ == '__main__':
    harness.main()
