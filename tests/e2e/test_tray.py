"""The tray icon on Wine's real taskbar, seen in screenshots of the virtual
desktop: the cell of the first icon is counted by colour (harness.tray_look)
after every call. Tray calls are slow under Wine, so the whole life of the
icon is one case.
"""
import os
import subprocess
import unittest

import harness
from soundtraylib import Stage

# Where pictures of the looks are kept when asked for (a folder named by
# HALVORY_TRAY_SHOTS): the corner of the taskbar only.
SHOTS = os.environ.get('HALVORY_TRAY_SHOTS')


def keep(shot, name):
    if not SHOTS:
        return
    os.makedirs(SHOTS, exist_ok=True)
    subprocess.check_call(['convert', shot, '-crop', '120x40+904+728', '+repage',
                           os.path.join(SHOTS, 'tray-%s.png' % name)])


class TrayLooks(unittest.TestCase):
    def test_add_modify_and_remove_show_the_right_look(self):
        rig = harness.RIG
        stage = Stage(rig, name='tray')
        self.addCleanup(stage.quit)
        seen = []

        def expect(want, name):
            look, shot = harness.wait_tray_look(rig, want, 5.0)
            counts = harness.tray_cell_counts(shot)
            seen.append((name, look, counts))
            keep(shot, name)
            self.assertEqual(want, look, '%s: cell counts %s' % (name, counts))
            return shot

        expect('none', 'before')
        # The stage's window list can see another process's window: the
        # taskbar is hidden while it holds no icon ...
        self.assertFalse([w for w in stage.windows() if w[0] == 'Shell_TrayWnd'])
        stage.cmd('add')
        expect('running', 'running')
        # ... and shown while ours is there.
        self.assertTrue([w for w in stage.windows() if w[0] == 'Shell_TrayWnd'])
        stage.cmd('paused')
        expect('paused', 'paused')
        stage.cmd('running')
        expect('running', 'running-again')
        stage.cmd('paused')
        expect('paused', 'paused-again')
        stage.cmd('remove')
        expect('none', 'removed')
        print('\ncell counts: ' + '; '.join('%s %s %s' % s for s in seen))


if __name__ == '__main__':
    harness.main()
