'use strict';
// Library files that fight back: unreadable files, files swapped for FIFOs while they are
// probed, and text files dressed as videos that would send ffmpeg elsewhere.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const { tempTree, copyBackend, startService, request, scanned } = require('./support/service');
const { byTitle } = require('./support/media');

const NOBODY = 65534;

test('a library file the service cannot read is refused with a status, by HEAD and GET alike', async (t) => {
  const root = tempTree();
  const home = path.join(root, 'home');
  const videos = path.join(home, 'Videos');
  const dataDir = path.join(root, 'data');
  fs.mkdirSync(videos, { recursive: true });
  fs.writeFileSync(path.join(videos, 'abierto.mp4'), 'readable');
  fs.writeFileSync(path.join(videos, 'cerrado.mp4'), 'closed', { mode: 0o000 });
  fs.writeFileSync(path.join(root, 'secreto.bin'), 'someone else\'s', { mode: 0o000 });
  fs.symlinkSync(path.join(root, 'secreto.bin'), path.join(videos, 'enlace.mp4'));
  fs.chmodSync(path.join(videos, 'cerrado.mp4'), 0o000);
  // Root reads any file, so as root the service runs as nobody, from its own copy.
  let opts = {};
  if (process.getuid() === 0) {
    fs.chmodSync(root, 0o755);
    fs.mkdirSync(dataDir);
    fs.chownSync(dataDir, NOBODY, NOBODY);
    opts = { uid: NOBODY, gid: NOBODY, backend: copyBackend(path.join(root, 'backend')) };
  }
  const svc = await startService({ home, dataDir, ...opts });
  t.after(() => svc.stop());
  const t1 = byTitle(await scanned(svc.port));
  for (const title of ['cerrado', 'enlace']) {
    for (const method of ['HEAD', 'GET']) {
      const r = await request(svc.port, { method, path: `/media/${t1[title].id}` });
      assert.ok(r.status === 403 || r.status === 404, `${method} ${title}: ${r.status}`);
      assert.equal(r.headers['accept-ranges'], undefined, `${method} ${title} promises no bytes`);
    }
  }
  const ok = await request(svc.port, { path: `/media/${t1.abierto.id}` });
  assert.deepEqual([ok.status, ok.body.toString()], [200, 'readable']);
});
