'use strict';
// What the scan lists: names as the file system gives them, and transport streams by content.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const { looksLikeTransportStream } = require('../../resources/backend/lib/scan');
const { tempTree, startService, request, scanned } = require('./support/service');

const bytes = (...parts) => Buffer.concat(parts.map((p) => (typeof p === 'string' ? Buffer.from(p) : Buffer.from(p))));

// n packets of `size` bytes, each starting with the sync byte after `lead` bytes.
function packets(n, size, lead = 0) {
  const b = Buffer.alloc(n * size, 0xff);
  for (let i = 0; i < n; i++) b[i * size + lead] = 0x47;
  return b;
}

test('files and folders whose names are not UTF-8 are listed, readable, and served', async (t) => {
  const root = tempTree();
  const videos = path.join(root, 'home', 'Videos');
  fs.mkdirSync(videos, { recursive: true });
  // "Película.mkv" and the folder "Señales" as Latin-1 bytes.
  const file = bytes(videos, '/Pel', [0xed], 'cula.mkv');
  const folder = bytes(videos, '/Se', [0xf1], 'ales');
  fs.writeFileSync(file, 'latin-1 name');
  fs.mkdirSync(folder);
  fs.writeFileSync(bytes(folder, '/capítulo 1.mp4'), 'inside');
  fs.writeFileSync(bytes(folder, '/', [0xff, 0xfe], '.mp4'), 'odd');

  const svc = await startService({ home: path.join(root, 'home'), dataDir: path.join(root, 'data') });
  t.after(() => svc.stop());
  const lib = await scanned(svc.port);
  const byTitle = Object.fromEntries(lib.items.map((i) => [i.title, i]));
  assert.deepEqual(Object.keys(byTitle).sort(), ['Ejemplo', 'Pel\ufffdcula', 'capítulo 1', '\ufffd\ufffd'].sort());
  assert.equal(byTitle['capítulo 1'].folder, 'Videos › Se\ufffdales');
  for (const [title, content] of [['Pel\ufffdcula', 'latin-1 name'], ['capítulo 1', 'inside'], ['\ufffd\ufffd', 'odd']]) {
    const r = await request(svc.port, { path: `/media/${byTitle[title].id}` });
    assert.equal(r.status, 200, title);
    assert.equal(r.body.toString(), content, title);
  }
  assert.deepEqual(lib.problems, []);
});

test('.ts, .mts and .m2ts files are videos only when they hold a transport stream', async (t) => {
  const cases = [
    // name, content, listed
    ['codigo.ts', 'export const x: number = 1;\n'.repeat(40), false],
    ['Generado.ts', `G${'x'.repeat(187)}G${'y'.repeat(400)}`, false], // "G" is the sync byte
    ['modulo.mts', 'export default 1;\n', false],
    ['vacio.ts', '', false],
    ['emision.ts', packets(4, 188), true],
    ['camara.mts', packets(4, 192, 4), true],
    ['disco.m2ts', packets(3, 192, 4), true],
    ['corto.ts', packets(1, 188), false],
  ];
  const root = tempTree();
  const videos = path.join(root, 'home', 'Videos');
  fs.mkdirSync(videos, { recursive: true });
  for (const [name, content] of cases) fs.writeFileSync(path.join(videos, name), content);
  const svc = await startService({ home: path.join(root, 'home'), dataDir: path.join(root, 'data') });
  t.after(() => svc.stop());
  const titles = new Set((await scanned(svc.port)).items.map((i) => i.title));
  for (const [name, , listed] of cases) {
    assert.equal(titles.has(path.basename(name, path.extname(name))), listed, name);
  }
  assert.equal(looksLikeTransportStream(packets(3, 188)), true);
});

test('a video whose name is not UTF-8 keeps its subtitle files, and its facts and poster are read', async (t) => {
  const { execFileSync } = require('node:child_process');
  let hasFfmpeg = true;
  try { execFileSync('ffmpeg', ['-version'], { stdio: 'ignore' }); } catch { hasFfmpeg = false; }
  const root = tempTree();
  const videos = path.join(root, 'home', 'Videos');
  fs.mkdirSync(videos, { recursive: true });
  // "Canción.mkv" with "Canción.es.srt" and "Canción.srt" beside it, as Latin-1 bytes;
  // "Canci.srt" and a UTF-8 "Canción.en.srt" name other files.
  const stem = bytes(videos, '/Canci', [0xf3], 'n');
  const video = bytes(stem, '.mkv');
  if (hasFfmpeg) {
    const made = path.join(root, 'made.mkv');
    execFileSync('ffmpeg', ['-v', 'error', '-y', '-f', 'lavfi', '-i', 'testsrc=size=320x180:rate=10:duration=2',
      '-c:v', 'libx264', '-preset', 'ultrafast', made]);
    fs.renameSync(made, video);
  } else {
    fs.writeFileSync(video, 'not really a video');
  }
  fs.writeFileSync(bytes(stem, '.es.srt'), '1\n00:00:00,000 --> 00:00:01,000\nHola\n');
  fs.writeFileSync(bytes(stem, '.srt'), '1\n00:00:00,000 --> 00:00:01,000\nSin idioma\n');
  fs.writeFileSync(bytes(videos, '/Canci.srt'), 'other');
  fs.writeFileSync(path.join(videos, 'Canción.en.srt'), 'other');

  const svc = await startService({ home: path.join(root, 'home'), dataDir: path.join(root, 'data') });
  t.after(() => svc.stop());
  let lib = await scanned(svc.port);
  const item = () => lib.items.find((i) => i.title === 'Canci\ufffdn');
  assert.ok(item(), JSON.stringify(lib.items.map((i) => i.title)));
  const files = item().subtitles.filter((s) => !s.embedded);
  assert.deepEqual(files.map((s) => [s.language, s.format]), [['es', 'srt'], [null, 'srt']]);
  for (const [sub, text] of [[files[0], 'Hola'], [files[1], 'Sin idioma']]) {
    const r = await request(svc.port, { path: sub.url });
    assert.equal(r.status, 200);
    assert.match(r.body.toString(), new RegExp(text));
  }
  if (!hasFfmpeg) return;
  const end = Date.now() + 60000;
  while (lib.probing.pending > 0 || !item().probed) {
    if (Date.now() > end) assert.fail('probing did not finish');
    await new Promise((r) => setTimeout(r, 100));
    lib = await scanned(svc.port);
  }
  assert.deepEqual([item().width, item().height], [320, 180]);
  assert.ok(item().duration > 1.5 && item().duration < 2.5, String(item().duration));
  assert.ok(item().poster);
  const poster = await request(svc.port, { path: item().poster });
  assert.equal(poster.status, 200);
  assert.ok(poster.body.length > 0);
});
