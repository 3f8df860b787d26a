"""Helpers for driving Halvory's settings dialog, its file chooser and its
warning boxes from the end-to-end tests (and the screenshot script)."""
import os
import time

import harness

DIALOG_CLASS = '#32770'
SETTINGS_CAPTION = 'Halvoryの設定'
CHOOSER_TITLE = '音声ファイルを選んでください'

IDOK, IDCANCEL = 1, 2
IDC_SOUNDFILE, IDC_BROWSE = 200, 201
IDC_HOURS, IDC_HOURS_SPIN = 202, 203
IDC_MINUTES, IDC_MINUTES_SPIN = 204, 205
IDC_SECONDS, IDC_SECONDS_SPIN = 206, 207
IDC_PLAY, IDC_STOP = 208, 209
IDC_STATIC = 0xFFFF

# Controls of the open-file dialog (the platform's ids).
CHOOSER_FILENAME = 0x47C    # cmb13
CHOOSER_FILETYPE = 0x470    # cmb1

WM_USER = 0x0400
EM_GETLIMITTEXT = 0x00D5
UDM_GETRANGE = WM_USER + 102
UDM_GETACCEL = WM_USER + 108
CB_GETCOUNT = 0x0146
CB_GETLBTEXT = 0x0148

MINUTES_MESSAGE = '0から59までの整数を入力してください。'
HOURS_MESSAGE = '0から999までの整数を入力してください。'
PATH_MESSAGE = '音声ファイルの指定が無効です。'


def parse_info(line):
    """One line of the driver's info/children output as a dict."""
    fields = {}
    for part in line.split():
        name, _, value = part.partition('=')
        fields[name] = value
    return {
        'hwnd': int(fields['hwnd'], 16),
        'class': fields['class'],
        'id': int(fields['id']) & 0xFFFF,
        'style': int(fields['style'], 16),
        'exstyle': int(fields['exstyle'], 16),
        'enabled': fields['enabled'] == '1',
        'visible': fields['visible'] == '1',
        'rect': tuple(int(v) for v in fields['rect'].split(',')),
    }


def parse_text(out):
    """(utf8 text, cp932 bytes) from the driver's text output."""
    text, raw = '', b''
    for line in out.splitlines():
        if line.startswith('text utf8='):
            text = line[len('text utf8='):]
        elif line.startswith('text hex='):
            raw = bytes.fromhex(line[len('text hex='):])
    return raw.decode('cp932'), raw


