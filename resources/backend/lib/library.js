'use strict';
// The catalogue: which folders make up the library, the videos found in them (by id),
// the progress of the background scan and the folders that could not be read.

const crypto = require('node:crypto');
const fsp = require('node:fs/promises');
const path = require('node:path');
const { scanRoots, videoType, displayName } = require('./scan');
const { parseEpisode } = require('./series');
const { subtitleType } = require('./subtitles');

const SAMPLE_ID = 'ejemplo';

// Ids are derived from the absolute path (its bytes; the same as its UTF-8 text when
// it is valid UTF-8), so they stay the same between runs and the saved positions keep
// pointing at the right file. A URL only ever carries an id.
function mediaId(file) {
  return crypto.createHash('sha256').update(file).digest('hex').slice(0, 24);
}

// "Mi.Pelicula_2019.mkv" -> "Mi Pelicula 2019"; bytes that are not UTF-8 show as U+FFFD.
function titleFromFile(filePath) {
  const file = displayName(filePath);
  let name = path.basename(file, path.extname(file)).replace(/_/g, ' ');
  if (!/\s/.test(name)) name = name.replace(/\./g, ' ');
  name = name.replace(/\s+/g, ' ').trim();
  return name || path.basename(file);
}

const ERROR_TEXT = {
  EACCES: 'sin permiso de lectura',
  EPERM: 'sin permiso de lectura',
  EIO: 'error de lectura del disco',
  ELOOP: 'demasiados enlaces simbólicos',
  ENAMETOOLONG: 'nombre demasiado largo',
};

function errorText(code) {
  return ERROR_TEXT[code] || `no se pudo leer (${code || 'error desconocido'})`;
}

class Library {
  // videosDir: the user's default videos folder; samplePath: the bundled clip (may be
  // missing); state: LibraryState (folders are read from and written to it).
  // probe: a MediaProbe, or null to read nothing from the files themselves.
  constructor({ videosDir, samplePath, state, probe = null }) {
    this.videosDir = videosDir;
    this.probe = probe;
    if (probe) probe.onChange = () => this._touch();
    this.samplePath = samplePath;
    this.state = state;
    this.items = new Map();
    this.rev = 1;
    this.scan = { running: false, folders: 0, files: 0, current: null, finishedAt: null };
    this.problems = new Map(); // folder -> Spanish reason
    this.missing = new Set();
    this._generation = 0;
    this._running = null;
    this._pendingProblems = null;
  }

  roots() {
    const list = [];
    if (!this.state.data.defaultFolderRemoved) list.push(this.videosDir);
    for (const f of this.state.data.folders) if (!list.includes(f)) list.push(f);
    return list;
  }

  folders() {
    const roots = this.roots();
    const out = roots.map((p) => ({
      path: p,
      isDefault: p === this.videosDir,
      status: this.missing.has(p) ? 'missing' : this.problems.has(p) ? 'unreadable' : 'ok',
    }));
    if (this.state.data.defaultFolderRemoved) {
      out.push({ path: this.videosDir, isDefault: true, status: 'removed' });
    }
    return out;
  }

  _touch() { this.rev += 1; }

  async addSample() {
    if (!this.samplePath) return;
    try {
      const st = await fsp.stat(this.samplePath);
      this.items.set(SAMPLE_ID, {
        id: SAMPLE_ID, path: this.samplePath, root: null, title: 'Ejemplo',
        folder: 'Incluido con Brindlemar', size: st.size, mtimeMs: 0,
        type: videoType(this.samplePath), subtitles: [], series: null,
      });
      this._touch();
    } catch {
      // a build without the clip simply has no sample
    }
  }

  // Starts a new scan of every root; a scan already running is abandoned. Items from
  // the previous scan stay visible until the new one has finished, then those that
  // were not found again are dropped. Returns a promise for the end of this scan.
  rescan() {
    const generation = ++this._generation;
    const roots = this.roots();
    const found = new Set();
    const problems = new Map();
    const missing = new Set();
    this._pendingProblems = problems;
    this.scan = { running: true, folders: 0, files: 0, current: null, finishedAt: null };
    this._dropOutside(roots);
    this._touch();
    const cancelled = () => generation !== this._generation;
    const run = scanRoots(roots, {
      isCancelled: cancelled,
      onDir: (dir) => {
        if (cancelled()) return;
        this.scan.folders += 1;
        this.scan.current = dir;
      },
      onFile: (f) => {
        if (cancelled()) return;
        const id = mediaId(f.path);
        found.add(id);
        this.scan.files += 1;
        const old = this.items.get(id);
        const subtitles = f.subtitles || [];
        if (!old || old.size !== f.size || old.mtimeMs !== f.mtimeMs
            || JSON.stringify(old.subtitles) !== JSON.stringify(subtitles)) {
          this.items.set(id, {
            id, path: f.path, root: f.root, title: titleFromFile(f.path),
            folder: folderLabel(f.root, f.path), size: f.size, mtimeMs: f.mtimeMs,
            type: videoType(f.path), subtitles, series: parseEpisode(displayName(f.path)),
          });
          this._touch();
        }
      },
      onError: (dir, code) => {
        if (cancelled()) return;
        problems.set(dir, errorText(code));
        this._touch();
      },
      onMissing: (root) => {
        if (!cancelled()) missing.add(root);
      },
    }).then(() => {
      if (cancelled()) return;
      for (const [id, item] of this.items) {
        if (id !== SAMPLE_ID && !found.has(id)) this.items.delete(id);
      }
      this.problems = problems;
      this.missing = missing;
      if (this.probe) {
        this.probe.prune(new Set(this.items.keys()));
        this.probe.want([...this.items.values()]);
      }
      this.scan = {
        running: false, folders: this.scan.folders, files: this.scan.files,
        current: null, finishedAt: Date.now(),
      };
      this._touch();
    }, (err) => {
      if (cancelled()) return;
      this.scan = { ...this.scan, running: false, current: null, finishedAt: Date.now() };
      this.problems = problems;
      this.problems.set('', `la búsqueda se interrumpió (${err.code || err.message})`);
      this._touch();
    });
    this._running = run;
    return run;
  }

