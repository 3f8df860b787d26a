"""The settings dialog and the sound file chooser, end to end on the real halvory.exe: opened from the real tray
menu, driven with real keys and clicks where a person would use them, heard through the rig's sound sink."""
import os
import time

import audio
import desktop
import faults
import runner
from desktop import DIALOG_CLASS, Dialog, centre, glyph_rows, open_settings, wait_dialog
from resources import (DIALOG_CAPTION, DIALOG_STYLE, TEMPLATE, IDOK, IDCANCEL, IDC_STATIC, IDC_SOUNDFILE,
                       IDC_BROWSE, IDC_HOURS, IDC_HOURS_SPIN, IDC_MINUTES, IDC_MINUTES_SPIN, IDC_SECONDS,
                       IDC_SECONDS_SPIN, IDC_PLAY, IDC_STOP, IDM_PAUSE, IDM_RESUME, IDM_SETTINGS, IDM_EXIT)
from mcitrace import STAMP
from rig import HOLD, LATE, LONG, SHORT, WATCH, windows_path
from timeline import STOP, TICKS, assert_commands, assert_not_before, assert_period, near, which

CHOOSER_TITLE, PATH_MESSAGE = '音声ファイルを選んでください', '音声ファイルの指定が無効です。'
CHOOSER_FILENAME, CHOOSER_FILETYPE, CHOOSER_FOLDER = 0x47C, 0x470, 0x471   # the open-file dialog's cmb13, cmb1, cmb2
WS_VISIBLE, WS_DISABLED, WS_CLIPSIBLINGS, WS_BORDER = 0x10000000, 0x08000000, 0x04000000, 0x00800000
WS_EX_CLIENTEDGE, DS_3DLOOK, CB_GETCOUNT, CB_GETLBTEXT = 0x200, 0x4, 0x0146, 0x0148
EM_GETLIMITTEXT, UDM_GETRANGE, UDM_GETACCEL = 0x00D5, 0x0400 + 102, 0x0400 + 108
MINUTES_MESSAGE, HOURS_MESSAGE = '0から59までの整数を入力してください。', '0から999までの整数を入力してください。'
PLAY_ROWS, STOP_ROWS = [2, 4, 6, 8, 10, 12, 12, 10, 8, 6, 4, 2], [10] * 10
SPINS = ((IDC_HOURS, IDC_HOURS_SPIN), (IDC_MINUTES, IDC_MINUTES_SPIN), (IDC_SECONDS, IDC_SECONDS_SPIN))
PREVIEW_SECONDS = 2.5   # the preview's sound, long enough to be cut


class DialogCase(runner.Case):
    def setUp(self):
        super().setUp()
        self.dir = self.folder()

    def start(self, wait_ms=None, sound=None, traced=False):
        self.hv = self.rig.start_halvory(wait_ms, sound, cwd=self.dir, traced=traced)
        return self.hv

    def tone(self, name, freq, seconds):
        return audio.make_tone(os.path.join(self.dir, name), freq, seconds)

    def assertSoon(self, get, want, msg=None):
        """get() once it is want (a click, a key or a picture comes in its own time)."""
        desktop.wait_until(lambda: get() == want, SHORT)
        self.assertEqual(get(), want, msg)

    def assertRegistry(self, wait_ms, sound):
        self.assertEqual(self.rig.reg_get('Wait'), (4, wait_ms.to_bytes(4, 'little')))
        self.assertEqual(self.rig.reg_get('SoundFile'), (1, sound.encode('cp932') + b'\0'),
                         'SoundFile is the path and one NUL')

    def expect_box(self, dlg, message, focus_id):
        """A warning box with this message; after it is closed, the focus."""
        box = dlg.wait_box()
        self.assertEqual(box.text(IDC_STATIC), message)
        self.assertIn(box.text(), ('エラー', 'Error'))     # the platform's default caption (NULL was passed)
        self.assertEqual(len(dlg.boxes()), 1, 'one box at a time')
        box.close_by(IDOK)
        self.assertSoon(dlg.focus_id, focus_id)    # moved once the box returned: a second box would come first
        self.assertEqual(dlg.boxes(), [], 'no second message follows')
        self.assertTrue(dlg.alive(), 'the dialog stays open')

    def assertGlyphs(self, dlg):
        def glyphs():
            shot = desktop.Shot(self.rig)
            return [glyph_rows(shot, dlg.child(i)['rect']) for i in (IDC_PLAY, IDC_STOP)]
        self.assertSoon(glyphs, [PLAY_ROWS, STOP_ROWS])

    def ok_closes_without_a_box(self, dlg):
        """OK, then the dialog goes and no box of its came meanwhile."""
        dlg.command(IDOK)
        deadline = time.monotonic() + SHORT
        while dlg.alive() and time.monotonic() < deadline:
            self.assertEqual([box.text(IDC_STATIC) for box in dlg.boxes()], [], 'OK was refused')
            time.sleep(0.2)
        self.assertFalse(dlg.alive(), 'OK did not close the dialog')


