// One playback at a time: what the page asked to play, and what it saves as the player
// reports back. The player is either the shell's native one or the page's own (see
// fallback-player.js); both report the same events: ready, time, ended, error,
// stalled, closed. Events only say "the video", so they belong to whatever was asked
// for last.

// Progress is saved after this many seconds of playback, and when playback ends.
export const SAVE_EVERY = 10;

// Players may report a few ticks from the start of the file before they reach the resume
// point. Positions well before it are not taken until the player has been there, so an
// early 0 can never overwrite a saved position, unless playback clearly went on from
// elsewhere (the seek failed, or the user jumped back at once).
const RESUME_SLACK = 5;
const UNCONFIRMED_TICKS = 15;

function finite(n) {
  return typeof n === 'number' && Number.isFinite(n);
}

export class Playback {
  // player: { play(request), stop() }; api: see api.js; notify(kind, id): tells the view
  // ('playing', 'error', 'stalled', 'saved', 'closed').
  constructor({ player, api, notify }) {
    this.player = player;
    this.api = api;
    this.notify = notify;
    this.current = null;
  }

  // prefs: { audio, subtitles, subtitleUrl? } (subtitleUrl: a subtitle file's service path).
  play(item, prefs) {
    if (this.current) this._save();
    const resume = item.position > 1 ? item.position : 0;
    this.current = {
      id: item.id,
      resume,
      position: resume,
      savedPosition: resume,
      duration: item.duration || 0,
      savedDuration: item.duration || 0,
      confirmed: resume === 0,
      ticks: 0,
    };
    this.player.play({
      id: item.id,
      position: resume,
      title: item.title,
      audio: prefs.audio,
      subtitles: prefs.subtitles,
      subtitleUrl: prefs.subtitleUrl,
    });
  }

  handle(detail) {
    const cur = this.current;
    if (!cur || !detail || typeof detail !== 'object') return;
    switch (detail.type) {
      case 'ready':
        this.notify('playing', cur.id);
        break;
      case 'time':
        this._tick(cur, detail.position, detail.duration);
        break;
      case 'stalled':
        this.notify('stalled', cur.id);
        break;
      case 'ended':
        this.current = null;
        this._learnDuration(cur);
        this.api.watched(cur.id, true).then(() => this.notify('saved', cur.id), () => {});
        // The player stays on its last frame after the end; take the user back.
        this.player.stop();
        this.notify('closed', cur.id);
        break;
      case 'error':
        this.current = null;
        this._save(cur);
        this.player.stop();
        this.notify('error', cur.id);
        break;
      case 'closed':
        this.current = null;
        this._save(cur);
        this.notify('closed', cur.id);
        break;
      default:
        break;
    }
  }

  _tick(cur, position, duration) {
    if (finite(duration) && duration > 0) cur.duration = duration;
    if (!finite(position) || position < 0) return;
    cur.ticks += 1;
    if (!cur.confirmed) {
      if (position >= cur.resume - RESUME_SLACK || cur.ticks > UNCONFIRMED_TICKS) cur.confirmed = true;
      else return;
    }
    cur.position = position;
    if (Math.abs(position - cur.savedPosition) >= SAVE_EVERY) this._save(cur);
  }

  _save(cur = this.current) {
    if (!cur) return;
    if (cur.position === cur.savedPosition) {
      this._learnDuration(cur);
      return;
    }
    cur.savedPosition = cur.position;
    cur.savedDuration = cur.duration;
    this.api.progress(cur.id, cur.position, cur.duration)
      .then(() => this.notify('saved', cur.id), () => {});
  }

  _learnDuration(cur) {
    if (cur.duration > 0 && cur.duration !== cur.savedDuration) {
      cur.savedDuration = cur.duration;
      this.api.duration(cur.id, cur.duration).then(() => this.notify('saved', cur.id), () => {});
    }
  }

  // The page is going away (reload, navigation): keep what is known.
  flush() {
    if (this.current) this._save();
  }
}
