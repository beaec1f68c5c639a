// Learns the durations of videos that have none yet, one at a time, by loading only
// their metadata in a detached <video>, and tells the service. Files the engine cannot
// read are skipped for the rest of the session. Nothing is probed while a video plays,
// so the disk stays free for it.

const TIMEOUT_MS = 8000;
const MAX_PER_SESSION = 300;

export class DurationProbe {
  // report(id, seconds) stores a duration; busy() says whether a video is playing.
  constructor({ report, busy }) {
    this.report = report;
    this.busy = busy;
    // Ids waiting, in order (a Set keeps insertion order and answers "queued?" at once).
    this.queue = new Set();
    this.tried = new Set();
    this.running = false;
    this.waiting = 0;
  }

  // items: the library list; those without a duration are queued.
  want(items) {
    for (const item of items) {
      if (!item.duration && !this.tried.has(item.id)) this.queue.add(item.id);
    }
    this._next();
  }

  _later(ms) {
    if (this.waiting) return;
    this.waiting = setTimeout(() => {
      this.waiting = 0;
      this._next();
    }, ms);
  }

  _next() {
    if (this.running || this.tried.size >= MAX_PER_SESSION) return;
    if (this.busy() || document.hidden) {
      this._later(5000);
      return;
    }
    const [id] = this.queue;
    if (id === undefined) return;
    this.queue.delete(id);
    this.tried.add(id);
    this.running = true;
    const video = document.createElement('video');
    video.preload = 'metadata';
    video.muted = true;
    let timer = 0;
    let finished = false;
    const done = (seconds) => {
      if (finished) return;
      finished = true;
      clearTimeout(timer);
      video.removeAttribute('src');
      video.load();
      this.running = false;
      if (seconds > 0 && Number.isFinite(seconds)) this.report(id, seconds);
      this._later(50);
    };
    timer = setTimeout(() => done(0), TIMEOUT_MS);
    video.addEventListener('loadedmetadata', () => done(video.duration), { once: true });
    video.addEventListener('error', () => done(0), { once: true });
    video.src = `/media/${encodeURIComponent(id)}`;
  }
}
