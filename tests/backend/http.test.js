'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const { tempTree, startService, request, postJson, scanned } = require('./support/service');

// 1000 bytes whose values tell where they came from.
const BYTES = Buffer.from(Array.from({ length: 1000 }, (_, i) => i % 251));

let svc;
let port;
let clipId;

test.before(async () => {
  const root = tempTree();
  const videos = path.join(root, 'home', 'Videos');
  fs.mkdirSync(videos, { recursive: true });
  fs.writeFileSync(path.join(videos, 'clip.mp4'), BYTES);
  fs.writeFileSync(path.join(videos, 'otra.MKV'), 'x');
  fs.writeFileSync(path.join(root, 'secret.txt'), 'no');
  svc = await startService({ home: path.join(root, 'home'), dataDir: path.join(root, 'data') });
  port = svc.port;
  const lib = await scanned(port);
  clipId = lib.items.find((i) => i.title === 'clip').id;
});

test.after(() => svc && svc.stop());

test('range requests', async (t) => {
  const cases = [
    // name, Range header, status, Content-Range, expected slice [start, endExclusive]
    ['first bytes', 'bytes=0-99', 206, 'bytes 0-99/1000', [0, 100]],
    ['middle', 'bytes=500-509', 206, 'bytes 500-509/1000', [500, 510]],
    ['open end', 'bytes=990-', 206, 'bytes 990-999/1000', [990, 1000]],
    ['suffix', 'bytes=-10', 206, 'bytes 990-999/1000', [990, 1000]],
    ['suffix longer than the file', 'bytes=-5000', 206, 'bytes 0-999/1000', [0, 1000]],
    ['end past the end is cut', 'bytes=995-2000', 206, 'bytes 995-999/1000', [995, 1000]],
    ['last byte', 'bytes=999-999', 206, 'bytes 999-999/1000', [999, 1000]],
    ['start past the end', 'bytes=1000-', 416, 'bytes */1000', null],
    ['far past the end', 'bytes=5000-6000', 416, 'bytes */1000', null],
    ['empty suffix', 'bytes=-0', 416, 'bytes */1000', null],
    ['malformed: whole file', 'bytes=abc', 200, undefined, [0, 1000]],
    ['reversed: whole file', 'bytes=50-10', 200, undefined, [0, 1000]],
    ['other unit: whole file', 'items=0-5', 200, undefined, [0, 1000]],
    ['several ranges: whole file', 'bytes=0-1,5-6', 200, undefined, [0, 1000]],
  ];
  for (const [name, range, status, contentRange, slice] of cases) {
    await t.test(name, async () => {
      const r = await request(port, { path: `/media/${clipId}`, headers: { Range: range } });
      assert.equal(r.status, status);
      assert.equal(r.headers['content-range'], contentRange);
      assert.equal(r.headers['accept-ranges'], 'bytes');
      if (slice) {
        assert.deepEqual(r.body, BYTES.subarray(...slice));
        assert.equal(Number(r.headers['content-length']), slice[1] - slice[0]);
        assert.equal(r.headers['content-type'], 'video/mp4');
      } else {
        assert.equal(r.body.length, 0);
      }
    });
  }

  await t.test('If-Range of another version sends the whole file', async () => {
    const r = await request(port, { path: `/media/${clipId}`, headers: { Range: 'bytes=0-9', 'If-Range': '"old"' } });
    assert.equal(r.status, 200);
    assert.equal(r.body.length, 1000);
    const head = await request(port, { method: 'HEAD', path: `/media/${clipId}` });
    const same = await request(port, { path: `/media/${clipId}`, headers: { Range: 'bytes=0-9', 'If-Range': head.headers.etag } });
    assert.equal(same.status, 206);
  });
});

