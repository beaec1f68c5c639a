"""Quitting the real binary while native playback exists: every way a desktop app
is asked to quit, in every state that playback can be in. Each ends with exit
status 0, the library service told to stop, and nothing critical printed."""

import os
import re
import signal
import unittest

from desktop import App, AppTree, Desktop, wait_for
from test_native_player import make_pages

CLIP = 'http://127.0.0.1:47874/clip.webm'
NEVER_LOADS = 'http://127.0.0.1:47874/hang.webm'
CLIENT = ('org.gnome.SessionManager', '/org/gnome/SessionManager/Client1')
# Lines GLib, GTK, ATK and GStreamer print for a programming error on our side.
COMPLAINT = re.compile(r'-(CRITICAL|WARNING) \*\*|CRITICAL|g_object_unref: assertion')


class Quit(unittest.TestCase):
    # ---- how the user (or the system) asks to quit ----
    def by_signal(self, number):
        return lambda: self.app.proc.send_signal(number)

    def by_keyboard(self):
        self.desktop.run('xdotool', 'windowactivate', '--sync', str(self.main))
        self.desktop.key('ctrl+q')

    def by_menu(self):
        # As a keyboard user opens the menu bar: F10, then the first item of the first menu.
        self.desktop.run('xdotool', 'windowactivate', '--sync', str(self.main))
        self.desktop.key('F10')
        self.desktop.key('Down')
        self.desktop.key('Return')

    def by_session_end(self):
        wait_for(lambda: any(c[0] == 'RegisterClient' for c in self.desktop.mock_calls(
            'org.gnome.SessionManager', '/org/gnome/SessionManager')), what='the session registration')
        self.desktop.run('gdbus', 'call', '--session', '--dest', CLIENT[0], '--object-path', CLIENT[1],
                         '--method', 'org.freedesktop.DBus.Mock.EmitSignal',
                         'org.gnome.SessionManager.ClientPrivate', 'EndSession', 'u', '[<uint32 0>]')

    # ---- what playback is doing at that moment ----
    def native(self):
        return [r['detail']['type'] for r in self.app.page_reports() if r.get('event') == 'native-player']

    def play(self, url):
        self.app.run_in_page(f"post('brindlemarPlayer', {{action: 'play', url: '{url}', title: 'Clip'}})")

    def playing(self):
        self.play(CLIP)
        wait_for(lambda: 'time' in self.native(), what='playback')

    def loading(self):
        self.play(NEVER_LOADS)
        wait_for(lambda: 'ready' in self.native(), what='playback to start loading')

    def picture_in_picture(self):
        self.playing()
        self.desktop.press('Imagen en imagen')
        wait_for(lambda: self.desktop.windows('Imagen en imagen'), what='the picture-in-picture window')

    def mini_player(self):
        self.playing()
        self.app.run_in_page("post('brindlemarPip', 'enter')")
        wait_for(lambda: self.desktop.windows('Miniatura'), what='the mini-player')

    def quit_while(self, state, way):
        self.desktop = Desktop()
        self.addCleanup(self.desktop.close)
        self.desktop.start_mock('gnome_session')
        self.app = App(self.desktop, AppTree(self.desktop), pages=make_pages(self.desktop.root))
        self.addCleanup(self.app.stop)
        self.main = self.app.main_window()
        self.app.wait_report(lambda r: r.get('event') == 'loaded', what='the page')
        service = self.app.service_pids()[0]
        state()
        way()
        status = self.app.proc.wait(timeout=30)
        self.app.log.flush()
        with open(self.app.log.name, errors='replace') as f:
            log = f.read()
        self.assertEqual(status, 0, log[-2000:])
        wait_for(lambda: self.app.got_sigterm(service), timeout=10, what='the service to hear SIGTERM')
        self.assertEqual([line for line in log.splitlines() if COMPLAINT.search(line)], [])

    def test_every_way_of_quitting_in_every_state(self):
        ways = {'SIGTERM': self.by_signal(signal.SIGTERM), 'SIGINT': self.by_signal(signal.SIGINT),
                'SIGHUP': self.by_signal(signal.SIGHUP), 'Ctrl+Q': self.by_keyboard, 'menu': self.by_menu,
                'session end': self.by_session_end}
        states = {'playing': self.playing, 'loading': self.loading,
                  'picture-in-picture': self.picture_in_picture, 'mini-player': self.mini_player}
        cases = [(s, w) for s in states for w in ways]
        only = os.environ.get('QUIT_CASES')  # e.g. "playing:SIGTERM" while working on one case
        if only is not None:
            self.assertNotEqual(os.environ.get('CI'), 'true', 'CI runs the whole table; QUIT_CASES is for work '
                                'by hand')
            chosen = [c.strip() for c in only.split(',') if c.strip()]
            # A name that matches no case would leave a case out unnoticed, or all of them.
            unknown = [c for c in chosen if tuple(c.split(':', 1)) not in cases]
            self.assertEqual(unknown, [], 'QUIT_CASES names unknown cases; they are state:way, of '
                             + ', '.join(f'{s}:{w}' for s, w in cases))
            self.assertTrue(chosen, 'QUIT_CASES selects no case')
            cases = [c for c in cases if f'{c[0]}:{c[1]}' in chosen]
        for state_name, way_name in cases:
            state, way = states[state_name], ways[way_name]
            with self.subTest(state=state_name, way=way_name):
                try:
                    self.quit_while(state, way)
                finally:
                    self.doCleanups()


if __name__ == '__main__':
    unittest.main()
