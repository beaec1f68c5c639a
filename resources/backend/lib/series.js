'use strict';
// Episodes of a series, told by their file names: "Show.S01E02.Title.mkv",
// "Show - 1x02 - Title.mp4", or just "S01E02.mkv" inside a folder named after the show
// (optionally inside a "Season 1" / "Temporada 1" folder).

const path = require('node:path');

const PATTERNS = [
  /^(.*?)(?:^|[\s._\-[(])s(\d{1,2})[\s._-]*e(\d{1,3})(?![0-9])(.*)$/i,
  /^(.*?)(?:^|[\s._\-[(])(\d{1,2})x(\d{1,3})(?![0-9])(.*)$/i,
];
const SEASON_FOLDER = /^(?:season|temporada|staffel|saison|stagione|series|s)[\s._-]*\d{1,2}$/i;

function tidy(text) {
  return text
    .replace(/[._]/g, ' ')
    .replace(/\s+/g, ' ')
    .replace(/^[\s\-–—:([\]]+|[\s\-–—:([\]]+$/g, '')
    .trim();
}

// Folded for grouping: "The Office" and "the.office" are one series.
function seriesKey(title) {
  return title.normalize('NFD').replace(/[\u0300-\u036f]/g, '').toLowerCase().replace(/[^\p{L}\p{N}]+/gu, ' ').trim();
}

// file: the absolute path. Returns { key, title, season, episode, name } or null when
// the name is not an episode's. `name` is what follows the episode number (may be '').
function parseEpisode(file) {
  const stem = path.basename(file, path.extname(file));
  for (const re of PATTERNS) {
    const m = re.exec(stem);
    if (!m) continue;
    const season = Number(m[2]);
    const episode = Number(m[3]);
    if (episode === 0 && season === 0) continue;
    let title = tidy(m[1]);
    if (!title) {
      let dir = path.dirname(file);
      if (SEASON_FOLDER.test(path.basename(dir))) dir = path.dirname(dir);
      title = tidy(path.basename(dir));
    }
    const key = seriesKey(title);
    if (!key) return null;
    return { key, title, season, episode, name: tidy(m[4]) };
  }
  return null;
}

// After a finished episode, the one that follows it in the same series, when it has
// not been seen yet. items: the library list (with `series`, `watched`, `position`,
// `updatedAt`). Returns the ids to offer, most recent first.
function nextEpisodes(items) {
  const bySeries = new Map();
  for (const it of items) {
    if (!it.series) continue;
    if (!bySeries.has(it.series.key)) bySeries.set(it.series.key, []);
    bySeries.get(it.series.key).push(it);
  }
  const out = [];
  for (const episodes of bySeries.values()) {
    episodes.sort((a, b) => a.series.season - b.series.season || a.series.episode - b.series.episode);
    // The episode watched last decides; one being watched already shows by itself.
    let last = null;
    for (const e of episodes) if (e.updatedAt && (!last || e.updatedAt > last.updatedAt)) last = e;
    if (!last || !last.watched || last.position > 0) continue;
    const at = episodes.indexOf(last);
    const next = episodes.slice(at + 1).find((e) => !e.watched);
    if (next && !(next.position > 0)) out.push({ id: next.id, at: last.updatedAt });
  }
  return out.sort((a, b) => b.at - a.at).map((o) => o.id);
}

module.exports = { parseEpisode, nextEpisodes, seriesKey };
