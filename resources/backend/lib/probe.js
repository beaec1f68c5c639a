'use strict';
// What the files themselves say: duration, picture size, audio and subtitle tracks
// with their languages (ffprobe), and one poster frame per video (ffmpeg).
//
// Work runs after the scan, a few processes at a time at the lowest CPU priority, so
// the machine and the page stay responsive while a large library is read. Results are
// kept in the data directory under each video's identity (id, size, modification
// time): a restart probes only what changed. When the tools are missing the library
// works as before, without these facts, and says so once on its output.

const fs = require('node:fs');
const fsp = require('node:fs/promises');
const os = require('node:os');
const path = require('node:path');
const { spawn } = require('node:child_process');
const { JsonStore } = require('./store');
const { MEDIA_ID } = require('./state');
const { openRegularFile } = require('./library-file');
const { VIDEO_CONTAINERS } = require('./scan');

const POSTER_WIDTH = 480; // a 240 px card at twice the pixel density
const PROBE_TIMEOUT_MS = 30000;
const POSTER_TIMEOUT_MS = 60000;
const MAX_OUTPUT = 4 * 1024 * 1024;
const LANGUAGE = /^[A-Za-z]{2,3}(?:[-_][A-Za-z0-9]{1,8})*$/;

// One process per core, at most four: they run at the lowest priority, so they take
// only the time nothing else wants.
function concurrencyDefault() {
  const n = typeof os.availableParallelism === 'function' ? os.availableParallelism() : os.cpus().length;
  return Math.max(1, Math.min(4, n));
}

const SAVE_DELAY_MS = 1000;

// The absolute path of `name` on PATH, or null.
async function findTool(name, envPath = process.env.PATH || '') {
  for (const dir of envPath.split(path.delimiter)) {
    if (!dir) continue;
    const candidate = path.join(dir, name);
    try {
      await fsp.access(candidate, fs.constants.X_OK);
      const st = await fsp.stat(candidate);
      if (st.isFile()) return candidate;
    } catch {
      // not here
    }
  }
  return null;
}

// Runs a tool at the lowest priority. Resolves to { code, stdout } (stdout capped);
// a run past its time is killed and resolves with code null. `input`, when given, is an
// open file the tool reads as INPUT_PATH.
function run(tool, args, timeoutMs, input = null) {
  return new Promise((resolve) => {
    let child;
    try {
      const stdio = ['ignore', 'pipe', 'ignore'];
      if (input) stdio.push(input.fd);
      child = spawn(tool, args, { stdio });
    } catch {
      resolve({ code: null, stdout: '' });
      return;
    }
    // Without a pid (the tool could not be started) setPriority would lower our own.
    if (child.pid) {
      try { os.setPriority(child.pid, 19); } catch { /* gone already, or not allowed */ }
    }
    const chunks = [];
    let size = 0;
    child.stdout.on('data', (c) => {
      size += c.length;
      if (size > MAX_OUTPUT) child.kill('SIGKILL');
      else chunks.push(c);
    });
    const timer = setTimeout(() => child.kill('SIGKILL'), timeoutMs);
    const done = (code) => {
      clearTimeout(timer);
      resolve({ code, stdout: Buffer.concat(chunks).toString('utf8') });
    };
    child.on('error', () => done(null));
    child.on('close', done);
  });
}

// A file's name is bytes (maybe not UTF-8) while a tool's arguments are text: the tools
// are given the file already open, as descriptor 3, and open it again by this name.
const INPUT_PATH = '/dev/fd/3';

// What the tools may open to read a video: the file handed over and nothing it names.
// A text file can pass for any video (a playlist, a concat script, a picture named
// .mp4); read as what it really is, it would make them open other files, anywhere. So
// the input is read only as one of the containers the library accepts, none of which
// opens another file, and only through the file protocol, which is how ffmpeg reads
// /dev/fd/3 (no network, no data: or subfile: addresses).
const INPUT_LIMITS = [
  '-protocol_whitelist', 'file',
  '-format_whitelist', [...new Set(Object.values(VIDEO_CONTAINERS).flat())].join(','),
];

