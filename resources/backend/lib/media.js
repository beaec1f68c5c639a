'use strict';
// Sends a library file, honouring single byte-range requests (players seek with them).

const crypto = require('node:crypto');
const { pipeline } = require('node:stream');
const { openRegularFile } = require('./library-file');

// Parses a Range header against a file of `size` bytes. Returns
//   null                  no usable range: send the whole file (absent, malformed,
//                         another unit, or several ranges, which we do not combine)
//   { start, end }        inclusive byte positions to send
//   'unsatisfiable'       a well-formed range that lies past the end of the file
function parseRange(header, size) {
  if (typeof header !== 'string') return null;
  const m = /^\s*bytes\s*=\s*(\d*)\s*-\s*(\d*)\s*$/i.exec(header);
  if (!m) return null;
  const [, a, b] = m;
  if (a === '' && b === '') return null;
  if (a === '') {
    // suffix: the last b bytes
    const n = Number(b);
    if (n === 0 || size === 0) return 'unsatisfiable';
    return { start: Math.max(0, size - n), end: size - 1 };
  }
  const start = Number(a);
  let end = b === '' ? Infinity : Number(b);
  if (!Number.isSafeInteger(start) || (b !== '' && !Number.isSafeInteger(end))) return null;
  if (end < start) return null;
  if (start >= size) return 'unsatisfiable';
  if (end >= size) end = size - 1;
  return { start, end };
}

// A download whose client has read nothing for this long is given up: it would hold
// its file and connection open for ever. A paused player asks again with a range.
const STALL_MS = 120 * 1000;

function etagOf(st) {
  return `"${st.size.toString(16)}-${Math.floor(st.mtimeMs).toString(16)}"`;
}

// Why a file cannot be sent: the status and the text for each error of the open.
function refusal(err) {
  const code = err && err.code;
  if (code === 'EACCES' || code === 'EPERM') return [403, 'Sin permiso para leer este vídeo.'];
  if (code === 'ENOENT' || code === 'ENOTDIR' || code === 'ENOTREG' || code === 'ELOOP') {
    return [404, 'Este vídeo ya no está en su carpeta.'];
  }
  return [500, 'No se pudo leer este vídeo.'];
}

// item: { path, type }. Answers GET and HEAD. opts.stallMs overrides STALL_MS.
// The file is opened before anything is answered: a file that cannot be read gets its
// status, never a 200 cut off before its first byte.
function sendMedia(req, res, item, { stallMs = STALL_MS } = {}) {
  openRegularFile(item.path).then(({ fh, stat }) => send(req, res, item, fh, stat, stallMs), (err) => {
    const [status, text] = refusal(err);
    res.writeHead(status, { 'Content-Type': 'text/plain; charset=utf-8', 'Cache-Control': 'no-store' });
    res.end(text);
  });
}

function send(req, res, item, fh, st, stallMs) {
  const size = st.size;
  const etag = etagOf(st);
  const headers = {
    'Content-Type': item.type || 'application/octet-stream',
    'Accept-Ranges': 'bytes',
    'ETag': etag,
    'Last-Modified': new Date(st.mtimeMs).toUTCString(),
    'Cache-Control': 'no-cache',
    'X-Content-Type-Options': 'nosniff',
  };
  // If-Range names the version the client has; for any other version send it all.
  const ifRange = req.headers['if-range'];
  const range = ifRange === undefined || ifRange === etag
    ? parseRange(req.headers.range, size)
    : null;
  if (range === 'unsatisfiable') {
    fh.close().catch(() => {});
    res.writeHead(416, { ...headers, 'Content-Range': `bytes */${size}`, 'Content-Length': 0 });
    res.end();
    return;
  }
  let status = 200;
  let start = 0;
  let end = size - 1;
  if (range) {
    status = 206;
    ({ start, end } = range);
    headers['Content-Range'] = `bytes ${start}-${end}/${size}`;
  }
  headers['Content-Length'] = size === 0 ? 0 : end - start + 1;
  res.writeHead(status, headers);
  if (req.method === 'HEAD' || size === 0 || res.destroyed) {
    fh.close().catch(() => {});
    res.end();
    return;
  }
  // The stream reads the descriptor opened above and closes it when it ends or fails.
  const stream = fh.createReadStream({ start, end });
  // No progress on the connection (the client reads nothing, so nothing can be
  // written either) for stallMs ends the transfer.
  res.setTimeout(stallMs, () => res.destroy());
  // pipeline closes the file when the client goes away mid-transfer, or is cut off.
  pipeline(stream, res, () => {});
}

// A poster: its address carries the video's version, so it may be kept a long time.
// Posters are files of our own, never links, and read like the library's files.
function sendPoster(req, res, file) {
  openRegularFile(file, { followLinks: false })
    .then(({ fh }) => fh.readFile().finally(() => fh.close().catch(() => {})))
    .then((body) => {
      const etag = `"${body.length.toString(16)}-${hashOf(body)}"`;
      const headers = {
        'Content-Type': 'image/jpeg',
        'Cache-Control': 'private, max-age=604800',
        'ETag': etag,
        'X-Content-Type-Options': 'nosniff',
      };
      if (req.headers['if-none-match'] === etag) {
        res.writeHead(304, headers);
        res.end();
        return;
      }
      headers['Content-Length'] = body.length;
      res.writeHead(200, headers);
      res.end(req.method === 'HEAD' ? undefined : body);
    }, () => {
      res.writeHead(404, { 'Content-Type': 'text/plain; charset=utf-8' });
      res.end('Este vídeo no tiene cartel.');
    });
}

function hashOf(buf) {
  return crypto.createHash('sha1').update(buf).digest('hex').slice(0, 16);
}

module.exports = { sendMedia, sendPoster, parseRange };
