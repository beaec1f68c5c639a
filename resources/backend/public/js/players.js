// The two players behind Playback: the shell's native player, driven by page messages,
// and, when the page runs in a plain browser, a <video> laid over the page that reports
// the same events the shell would.

import { nativeMediaUrl, postPlayer } from './shell.js';

export class NativePlayer {
  // The shell shows "Siguiente: …" with a countdown in the last seconds of a video
  // played with `next`, and reports 'next' when it runs out.
  get countsDown() { return true; }

  play(req) {
    postPlayer({
      action: 'play',
      url: nativeMediaUrl(req.id),
      position: req.position,
      title: req.title,
      audio: req.audio,
      subtitles: req.subtitles,
      ...(req.subtitleUrl ? { subtitleUrl: nativeMediaUrl(req.id, req.subtitleUrl) } : {}),
      ...(typeof req.hwdec === 'boolean' ? { hwdec: req.hwdec } : {}),
      ...(req.next ? { next: req.next } : {}),
    });
  }

  stop() {
    postPlayer({ action: 'stop' });
  }
}

export class PagePlayer {
  // emit(detail) receives { type, ... } as the native player's events would carry.
  constructor(emit) {
    this.emit = emit;
    this.root = null;
  }

  play(req) {
    this._close(false);
    const root = document.createElement('div');
    root.className = 'page-player';
    root.setAttribute('role', 'dialog');
    root.setAttribute('aria-label', req.title);

    const bar = document.createElement('div');
    bar.className = 'page-player-bar';
    const back = document.createElement('button');
    back.type = 'button';
    back.className = 'button';
    back.textContent = '← Volver';
    back.addEventListener('click', () => this._close(true));
    const title = document.createElement('span');
    title.className = 'page-player-title';
    title.textContent = req.title;
    bar.append(back, title);

    const video = document.createElement('video');
    video.controls = true;
    video.autoplay = true;
    video.preload = 'auto';
    let lastTick = -1;
    // Events of a video that has since been closed are not ours to report.
    const live = (fn) => (...args) => { if (this.video === video) fn(...args); };
    video.addEventListener('loadedmetadata', () => {
      if (req.position > 1 && req.position < video.duration) video.currentTime = req.position;
    }, { once: true });
    video.addEventListener('timeupdate', live(() => {
      const now = Math.floor(video.currentTime);
      if (now === lastTick) return;
      lastTick = now;
      const duration = Number.isFinite(video.duration) ? video.duration : 0;
      this.emit({ type: 'time', position: video.currentTime, duration });
    }));
    video.addEventListener('ended', live(() => this.emit({ type: 'ended' })));
    video.addEventListener('error', live(() => this.emit({ type: 'error' })));
    video.addEventListener('stalled', live(() => this.emit({ type: 'stalled' })));
    video.src = `/media/${encodeURIComponent(req.id)}`;

    root.append(bar, video);
    root.addEventListener('keydown', (e) => {
      if (e.key === 'Escape') this._close(true);
    });
    document.body.append(root);
    this.root = root;
    this.video = video;
    back.focus();
    this.emit({ type: 'ready' });
  }

  stop() {
    this._close(false);
  }

  _close(notify) {
    if (!this.root) return;
    // Release the file before dropping the element.
    this.video.pause();
    this.video.removeAttribute('src');
    this.video.load();
    this.root.remove();
    this.root = null;
    this.video = null;
    if (notify) this.emit({ type: 'closed' });
  }
}