// Opens a library file for a tool, within `timeoutMs`: an open that never ends (a file
// on a hung mount) is given up, and the file is closed should it open later. Resolves to
// { fh } or { error }.
function openInput(file, timeoutMs) {
  return new Promise((resolve) => {
    let late = false;
    const timer = setTimeout(() => {
      late = true;
      resolve({ error: Object.assign(new Error('open timed out'), { code: 'ETIMEDOUT' }) });
    }, timeoutMs);
    openRegularFile(file).then(({ fh }) => {
      if (late) {
        fh.close().catch(() => {});
        return;
      }
      clearTimeout(timer);
      resolve({ fh });
    }, (error) => {
      clearTimeout(timer);
      if (!late) resolve({ error });
    });
  });
}

// Runs work(fh, msLeft) with `file` open, all within `timeoutMs` counted from before
// the open; work(null) when it could not be opened in time, or is not a regular file.
async function withInput(file, timeoutMs, work) {
  const deadline = Date.now() + timeoutMs;
  const { fh } = await openInput(file, timeoutMs);
  if (!fh) return work(null, 0);
  try {
    return await work(fh, Math.max(1, deadline - Date.now()));
  } finally {
    await fh.close().catch(() => {});
  }
}

function language(tags) {
  const v = tags && typeof tags.language === 'string' ? tags.language : '';
  return LANGUAGE.test(v) && v.toLowerCase() !== 'und' ? v : null;
}

function text(v, max = 200) {
  return typeof v === 'string' && v ? v.slice(0, max) : null;
}

// ffprobe's JSON (format and streams) -> the facts we keep, or null when it shows no
// audio or video at all (not a media file).
function factsFromProbe(json) {
  let data;
  try {
    data = JSON.parse(json);
  } catch {
    return null;
  }
  const streams = Array.isArray(data && data.streams) ? data.streams : [];
  const format = data && typeof data.format === 'object' && data.format ? data.format : {};
  const facts = { duration: null, width: null, height: null, audio: [], subtitles: [] };
  const duration = Number(format.duration);
  if (Number.isFinite(duration) && duration > 0 && duration < 1e7) facts.duration = duration;
  let hasVideo = false;
  for (const s of streams) {
    if (!s || typeof s !== 'object') continue;
    const attached = s.disposition && s.disposition.attached_pic === 1;
    if (s.codec_type === 'video' && !attached) {
      hasVideo = true;
      if (facts.width === null && Number.isInteger(s.width) && s.width > 0 && Number.isInteger(s.height) && s.height > 0) {
        facts.width = s.width;
        facts.height = s.height;
      }
    } else if (s.codec_type === 'audio') {
      facts.audio.push({ language: language(s.tags), codec: text(s.codec_name, 32), title: text(s.tags && s.tags.title) });
    } else if (s.codec_type === 'subtitle') {
      facts.subtitles.push({ language: language(s.tags), codec: text(s.codec_name, 32), title: text(s.tags && s.tags.title) });
    }
  }
  if (!hasVideo && facts.audio.length === 0) return null;
  facts.hasVideo = hasVideo;
  return facts;
}

function normalizeCache(raw) {
  const entries = {};
  const src = raw && typeof raw === 'object' && raw.entries && typeof raw.entries === 'object' ? raw.entries : {};
  for (const [id, e] of Object.entries(src)) {
    if (!MEDIA_ID.test(id) || !e || typeof e !== 'object') continue;
    if (!Number.isFinite(e.size) || !Number.isFinite(e.mtimeMs)) continue;
    const entry = { size: e.size, mtimeMs: e.mtimeMs, facts: null, poster: e.poster === true };
    if (e.facts && typeof e.facts === 'object') {
      const f = e.facts;
      entry.facts = {
        duration: Number.isFinite(f.duration) && f.duration > 0 ? f.duration : null,
        width: Number.isInteger(f.width) ? f.width : null,
        height: Number.isInteger(f.height) ? f.height : null,
        audio: Array.isArray(f.audio) ? f.audio.filter((t) => t && typeof t === 'object') : [],
        subtitles: Array.isArray(f.subtitles) ? f.subtitles.filter((t) => t && typeof t === 'object') : [],
        hasVideo: f.hasVideo === true,
      };
    }
    entries[id] = entry;
  }
  return { version: 1, entries };
}

