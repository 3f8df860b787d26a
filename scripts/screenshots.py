#!/usr/bin/env python3
"""Takes the README's pictures from the real program under Wine, each
cropped: docs/img/tray-running.png, tray-paused.png and menu.png, then the
settings dialog, a warning box and the file chooser (dialog.png,
warning.png, chooser.png).

    scripts/screenshots.py [--build build] [--out docs/img]

Uses a rig of its own (BUILD/shots-rig) and brings it down at the end.
"""
import argparse
import os
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, 'tests', 'e2e'))
import audio  # noqa: E402
import desktop  # noqa: E402
import rig as rigs  # noqa: E402
from resources import IDC_BROWSE, IDC_MINUTES, IDCANCEL, IDOK, IDM_PAUSE, IDM_RESUME, IDM_SETTINGS  # noqa: E402

SCALE = 3   # the tray is tiny at 1024x768; enlarged without smoothing


def crop(shot, path, x, y, w, h, scale=1):
    """A region of a screenshot to a PNG, enlarged without smoothing."""
    subprocess.check_call(['convert', shot.path, '-crop', '%dx%d+%d+%d' % (w, h, x, y), '+repage',
                           '-filter', 'point', '-resize', '%d%%' % (scale * 100), path])
    print(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--build', default='build')
    parser.add_argument('--out', default=os.path.join(ROOT, 'docs', 'img'))
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    rig = rigs.Rig(os.path.join(args.build, 'x86_64'), rigs.own_rig('up', args.build, 'shots-rig'))
    try:
        tray(rig, args.out)
        dialog(rig, args.out)
    finally:
        rig.end_all()
        rigs.own_rig('down', args.build, 'shots-rig')


def tray(rig, out):
    hv = rig.start_halvory(3600000, cwd=rig.build)
    look, centre, shot = desktop.wait_tray(rig, 'running', 15)
    if look != 'running':
        raise SystemExit('the running icon did not show (%s)' % shot)
    cx, cy = centre
    # The icon and a little of its neighbourhood.
    area = (cx - 70, cy - 14, 80, 24)
    crop(desktop.still_shot(rig, region(*area)), os.path.join(out, 'tray-running.png'), *area, SCALE)

    hv.command(IDM_PAUSE)
    if desktop.wait_tray(rig, 'paused', 15)[0] != 'paused':
        raise SystemExit('the paused icon did not show')
    crop(desktop.still_shot(rig, region(*area)), os.path.join(out, 'tray-paused.png'), *area, SCALE)
    hv.command(IDM_RESUME)
    desktop.wait_tray(rig, 'running', 15)

    # The menu as a user opens it, by a real right click on the icon, and
    # as it read its items: the pointer off both, no tooltip, no highlight.
    menu = desktop.open_tray_menu(rig)
    left, top, right, _ = menu.rect
    # The menu with the icon below it.
    x0, y0 = max(0, left - 10), max(0, top - 10)
    crop(menu.shot, os.path.join(out, 'menu.png'), x0, y0,
         min(menu.shot.w, max(right, cx + 10)) - x0, min(menu.shot.h, cy + 12) - y0, SCALE)
    menu.key('Escape')
    desktop.wait_until(lambda: not desktop.top_windows(rig, cls=desktop.MENU_CLASS, visible=True), 10)
    if hv.exit(30) is None:
        raise SystemExit('Halvory did not exit')


def region(x, y, w, h):
    return x, y, x + w, y + h


def crop_window(dlg, path):
    """A window once it has been drawn."""
    left, top, right, bottom = rect = dlg.info()['rect']
    crop(desktop.still_shot(dlg.rig, rect), path, left, top, right - left, bottom - top)


def dialog(rig, out):
    # A folder a user might have, so the pictures show C:\Sounds, not the rig.
    folder = os.path.join(rig.env['WINEPREFIX'], 'drive_c', 'Sounds')
    os.makedirs(folder, exist_ok=True)
    audio.make_tone(os.path.join(folder, 'chime.wav'), 660, 0.3)
    audio.make_tone(os.path.join(folder, 'bell.wav'), 880, 0.3)
    open(os.path.join(folder, 'readme.txt'), 'w').close()
    hv = rig.start_halvory(5400000, 'C:\\Sounds\\chime.wav', cwd=folder)
    # Opened as a user opens it: from the tray menu.
    desktop.open_tray_menu(rig).choose(IDM_SETTINGS)
    dlg = desktop.wait_dialog(rig)
    desktop.xdotool(rig, 'mousemove', 5, 5)     # no hover highlight in the picture
    crop_window(dlg, os.path.join(out, 'dialog.png'))

    dlg.set_text(IDC_MINUTES, '75')
    dlg.command(IDOK)
    box = dlg.wait_box()
    crop_window(box, os.path.join(out, 'warning.png'))
    box.close_by(IDOK)

    dlg.command(IDC_BROWSE)
    chooser = dlg.wait_box()
    crop_window(chooser, os.path.join(out, 'chooser.png'))
    chooser.close_by(IDCANCEL)
    dlg.close_by(IDCANCEL)
    if hv.close() is None:
        raise SystemExit('Halvory did not close')


if __name__ == '__main__':
    main()
