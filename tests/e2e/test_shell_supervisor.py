"""The real binary under Xvfb: launch, readiness, early exit and retry, launch
failure, the service's environment, quitting, a killed shell, a second launch."""

import os
import signal
import time
import unittest

from desktop import App, AppTree, Desktop, process_alive, wait_for

PREPARING = 'Preparando tu biblioteca\u2026'


class ShellAndSupervisor(unittest.TestCase):
    def setUp(self):
        self.desktop = Desktop()
        self.addCleanup(self.desktop.close)

    def start(self, mode='ready', tree=None, **kw):
        app = App(self.desktop, tree or AppTree(self.desktop), mode=mode, **kw)
        self.addCleanup(app.stop)
        return app

    def test_status_page_gives_way_to_the_page_once_the_readiness_line_is_complete(self):
        app = self.start('chunks')
        wid = app.main_window()
        app.wait_page_text(PREPARING)
        texts = self.desktop.page_texts()
        self.assertIn(('heading', 'Brindlemar'), texts)
        self.assertNotIn('Volver a intentarlo', [t for _, t in texts])
        geometry = self.desktop.run('xwininfo', '-id', str(wid)).stdout
        self.assertIn('Width: 1280', geometry)

        app.release_readiness()
        app.wait_page_text('Biblioteca de prueba')
        self.assertIn(('paragraph', 'Todo listo.'), self.desktop.page_texts())
        self.assertEqual(len(app.service_pids()), 1)

    def test_the_readiness_line_counts_on_standard_error_too(self):
        app = self.start('stderr')
        app.wait_page_text('Biblioteca de prueba')

    def test_an_early_exit_is_told_and_retry_relaunches_the_service(self):
        app = self.start('exit')
        app.main_window()
        app.wait_page_text('El servicio local se cerró.')
        self.assertIn(('push button', 'Volver a intentarlo'),
                      [(r, t) for r, t in self.desktop.page_texts()])
        self.desktop.press('Volver a intentarlo')
        wait_for(lambda: len(app.service_pids()) == 2, what='a second service')
        app.wait_page_text('El servicio local se cerró.')

    def test_a_tree_without_node_shows_the_launch_failure(self):
        app = self.start(tree=AppTree(self.desktop, with_node=False))
        app.main_window()
        app.wait_page_text('No se pudo iniciar el servicio local. Vuelve a instalar Brindlemar.')
        self.assertIn('Volver a intentarlo', [t for _, t in self.desktop.page_texts()])

    def test_a_tree_without_resources_says_so(self):
        app = self.start(tree=AppTree(self.desktop, with_share=False))
        app.main_window()
        app.wait_page_text('No se encontraron los recursos de la aplicación.')

    def test_the_service_gets_a_clean_environment_and_its_fixed_command_line(self):
        app = self.start('ready', extra_env={
            'NODE_OPTIONS': '--max-old-space-size=10', 'NODE_PATH': '/nowhere',
            'BRINDLEMAR_BIND': '0.0.0.0', 'BRINDLEMAR_EXTRA': '1', 'PORT': '8080',
            'BRINDLEMAR_TOKEN': 'inherited', 'NODEISH': 'kept', 'node_lower': 'kept'})
        app.wait_page_text('Biblioteca de prueba')
        pid = app.service_pids()[0]
        env = app.service_env(pid)
        inherited = [k for k in env if k.startswith('NODE_') or
                     (k.startswith('BRINDLEMAR_') and
                      k not in ('BRINDLEMAR_DATA_DIR', 'BRINDLEMAR_BIND', 'BRINDLEMAR_TOKEN'))]
        self.assertEqual(inherited, [])
        self.assertRegex(env['BRINDLEMAR_TOKEN'], r'^[0-9a-f]{64}$')
        self.assertEqual(env['PORT'], '47874')
        self.assertEqual(env['BRINDLEMAR_BIND'], '127.0.0.1')
        self.assertEqual(env['BRINDLEMAR_DATA_DIR'],
                         os.path.join(self.desktop.env['XDG_DATA_HOME'], 'com.brindlemar.app'))
        self.assertEqual((env['NODEISH'], env['node_lower']), ('kept', 'kept'))
        start = app.service_start(pid)
        backend = os.path.realpath(os.path.join(app.tree.root, 'share', 'brindlemar', 'backend'))
        self.assertEqual(start['argv'][1:], [os.path.join(backend, 'server.js')])
        self.assertEqual(os.path.realpath(start['cwd']), backend)

    def test_ctrl_q_terminates_the_service_and_quits(self):
        app = self.start('ready')
        app.main_window()
        app.wait_page_text('Biblioteca de prueba')
        pid = app.service_pids()[0]
        self.desktop.key('ctrl+q')
        self.assertEqual(app.proc.wait(timeout=15), 0)
        wait_for(lambda: app.got_sigterm(pid), timeout=10, what='SIGTERM at the service')

    def test_closing_the_main_window_quits(self):
        app = self.start('ready')
        wid = app.main_window()
        app.wait_page_text('Biblioteca de prueba')
        pid = app.service_pids()[0]
        # Two steps, so that a failure says which one failed: the close reaching the
        # shell (the window goes), then the shell quitting.
        self.desktop.close_with_alt_f4(wid, '^Brindlemar$')
        self.assertEqual(app.proc.wait(timeout=15), 0)
        wait_for(lambda: app.got_sigterm(pid), timeout=10, what='SIGTERM at the service')

    def test_a_killed_shell_leaves_no_service_behind(self):
        app = self.start('ready')
        app.wait_page_text('Biblioteca de prueba')
        pid = app.service_pids()[0]
        self.assertTrue(process_alive(pid))
        app.proc.send_signal(signal.SIGKILL)
        app.proc.wait(timeout=10)
        wait_for(lambda: not process_alive(pid), timeout=10, what='the orphaned service to end')

    def test_a_second_launch_starts_no_second_service(self):
        app = self.start('ready')
        app.main_window()
        app.wait_page_text('Biblioteca de prueba')
        second = app.launch_again()
        self.assertEqual(second.returncode, 0)
        time.sleep(1.5)
        self.assertEqual(len(app.service_pids()), 1)
        self.assertIsNone(app.proc.poll())
        self.assertEqual(len(self.desktop.windows('^Brindlemar$')), 1)


if __name__ == '__main__':
    unittest.main()
