'use strict';
// The JSON interface the library page uses.
//
//   GET  /api/status             { rev, scan, problems, saveProblem }  (cheap; polled)
//   GET  /api/library            everything the page shows
//   GET  /api/browse?path=...    subfolders of a folder, to pick one to add
//   POST /api/progress           { id, position, duration? }
//   POST /api/duration           { id, duration }
//   POST /api/watched            { id, watched }
//   POST /api/prefs              { audio?, subtitles?, hwdec? }
//   POST /api/choices            { key, audio?, subtitles? }  (key: "series:<key>" or "video:<id>")
//   POST /api/folders/add        { path }
//   POST /api/folders/remove     { path }
//   POST /api/rescan             {}

const fsp = require('node:fs/promises');
const path = require('node:path');
const { isAudioChoice, isSubtitleChoice, isChoiceKey, isSeconds } = require('./state');
const { expandHome, homeDir } = require('./xdg');
const { nextEpisodes } = require('./series');

const MAX_BODY = 64 * 1024;

// How long the rest of a refused body may take to arrive (it is read and thrown away,
// so that the client is done sending and reads our answer) before the connection is cut.
const DISCARD_MS = 2000;

class HttpError extends Error {
  constructor(status, text, { close = false } = {}) {
    super(text);
    this.status = status;
    this.close = close;
  }
}

function sendJson(res, status, value, extra = {}) {
  const body = JSON.stringify(value);
  res.writeHead(status, {
    'Content-Type': 'application/json; charset=utf-8',
    'Content-Length': Buffer.byteLength(body),
    'Cache-Control': 'no-store',
    'X-Content-Type-Options': 'nosniff',
    ...extra,
  });
  res.end(body);
}

// Answers a request whose body we will not keep. Answering while the client still sends
// makes the server close the connection under it, and the client's system then drops
// our answer (a reset). So the rest of the body is read and thrown away first; a body
// still arriving after DISCARD_MS gets the answer anyway, on a connection that then closes.
function refuseBody(req, res, status, value) {
  req.removeAllListeners('data');
  let answered = false;
  const answer = () => {
    clearTimeout(timer);
    if (answered || res.headersSent || res.destroyed) return;
    answered = true;
    sendJson(res, status, value, req.complete ? {} : { Connection: 'close' });
  };
  const timer = setTimeout(answer, DISCARD_MS);
  timer.unref();
  req.on('end', answer);
  req.on('error', () => clearTimeout(timer));
  req.on('close', () => clearTimeout(timer));
  req.resume();
  if (req.complete) answer();
}

function readJsonBody(req) {
  return new Promise((resolve, reject) => {
    const type = String(req.headers['content-type'] || '').split(';')[0].trim().toLowerCase();
    if (type !== 'application/json') {
      reject(new HttpError(415, 'Se esperaba JSON.'));
      req.resume();
      return;
    }
    const tooLarge = () => new HttpError(413, 'Petición demasiado grande.', { close: true });
    if (Number(req.headers['content-length']) > MAX_BODY) {
      reject(tooLarge());
      return;
    }
    const chunks = [];
    let size = 0;
    let refused = false;
    req.on('data', (c) => {
      if (refused) return;
      size += c.length;
      if (size > MAX_BODY) {
        refused = true;
        chunks.length = 0;
        reject(tooLarge());
        return;
      }
      chunks.push(c);
    });
    req.on('error', reject);
    req.on('end', () => {
      try {
        const v = JSON.parse(Buffer.concat(chunks).toString('utf8') || '{}');
        if (v === null || typeof v !== 'object' || Array.isArray(v)) throw new Error('not an object');
        resolve(v);
      } catch {
        reject(new HttpError(400, 'JSON no válido.'));
      }
    });
  });
}

