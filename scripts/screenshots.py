#!/usr/bin/env python3
"""Takes the README's pictures from the real program under Wine:
docs/img/tray-running.png, tray-paused.png and menu.png, cropped, and then
(screenshots_dialog.py) the dialog, a warning box and the chooser.

    scripts/screenshots.py [--build build] [--out docs/img]

Uses a rig of its own (BUILD/shots-rig) and brings it down at the end.
"""
import argparse
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, 'tests', 'e2e'))
import desktop  # noqa: E402
import rig as rigs  # noqa: E402
from resources import IDM_PAUSE, IDM_RESUME  # noqa: E402

SCALE = 3   # the tray is tiny at 1024x768; enlarged without smoothing


def crop(shot, path, x, y, w, h, scale=1):
    """A region of a screenshot to a PNG, enlarged without smoothing."""
    subprocess.check_call(['convert', shot.path, '-crop', '%dx%d+%d+%d' % (w, h, x, y), '+repage',
                           '-filter', 'point', '-resize', '%d%%' % (scale * 100), path])
    print(path)


def run(*takes):
    """Runs each take(rig, out) in a rig of the pictures' own, with the build
    tree's exe, brought up first and down at the end."""
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--build', default='build')
    parser.add_argument('--out', default=os.path.join(ROOT, 'docs', 'img'))
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    build = os.path.abspath(args.build)
    rig_dir = os.path.join(build, 'shots-rig')
    # The golden prefix shared with the test rigs, as `make` has it.
    env = dict(os.environ, RIG_GOLDEN=os.environ.get('RIG_GOLDEN', os.path.join(build, 'wine-golden')))
    rig_sh = os.path.join(ROOT, 'scripts', 'rig.sh')
    subprocess.check_call([rig_sh, 'up', rig_dir], env=env)
    rig = None
    try:
        rig = rigs.Rig(os.path.join(build, 'x86_64'), rig_dir)
        for take in takes:
            take(rig, args.out)
    finally:
        if rig:
            rig.end_all()
        subprocess.call([rig_sh, 'down', rig_dir], env=env)


def tray(rig, out):
    hv = rig.start_halvory(3600000, cwd=rig.build)
    look, centre, shot = desktop.wait_tray(rig, 'running', 15)
    if look != 'running':
        raise SystemExit('the running icon did not show (%s)' % shot)
    cx, cy = centre
    # The icon and a little of its neighbourhood.
    area = (cx - 70, cy - 14, 80, 24)
    time.sleep(0.5)
    crop(desktop.Shot(rig), os.path.join(out, 'tray-running.png'), *area, SCALE)

    hv.command(IDM_PAUSE)
    if desktop.wait_tray(rig, 'paused', 15)[0] != 'paused':
        raise SystemExit('the paused icon did not show')
    time.sleep(0.5)
    crop(desktop.Shot(rig), os.path.join(out, 'tray-paused.png'), *area, SCALE)
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
    time.sleep(0.5)
    if hv.exit(30) is None:
        raise SystemExit('Halvory did not exit')


if __name__ == '__main__':
    import screenshots_dialog
    run(tray, screenshots_dialog.dialog)
