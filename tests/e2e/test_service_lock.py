"""The real binary with the real library service: only the shell's page and player
get through the service's lock, and the secret stays out of the page and the
command line."""

import json
import os
import subprocess
import unittest

from desktop import HERE, App, AppTree, Desktop, wait_for

BACKEND = os.path.join(HERE, '..', '..', 'resources', 'backend')
ORIGIN = 'http://127.0.0.1:47874'

# Runs the real service after wrapping its request handler: records what the service
# was started with and, for every request, whether it carried the exact secret; takes
# the page probe's reports at /__probe (only with the secret).
WRAPPER = r"""'use strict';
const fs = require('fs');
const http = require('http');
const path = require('path');
const dir = process.env.LOCK_REPORT_DIR;
const token = process.env.BRINDLEMAR_TOKEN || null;
fs.writeFileSync(path.join(dir, 'start.json'), JSON.stringify({ pid: process.pid, token }));
const hasSecret = (req) => token !== null && (req.headers.cookie || '').split(';')
  .some((c) => c.trim() === `brindlemar_token=${token}`);
const createServer = http.createServer;
http.createServer = (...args) => createServer(...args.slice(0, -1), (req, res) => {
  const listener = args[args.length - 1];
  fs.appendFileSync(path.join(dir, 'requests.jsonl'),
    JSON.stringify({ method: req.method, url: req.url, secret: hasSecret(req), agent: req.headers['user-agent'] || '' }) + '\n');
  if (req.url === '/__probe' && hasSecret(req)) {
    let body = '';
    req.on('data', (c) => { body += c; });
    req.on('end', () => {
      fs.appendFileSync(path.join(dir, 'probe.jsonl'), body.replace(/\n/g, ' ') + '\n');
      res.writeHead(204);
      res.end();
    });
    return;
  }
  listener(req, res);
});
require('./service-under-test.js');
"""

# Loaded by the library page: tells what page script sees of the cookies, relays the
# player events, and plays the bundled sample once its card is shown.
PROBE = r"""
const send = (data) => fetch('/__probe', { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(data) });
send({ cookie: document.cookie });
window.addEventListener('brindlemar-native-player', (e) => send({ event: e.detail }));
const timer = setInterval(() => {
  const thumb = document.querySelector('#grid .card[data-id="ejemplo"] .thumb');
  if (!thumb) return;
  clearInterval(timer);
  thumb.click();
}, 200);
"""


class ServiceLock(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.desktop = Desktop()
        try:
            tree = AppTree(cls.desktop, backend=BACKEND)
            backend = os.path.join(tree.root, 'share', 'brindlemar', 'backend')
            os.rename(os.path.join(backend, 'server.js'), os.path.join(backend, 'service-under-test.js'))
            with open(os.path.join(backend, 'server.js'), 'w') as f:
                f.write(WRAPPER)
            with open(os.path.join(backend, 'public', 'js', 'probe.js'), 'w') as f:
                f.write(PROBE)
            index = os.path.join(backend, 'public', 'index.html')
            with open(index) as f:
                html = f.read()
            with open(index, 'w') as f:
                f.write(html.replace('</body>', '<script src="/js/probe.js"></script></body>'))
            cls.reports = os.path.join(cls.desktop.root, 'lock')
            os.makedirs(cls.reports)
            cls.app = App(cls.desktop, tree, extra_env={'LOCK_REPORT_DIR': cls.reports})
            cls.start = wait_for(lambda: cls._json('start.json'), what='the service to start')
        except Exception:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        if getattr(cls, 'app', None):
            cls.app.stop()
        cls.desktop.close()

    @classmethod
    def _json(cls, name):
        path = os.path.join(cls.reports, name)
        if not os.path.exists(path):
            return None
        with open(path) as f:
            text = f.read()
        return json.loads(text) if text.endswith('}') else None

    def _lines(self, name):
        path = os.path.join(self.reports, name)
        if not os.path.exists(path):
            return []
        with open(path) as f:
            return [json.loads(line) for line in f if line.strip()]

    def probe(self):
        return self._lines('probe.jsonl')

    def curl(self, path, *args, cookie=None):
        command = ['curl', '-s', '-o', '/dev/null', '-w', '%{http_code}', '--max-time', '10', *args]
        if cookie:
            command += ['-H', f'Cookie: brindlemar_token={cookie}']
        return subprocess.run(command + [ORIGIN + path], capture_output=True, text=True, check=False).stdout

    def test_secret_is_in_the_environment_and_not_on_the_command_line(self):
        token = self.start['token']
        self.assertRegex(token or '', r'^[0-9a-f]{64}$')
        pid = self.start['pid']
        with open(f'/proc/{pid}/cmdline', 'rb') as f:
            self.assertNotIn(token.encode(), f.read())
        with open(f'/proc/{pid}/environ', 'rb') as f:
            self.assertIn(f'BRINDLEMAR_TOKEN={token}'.encode(), f.read().split(b'\0'))

    def test_page_loads_and_every_request_carries_the_secret_from_the_first(self):
        wait_for(lambda: any('cookie' in r for r in self.probe()), timeout=60, what='the library page')
        # Everything but the refused requests of the curl test below.
        requests = [r for r in self._lines('requests.jsonl') if not r['agent'].startswith('curl/')]
        self.assertEqual((requests[0]['method'], requests[0]['url']), ('GET', '/'))
        self.assertEqual([r for r in requests if not r['secret']], [])

    def test_page_script_cannot_read_the_secret(self):
        seen = wait_for(lambda: [r['cookie'] for r in self.probe() if 'cookie' in r], timeout=60,
                        what='the page to report its cookies')
        self.assertNotIn(self.start['token'], seen[0])
        self.assertNotIn('brindlemar_token', seen[0])

    def test_native_playback_of_the_sample_goes_through_the_lock(self):
        def events():
            return [r['event'] for r in self.probe() if 'event' in r]
        wait_for(lambda: [e for e in events() if e.get('type') == 'time' and e.get('position', 0) > 1.0],
                 timeout=90, what='native playback to move past one second')
        self.assertNotIn('error', [e.get('type') for e in events()])
        media = [r for r in self._lines('requests.jsonl') if r['url'].startswith('/media/ejemplo')]
        self.assertTrue(media, 'the player fetched the sample from the service')
        self.assertTrue(all(r['secret'] for r in media))

    def test_other_programs_get_403_everywhere(self):
        wait_for(lambda: self._lines('requests.jsonl'), timeout=60, what='the service to serve')
        cases = [
            ('/', []),
            ('/api/library', []),
            ('/api/browse?path=/', []),
            ('/media/ejemplo', []),
            ('/api/folders/add', ['-X', 'POST', '-H', 'Content-Type: application/json', '--data', '{"path":"/"}']),
        ]
        for path, args in cases:
            with self.subTest(path=path):
                self.assertEqual(self.curl(path, *args), '403')
                self.assertEqual(self.curl(path, *args, cookie='0' * 64), '403')
        # The same requests with the secret are served: the refusals above are the lock's.
        self.assertEqual(self.curl('/api/library', cookie=self.start['token']), '200')
        self.assertEqual(self.curl('/media/ejemplo', '-r', '0-99', cookie=self.start['token']), '206')


if __name__ == '__main__':
    unittest.main()