class OpeningTest(DialogCase):
    def test_opens_from_tray_menu_as_its_template_with_defaults(self):
        hv = self.start()
        pid = int(self.rig.driver('pid', hex(hv.hwnd)).split()[0])
        menu = desktop.open_tray_menu(self.rig)
        menu.key('c')   # 設定 by its key; where the menu does not take it, by a click, so that it opens all the same
        by_key = found = desktop.wait_window(self.rig, cls=DIALOG_CLASS)
        if not found:
            menu.choose(IDM_SETTINGS)
            found = desktop.wait_window(self.rig, cls=DIALOG_CLASS)
        self.assertTrue(found, 'no dialog opened')
        dlg = Dialog(self.rig, found.hwnd)
        desktop.wait_until(dlg.focus_id, SHORT)
        with self.subTest('it is the program\'s own dialog, with its caption, and all it shows'):
            self.assertEqual((found.owner, dlg.text()), (0, DIALOG_CAPTION))
            self.assertEqual([w.hwnd for w in desktop.top_windows(self.rig, pid=pid, visible=True)], [dlg.hwnd])
        info = dlg.info()   # in its style, WS_VISIBLE, WS_CLIPSIBLINGS and DS_3DLOOK are added by the platform
        with self.subTest('its style'):
            self.assertEqual(info['style'] & ~(WS_VISIBLE | WS_CLIPSIBLINGS | DS_3DLOOK), DIALOG_STYLE)
        with self.subTest('centred'):
            self.assertLessEqual(abs(centre(info['rect'])[0] - desktop.Shot(self.rig).w // 2), 3)
        with self.subTest('the stored (default) settings in the fields'):
            self.assertEqual([dlg.text(i) for i in (IDC_HOURS, IDC_MINUTES, IDC_SECONDS, IDC_SOUNDFILE)],
                             ['0', '0', '10', 'Orvel.mp3'])
        with self.subTest('the focus in the path field'):
            self.assertEqual(dlg.focus_id(), IDC_SOUNDFILE)
        kids = dlg.children()
        with self.subTest('controls in tab order, with their classes, styles and texts'):
            self.assertEqual([(k['id'], k['class'].lower()) for k in kids], [(t[0], t[1].lower()) for t in TEMPLATE])
            for kid, (cid, cls, text, style, *_) in zip(kids, TEMPLATE):
                got = kid['style'] & ~WS_DISABLED
                if cls == 'EDIT' and kid['exstyle'] & WS_EX_CLIENTEDGE:
                    got |= WS_BORDER    # an edit turns its border into a client edge
                self.assertEqual(got, style, 'style of control %d %r' % (cid, text))
                if cls != 'EDIT':
                    self.assertEqual(Dialog(self.rig, kid['hwnd']).text(), text)
        first, ok = kids[0]['rect'], kids[15]['rect']     # dialog units in pixels, from two controls
        sx, sy = (ok[0] - first[0]) / (TEMPLATE[15][4] - 5), (ok[1] - first[1]) / (TEMPLATE[15][5] - 10)
        px = lambda v: first[0] + (v - 5) * sx  # noqa: E731
        py = lambda v: first[1] + (v - 10) * sy  # noqa: E731
        fields = [f for f, _ in SPINS]
        with self.subTest('every control but the spins where the template puts it'):
            for kid, (cid, cls, text, style, x, y, w, h) in zip(kids, TEMPLATE):
                r = kid['rect']
                if cls == 'msctls_updown32':
                    continue
                for side, got, want in (('left', r[0], px(x)), ('top', r[1], py(y)), ('bottom', r[3], py(y + h))):
                    self.assertLessEqual(abs(got - want), 3, '%s of %d %r' % (side, cid, text))
                if cid in fields:
                    self.assertLess(r[2], px(x + w) - 8, 'the spin narrows field %d' % cid)
                else:
                    self.assertLessEqual(abs(r[2] - px(x + w)), 3, 'right of %d %r' % (cid, text))
        with self.subTest('each spin against the right edge of the field before it'):
            by_id, template = {k['id']: k for k in kids}, {t[0]: t for t in TEMPLATE}
            for field, spin in SPINS:
                f, s = by_id[field]['rect'], by_id[spin]['rect']
                x, w = template[field][4], template[field][6]
                self.assertLessEqual(abs(s[2] - px(x + w)), 3, 'spin %d ends where its field ended' % spin)
                self.assertLessEqual(abs(s[0] - f[2]), 3, 'spin %d touches its field' % spin)
                self.assertEqual((s[1], s[3]), (f[1], f[3]))
        with self.subTest('typing limited to 3, 2 and 2 characters'):
            self.assertEqual([dlg.send(i, EM_GETLIMITTEXT) for i in fields], [3, 2, 2])
        with self.subTest('spin ranges reversed (maximum 0)'):
            self.assertEqual([dlg.send(s, UDM_GETRANGE) for _, s in SPINS], [0x03E70000, 0x003B0000, 0x003B0000])
        with self.subTest('one acceleration entry stepping by -1'):
            for _, spin in SPINS:
                self.assertEqual(dlg.send(spin, UDM_GETACCEL, 0, 0), 1, 'one accel entry')
                count, data = dlg.send_buffer(spin, UDM_GETACCEL, 4, 32)
                self.assertEqual((count, int.from_bytes(data[4:8], 'little', signed=True)), (1, -1))
        with self.subTest('no Orvel.mp3 in the current folder: nothing to preview'):
            self.assertEqual((dlg.enabled(IDC_PLAY), dlg.enabled(IDC_STOP)), (False, False))
        with self.subTest('each control named as a screen reader names it'):
            # A field after the nearest static text before it in the window order, a button by its own text
            # (drawn or not), the mnemonic's marker dropped.
            names, label = {}, None
            for kid in kids:
                cls, text = kid['class'].lower(), Dialog(self.rig, kid['hwnd']).text()
                if cls == 'static':
                    label = text
                elif cls in ('edit', 'button'):
                    names[kid['id']] = (label if cls == 'edit' else text).replace('&', '')
            self.assertEqual(names, {IDC_SOUNDFILE: '音声ファイル (*.wav;*.mid;*.mp3) (S):', IDC_BROWSE: '参照(B)...',
                                     IDC_PLAY: '再生', IDC_STOP: '停止', IDC_HOURS: '時間', IDC_MINUTES: '分',
                                     IDC_SECONDS: '秒', IDOK: 'OK', IDCANCEL: 'キャンセル'})
        with self.subTest('the mnemonics reach their controls'):
            desktop.xdotool(self.rig, 'mousemove', *centre(info['rect']))
            for key, want in (('alt+i', IDC_HOURS), ('alt+s', IDC_SOUNDFILE)):
                desktop.xdotool(self.rig, 'key', key)
                self.assertSoon(dlg.focus_id, want, key)
            desktop.xdotool(self.rig, 'key', 'alt+b')
            chooser = dlg.wait_box()
            self.assertEqual(chooser.text(), CHOOSER_TITLE, 'alt+b')
            chooser.close_by(IDCANCEL)
        with self.subTest('Escape cancels and applies nothing'):
            desktop.xdotool(self.rig, 'mousemove', *centre(info['rect']), 'key', 'Escape')
            dlg.wait_gone()
            self.assertEqual(self.rig.reg_get('Wait'), 'nokey')
        faults.assert_ends_with_0(self, hv, hv.close())
        # Where the menu did not take the key, the minimal tray program (same rig, same one try) says whose fault.
        hv.keys_lost = 0 if by_key else 1
        with faults.judge(self, 'the tray menu takes its keys', of=hv):
            self.assertTrue(by_key, 'the tray menu did not take the key')

    def test_second_command_brings_the_open_dialog_forward(self):
        self.start(wait_ms=3600000, sound=windows_path(self.tone('a.wav', 440, 0.3)))
        desktop.open_tray_menu(self.rig).choose(IDM_SETTINGS)
        dlg = wait_dialog(self.rig)
        front = lambda: int(self.rig.driver('foreground'), 16)  # noqa: E731
        desktop.xdotool(self.rig, 'mousemove', 60, 60, 'click', 1)     # the foreground away: a click on the desktop
        desktop.wait_until(lambda: front() != dlg.hwnd, SHORT)
        self.assertNotEqual(front(), dlg.hwnd)
        self.hv.command(IDM_SETTINGS)
        self.assertSoon(front, dlg.hwnd, 'brought to the front')
        self.assertEqual([w.hwnd for w in desktop.top_windows(self.rig, cls=DIALOG_CLASS, visible=True)],
                         [dlg.hwnd], 'the same dialog, no second one')
        self.assertGlyphs(dlg)
        dlg.close_by(IDCANCEL)
        self.assertTrue(self.rig.main_window(), 'the program runs on')

    def test_close_request_or_exit_while_open_ends_dialog_and_program(self):
        for how in ('/u', 'the exit command'):   # the modal dialog does not hold the program up: it ends with it
            with self.subTest(how):
                hv = self.start()
                self.assertTrue(open_settings(hv).alive())
                if how == '/u':
                    self.assertEqual(self.rig.run_halvory('/u', cwd=self.dir).wait(LONG), 0)
                else:
                    hv.command(IDM_EXIT)
                faults.assert_ends_with_0(self, hv, hv.wait(LONG))
                self.assertEqual(self.rig.reg_get('Wait'), 'nokey', 'nothing was applied')


class EntryTest(DialogCase):
    def test_arrow_keys_step_by_one_and_stop_at_the_ends(self):
        self.start(wait_ms=7200000)
        open(os.path.join(self.dir, 'Orvel.mp3'), 'w').close()
        dlg = open_settings(self.hv)
        self.assertEqual([dlg.text(i) for i in (IDC_HOURS, IDC_MINUTES, IDC_SECONDS)], ['2', '0', '0'])
        # Each row ends with a value that only its last key makes, so no key of it is still on its way (a key
        # that must do nothing is followed by one that does something).
        up2, down2 = ['Up', 'Up', 'Down', 'Down'], ['Down', 'Down', 'Up', 'Up']
        for field, keys, start, want, what in (
                (IDC_HOURS, ['Up'], '2', '3', 'Up adds 1'), (IDC_HOURS, up2, '998', '997', 'stops at 999'),
                (IDC_HOURS, ['Down'], '999', '998', 'Down subtracts 1'), (IDC_HOURS, down2, '1', '2', 'stops at 0'),
                (IDC_MINUTES, up2, '58', '57', 'minutes stop at 59'),
                (IDC_MINUTES, down2, '1', '2', 'minutes stop at 0'),
                (IDC_SECONDS, up2, '58', '57', 'seconds stop at 59'),
                (IDC_SECONDS, ['Down'], '30', '29', 'seconds step down')):
            if dlg.focus_id() != field:
                self.assertEqual(dlg.focus(field), field)
            dlg.set_text(field, start)
            desktop.xdotool(self.rig, 'key', *keys)
            self.assertSoon(lambda: dlg.text(field), want, what)
        # Held, the Up key on the minutes and the mouse on the hours' up arrow: the value climbs by ones to the
        # end, however slowly a busy machine repeats, and no further while held on there for a second (a click
        # into another field, handled after the release, shows where it stopped).
        spin = dlg.child(IDC_HOURS_SPIN)['rect']
        for field, start, end, press, release, other in (
                (IDC_MINUTES, '50', '59', ['keydown', 'Up'], ['keyup', 'Up'], IDC_SECONDS),
                (IDC_HOURS, '990', '999', ['mousemove', (spin[0] + spin[2]) // 2, spin[1] + 3, 'mousedown', 1],
                 ['mouseup', 1], IDC_MINUTES)):
            dlg.set_text(field, start)
            self.assertEqual(dlg.focus(field), field)
            desktop.xdotool(self.rig, *press)
            desktop.wait_until(lambda: dlg.text(field) == end, LONG)
            time.sleep(HOLD)
            desktop.xdotool(self.rig, *release)
            self.assertEqual(dlg.focus(other), other)
            self.assertEqual(dlg.text(field), end, 'held, from %s' % start)
        # OK stores what the arrows set, the largest interval (the bare default name found in the current folder).
        dlg.set_text(IDC_SECONDS, '7')
        dlg.close_by(IDOK)
        self.assertRegistry(((999 * 60 + 59) * 60 + 7) * 1000, 'Orvel.mp3')

    def test_validation_refuses_with_message_and_focus(self):
        self.start(wait_ms=5400000)
        folder = os.path.join(self.dir, 'folder')
        os.makedirs(folder)
        missing = windows_path(os.path.join(self.dir, 'missing.wav'))
        dlg = open_settings(self.hv)
        self.assertEqual([dlg.text(i) for i in (IDC_HOURS, IDC_MINUTES, IDC_SECONDS)], ['1', '30', '0'])
        dlg.set_text(IDC_MINUTES, '75')
        dlg.click(IDOK)    # a real click on OK
        self.expect_box(dlg, MINUTES_MESSAGE, IDC_MINUTES)
        self.assertEqual(dlg.text(IDC_MINUTES), '75', 'the typed text stays')
        for field, text, message, focus in (
                (IDC_SOUNDFILE, missing, MINUTES_MESSAGE, IDC_MINUTES),  # the first only
                (IDC_MINUTES, '0', None, None), (IDC_HOURS, '', HOURS_MESSAGE, IDC_HOURS),
                (IDC_HOURS, '1000', HOURS_MESSAGE, IDC_HOURS), (IDC_HOURS, '0', None, None),
                (IDC_MINUTES, '３a', MINUTES_MESSAGE, IDC_MINUTES),   # full-width digits: the IME on, or pasted
                (IDC_MINUTES, '３０', None, None), (IDC_SECONDS, '60', MINUTES_MESSAGE, IDC_SECONDS),
                (IDC_SECONDS, '０', PATH_MESSAGE, IDC_BROWSE)):  # Browse, not the path
            dlg.set_text(field, text)
            if message:
                dlg.command(IDOK)
                self.expect_box(dlg, message, focus)
        self.assertEqual(dlg.text(IDC_SOUNDFILE), missing)
        self.assertEqual(self.rig.reg_get('Wait'), (4, (5400000).to_bytes(4, 'little')))   # nothing applied
        self.assertIsNone(self.rig.reg_get('SoundFile'))
        dlg.set_text(IDC_SOUNDFILE, windows_path(folder))   # a folder exists, so it passes; the values are exact
        dlg.close_by(IDOK)
        self.assertRegistry(30 * 60 * 1000, windows_path(folder))

    def test_long_typed_path_is_cut_to_259_bytes_on_a_character_boundary(self):
        self.start(wait_ms=60000)
        base = windows_path(self.dir) + '\\'

        def components(total, unit, unit_bytes, limit):
            """Folder names filling `total` cp932 bytes with separators, each short enough for Linux's 255 bytes."""
            names = []
            while total > limit + 1:
                names.append(unit * (limit // unit_bytes))
                total -= limit // unit_bytes * unit_bytes + 1
            return names + ['x' * (total % unit_bytes) + unit * (total // unit_bytes)]
        # A 259-byte path that exists, typed with more after it; and one of double-byte characters (表 is
        # 0x95 0x5C: its trail byte looks like a backslash) so that bytes 259 and 260 are one character: the cut
        # falls before it and 258 bytes remain, which name an existing file.
        head = base + 'b\\'
        rest = 258 - len(head.encode('cp932')) - 81
        self.assertGreater(rest, 0)
        for path, size, more, why in (
                (base + 'a\\' + '\\'.join(components(259 - len(base) - 2, 'x', 1, 200)), 259, 'yyyyyyyy.wav',
                 'the field is tested cut as well'),
                (head + '\\'.join(components(rest, '表', 2, 150) + ['表' * 40]), 258, '表表.wav',
                 'the 258 bytes name the file')):
            self.assertEqual(len(path.encode('cp932')), size)
            linux = path[2:].replace('\\', '/')
            os.makedirs(os.path.dirname(linux), exist_ok=True)
            open(linux, 'w').close()
            dlg = open_settings(self.hv)
            dlg.set_text(IDC_SOUNDFILE, path + more)
            self.assertTrue(dlg.enabled(IDC_PLAY), why)
            self.ok_closes_without_a_box(dlg)
            self.assertRegistry(60000, path)


class PreviewTest(DialogCase):
    record = True

    def played(self, after):
        """One play after an instant, though a loaded machine may break it up."""
        found = self.timeline.heard(after, merge_gap=0.3)
        self.assertEqual(len(found), 1, found)
        return found[0]

    def test_preview_buttons_follow_the_field_and_play_the_setting(self):
        b = self.tone('b.wav', 880, 0.4)
        self.start(wait_ms=3600000, sound=windows_path(self.tone('a.wav', 440, PREVIEW_SECONDS)))
        dlg = open_settings(self.hv)
        self.assertTrue(dlg.enabled(IDC_PLAY) and dlg.enabled(IDC_STOP))
        self.assertGlyphs(dlg)
        for text, enabled in (('', False), (windows_path(os.path.join(self.dir, 'nothing.wav')), False),
                              (windows_path(self.dir), True), (windows_path(b)[:-1], False)):
            dlg.set_text(IDC_SOUNDFILE, text)
            self.assertEqual((dlg.enabled(IDC_PLAY), dlg.enabled(IDC_STOP)), (enabled, enabled), text)
        # Real typing: the last letter completes an existing name (its buttons judged once the field shows each key).
        self.assertEqual(dlg.focus(IDC_SOUNDFILE), IDC_SOUNDFILE)
        for keys, text, enabled in ((['End', 'v'], windows_path(b), True), (['BackSpace'], windows_path(b)[:-1], False),
                                    (['v'], windows_path(b), True)):
            desktop.xdotool(self.rig, 'key', *keys)
            self.assertSoon(lambda: dlg.text(IDC_SOUNDFILE), text)
            self.assertEqual((dlg.enabled(IDC_PLAY), dlg.enabled(IDC_STOP)), (enabled, enabled), keys)
        # Play plays the setting (a, 440 Hz), not the typed b; Stop, clicked as soon as it is heard, cuts it short
        # (Wine's stop lets the queued buffers play, up to about 0.7 s), and nothing comes after it.
        t_play = time.monotonic()
        dlg.click(IDC_PLAY)
        begun = self.timeline.wait_heard(t_play)
        self.assertIsNotNone(begun, 'play played nothing')
        self.timeline.recorder.wait(begun.start + 0.1)     # enough to tell its pitch on the recording first
        t_stop = time.monotonic()
        dlg.click(IDC_STOP)
        self.timeline.recorder.wait(begun.start + PREVIEW_SECONDS + LATE)
        played = self.played(t_play)
        self.assertTrue(near(played.pitch, 440, 30 / 440), played)
        cut, into = 0.9 * PREVIEW_SECONDS, self.timeline.place(t_stop) - played.start   # a whole play is all of it
        if into >= cut:
            runner.step_too_late('Stop was clicked %.2f s into the sound' % into)
        self.assertLess(played.end - played.start, cut, 'Stop did not cut the %.1f s sound short' % PREVIEW_SECONDS)
        dlg.close_by(IDOK)     # after OK the typed file is the setting: the next preview plays it
        dlg = open_settings(self.hv)
        t_play = time.monotonic()
        dlg.click(IDC_PLAY)
        self.timeline.heard_whole(t_play)
        self.assertTrue(near(self.played(t_play).pitch, 880, 50 / 880), self.timeline.heard(t_play))
        dlg.close_by(IDCANCEL)


class ChooserTest(DialogCase):
    record = True
    PITCHES = {'a': 440, 'b': 880, 'c': 660}

    def chimes(self, after):
        """Which test files the next chimes after an instant were, by their pitch."""
        return {which(s, self.PITCHES) for s in self.timeline.heard_whole(after) if s.pitch} - {None}

    def browse(self, dlg, typed=None, wide=False):
        """Opens the chooser; with `typed` in its name field (wide: the Unicode form a click gives), presses OK."""
        dlg.click(IDC_BROWSE)
        chooser = dlg.wait_box()
        if typed:
            chooser.set_text(CHOOSER_FILENAME, typed, wide=wide)
            chooser.close_by(IDOK)
        return chooser

    def test_browse_writes_the_live_setting_and_cancel_keeps_it(self):
        a = self.tone('a.wav', 440, 0.3)
        self.tone('b.wav', 880, 0.3)
        self.start(wait_ms=2000, sound=windows_path(a))
        dlg = open_settings(self.hv)
        dlg.set_text(IDC_SOUNDFILE, 'typed-nothing.wav')
        self.assertFalse(dlg.enabled(IDC_PLAY))
        chooser = self.browse(dlg)
        self.assertEqual(chooser.text(), CHOOSER_TITLE)
        # The current setting is its file name; the sound filter is selected.
        self.assertEqual(chooser.text(CHOOSER_FILENAME), 'a.wav')
        self.assertEqual(chooser.text(CHOOSER_FILETYPE), '音声ファイル (*.wav;*.mid;*.mp3)')
        self.assertEqual(chooser.send(CHOOSER_FILETYPE, CB_GETCOUNT), 2)
        self.assertEqual(chooser.send_for_text(CHOOSER_FILETYPE, CB_GETLBTEXT, 1), 'すべてのファイル (*.*)')
        # Cancelled: the field and the chime keep theirs, and nothing is said (the box that the rows below wait for).
        chooser.close_by(IDCANCEL)
        self.assertEqual(dlg.text(IDC_SOUNDFILE), 'typed-nothing.wav')
        self.assertEqual(self.chimes(time.monotonic()), {'a'})
        self.assertEqual(dlg.boxes(), [], 'a Cancel says nothing')
        # A chosen file the setting cannot hold: a path longer than it holds, in bytes, though not in characters
        # (Japanese folder names), wherever the platform's cut falls, between two characters or inside one (which
        # the folder's own path decides; one more letter moves it); a name with a character code page 932 lacks
        # (a wave dash from a Mac). Refused aloud; the field and the chime keep what they had.
        unheld = self.tone('a\u301cb.wav', 660, 0.3)
        for row, path, wide in (('cut between two characters', self.deep_path(True), False),
                                ('cut inside a character', self.deep_path(False), False),
                                ('a name code page 932 lacks', windows_path(unheld), True)):
            with self.subTest(row):
                self.browse(dlg, path, wide=wide)
                self.expect_box(dlg, PATH_MESSAGE, IDC_BROWSE)
                self.assertEqual(dlg.text(IDC_SOUNDFILE), 'typed-nothing.wav')
                self.assertEqual(self.chimes(time.monotonic()), {'a'}, 'after the path refused')
        # Chosen by typing its name and Enter, like a person would. The name field has the focus with its text
        # selected: typing replaces it.
        chooser = self.browse(dlg)
        self.assertSoon(chooser.focus_id, CHOOSER_FILENAME)
        desktop.xdotool(self.rig, 'mousemove', *centre(chooser.info()['rect']))
        desktop.xdotool(self.rig, 'type', 'b.wav')
        desktop.xdotool(self.rig, 'key', 'Return')
        chooser.wait_gone()
        t_chosen = time.monotonic()
        self.assertEqual(dlg.text(IDC_SOUNDFILE), windows_path(os.path.join(self.dir, 'b.wav')))
        self.assertTrue(dlg.enabled(IDC_PLAY) and dlg.enabled(IDC_STOP), 'the chosen file enables them')
        self.assertEqual(self.chimes(t_chosen + 0.3), {'b'}, 'b plays before OK')
        dlg.close_by(IDCANCEL)     # keeps b in memory; the registry keeps a
        self.assertEqual(self.chimes(time.monotonic() + 0.3), {'b'})
        self.assertEqual(self.rig.reg_get('SoundFile'), (1, windows_path(a).encode('cp932') + b'\0'))

    def deep_path(self, between):
        """A WAV at a path of fewer characters than the setting holds but more bytes, whose 260th byte ends a
        character (between) or not (a lead byte alone there, which a decode that ignores it drops)."""
        for pad in ('', 'p'):
            folder = os.path.join(self.dir, 'cut' + pad)
            n = (300 - len(windows_path(folder).encode('cp932'))) // 4
            deep = os.path.join(folder, 'ソ' * n, '表' * n)
            path = windows_path(os.path.join(deep, 'c.wav'))
            raw = path.encode('cp932')
            if (len(raw[:260].decode('cp932', 'ignore').encode('cp932')) == 260) == between:
                self.assertTrue(len(path) < 260 < len(raw), path)
                os.makedirs(deep)
                audio.make_tone(os.path.join(deep, 'c.wav'), 660, 0.3)
                return path
        self.fail('no path cut %s a character' % ('between' if between else 'inside'))

    def test_browsing_leaves_the_current_folder_as_it_was(self):
        # A first start as a user makes it: no stored path, so the bare default name, found in the folder it was
        # started in; another folder holds a file of the same name and another pitch.
        other = os.path.join(self.dir, 'other')
        os.makedirs(other)
        audio.make_mp3(os.path.join(self.dir, 'Orvel.mp3'), 440, 0.4)
        audio.make_mp3(os.path.join(other, 'Orvel.mp3'), 880, 0.4)
        hv = self.start(wait_ms=2000, traced=True)

        def resume_to_chimes_of_home(why):
            """Resumes; the chimes from then on are the first folder's. (Paused meanwhile, so that a chime heard
            then is not one of a tick while the chooser looked elsewhere, however late the recording is read.)"""
            resumed, mark = time.monotonic(), self.timeline.mark(hv)
            hv.command(IDM_RESUME)
            with self.subTest(why):
                # The first tick's play answered (an MP3's open is slow on a busy machine), then its chime heard.
                answered = lambda cmd: [c for c in hv.calls()[mark:] if c.command == cmd and c.rc is not None]  # noqa
                desktop.wait_until(lambda: answered('MCI_PLAY'), LONG)
                opened = answered('MCI_OPEN')
                self.assertTrue(answered('MCI_PLAY') and all(c.element == 'Orvel.mp3' and c.rc == 0 for c in opened),
                                [(c.element, c.rc) for c in opened])
                self.assertEqual(self.chimes(resumed), {'a'}, 'chimes at the first folder\'s pitch')
            hv.command(IDM_PAUSE)
        hv.command(IDM_PAUSE)      # looked around in the other folder, then both cancelled
        dlg = open_settings(hv)
        chooser = self.browse(dlg)
        chooser.set_text(CHOOSER_FILENAME, windows_path(other))
        chooser.command(IDOK)           # into the folder, the chooser still open
        self.assertTrue(desktop.wait_until(lambda: chooser.text(CHOOSER_FOLDER) == 'other', SHORT), 'not in the folder')
        chooser.close_by(IDCANCEL)
        dlg.close_by(IDCANCEL)
        resume_to_chimes_of_home('after a cancelled browse')
        self.ok_closes_without_a_box(open_settings(hv))    # the path it plays is still a path the dialog takes
        dlg = open_settings(hv)    # a file chosen in the other folder, then the bare name typed again
        self.browse(dlg, windows_path(os.path.join(other, 'Orvel.mp3')))
        self.assertEqual(dlg.text(IDC_SOUNDFILE), windows_path(os.path.join(other, 'Orvel.mp3')))
        dlg.set_text(IDC_SOUNDFILE, 'Orvel.mp3')
        self.ok_closes_without_a_box(dlg)
        resume_to_chimes_of_home('after a file was chosen elsewhere')
        faults.assert_ends_with_0(self, hv, hv.close())


class ApplyTest(DialogCase):
    record = True

    def test_ok_while_running_restarts_the_interval(self):
        a = self.tone('a.wav', 660, 0.2)
        hv = self.start(wait_ms=2000, sound=windows_path(a), traced=True)
        dlg = open_settings(hv)
        dlg.set_text(IDC_SECONDS, '4')
        self.assertIsNotNone(self.timeline.wait_heard(time.monotonic()), 'no chime while it is open')
        t_ok = time.monotonic()
        dlg.close_by(IDOK)
        t_gone = time.monotonic()
        # On the trace's clock. OK re-armed the timer after t_ok and before the dialog was seen gone: from then
        # on, no tick until a whole new interval after OK (the old 2 s count would have ticked), then one every
        # 4 s. The old count's next tick is 2 s after its last: the dialog must be seen gone before it, or it hides.
        old = [t for t in self.timeline.ticks(hv) if t < t_gone]
        if old and t_gone >= old[-1] + 2.0 - STAMP:
            runner.step_too_late('the dialog was seen gone %.2f s after the last tick before it' % (t_gone - old[-1]))
        ticks = self.timeline.wait_ticks(hv, 4, after=t_gone)
        self.assertTrue(ticks, 'the new interval does not chime')
        assert_not_before(self, ticks[0], t_ok + 4.0, 'the old count went on after OK')
        self.assertLess(ticks[0], t_gone + 4.0 + LATE, 'no chime about 4 s after OK')
        assert_period(self, ticks, 4.0, gaps=3)
        heard = [s for s in self.timeline.heard(t_gone) if s.pitch]
        self.assertTrue(heard and all(near(s.pitch, 660, 40 / 660) for s in heard), self.timeline.heard(t_gone))
        self.assertRegistry(4000, windows_path(a))

    def test_ok_while_paused_stays_paused_and_silent(self):
        a = self.tone('a.wav', 660, 0.2)
        hv = self.start(wait_ms=2000, sound=windows_path(a), traced=True)
        mark = self.timeline.mark(hv)
        hv.command(IDM_PAUSE)
        self.assertEqual(desktop.wait_tray(self.rig, 'paused')[0], 'paused')
        t_paused = time.monotonic()     # the pause was handled before its look showed
        dlg = open_settings(hv)
        dlg.set_text(IDC_SECONDS, '1')
        dlg.close_by(IDOK)
        time.sleep(WATCH)
        self.assertEqual(desktop.find_tray_icon(desktop.Shot(self.rig))[0], 'paused')
        self.assertRegistry(1000, windows_path(a))
        # Nothing played from the pause to the resume: the pause's stop and close were the last commands traced
        # (ticks may come before it), and nothing heard (the positives: the same trace and recording after Resume).
        t_resume = time.monotonic()
        assert_commands(self, hv.calls()[mark:], [TICKS, STOP], 'a play while paused')
        self.assertEqual(self.timeline.heard(t_paused, t_resume), [], 'heard while paused')
        # Resume arms the new 1 s interval: the first chime one second after the command, sooner than the old 2 s
        # could make it, then every second.
        hv.command(IDM_RESUME)
        ticks = self.timeline.wait_ticks(hv, 5, after=t_paused)
        self.assertTrue(ticks, 'the new interval does not chime after Resume')
        assert_not_before(self, ticks[0], t_resume + 1.0, 'played while paused, or too soon after Resume')
        self.assertLess(ticks[0], t_resume + 2.0 - STAMP, 'the first chime came at the old interval')
        assert_period(self, ticks, 1.0)
        self.assertTrue(self.timeline.heard(t_resume), 'no chime heard after Resume')


if __name__ == '__main__':
    runner.main()
