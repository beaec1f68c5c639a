'use strict';
// What the files themselves say: duration, picture size, audio and subtitle tracks
// with their languages, chapters (ffprobe), and one poster frame per video (ffmpeg).
//
// Work runs after the scan, a few processes at a time at the lowest CPU priority, so
// the machine and the page stay responsive while a large library is read. Results are
// kept in the data directory under each video's identity (id, size, modification
// time): a restart probes only what changed. When the tools are missing the library
// works as before, without these facts, and says so once on its output.
//
// Only what the file itself says is kept: its facts, that it holds no audio or video,
// that its picture cannot be decoded. A failure of the machine instead (a tool killed
// or out of time under load, no descriptors or memory left, a data folder that takes no
// writes) leaves the video to be tried again later, less often each time it fails, and
// at the next scan or start.

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
const MAX_CHAPTERS = 1000;
const MAX_SECONDS = 1e7;

// One process per core, at most four: they run at the lowest priority, so they take
// only the time nothing else wants.
function concurrencyDefault() {
  const n = typeof os.availableParallelism === 'function' ? os.availableParallelism() : os.cpus().length;
  return Math.max(1, Math.min(4, n));
}

const SAVE_DELAY_MS = 1000;

// Tries again after a passing failure: 2 s, then twice as long each time, up to 30 min.
const RETRY_FIRST_MS = 2000;
const RETRY_MAX_MS = 30 * 60 * 1000;

// How an attempt at a poster ended.
const MADE = 'made';
const NONE = 'none'; // the file has no frame that can be decoded
const LATER = 'later'; // a passing failure

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

const MAX_ERRORS = 64 * 1024;

// Runs a tool at the lowest priority. Resolves to { code, signal, stdout (a Buffer,
// capped), stderr (text, capped), failed, timedOut, tooLarge }: failed when the tool
// could not be started, timedOut when it was killed past its time, tooLarge when killed
// for writing too much. `input`, when given, is an open file the tool reads as INPUT_PATH.
// The tools speak English (LC_ALL=C), so their errors can be told apart (see passing()).
function run(tool, args, timeoutMs, input = null) {
  return new Promise((resolve) => {
    const result = { code: null, signal: null, stdout: Buffer.alloc(0), stderr: '', failed: false, timedOut: false, tooLarge: false };
    let child;
    try {
      const stdio = ['ignore', 'pipe', 'pipe'];
      if (input) stdio.push(input.fd);
      child = spawn(tool, args, { stdio, env: { ...process.env, LC_ALL: 'C' } });
    } catch {
      resolve({ ...result, failed: true });
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
      if (size > MAX_OUTPUT) {
        result.tooLarge = true;
        child.kill('SIGKILL');
      } else {
        chunks.push(c);
      }
    });
    let errors = '';
    child.stderr.setEncoding('utf8');
    child.stderr.on('data', (c) => {
      if (errors.length < MAX_ERRORS) errors += c;
    });
    const timer = setTimeout(() => {
      result.timedOut = true;
      child.kill('SIGKILL');
    }, timeoutMs);
    let settled = false;
    const done = (code, signal, failed = false) => {
      if (settled) return;
      settled = true;
      clearTimeout(timer);
      resolve({ ...result, code, signal, failed, stdout: Buffer.concat(chunks), stderr: errors });
    };
    child.on('error', () => done(null, null, true));
    child.on('close', (code, signal) => done(code, signal));
  });
}

// Errors of the machine rather than of the file, as the tools word them.
const MACHINE_TROUBLE = /Too many open files|No space left on device|Cannot allocate memory|Resource temporarily unavailable|Disk quota exceeded|Read-only file system|Input\/output error/;

