"""Helpers for the resident chime's end-to-end tests: the tray menu as seen
on screen, clicks on its items, and sound spans taken from a Recorder."""
import time

import harness

# Pixels of the menu as Wine draws it in the rig: white background, black
# text for enabled items, mid grey (128) for grayed ones.
MENU_SEARCH_WIDTH = 80      # columns left of the cursor searched for the menu
PAUSE_ROWS = (0, 19)        # item rows, from the menu's top edge
RESUME_ROWS = (20, 38)
EXIT_ROW = 86               # middle of the exit item's text, from the top edge


def menu_top(png):
    """The y of the menu's top edge above the tray icon, or None when no
    menu is open: the first row left of the cursor that is mostly white."""
    cx, cy = harness.TRAY_ICON_CENTRE
    x0 = cx - MENU_SEARCH_WIDTH
    rows = {}
    for _, y, (r, g, b) in harness.pixels(png, x0, cy - 200, MENU_SEARCH_WIDTH - 5, 170):
        if min(r, g, b) >= 245:
            rows[y] = rows.get(y, 0) + 1
    for y in sorted(rows):
        if rows[y] >= (MENU_SEARCH_WIDTH - 5) * 3 // 4:
            return y - 1
    return None


def item_ink(png, top, rows):
    """(black, grey) text pixels in one item's rows."""
    cx, _ = harness.TRAY_ICON_CENTRE
    black = grey = 0
    for _, _, (r, g, b) in harness.pixels(png, cx - MENU_SEARCH_WIDTH, top + rows[0], MENU_SEARCH_WIDTH - 5,
                                   rows[1] - rows[0]):
        if max(r, g, b) <= 60:
            black += 1
        elif 96 <= min(r, g, b) and max(r, g, b) <= 160 and max(r, g, b) - min(r, g, b) <= 12:
            grey += 1
    return black, grey


def menu_state(png):
    """{'top': y, 'pause': (black, grey), 'resume': (black, grey)}, or None."""
    top = menu_top(png)
    if top is None:
        return None
    return {'top': top, 'pause': item_ink(png, top, PAUSE_ROWS),
            'resume': item_ink(png, top, RESUME_ROWS)}


def enabled(ink):
    black, grey = ink
    return black >= 30 and grey <= 5


def grayed(ink):
    black, grey = ink
    return grey >= 30 and black <= 5


def open_tray_menu_on_screen(rig, timeout=8.0):
    """Right-clicks the tray icon with the real mouse and waits until the
    menu shows on screen; returns (screenshot, state)."""
    harness.right_click_tray_icon(rig)
    deadline = time.monotonic() + timeout
    while True:
        time.sleep(0.3)
        shot = rig.screenshot()
        state = menu_state(shot)
        if state or time.monotonic() > deadline:
            return shot, state


def click_menu_row(rig, top, row):
    """Left-clicks a row of the open menu, measured from its top edge."""
    cx, _ = harness.TRAY_ICON_CENTRE
    rig.xdotool('mousemove', cx - 50, top + row)
    time.sleep(0.15)
    rig.xdotool('click', 1)
    return time.monotonic()


def choose_pause(rig, top):
    return click_menu_row(rig, top, (PAUSE_ROWS[0] + PAUSE_ROWS[1]) // 2)


def choose_resume(rig, top):
    return click_menu_row(rig, top, (RESUME_ROWS[0] + RESUME_ROWS[1]) // 2)


def choose_exit(rig, top):
    return click_menu_row(rig, top, EXIT_ROW)


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
