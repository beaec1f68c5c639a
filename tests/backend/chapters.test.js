'use strict';
// Chapters read from the files, on the items the page gets; facts kept by an older
// version are read again for them, posters kept.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const { mediaId } = require('../../resources/backend/lib/library');
const { tempTree, startService } = require('./support/service');
const { makeClip, wrappedTools, probed, byTitle } = require('./support/media');

const CHAPTERS = `;FFMETADATA1
[CHAPTER]
TIMEBASE=1/1000
START=0
END=2000
title=Intro
[CHAPTER]
TIMEBASE=1/1000
START=2000
END=4500
[CHAPTER]
TIMEBASE=1/1000
START=4500
END=6000
title=Créditos finales
`;

function runs(log, tool, file) {
  return fs.existsSync(log) ? fs.readFileSync(log, 'utf8').split('\n').filter((l) => l === `${tool} ${file}`).length : 0;
}

test('chapters come with each item, and facts kept by an older version are read again for them', async (t) => {
  const root = tempTree();
  const home = path.join(root, 'home');
  const videos = path.join(home, 'Videos');
  const dataDir = path.join(root, 'data');
  const meta = path.join(root, 'chapters.txt');
  fs.writeFileSync(meta, CHAPTERS);
  const withChapters = makeClip(path.join(videos, 'Capitulos.mkv'), {
    seconds: 6, inputs: ['-i', meta], extra: ['-map', '0', '-map_chapters', '1'],
  });
  makeClip(path.join(videos, 'Sencillo.mkv'));
  const log = path.join(root, 'runs.log');
  // Each run noted as "<tool> <file name>".
  const note = (tool) => `echo "${tool} $(basename "$(readlink /proc/$$/fd/3)")" >> "${log}"`;
  const tools = wrappedTools(path.join(root, 'tools'), { ffprobe: note('ffprobe'), ffmpeg: note('ffmpeg') });
  const env = { PATH: `${tools}:/usr/bin:/bin` };

  // What the previous version kept of Capitulos: its facts without chapters, its poster.
  const st = fs.statSync(withChapters);
  const id = mediaId(withChapters);
  fs.mkdirSync(path.join(dataDir, 'posters'), { recursive: true });
  fs.writeFileSync(path.join(dataDir, 'posters', `${id}.jpg`), 'the poster made before');
  fs.writeFileSync(path.join(dataDir, 'media-cache.json'), JSON.stringify({
    version: 2,
    entries: {
      [id]: {
        size: st.size, mtimeMs: st.mtimeMs, poster: true,
        facts: { duration: 6, width: 320, height: 180, audio: [], subtitles: [], hasVideo: true },
      },
    },
  }));

  let svc = await startService({ home, dataDir, env });
  t.after(() => svc.stop());
  let lib = byTitle(await probed(svc.port));
  assert.deepEqual(lib.Capitulos.chapters, [
    { start: 0, end: 2, title: 'Intro' },
    { start: 2, end: 4.5, title: '' },
    { start: 4.5, end: 6, title: 'Créditos finales' },
  ]);
  assert.deepEqual(lib.Sencillo.chapters, []);
  assert.deepEqual([lib.Capitulos.duration, lib.Capitulos.width], [6, 320]);
  // The video's codec comes with the facts read again: the page names it when it cannot play.
  assert.equal(lib.Capitulos.videoCodec, 'h264');
  // Read again by ffprobe, but its poster was kept, not made again.
  assert.deepEqual([runs(log, 'ffprobe', 'Capitulos.mkv'), runs(log, 'ffmpeg', 'Capitulos.mkv')], [1, 0]);
  assert.ok(lib.Capitulos.poster);
  assert.equal(fs.readFileSync(path.join(dataDir, 'posters', `${id}.jpg`), 'utf8'), 'the poster made before');

  // Kept with the other facts: a restart reads nothing again.
  await svc.stop();
  const before = fs.readFileSync(log, 'utf8');
  svc = await startService({ home, dataDir, env });
  lib = byTitle(await probed(svc.port));
  assert.equal(lib.Capitulos.chapters.length, 3);
  assert.equal(fs.readFileSync(log, 'utf8'), before);
});
