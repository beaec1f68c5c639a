'use strict';
// Library files that fight back: unreadable files, files swapped for FIFOs while they are
// probed, and text files dressed as videos that would send ffmpeg elsewhere.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync, spawnSync } = require('node:child_process');

const { hasVideoContent } = require('../../resources/backend/lib/scan');
const { openRegularFile } = require('../../resources/backend/lib/library-file');
const { tempTree, copyBackend, startService, request, postJson, scanned } = require('./support/service');
const { FFMPEG, makeClip, wrappedTools, probed, byTitle } = require('./support/media');

const NOBODY = 65534;

function mkfifo(file) {
  const made = spawnSync('mkfifo', [file]);
  assert.equal(made.status, 0, 'mkfifo is not available');
}

// A FIFO's readers blocked in open() are let go by a writer that opens and leaves.
function releaseReaders(fifo) {
  try {
    fs.closeSync(fs.openSync(fifo, fs.constants.O_WRONLY | fs.constants.O_NONBLOCK));
  } catch {
    // nobody was waiting on it
  }
}

// Resolves to what `promise` gives, or to `late` once `ms` have passed.
function within(promise, ms, late = 'no answer') {
  let timer;
  return Promise.race([promise, new Promise((r) => { timer = setTimeout(() => r(late), ms); })])
    .finally(() => clearTimeout(timer));
}

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

test('the readers of library files refuse at once what is not a regular file', async (t) => {
  const dir = tempTree();
  const file = (name) => path.join(dir, name);
  // Two transport-stream packets, for the scan's content check.
  const packets = Buffer.alloc(2 * 188, 0xff);
  packets[0] = 0x47;
  packets[188] = 0x47;
  fs.writeFileSync(file('emision.ts'), packets);
  fs.symlinkSync(file('emision.ts'), file('enlace-bueno.ts'));
  mkfifo(file('tubo.ts'));
  fs.symlinkSync(file('tubo.ts'), file('enlace-tubo.ts'));
  fs.mkdirSync(file('carpeta.ts'));
  t.after(() => releaseReaders(file('tubo.ts')));

  const cases = [
    // name, a regular file (through a link or not)
    ['emision.ts', true],
    ['enlace-bueno.ts', true],
    ['tubo.ts', false],
    ['enlace-tubo.ts', false],
    ['carpeta.ts', false],
  ];
  for (const [name, regular] of cases) {
    const opened = await within(openRegularFile(file(name)).then(
      async ({ fh, stat }) => { await fh.close(); return stat.isFile(); },
      (err) => err.code,
    ), 5000);
    if (regular) assert.equal(opened, true, name);
    else assert.ok(opened === 'ENOTREG' || opened === 'EISDIR', `${name}: ${opened}`);
    assert.equal(await within(hasVideoContent(Buffer.from(file(name))), 5000), regular, name);
  }
});

test('videos swapped for FIFOs while they are probed hold up neither the probe nor the service', async (t) => {
  const root = tempTree();
  const home = path.join(root, 'home');
  const videos = path.join(home, 'Videos');
  const clip = makeClip(path.join(root, 'clip.mkv'));
  fs.mkdirSync(videos, { recursive: true });
  for (const name of ['a', 'b', 'c', 'd', 'z1', 'z2']) fs.copyFileSync(clip, path.join(videos, `${name}.mkv`));
  // Every probe waits at the gate, so the FIFOs are in place before z1 and z2 are opened.
  const gate = path.join(root, 'gate');
  const tools = wrappedTools(path.join(root, 'tools'), {
    ffprobe: `while [ ! -e "${gate}" ]; do sleep 0.05; done`,
  });
  // As many worker threads as probes run at once on four cores and up.
  const env = { PATH: `${tools}:/usr/bin:/bin`, UV_THREADPOOL_SIZE: '2' };
  const svc = await startService({ home, dataDir: path.join(root, 'data'), env });
  const fifos = ['z1', 'z2'].map((n) => path.join(videos, `${n}.mkv`));
  t.after(async () => {
    svc.proc.kill('SIGKILL');
    await svc.exited;
    fifos.forEach(releaseReaders);
  });

  const before = byTitle(await scanned(svc.port));
  assert.ok((await scanned(svc.port)).probing.pending > 0, 'probing is under way');
  for (const fifo of fifos) {
    const aside = path.join(videos, `.${path.basename(fifo)}`);
    mkfifo(aside);
    fs.renameSync(aside, fifo);
  }
  fs.writeFileSync(gate, '');

  const lib = byTitle(await probed(svc.port, 30000));
  for (const name of ['a', 'b', 'c', 'd']) assert.equal(lib[name].probed, true, name);
  for (const name of ['z1', 'z2']) assert.equal(lib[name].probed, false, name);

  // The page, its script and the videos are served...
  const answer = (p) => within(request(svc.port, { path: p }).then((r) => r.status), 10000);
  assert.equal(await answer('/'), 200);
  assert.equal(await answer('/js/app.js'), 200);
  assert.equal(await answer(`/media/${lib.a.id}`), 200);
  assert.equal(await answer(`/media/${before.z1.id}`), 404);
  // ...a folder added now is probed...
  const extra = path.join(root, 'Más');
  fs.mkdirSync(extra);
  fs.copyFileSync(clip, path.join(extra, 'nuevo.mkv'));
  assert.equal((await postJson(svc.port, '/api/folders/add', { path: extra })).status, 200);
  const after = byTitle(await probed(svc.port, 30000));
  assert.equal(after.nuevo.probed, true);
  assert.equal(after.z1, undefined, 'the FIFOs are no longer listed');
  // ...and SIGTERM ends the service.
  assert.notEqual(await within(svc.stop(), 10000, 'still running'), 'still running');
});

test('playlists, concat scripts and pictures named as videos are not read, nor what they point to', async (t) => {
  const root = tempTree();
  const home = path.join(root, 'home');
  const videos = path.join(home, 'Videos');
  fs.mkdirSync(videos, { recursive: true });
  // A 4 s clip outside every library folder, which the disguised files point to.
  const outside = makeClip(path.join(root, 'fuera', 'privado.ts'), { seconds: 4 });
  makeClip(path.join(videos, 'real.mkv'));
  const cases = [
    ['lista.mp4', `#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:4\n#EXTINF:4.0,\nfile://${outside}\n#EXT-X-ENDLIST\n`],
    ['guion.mkv', `ffconcat version 1.0\nfile 'file:${outside}'\nfile privado.ts\n`],
    ['foto.mp4', null], // a JPEG picture, read as a sequence of one image
  ];
  for (const [name, text] of cases) {
    if (text !== null) fs.writeFileSync(path.join(videos, name), text);
  }
  execFileSync(FFMPEG, ['-v', 'error', '-f', 'lavfi', '-i', 'testsrc=size=320x180', '-frames:v', '1',
    '-f', 'image2', '-c:v', 'mjpeg', path.join(videos, 'foto.mp4')]);

  const svc = await startService({ home, dataDir: path.join(root, 'data') });
  t.after(() => svc.stop());
  const lib = byTitle(await probed(svc.port));
  assert.equal(lib.real.probed, true);
  for (const [name] of cases) {
    const item = lib[path.basename(name, path.extname(name))];
    assert.deepEqual([item.probed, item.duration, item.width, item.poster], [false, null, null, null], name);
  }
});
