'use strict';
// What the library remembers between runs: added folders, whether the default videos
// folder was removed, the audio, subtitle and hardware-decoding preferences, per video
// (by id) the resume position, the duration once known and the watched mark, and the
// audio and subtitles last picked in the player for a series or a single video.

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

// Whose track choices these are: "series:<series key>" (letters and digits in words of
// one space, see series.js) for every episode of a series, "video:<media id>" for a
// video outside one.
const CHOICE_KEY = /^(?:series:[\p{L}\p{N}]+(?: [\p{L}\p{N}]+)*|video:[a-z0-9]{1,64})$/u;
const CHOICE_KEY_MAX = 200;
// The choices of the series and videos changed last are kept; older ones are dropped.
const CHOICES_MAX = 500;

function isChoiceKey(v) {
  return typeof v === 'string' && v.length <= CHOICE_KEY_MAX && CHOICE_KEY.test(v);
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
  const choices = [];
  if (src.choices && typeof src.choices === 'object') {
    for (const [key, c] of Object.entries(src.choices)) {
      if (!isChoiceKey(key) || !c || typeof c !== 'object') continue;
      const entry = {};
      if (isAudioChoice(c.audio)) entry.audio = c.audio;
      if (isSubtitleChoice(c.subtitles)) entry.subtitles = c.subtitles;
      if (!entry.audio && !entry.subtitles) continue;
      entry.updatedAt = Number.isFinite(c.updatedAt) && c.updatedAt > 0 ? c.updatedAt : 0;
      choices.push([key, entry]);
    }
  }
  return {
    version: 1,
    folders,
    defaultFolderRemoved: src.defaultFolderRemoved === true,
    prefs: {
      audio: isAudioChoice(prefs.audio) ? prefs.audio : 'original',
      subtitles: isSubtitleChoice(prefs.subtitles) ? prefs.subtitles : 'off',
      // Absent until the user sets it: the shell then decides by the machine's graphics.
      ...(typeof prefs.hwdec === 'boolean' ? { hwdec: prefs.hwdec } : {}),
    },
    media,
    choices: Object.fromEntries(newestChoices(choices)),
  };
}

// [key, entry] pairs, at most CHOICES_MAX, the most recently changed first.
function newestChoices(pairs) {
  return pairs.sort((a, b) => b[1].updatedAt - a[1].updatedAt).slice(0, CHOICES_MAX);
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

  setPrefs({ audio, subtitles, hwdec }) {
    if (audio !== undefined) this.data.prefs.audio = audio;
    if (subtitles !== undefined) this.data.prefs.subtitles = subtitles;
    if (hwdec !== undefined) this.data.prefs.hwdec = hwdec;
    this.store.changed();
    return this.data.prefs;
  }

  // The audio and subtitles picked for `key` (see isChoiceKey), without the time.
  choice(key) {
    const hit = Object.prototype.hasOwnProperty.call(this.data.choices, key) ? this.data.choices[key] : null;
    if (!hit) return {};
    const { updatedAt, ...picked } = hit;
    return picked;
  }

  // Every stored choice as { key: { audio?, subtitles? } }.
  choices() {
    const out = {};
    for (const key of Object.keys(this.data.choices)) out[key] = this.choice(key);
    return out;
  }

  // Stores what was picked for `key`; a value left undefined keeps what was stored. Past
  // CHOICES_MAX keys, the one changed longest ago goes.
  setChoice(key, { audio, subtitles }) {
    const entry = { ...this.choice(key) };
    if (audio !== undefined) entry.audio = audio;
    if (subtitles !== undefined) entry.subtitles = subtitles;
    if (!entry.audio && !entry.subtitles) return entry;
    const others = Object.entries(this.data.choices).filter(([k]) => k !== key);
    const updatedAt = Math.max(Date.now(), ...others.map(([, e]) => e.updatedAt + 1));
    this.data.choices = Object.fromEntries(newestChoices([[key, { ...entry, updatedAt }], ...others]));
    this.store.changed();
    return entry;
  }

  setFolders(folders, defaultFolderRemoved) {
    this.data.folders = folders;
    this.data.defaultFolderRemoved = defaultFolderRemoved;
    this.store.changed();
  }
}

module.exports = {
  LibraryState, MEDIA_ID, CHOICES_MAX, isAudioChoice, isSubtitleChoice, isChoiceKey, isSeconds, isFinished, normalize,
};
