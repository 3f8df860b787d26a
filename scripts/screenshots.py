#!/usr/bin/env python3
"""Takes the README's pictures from the real program under Wine, each cropped, into --out (docs/img):
tray-running.png, tray-paused.png and menu.png, then the settings dialog, a warning box and the file chooser
(dialog.png, warning.png, chooser.png). Uses a rig of its own (BUILD/shots-rig) and brings it down at the end.
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


def snap(rig, path, rect, scale=1, shot=None):
    """A rect of a screenshot (of shot, else one once the rect holds still) to a PNG, enlarged without smoothing."""
    left, top, right, bottom = rect
    subprocess.check_call(['convert', (shot or desktop.still_shot(rig, rect)).path, '-crop', '%dx%d+%d+%d' % (
        right - left, bottom - top, left, top), '+repage', '-filter', 'point', '-resize', '%d%%' % (scale * 100), path])
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
    for look, command in (('running', IDM_PAUSE), ('paused', IDM_RESUME)):
        shown, centre, shot = desktop.wait_tray(rig, look, 15)
        if shown != look:
            raise SystemExit('the %s icon did not show (%s)' % (look, shot))
        cx, cy = centre     # the icon and a little of its neighbourhood
        snap(rig, os.path.join(out, 'tray-%s.png' % look), (cx - 70, cy - 14, cx + 10, cy + 10), SCALE)
        hv.command(command)
    desktop.wait_tray(rig, 'running', 15)
    # The menu as a user opens it, by a real right click on the icon, and as it read its items: the pointer off both,
    # no tooltip, no highlight; the icon below it.
    menu = desktop.open_tray_menu(rig)
    left, top, right, _ = menu.rect
    snap(rig, os.path.join(out, 'menu.png'), (max(0, left - 10), max(0, top - 10),
                                              min(menu.shot.w, max(right, cx + 10)), min(menu.shot.h, cy + 12)),
         SCALE, menu.shot)
    menu.key('Escape')
    desktop.wait_until(lambda: not desktop.top_windows(rig, cls=desktop.MENU_CLASS, visible=True), 10)
    if hv.exit(30) is None:
        raise SystemExit('Halvory did not exit')


def dialog(rig, out):
    # A folder a user might have, so the pictures show C:\Sounds, not the rig.
    folder = os.path.join(rig.env['WINEPREFIX'], 'drive_c', 'Sounds')
    os.makedirs(folder, exist_ok=True)
    audio.make_tone(os.path.join(folder, 'chime.wav'), 660, 0.3)
    audio.make_tone(os.path.join(folder, 'bell.wav'), 880, 0.3)
    open(os.path.join(folder, 'readme.txt'), 'w').close()
    hv = rig.start_halvory(5400000, 'C:\\Sounds\\chime.wav', cwd=folder)
    desktop.open_tray_menu(rig).choose(IDM_SETTINGS)    # opened as a user opens it: from the tray menu
    dlg = desktop.wait_dialog(rig)
    desktop.xdotool(rig, 'mousemove', 5, 5)     # no hover highlight in the picture
    snap(rig, os.path.join(out, 'dialog.png'), dlg.info()['rect'])
    dlg.set_text(IDC_MINUTES, '75')
    # OK with 75 minutes brings a warning box; then the file chooser.
    for command, name, closer in ((IDOK, 'warning.png', IDOK), (IDC_BROWSE, 'chooser.png', IDCANCEL)):
        dlg.command(command)
        box = dlg.wait_box()
        snap(rig, os.path.join(out, name), box.info()['rect'])
        box.close_by(closer)
    dlg.close_by(IDCANCEL)
    if hv.close() is None:
        raise SystemExit('Halvory did not close')


if __name__ == '__main__':
    main()