  // Drops at once the items of folders no longer in the library, so their files
  // stop being served without waiting for the scan to end.
  _dropOutside(roots) {
    for (const [id, item] of this.items) {
      if (item.root !== null && !roots.includes(item.root)) this.items.delete(id);
    }
  }

  // Problems of the last finished scan, plus those the running scan has met so far.
  problemList() {
    const all = new Map(this.problems);
    if (this.scan.running && this._pendingProblems) {
      for (const [folder, reason] of this._pendingProblems) all.set(folder, reason);
    }
    return [...all].map(([folder, reason]) => ({ folder, reason }));
  }

  async addFolder(folder) {
    let st;
    try {
      st = await fsp.stat(folder);
    } catch (err) {
      return err.code === 'ENOENT' ? 'La carpeta no existe.' : `No se puede abrir la carpeta: ${errorText(err.code)}.`;
    }
    if (!st.isDirectory()) return 'No es una carpeta.';
    const d = this.state.data;
    if (folder === this.videosDir) {
      this.state.setFolders(d.folders.filter((f) => f !== folder), false);
    } else if (!d.folders.includes(folder)) {
      this.state.setFolders([...d.folders, folder], d.defaultFolderRemoved);
    } else {
      return null;
    }
    this.rescan();
    return null;
  }

  removeFolder(folder) {
    const d = this.state.data;
    if (folder === this.videosDir) {
      if (d.defaultFolderRemoved) return false;
      this.state.setFolders(d.folders, true);
    } else if (d.folders.includes(folder)) {
      this.state.setFolders(d.folders.filter((f) => f !== folder), d.defaultFolderRemoved);
    } else {
      return false;
    }
    this.rescan();
    return true;
  }

  // The list the page shows: catalogue entries joined with what the state remembers
  // and what the files say of themselves. Posters and subtitles are named by address
  // only; the version in a poster's address changes when the file does.
  list() {
    const out = [];
    for (const item of this.items.values()) {
      const e = this.state.entry(item.id);
      const { facts, poster } = this.probe ? this.probe.known(item) : { facts: null, poster: false };
      out.push({
        id: item.id,
        title: item.title,
        folder: item.folder,
        size: item.size,
        added: item.mtimeMs,
        duration: (facts && facts.duration) || e.duration || null,
        position: e.position || 0,
        watched: e.watched === true,
        updatedAt: e.updatedAt || 0,
        probed: facts !== null,
        width: facts ? facts.width : null,
        height: facts ? facts.height : null,
        videoCodec: facts ? facts.videoCodec : null,
        audio: facts ? facts.audio.map((t) => ({ language: t.language, title: t.title })) : [],
        chapters: facts ? facts.chapters.map((c) => ({ start: c.start, end: c.end, title: c.title })) : [],
        subtitles: [
          ...(facts ? facts.subtitles.map((t) => ({ language: t.language, title: t.title, embedded: true })) : []),
          ...item.subtitles.map((s, i) => ({
            language: s.language, embedded: false, url: `/subtitles/${item.id}/${i}`,
            format: path.extname(displayName(s.path)).slice(1).toLowerCase(),
          })),
        ],
        poster: poster ? `/posters/${item.id}?v=${Math.floor(item.mtimeMs).toString(36)}-${item.size.toString(36)}` : null,
        series: item.series ? { ...item.series } : null,
      });
    }
    return out;
  }

  // The subtitle file `index` beside video `id`: { path, type } or null.
  subtitleFile(id, index) {
    const item = this.items.get(id);
    const sub = item && Number.isInteger(index) ? item.subtitles[index] : undefined;
    return sub ? { path: sub.path, type: subtitleType(displayName(sub.path)) } : null;
  }
}

// The folder a file sits in, named from the library folder down: "Vídeos › Series".
function folderLabel(root, file) {
  const rel = path.relative(path.dirname(root), path.dirname(displayName(file)));
  return rel.split(path.sep).filter(Boolean).join(' › ');
}

module.exports = { Library, mediaId, titleFromFile, folderLabel, SAMPLE_ID };
