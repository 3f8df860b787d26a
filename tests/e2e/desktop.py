"""The desktop as a user meets it: top-level windows, screenshots, the real mouse and keys, the tray icon found by
its picture wherever the desktop shows it, the tray menu read from the screen, and the program's dialogs."""
import collections
import os
import subprocess
import sys
import time

import resources
from resources import DIALOG_CAPTION, IDM_SETTINGS
from rig import SETTLE, SHORT

sys.path.insert(0, os.path.join(resources.RES, 'art'))
import make_art  # noqa: E402

DIALOG_CLASS, MENU_CLASS = '#32770', '#32768'
Window = collections.namedtuple('Window', 'hwnd pid owner visible cls title')


def _window(line):
    head, _, title = line.partition(' title=')
    head, _, cls = head.partition(' class=')
    f = dict(part.split('=', 1) for part in head.split())
    return Window(int(f['hwnd'], 16), int(f['pid']), int(f['owner'], 16), f['visible'] == '1', cls, title)


def top_windows(rig, cls=None, title=None, pid=None, visible=None, owner=None):
    """The desktop's top-level windows, filtered where a filter is given."""
    found = [_window(line) for line in rig.driver('windows').splitlines()]
    return [w for w in found if (cls is None or w.cls == cls) and (title is None or w.title == title)
            and (pid is None or w.pid == pid) and (visible is None or w.visible == visible)
            and (owner is None or w.owner == owner)]


def wait_window(rig, cls='-', title='-', owner='-', timeout=SHORT):
    """A visible top-level window, once one shows, or None (waited for inside Wine)."""
    out = rig.driver('wait', cls, title, hex(owner) if owner != '-' else owner, 1, int(timeout * 1000), check=False)
    return _window(out) if out else None


def _info(line):
    f = dict(part.partition('=')[::2] for part in line.split())
    return {'hwnd': int(f['hwnd'], 16), 'class': f['class'], 'id': int(f['id']) & 0xFFFF,
            'style': int(f['style'], 16), 'exstyle': int(f['exstyle'], 16), 'enabled': f['enabled'] == '1',
            'visible': f['visible'] == '1', 'rect': tuple(int(v) for v in f['rect'].split(','))}


def info(rig, hwnd):
    """A window's class, id, styles, state and rect, or None once it is gone."""
    out = rig.driver('info', hex(hwnd), check=False)
    return _info(out) if out else None


# -- the screen and real input ---------------------------------------------------------
class Shot:
    """A screenshot: its RGB bytes, and a PNG of it on disk when one is asked for."""

    def __init__(self, rig):
        self.rig = rig
        ppm = subprocess.check_output(['import', '-display', rig.display, '-window', 'root', '-depth', '8', 'ppm:-'],
                                      env=rig.env, stderr=subprocess.DEVNULL)
        self.w, self.h = (int(v) for v in ppm.split(maxsplit=3)[1:3])
        self.rgb = ppm[len(ppm) - self.w * self.h * 3:]      # the pixels end the file
        self._path = None

    @property
    def path(self):
        if not self._path:
            self._path = os.path.join(self.rig.tmp, 'shot%.3f.png' % time.monotonic())
            ppm = b'P6\n%d %d\n255\n' % (self.w, self.h) + self.rgb
            subprocess.run(['convert', 'ppm:-', self._path], input=ppm, check=True)
        return self._path

    def __str__(self):
        return self.path

    def pixels(self, x, y, w, h):
        """(x, y, (r, g, b)) of every pixel in a region."""
        for py in range(max(0, y), min(self.h, y + h)):
            row = self.rgb[(py * self.w + x) * 3:(py * self.w + x + w) * 3]
            for i in range(0, len(row), 3):
                yield x + i // 3, py, tuple(row[i:i + 3])


def still_shot(rig, rect):
    """A screenshot once the picture inside a rect holds still."""
    x0, y0, x1, y1 = rect
    shots = [Shot(rig)]
    region = lambda shot: [shot.rgb[(y * shot.w + x0) * 3:(y * shot.w + x1) * 3] for y in range(y0, y1)]  # noqa: E731
    wait_until(lambda: shots.append(Shot(rig)) or region(shots[-1]) == region(shots[-2]), SHORT)
    return shots[-1]


def xdotool(rig, *args):
    subprocess.check_call(['xdotool'] + [str(a) for a in args], env=rig.env)


def wait_until(predicate, timeout, step=0.25):
    """Tries until predicate() is true or timeout seconds have passed; returns its last value."""
    deadline, value = time.monotonic() + timeout, predicate()
    while not value and time.monotonic() < deadline:
        time.sleep(step)
        value = predicate()
    return value


# -- the tray -----------------------------------------------------------------------
def _icon_rows(light_on_dark):
    """The 16 rows of a look's 16x16 icon as the screen shows it, drawn by the program's own art script (16 colours,
    fully opaque, so the screen shows exactly these pixels whatever is behind them)."""
    return [b''.join(bytes(make_art.PALETTE[make_art.shade(c, light_on_dark)]) for c in row)
            for row in make_art.coverage(16)]


