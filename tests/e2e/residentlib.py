"""Helpers for the resident chime's end-to-end tests: the tray menu as seen
on screen, clicks on its items, and sound spans taken from a Recorder."""
import os
import time

import harness

ITEMS = ('pause', 'resume', 'settings', 'exit')    # the menu's text items, top to bottom


def menu_items(png, rect):
    """The text items of an open menu, top to bottom: [(top, bottom, (black,
    grey))], with the count of black (enabled) and mid grey (grayed) text
    pixels. Found by the rows that hold text, so no item height, font or
    position of one Wine is assumed; a separator, a line of a row or two,
    is left out."""
    x0, y0, x1, y1 = rect
    rows = {}
    for _, y, (r, g, b) in harness.pixels(png, x0 + 3, y0 + 3, x1 - x0 - 6, y1 - y0 - 6):
        ink = rows.setdefault(y, [0, 0])
        if max(r, g, b) <= 60:
            ink[0] += 1
        elif 96 <= min(r, g, b) and max(r, g, b) <= 160 and max(r, g, b) - min(r, g, b) <= 12:
            ink[1] += 1
    items, band = [], []
    for y in sorted(rows) + [None]:
        if y is not None and sum(rows[y]):
            band.append(y)
            continue
        if len(band) >= 4:
            items.append((band[0], band[-1], (sum(rows[b][0] for b in band), sum(rows[b][1] for b in band))))
        band = []
    return items


def enabled(ink):
    black, grey = ink
    return black >= 20 and grey * 4 <= black


def grayed(ink):
    black, grey = ink
    return grey >= 20 and black * 4 <= grey


def open_tray_menu_on_screen(rig):
    """Right-clicks the tray icon with the real mouse and waits for its menu;
    returns (screenshot, state) with state {'rect', 'items', 'pause': ink,
    'resume': ink}, or (screenshot, None) when the menu did not show its
    four items."""
    rect = harness.open_tray_menu(rig)
    # The pointer off the icon and off the menu (on the side that has room),
    # so that neither the icon's tooltip nor an item's highlight covers text.
    x = rect[0] - 40 if rect[0] >= 60 else rect[2] + 40
    rig.xdotool('mousemove', x, (rect[1] + rect[3]) // 2)
    harness.wait_for(lambda: not harness.top_windows(rig, cls='tooltips_class32', visible=True), 5, 0.2)
    time.sleep(0.3)
    shot = rig.screenshot()
    items = menu_items(shot, rect)
    if len(items) != len(ITEMS):
        return shot, None
    state = {'rect': rect, 'items': items}
    state.update((name, item[2]) for name, item in zip(ITEMS, items))
    return shot, state


def choose(rig, state, name):
    """Left-clicks an item of the open menu; returns the instant just before
    the click, so that whatever it caused comes after it."""
    top, bottom, _ = state['items'][ITEMS.index(name)]
    rig.xdotool('mousemove', (state['rect'][0] + state['rect'][2]) // 2, (top + bottom) // 2)
    time.sleep(0.15)
    clicked = time.monotonic()
    rig.xdotool('click', 1)
    return clicked


def wait_recorded(rec, until_rec_time, timeout=30.0):
    """Waits until the recording covers the given time on its clock."""
    harness.wait_for(lambda: rec.now() >= until_rec_time, timeout, 0.05)


def wait_onset(rec, from_rec_time, timeout, threshold_dbfs=-30.0, merge_gap=0.03):
    """Waits until a sound starts after the given time on the recording (one
    already playing then does not count, as in Recorder.sounds); returns its
    start, or None."""
    limit = harness.loud_limit(threshold_dbfs)
    gap = int(merge_gap * harness.RATE)
    start = max(0, int(from_rec_time * harness.RATE))
    index = max(0, start - gap)         # a sound going on at the start shows here
    last_loud = None
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        end = len(rec.samples)
        for i in range(index, end):
            if abs(rec.samples[i]) > limit:
                if i >= start and (last_loud is None or i - last_loud > gap):
                    return i / harness.RATE
                last_loud = i
        index = max(index, end)
        time.sleep(0.05)
    return None


def spans_between(spans, t_from, t_to):
    """The sound spans that overlap [t_from, t_to]."""
    return [s for s in spans if s[1] >= t_from and s[0] <= t_to]


def run_to_end(rig, *args, timeout=30):
    """Starts halvory.exe with the arguments, waits for it to end; returns
    (exit code, seconds it took)."""
    start = time.monotonic()
    proc = rig.start_halvory(*args)
    rc = proc.wait(timeout)
    return rc, time.monotonic() - start


def start_line(rig, line):
    """Starts a command line as a batch file or a prompt hands it on: written
    to a batch file in code page 932 and run by cmd /c, which passes it to
    the program as written (a line given to cmd /c directly would be quoted
    again by Wine on the way)."""
    bat = os.path.join(rig.tmp, 'line%d.bat' % len(rig.procs))
    with open(bat, 'wb') as f:
        f.write(b'@' + line.encode('cp932') + b'\r\n')
    return rig.spawn([rig.wine, 'cmd', '/c', harness.windows_path(bat)])
