'use strict';
// Only the holder of the launch secret reaches the service.
const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');

const { tempTree, startService, request, getJson } = require('./support/service');

const ROUTES = [
  // kind, method, path, body
  ['page', 'GET', '/'],
  ['static file', 'GET', '/js/app.js'],
  ['API read', 'GET', '/api/library'],
  ['folder listing', 'GET', '/api/browse?path=/'],
  ['API write', 'POST', '/api/folders/add', { path: '/' }],
  ['API write', 'POST', '/api/prefs', { audio: 'es' }],
  ['media', 'GET', '/media/ejemplo'],
  ['media, ranged HEAD', 'HEAD', '/media/ejemplo'],
  ['unknown path', 'GET', '/nada'],
];

function send(port, [, method, p, body], cookie, extra = {}) {
  return request(port, {
    method, path: p,
    headers: { Cookie: cookie, ...(body ? { 'Content-Type': 'application/json' } : {}), ...extra },
    body,
  });
}

test('locked service: every route kind needs the exact cookie', async (t) => {
  const root = tempTree();
  const svc = await startService({ home: path.join(root, 'home'), dataDir: path.join(root, 'data') });
  t.after(() => svc.stop());
  const secret = svc.token;
  const refusedCookies = [
    ['no cookie', null],
    ['wrong secret', `brindlemar_token=${'0'.repeat(secret.length)}`],
    ['secret with an extra character', `brindlemar_token=${secret}0`],
    ['secret cut short', `brindlemar_token=${secret.slice(0, -1)}`],
    ['empty value', 'brindlemar_token='],
    ['secret under another name', `token=${secret}`],
    ['secret in upper case', `brindlemar_token=${secret.toUpperCase()}`],
  ];
  for (const route of ROUTES) {
    for (const [name, cookie] of refusedCookies) {
      const r = await send(svc.port, route, cookie);
      assert.equal(r.status, 403, `${route[0]} ${route[2]}, ${name}`);
      assert.equal(r.body.length, 0, `${route[0]} ${route[2]}, ${name}: no detail`);
    }
    const ok = await send(svc.port, route, `other=1; brindlemar_token=${secret}; more=2`);
    assert.notEqual(ok.status, 403, `${route[0]} ${route[2]} with the secret`);
  }
  // Refused before routing: a wrong Host without the cookie is the same bare 403, and
  // nothing a refused write asked for happened.
  const r = await request(svc.port, { path: '/api/library', headers: { Cookie: null, Host: 'evil.example:80' } });
  assert.equal(r.status, 403);
  assert.equal(r.body.length, 0);
  const lib = await getJson(svc.port, '/api/library');
  assert.equal(lib.prefs.audio, 'es'); // only the write that carried the secret
  assert.ok(lib.folders.some((f) => f.path === '/'));
  assert.doesNotMatch(svc.output(), /sin cerrojo/);
});

test('the folder-add refused for lack of the cookie adds nothing', async (t) => {
  const root = tempTree();
  const svc = await startService({ home: path.join(root, 'home'), dataDir: path.join(root, 'data') });
  t.after(() => svc.stop());
  const r = await send(svc.port, ROUTES[4], null);
  assert.equal(r.status, 403);
  const lib = await getJson(svc.port, '/api/library');
  assert.ok(!lib.folders.some((f) => f.path === '/'));
});

test('without BRINDLEMAR_TOKEN the service is open and says so once', async (t) => {
  const root = tempTree();
  const svc = await startService({ home: path.join(root, 'home'), dataDir: path.join(root, 'data'), token: null });
  t.after(() => svc.stop());
  for (const route of ROUTES.filter(([kind]) => kind !== 'API write')) {
    const r = await send(svc.port, route, null);
    assert.notEqual(r.status, 403, `${route[0]} ${route[2]}`);
  }
  assert.equal(svc.output().match(/sin cerrojo/g).length, 1);
});

test('a secret too short to protect anything stops the start', async (t) => {
  const root = tempTree();
  for (const token of ['', 'corto', `${'a'.repeat(40)};b`]) {
    await t.test(JSON.stringify(token), async () => {
      await assert.rejects(
        startService({ home: path.join(root, 'home'), dataDir: path.join(root, 'data'), token }),
        (err) => { assert.match(err.output, /BRINDLEMAR_TOKEN/); assert.doesNotMatch(err.output, /disponible/); return true; },
      );
    });
  }
});
