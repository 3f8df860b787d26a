"""Helpers for driving Halvory's settings dialog, its file chooser and its
warning boxes from the end-to-end tests (and the screenshot script)."""
import time

import harness
import residentlib
from harness import parse_info

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


def parse_text(out):
    """(text, cp932 bytes) from the driver's text output: the bytes, decoded."""
    raw = b''
    for line in out.splitlines():
        if line.startswith('text hex='):
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


def wait_window(rig, title, owner=None, timeout=10.0, cls=DIALOG_CLASS):
    """A visible top-level window with this title (and owner), or an assertion."""
    found = harness.wait_for(lambda: [w for w in harness.top_windows(rig, cls=cls, title=title, visible=True)
                                      if owner is None or w.owner == owner], timeout)
    if not found:
        raise AssertionError('no window %r (owner %r) came' % (title, owner))
    return Dialog(rig, found[0].hwnd)


def owned_boxes(rig, owner):
    """The dialogs owned by a window (message boxes, the chooser)."""
    return [Dialog(rig, w.hwnd) for w in harness.top_windows(rig, cls=DIALOG_CLASS, visible=True)
            if w.owner == owner]


def wait_owned_box(rig, owner, timeout=8.0):
    boxes = harness.wait_for(lambda: owned_boxes(rig, owner), timeout)
    if not boxes:
        raise AssertionError('no box owned by %#x came' % owner)
    return boxes[0]


def open_settings_by_command(rig, main_hwnd):
    rig.command(main_hwnd, harness.IDM_SETTINGS)
    return wait_window(rig, SETTINGS_CAPTION)


def open_settings_from_tray_menu(rig, use_key=True):
    """Right-clicks the tray icon and chooses 設定(&C)... by its key or a click;
    returns (dialog, chosen by the key). A key the menu never takes (Wine 10
    gives the input focus to the taskbar that was clicked) is followed by a
    click, so that the dialog opens all the same."""
    shot, state = residentlib.open_tray_menu_on_screen(rig)
    if state is None:
        raise AssertionError('the tray menu did not show its items (%s)' % shot)
    if use_key:
        # Keys go to the X window under the pointer: onto the menu first.
        rect = state['rect']
        rig.xdotool('mousemove', (rect[0] + rect[2]) // 2, rect[1] + 4)
        time.sleep(0.2)
        rig.xdotool('key', 'c')
        came = harness.wait_for(lambda: harness.top_windows(rig, cls=DIALOG_CLASS, title=SETTINGS_CAPTION,
                                                            visible=True), 8)
        if came:
            return Dialog(rig, came[0].hwnd), True
    residentlib.choose(rig, state, 'settings')
    return wait_window(rig, SETTINGS_CAPTION), False


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
    rows = [0] * 14
    for _, y, (r, g, b) in harness.pixels(png, x0, y0, 14, 14):
        if max(r, g, b) <= 40:
            rows[y - y0] += 1
    return [n for n in rows if n]
