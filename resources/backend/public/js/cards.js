// Video cards. File names come from the user's disk, so every text goes in as text.

import { clock, hueOf, remaining } from './format.js';

function el(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

// item: a library entry; note: a message to show on the card (an error), or null.
// actions: { play(item), setWatched(item, watched) }
export function videoCard(item, note, actions, { continueRow = false } = {}) {
  const card = el('article', 'card');
  card.dataset.id = item.id;
  if (item.watched) card.classList.add('is-watched');

  const thumb = el('button', 'thumb');
  thumb.type = 'button';
  thumb.style.setProperty('--hue', String(hueOf(item.id)));
  thumb.setAttribute('aria-label', `Reproducir ${item.title}`);
  thumb.append(el('span', 'thumb-letter', (item.title.trim()[0] || '?').toUpperCase()));
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
  const title = el('h3', 'card-title', item.title);
  title.title = item.title;
  meta.append(title);
  let sub;
  if (continueRow && item.duration > 0) sub = remaining(item.position, item.duration);
  else if (continueRow) sub = `Visto hasta ${clock(item.position)}`;
  else sub = item.folder;
  const line = el('p', 'card-sub', sub);
  line.title = item.folder;
  meta.append(line);

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
