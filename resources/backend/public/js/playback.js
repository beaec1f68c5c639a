// One playback at a time: what the page asked to play, and what it saves as the player
// reports back. The player is either the shell's native one or the page's own (see
// players.js); both report the same events: ready, time, ended, error, stalled,
// closed. The native one also reports next (play what follows now) and tracks (the
// user picked other audio or subtitles). Events only say "the video", so they belong
// to whatever was asked for last.

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
  // player: { play(request), stop(), countsDown? } (countsDown: it shows the next
  // video's countdown itself at the end, and reports 'next' when it runs out);
  // api: see api.js; notify(kind, id, detail): tells the view ('playing', 'error' (with
  // the player's event), 'stalled', 'saved', 'closed'); playNext(id): plays that video
  // as if the user had picked it, false when it is no longer there;
  // tracksChanged(item, audio, subtitles): the user picked other tracks in the player
  // (its indices).
  constructor({ player, api, notify, playNext = () => {}, tracksChanged = () => {} }) {
    this.player = player;
    this.api = api;
    this.notify = notify;
    this.playNext = playNext;
    this.tracksChanged = tracksChanged;
    this.current = null;
  }

  // prefs: { audio, subtitles, subtitleUrl?, hwdec? } (subtitleUrl: a subtitle file's
  // service path; hwdec only when the user set it). next: the video that follows, or null.
  play(item, prefs, next = null) {
    if (this.current) this._save();
    const resume = item.position > 1 ? item.position : 0;
    this.current = {
      id: item.id,
      item,
      next: next ? next.id : null,
      // At the end the player stays on, counting down to the next video.
      waitsForNext: !!(next && this.player.countsDown),
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
      ...(typeof prefs.hwdec === 'boolean' ? { hwdec: prefs.hwdec } : {}),
      ...(next ? { next: next.title } : {}),
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
        this._learnDuration(cur);
        this.api.watched(cur.id, true).then(() => this.notify('saved', cur.id), () => {});
        if (cur.waitsForNext) {
          // The player counts down to the next video: leave it on until it says 'next'
          // or the user goes back ('closed'). The end needs no position saved.
          cur.savedPosition = cur.position;
          break;
        }
        this.current = null;
        // The player stays on its last frame after the end; take the user back.
        this.player.stop();
        this.notify('closed', cur.id);
        break;
      case 'next':
        if (!cur.next || this.playNext(cur.next)) break;
        // What was to follow has left the library meanwhile: take the user back.
        this.current = null;
        this._save(cur);
        this.player.stop();
        this.notify('closed', cur.id);
        break;
      case 'tracks':
        this.tracksChanged(cur.item, detail.audio, detail.subtitles);
        break;
      case 'error':
        this.current = null;
        this._save(cur);
        this.player.stop();
        this.notify('error', cur.id, detail);
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