LOOKS = {'running': _icon_rows(True), 'paused': _icon_rows(False)}


def find_tray_icon(shot):
    """(look: 'running' or 'paused', (x, y) of its centre) of Halvory's icon found by its picture, or ('none', None)."""
    w, h, data = shot.w, shot.h, shot.rgb
    for look, rows in LOOKS.items():
        # Looked for by its most varied row, then checked whole.
        key = max(range(16), key=lambda r: len({rows[r][i:i + 3] for i in range(0, 48, 3)}))
        at = data.find(rows[key])
        while at >= 0:
            x, y = at // 3 % w, at // 3 // w - key
            if (at % 3 == 0 and x + 16 <= w and 0 <= y <= h - 16 and
                    all(data[((y + r) * w + x) * 3:((y + r) * w + x + 16) * 3] == rows[r] for r in range(16))):
                return look, (x + 8, y + 8)
            at = data.find(rows[key], at + 1)
    return 'none', None


def wait_tray(rig, want=None, timeout=SHORT):
    """(look, centre, screenshot) once the tray shows the wanted look (None: either), or of the last screenshot."""
    last = {}

    def shown():
        last['shot'] = Shot(rig)
        last['look'], last['centre'] = find_tray_icon(last['shot'])
        return last['look'] == want if want else last['centre']
    wait_until(shown, timeout)
    return last['look'], last['centre'], last['shot']


