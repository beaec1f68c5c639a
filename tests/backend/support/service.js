'use strict';
// Starts the library service as the shell does (node server.js, cwd the backend folder,
// the three variables), on a free port chosen by the system, with its own home folder
// and data directory in a temporary tree.

const { spawn } = require('node:child_process');
const crypto = require('node:crypto');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');

const BACKEND = path.resolve(__dirname, '../../../resources/backend');
const SERVER = path.join(BACKEND, 'server.js');
const READY = /Brindlemar disponible en http:\/\/127\.0\.0\.1:(\d+)/;

function tempTree(prefix = 'brindlemar-test-') {
  return fs.mkdtempSync(path.join(os.tmpdir(), prefix));
}

// The secret of each running service, by port: request() sends it as the shell's
// cookie unless the caller passes its own Cookie header (null for none).
const secrets = new Map();

function newSecret() {
  return crypto.randomBytes(32).toString('hex');
}

// opts: { home, dataDir, port = 0, env = {}, uid, gid, backend = BACKEND,
//         token = a fresh secret (null: started unlocked, without BRINDLEMAR_TOKEN) }
// Resolves to { proc, port, origin, output(), stop() } once the readiness line is seen;
// rejects if the process exits first.
function startService(opts) {
  // Like the shell: our own environment without BRINDLEMAR_* and NODE_*, plus the three.
  const inherited = Object.fromEntries(Object.entries(process.env)
    .filter(([k]) => !k.startsWith('BRINDLEMAR_') && !k.startsWith('NODE_')));
  const env = {
    ...inherited,
    HOME: opts.home,
    XDG_CONFIG_HOME: path.join(opts.home, '.config'),
    BRINDLEMAR_DATA_DIR: opts.dataDir,
    BRINDLEMAR_BIND: '127.0.0.1',
    PORT: String(opts.port ?? 0),
    ...opts.env,
  };
  const token = opts.token === undefined ? newSecret() : opts.token;
  if (token !== null) env.BRINDLEMAR_TOKEN = token;
  const backend = opts.backend || BACKEND;
  const spawnOpts = { cwd: backend, env, stdio: ['ignore', 'pipe', 'pipe'] };
  if (opts.uid !== undefined) Object.assign(spawnOpts, { uid: opts.uid, gid: opts.gid });
  const proc = spawn(process.execPath, [path.join(backend, 'server.js')], spawnOpts);
  let out = '';
  const svc = {
    proc,
    token,
    output: () => out,
    exited: new Promise((resolve) => proc.on('exit', (code, signal) => resolve({ code, signal }))),
    async stop() {
      if (proc.exitCode === null && proc.signalCode === null) proc.kill('SIGTERM');
      return svc.exited;
    },
  };
  return new Promise((resolve, reject) => {
    const onData = (d) => {
      out += d;
      const m = READY.exec(out);
      if (m && !svc.port) {
        svc.port = Number(m[1]);
        svc.origin = `http://127.0.0.1:${svc.port}`;
        if (token !== null) secrets.set(svc.port, token);
        svc.exited.then(() => { if (secrets.get(svc.port) === token) secrets.delete(svc.port); });
        resolve(svc);
      }
    };
    proc.stdout.on('data', onData);
    proc.stderr.on('data', onData);
    svc.exited.then(({ code, signal }) => {
      if (!svc.port) reject(Object.assign(new Error(`service exited (${code ?? signal}) before ready:\n${out}`), { code, output: out }));
    });
  });
}

// A copy of the service that another user can run (the repository may sit in a folder
// only its owner can enter).
function copyBackend(dest) {
  fs.cpSync(BACKEND, dest, { recursive: true });
  return dest;
}

// A raw HTTP request (fetch would not let us choose Host). Resolves to
// { status, headers, body (Buffer) }.
function request(port, { method = 'GET', path: p = '/', headers = {}, body } = {}) {
  return new Promise((resolve, reject) => {
    const secret = secrets.get(port);
    const all = { Host: `127.0.0.1:${port}`, ...(secret ? { Cookie: `brindlemar_token=${secret}` } : {}), ...headers };
    // Host: null sends no Host header at all, Cookie: null no cookie.
    if (all.Host === null) delete all.Host;
    if (all.Cookie === null) delete all.Cookie;
    const req = http.request({
      host: '127.0.0.1', port, method, path: p, headers: all, agent: false, setHost: false,
    }, (res) => {
      const chunks = [];
      res.on('data', (c) => chunks.push(c));
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body: Buffer.concat(chunks) }));
    });
    req.on('error', reject);
    if (body !== undefined) req.end(typeof body === 'string' ? body : JSON.stringify(body));
    else req.end();
  });
}

function postJson(port, p, value, headers = {}) {
  return request(port, {
    method: 'POST', path: p, body: value,
    headers: { 'Content-Type': 'application/json', ...headers },
  }).then((r) => ({
    ...r,
    json: /json/.test(r.headers['content-type'] || '') ? JSON.parse(r.body) : null,
  }));
}

async function getJson(port, p) {
  const r = await request(port, { path: p });
  return JSON.parse(r.body);
}

// Polls the library until its scan has finished; returns the library.
async function scanned(port, timeoutMs = 10000) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const lib = await getJson(port, '/api/library');
    if (!lib.scan.running && lib.scan.finishedAt) return lib;
    if (Date.now() > end) throw new Error('scan did not finish');
    await new Promise((r) => setTimeout(r, 30));
  }
}

module.exports = { newSecret, BACKEND, SERVER, tempTree, copyBackend, startService, request, postJson, getJson, scanned };
