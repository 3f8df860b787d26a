"""The program's tray code, in the stage program (tests/tools/soundtray.cpp), on Wine's real taskbar, seen in
screenshots of the virtual desktop: after every call the icon is looked for by its picture, wherever the desktop shows
it (desktop.find_tray_icon). Tray calls are slow under Wine, so the whole life of the icon is one case."""
import desktop
import runner
from rig import SHORT, Stage


class TrayLooks(runner.Case):
    def test_add_modify_and_remove_show_the_right_look(self):
        stage = Stage(self.rig, name='tray')
        seen = []

        def expect(want, name):
            look, centre, shot = desktop.wait_tray(self.rig, want, SHORT)
            seen.append((name, look, centre))
            self.assertEqual(want, look, '%s: %s' % (name, shot))
            return centre

        expect('none', 'before')
        stage.cmd('add')
        centre = expect('running', 'running')
        # Where a user looks for it: on the taskbar.
        bars = [desktop.info(self.rig, w.hwnd)['rect']
                for w in desktop.top_windows(self.rig, cls='Shell_TrayWnd', visible=True)]
        self.assertTrue([r for r in bars if r[0] <= centre[0] < r[2] and r[1] <= centre[1] < r[3]],
                        'the icon at %s is not on a taskbar (%s)' % (centre, bars))
        for want in ('paused', 'running', 'paused'):
            stage.cmd(want)
            # The look changes in place.
            self.assertEqual(centre, expect(want, want))
        stage.cmd('remove')
        expect('none', 'removed')
        print('\nseen: ' + '; '.join('%s %s at %s' % s for s in seen))


if __name__ == '__main__':
    runner.main()
