#!/usr/bin/env python3
"""Takes the README's pictures from the real program under Wine:
docs/img/tray-running.png, tray-paused.png and menu.png, cropped, and then
(through screenshots_dialog.py) the dialog, a warning box and the chooser.

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
import harness  # noqa: E402

SCALE = 3   # the tray is tiny at 1024x768; enlarged without smoothing


def crop(src, dst, x, y, w, h):
    subprocess.check_call(['convert', src, '-crop', '%dx%d+%d+%d' % (w, h, x, y), '+repage',
                           '-filter', 'point', '-resize', '%d%%' % (SCALE * 100), dst])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--build', default='build')
    parser.add_argument('--out', default=os.path.join(ROOT, 'docs', 'img'))
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    rig_dir = os.path.join(build, 'shots-rig')
    os.makedirs(args.out, exist_ok=True)
    subprocess.check_call([os.path.join(ROOT, 'scripts', 'rig.sh'), 'up', rig_dir])
    rig = harness.Rig(os.path.join(build, 'x86_64'), rig_dir)
    try:
        p, hwnd = harness.start_clean(rig, 3600000, cwd=rig.build)
        look, centre, _ = harness.wait_tray_icon(rig, 'running', 15)
        if look != 'running':
            raise SystemExit('the running icon did not show')
        cx, cy = centre
        # The icon and a little of its neighbourhood.
        area = (cx - 70, cy - 14, 80, 24)
        time.sleep(0.5)
        crop(rig.screenshot(), os.path.join(args.out, 'tray-running.png'), *area)

        rig.command(hwnd, harness.IDM_PAUSE)
        if harness.wait_tray_look(rig, 'paused', 15)[0] != 'paused':
            raise SystemExit('the paused icon did not show')
        time.sleep(0.5)
        crop(rig.screenshot(), os.path.join(args.out, 'tray-paused.png'), *area)
        rig.command(hwnd, harness.IDM_RESUME)
        harness.wait_tray_look(rig, 'running', 15)

        # The menu as a user opens it: a real right click on the icon.
        left, top, right, bottom = harness.open_tray_menu(rig, 10)
        # The pointer off the icon and off the menu: no tooltip, no highlight.
        rig.xdotool('mousemove', max(0, left - 40), top + 5)
        time.sleep(1.0)
        shot = rig.screenshot()
        # The menu with the icon below it.
        x0, y0 = max(0, left - 10), max(0, top - 10)
        crop(shot, os.path.join(args.out, 'menu.png'), x0, y0,
             min(1024, max(right, cx + 10)) - x0, min(768, cy + 12) - y0)
        rig.xdotool('key', 'Escape')
        time.sleep(0.5)
        rig.command(hwnd, harness.IDM_EXIT)
        p.wait(30)
        for name in ('tray-running.png', 'tray-paused.png', 'menu.png'):
            print(os.path.join(args.out, name))
    finally:
        rig.kill_all()
        subprocess.call([os.path.join(ROOT, 'scripts', 'rig.sh'), 'down', rig_dir])
    return subprocess.call([sys.executable, os.path.join(ROOT, 'scripts', 'screenshots_dialog.py'), build])


if __name__ == '__main__':
    sys.exit(main())
