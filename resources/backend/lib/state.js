'use strict';
// What the library remembers between runs: added folders, whether the default videos
// folder was removed, the audio and subtitle preferences, and per video (by id) the
// resume position, the duration once known and the watched mark.

const path = require('node:path');
const { JsonStore } = require('./store');

const MEDIA_ID = /^[a-z0-9]{1,64}$/;
const LANGUAGE_TAG = /^[A-Za-z]{2,3}(?:[-_][A-Za-z0-9]{1,8})*$/;
// Longer than any tag a stream carries (35 is the longest a language tag needs).
const LANGUAGE_TAG_MAX = 35;

function isLanguageTag(v) {
  return v.length <= LANGUAGE_TAG_MAX && LANGUAGE_TAG.test(v);
}

function isAudioChoice(v) {
  return typeof v === 'string' && (v === 'original' || v === 'auto' || isLanguageTag(v));
}

function isSubtitleChoice(v) {
  return typeof v === 'string' && (v === 'off' || v === 'auto' || isLanguageTag(v));
}

function isSeconds(v) {
  return typeof v === 'number' && Number.isFinite(v) && v >= 0 && v < 1e7;
}

function normalize(raw) {
  const src = raw && typeof raw === 'object' ? raw : {};
  const prefs = src.prefs && typeof src.prefs === 'object' ? src.prefs : {};
  const folders = Array.isArray(src.folders)
    ? [...new Set(src.folders.filter((f) => typeof f === 'string' && path.isAbsolute(f)))]
    : [];
  const media = {};
  if (src.media && typeof src.media === 'object') {
    for (const [id, m] of Object.entries(src.media)) {
      if (!MEDIA_ID.test(id) || !m || typeof m !== 'object') continue;
      const entry = {};
      if (isSeconds(m.position) && m.position > 0) entry.position = m.position;
      if (isSeconds(m.duration) && m.duration > 0) entry.duration = m.duration;
      if (m.watched === true) entry.watched = true;
      if (Number.isFinite(m.updatedAt) && m.updatedAt > 0) entry.updatedAt = m.updatedAt;
      if (Object.keys(entry).length) media[id] = entry;
    }
  }
  return {
    version: 1,
    folders,
    defaultFolderRemoved: src.defaultFolderRemoved === true,
    prefs: {
      audio: isAudioChoice(prefs.audio) ? prefs.audio : 'original',
      subtitles: isSubtitleChoice(prefs.subtitles) ? prefs.subtitles : 'off',
    },
    media,
  };
}

// A playback counts as finished in its last 5 %, at most its last 30 seconds.
function isFinished(position, duration) {
  return duration > 0 && position >= duration - Math.min(30, duration * 0.05);
}

class LibraryState {
  constructor(dataDir) {
    this.store = new JsonStore(path.join(dataDir, 'state.json'), normalize);
  }

  get data() { return this.store.data; }
  get note() { return this.store.note; }
  flush() { return this.store.flush(); }

  // What the page tells while changes could not be written, or null.
  get saveProblem() {
    const err = this.store.lastError;
    if (!err) return null;
    const why = err.code === 'ENOSPC' ? 'el disco está lleno'
      : err.code === 'EROFS' ? 'la carpeta de datos es de solo lectura'
        : err.code === 'EACCES' || err.code === 'EPERM' ? 'sin permiso de escritura en la carpeta de datos'
          : `error ${err.code || err.message}`;
    return `No se pudieron guardar los últimos cambios (${why}). Se siguen intentando guardar.`;
  }

  entry(id) { return this.data.media[id] || {}; }

  _update(id, fn) {
    const entry = { ...this.entry(id) };
    fn(entry);
    entry.updatedAt = Date.now();
    this.data.media[id] = entry;
    this.store.changed();
    return entry;
  }

  // Saves where playback of `id` stands. A position in the finished stretch clears the
  // resume position and marks the video watched.
  recordProgress(id, position, duration) {
    return this._update(id, (e) => {
      if (isSeconds(duration) && duration > 0) e.duration = duration;
      if (isFinished(position, e.duration || 0)) {
        delete e.position;
        e.watched = true;
      } else if (position > 0) {
        e.position = position;
      } else {
        delete e.position;
      }
    });
  }

  recordDuration(id, duration) {
    if (this.entry(id).duration === duration) return this.entry(id);
    return this._update(id, (e) => { e.duration = duration; });
  }

  // Watched clears the resume position (the video was seen to the end); unwatched
  // keeps whatever position there is.
  setWatched(id, watched) {
    return this._update(id, (e) => {
      if (watched) {
        e.watched = true;
        delete e.position;
      } else {
        delete e.watched;
      }
    });
  }

  setPrefs({ audio, subtitles }) {
    if (audio !== undefined) this.data.prefs.audio = audio;
    if (subtitles !== undefined) this.data.prefs.subtitles = subtitles;
    this.store.changed();
    return this.data.prefs;
  }

  setFolders(folders, defaultFolderRemoved) {
    this.data.folders = folders;
    this.data.defaultFolderRemoved = defaultFolderRemoved;
    this.store.changed();
  }
}

module.exports = { LibraryState, MEDIA_ID, isAudioChoice, isSubtitleChoice, isSeconds, isFinished, normalize };
