'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const http = require('node:http');
const net = require('node:net');
const path = require('node:path');
const { spawn } = require('node:child_process');

const {
  BACKEND, SERVER, tempTree, startService, request, postJson, scanned,
} = require('./support/service');

test('the readiness line comes once, when the port already answers; the data folder is created', async () => {
  const root = tempTree();
  const dataDir = path.join(root, 'not', 'yet', 'there');
  const svc = await startService({ home: path.join(root, 'home'), dataDir });
  try {
    // Asked the moment the line is seen: listening must already be true.
    const r = await request(svc.port, { path: '/api/status' });
    assert.equal(r.status, 200);
    assert.ok(fs.statSync(dataDir).isDirectory());
    await scanned(svc.port);
    const lines = svc.output().split('\n').filter((l) => l.includes('Brindlemar disponible en'));
    assert.deepEqual(lines, [`Brindlemar disponible en http://127.0.0.1:${svc.port}`]);
  } finally {
    await svc.stop();
  }
});

test('a port in use is told on stderr with a non-zero exit and no readiness line', async () => {
  const blocker = net.createServer();
  await new Promise((r) => blocker.listen(0, '127.0.0.1', r));
  const { port } = blocker.address();
  const root = tempTree();
  try {
    await assert.rejects(
      startService({ home: path.join(root, 'home'), dataDir: path.join(root, 'data'), port }),
      (err) => {
        assert.notEqual(err.code, 0);
        assert.notEqual(err.code, null);
        assert.match(err.output, new RegExp(`puerto ${port}.*en uso`));
        assert.doesNotMatch(err.output, /disponible/);
        return true;
      },
    );
  } finally {
    blocker.close();
  }
});

test('a bad PORT or an uncreatable data folder ends the service with a message', async (t) => {
  const root = tempTree();
  fs.writeFileSync(path.join(root, 'file'), 'x');
  const cases = [
    ['PORT not a number', { env: { PORT: 'abc' } }, /puerto no válido/],
    ['data folder under a file', { dataDir: path.join(root, 'file', 'data') }, /carpeta de datos/],
  ];
  for (const [name, opts, message] of cases) {
    await t.test(name, async () => {
      await assert.rejects(
        startService({ home: path.join(root, 'home'), dataDir: path.join(root, 'data'), ...opts }),
        (err) => {
          assert.equal(err.code, 1);
          assert.match(err.output, message);
          assert.doesNotMatch(err.output, /disponible/);
          return true;
        },
      );
    });
  }
});

test('SIGTERM ends the service within a second, with a download open, and keeps the last change', async () => {
  const root = tempTree();
  const videos = path.join(root, 'home', 'Videos');
  fs.mkdirSync(videos, { recursive: true });
  // Large enough that the download is still going when the signal comes.
  fs.writeFileSync(path.join(videos, 'grande.mp4'), Buffer.alloc(64 * 1024 * 1024));
  const dataDir = path.join(root, 'data');
  const svc = await startService({ home: path.join(root, 'home'), dataDir });
  const lib = await scanned(svc.port);
  const id = lib.items.find((i) => i.title === 'grande').id;

  // An open, unread download on a keep-alive connection.
  const download = new Promise((resolve) => {
    const req = http.get({
      host: '127.0.0.1', port: svc.port, path: `/media/${id}`,
      headers: { Host: `127.0.0.1:${svc.port}`, Connection: 'keep-alive', Cookie: `brindlemar_token=${svc.token}` },
    }, (res) => {
      res.pause();
      resolve(res);
    });
    req.on('error', () => {});
  });
  const res = await download;
  res.on('error', () => {});
  assert.equal(res.statusCode, 200);

  await postJson(svc.port, '/api/progress', { id, position: 42, duration: 100 });
  const t0 = Date.now();
  svc.proc.kill('SIGTERM');
  const { code, signal } = await svc.exited;
  const took = Date.now() - t0;
  res.destroy();
  assert.equal(signal, null);
  assert.equal(code, 0);
  assert.ok(took < 1000, `took ${took} ms`);
  const saved = JSON.parse(fs.readFileSync(path.join(dataDir, 'state.json'), 'utf8'));
  assert.equal(saved.media[id].position, 42);
});

test('the service leaves when the program that started it dies without stopping it', async () => {
  const root = tempTree();
  const env = {
    ...process.env,
    HOME: path.join(root, 'home'),
    BRINDLEMAR_DATA_DIR: path.join(root, 'data'),
    BRINDLEMAR_BIND: '127.0.0.1',
    PORT: '0',
  };
  // A parent that starts the service and is then killed outright.
  const parent = spawn('sh', ['-c', `"${process.execPath}" "${SERVER}" & echo "pid $!"; wait`], {
    cwd: BACKEND, env, stdio: ['ignore', 'pipe', 'inherit'],
  });
  let out = '';
  await new Promise((resolve) => parent.stdout.on('data', (d) => {
    out += d;
    if (/disponible en/.test(out)) resolve();
  }));
  const pid = Number(/pid (\d+)/.exec(out)[1]);
  parent.kill('SIGKILL');
  const gone = () => {
    try {
      // A process that has exited but is not yet reaped counts as gone.
      return fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1][0] === 'Z';
    } catch {
      return true;
    }
  };
  const end = Date.now() + 4000;
  while (!gone() && Date.now() < end) await new Promise((r) => setTimeout(r, 50));
  const stillRunning = !gone();
  if (stillRunning) process.kill(pid, 'SIGKILL');
  assert.equal(stillRunning, false, 'the orphaned service was still running after 4 s');
});
