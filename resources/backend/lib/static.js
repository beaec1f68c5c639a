'use strict';
// The page's own files. The set of files is read once at start-up; a request names one
// of them exactly or gets 404, so no request path ever reaches the file system.

const fs = require('node:fs');
const path = require('node:path');

const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.svg': 'image/svg+xml',
  '.png': 'image/png',
  '.ico': 'image/x-icon',
  '.json': 'application/json; charset=utf-8',
};

// The page loads nothing from elsewhere; say so to the engine as well.
const PAGE_POLICY = [
  "default-src 'self'",
  "img-src 'self' data:",
  "media-src 'self'",
  "style-src 'self'",
  "script-src 'self'",
  "connect-src 'self'",
  "frame-ancestors 'none'",
  "base-uri 'none'",
  "form-action 'none'",
].join('; ');

function listFiles(dir, prefix = '/') {
  const files = new Map();
  for (const ent of fs.readdirSync(dir, { withFileTypes: true })) {
    if (ent.name.startsWith('.')) continue;
    const full = path.join(dir, ent.name);
    if (ent.isDirectory()) {
      for (const [k, v] of listFiles(full, `${prefix}${ent.name}/`)) files.set(k, v);
    } else if (ent.isFile() && TYPES[path.extname(ent.name)]) {
      files.set(prefix + ent.name, full);
    }
  }
  return files;
}

function makeStatic(publicDir) {
  const files = listFiles(publicDir);
  files.set('/', path.join(publicDir, 'index.html'));

  // Returns true when it answered.
  function handle(req, res, url) {
    const file = files.get(url.pathname);
    if (!file) return false;
    if (req.method !== 'GET' && req.method !== 'HEAD') {
      res.writeHead(405, { Allow: 'GET, HEAD', 'Content-Type': 'text/plain; charset=utf-8' });
      res.end('Método no permitido.');
      return true;
    }
    fs.readFile(file, (err, body) => {
      if (err) {
        res.writeHead(500, { 'Content-Type': 'text/plain; charset=utf-8' });
        res.end('No se pudo leer la página.');
        return;
      }
      const headers = {
        'Content-Type': TYPES[path.extname(file)],
        'Content-Length': body.length,
        'Cache-Control': 'no-cache',
        'X-Content-Type-Options': 'nosniff',
      };
      if (file.endsWith('.html')) {
        headers['Content-Security-Policy'] = PAGE_POLICY;
        headers['Referrer-Policy'] = 'no-referrer';
      }
      res.writeHead(200, headers);
      res.end(req.method === 'HEAD' ? undefined : body);
    });
    return true;
  }

  return { handle };
}

module.exports = { makeStatic };