test('HEAD answers headers only; types follow the extension in any case', async () => {
  const r = await request(port, { method: 'HEAD', path: `/media/${clipId}` });
  assert.equal(r.status, 200);
  assert.equal(r.headers['content-length'], '1000');
  assert.equal(r.headers['accept-ranges'], 'bytes');
  assert.equal(r.body.length, 0);
  const ranged = await request(port, { method: 'HEAD', path: `/media/${clipId}`, headers: { Range: 'bytes=10-19' } });
  assert.equal(ranged.status, 206);
  assert.equal(ranged.headers['content-range'], 'bytes 10-19/1000');

  const lib = await scanned(port);
  const mkv = lib.items.find((i) => i.title === 'otra');
  assert.equal((await request(port, { method: 'HEAD', path: `/media/${mkv.id}` })).headers['content-type'], 'video/x-matroska');
  assert.equal((await request(port, { method: 'HEAD', path: '/media/ejemplo' })).headers['content-type'], 'video/x-matroska');
  assert.equal((await request(port, { method: 'POST', path: `/media/${clipId}` })).status, 405);
});

test('only library ids reach files: unknown ids and traversal are refused', async () => {
  const paths = [
    '/media/0123456789abcdef01234567',
    '/media/',
    '/media/../server.js',
    '/media/..%2fserver.js',
    '/media/%2e%2e%2f%2e%2e%2fsecret.txt',
    '/media/..%2F..%2Fsecret.txt',
    `/media/${clipId}/../../server.js`,
    '/../server.js',
    '/%2e%2e/server.js',
    '/server.js',
    '/lib/store.js',
    '/public/index.html',
    '/sample/ejemplo.mkv',
    '/..%5cserver.js',
    '/js/../../server.js',
  ];
  for (const p of paths) {
    const r = await request(port, { path: p });
    assert.ok(r.status === 404 || r.status === 400, `${p} gave ${r.status}`);
    assert.ok(!r.body.includes('require('), `${p} leaked source`);
  }
  // The page itself is served.
  const page = await request(port, { path: '/' });
  assert.equal(page.status, 200);
  assert.match(page.headers['content-type'], /^text\/html/);
});

test('only requests addressed to our own origin are served', async (t) => {
  const hosts = [
    ['rebound name', `rebind.example:${port}`, 421],
    ['localhost', `localhost:${port}`, 421],
    ['no port', '127.0.0.1', 421],
    ['other port', '127.0.0.1:1', 421],
    ['empty', '', 421],
    // Newer Node refuses a request without Host itself (400); either way it is refused.
    ['missing', null, [400, 421]],
  ];
  for (const [name, host, status] of hosts) {
    await t.test(name, async () => {
      for (const p of ['/', '/api/library', `/media/${clipId}`]) {
        const r = await request(port, { path: p, headers: { Host: host } });
        assert.ok([status].flat().includes(r.status), `${p} with Host ${host}: ${r.status}`);
      }
      const post = await postJson(port, '/api/prefs', { audio: 'en' }, { Host: host });
      assert.ok([status].flat().includes(post.status));
    });
  }

  await t.test('state changes refuse a foreign Origin', async () => {
    const refused = [
      { Origin: 'http://evil.example' },
      { Origin: `http://localhost:${port}` },
      { Origin: 'null' },
      { Origin: `https://127.0.0.1:${port}` },
      { 'Sec-Fetch-Site': 'cross-site' },
      { 'Sec-Fetch-Site': 'same-site' },
    ];
    for (const headers of refused) {
      const r = await postJson(port, '/api/prefs', { audio: 'en' }, headers);
      assert.equal(r.status, 403, JSON.stringify(headers));
    }
    // A form post cannot send JSON.
    const form = await request(port, {
      method: 'POST', path: '/api/prefs', body: 'audio=en',
      headers: { 'Content-Type': 'application/x-www-form-urlencoded' },
    });
    assert.equal(form.status, 415);
    const lib = await scanned(port);
    assert.equal(lib.prefs.audio, 'original', 'nothing refused took effect');

    const ok = await postJson(port, '/api/prefs', { audio: 'en' }, { Origin: `http://127.0.0.1:${port}`, 'Sec-Fetch-Site': 'same-origin' });
    assert.equal(ok.status, 200);
    assert.equal((await postJson(port, '/api/prefs', { audio: 'original' })).status, 200, 'no Origin (not a browser) is fine');
  });

  await t.test('reading stays open to any Origin on our Host (plain GET)', async () => {
    const r = await request(port, { path: '/api/status', headers: { Origin: 'http://evil.example' } });
    assert.equal(r.status, 200);
    assert.equal(r.headers['access-control-allow-origin'], undefined, 'no CORS: the other page cannot read it');
  });
});
