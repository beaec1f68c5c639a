// The settings panel: the library's folders (add, remove, browse), the preferred
// audio and subtitles, and hardware decoding.

import { api } from './api.js';
import { AUDIO_CHOICES, SUBTITLE_CHOICES } from './choices.js';

const STATUS_TEXT = {
  missing: 'No encontrada',
  unreadable: 'Sin permiso de lectura',
  removed: 'Quitada',
};

function el(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

function fillSelect(select, choices, value) {
  select.replaceChildren();
  for (const [v, label] of choices) {
    const opt = el('option', '', label);
    opt.value = v;
    select.append(opt);
  }
  if (!choices.some(([v]) => v === value)) {
    const opt = el('option', '', value);
    opt.value = value;
    select.append(opt);
  }
  select.value = value;
}

export class Settings {
  // changed(): the library should be reloaded (folders or preferences changed).
  constructor(root, { changed }) {
    this.root = root;
    this.changed = changed;
    this.q = (sel) => root.querySelector(sel);
    this.prefs = { audio: 'original', subtitles: 'off' };
    this.browsePath = '';

    this.q('[data-close]').addEventListener('click', () => this.close());
    root.addEventListener('keydown', (e) => { if (e.key === 'Escape') this.close(); });
    root.addEventListener('click', (e) => { if (e.target === root) this.close(); });
    this.q('#folder-form').addEventListener('submit', (e) => {
      e.preventDefault();
      this._add(this.q('#folder-input').value);
    });
    this.q('#folder-browse').addEventListener('click', () => this._browse(this.q('#folder-input').value));
    this.q('#browse-up').addEventListener('click', () => this._browse(this.browseParent));
    this.q('#browse-add').addEventListener('click', () => this._add(this.browsePath));
    this.q('#rescan').addEventListener('click', () => {
      api.rescan().then(() => this.changed(), (err) => this._say(err.message, true));
    });
    for (const [id, key] of [['#pref-audio', 'audio'], ['#pref-subtitles', 'subtitles']]) {
      this.q(id).addEventListener('change', (e) => this._savePref(key, e.target.value));
    }
    this.q('#pref-hwdec').addEventListener('change', (e) => this._savePref('hwdec', e.target.checked));
  }

  open() {
    this.root.hidden = false;
    this.q('[data-close]').focus();
  }

  close() {
    this.root.hidden = true;
    this.q('#browser').hidden = true;
    this._say('');
  }

  // Called with each fresh copy of the library.
  update(lib) {
    this.prefs = { ...lib.prefs };
    fillSelect(this.q('#pref-audio'), AUDIO_CHOICES, lib.prefs.audio);
    fillSelect(this.q('#pref-subtitles'), SUBTITLE_CHOICES, lib.prefs.subtitles);
    // Never set: on, as the shell decodes in hardware wherever it finds a graphics card.
    this.q('#pref-hwdec').checked = lib.prefs.hwdec !== false;
    const list = this.q('#folder-list');
    list.replaceChildren();
    for (const f of lib.folders) {
      const row = el('li', `folder folder-${f.status}`);
      const name = el('span', 'folder-path', f.path);
      name.title = f.path;
      row.append(name);
      if (f.isDefault) row.append(el('span', 'tag', 'Carpeta de vídeos'));
      if (STATUS_TEXT[f.status]) row.append(el('span', `tag tag-${f.status}`, STATUS_TEXT[f.status]));
      const btn = el('button', 'button button-small', f.status === 'removed' ? 'Volver a añadir' : 'Quitar');
      btn.type = 'button';
      btn.addEventListener('click', () => (f.status === 'removed' ? this._add(f.path) : this._remove(f.path)));
      row.append(btn);
      list.append(row);
    }
  }

  _say(text, isError = false) {
    const out = this.q('#settings-message');
    out.textContent = text;
    out.classList.toggle('is-error', isError);
  }

  async _add(path) {
    if (!path || !path.trim()) {
      this._say('Escribe la ruta de una carpeta o usa «Examinar».', true);
      return;
    }
    try {
      await api.addFolder(path);
      this.q('#folder-input').value = '';
      this.q('#browser').hidden = true;
      this._say('Carpeta añadida. Buscando vídeos…');
      this.changed();
    } catch (err) {
      this._say(err.message, true);
    }
  }

  async _remove(path) {
    try {
      await api.removeFolder(path);
      this._say('Carpeta quitada de la biblioteca (no se ha borrado nada del disco).');
      this.changed();
    } catch (err) {
      this._say(err.message, true);
    }
  }

  async _browse(path) {
    let res;
    try {
      res = await api.browse(path);
    } catch (err) {
      this._say(err.message, true);
      return;
    }
    this._say('');
    this.browsePath = res.path;
    this.browseParent = res.parent;
    this.q('#browser').hidden = false;
    this.q('#browse-path').textContent = res.path;
    this.q('#browse-up').disabled = !res.parent;
    const list = this.q('#browse-list');
    list.replaceChildren();
    if (!res.dirs.length) list.append(el('li', 'browse-empty', 'No hay subcarpetas.'));
    for (const name of res.dirs) {
      const li = el('li');
      const btn = el('button', 'browse-dir', name);
      btn.type = 'button';
      btn.addEventListener('click', () => this._browse(`${res.path.replace(/\/$/, '')}/${name}`));
      li.append(btn);
      list.append(li);
    }
  }

  async _savePref(key, value) {
    try {
      this.prefs = await api.prefs({ [key]: value });
      this._say('Preferencia guardada.');
    } catch (err) {
      this._say(err.message, true);
    }
  }
}
