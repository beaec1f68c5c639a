'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const { readJson } = require('../../resources/backend/lib/store');
const { tempTree, startService, postJson, getJson, scanned } = require('./support/service');

function runWriterAndKill(file, afterMs) {
  return new Promise((resolve) => {
    const proc = spawn(process.execPath, [path.join(__dirname, 'support/store-writer.js'), file], {
      stdio: ['ignore', 'pipe', 'inherit'],
    });
    let out = '';
    proc.stdout.on('data', (d) => { out += d; });
    setTimeout(() => proc.kill('SIGKILL'), afterMs);
    proc.on('exit', () => {
      const done = out.split('\n').filter(Boolean).map(Number);
      resolve(done.length ? done[done.length - 1] : 0);
    });
  });
}

test('a kill at any moment of a save loop leaves a whole document, at least as new as the last finished save', async () => {
  const dir = tempTree();
  const file = path.join(dir, 'state.json');
  for (const ms of [60, 110, 170, 230, 290, 370]) {
    const lastDone = await runWriterAndKill(file, ms);
    const { data, note } = readJson(file);
    assert.equal(note, null, `after a kill at ${ms} ms the file must still parse`);
    if (lastDone > 0) {
      assert.ok(data, 'a finished save must be on disk');
      assert.ok(data.counter >= lastDone, `saved ${lastDone}, found ${data.counter}`);
      assert.equal(data.items.length, 2000);
      assert.ok(data.items.every((s) => s.startsWith(`${data.counter}-`)), 'items from one save only');
    }
  }
  // Interrupted saves may leave temporary files; the next start removes them.
  const { JsonStore } = require('../../resources/backend/lib/store');
  new JsonStore(file, (raw) => raw); // eslint-disable-line no-new
  assert.deepEqual(fs.readdirSync(dir).filter((n) => n.includes('.tmp-')), []);
});

test('an unreadable state file is kept aside and the service starts with a fresh library', async (t) => {
  const cases = [
    ['torn JSON', '{"version":1,"media":{"abc":{"posi'],
    ['not an object', '[1,2,3]'],
    ['binary noise', '\u0000\u0001\u00ff garbage'],
  ];
  for (const [name, content] of cases) {
    await t.test(name, async () => {
      const root = tempTree();
      const dataDir = path.join(root, 'data');
      fs.mkdirSync(dataDir);
      fs.writeFileSync(path.join(dataDir, 'state.json'), content);
      const svc = await startService({ home: path.join(root, 'home'), dataDir });
      try {
        const lib = await scanned(svc.port);
        assert.deepEqual(lib.prefs, { audio: 'original', subtitles: 'off' });
        assert.match(lib.notice, /state\.json/);
        const aside = fs.readdirSync(dataDir).filter((n) => n.startsWith('state.json.corrupt-'));
        assert.equal(aside.length, 1);
        assert.equal(fs.readFileSync(path.join(dataDir, aside[0]), 'utf8'), content, 'the bad file is kept as it was');
        // The fresh state is saved normally from then on.
        const r = await postJson(svc.port, '/api/prefs', { audio: 'es' });
        assert.equal(r.status, 200);
      } finally {
        await svc.stop();
      }
      assert.equal(JSON.parse(fs.readFileSync(path.join(dataDir, 'state.json'), 'utf8')).prefs.audio, 'es');
    });
  }
});

test('positions, watched marks, folders and preferences survive a restart', async () => {
  const root = tempTree();
  const home = path.join(root, 'home');
  const extra = path.join(root, 'extra');
  fs.mkdirSync(path.join(home, 'Videos'), { recursive: true });
  fs.mkdirSync(extra);
  fs.writeFileSync(path.join(home, 'Videos', 'uno.mp4'), 'x');
  fs.writeFileSync(path.join(extra, 'dos.mkv'), 'x');
  const dataDir = path.join(root, 'data');

  let svc = await startService({ home, dataDir });
  let lib = await scanned(svc.port);
  const uno = lib.items.find((i) => i.title === 'uno').id;
  await postJson(svc.port, '/api/progress', { id: uno, position: 125.5, duration: 3600 });
  await postJson(svc.port, '/api/watched', { id: 'ejemplo', watched: true });
  await postJson(svc.port, '/api/prefs', { audio: 'en', subtitles: 'pt-BR' });
  assert.equal((await postJson(svc.port, '/api/folders/add', { path: extra })).status, 200);
  await svc.stop();

  svc = await startService({ home, dataDir });
  try {
    lib = await scanned(svc.port);
    const byTitle = Object.fromEntries(lib.items.map((i) => [i.title, i]));
    assert.equal(byTitle.uno.position, 125.5);
    assert.equal(byTitle.uno.duration, 3600);
    assert.equal(byTitle.Ejemplo.watched, true);
    assert.ok(byTitle.dos, 'the added folder is scanned again');
    assert.deepEqual(lib.prefs, { audio: 'en', subtitles: 'pt-BR' });
  } finally {
    await svc.stop();
  }
});

test('progress: the last stretch marks a video watched; watched and positions are checked', async () => {
  const root = tempTree();
  const home = path.join(root, 'home');
  fs.mkdirSync(path.join(home, 'Videos'), { recursive: true });
  fs.writeFileSync(path.join(home, 'Videos', 'peli.mp4'), 'x');
  const svc = await startService({ home, dataDir: path.join(root, 'data') });
  try {
    const id = (await scanned(svc.port)).items.find((i) => i.title === 'peli').id;
    const item = async () => (await getJson(svc.port, '/api/library')).items.find((i) => i.id === id);

    await postJson(svc.port, '/api/progress', { id, position: 600, duration: 1000 });
    assert.deepEqual([(await item()).position, (await item()).watched], [600, false]);
    // 1000 s video: finished from 970 s on (30 s cap of the last 5 %).
    await postJson(svc.port, '/api/progress', { id, position: 975, duration: 1000 });
    assert.deepEqual([(await item()).position, (await item()).watched], [0, true]);
    // Watching again keeps the mark and tracks the new position.
    await postJson(svc.port, '/api/progress', { id, position: 50 });
    assert.deepEqual([(await item()).position, (await item()).watched], [50, true]);
    await postJson(svc.port, '/api/watched', { id, watched: false });
    assert.deepEqual([(await item()).position, (await item()).watched], [50, false]);

    const bad = [
      ['/api/progress', { id, position: -1 }, 400],
      ['/api/progress', { id, position: '12' }, 400],
      ['/api/progress', { id, position: 1, duration: 'x' }, 400],
      ['/api/progress', { id: 'nope', position: 1 }, 404],
      ['/api/progress', { id: '__proto__', position: 1 }, 404],
      ['/api/watched', { id, watched: 'yes' }, 400],
      ['/api/duration', { id, duration: 0 }, 400],
      ['/api/prefs', { audio: 'español' }, 400],
      ['/api/prefs', { subtitles: 'original' }, 400],
    ];
    for (const [p, body, status] of bad) {
      assert.equal((await postJson(svc.port, p, body)).status, status, `${p} ${JSON.stringify(body)}`);
    }
    assert.equal((await item()).position, 50, 'refused requests change nothing');
  } finally {
    await svc.stop();
  }
});
