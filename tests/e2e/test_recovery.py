"""Processes that die under the shell: the web content process under the library
page and under the status page, the library service after readiness, and an old
service replaced by a retry."""

import os
import signal
import time
import unittest

from desktop import App, AppTree, Desktop, process_alive, wait_for

PREPARING = 'Preparando tu biblioteca\u2026'
CLOSED = 'El servicio local se cerró.'
PAGE_CRASHED = 'La biblioteca se cerró varias veces seguidas. Vuelve a intentarlo dentro de un momento.'
LIBRARY = 'Biblioteca de prueba'


class Recovery(unittest.TestCase):
    def setUp(self):
        self.desktop = Desktop()
        self.addCleanup(self.desktop.close)

    def start(self, mode):
        app = App(self.desktop, AppTree(self.desktop), mode=mode)
        self.addCleanup(app.stop)
        app.main_window()
        return app

    def main_loads(self, app):
        return [r for r in app.page_reports() if r.get('event') == 'loaded' and r['frame'] == 'main']

    def kill_web_process(self, app):
        pid = app.web_process()
        os.kill(pid, signal.SIGKILL)
        wait_for(lambda: not process_alive(pid), what='the web process to die')
        return pid

    def texts(self):
        return [t for _, t in self.desktop.page_texts()]

    def test_the_library_page_comes_back_after_its_web_process_is_killed(self):
        app = self.start('ready')
        app.wait_page_text(LIBRARY)
        wait_for(lambda: self.main_loads(app), what='the page')
        for death in range(1, 4):
            old = self.kill_web_process(app)
            wait_for(lambda: len(self.main_loads(app)) == death + 1, what=f'the page after death {death}')
            self.assertNotEqual(app.web_process(), old)
            app.wait_page_text(LIBRARY)
            # The page answers again: a command round trip through the new process.
            self.assertEqual(app.run_in_page('1 + 1'), 2)

        # The fourth death within the minute: the user is asked, and retry brings it back.
        self.kill_web_process(app)
        app.wait_page_text(PAGE_CRASHED)
        self.desktop.press('Volver a intentarlo')
        wait_for(lambda: len(self.main_loads(app)) == 5, what='the page after retry')
        app.wait_page_text(LIBRARY)
        self.assertEqual(len(app.service_pids()), 1)

    def test_the_status_page_comes_back_after_its_web_process_is_killed(self):
        app = self.start('chunks')
        app.wait_page_text(PREPARING)
        old = self.kill_web_process(app)
        wait_for(lambda: app.web_process() != old, what='a new web process')
        app.wait_page_text(PREPARING)
        self.assertNotIn('Volver a intentarlo', self.texts())
        app.release_readiness()
        app.wait_page_text(LIBRARY)

    def test_a_service_killed_after_readiness_is_told_and_retry_brings_the_library_back(self):
        app = self.start('ready')
        app.wait_page_text(LIBRARY)
        first = app.service_pids()[0]
        os.kill(first, signal.SIGKILL)
        app.wait_page_text(CLOSED)
        self.assertIn('Volver a intentarlo', self.texts())
        self.desktop.press('Volver a intentarlo')
        wait_for(lambda: len(app.service_pids()) == 2, what='a new service')
        app.wait_page_text(LIBRARY)
        wait_for(lambda: len(self.main_loads(app)) == 2, what='the library page loaded again')

    def test_a_retry_while_the_old_service_runs_shows_no_exit_message(self):
        app = self.start('chunks')  # never ready until the test says so
        app.wait_page_text('La biblioteca está tardando más de lo normal. '
                           'Comprueba que aceptaste el permiso de carpeta que pidió macOS.', timeout=120)
        old = app.service_pids()[0]
        self.assertTrue(process_alive(old))
        self.desktop.press('Volver a intentarlo')
        wait_for(lambda: len(app.service_pids()) == 2, what='the new service')
        wait_for(lambda: app.got_sigterm(old) and not process_alive(old), what='the old service to end')
        # The old service's exit report comes within about a second of its end;
        # the new one's "Preparando" must stay all along.
        deadline = time.monotonic() + 4
        while time.monotonic() < deadline:
            self.assertEqual([t for t in self.texts() if t in (PREPARING, CLOSED)], [PREPARING])
        app.release_readiness()
        app.wait_page_text(LIBRARY)


if __name__ == '__main__':
    unittest.main()
