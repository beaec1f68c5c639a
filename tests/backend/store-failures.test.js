'use strict';
// Saves that cannot be written lose nothing; another copy's temporary files are left alone.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const { JsonStore, readJson } = require('../../resources/backend/lib/store');
const { tempTree, copyBackend, startService, postJson, getJson, scanned } = require('./support/service');

const NOBODY = 65534;

async function until(check, what, timeoutMs = 8000) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const v = await check();
    if (v) return v;
    if (Date.now() > end) assert.fail(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 50));
  }
}

test('a data folder that refuses writes: the change is kept, told to the page, retried, and saved at exit', async (t) => {
  const root = tempTree();
  const home = path.join(root, 'home');
  const dataDir = path.join(root, 'data');
  fs.mkdirSync(dataDir, { mode: 0o700 });
  // Root writes whatever the mode, so as root the service runs as nobody.
  let opts = {};
  if (process.getuid() === 0) {
    fs.chmodSync(root, 0o755);
    fs.chownSync(dataDir, NOBODY, NOBODY);
    opts = { uid: NOBODY, gid: NOBODY, backend: copyBackend(path.join(root, 'backend')) };
  }
  const svc = await startService({ home, dataDir, ...opts });
  t.after(() => svc.stop());
  await scanned(svc.port);

  fs.chmodSync(dataDir, 0o500);
  const r = await postJson(svc.port, '/api/prefs', { audio: 'fr' });
  assert.equal(r.status, 200);
  const status = await until(async () => {
    const st = await getJson(svc.port, '/api/status');
    return st.saveProblem && st;
  }, 'the save problem to be told');
  assert.match(status.saveProblem, /No se pudieron guardar/);
  assert.match((await getJson(svc.port, '/api/library')).saveProblem, /No se pudieron guardar/);
  assert.equal(readJson(path.join(dataDir, 'state.json')).data, undefined, 'nothing could be written');

  // Writable again: a retry saves the change without any new request, and the notice goes.
  fs.chmodSync(dataDir, 0o700);
  await until(() => fs.existsSync(path.join(dataDir, 'state.json')), 'the retried save', 10000);
  assert.equal(readJson(path.join(dataDir, 'state.json')).data.prefs.audio, 'fr');
  assert.equal((await getJson(svc.port, '/api/status')).saveProblem, null);

  // A change that fails, made writable just before a clean exit, is on disk afterwards.
  fs.chmodSync(dataDir, 0o500);
  await postJson(svc.port, '/api/prefs', { audio: 'de' });
  await until(async () => (await getJson(svc.port, '/api/status')).saveProblem, 'the second failure');
  fs.chmodSync(dataDir, 0o700);
  await svc.stop();
  assert.equal(readJson(path.join(dataDir, 'state.json')).data.prefs.audio, 'de');
});

// A store whose file is in a folder of its own, and the errors it reported, in order.
function storeInFolder() {
  const dir = path.join(tempTree(), 'gone');
  fs.mkdirSync(dir);
  const file = path.join(dir, 'state.json');
  const store = new JsonStore(file, (raw) => raw || { n: 0 });
  const errors = [];
  store.onErrorChange = (err) => errors.push(err && err.code);
  return { dir, file, store, errors };
}

test('flush() writes again what an earlier save could not', async () => {
  const { dir, file, store, errors } = storeInFolder();
  fs.rmSync(dir, { recursive: true }); // every write fails, whoever we run as
  store.data.n = 7;
  await store.changed();
  assert.equal(store.lastError.code, 'ENOENT');
  fs.mkdirSync(dir);
  await store.flush();
  assert.equal(store.lastError, null);
  assert.deepEqual(errors, ['ENOENT', null]);
  assert.equal(readJson(file).data.n, 7);
});

test('a failed save lands as soon as the folder takes writes again, not at its next retry', async (t) => {
  // The store's clock is the test's: retries and checks run only when the test moves it.
  t.mock.timers.enable({ apis: ['setTimeout'] });
  // Real time passes while the file system answers (timers of our own would be mocked).
  const settle = async () => {
    const end = Date.now() + 150;
    while (Date.now() < end) await new Promise((r) => setImmediate(r));
  };
  const { dir, file, store, errors } = storeInFolder();
  fs.rmSync(dir, { recursive: true });
  store.data.n = 3;
  await store.changed();
  assert.equal(store.lastError.code, 'ENOENT');
  // Failing for a while: the retries space out, 16 s apart by now.
  for (const ms of [1000, 2000, 4000, 8000]) {
    t.mock.timers.tick(ms);
    await settle();
  }
  assert.equal(store.lastError.code, 'ENOENT');
  fs.mkdirSync(dir);
  t.mock.timers.tick(2000);
  await settle();
  assert.equal(store.lastError, null, 'saved within two seconds of the folder coming back');
  assert.equal(readJson(file).data.n, 3);
  assert.deepEqual(errors, ['ENOENT', null]);
});

test('only temporary files whose writer is gone are removed at start', () => {
  const dir = tempTree();
  const file = path.join(dir, 'state.json');
  // A process that has surely ended, and one that runs (this one's parent shell or us).
  const dead = spawnSync('true').pid;
  const live = process.ppid > 1 ? process.ppid : process.pid;
  const names = {
    dead: `.state.json.tmp-${dead}-1`,
    live: `.state.json.tmp-${live}-3`,
    other: '.otro.json.tmp-1-1',
  };
  for (const name of Object.values(names)) fs.writeFileSync(path.join(dir, name), 'x');
  new JsonStore(file, (raw) => raw || {}); // eslint-disable-line no-new
  const left = fs.readdirSync(dir);
  assert.ok(!left.includes(names.dead), 'a dead writer\'s temporary goes');
  assert.ok(left.includes(names.live), 'a running writer\'s temporary stays');
  assert.ok(left.includes(names.other), 'another file\'s temporary stays');
});

test('a second copy that finds the port taken leaves the running copy\'s saves alone', async (t) => {
  const root = tempTree();
  const home = path.join(root, 'home');
  const dataDir = path.join(root, 'data');
  const first = await startService({ home, dataDir });
  t.after(() => first.stop());
  await scanned(first.port);
  // The running copy's save in flight, as the second copy starts.
  const tmp = path.join(dataDir, `.state.json.tmp-${first.proc.pid}-99`);
  fs.writeFileSync(tmp, '{"half":');
  await assert.rejects(startService({ home, dataDir, port: first.port }), /en uso/);
  assert.ok(fs.existsSync(tmp));
});

test('a FIFO where the state file should be does not hold up the start', async (t) => {
  const root = tempTree();
  const dataDir = path.join(root, 'data');
  fs.mkdirSync(dataDir);
  const made = spawnSync('mkfifo', [path.join(dataDir, 'state.json')]);
  assert.equal(made.status, 0, 'mkfifo is not available');
  const svc = await startService({ home: path.join(root, 'home'), dataDir });
  t.after(() => svc.stop());
  const lib = await scanned(svc.port);
  assert.match(lib.notice, /no es un archivo normal/);
  assert.equal((await postJson(svc.port, '/api/prefs', { audio: 'es' })).status, 200);
  await svc.stop();
  assert.equal(readJson(path.join(dataDir, 'state.json')).data.prefs.audio, 'es');
  assert.ok(fs.readdirSync(dataDir).some((n) => n.startsWith('state.json.corrupt-')));
});
