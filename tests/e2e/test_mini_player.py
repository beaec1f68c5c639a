"""The mini-player panel of the real binary under a window manager: the panel's
size, place and state, the placeholder, the ways back, and a page that keeps its
state across the moves."""

import os
import re
import time
import unittest

from desktop import App, AppTree, Desktop, wait_for
from test_native_player import make_pages

PANEL_TITLE = 'Brindlemar \u00b7 Miniatura'


def geometry(desktop, wid):
    info = desktop.run('xwininfo', '-id', str(wid)).stdout
    value = {k: int(re.search(rf'{k}:\s+(-?\d+)', info).group(1))
             for k in ('Absolute upper-left X', 'Absolute upper-left Y', 'Width', 'Height')}
    return value['Absolute upper-left X'], value['Absolute upper-left Y'], value['Width'], value['Height']


class MiniPlayer(unittest.TestCase):
    def setUp(self):
        self.desktop = Desktop(width=1600, height=1000)
        self.addCleanup(self.desktop.close)
        self.app = App(self.desktop, AppTree(self.desktop), pages=make_pages(self.desktop.root))
        self.addCleanup(self.app.stop)
        self.main = self.app.main_window()
        self.app.wait_report(lambda r: r.get('event') == 'loaded', what='the page')
        self.app.run_in_page("window.counter = 41; 'ok'")

    def pip_changes(self):
        return [r for r in self.app.page_reports() if r.get('event') == 'pip-change']

    def panels(self):
        return self.desktop.windows('Miniatura')

    def enter(self):
        self.app.run_in_page("post('brindlemarPip', 'enter')")
        return wait_for(lambda: self.panels(), what='the panel')[0]

    def assert_back_in_the_main_window(self, changes_before):
        wait_for(lambda: not self.panels(), what='the panel to close')
        wait_for(lambda: len(self.pip_changes()) == changes_before + 1, what='the page to hear it')
        last = self.pip_changes()[-1]
        self.assertEqual((last['state'], last['cls']), (False, False))
        self.assertEqual(self.app.run_in_page("++window.counter"), 42 + changes_before // 2)
        loads = [r for r in self.app.page_reports() if r.get('event') == 'loaded' and r['frame'] == 'main']
        self.assertEqual(len(loads), 1)  # never reloaded

    def test_enter_opens_one_floating_panel_with_the_page(self):
        panel = self.enter()
        self.assertEqual(self.desktop.window_title(panel), PANEL_TITLE)
        # Bottom-right of the work area with 24 px to spare, decorations included.
        def outer_corner():
            x, y, width, height = geometry(self.desktop, panel)
            frame = self.desktop.run('xprop', '-id', str(panel), '_NET_FRAME_EXTENTS').stdout
            left, right, top, bottom = (int(v) for v in re.findall(r'\d+', frame.split('=')[1]))
            return width, height, x + width + right, y + height + bottom
        wait_for(lambda: outer_corner() == (480, 270, 1600 - 24, 1000 - 24), timeout=10,
                 what='the panel at 480x270, 24 px from the bottom-right corner')
        state = self.desktop.run('xprop', '-id', str(panel), '_NET_WM_STATE').stdout
        for flag in ('_NET_WM_STATE_ABOVE', '_NET_WM_STATE_SKIP_TASKBAR'):
            self.assertIn(flag, state)
        # On every workspace: the sticky state, or (as some window managers say it) desktop "all".
        desktop = self.desktop.run('xprop', '-id', str(panel), '_NET_WM_DESKTOP').stdout
        self.assertTrue('_NET_WM_STATE_STICKY' in state or desktop.strip().endswith('= 4294967295'), desktop)

        # Resizing keeps 16:9 and never goes below 320x180.
        for asked in ((200, 100), (800, 300)):
            self.desktop.run('xdotool', 'windowsize', str(panel), *(str(v) for v in asked))
            time.sleep(0.5)
            width, height = geometry(self.desktop, panel)[2:]
            self.assertTrue(width >= 320 and height >= 180, (asked, width, height))
            self.assertAlmostEqual(width / height, 16 / 9, delta=0.02, msg=(asked, width, height))

        wait_for(lambda: self.pip_changes(), what='brindlemar-pip-change')
        self.assertEqual((self.pip_changes()[0]['state'], self.pip_changes()[0]['cls']), (True, True))
        self.assertEqual(self.app.run_in_page("window.BrindlemarNativePip"), True)
        self.assertEqual(self.app.run_in_page("++window.counter"), 42)

        self.app.run_in_page("post('brindlemarPip', 'enter')")
        time.sleep(1.0)
        self.assertEqual(len(self.panels()), 1)
        self.assertEqual(len(self.pip_changes()), 1)

        # The main window shows the placeholder.
        texts = [(n['role'], n['name'] or n['text']) for n in self.desktop.accessible('dump', 'brindlemar')]
        self.assertIn(('label', 'Reproduciendo en miniatura'), texts)
        self.assertIn(('push button', 'Volver a la ventana'), texts)
        self.desktop.screenshot(os.path.join(self.desktop.root, 'screen.png'))

    def test_the_placeholder_button_brings_the_page_back(self):
        self.enter()
        wait_for(lambda: self.pip_changes(), what='brindlemar-pip-change')
        self.desktop.press('Volver a la ventana')
        self.assert_back_in_the_main_window(1)

    def test_the_panel_close_button_brings_the_page_back(self):
        panel = self.enter()
        wait_for(lambda: self.pip_changes(), what='brindlemar-pip-change')
        self.desktop.close_with_alt_f4(panel, 'Miniatura')
        self.assert_back_in_the_main_window(1)
        self.app.run_in_page("post('brindlemarPip', 'exit')")  # nothing to leave: nothing sent
        time.sleep(0.5)
        self.assertEqual(len(self.pip_changes()), 2)

    def test_playback_travels_with_the_page_and_escape_still_ends_it(self):
        self.app.run_in_page("post('brindlemarPlayer', {action: 'play', url: 'http://127.0.0.1:47874/clip.webm', title: 'Clip'})")
        native = lambda: [r['detail']['type'] for r in self.app.page_reports() if r.get('event') == 'native-player']
        wait_for(lambda: 'time' in native(), what='playback')
        panel = self.enter()
        widgets = {(n['role'], n['name']) for n in self.desktop.accessible('dump', 'brindlemar') if n['showing']}
        self.assertIn(('push button', '\u2190 Volver'), widgets)
        count = native().count('time')
        wait_for(lambda: native().count('time') > count, what='playback going on in the panel')
        self.desktop.run('xdotool', 'windowactivate', '--sync', str(panel))
        self.desktop.key('Escape')
        wait_for(lambda: 'closed' in native(), what='closed')
        self.assertEqual(len(self.panels()), 1)  # the mini-player stays
        wait_for(lambda: self.desktop.window_title(self.main) == 'Brindlemar', what='the title back')

    def test_closing_the_main_window_keeps_the_app_while_the_panel_is_open(self):
        self.enter()
        self.desktop.close_with_alt_f4(self.main, '^Brindlemar$')
        self.assertIsNone(self.app.proc.poll())
        self.assertEqual(len(self.panels()), 1)
        self.assertEqual(self.app.launch_again().returncode, 0)
        wait_for(lambda: self.desktop.windows('^Brindlemar$'), what='the main window again')
        self.app.run_in_page("post('brindlemarPip', 'exit')")
        wait_for(lambda: not self.panels(), what='the panel to close')
        self.assertIsNone(self.app.proc.poll())


if __name__ == '__main__':
    unittest.main()
