// The library page: loads the library, shows it, and plays what the user picks.

import { api } from './api.js';
import { videoCard } from './cards.js';
import { DurationProbe } from './durations.js';
import { fold, plural } from './format.js';
import { Playback } from './playback.js';
import { NativePlayer, PagePlayer } from './players.js';
import { Settings } from './settings.js';
import { hasMiniPlayer, hasNativePlayer, inMiniPlayer, postPip } from './shell.js';

const $ = (sel) => document.querySelector(sel);
const PAGE_SIZE = 240;
const CONTINUE_MAX = 12;
const ERROR_NOTE = 'No se pudo reproducir este vídeo. Puede que el archivo esté dañado o use un formato no compatible.';
const STALL_HINT = 'La reproducción se ha detenido un momento mientras se carga el vídeo…';

const view = {
  lib: null,
  rev: 0,
  query: '',
  sort: 'title',
  limit: PAGE_SIZE,
  notes: new Map(), // id -> message shown on its card
  offline: false,
};

const playback = new Playback({
  player: hasNativePlayer() ? new NativePlayer() : new PagePlayer((d) => playback.handle(d)),
  api,
  notify,
});
window.addEventListener('brindlemar-native-player', (e) => playback.handle(e.detail));
window.addEventListener('pagehide', () => playback.flush());

const settings = new Settings($('#settings'), { changed: () => refresh() });
const probe = new DurationProbe({
  report: (id, seconds) => api.duration(id, seconds).then(soonRefresh, () => {}),
  busy: () => playback.current !== null,
});

function notify(kind, id) {
  if (kind === 'error') {
    view.notes.set(id, ERROR_NOTE);
    render();
    const card = document.querySelector(`.card[data-id="${CSS.escape(id)}"]`);
    if (card) card.scrollIntoView({ block: 'nearest' });
  } else if (kind === 'stalled') {
    toast(STALL_HINT);
  } else if (kind === 'saved' || kind === 'closed') {
    soonRefresh();
  }
}

const actions = {
  play(item) {
    view.notes.delete(item.id);
    render();
    playback.play(item, settings.prefs);
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
    probe.want(lib.items);
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
  const unsaved = view.lib && view.lib.saveProblem;
  // Slowly even when idle, so that changes the service could not save are told.
  pollTimer = setTimeout(poll, scanning ? 1000 : view.offline || unsaved ? 5000 : 15000);
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

function sorted(items) {
  const out = [...items];
  if (view.sort === 'recent') out.sort((a, b) => b.added - a.added);
  else out.sort((a, b) => a.title.localeCompare(b.title, 'es', { numeric: true, sensitivity: 'base' }));
  return out;
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

function render() {
  renderStatus();
  const lib = view.lib;
  if (!lib) return;
  const focus = focusedCard();
  const q = fold(view.query.trim());
  const matches = q
    ? lib.items.filter((i) => fold(`${i.title} ${i.folder}`).includes(q))
    : lib.items;

  const cont = lib.items
    .filter((i) => i.position > 0)
    .sort((a, b) => b.updatedAt - a.updatedAt)
    .slice(0, CONTINUE_MAX);
  $('#continue').hidden = cont.length === 0 || q !== '';
  $('#continue-row').replaceChildren(...cont.map((i) => videoCard(i, view.notes.get(i.id), actions, { continueRow: true })));

  const all = sorted(matches);
  const shown = all.slice(0, view.limit);
  $('#grid').replaceChildren(...shown.map((i) => videoCard(i, view.notes.get(i.id), actions)));
  $('#all-title').textContent = q
    ? `Resultados (${all.length.toLocaleString('es-ES')})`
    : `Todos los vídeos (${all.length.toLocaleString('es-ES')})`;
  const more = $('#more');
  more.hidden = all.length <= shown.length;
  more.textContent = `Mostrar más (quedan ${(all.length - shown.length).toLocaleString('es-ES')})`;

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
$('#sort').addEventListener('change', (e) => {
  view.sort = e.target.value;
  render();
});
$('#more').addEventListener('click', () => {
  view.limit += PAGE_SIZE;
  render();
});
document.addEventListener('keydown', (e) => {
  const typing = e.target.closest && e.target.closest('input, select, textarea');
  if (e.key === '/' && !typing && $('#settings').hidden) {
    e.preventDefault();
    $('#search').focus();
  }
});

renderPip();
refresh();