// Whether a run's outcome says nothing about the file: the tool did not start, was
// killed (past its time, by the system, by anyone), ended in a way ffprobe and ffmpeg
// never end on their own (they exit 0 or 1; 255 after a signal, 126 and up from a
// failed exec), or reported a failure of the machine. A run killed for writing too
// much was stopped because of the file.
function passing(r) {
  if (r.tooLarge) return false;
  if (r.failed || r.timedOut || r.signal !== null || (r.code !== 0 && r.code !== 1)) return true;
  return r.code === 1 && MACHINE_TROUBLE.test(r.stderr);
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

// A chapter's title from its tags ("title", in whatever case the container spells it).
function chapterTitle(tags) {
  if (!tags || typeof tags !== 'object') return '';
  const key = Object.keys(tags).find((k) => k.toLowerCase() === 'title');
  return key && typeof tags[key] === 'string' ? tags[key].slice(0, 200) : '';
}

// Chapters as we keep them, [{ start, end, title }] in seconds, in order of start; those
// whose times make no sense are left out. `pick(c)` reads one from its source form.
function chapterList(list, pick) {
  if (!Array.isArray(list)) return [];
  const out = [];
  for (const c of list) {
    if (!c || typeof c !== 'object') continue;
    const { start, end, title } = pick(c);
    if (!Number.isFinite(start) || !Number.isFinite(end) || start < 0 || end < start || end >= MAX_SECONDS) continue;
    out.push({ start, end, title: typeof title === 'string' ? title.slice(0, 200) : '' });
    if (out.length === MAX_CHAPTERS) break;
  }
  return out.sort((a, b) => a.start - b.start);
}

// ffprobe's JSON (format, streams and chapters) -> the facts we keep, or null when it shows no
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
  const facts = { duration: null, width: null, height: null, videoCodec: null, audio: [], subtitles: [], chapters: [] };
  const duration = Number(format.duration);
  if (Number.isFinite(duration) && duration > 0 && duration < MAX_SECONDS) facts.duration = duration;
  let hasVideo = false;
  for (const s of streams) {
    if (!s || typeof s !== 'object') continue;
    const attached = s.disposition && s.disposition.attached_pic === 1;
    if (s.codec_type === 'video' && !attached) {
      hasVideo = true;
      if (facts.videoCodec === null) facts.videoCodec = text(s.codec_name, 32) || null;
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
  facts.chapters = chapterList(data.chapters, (c) => ({
    start: Number(c.start_time), end: Number(c.end_time), title: chapterTitle(c.tags),
  }));
  return facts;
}

// Version 1 kept any failure as the final answer: its entries without facts, and its
// posters that failed, are tried again. Versions before 3 did not read chapters or the
// video's codec: their facts are read again (recheck), and shown meanwhile; their
// posters are kept.
const CACHE_VERSION = 3;

function normalizeCache(raw) {
  const entries = {};
  const src = raw && typeof raw === 'object' && raw.entries && typeof raw.entries === 'object' ? raw.entries : {};
  const version = raw && Number.isInteger(raw.version) ? raw.version : CACHE_VERSION;
  for (const [id, e] of Object.entries(src)) {
    if (!MEDIA_ID.test(id) || !e || typeof e !== 'object') continue;
    if (!Number.isFinite(e.size) || !Number.isFinite(e.mtimeMs)) continue;
    // poster: true (made), false (the file has no picture to take), null (not made yet).
    const poster = e.poster === true ? true : e.poster === false ? false : null;
    const entry = { size: e.size, mtimeMs: e.mtimeMs, facts: null, poster };
    if (e.facts && typeof e.facts === 'object') {
      const f = e.facts;
      entry.facts = {
        duration: Number.isFinite(f.duration) && f.duration > 0 ? f.duration : null,
        width: Number.isInteger(f.width) ? f.width : null,
        height: Number.isInteger(f.height) ? f.height : null,
        videoCodec: typeof f.videoCodec === 'string' && f.videoCodec ? f.videoCodec.slice(0, 32) : null,
        audio: Array.isArray(f.audio) ? f.audio.filter((t) => t && typeof t === 'object') : [],
        subtitles: Array.isArray(f.subtitles) ? f.subtitles.filter((t) => t && typeof t === 'object') : [],
        chapters: chapterList(f.chapters, (c) => c),
        hasVideo: f.hasVideo === true,
      };
      if (version < 3 || e.recheck === true) entry.recheck = true;
    } else if (version < 2) {
      continue;
    }
    if (version < 2 && entry.poster === false && entry.facts.hasVideo) entry.poster = null;
    if (!entry.facts || !entry.facts.hasVideo) entry.poster = false;
    entries[id] = entry;
  }
  return { version: CACHE_VERSION, entries };
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
    this._items = new Map(); // id -> the latest item given to want()
    this._retries = new Map(); // id -> { count, timer }: passing failures in a row
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
    return e ? { facts: e.facts, poster: e.poster === true } : { facts: null, poster: false };
  }

  // The poster file of `item`, when one has been made for its current version.
  posterFile(item) {
    const e = this._valid(item);
    return e && e.poster === true ? path.join(this.postersDir, `${item.id}.jpg`) : null;
  }

  // Whether `item` has anything left to read: its facts, or its poster.
  _wanted(item) {
    const e = this._valid(item);
    return !e || e.recheck === true || e.poster === null;
  }

  // Queues every item whose version has not been read yet, whose poster is still to
  // make, or that failed for a passing reason (now, rather than at its next retry).
  want(items) {
    for (const item of items) {
      this._items.set(item.id, item);
      if (!this._wanted(item) || this.queued.has(item.id)) continue;
      const retry = this._retries.get(item.id);
      if (retry) clearTimeout(retry.timer);
      this._enqueue(item);
    }
    this._pump();
  }

  _enqueue(item) {
    this.queued.add(item.id);
    this.queue.push(item);
  }

  // A passing failure: `item` is tried again later, twice as late as the time before.
  _later(item) {
    const retry = this._retries.get(item.id) || { count: 0, timer: null };
    retry.count += 1;
    clearTimeout(retry.timer);
    const delay = Math.min(RETRY_FIRST_MS * 2 ** (retry.count - 1), RETRY_MAX_MS);
    retry.timer = setTimeout(() => {
      const current = this._items.get(item.id);
      if (!current || this.queued.has(item.id) || !this._wanted(current)) return;
      this._enqueue(current);
      this._pump();
    }, delay);
    retry.timer.unref();
    this._retries.set(item.id, retry);
  }

  _settled(id) {
    const retry = this._retries.get(id);
    if (retry) clearTimeout(retry.timer);
    this._retries.delete(id);
  }

  // Forgets entries of videos no longer in the library (and their posters).
  prune(ids) {
    let changed = false;
    for (const id of [...this._items.keys()]) {
      if (ids.has(id)) continue;
      this._items.delete(id);
      this._settled(id);
    }
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
    const known = this._valid(item);
    let facts;
    let poster;
    if (known && !known.recheck) {
      ({ facts, poster } = known);
      if (poster !== null || !ffmpeg) return;
    } else {
      const probe = await this._probe(ffprobe, item);
      if (probe.later) {
        this._later(item);
        return;
      }
      facts = probe.facts;
      // The same version of the file, read again: its poster, or that it has none, holds.
      poster = !facts || !facts.hasVideo ? false : known ? known.poster : null;
    }
    let later = false;
    if (poster === null && ffmpeg) {
      const made = await this._makePoster(ffmpeg, item, facts.duration);
      if (made === LATER) later = true;
      else poster = made === MADE;
    }
    if (known && known.poster === true && poster !== true) {
      await fsp.unlink(path.join(this.postersDir, `${item.id}.jpg`)).catch(() => {});
    }
    this.cache.data.entries[item.id] = { size: item.size, mtimeMs: item.mtimeMs, facts, poster };
    if (later) this._later(item);
    else this._settled(item.id);
    this._saveSoon();
    this.onChange(item.id);
  }

  // ffprobe's reading of `item`: { facts } (null: no audio or video in it, or it could
  // not be read as a video), or { later: true } after a passing failure. A file that
  // cannot be opened is tried again too: it may have been moved back, or its
  // permissions fixed, without its modification time changing.
  async _probe(ffprobe, item) {
    if (item.size === 0) return { facts: null };
    const args = ['-v', 'error', ...INPUT_LIMITS, '-print_format', 'json', '-show_format', '-show_streams', '-show_chapters',
      '--', INPUT_PATH];
    const r = await withInput(item.path, PROBE_TIMEOUT_MS, (input, msLeft) => (input ? run(ffprobe, args, msLeft, input) : null));
    if (!r || passing(r)) return { later: true };
    return { facts: r.code === 0 ? factsFromProbe(r.stdout.toString('utf8')) : null };
  }

  // A frame from about a tenth of the way in (the first second is often black), written
  // beside its final name and renamed, so a poster is whole or absent. Resolves to MADE,
  // NONE (no frame can be decoded) or LATER (a passing failure, writing it included).
  async _makePoster(ffmpeg, item, duration) {
    const at = duration ? Math.min(duration * 0.1, 600) : 0;
    const final = path.join(this.postersDir, `${item.id}.jpg`);
    const tmp = path.join(this.postersDir, `.${item.id}.tmp-${process.pid}.jpg`);
    const args = (seek) => ['-nostdin', '-v', 'error', ...INPUT_LIMITS, '-ss', seek.toFixed(3), '-i', INPUT_PATH,
      '-frames:v', '1', '-an', '-sn', '-vf', `scale=${POSTER_WIDTH}:-2`, '-q:v', '5', '-c:v', 'mjpeg', '-f', 'image2pipe', 'pipe:1'];
    const deadline = Date.now() + POSTER_TIMEOUT_MS;
    const frame = await withInput(item.path, POSTER_TIMEOUT_MS, async (input, msLeft) => {
      if (!input) return LATER;
      let r = await run(ffmpeg, args(at), msLeft, input);
      if (passing(r)) return LATER;
      if (r.code === 0 && r.stdout.length > 0) return r.stdout;
      if (at === 0) return NONE;
      // A seek past what the file really holds (a truncated file): take the start.
      if (Date.now() >= deadline) return LATER;
      r = await run(ffmpeg, args(0), deadline - Date.now(), input);
      if (passing(r)) return LATER;
      return r.code === 0 && r.stdout.length > 0 ? r.stdout : NONE;
    });
    if (!Buffer.isBuffer(frame)) return frame;
    try {
      await fsp.writeFile(tmp, frame, { mode: 0o600 });
      await fsp.rename(tmp, final);
      return MADE;
    } catch {
      await fsp.unlink(tmp).catch(() => {});
      return LATER;
    }
  }
}

module.exports = { MediaProbe, factsFromProbe, findTool, POSTER_WIDTH };