def centre(rect):
    return ((rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2)


class Dialog:
    """One top-level dialog window of the program under test."""

    def __init__(self, rig, hwnd):
        self.rig = rig
        self.hwnd = hwnd

    def children(self):
        return [parse_info(line) for line in self.rig.driver('children', hex(self.hwnd)).splitlines()]

    def child(self, control_id):
        for c in self.children():
            if c['id'] == control_id:
                return c
        raise AssertionError('no control %d' % control_id)

    def info(self):
        return parse_info(self.rig.driver('info', hex(self.hwnd)))

    def text(self, control_id=None):
        args = ['text', hex(self.hwnd)] + ([control_id] if control_id is not None else [])
        return parse_text(self.rig.driver(*args))[0]

    def raw_text(self, control_id):
        return parse_text(self.rig.driver('text', hex(self.hwnd), control_id))[1]

    def set_text(self, control_id, text):
        data = text if isinstance(text, bytes) else text.encode('cp932')
        self.rig.driver('settext', hex(self.hwnd), control_id, data.hex())

    def send(self, control_id, msg, wparam=0, lparam=0):
        return int(self.rig.driver('send', hex(self.child(control_id)['hwnd']), msg, wparam, lparam))

    def send_buffer(self, control_id, msg, wparam, size):
        """(result, bytes) of a message that fills a record in the dialog's process."""
        out = self.rig.driver('sendbuf', hex(self.child(control_id)['hwnd']), msg, wparam, size)
        result, data = out.split()
        return int(result), bytes.fromhex(data)

    def send_for_text(self, control_id, msg, wparam):
        """The text a message such as CB_GETLBTEXT fills in."""
        return parse_text(self.rig.driver('sendtext', hex(self.child(control_id)['hwnd']), msg, wparam))[0]

    def enabled(self, control_id):
        return self.child(control_id)['enabled']

    def focus_id(self):
        out = self.rig.driver('focus', hex(self.hwnd))
        return int(out.split()[0].split('=')[1]) & 0xFFFF

    def command(self, control_id):
        """Posts the button's command (a modal box may follow, so never sent)."""
        self.rig.post(self.hwnd, harness.WM_COMMAND, control_id, 0)

    def click(self, control_id, button=1):
        """A real click in the middle of a control."""
        x, y = centre(self.child(control_id)['rect'])
        self.rig.xdotool('mousemove', x, y, 'click', button)

    def alive(self):
        return self.rig.driver('info', hex(self.hwnd), check=False) != ''

    def wait_gone(self, timeout_ms=8000):
        self.rig.driver('gone', hex(self.hwnd), timeout_ms)


def top_windows(rig, cls=DIALOG_CLASS, title='-'):
    """[(hwnd, owner, title)] of the matching top-level windows."""
    result = []
    for line in rig.driver('windows', cls, title).splitlines():
        head, _, name = line.partition(' title=')
        fields = dict(part.split('=', 1) for part in head.split())
        if fields.get('visible') == '1':
            result.append((int(fields['hwnd'], 16), int(fields['owner'], 16), name))
    return result


def wait_window(rig, title, owner=None, timeout=10.0, cls=DIALOG_CLASS):
    """A visible top-level window with this title (and owner), or an assertion."""
    deadline = time.monotonic() + timeout
    while True:
        for hwnd, own, name in top_windows(rig, cls):
            if (title is None or name == title) and (owner is None or own == owner):
                return Dialog(rig, hwnd)
        if time.monotonic() > deadline:
            raise AssertionError('no window %r (owner %r) came' % (title, owner))
        time.sleep(0.1)


def owned_boxes(rig, owner):
    """The dialogs owned by a window (message boxes, the chooser)."""
    return [Dialog(rig, h) for h, own, _ in top_windows(rig) if own == owner]


def wait_owned_box(rig, owner, timeout=8.0):
    deadline = time.monotonic() + timeout
    while True:
        boxes = owned_boxes(rig, owner)
        if boxes:
            return boxes[0]
        if time.monotonic() > deadline:
            raise AssertionError('no box owned by %#x came' % owner)
        time.sleep(0.1)


def open_settings_by_command(rig, main_hwnd):
    rig.command(main_hwnd, harness.IDM_SETTINGS)
    return wait_window(rig, SETTINGS_CAPTION)


def open_settings_from_tray_menu(rig, use_key=True):
    """Right-clicks the tray icon and chooses 設定(&C)... by its key or a click."""
    rig.xdotool('mousemove', *harness.TRAY_ICON_CENTRE)
    rig.xdotool('click', 3)
    menu = rig.driver('wait', '#32768', '-', 8000)
    rect = parse_info(rig.driver('info', menu))['rect']
    if use_key:
        # Keys go to the X window under the pointer: move onto the menu first.
        rig.xdotool('mousemove', (rect[0] + rect[2]) // 2, rect[1] + 6)
        time.sleep(0.2)
        rig.xdotool('key', 'c')
    else:
        # The settings item is the third of four items, after a separator:
        # click the middle of the menu's lower half, just above its centre line.
        rig.xdotool('mousemove', (rect[0] + rect[2]) // 2, rect[1] + (rect[3] - rect[1]) * 60 // 100,
                    'click', 1)
    return wait_window(rig, SETTINGS_CAPTION)


def start_clean(rig, cwd, wait_ms=None, sound=None):
    """Starts a fresh Halvory in cwd with the given stored settings (None: absent)."""
    rig.close_leftovers()
    rig.reg_clear()
    if wait_ms is not None:
        rig.reg_set_wait(wait_ms)
    if sound is not None:
        rig.reg_set_sound(sound)
    proc = rig.start_halvory(cwd=cwd)
    hwnd = rig.wait_main_window()
    if not hwnd:
        raise AssertionError('Halvory did not start')
    return proc, hwnd


def stop(rig, proc, hwnd, timeout=20):
    """Closes the instance as /u would and waits for its exit code."""
    if rig.driver('info', hex(hwnd), check=False):
        rig.post(hwnd, harness.WM_CLOSE)
    return proc.wait(timeout)


def glyph_counts(png, rect):
    """Black pixels in each row of the 12x12 picture centred on a button."""
    cx, cy = centre(rect)
    # A pressed-looking or focused button may shift the picture by a pixel:
    # take a 14x14 window and report dark pixels per row.
    x0, y0 = cx - 7, cy - 7
    import subprocess
    out = subprocess.check_output(['convert', png, '-crop', '14x14+%d+%d' % (x0, y0), '+repage',
                                   '-depth', '8', 'txt:-'], text=True)
    rows = [0] * 14
    for line in out.splitlines()[1:]:
        try:
            pos, rest = line.split(':', 1)
            x, y = (int(v) for v in pos.split(','))
            rgb = rest.split('(')[1].split(')')[0].split(',')[:3]
            r, g, b = (int(float(v)) for v in rgb)
        except (IndexError, ValueError):
            continue
        if max(r, g, b) <= 40:
            rows[y] += 1
    return [n for n in rows if n]


def win_path(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')