class MediaProbe {
  // dataDir: where the cache and posters live; log(text): one line on our output.
  // opts: { concurrency, envPath } for tests.
  constructor(dataDir, log, opts = {}) {
    this.cache = new JsonStore(path.join(dataDir, 'media-cache.json'), normalizeCache);
    this.postersDir = path.join(dataDir, 'posters');
    this.log = log;
    this.concurrency = opts.concurrency || concurrencyDefault();
    this.envPath = opts.envPath;
    this._tools = null; // a promise of { ffprobe, ffmpeg }
    this.queue = [];
    this.queued = new Set();
    this.active = 0;
    this.done = 0;
    this.onChange = () => {};
    this._idle = [];
    this._saveTimer = null;
    if (this.cache.note) log(this.cache.note);
  }

  // Looked up once, by the first job; the others wait for the same answer.
  _lookUpTools() {
    if (!this._tools) this._tools = this._findTools();
    return this._tools;
  }

  async _findTools() {
    const [ffprobe, ffmpeg] = await Promise.all([findTool('ffprobe', this.envPath), findTool('ffmpeg', this.envPath)]);
    const tools = { ffprobe, ffmpeg };
    if (!ffprobe) {
      this.log('ffprobe no está instalado (paquete ffmpeg): la biblioteca funciona sin leer la duración ni las pistas de los archivos, y sin carteles.');
    } else if (!ffmpeg) {
      this.log('ffmpeg no está instalado: la biblioteca funciona sin carteles.');
    }
    try {
      await fsp.mkdir(this.postersDir, { recursive: true, mode: 0o700 });
      // Posters a killed run left half-written.
      for (const name of await fsp.readdir(this.postersDir)) {
        if (name.startsWith('.') && name.includes('.tmp-')) await fsp.unlink(path.join(this.postersDir, name)).catch(() => {});
      }
    } catch (err) {
      this.log(`no se pudo preparar la carpeta de carteles (${err.code})`);
    }
    return tools;
  }

  _valid(item) {
    const e = this.cache.data.entries[item.id];
    return e && e.size === item.size && e.mtimeMs === item.mtimeMs ? e : null;
  }

  // What is known of `item` now: { facts, poster } (facts may be null).
  known(item) {
    const e = this._valid(item);
    return e ? { facts: e.facts, poster: e.poster } : { facts: null, poster: false };
  }

  // The poster file of `item`, when one has been made for its current version.
  posterFile(item) {
    const e = this._valid(item);
    return e && e.poster ? path.join(this.postersDir, `${item.id}.jpg`) : null;
  }

  // Queues every item whose version has not been probed yet.
  want(items) {
    for (const item of items) {
      if (this._valid(item) || this.queued.has(item.id)) continue;
      this.queued.add(item.id);
      this.queue.push(item);
    }
    this._pump();
  }

  // Forgets entries of videos no longer in the library (and their posters).
  prune(ids) {
    let changed = false;
    for (const id of Object.keys(this.cache.data.entries)) {
      if (ids.has(id) || this.queued.has(id)) continue;
      delete this.cache.data.entries[id];
      fsp.unlink(path.join(this.postersDir, `${id}.jpg`)).catch(() => {});
      changed = true;
    }
    if (changed) this.cache.changed();
  }

  progress() {
    return { pending: this.queue.length + this.active, done: this.done };
  }

