'use strict';
// A JSON document kept in one file of the data directory.
//
// Every save writes a temporary file next to the target, fsyncs it, renames it over the
// target and fsyncs the directory, so a crash or a kill at any moment leaves either the
// previous or the new document on disk, never a torn one. Saves are serialised and
// coalesced: while one is being written, further changes are folded into a single next save.
// A file that cannot be parsed is moved aside (name.corrupt-<time>) and the document
// starts from its defaults, so one bad file never stops the service.
//
// A save that fails (a full disk, a read-only folder) loses nothing: the document stays
// changed, the failure is kept in lastError for the page to show, the save is tried
// again a little later, and flush() (run at exit) tries once more. Retries space out up
// to RETRY_MAX_MS; meanwhile a small file is written to the folder every second or so,
// and the save is made as soon as that works (or as soon as another change comes).

const fs = require('node:fs');
const fsp = require('node:fs/promises');
const path = require('node:path');

let tmpCounter = 0;

const RETRY_FIRST_MS = 1000;
const RETRY_MAX_MS = 30000;
const CHECK_FIRST_MS = 1000;

// Temporary files are named after the file they replace and the process that writes
// them: .<name>.tmp-<pid>-<n>.
function tempPrefix(file) {
  return `.${path.basename(file)}.tmp-`;
}

async function writeFileAtomic(file, text) {
  const dir = path.dirname(file);
  const tmp = path.join(dir, `${tempPrefix(file)}${process.pid}-${++tmpCounter}`);
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

// Whether a file can be written in the folder of `file` now: a small one, named as a
// temporary of ours (so a crash leaves nothing removeStaleTemps misses), then removed.
async function folderTakesWrites(file) {
  const probe = path.join(path.dirname(file), `${tempPrefix(file)}${process.pid}-${++tmpCounter}`);
  let fh;
  try {
    fh = await fsp.open(probe, 'wx', 0o600);
    await fh.write(Buffer.alloc(4096));
    await fh.close();
    fh = null;
    return true;
  } catch {
    return false;
  } finally {
    if (fh) await fh.close().catch(() => {});
    await fsp.unlink(probe).catch(() => {});
  }
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
  let fd;
  try {
    // Opened without blocking and checked before reading: a FIFO or a device in the
    // file's place would otherwise hang the start for ever.
    fd = fs.openSync(file, fs.constants.O_RDONLY | fs.constants.O_NONBLOCK);
    if (!fs.fstatSync(fd).isFile()) {
      fs.closeSync(fd);
      fd = undefined;
      return { data: undefined, note: moveAside(file, 'no es un archivo normal') };
    }
    text = fs.readFileSync(fd, 'utf8');
  } catch (err) {
    if (err.code === 'ENOENT') return { data: undefined, note: null };
    return { data: undefined, note: moveAside(file, `no se pudo leer (${err.code})`) };
  } finally {
    if (fd !== undefined) fs.closeSync(fd);
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

function processExists(pid) {
  try {
    process.kill(pid, 0);
    return true;
  } catch (err) {
    return err.code === 'EPERM'; // alive, but another user's
  }
}

// Temporary files of saves that were interrupted by a crash. Only those whose writer is
// provably gone are removed: another copy of the service that is starting or running
// (it may not know yet that it will not get the port) may be writing its own right now.
// A temporary with our own process id is stale too, as this store has written nothing yet.
function removeStaleTemps(file) {
  const dir = path.dirname(file);
  const prefix = tempPrefix(file);
  let names = [];
  try {
    names = fs.readdirSync(dir);
  } catch {
    return;
  }
  for (const name of names) {
    if (!name.startsWith(prefix)) continue;
    const m = /^(\d+)-\d+$/.exec(name.slice(prefix.length));
    if (!m) continue;
    const pid = Number(m[1]);
    if (pid !== process.pid && processExists(pid)) continue;
    try { fs.unlinkSync(path.join(dir, name)); } catch { /* gone already */ }
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
    this._retryTimer = null;
    this._retryMs = RETRY_FIRST_MS;
    this._checkTimer = null;
    this._checkMs = CHECK_FIRST_MS;
    this._checkedOk = false; // the last save was started by a check that wrote
    this.lastError = null;
    // Called after a save fails or succeeds again after failures (the page shows it).
    this.onErrorChange = () => {};
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
        // Cleared before the text is taken: a change made while it is written marks the
        // document again and gets its own save.
        this._dirty = false;
        const text = JSON.stringify(this.data, null, 1) + '\n';
        try {
          await writeFileAtomic(this.file, text);
        } catch (err) {
          // Still unsaved: keep serving from memory and try again later.
          this._dirty = true;
          this._failed(err);
          return;
        }
        this._succeeded();
      }
    } finally {
      this._writing = null;
    }
  }

  _failed(err) {
    const changed = !this.lastError || this.lastError.code !== err.code;
    this.lastError = err;
    if (!this._retryTimer) {
      this._retryTimer = setTimeout(() => {
        this._retryTimer = null;
        if (this._dirty && !this._writing) this._writing = this._drain();
      }, this._retryMs);
      this._retryTimer.unref();
      this._retryMs = Math.min(this._retryMs * 2, RETRY_MAX_MS);
    }
    // A check wrote its small file but the save still failed (a document too large for
    // the room left): check less often, or this would write it again every second.
    if (this._checkedOk) this._checkMs = Math.min(this._checkMs * 2, RETRY_MAX_MS);
    this._checkedOk = false;
    this._checkSoon();
    if (changed) this.onErrorChange(err);
  }

  // While saves fail, checks whether the folder takes writes again, and saves then.
  _checkSoon() {
    if (this._checkTimer) return;
    this._checkTimer = setTimeout(async () => {
      this._checkTimer = null;
      // A save under way ends in _failed() (which checks again) or in success.
      if (!this.lastError || !this._dirty || this._writing) return;
      if (!(await folderTakesWrites(this.file))) {
        this._checkSoon();
        return;
      }
      if (!this.lastError || !this._dirty || this._writing) return;
      if (this._retryTimer) {
        clearTimeout(this._retryTimer);
        this._retryTimer = null;
      }
      this._checkedOk = true;
      this._writing = this._drain();
    }, this._checkMs);
    this._checkTimer.unref();
  }

  _succeeded() {
    this._retryMs = RETRY_FIRST_MS;
    this._checkMs = CHECK_FIRST_MS;
    this._checkedOk = false;
    if (this._checkTimer) {
      clearTimeout(this._checkTimer);
      this._checkTimer = null;
    }
    if (!this.lastError) return;
    this.lastError = null;
    this.onErrorChange(null);
  }

  // Resolves once every change made so far is on disk, or a last attempt to write it
  // has failed (then lastError tells why).
  async flush() {
    while (this._writing) await this._writing;
    if (!this._dirty) return;
    if (this._retryTimer) {
      clearTimeout(this._retryTimer);
      this._retryTimer = null;
    }
    this._writing = this._drain();
    await this._writing;
  }
}

module.exports = { JsonStore, writeFileAtomic, readJson, removeStaleTemps };
