"""The page bridge in the real engine: who may post what, the navigation lock,
new windows, and the events the native side dispatches into the page."""

import os
import time
import unittest

from desktop import App, AppTree, Desktop, wait_for

SCREENSAVER = ('org.freedesktop.ScreenSaver', '/org/freedesktop/ScreenSaver')


class Bridge(unittest.TestCase):
    def setUp(self):
        self.desktop = Desktop()
        self.addCleanup(self.desktop.close)
        self.desktop.start_mock('screensaver')
        self.browser_log = self.desktop.install_recording_browser()
        self.app = App(self.desktop, AppTree(self.desktop))
        self.addCleanup(self.app.stop)
        self.wid = self.app.main_window()
        self.app.wait_report(lambda r: r.get('event') == 'loaded' and r['page'] == '/index.html'
                             or r.get('page') == '/' and r.get('event') == 'loaded', what='the page')

    def inhibits(self):
        return [c for c in self.desktop.mock_calls(*SCREENSAVER) if c[0] == 'Inhibit']

    def opened(self):
        with open(self.browser_log) as f:
            return [line.strip() for line in f if line.strip()]

    def native_events(self):
        return [r['detail'] for r in self.app.page_reports() if r.get('event') == 'native-player']

    def loads(self):
        return [r['href'] for r in self.app.page_reports() if r.get('event') == 'loaded' and r['frame'] == 'main']

    def test_only_the_main_frame_of_the_library_page_is_heard(self):
        run = self.app.run_in_page
        self.assertEqual(run("post('brindlemarPlayer', 'awake')"), True)
        self.assertEqual(run("post('brindlemarPlayer', ['awake'])"), True)
        self.assertEqual(run("post('brindlemarPlayer', 1)"), True)
        self.assertEqual(run("post('brindlemarPlayer', {action: 'Awake'})"), True)
        # An iframe of the service origin, and an about:blank iframe, are subframes.
        run("new Promise(r => { const f = document.createElement('iframe'); f.src = '/frame.html';"
            " f.onload = r; document.body.appendChild(f); })")
        self.app.wait_report(lambda r: r.get('page') == '/frame.html', what='the iframe')
        self.assertEqual(run("document.querySelector('iframe').contentWindow.post('brindlemarPlayer', {action: 'awake'})"), True)
        self.assertIsNone(run("const b = document.createElement('iframe'); document.body.appendChild(b);"
                              " b.contentWindow.webkit.messageHandlers.brindlemarPlayer.postMessage({action: 'awake'})"))
        time.sleep(1.0)
        self.assertEqual(self.inhibits(), [])

        run("post('brindlemarPlayer', {action: 'awake', extra: [1, {a: null}]})")
        wait_for(lambda: self.inhibits(), what='Inhibit on the screen saver')
        self.assertEqual(self.inhibits()[0][1][1], 'Reproducción en curso')
        run("post('brindlemarPlayer', {action: 'idle'})")
        wait_for(lambda: any(c[0] == 'UnInhibit' for c in self.desktop.mock_calls(*SCREENSAVER)),
                 what='UnInhibit')

    def test_player_events_reach_the_page_with_their_exact_detail(self):
        run = self.app.run_in_page
        run("post('brindlemarPlayer', {action: 'play', url: 'http://127.0.0.1/nada.mp4'})")
        run("post('brindlemarPlayer', {action: 'play', url: 'https://127.0.0.1:47874/nada.mp4'})")
        time.sleep(0.5)
        self.assertEqual(self.native_events(), [])
        run("post('brindlemarPlayer', {action: 'play', url: 'http://127.0.0.1:47874/nada.mp4', title: 'Nada'})")
        # The service has no such file: code 2, not found.
        failed = {'type': 'error', 'code': 2}
        wait_for(lambda: failed in self.native_events(), what='an error event')
        self.assertNotIn({'type': 'closed'}, self.native_events())
        for detail in self.native_events():
            self.assertIn(detail, ({'type': 'ready'}, failed))

    def test_links_the_user_clicks_to_other_sites_open_in_the_browser(self):
        self.desktop.click(self.wid, 100, 200)  # "Enlace externo"
        wait_for(lambda: self.opened(), what='the browser to be asked')
        self.assertEqual(self.opened(), ['http://example.com/fuera'])
        self.desktop.click(self.wid, 100, 400)  # "Correo": mailto
        time.sleep(1.0)
        self.assertEqual(self.opened(), ['http://example.com/fuera'])
        self.assertEqual(self.app.run_in_page('location.pathname'), '/')

        self.desktop.click(self.wid, 600, 200)  # "Enlace interno": same origin, allowed in place
        wait_for(lambda: any(h.endswith('/otra.html') for h in self.loads()), what='the internal page')
        self.assertEqual(self.opened(), ['http://example.com/fuera'])

    def test_other_navigations_are_cancelled_and_open_nothing(self):
        run = self.app.run_in_page
        for target in ("'https://example.com/script'", "'http://example.com/'", "'mailto:ana@example.com'",
                       "'data:text/html,hola'", "URL.createObjectURL(new Blob(['hola'], {type: 'text/html'}))",
                       "'about:blank#x'", "'http://127.0.0.1:8080/'"):
            run(f"location.href = {target}; 'sent'")
        run("const f = document.createElement('form'); f.method = 'post'; f.action = 'https://example.com/form';"
            " document.body.appendChild(f); f.submit(); 'sent'")
        run("const s = document.createElement('iframe'); s.id = 'doc'; s.srcdoc = '<p id=x>srcdoc</p>';"
            " document.body.appendChild(s); 'sent'")
        time.sleep(1.5)
        self.assertEqual(run("location.href"), 'http://127.0.0.1:47874/')
        self.assertEqual(run("(document.getElementById('doc').contentDocument || {}).body ?"
                             " !!document.getElementById('doc').contentDocument.getElementById('x') : false"), False)
        self.assertEqual(self.loads(), ['http://127.0.0.1:47874/'])
        self.assertEqual(self.opened(), [])

    def test_window_open_hands_web_addresses_to_the_browser_and_returns_no_window(self):
        run = self.app.run_in_page
        run("const b = document.createElement('button'); b.textContent = 'Abrir';"
            " b.style = 'position:fixed;left:0;top:520px;width:300px;height:100px';"
            " b.onclick = () => { window.opened = [window.open('https://example.com/ventana'),"
            " window.open('about:blank'), window.open('mailto:ana@example.com')]; };"
            " document.body.appendChild(b); 'ok'")
        self.desktop.click(self.wid, 100, 570)
        wait_for(lambda: self.opened(), what='the browser to be asked')
        self.assertEqual(run("JSON.stringify(window.opened)"), '[null,null,null]')
        time.sleep(0.5)
        self.assertEqual(self.opened(), ['https://example.com/ventana'])
        # Without a user gesture a script cannot open windows at all.
        self.assertEqual(run("window.open('https://example.com/sin-gesto')"), None)
        time.sleep(0.5)
        self.assertEqual(self.opened(), ['https://example.com/ventana'])


if __name__ == '__main__':
    unittest.main()
