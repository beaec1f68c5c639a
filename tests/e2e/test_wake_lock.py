"""Sleep prevention seen on the session bus, while videos in the page play."""

import os
import shutil
import subprocess
import time
import unittest

from desktop import FIXTURE_SERVICE, App, AppTree, Desktop, wait_for

GNOME = ('org.gnome.SessionManager', '/org/gnome/SessionManager')
SCREENSAVER = ('org.freedesktop.ScreenSaver', '/org/freedesktop/ScreenSaver')
REASON = 'Reproducción en curso'

WAKE_PAGE = '''<!doctype html>
<html lang="es"><head><meta charset="utf-8"><title>Vídeos</title></head>
<body><h1>Vídeos</h1>
<video id="a" src="/clip.webm" muted loop autoplay width="160"></video>
<video id="b" src="/clip.webm" muted loop width="160"></video>
<script src="/harness.js"></script></body></html>
'''


def make_pages(root):
    pages = os.path.join(root, 'pages')
    shutil.copytree(os.path.join(FIXTURE_SERVICE, 'pages'), pages)
    with open(os.path.join(pages, 'index.html'), 'w') as f:
        f.write(WAKE_PAGE)
    subprocess.run(['ffmpeg', '-loglevel', 'error', '-f', 'lavfi', '-i', 'testsrc=size=160x90:rate=10',
                    '-t', '6', '-c:v', 'libvpx', '-b:v', '100k', os.path.join(pages, 'clip.webm')], check=True)
    return pages


class WakeLock(unittest.TestCase):
    def run_page(self, mock, service):
        desktop = Desktop()
        self.addCleanup(desktop.close)
        desktop.start_mock(mock)
        app = App(desktop, AppTree(desktop), pages=make_pages(desktop.root))
        self.addCleanup(app.stop)
        app.main_window()

        def calls(method):
            return [c[1] for c in desktop.mock_calls(*service) if c[0] == method]

        inhibit, uninhibit = ('Inhibit', 'Uninhibit') if service == GNOME else ('Inhibit', 'UnInhibit')
        run = app.run_in_page
        # The muted video starts by itself.
        wait_for(lambda: calls(inhibit), what='Inhibit when the video starts')
        self.assertIn(REASON, calls(inhibit)[0])
        run("document.getElementById('b').play().then(() => 'playing')")
        time.sleep(1.0)
        self.assertEqual(len(calls(inhibit)), 1)
        run("document.getElementById('a').pause(); 'paused'")
        time.sleep(1.0)
        self.assertEqual(calls(uninhibit), [])
        run("document.getElementById('b').pause(); 'paused'")
        wait_for(lambda: calls(uninhibit), what='the release when the last video pauses')

        run("document.getElementById('a').play().then(() => 'playing')")
        wait_for(lambda: len(calls(inhibit)) == 2, what='Inhibit again')
        run("location.href = '/otra.html'; 'leaving'")
        wait_for(lambda: len(calls(uninhibit)) == 2, what='the release when the page goes')
        return calls(inhibit)

    def test_gnome_session_manager(self):
        inhibits = self.run_page('gnome_session', GNOME)
        app_id, _window, reason, flags = inhibits[0]
        self.assertEqual((app_id, reason), ('com.brindlemar.app', REASON))
        self.assertEqual(flags & (4 | 8), 4 | 8)  # suspend and idle

    def test_screensaver_only(self):
        inhibits = self.run_page('screensaver', SCREENSAVER)
        self.assertEqual(inhibits[0], ['Brindlemar', REASON])

    def test_a_slow_session_manager_never_holds_up_the_page(self):
        desktop = Desktop()
        self.addCleanup(desktop.close)
        gate = os.path.join(desktop.root, 'gate')
        os.makedirs(gate)
        desktop.start_mock('gnome_session', {'gate': gate})
        app = App(desktop, AppTree(desktop), pages=make_pages(desktop.root))
        self.addCleanup(app.stop)
        app.main_window()
        # The muted video starts by itself and the shell asks to stay awake; the
        # session manager holds its answer back.
        wait_for(lambda: os.path.exists(os.path.join(gate, 'inhibit-called')), what='Inhibit')

        # Meanwhile the shell answers the page at once: into the mini-player and back.
        app.run_in_page("post('brindlemarPip', 'enter')")
        app.wait_report(lambda r: r.get('event') == 'pip-change' and r['state'] is True, what='pip entered')
        app.run_in_page("post('brindlemarPip', 'exit')")
        app.wait_report(lambda r: r.get('event') == 'pip-change' and r['state'] is False, what='pip left')
        self.assertFalse(os.path.exists(os.path.join(gate, 'inhibit-answer')))

        # The video stops before the answer comes: the cookie is handed back as soon
        # as it arrives.
        app.run_in_page("document.getElementById('a').pause(); 'paused'")
        open(os.path.join(gate, 'inhibit-answer'), 'w').close()
        wait_for(lambda: ['Uninhibit', [1]] in desktop.mock_calls(*GNOME), what='the late cookie released')
        calls = [c[0] for c in desktop.mock_calls(*GNOME) if c[0] in ('Inhibit', 'Uninhibit')]
        self.assertEqual(calls, ['Inhibit', 'Uninhibit'])


if __name__ == '__main__':
    unittest.main()
