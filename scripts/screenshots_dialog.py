#!/usr/bin/env python3
"""Takes the pictures of the settings dialog, a warning box and the file
chooser for docs/img/, from the real halvory.exe under Wine in a rig of its
own, each cropped to its window.

usage: scripts/screenshots.py [BUILD]     (default build; run after make build)
"""
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, 'tests', 'e2e'))
import harness  # noqa: E402
import dialoglib as D  # noqa: E402


def crop(rig, dlg, path):
    left, top, right, bottom = dlg.info()['rect']
    shot = rig.screenshot()
    subprocess.check_call(['convert', shot, '-crop', '%dx%d+%d+%d' % (right - left, bottom - top, left, top),
                           '+repage', path])
    print(path)


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, 'build'))
    tree = os.path.join(build, 'x86_64')
    rig_dir = os.path.join(tree, 'rig-shots')
    out = os.path.join(ROOT, 'docs', 'img')
    os.makedirs(out, exist_ok=True)
    env = dict(os.environ, RIG_GOLDEN=os.environ.get('RIG_GOLDEN', os.path.join(build, 'wine-golden')))
    rig_sh = os.path.join(ROOT, 'scripts', 'rig.sh')
    subprocess.check_call([rig_sh, 'up', rig_dir], env=env)
    rig = None
    try:
        rig = harness.Rig(tree, rig_dir)
        # A folder a user might have, so the pictures show C:\Sounds, not the rig.
        folder = os.path.join(rig.env['WINEPREFIX'], 'drive_c', 'Sounds')
        os.makedirs(folder, exist_ok=True)
        harness.make_tone(os.path.join(folder, 'chime.wav'), 660, 0.3)
        harness.make_tone(os.path.join(folder, 'bell.wav'), 880, 0.3)
        open(os.path.join(folder, 'readme.txt'), 'w').close()
        proc, main_hwnd = harness.start_clean(rig, 5400000, 'C:\\Sounds\\chime.wav', cwd=folder)
        dlg, _ = D.open_settings_from_tray_menu(rig)
        rig.xdotool('mousemove', 5, 5)     # no hover highlight in the picture
        time.sleep(0.5)
        crop(rig, dlg, os.path.join(out, 'dialog.png'))

        dlg.set_text(D.IDC_MINUTES, '75')
        dlg.command(D.IDOK)
        box = D.wait_owned_box(rig, dlg.hwnd)
        time.sleep(0.5)
        crop(rig, box, os.path.join(out, 'warning.png'))
        box.command(D.IDOK)
        box.wait_gone()

        dlg.command(D.IDC_BROWSE)
        chooser = D.wait_owned_box(rig, dlg.hwnd)
        time.sleep(1.0)
        crop(rig, chooser, os.path.join(out, 'chooser.png'))
        chooser.command(D.IDCANCEL)
        chooser.wait_gone()
        dlg.command(D.IDCANCEL)
        dlg.wait_gone()
        D.stop(rig, proc, main_hwnd)
    finally:
        if rig:
            rig.kill_all()
        subprocess.call([rig_sh, 'down', rig_dir], env=env)


if __name__ == '__main__':
    main()
