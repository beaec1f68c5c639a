// Video cards. File names come from the user's disk, so every text goes in as text.

import { clock, hueOf, plural, remaining } from './format.js';
import { episodeLabel, subtitleOptions } from './library-view.js';

function el(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

// The letter on a gradient, with the poster over it once it has loaded; posters far
// below the visible part of the page are fetched only when they come near.
function thumbFace(thumb, id, title, poster) {
  thumb.style.setProperty('--hue', String(hueOf(id)));
  thumb.append(el('span', 'thumb-letter', (title.trim()[0] || '?').toUpperCase()));
  if (poster) {
    const img = el('img', 'thumb-poster');
    img.alt = '';
    img.loading = 'lazy';
    img.decoding = 'async';
    img.addEventListener('error', () => img.remove(), { once: true });
    img.src = poster;
    thumb.append(img);
  }
}

// A series: opens its episodes. actions: { openSeries(key) }
export function seriesCard(group, actions) {
  const card = el('article', 'card card-series');
  card.dataset.id = group.id;
  const thumb = el('button', 'thumb');
  thumb.type = 'button';
  thumb.setAttribute('aria-label', `Abrir la serie ${group.title}`);
  thumbFace(thumb, group.id, group.title, group.poster);
  thumb.append(el('span', 'thumb-duration', plural(group.episodes.length, 'episodio', 'episodios')));
  thumb.addEventListener('click', () => actions.openSeries(group.key));
  const meta = el('div', 'card-meta');
  const title = el('h3', 'card-title', group.title);
  title.title = group.title;
  meta.append(title);
  meta.append(el('p', 'card-sub', group.unwatched === 0 ? 'Serie vista'
    : `Serie · ${plural(group.unwatched, 'episodio sin ver', 'episodios sin ver')}`));
  card.append(thumb, meta);
  return card;
}

// Videos whose chapter list the user opened; cards are made anew with each refresh.
const chaptersOpen = new Set();

// "Capítulos (3)", opening to one line per chapter: "0:00 Intro". Untitled chapters
// are named by their number.
function chapterList(id, chapters) {
  const box = el('details', 'card-chapters');
  box.open = chaptersOpen.has(id);
  box.addEventListener('toggle', () => (box.open ? chaptersOpen.add(id) : chaptersOpen.delete(id)));
  box.append(el('summary', '', `Capítulos (${chapters.length.toLocaleString('es-ES')})`));
  const list = el('ol');
  chapters.forEach((c, i) => {
    const li = el('li');
    const title = typeof c.title === 'string' && c.title.trim() ? c.title.trim() : `Capítulo ${i + 1}`;
    li.append(el('span', 'chapter-time', clock(c.start)), ` ${title}`);
    list.append(li);
  });
  box.append(list);
  return box;
}

// item: a library entry; note: a message to show on the card (an error), or null.
// actions: { play(item), setWatched(item, watched), subtitleChoice(id), chooseSubtitle(id, value) }
// continueRow: the card sits in "Seguir viendo"; upNext: it is offered as the next episode;
// episode: shown inside its series, titled by its number.
export function videoCard(item, note, actions, { continueRow = false, upNext = false, episode = false } = {}) {
  const card = el('article', 'card');
  card.dataset.id = item.id;
  if (item.watched) card.classList.add('is-watched');

  const thumb = el('button', 'thumb');
  thumb.type = 'button';
  thumb.setAttribute('aria-label', `Reproducir ${item.title}`);
  thumbFace(thumb, item.id, item.title, item.poster);
  thumb.append(el('span', 'thumb-play', '▶'));
  if (item.duration) thumb.append(el('span', 'thumb-duration', clock(item.duration)));
  if (item.watched && !(item.position > 0)) thumb.append(el('span', 'thumb-badge', 'Visto'));
  if (item.position > 0 && item.duration > 0) {
    const bar = el('span', 'progress');
    const fill = el('span', 'progress-fill');
    fill.style.width = `${Math.min(100, (item.position / item.duration) * 100).toFixed(1)}%`;
    bar.append(fill);
    thumb.append(bar);
  }
  thumb.addEventListener('click', () => actions.play(item));

  const meta = el('div', 'card-meta');
  const shownTitle = episode && item.series ? episodeLabel(item) : item.title;
  const title = el('h3', 'card-title', shownTitle);
  title.title = item.title;
  meta.append(title);
  let sub;
  if (upNext) sub = `Siguiente episodio · ${episodeLabel(item)}`;
  else if (continueRow && item.duration > 0) sub = remaining(item.position, item.duration);
  else if (continueRow) sub = `Visto hasta ${clock(item.position)}`;
  else sub = item.folder;
  const line = el('p', 'card-sub', sub);
  line.title = item.folder;
  meta.append(line);
  if (item.subtitles && item.subtitles.length && actions.chooseSubtitle) {
    const select = el('select', 'card-subs');
    select.setAttribute('aria-label', `Subtítulos de ${item.title}`);
    for (const [value, label] of subtitleOptions(item)) select.append(new Option(label, value));
    select.value = actions.subtitleChoice(item.id);
    select.addEventListener('change', () => actions.chooseSubtitle(item.id, select.value));
    meta.append(select);
  }
  const chapters = Array.isArray(item.chapters) ? item.chapters.filter((c) => c && Number.isFinite(c.start)) : [];
  if (chapters.length && !continueRow) meta.append(chapterList(item.id, chapters));

  const mark = el('button', 'card-mark', item.watched ? '✓' : '○');
  mark.type = 'button';
  const label = item.watched ? 'Marcar como no visto' : 'Marcar como visto';
  mark.title = label;
  mark.setAttribute('aria-label', label);
  mark.addEventListener('click', () => actions.setWatched(item, !item.watched));

  card.append(thumb, meta, mark);
  if (note) {
    const err = el('p', 'card-error', note);
    err.setAttribute('role', 'alert');
    card.append(err);
  }
  return card;
}
