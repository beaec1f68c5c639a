'use strict';
// Brindlemar's library service: serves the library page, its JSON interface and the
// videos, on BRINDLEMAR_BIND:PORT, keeping its state in BRINDLEMAR_DATA_DIR.
//
// Once it really listens it prints "Brindlemar disponible en http://<bind>:<port>", the
// line the desktop shell waits for. A port already taken is told on stderr and ends the
// process with status 1, without that line. SIGTERM (and SIGINT, SIGHUP, SIGQUIT) closes
// the server, writes any pending state and exits within a second; so does the death of
// the parent process, even one that died before we started.

const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');

const { LibraryState, MEDIA_ID } = require('./lib/state');
const { Library } = require('./lib/library');
const { makeApi } = require('./lib/api');
const { makeStatic } = require('./lib/static');
const { sendMedia, sendPoster } = require('./lib/media');
const { MediaProbe } = require('./lib/probe');
const { checkRequest, serviceOrigin } = require('./lib/http-guard');
const { makeLock } = require('./lib/access-lock');
const { guardConnections } = require('./lib/connection-guard');
const { videosDir, defaultDataDir } = require('./lib/xdg');

// Our output goes to a pipe that only the program that started us reads. Losing a log
// line is fine, dying of EPIPE is not; but a closed pipe means that program is gone,
// and then we leave (see shutdown below).
function onOutputError(err) {
  if (err && err.code === 'EPIPE') shutdown();
}
process.stdout.on('error', onOutputError);
process.stderr.on('error', onOutputError);

function fail(message) {
  process.stderr.write(`Brindlemar: ${message}\n`);
  process.exit(1);
}

const bind = process.env.BRINDLEMAR_BIND || '127.0.0.1';
const portText = process.env.PORT || '47874';
const requestedPort = /^\d+$/.test(portText) ? Number(portText) : NaN;
if (!(requestedPort >= 0 && requestedPort <= 65535)) fail(`puerto no válido: ${portText}`);

let lock;
try {
  lock = makeLock(process.env.BRINDLEMAR_TOKEN);
} catch (err) {
  fail(err.message);
}
// Nothing we start needs the secret.
delete process.env.BRINDLEMAR_TOKEN;
if (!lock.locked) {
  process.stderr.write('Brindlemar: servicio sin cerrojo (no hay BRINDLEMAR_TOKEN): cualquier programa de este equipo puede usarlo.\n');
}

const dataDir = process.env.BRINDLEMAR_DATA_DIR || defaultDataDir();
try {
  fs.mkdirSync(dataDir, { recursive: true, mode: 0o700 });
} catch (err) {
  fail(`no se pudo crear la carpeta de datos ${dataDir} (${err.code})`);
}

const state = new LibraryState(dataDir);
if (state.note) process.stderr.write(`Brindlemar: ${state.note}\n`);

const probe = new MediaProbe(dataDir, (text) => process.stderr.write(`Brindlemar: ${text}\n`));
const library = new Library({
  videosDir: videosDir(),
  samplePath: path.join(__dirname, 'sample', 'ejemplo.mkv'),
  state,
  probe,
});
const api = makeApi({ library, state });
// A save that fails, or works again, changes what the page shows.
state.store.onErrorChange = (err) => {
  if (err) process.stderr.write(`Brindlemar: no se pudo guardar el estado (${err.code || err.message})\n`);
  library._touch();
};
const statics = makeStatic(path.join(__dirname, 'public'));
let origin = serviceOrigin(bind, requestedPort);

function refuse(res, status, text, extra = {}) {
  res.writeHead(status, { 'Content-Type': 'text/plain; charset=utf-8', ...extra });
  res.end(text);
}

