'use strict';
// Connections that never show the shell's cookie: however many, the shell's own requests
// are served, and none of them is held for long.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const net = require('node:net');
const path = require('node:path');
const { execFileSync } = require('node:child_process');

const { tempTree, startService, request, scanned } = require('./support/service');

// The service's descriptor limit, lowered below the size of the flood.
const LIMIT = 200;
const FLOOD = 800;

function openLimit(pid) {
  return Number(/^Max open files\s+(\d+)/m.exec(fs.readFileSync(`/proc/${pid}/limits`, 'utf8'))[1]);
}

test('a flood of connections without the cookie neither starves the page nor stays connected', { timeout: 120000 }, async (t) => {
  const root = tempTree();
  const home = path.join(root, 'home');
  fs.mkdirSync(path.join(home, 'Videos'), { recursive: true });
  fs.writeFileSync(path.join(home, 'Videos', 'clip.mp4'), Buffer.alloc(64 * 1024, 7));
  const svc = await startService({ home, dataDir: path.join(root, 'data') });
  t.after(() => svc.stop());
  const clip = (await scanned(svc.port)).items.find((i) => i.title === 'clip');
  execFileSync('prlimit', ['--pid', String(svc.proc.pid), `--nofile=${LIMIT}:${LIMIT}`]);
  assert.equal(openLimit(svc.proc.pid), LIMIT);

  // Idle connections, and connections stuck in the middle of their headers.
  const flood = [];
  const kinds = ['', `GET / HTTP/1.1\r\nHost: 127.0.0.1:${svc.port}\r\n`];
  await Promise.all(Array.from({ length: FLOOD }, (_, i) => new Promise((resolve) => {
    const socket = net.connect(svc.port, '127.0.0.1');
    const entry = { socket, closed: new Promise((r) => socket.on('close', r)) };
    flood.push(entry);
    socket.on('error', () => {});
    socket.on('data', () => {});
    socket.once('connect', () => {
      const text = kinds[i % kinds.length];
      if (text) socket.write(text);
      resolve();
    });
    socket.once('close', resolve);
  })));
  t.after(() => flood.forEach((f) => f.socket.destroy()));

  // The page, its style and script, the library and a video: each asked once, each served.
  for (const p of ['/', '/app.css', '/js/app.js', '/api/library', `/media/${clip.id}`]) {
    const r = await request(svc.port, { path: p });
    assert.equal(r.status, 200, p);
  }

  // A request without the cookie is refused, and its connection closed.
  const refused = await new Promise((resolve, reject) => {
    const socket = net.connect(svc.port, '127.0.0.1');
    let text = '';
    socket.on('data', (d) => { text += d; });
    socket.on('error', reject);
    socket.on('close', () => resolve(text));
    socket.write(`GET /api/library HTTP/1.1\r\nHost: 127.0.0.1:${svc.port}\r\n\r\n`);
  });
  assert.match(refused, /^HTTP\/1\.1 403 /);

  // Every flood connection is closed by the service, long before the old minute and a half.
  const end = Date.now() + 30000;
  for (const f of flood) {
    const left = end - Date.now();
    let timer;
    const outcome = await Promise.race([f.closed.then(() => 'closed'),
      new Promise((r) => { timer = setTimeout(() => r('open'), Math.max(0, left)); })]);
    clearTimeout(timer);
    assert.equal(outcome, 'closed', 'a connection without the cookie is still open after 30 s');
  }
});