  // Resolves once nothing is queued or running.
  idle() {
    if (this.queue.length === 0 && this.active === 0) return Promise.resolve();
    return new Promise((resolve) => this._idle.push(resolve));
  }

  // Results are written at most once a second while many files are probed.
  _saveSoon() {
    if (this._saveTimer) return;
    this._saveTimer = setTimeout(() => {
      this._saveTimer = null;
      this.cache.changed();
    }, SAVE_DELAY_MS);
  }

  flush() {
    if (this._saveTimer) {
      clearTimeout(this._saveTimer);
      this._saveTimer = null;
      this.cache.changed();
    }
    return this.cache.flush();
  }

  _pump() {
    while (this.active < this.concurrency && this.queue.length) {
      const item = this.queue.shift();
      this.active += 1;
      this._one(item).catch(() => {}).finally(() => {
        this.active -= 1;
        this.queued.delete(item.id);
        this.done += 1;
        this._pump();
        if (this.queue.length === 0 && this.active === 0) {
          for (const resolve of this._idle.splice(0)) resolve();
        }
      });
    }
  }

  async _one(item) {
    const { ffprobe, ffmpeg } = await this._lookUpTools();
    if (!ffprobe) return; // nothing is stored: a later run with the tool probes it
    let facts = null;
    if (item.size > 0) {
      const r = await withInput(item.path, PROBE_TIMEOUT_MS, (input, msLeft) => (input
        ? run(ffprobe, ['-v', 'error', ...INPUT_LIMITS, '-print_format', 'json', '-show_format', '-show_streams', '--', INPUT_PATH], msLeft, input)
        : { code: null, stdout: '' }));
      if (r.code === 0) facts = factsFromProbe(r.stdout);
    }
    let poster = false;
    if (facts && facts.hasVideo && ffmpeg) poster = await this._makePoster(ffmpeg, item, facts.duration);
    this.cache.data.entries[item.id] = { size: item.size, mtimeMs: item.mtimeMs, facts, poster };
    this._saveSoon();
    this.onChange(item.id);
  }

  // A frame from about a tenth of the way in (the first second is often black),
  // written beside its final name and renamed, so a poster is whole or absent.
  async _makePoster(ffmpeg, item, duration) {
    const at = duration ? Math.min(duration * 0.1, 600) : 0;
    const final = path.join(this.postersDir, `${item.id}.jpg`);
    const tmp = path.join(this.postersDir, `.${item.id}.tmp-${process.pid}.jpg`);
    const args = ['-nostdin', '-v', 'error', '-y', ...INPUT_LIMITS, '-ss', at.toFixed(3), '-i', INPUT_PATH,
      '-frames:v', '1', '-an', '-sn', '-vf', `scale=${POSTER_WIDTH}:-2`, '-q:v', '5', '-f', 'image2', tmp];
    const deadline = Date.now() + POSTER_TIMEOUT_MS;
    const ok = await withInput(item.path, POSTER_TIMEOUT_MS, async (input, msLeft) => {
      if (!input) return false;
      let r = await run(ffmpeg, args, msLeft, input);
      let made = r.code === 0 && (await fsp.stat(tmp).then((s) => s.size > 0, () => false));
      if (!made && at > 0 && Date.now() < deadline) {
        // A seek past what the file really holds (a truncated file): take the start.
        args[args.indexOf('-ss') + 1] = '0';
        r = await run(ffmpeg, args, deadline - Date.now(), input);
        made = r.code === 0 && (await fsp.stat(tmp).then((s) => s.size > 0, () => false));
      }
      return made;
    });
    if (!ok) {
      await fsp.unlink(tmp).catch(() => {});
      return false;
    }
    try {
      await fsp.rename(tmp, final);
      return true;
    } catch {
      await fsp.unlink(tmp).catch(() => {});
      return false;
    }
  }
}

module.exports = { MediaProbe, factsFromProbe, findTool, POSTER_WIDTH };
