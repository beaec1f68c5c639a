// The library page: loads the library, shows it, and plays what the user picks.

import { api } from './api.js';
import { seriesCard, videoCard } from './cards.js';
import {
  choiceFromTracks, choiceKey, episodeAfter, groupSeries, prepareSearch, search, seasonsOf, subtitleRequest,
} from './library-view.js';
import { DurationProbe } from './durations.js';
import { playbackErrorText } from './errors.js';
import { plural } from './format.js';
import { Playback } from './playback.js';
import { NativePlayer, PagePlayer } from './players.js';
import { Settings } from './settings.js';
import { hasMiniPlayer, hasNativePlayer, inMiniPlayer, postPip } from './shell.js';

const $ = (sel) => document.querySelector(sel);
// Cards are made a page at a time; the next page comes as the end of the grid nears.
const PAGE_SIZE = 96;
const CONTINUE_MAX = 12;
const STALL_HINT = 'La reproducción se ha detenido un momento mientras se carga el vídeo…';

const view = {
  lib: null,
  rev: 0,
  query: '',
  sort: 'title',
  limit: PAGE_SIZE,
  notes: new Map(), // id -> message shown on its card
  offline: false,
  series: null, // key of the series whose episodes are shown
  subtitleChoices: new Map(), // id -> subtitle picked on its card for this session
  // choice key -> { audio?, subtitles? } picked in the player during this session, over
  // what the library gave (which may not have them yet)
  trackChoices: new Map(),
};

const playback = new Playback({
  player: hasNativePlayer() ? new NativePlayer() : new PagePlayer((d) => playback.handle(d)),
  api,
  notify,
  playNext(id) {
    const item = view.lib && view.lib.items.find((i) => i.id === id);
    if (item) actions.play(item);
    return !!item;
  },
  tracksChanged: rememberTracks,
});
window.addEventListener('brindlemar-native-player', (e) => playback.handle(e.detail));
window.addEventListener('pagehide', () => playback.flush());

const settings = new Settings($('#settings'), { changed: () => refresh() });
const probe = new DurationProbe({
  report: (id, seconds) => api.duration(id, seconds).then(soonRefresh, () => {}),
  busy: () => playback.current !== null,
});

function notify(kind, id, detail) {
  if (kind === 'error') {
    const item = view.lib && view.lib.items.find((i) => i.id === id);
    view.notes.set(id, playbackErrorText(detail && detail.code, item && item.videoCodec));
    render();
    const card = document.querySelector(`.card[data-id="${CSS.escape(id)}"]`);
    if (card) card.scrollIntoView({ block: 'nearest' });
  } else if (kind === 'stalled') {
    toast(STALL_HINT);
  } else if (kind === 'saved' || kind === 'closed') {
    soonRefresh();
  }
}

// The audio and subtitles remembered for `item`'s series (or for the video itself).
function rememberedTracks(item) {
  const key = choiceKey(item);
  const stored = (view.lib && view.lib.choices && view.lib.choices[key]) || {};
  return { ...stored, ...view.trackChoices.get(key) };
}

// The user picked other tracks in the player: remember their languages for the series.
function rememberTracks(item, audio, subtitles) {
  const choice = choiceFromTracks(item, audio, subtitles);
  if (!choice.audio && !choice.subtitles) return;
  const key = choiceKey(item);
  view.trackChoices.set(key, { ...view.trackChoices.get(key), ...choice });
  api.choices(key, choice).catch(() => {});
}

const actions = {
  play(item) {
    view.notes.delete(item.id);
    render();
    // What was picked in the player for this series comes before the general preferences.
    const prefs = { ...settings.prefs, ...rememberedTracks(item) };
    const next = view.lib ? episodeAfter(view.lib.items, item) : null;
    playback.play(item, { ...prefs, ...subtitleRequest(item, view.subtitleChoices.get(item.id) || '', prefs.subtitles) }, next);
  },
  openSeries(key) {
    view.series = key;
    render();
    window.scrollTo({ top: 0 });
  },
  subtitleChoice: (id) => view.subtitleChoices.get(id) || '',
  chooseSubtitle(id, value) {
    if (value) view.subtitleChoices.set(id, value);
    else view.subtitleChoices.delete(id);
  },
  setWatched(item, watched) {
    api.watched(item.id, watched).then(() => refresh(), (err) => toast(err.message));
  },
};

// ---- loading ------------------------------------------------------------------

let pollTimer = 0;
let refreshTimer = 0;

async function refresh() {
  clearTimeout(refreshTimer);
  refreshTimer = 0;
  try {
    const lib = await api.library();
    view.lib = lib;
    view.rev = lib.rev;
    view.offline = false;
    settings.update(lib);
    render();
    // The service reads durations from the files; the page only fills in what it
    // could not (no ffprobe, or a file it could not read).
    if (lib.probing.pending === 0) probe.want(lib.items);
    setTimeout(() => { if (view.lib === lib) prepareSearch(lib.items); }, 200);
  } catch (err) {
    view.offline = true;
    renderStatus();
  }
  schedulePoll();
}