async function onRequest(req, res) {
  // Without the secret nothing about the request is looked at, and the answer says
  // nothing either.
  if (!lock.allows(req)) {
    res.writeHead(403, { 'Content-Length': 0, 'Cache-Control': 'no-store', Connection: 'close' });
    res.end();
    return;
  }
  connections.trust(req.socket);
  const refused = checkRequest(req, origin);
  if (refused) {
    refuse(res, refused.status, refused.text);
    return;
  }
  let url;
  try {
    url = new URL(req.url, origin.href);
  } catch {
    refuse(res, 400, 'Dirección no válida.');
    return;
  }
  const fileRoute = /^\/(media|posters|subtitles)\/([^/]*)(?:\/(\d{1,3}))?$/.exec(url.pathname);
  if (fileRoute || /^\/(media|posters|subtitles)\//.test(url.pathname)) {
    if (req.method !== 'GET' && req.method !== 'HEAD') {
      refuse(res, 405, 'Método no permitido.', { Allow: 'GET, HEAD' });
      return;
    }
    const [, kind, id, index] = fileRoute || [];
    const item = fileRoute && MEDIA_ID.test(id) ? library.items.get(id) : undefined;
    if (!item || (kind === 'subtitles') !== (index !== undefined)) {
      refuse(res, 404, 'Vídeo desconocido.');
      return;
    }
    if (kind === 'media') {
      sendMedia(req, res, item);
    } else if (kind === 'posters') {
      const file = probe.posterFile(item);
      if (file) sendPoster(req, res, file);
      else refuse(res, 404, 'Este vídeo no tiene cartel.');
    } else {
      const sub = library.subtitleFile(id, Number(index));
      if (sub) sendMedia(req, res, sub);
      else refuse(res, 404, 'Subtítulos desconocidos.');
    }
    return;
  }
  if (await api.handle(req, res, url)) return;
  if (statics.handle(req, res, url)) return;
  refuse(res, 404, 'No encontrado.');
}

// Headers must arrive within HEADERS_TIMEOUT_MS of a connection's start (or of its
// request's); a connection that sends none is closed then. Node checks every
// CHECK_INTERVAL_MS, so a silent connection lasts at most the sum of the two.
const HEADERS_TIMEOUT_MS = 10000;
const CHECK_INTERVAL_MS = 1000;

const server = http.createServer({
  headersTimeout: HEADERS_TIMEOUT_MS,
  connectionsCheckingInterval: CHECK_INTERVAL_MS,
}, (req, res) => {
  onRequest(req, res).catch(() => {
    if (!res.headersSent) refuse(res, 500, 'Error interno del servicio.');
    else res.destroy();
  });
});
const connections = guardConnections(server);

server.on('error', (err) => {
  if (err.code === 'EADDRINUSE') fail(`el puerto ${requestedPort} de ${bind} ya está en uso; ¿hay otra copia abierta?`);
  if (err.code === 'EADDRNOTAVAIL') fail(`la dirección ${bind} no está disponible`);
  if (err.code === 'EACCES') fail(`sin permiso para escuchar en ${bind}:${requestedPort}`);
  fail(`no se pudo abrir el servicio (${err.code || err.message})`);
});

server.listen(requestedPort, bind, () => {
  if (stopping) return;
  origin = serviceOrigin(bind, server.address().port);
  process.stdout.write(`Brindlemar disponible en ${origin.href}\n`);
  library.addSample().then(() => library.rescan());
});

let stopping = false;
function shutdown() {
  if (stopping) return;
  stopping = true;
  // Whatever happens below, be gone within a second.
  setTimeout(() => process.exit(0), 900).unref();
  server.close();
  if (server.closeAllConnections) server.closeAllConnections();
  Promise.allSettled([state.flush(), probe.flush()]).finally(() => process.exit(0));
}
for (const signal of ['SIGTERM', 'SIGINT', 'SIGHUP', 'SIGQUIT']) process.on(signal, shutdown);

// If the program that started us ends without stopping us (it crashed or was killed), we
// are handed to another parent. Leave then, rather than hold the port against its next
// start. Started by the shell (locked), a parent of 1 at start means that handing-over
// happened before we got here; started by hand, init may well be the parent.
const parentAtStart = process.ppid;
if (lock.locked && parentAtStart === 1) {
  process.stderr.write('Brindlemar: el programa que inició el servicio ya no existe\n');
  shutdown();
} else {
  setInterval(() => {
    if (process.ppid !== parentAtStart) shutdown();
  }, 1000).unref();
}
