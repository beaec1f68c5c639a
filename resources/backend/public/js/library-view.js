// What the grid shows, computed from the library list without touching the page:
// series folded into one entry each, the episodes of one series by season, the
// search, and which subtitle a play request carries.

import { fold } from './format.js';
import { SUBTITLE_CHOICES, choiceLabel } from './choices.js';

// Folded search text per item, kept while its title and folder stay the same, so
// typing in the search box does not normalise thousands of strings per key.
const searchText = new Map();
function textOf(item) {
  const key = `${item.title}\u0000${item.folder}`;
  let hit = searchText.get(item.id);
  if (!hit || hit.key !== key) {
    hit = { key, text: fold(`${item.title} ${item.folder}${item.series ? ` ${item.series.title}` : ''}`) };
    searchText.set(item.id, hit);
  }
  return hit.text;
}

// Prepares the search text of every item, so the first key typed is as quick as the rest.
export function prepareSearch(items) {
  for (const item of items) textOf(item);
}

export function search(items, query) {
  const q = fold(query.trim());
  return q ? items.filter((i) => textOf(i).includes(q)) : items;
}

const byEpisode = (a, b) => a.series.season - b.series.season || a.series.episode - b.series.episode;

// Items with series replaced by one entry per series:
// { kind: 'series', id: 'series:<key>', key, title, episodes, poster, added, unwatched }.
// A "series" of one episode stays a plain video.
export function groupSeries(items) {
  const groups = new Map();
  for (const it of items) {
    if (!it.series) continue;
    if (!groups.has(it.series.key)) groups.set(it.series.key, []);
    groups.get(it.series.key).push(it);
  }
  const out = [];
  const done = new Set();
  for (const it of items) {
    const episodes = it.series && groups.get(it.series.key);
    if (!episodes || episodes.length < 2) {
      out.push(it);
      continue;
    }
    if (done.has(it.series.key)) continue;
    done.add(it.series.key);
    episodes.sort(byEpisode);
    out.push({
      kind: 'series',
      id: `series:${it.series.key}`,
      key: it.series.key,
      title: episodes[0].series.title,
      episodes,
      poster: (episodes.find((e) => e.poster) || {}).poster || null,
      added: Math.max(...episodes.map((e) => e.added)),
      unwatched: episodes.filter((e) => !e.watched).length,
    });
  }
  return out;
}

// The episodes of series `key` as [[season, [episodes in order]], ...].
export function seasonsOf(items, key) {
  const seasons = new Map();
  for (const it of items.filter((i) => i.series && i.series.key === key).sort(byEpisode)) {
    if (!seasons.has(it.series.season)) seasons.set(it.series.season, []);
    seasons.get(it.series.season).push(it);
  }
  return [...seasons];
}

// "T1 · E2 · Piloto"
export function episodeLabel(item) {
  const s = item.series;
  return `T${s.season} · E${s.episode}${s.name ? ` · ${s.name}` : ''}`;
}

// Language tags compared the way the player compares them: lower case, "_" as "-",
// three-letter codes as their two-letter ones.
const ALIASES = { spa: 'es', eng: 'en', por: 'pt', jpn: 'ja', fra: 'fr', fre: 'fr', deu: 'de', ger: 'de', ita: 'it', kor: 'ko', zho: 'zh', chi: 'zh', rus: 'ru' };
export function canonical(tag) {
  const parts = String(tag || '').toLowerCase().replace(/_/g, '-').split('-').filter(Boolean);
  if (parts.length && ALIASES[parts[0]]) parts[0] = ALIASES[parts[0]];
  return parts.join('-');
}

function sameLanguage(a, b) {
  const x = canonical(a);
  const y = canonical(b);
  return x !== '' && (x === y || x.split('-')[0] === y);
}

// The subtitle part of a play request for `item`: { subtitles, subtitleUrl? }.
// choice: what the user picked for this video ('' for the preference, 'off', 'embedded:<i>'
// or 'file:<i>'); pref: the subtitle preference. A subtitle file is sent when it was
// picked, or when the preferred language is only in a file beside the video.
export function subtitleRequest(item, choice, pref) {
  const tracks = item.subtitles || [];
  const embedded = tracks.filter((t) => t.embedded);
  const files = tracks.filter((t) => !t.embedded);
  if (choice === 'off') return { subtitles: 'off' };
  const m = /^(embedded|file):(\d+)$/.exec(choice || '');
  if (m && m[1] === 'file' && files[Number(m[2])]) return { subtitles: pref, subtitleUrl: files[Number(m[2])].url };
  if (m && m[1] === 'embedded' && embedded[Number(m[2])]) {
    return { subtitles: embedded[Number(m[2])].language || 'auto' };
  }
  if (pref === 'off' || pref === 'original') return { subtitles: pref };
  if (pref === 'auto') {
    return embedded.length || !files.length ? { subtitles: pref } : { subtitles: pref, subtitleUrl: files[0].url };
  }
  if (item.probed && !embedded.some((t) => sameLanguage(t.language, pref))) {
    const file = files.find((t) => sameLanguage(t.language, pref));
    if (file) return { subtitles: pref, subtitleUrl: file.url };
  }
  return { subtitles: pref };
}

function languageName(tag) {
  if (!tag) return 'Sin idioma';
  const c = canonical(tag);
  const hit = SUBTITLE_CHOICES.find(([v]) => canonical(v) === c)
    || SUBTITLE_CHOICES.find(([v]) => canonical(v) === c.split('-')[0]);
  return hit ? hit[1] : choiceLabel(SUBTITLE_CHOICES, tag);
}

// The choices a video's subtitle menu offers: [[value, label], ...].
export function subtitleOptions(item) {
  const tracks = item.subtitles || [];
  const out = [['', 'Subtítulos: según Ajustes'], ['off', 'Sin subtítulos']];
  let e = 0;
  let f = 0;
  for (const t of tracks) {
    if (t.embedded) out.push([`embedded:${e++}`, `${languageName(t.language)} (incluidos)`]);
    else out.push([`file:${f++}`, `${languageName(t.language)} (archivo .${t.format})`]);
  }
  return out;
}

// The episode after `item` in its series, in the order the series is listed (the next
// season's first after a season's last), or null.
export function episodeAfter(items, item) {
  if (!item.series) return null;
  const episodes = seasonsOf(items, item.series.key).flatMap(([, e]) => e);
  const at = episodes.findIndex((e) => e.id === item.id);
  return at >= 0 && at + 1 < episodes.length ? episodes[at + 1] : null;
}

// Whose remembered track choices apply to `item`: its series', or its own.
export function choiceKey(item) {
  return item.series ? `series:${item.series.key}` : `video:${item.id}`;
}

// The player's track indices (among the file's audio and subtitle tracks, in the order
// of item.audio and item.subtitles; -1 for off) as languages to remember:
// { audio?, subtitles? }. A track whose language is not known is not remembered, and
// audio cannot be remembered as off.
export function choiceFromTracks(item, audio, subtitles) {
  const out = {};
  const lang = (list, n) => (Number.isInteger(n) && n >= 0 && list && list[n] && list[n].language) || null;
  const a = lang(item.audio, audio);
  if (a) out.audio = a;
  if (subtitles === -1) out.subtitles = 'off';
  // Before the file is probed its own subtitle streams are unknown, so an index cannot
  // be told apart from one of the files beside it.
  else if (item.probed) {
    const s = lang(item.subtitles, subtitles);
    if (s) out.subtitles = s;
  }
  return out;
}
