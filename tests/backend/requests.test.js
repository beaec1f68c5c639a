'use strict';
// Requests at the limits: bodies too large, preference values too long, downloads that stall.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const http = require('node:http');
const net = require('node:net');
const path = require('node:path');

const { sendMedia } = require('../../resources/backend/lib/media');
const { tempTree, startService, postJson, getJson } = require('./support/service');

let svc;

test.before(async () => {
  const root = tempTree();
  svc = await startService({ home: path.join(root, 'home'), dataDir: path.join(root, 'data') });
});
test.after(() => svc && svc.stop());

// Posts `size` bytes of JSON, with a Content-Length or chunked, and reads the answer.
function postLarge(size, chunked) {
  return new Promise((resolve, reject) => {
    const req = http.request({
      host: '127.0.0.1', port: svc.port, method: 'POST', path: '/api/prefs', agent: false,
      headers: {
        Host: `127.0.0.1:${svc.port}`, 'Content-Type': 'application/json',
        Cookie: `brindlemar_token=${svc.token}`,
        ...(chunked ? {} : { 'Content-Length': size }),
      },
    }, (res) => {
      let body = '';
      res.on('data', (c) => { body += c; });
      res.on('end', () => resolve({ status: res.statusCode, body }));
    });
    req.on('error', reject);
    const chunk = Buffer.alloc(16 * 1024, 0x20);
    let sent = 0;
    const more = () => {
      while (sent < size) {
        const n = Math.min(chunk.length, size - sent);
        sent += n;
        if (!req.write(chunk.subarray(0, n))) {
          req.once('drain', more);
          return;
        }
      }
      req.end();
    };
    more();
  });
}

test('a body over the limit gets its 413, whether its length is announced or not', async (t) => {
  for (const [name, size, chunked] of [['announced', 300 * 1024, false], ['chunked', 300 * 1024, true], ['announced, huge', 4 * 1024 * 1024, false]]) {
    await t.test(name, async () => {
      const r = await postLarge(size, chunked);
      assert.equal(r.status, 413);
      assert.match(JSON.parse(r.body).error, /demasiado grande/);
    });
  }
  // Just under the limit is read and judged on its content.
  assert.equal((await postLarge(60 * 1024, true)).status, 400);
  assert.equal((await postJson(svc.port, '/api/prefs', { audio: 'es' })).status, 200);
});

test('a language preference has a length limit', async () => {
  const cases = [
    ['pt-BR', 200],
    ['zh-Hant-TW', 200],
    [`es${'-abcdefgh'.repeat(3)}`, 200], // 29 characters
    [`es${'-abcdefgh'.repeat(4)}`, 400], // 38 characters
    [`es${'-abcdefgh'.repeat(6000)}`, 400], // the 54,002-character kind
  ];
  for (const [tag, status] of cases) {
    assert.equal((await postJson(svc.port, '/api/prefs', { subtitles: tag })).status, status, `${tag.length} characters`);
  }
  assert.equal((await getJson(svc.port, '/api/library')).prefs.subtitles, 'es-abcdefgh-abcdefgh-abcdefgh');
});

test('a download whose client stops reading is cut off once it has stalled', async (t) => {
  const file = path.join(tempTree(), 'grande.mp4');
  fs.writeFileSync(file, Buffer.alloc(32 * 1024 * 1024));
  let closed;
  const responseClosed = new Promise((resolve) => { closed = resolve; });
  const server = http.createServer((req, res) => {
    res.on('close', () => closed(Date.now()));
    sendMedia(req, res, { path: file, type: 'video/mp4' }, { stallMs: 300 });
  });
  await new Promise((r) => server.listen(0, '127.0.0.1', r));
  t.after(() => server.close());
  // A client that asks and then reads nothing at all.
  const socket = net.connect(server.address().port, '127.0.0.1');
  socket.write('GET /x HTTP/1.1\r\nHost: x\r\n\r\n');
  socket.pause();
  socket.on('error', () => {});
  t.after(() => socket.destroy());
  const started = Date.now();
  const at = await Promise.race([responseClosed, new Promise((_, reject) => setTimeout(() => reject(new Error('never cut off')), 10000))]);
  assert.ok(at - started >= 300, 'not before the client had stalled that long');
});