class Menu:
    """An open tray menu as the screen shows it: its rect and its text items, top to bottom, each [top, bottom, black
    (enabled) and grey (grayed) text pixels]. Items are found by the rows that hold text, so no item height, font
    or position of one Wine is assumed; a separator, a line of a row or two, is left out."""

    def __init__(self, rig, rect):
        self.rig, self.rect = rig, rect
        x0, y0, x1, y1 = rect
        # The pointer off the icon and off the menu (on the side that has room),
        # so that neither the icon's tooltip nor an item's highlight covers text.
        xdotool(rig, 'mousemove', x0 - 40 if x0 >= 60 else x1 + 40, (y0 + y1) // 2)
        wait_until(lambda: not top_windows(rig, cls='tooltips_class32', visible=True), SHORT)
        self.shot = still_shot(rig, rect)     # a highlight fades out as the pointer leaves
        rows = {}
        for _, y, (r, g, b) in self.shot.pixels(x0 + 3, y0 + 3, x1 - x0 - 6, y1 - y0 - 6):
            ink = rows.setdefault(y, [0, 0])
            if max(r, g, b) <= 60:
                ink[0] += 1
            elif 96 <= min(r, g, b) and max(r, g, b) <= 160 and max(r, g, b) - min(r, g, b) <= 12:
                ink[1] += 1
        self.items, band = [], []
        for y in sorted(rows) + [None]:
            if y is not None and sum(rows[y]):
                band.append(y)
                continue
            if len(band) >= 4:
                self.items.append((band[0], band[-1], sum(rows[b][0] for b in band), sum(rows[b][1] for b in band)))
            band = []

    def item(self, command):
        """The item of a menu command of Halvory's."""
        return self.items[[c for _, c in resources.MENU].index(command)]

    def enabled(self, command):
        _, _, black, grey = self.item(command)
        return black >= 20 and grey * 4 <= black

    def grayed(self, command):
        _, _, black, grey = self.item(command)
        return grey >= 20 and black * 4 <= grey

    def choose(self, command):
        """Left-clicks an item; returns the instant just before the click."""
        top, bottom, _, _ = self.item(command)
        xdotool(self.rig, 'mousemove', (self.rect[0] + self.rect[2]) // 2, (top + bottom) // 2)
        time.sleep(SETTLE)
        clicked = time.monotonic()
        xdotool(self.rig, 'click', 1)
        return clicked

    def key(self, key):
        """Types a key into the menu (keys go to the window under the pointer)."""
        xdotool(self.rig, 'mousemove', (self.rect[0] + self.rect[2]) // 2, self.rect[1] + 4)
        time.sleep(SETTLE)
        xdotool(self.rig, 'key', key)

    def __repr__(self):
        return 'menu at %s, items %s (%s)' % (self.rect, self.items, self.shot)


def right_click_tray_icon(rig):
    """A real right-click on the tray icon, after a fresh move onto it (the pointer leaves first)."""
    look, centre, shot = wait_tray(rig)
    if not centre:
        raise AssertionError('no tray icon of ours on the screen (%s)' % shot)
    xdotool(rig, 'mousemove', centre[0] - 200, centre[1] - 200)
    time.sleep(SETTLE)
    xdotool(rig, 'mousemove', centre[0], centre[1], 'click', 3)
    return centre


def open_tray_menu(rig, items=len(resources.MENU)):
    """Right-clicks the tray icon and reads its menu from the screen."""
    right_click_tray_icon(rig)
    menu = wait_window(rig, cls=MENU_CLASS)
    if not menu:
        raise AssertionError('the tray menu did not open')
    menu = Menu(rig, info(rig, menu.hwnd)['rect'])
    if len(menu.items) != items:
        raise AssertionError('the tray menu did not show its %d items: %r' % (items, menu))
    return menu


# -- dialogs ------------------------------------------------------------------------
def centre(rect):
    return ((rect[0] + rect[2]) // 2, (rect[1] + rect[3]) // 2)


def parse_text(out):
    """The text of the driver's text output: its code page 932 bytes, decoded."""
    return b''.join(bytes.fromhex(line[len('text hex='):]) for line in out.splitlines()
                    if line.startswith('text hex=')).decode('cp932')


class Dialog:
    """A top-level dialog window of the program under test."""

    def __init__(self, rig, hwnd):
        self.rig, self.hwnd = rig, hwnd

    def children(self):
        return [_info(line) for line in self.rig.driver('children', hex(self.hwnd)).splitlines()]

    def child(self, control_id):
        for c in self.children():
            if c['id'] == control_id:
                return c
        raise AssertionError('no control %d' % control_id)

    def info(self):
        return info(self.rig, self.hwnd)

    def text(self, control_id=None):
        return parse_text(self.rig.driver('text', hex(self.hwnd), *([] if control_id is None else [control_id])))

    def set_text(self, control_id, text, wide=False):
        """wide: in the control's Unicode form, for a text code page 932 lacks."""
        if wide:
            return self.rig.driver('settextw', hex(self.hwnd), control_id, text.encode('utf-16-le').hex())
        data = text if isinstance(text, bytes) else text.encode('cp932')
        self.rig.driver('settext', hex(self.hwnd), control_id, data.hex())

    def send(self, control_id, msg, wparam=0, lparam=0):
        return int(self.rig.driver('send', hex(self.child(control_id)['hwnd']), msg, wparam, lparam))

    def send_buffer(self, control_id, msg, wparam, size):
        """(result, bytes) of a message that fills a record in the dialog's process."""
        result, data = self.rig.driver('sendbuf', hex(self.child(control_id)['hwnd']), msg, wparam, size).split()
        return int(result), bytes.fromhex(data)

    def send_for_text(self, control_id, msg, wparam):
        """The text a message such as CB_GETLBTEXT fills in."""
        return parse_text(self.rig.driver('sendtext', hex(self.child(control_id)['hwnd']), msg, wparam))

    def enabled(self, control_id):
        return self.child(control_id)['enabled']

    def focus_id(self):
        return int(self.rig.driver('focus', hex(self.hwnd)).split()[0].split('=')[1]) & 0xFFFF

    def command(self, control_id):
        """Posts a button's command (a modal box may follow, so never sent)."""
        self.rig.post(self.hwnd, 0x0111, control_id, 0)

    def close_by(self, control_id):
        """Posts a button's command that closes it, and waits until it is gone."""
        self.command(control_id)
        self.wait_gone()

    def click(self, control_id, button=1):
        """A real click in the middle of a control."""
        xdotool(self.rig, 'mousemove', *centre(self.child(control_id)['rect']), 'click', button)

    def focus(self, control_id):
        """Clicks a control and waits until it has the focus (a click comes in its own time); returns the focus's."""
        self.click(control_id)
        wait_until(lambda: self.focus_id() == control_id, SHORT)
        return self.focus_id()

    def alive(self):
        return self.info() is not None

    def wait_gone(self, timeout=SHORT):
        self.rig.driver('gone', hex(self.hwnd), int(timeout * 1000))

    def boxes(self):
        """The dialogs it owns (message boxes, the chooser)."""
        return [Dialog(self.rig, w.hwnd) for w in top_windows(self.rig, cls=DIALOG_CLASS, visible=True,
                                                               owner=self.hwnd)]

    def wait_box(self, timeout=SHORT):
        box = wait_window(self.rig, cls=DIALOG_CLASS, owner=self.hwnd, timeout=timeout)
        if not box:
            raise AssertionError('no box owned by %#x came' % self.hwnd)
        return Dialog(self.rig, box.hwnd)


def wait_dialog(rig, title=DIALOG_CAPTION, timeout=SHORT):
    """A visible dialog of this title once it has its first focus (a click before that loses to it), or an assertion."""
    found = wait_window(rig, cls=DIALOG_CLASS, title=title, timeout=timeout)
    if not found:
        raise AssertionError('no window %r came' % title)
    dlg = Dialog(rig, found.hwnd)
    wait_until(dlg.focus_id, SHORT)
    return dlg


def open_settings(halvory):
    """The settings dialog, opened by the tray menu's command posted to the window."""
    halvory.command(IDM_SETTINGS)
    return wait_dialog(halvory.rig)


def glyph_rows(shot, rect):
    """Black pixels in each row of the 12x12 picture centred on a button (a pressed-looking or focused button may
    shift it by a pixel: a 14x14 window is read)."""
    cx, cy = centre(rect)
    rows = [0] * 14
    for _, y, (r, g, b) in shot.pixels(cx - 7, cy - 7, 14, 14):
        if max(r, g, b) <= 40:
            rows[y - (cy - 7)] += 1
    return [n for n in rows if n]
