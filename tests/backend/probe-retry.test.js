'use strict';
// What the files say is kept only when the files themselves said it: a probe or a poster
// that failed for a passing reason (a tool killed, a data folder that took no writes) is
// tried again later, and after a restart.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const { mediaId } = require('../../resources/backend/lib/library');
const { tempTree, copyBackend, startService } = require('./support/service');
const { makeClip, wrappedTools, until, probed, byTitle } = require('./support/media');

const NOBODY = 65534;

test('probes and posters that failed for a passing reason are made later, and after a restart', async (t) => {
  const root = tempTree();
  const home = path.join(root, 'home');
  const videos = path.join(home, 'Videos');
  const dataDir = path.join(root, 'data');
  const posters = path.join(dataDir, 'posters');
  const clip = makeClip(path.join(root, 'clip.mkv'));
  fs.mkdirSync(videos, { recursive: true });
  for (const name of ['Uno', 'Dos', 'Tres']) fs.copyFileSync(clip, path.join(videos, `${name}.mkv`));
  // While its flag is there, a tool run on that video is killed, as by the system under
  // memory pressure.
  const flag = (name) => path.join(root, `kill-${name}`);
  const killIf = (tool) => `f=$(readlink /proc/$$/fd/3); for v in Uno Dos; do
    case "$f" in */$v.mkv) [ -e "${root}/kill-${tool}-$v" ] && kill -KILL $$;; esac; done`;
  const tools = wrappedTools(path.join(root, 'tools'), { ffprobe: killIf('ffprobe'), ffmpeg: killIf('ffmpeg') });
  fs.writeFileSync(flag('ffmpeg-Uno'), '');
  fs.writeFileSync(flag('ffprobe-Dos'), '');
  // A posters folder that takes no writes, as a full disk would. Root writes anywhere,
  // so as root the service runs as nobody.
  fs.mkdirSync(posters, { recursive: true });
  let opts = {};
  if (process.getuid() === 0) {
    fs.chmodSync(root, 0o755);
    fs.chownSync(dataDir, NOBODY, NOBODY);
    fs.chownSync(posters, NOBODY, NOBODY);
    opts = { uid: NOBODY, gid: NOBODY, backend: copyBackend(path.join(root, 'backend')) };
  }
  fs.chmodSync(posters, 0o500);
  const env = { PATH: `${tools}:/usr/bin:/bin` };

  let svc = await startService({ home, dataDir, env, ...opts });
  t.after(() => svc.stop());
  let lib = byTitle(await probed(svc.port));
  assert.deepEqual([lib.Uno.probed, lib.Uno.poster], [true, null], 'Uno: ffmpeg killed');
  assert.deepEqual([lib.Dos.probed, lib.Dos.poster], [false, null], 'Dos: ffprobe killed');
  assert.deepEqual([lib.Tres.probed, lib.Tres.poster], [true, null], 'Tres: no room for its poster');

  // Room again: the poster comes without anything asking for it; so does the one of the
  // video whose ffmpeg is no longer killed.
  fs.chmodSync(posters, 0o700);
  await until(async () => byTitle(await probed(svc.port)).Tres.poster, 'the poster of Tres', 30000);
  fs.unlinkSync(flag('ffmpeg-Uno'));
  await until(async () => byTitle(await probed(svc.port)).Uno.poster, 'the poster of Uno', 30000);

  // The video whose probe failed through the whole run is probed at the next start.
  await svc.stop();
  fs.unlinkSync(flag('ffprobe-Dos'));
  svc = await startService({ home, dataDir, env, ...opts });
  lib = byTitle(await probed(svc.port));
  assert.equal(lib.Dos.probed, true);
  assert.ok(lib.Dos.poster, 'Dos gets its poster');
  assert.ok(lib.Uno.poster && lib.Tres.poster, 'the posters made before are kept');
});

test('posters that an older version gave up on for good are tried again', async (t) => {
  const root = tempTree();
  const home = path.join(root, 'home');
  const dataDir = path.join(root, 'data');
  const file = makeClip(path.join(home, 'Videos', 'Viejo.mkv'));
  const st = fs.statSync(file);
  fs.mkdirSync(dataDir);
  // As the older version left it after a failure: the facts, and poster false for ever.
  fs.writeFileSync(path.join(dataDir, 'media-cache.json'), JSON.stringify({
    version: 1,
    entries: {
      [mediaId(file)]: {
        size: st.size, mtimeMs: st.mtimeMs, poster: false,
        facts: { duration: 2, width: 320, height: 180, audio: [], subtitles: [], hasVideo: true },
      },
    },
  }));
  const svc = await startService({ home, dataDir });
  t.after(() => svc.stop());
  const viejo = await until(async () => {
    const item = byTitle(await probed(svc.port)).Viejo;
    return item.poster && item;
  }, 'the poster', 30000);
  assert.deepEqual([viejo.probed, viejo.width], [true, 320]);
});