function soonRefresh() {
  if (!refreshTimer) refreshTimer = setTimeout(refresh, 300);
}

function schedulePoll() {
  clearTimeout(pollTimer);
  const scanning = view.lib && view.lib.scan.running;
  const probing = view.lib && view.lib.probing && view.lib.probing.pending > 0;
  const unsaved = view.lib && view.lib.saveProblem;
  // Slowly even when idle, so that changes the service could not save are told.
  pollTimer = setTimeout(poll, scanning ? 1000 : probing ? 2000 : view.offline || unsaved ? 5000 : 15000);
}

async function poll() {
  try {
    const st = await api.status();
    if (st.rev !== view.rev || view.offline) {
      await refresh();
      return;
    }
    Object.assign(view.lib, st);
    renderStatus();
  } catch {
    view.offline = true;
    renderStatus();
  }
  schedulePoll();
}

// ---- rendering ----------------------------------------------------------------

function toast(text) {
  const t = $('#toast');
  t.textContent = text;
  t.hidden = false;
  clearTimeout(toast.timer);
  toast.timer = setTimeout(() => { t.hidden = true; }, 6000);
}

function renderStatus() {
  const lib = view.lib;
  const scan = $('#scan');
  const problems = $('#problems');
  if (view.offline) {
    scan.hidden = false;
    scan.classList.add('is-error');
    $('#scan-text').textContent = 'Se ha perdido la conexión con el servicio de la biblioteca. Reintentando…';
    return;
  }
  scan.classList.remove('is-error');
  scan.hidden = !(lib && lib.scan.running);
  if (lib && lib.scan.running) {
    $('#scan-text').textContent = `Buscando vídeos… ${plural(lib.scan.files, 'vídeo encontrado', 'vídeos encontrados')} en ${plural(lib.scan.folders, 'carpeta', 'carpetas')}`;
    $('#scan-text').title = lib.scan.current || '';
  }
  const list = (lib && lib.problems) || [];
  const notice = lib && lib.notice;
  const unsaved = lib && lib.saveProblem;
  problems.hidden = list.length === 0 && !notice && !unsaved;
  problems.replaceChildren();
  if (unsaved) {
    const p = document.createElement('p');
    p.className = 'problems-notice';
    p.textContent = unsaved;
    problems.append(p);
  }
  if (notice) {
    const p = document.createElement('p');
    p.className = 'problems-notice';
    p.textContent = `Los datos guardados de la biblioteca no se podían leer; se han apartado y la biblioteca ha empezado de cero (${notice}).`;
    problems.append(p);
  }
  if (list.length) {
    const head = document.createElement('strong');
    head.textContent = list.length === 1 ? 'Una carpeta no se pudo leer:' : `${list.length} carpetas no se pudieron leer:`;
    problems.append(head);
    const ul = document.createElement('ul');
    for (const p of list.slice(0, 5)) {
      const li = document.createElement('li');
      li.textContent = p.folder ? `${p.folder} (${p.reason})` : p.reason;
      ul.append(li);
    }
    if (list.length > 5) {
      const li = document.createElement('li');
      li.textContent = `y ${list.length - 5} más`;
      ul.append(li);
    }
    problems.append(ul);
  }
}

// One collator for every comparison: making one per comparison is what makes sorting
// thousands of titles slow.
const collator = new Intl.Collator('es', { numeric: true, sensitivity: 'base' });

function sorted(items) {
  const out = [...items];
  if (view.sort === 'recent') out.sort((a, b) => b.added - a.added);
  else out.sort((a, b) => collator.compare(a.title, b.title));
  return out;
}

// The library in display order, made once per library and sort order rather than per
// keystroke: a search keeps the order by filtering it.
const ordered = { lib: null, sort: null, items: [], grouped: [] };
function inOrder() {
  if (ordered.lib !== view.lib || ordered.sort !== view.sort) {
    Object.assign(ordered, {
      lib: view.lib, sort: view.sort, items: sorted(view.lib.items), grouped: sorted(groupSeries(view.lib.items)),
    });
  }
  return ordered;
}

// Re-rendering replaces the cards; keep keyboard focus where it was.
function focusedCard() {
  const a = document.activeElement;
  const card = a && a.closest && a.closest('.card');
  return card ? { id: card.dataset.id, cls: a.className, shelf: card.parentElement.id } : null;
}

function restoreFocus(f) {
  if (!f) return;
  const node = document.querySelector(`#${f.shelf} .card[data-id="${CSS.escape(f.id)}"] .${f.cls.split(' ')[0]}`);
  if (node) node.focus({ preventScroll: true });
}

function card(entry, opts) {
  return entry.kind === 'series' ? seriesCard(entry, actions) : videoCard(entry, view.notes.get(entry.id), actions, opts);
}

// The episodes of the open series, under a heading per season.
function seasonNodes(seasons) {
  const nodes = [];
  for (const [season, episodes] of seasons) {
    if (seasons.length > 1 || season !== 0) nodes.push(Object.assign(document.createElement('h3'), { className: 'season', textContent: `Temporada ${season}` }));
    for (const e of episodes) nodes.push(videoCard(e, view.notes.get(e.id), actions, { episode: true }));
  }
  return nodes;
}

