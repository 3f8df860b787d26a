#!/usr/bin/env python3
"""Takes the pictures of the settings dialog, a warning box and the file
chooser for docs/img/, from the real halvory.exe under Wine, each cropped to
its window. screenshots.py takes them after the tray's; alone:

    scripts/screenshots_dialog.py [--build build] [--out docs/img]
"""
import os
import time

import screenshots      # puts tests/e2e on the path
import audio  # noqa: E402
import desktop  # noqa: E402
from resources import IDC_BROWSE, IDC_MINUTES, IDCANCEL, IDOK, IDM_SETTINGS  # noqa: E402


def crop(dlg, path):
    left, top, right, bottom = dlg.info()['rect']
    screenshots.crop(desktop.Shot(dlg.rig), path, left, top, right - left, bottom - top)


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
    time.sleep(0.5)
    crop(dlg, os.path.join(out, 'dialog.png'))

    dlg.set_text(IDC_MINUTES, '75')
    dlg.command(IDOK)
    box = dlg.wait_box()
    time.sleep(0.5)
    crop(box, os.path.join(out, 'warning.png'))
    box.command(IDOK)
    box.wait_gone()

    dlg.command(IDC_BROWSE)
    chooser = dlg.wait_box()
    time.sleep(1.0)
    crop(chooser, os.path.join(out, 'chooser.png'))
    chooser.command(IDCANCEL)
    chooser.wait_gone()
    dlg.command(IDCANCEL)
    dlg.wait_gone()
    if hv.close() is None:
        raise SystemExit('Halvory did not close')


if __name__ == '__main__':
    screenshots.run(dialog)
