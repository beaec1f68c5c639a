'use strict';
// The ways the service ends: signals that save first, and a launcher that is gone.
const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const {
  BACKEND, SERVER, newSecret, tempTree, startService, postJson, scanned,
} = require('./support/service');

function gone(pid) {
  try {
    // A process that has exited but is not yet reaped counts as gone.
    return fs.readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1][0] === 'Z';
  } catch {
    return true;
  }
}

async function goneWithin(pid, ms) {
  const end = Date.now() + ms;
  while (!gone(pid) && Date.now() < end) await new Promise((r) => setTimeout(r, 50));
  const left = !gone(pid);
  if (left) process.kill(pid, 'SIGKILL');
  return !left;
}

function serviceEnv(root, extra = {}) {
  const env = Object.fromEntries(Object.entries(process.env)
    .filter(([k]) => !k.startsWith('BRINDLEMAR_') && !k.startsWith('NODE_')));
  return {
    ...env, HOME: path.join(root, 'home'), BRINDLEMAR_DATA_DIR: path.join(root, 'data'),
    BRINDLEMAR_BIND: '127.0.0.1', PORT: '0', ...extra,
  };
}

test('SIGHUP and SIGQUIT end the service cleanly, with the last change saved', async (t) => {
  for (const signal of ['SIGHUP', 'SIGQUIT', 'SIGINT']) {
    await t.test(signal, async () => {
      const root = tempTree();
      const dataDir = path.join(root, 'data');
      const svc = await startService({ home: path.join(root, 'home'), dataDir });
      await scanned(svc.port);
      await postJson(svc.port, '/api/progress', { id: 'ejemplo', position: 3.5 });
      svc.proc.kill(signal);
      assert.deepEqual(await svc.exited, { code: 0, signal: null });
      const saved = JSON.parse(fs.readFileSync(path.join(dataDir, 'state.json'), 'utf8'));
      assert.equal(saved.media.ejemplo.position, 3.5);
    });
  }
});

test('a service whose launcher died before it started leaves', async (t) => {
  // Orphans must go to process 1 here for "already gone" to be seen at start.
  const probe = spawnSync('sh', ['-c', 'sleep 2 >/dev/null 2>&1 & echo $!'], { encoding: 'utf8' });
  const orphanParent = fs.readFileSync(`/proc/${probe.stdout.trim()}/stat`, 'utf8').split(') ')[1].split(' ')[1];
  if (orphanParent !== '1') {
    assert.fail('orphans are adopted by a subreaper on this machine: the test cannot see "already gone"');
  }
  const root = tempTree();
  const log = path.join(root, 'log');
  // The launcher exits at once; the service is started with the shell's secret.
  const launcher = spawnSync('sh', ['-c', `"${process.execPath}" "${SERVER}" >"${log}" 2>&1 & echo $!`], {
    cwd: BACKEND, env: serviceEnv(root, { BRINDLEMAR_TOKEN: newSecret() }), encoding: 'utf8',
  });
  const pid = Number(launcher.stdout.trim());
  assert.ok(await goneWithin(pid, 4000), `the orphaned service was still running after 4 s:\n${fs.readFileSync(log, 'utf8')}`);
});

test('a service whose output nobody reads any more leaves', async () => {
  const root = tempTree();
  const proc = spawn(process.execPath, [SERVER], {
    cwd: BACKEND, env: serviceEnv(root, { BRINDLEMAR_TOKEN: newSecret() }), stdio: ['ignore', 'pipe', 'pipe'],
  });
  // The reading end closes, as when the program that started us has gone.
  proc.stdout.destroy();
  proc.stderr.destroy();
  assert.ok(await goneWithin(proc.pid, 4000), 'still running 4 s after its output was closed');
});