function makeApi({ library, state }) {
  function knownId(body) {
    const id = body.id;
    if (typeof id !== 'string' || !library.items.has(id)) {
      throw new HttpError(404, 'Vídeo desconocido.');
    }
    return id;
  }

  // A choice key naming a series or a video the library has.
  function knownChoiceKey(body) {
    const key = body.key;
    if (!isChoiceKey(key)) throw new HttpError(404, 'Serie o vídeo desconocido.');
    const name = key.slice(key.indexOf(':') + 1);
    const known = key.startsWith('video:') ? library.items.has(name)
      : [...library.items.values()].some((i) => i.series && i.series.key === name);
    if (!known) throw new HttpError(404, 'Serie o vídeo desconocido.');
    return key;
  }

  function seconds(v, what) {
    if (!isSeconds(v)) throw new HttpError(400, `Valor no válido: ${what}.`);
    return v;
  }

  function folderArg(body) {
    if (typeof body.path !== 'string' || body.path.trim() === '') {
      throw new HttpError(400, 'Indica una carpeta.');
    }
    const p = expandHome(body.path.trim());
    if (!path.isAbsolute(p)) throw new HttpError(400, 'Indica la ruta completa de la carpeta.');
    return path.resolve(p);
  }

  function status() {
    const probing = library.probe ? library.probe.progress() : { pending: 0, done: 0 };
    return { rev: library.rev, scan: library.scan, probing, problems: library.problemList(), saveProblem: state.saveProblem };
  }

  const get = {
    '/api/status': () => status(),
    '/api/library': () => {
      const items = library.list();
      return {
        ...status(),
        items,
        next: nextEpisodes(items),
        folders: library.folders(),
        prefs: state.data.prefs,
        choices: state.choices(),
        notice: state.note,
      };
    },
    '/api/browse': async (url) => {
      const raw = url.searchParams.get('path');
      const dir = path.resolve(expandHome(raw && raw.trim() ? raw.trim() : homeDir(process.env)));
      let entries;
      try {
        entries = await fsp.readdir(dir, { withFileTypes: true });
      } catch (err) {
        const why = err.code === 'ENOENT' ? 'La carpeta no existe.' : 'No se puede abrir la carpeta.';
        throw new HttpError(err.code === 'ENOENT' ? 404 : 403, why);
      }
      const dirs = [];
      for (const e of entries) {
        if (e.name.startsWith('.')) continue;
        let isDir = e.isDirectory();
        if (!isDir && e.isSymbolicLink()) {
          isDir = await fsp.stat(path.join(dir, e.name)).then((s) => s.isDirectory(), () => false);
        }
        if (isDir) dirs.push(e.name);
      }
      dirs.sort((a, b) => a.localeCompare(b, 'es', { sensitivity: 'base', numeric: true }));
      const parent = path.dirname(dir);
      return { path: dir, parent: parent === dir ? null : parent, dirs };
    },
  };

  const post = {
    '/api/progress': (b) => {
      const id = knownId(b);
      const position = seconds(b.position, 'posición');
      const duration = b.duration === undefined || b.duration === null ? undefined : seconds(b.duration, 'duración');
      const e = state.recordProgress(id, position, duration);
      library._touch();
      return { id, ...e };
    },
    '/api/duration': (b) => {
      const id = knownId(b);
      const duration = seconds(b.duration, 'duración');
      if (duration === 0) throw new HttpError(400, 'Valor no válido: duración.');
      const e = state.recordDuration(id, duration);
      library._touch();
      return { id, ...e };
    },
    '/api/watched': (b) => {
      const id = knownId(b);
      if (typeof b.watched !== 'boolean') throw new HttpError(400, 'Valor no válido: visto.');
      const e = state.setWatched(id, b.watched);
      library._touch();
      return { id, ...e };
    },
    '/api/prefs': (b) => {
      if (b.audio !== undefined && !isAudioChoice(b.audio)) throw new HttpError(400, 'Preferencia de audio no válida.');
      if (b.subtitles !== undefined && !isSubtitleChoice(b.subtitles)) throw new HttpError(400, 'Preferencia de subtítulos no válida.');
      if (b.hwdec !== undefined && typeof b.hwdec !== 'boolean') throw new HttpError(400, 'Preferencia de decodificación no válida.');
      return state.setPrefs({ audio: b.audio, subtitles: b.subtitles, hwdec: b.hwdec });
    },
    '/api/choices': (b) => {
      const key = knownChoiceKey(b);
      if (b.audio !== undefined && !isAudioChoice(b.audio)) throw new HttpError(400, 'Preferencia de audio no válida.');
      if (b.subtitles !== undefined && !isSubtitleChoice(b.subtitles)) throw new HttpError(400, 'Preferencia de subtítulos no válida.');
      return { key, ...state.setChoice(key, { audio: b.audio, subtitles: b.subtitles }) };
    },
    '/api/folders/add': async (b) => {
      const problem = await library.addFolder(folderArg(b));
      if (problem) throw new HttpError(400, problem);
      return { folders: library.folders() };
    },
    '/api/folders/remove': (b) => {
      if (!library.removeFolder(folderArg(b))) throw new HttpError(404, 'Esa carpeta no está en la biblioteca.');
      return { folders: library.folders() };
    },
    '/api/rescan': () => {
      library.rescan();
      return status();
    },
  };

  // Returns true when the request was an API request (answered or refused).
  async function handle(req, res, url) {
    const table = req.method === 'POST' ? post : req.method === 'GET' || req.method === 'HEAD' ? get : null;
    if (!url.pathname.startsWith('/api/')) return false;
    const fn = table && Object.prototype.hasOwnProperty.call(table, url.pathname) ? table[url.pathname] : null;
    try {
      if (!fn) {
        const exists = Object.prototype.hasOwnProperty.call(get, url.pathname)
          || Object.prototype.hasOwnProperty.call(post, url.pathname);
        throw new HttpError(exists ? 405 : 404, exists ? 'Método no permitido.' : 'No encontrado.');
      }
      const arg = req.method === 'POST' ? await readJsonBody(req) : url;
      sendJson(res, 200, await fn(arg));
    } catch (err) {
      if (err instanceof HttpError && err.close) refuseBody(req, res, err.status, { error: err.message });
      else if (err instanceof HttpError) sendJson(res, err.status, { error: err.message });
      else sendJson(res, 500, { error: 'Error interno del servicio.' });
    }
    return true;
  }

  return { handle };
}

module.exports = { makeApi, HttpError };
