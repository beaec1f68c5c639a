"""The main paths on Wayland, under a headless weston: the library page, native
playback into gtksink, the mini-player panel, picture-in-picture, and the end of
playback. The windows are read through AT-SPI, which works the same on Wayland."""

import os
import subprocess
import unittest

from desktop import App, AppTree, Desktop, wait_for
from test_native_player import make_pages

SOCKET = 'wayland-brindlemar'


class WestonDesktop(Desktop):
    """The throw-away desktop with a headless Wayland compositor instead of X."""

    def __init__(self):
        super().__init__(window_manager=False)

    def _start_x(self, width, height):
        log = open(os.path.join(self.root, 'weston.log'), 'wb')
        self.procs.append(subprocess.Popen(
            ['weston', '--backend=headless-backend.so', '--use-pixman', '--no-config', '--idle-time=0',
             f'--socket={SOCKET}', f'--width={width}', f'--height={height}'],
            env=self.env, stdout=log, stderr=subprocess.STDOUT))
        log.close()
        wait_for(lambda: os.path.exists(os.path.join(self.env['XDG_RUNTIME_DIR'], SOCKET)), timeout=30,
                 what='the Wayland socket')
        self.env.update({'WAYLAND_DISPLAY': SOCKET, 'GDK_BACKEND': 'wayland', 'XDG_SESSION_TYPE': 'wayland'})


class Wayland(unittest.TestCase):
    def setUp(self):
        self.desktop = WestonDesktop()
        self.addCleanup(self.desktop.close)
        self.app = App(self.desktop, AppTree(self.desktop), pages=make_pages(self.desktop.root),
                       tolerate=('GDK_IS_SEAT (seat)', 'GDK_IS_DEVICE (device)'))
        self.addCleanup(self.app.stop)
        self.app.wait_report(lambda r: r.get('event') == 'loaded', timeout=60, what='the page')

    def native(self):
        return [r['detail']['type'] for r in self.app.page_reports() if r.get('event') == 'native-player']

    def nodes(self):
        return self.desktop.accessible('dump', 'brindlemar')

    def showing(self, role, name):
        return any(n['showing'] and n['role'] == role and n['name'] == name for n in self.nodes())

    def frames(self):
        return [n['name'] for n in self.nodes() if n['role'] == 'frame']

    def playing_on(self, what):
        count = self.native().count('time')
        wait_for(lambda: self.native().count('time') >= count + 2, what=f'playback going on {what}')

    def test_page_playback_mini_player_and_picture_in_picture(self):
        self.assertIn('Brindlemar', self.frames())
        self.app.wait_page_text('Biblioteca de prueba')

        self.app.run_in_page("post('brindlemarPlayer', {action: 'play', url: 'http://127.0.0.1:47874/clip.webm', "
                             "title: 'Clip'})")
        wait_for(lambda: 'time' in self.native(), timeout=30, what='native playback')
        wait_for(lambda: self.showing('push button', '\u2190 Volver'), what='the player view')
        self.assertIn('Clip', self.frames())  # the main window titled after the video

        self.app.run_in_page("post('brindlemarPip', 'enter')")
        wait_for(lambda: 'Brindlemar \u00b7 Miniatura' in self.frames(), what='the mini-player panel')
        wait_for(lambda: self.showing('label', 'Reproduciendo en miniatura'), what='the placeholder')
        self.playing_on('in the panel')
        self.app.run_in_page("post('brindlemarPip', 'exit')")
        wait_for(lambda: 'Brindlemar \u00b7 Miniatura' not in self.frames(), what='the panel closed')

        self.desktop.press('Imagen en imagen')
        wait_for(lambda: 'Brindlemar \u00b7 Imagen en imagen' in self.frames(), what='the picture-in-picture window')
        self.playing_on('in the picture-in-picture window')
        self.desktop.press('Volver al reproductor')
        wait_for(lambda: 'Brindlemar \u00b7 Imagen en imagen' not in self.frames(), what='the window closed')

        # No key can be injected into a headless weston: the media controls' Stop runs
        # what Escape runs.
        self.desktop.run('playerctl', '--player=brindlemar', 'stop')
        wait_for(lambda: 'closed' in self.native(), what='closed')
        self.assertEqual(self.native().count('closed'), 1)
        wait_for(lambda: not self.showing('push button', '\u2190 Volver'), what='the player view gone')

        # A headless weston has no seat (no keyboard, no pointer): GTK's and WebKit's
        # own questions about them fail there, and only there.
        with open(os.path.join(self.desktop.root, 'app.log'), errors='replace') as f:
            problems = [line for line in f if ('CRITICAL' in line or 'Gtk-WARNING' in line)
                        and 'GDK_IS_SEAT (seat)' not in line and 'GDK_IS_DEVICE (device)' not in line]
        self.assertEqual(problems, [])


if __name__ == '__main__':
    unittest.main()
