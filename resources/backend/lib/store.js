'use strict';
// A JSON document kept in one file of the data directory.
//
// Every save writes a temporary file next to the target, fsyncs it, renames it over the
// target and fsyncs the directory, so a crash or a kill at any moment leaves either the
// previous or the new document on disk, never a torn one. Saves are serialised and
// coalesced: while one is being written, further changes are folded into a single next save.
// A file that cannot be parsed is moved aside (name.corrupt-<time>) and the document
// starts from its defaults, so one bad file never stops the service.

const fs = require('node:fs');
const fsp = require('node:fs/promises');
const path = require('node:path');

let tmpCounter = 0;

async function writeFileAtomic(file, text) {
  const dir = path.dirname(file);
  const tmp = path.join(dir, `.${path.basename(file)}.tmp-${process.pid}-${++tmpCounter}`);
  const fh = await fsp.open(tmp, 'w', 0o600);
  try {
    await fh.writeFile(text, 'utf8');
    await fh.sync();
  } catch (err) {
    await fh.close().catch(() => {});
    await fsp.unlink(tmp).catch(() => {});
    throw err;
  }
  await fh.close();
  try {
    await fsp.rename(tmp, file);
  } catch (err) {
    await fsp.unlink(tmp).catch(() => {});
    throw err;
  }
  await syncDir(dir);
}

async function syncDir(dir) {
  // Makes the rename itself durable. Some file systems refuse fsync on a directory; the
  // rename is still atomic there, so that refusal is not an error.
  let fh;
  try {
    fh = await fsp.open(dir, 'r');
    await fh.sync();
  } catch {
    // ignored, see above
  } finally {
    if (fh) await fh.close().catch(() => {});
  }
}

// Reads `file`. Returns { data, note }: data is the parsed value, or undefined when the
// file is missing or unusable; note tells what happened to an unusable file.
function readJson(file) {
  let text;
  try {
    text = fs.readFileSync(file, 'utf8');
  } catch (err) {
    if (err.code === 'ENOENT') return { data: undefined, note: null };
    return { data: undefined, note: moveAside(file, `no se pudo leer (${err.code})`) };
  }
  try {
    const data = JSON.parse(text);
    if (data === null || typeof data !== 'object' || Array.isArray(data)) {
      return { data: undefined, note: moveAside(file, 'contenido inesperado') };
    }
    return { data, note: null };
  } catch {
    return { data: undefined, note: moveAside(file, 'no se pudo interpretar') };
  }
}

function moveAside(file, reason) {
  const stamp = new Date().toISOString().replace(/[:.]/g, '-');
  const aside = `${file}.corrupt-${stamp}`;
  try {
    fs.renameSync(file, aside);
    return `${path.basename(file)}: ${reason}; guardado aparte como ${path.basename(aside)}`;
  } catch (err) {
    return `${path.basename(file)}: ${reason}; no se pudo apartar (${err.code})`;
  }
}

// Temporary files of saves that were interrupted by a crash.
function removeStaleTemps(file) {
  const dir = path.dirname(file);
  const prefix = `.${path.basename(file)}.tmp-`;
  let names = [];
  try {
    names = fs.readdirSync(dir);
  } catch {
    return;
  }
  for (const name of names) {
    if (name.startsWith(prefix)) {
      try { fs.unlinkSync(path.join(dir, name)); } catch { /* another process may own it */ }
    }
  }
}

class JsonStore {
  // file: absolute path; normalize(raw) turns whatever was on disk (or undefined) into a
  // valid document and must not throw.
  constructor(file, normalize) {
    this.file = file;
    removeStaleTemps(file);
    const { data, note } = readJson(file);
    this.note = note;
    this.data = normalize(data);
    this._dirty = false;
    this._writing = null;
    this.lastError = null;
  }

  // Marks the document changed and starts a save unless one is running already.
  changed() {
    this._dirty = true;
    if (!this._writing) this._writing = this._drain();
    return this._writing;
  }

  async _drain() {
    try {
      while (this._dirty) {
        this._dirty = false;
        const text = JSON.stringify(this.data, null, 1) + '\n';
        try {
          await writeFileAtomic(this.file, text);
          this.lastError = null;
        } catch (err) {
          // Keep serving from memory; the next change tries again.
          this.lastError = err;
        }
      }
    } finally {
      this._writing = null;
    }
  }

  // Resolves once every change made so far is on disk (or has failed to be written).
  async flush() {
    while (this._writing) await this._writing;
  }
}

module.exports = { JsonStore, writeFileAtomic, readJson };