function render() {
  renderStatus();
  const lib = view.lib;
  if (!lib) return;
  const focus = focusedCard();
  const q = view.query.trim();
  const byId = new Map(lib.items.map((i) => [i.id, i]));

  const cont = lib.items
    .filter((i) => i.position > 0)
    .sort((a, b) => b.updatedAt - a.updatedAt)
    .map((i) => [i, false]);
  for (const id of lib.next || []) if (byId.has(id)) cont.push([byId.get(id), true]);
  const contShown = cont.slice(0, CONTINUE_MAX);
  $('#continue').hidden = contShown.length === 0 || q !== '';
  $('#continue-row').replaceChildren(...contShown.map(([i, upNext]) => videoCard(i, view.notes.get(i.id), actions, { continueRow: true, upNext })));

  const seasons = view.series && !q ? seasonsOf(lib.items, view.series) : null;
  if (seasons && seasons.length === 0) view.series = null;
  const inSeries = seasons && seasons.length > 0;
  $('#series-back').hidden = !inSeries;
  $('#sort').parentElement.hidden = inSeries;
  let all;
  if (inSeries) {
    all = seasons.flatMap(([, e]) => e);
    $('#grid').replaceChildren(...seasonNodes(seasons));
    $('#all-title').textContent = `${all[0].series.title} (${plural(all.length, 'episodio', 'episodios')})`;
  } else {
    // Searching lists every matching video, episodes included; otherwise a series is one card.
    all = q ? search(inOrder().items, q) : inOrder().grouped;
    const shown = all.slice(0, view.limit);
    $('#grid').replaceChildren(...shown.map((e) => card(e)));
    $('#all-title').textContent = q
      ? `Resultados (${all.length.toLocaleString('es-ES')})`
      : `Todos los vídeos (${all.length.toLocaleString('es-ES')})`;
  }
  const shown = inSeries ? all : all.slice(0, view.limit);
  view.listed = inSeries ? null : all;
  updateMore(all.length, shown.length);

  $('#welcome').hidden = q !== '' || lib.scan.running || lib.items.some((i) => i.id !== 'ejemplo');

  const empty = $('#empty');
  if (all.length === 0) {
    empty.hidden = false;
    if (q) empty.textContent = `Nada coincide con «${view.query.trim()}».`;
    else if (lib.scan.running) empty.textContent = 'Buscando vídeos en tus carpetas…';
    else empty.textContent = 'Todavía no hay vídeos. Añade una carpeta en Ajustes.';
  } else {
    empty.hidden = true;
  }
  restoreFocus(focus);
}

// ---- mini-player ----------------------------------------------------------------

function renderPip() {
  const btn = $('#pip');
  btn.hidden = !hasMiniPlayer();
  const small = inMiniPlayer();
  btn.textContent = small ? 'Volver a la ventana' : 'Miniatura';
  btn.title = small ? 'Devolver la biblioteca a la ventana principal' : 'Pasar la biblioteca a una ventana pequeña que queda encima';
  if (small) settings.close();
}

// ---- wiring ---------------------------------------------------------------------

$('#pip').addEventListener('click', () => postPip(inMiniPlayer() ? 'exit' : 'enter'));
window.addEventListener('brindlemar-pip-change', renderPip);
$('#open-settings').addEventListener('click', () => settings.open());
$('#welcome-add').addEventListener('click', () => {
  settings.open();
  $('#folder-input').focus();
});
$('#search').addEventListener('input', (e) => {
  view.query = e.target.value;
  view.limit = PAGE_SIZE;
  render();
});
$('#series-back').addEventListener('click', () => {
  view.series = null;
  render();
});
$('#sort').addEventListener('change', (e) => {
  view.sort = e.target.value;
  render();
});
function updateMore(total, shown) {
  const more = $('#more');
  more.hidden = total <= shown;
  more.textContent = `Mostrar más (quedan ${(total - shown).toLocaleString('es-ES')})`;
}

// The next page of the grid, added to the cards already there.
function showMore() {
  const list = view.listed;
  if (!list || view.limit >= list.length) return;
  const from = view.limit;
  view.limit += PAGE_SIZE;
  $('#grid').append(...list.slice(from, view.limit).map((e) => card(e)));
  updateMore(list.length, Math.min(view.limit, list.length));
}

$('#more').addEventListener('click', showMore);
if ('IntersectionObserver' in window) {
  new IntersectionObserver((entries) => {
    if (entries.some((e) => e.isIntersecting)) showMore();
  }, { rootMargin: '600px 0px' }).observe($('#more'));
}
document.addEventListener('keydown', (e) => {
  const typing = e.target.closest && e.target.closest('input, select, textarea');
  if (e.key === '/' && !typing && $('#settings').hidden) {
    e.preventDefault();
    $('#search').focus();
  }
});

renderPip();
refresh();
