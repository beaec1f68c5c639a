'use strict';
// What the service reads from the files themselves (durations, tracks, posters), the
// subtitle files beside a video, and series grouping. Media is generated with ffmpeg.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');

const { matchSubtitles } = require('../../resources/backend/lib/subtitles');
const { parseEpisode, nextEpisodes } = require('../../resources/backend/lib/series');
const { findTool } = require('../../resources/backend/lib/probe');
const { tempTree, startService, request, getJson, scanned } = require('./support/service');

const { FFMPEG, FFPROBE } = require('./support/media');

// A 4 s clip: a test pattern, Spanish and English audio, an embedded French subtitle.
function makeClip(file, { seconds = 4 } = {}) {
  const dir = path.dirname(file);
  fs.mkdirSync(dir, { recursive: true });
  const srt = path.join(dir, '.fr.srt.tmp');
  fs.writeFileSync(srt, '1\n00:00:00,000 --> 00:00:02,000\nBonjour\n');
  execFileSync(FFMPEG, ['-v', 'error', '-y',
    '-f', 'lavfi', '-i', `testsrc=size=320x180:rate=10:duration=${seconds}`,
    '-f', 'lavfi', '-i', `sine=frequency=440:duration=${seconds}`,
    '-f', 'lavfi', '-i', `sine=frequency=660:duration=${seconds}`,
    '-i', srt,
    '-map', '0', '-map', '1', '-map', '2', '-map', '3',
    '-c:v', 'libx264', '-preset', 'ultrafast', '-c:a', 'aac', '-c:s', 'srt',
    '-metadata:s:a:0', 'language=spa', '-metadata:s:a:1', 'language=eng',
    '-metadata:s:s:0', 'language=fre', file]);
  fs.unlinkSync(srt);
}

// A folder of `ffprobe`/`ffmpeg` that count their runs in `log` and call the real ones.
function countingTools(dir, log) {
  fs.mkdirSync(dir, { recursive: true });
  for (const [name, real] of [['ffprobe', FFPROBE], ['ffmpeg', FFMPEG]]) {
    fs.writeFileSync(path.join(dir, name), `#!/bin/sh\necho ${name} >> "${log}"\nexec "${real}" "$@"\n`, { mode: 0o755 });
  }
  return dir;
}

function runs(log, name) {
  return fs.existsSync(log) ? fs.readFileSync(log, 'utf8').split('\n').filter((l) => l === name).length : 0;
}

// Waits until the scan has finished and every file has been probed.
async function probed(port, timeoutMs = 90000) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const lib = await scanned(port, timeoutMs);
    if (lib.probing.pending === 0) return lib;
    if (Date.now() > end) throw new Error(`probing did not finish: ${JSON.stringify(lib.probing)}`);
    await new Promise((r) => setTimeout(r, 100));
  }
}

const byTitle = (lib) => Object.fromEntries(lib.items.map((i) => [i.title, i]));

test('subtitle files beside a video are matched by base name and language', () => {
  const names = ['Peli.srt', 'Peli.es.srt', 'Peli.spa.ass', 'Peli.pt-BR.vtt', 'Peli.en.forced.srt',
    'Peli.SSA', 'Peli 2.srt', 'Peli.extra.largo.srt', 'Pelicula.srt', 'Peli.es.txt', 'Otra.es.srt'];
  assert.deepEqual(matchSubtitles('Peli.mkv', names), [
    { name: 'Peli.SSA', language: null },
    { name: 'Peli.en.forced.srt', language: 'en' },
    { name: 'Peli.es.srt', language: 'es' },
    { name: 'Peli.pt-BR.vtt', language: 'pt-BR' },
    { name: 'Peli.spa.ass', language: 'spa' },
    { name: 'Peli.srt', language: null },
  ]);
  // A dotted video name keeps its dots as part of the base name.
  assert.deepEqual(matchSubtitles('Mi.Peli.2019.mp4', ['Mi.Peli.2019.es.srt', 'Mi.Peli.srt']),
    [{ name: 'Mi.Peli.2019.es.srt', language: 'es' }]);
});

test('episodes are told by their names and grouped by series, season and episode', () => {
  const cases = [
    ['/v/The.Office.S01E02.Diversity.Day.mkv', ['the office', 'The Office', 1, 2, 'Diversity Day']],
    ['/v/the office s01e10.mp4', ['the office', 'the office', 1, 10, '']],
    ['/v/Show - 2x05 - Título.mp4', ['show', 'Show', 2, 5, 'Título']],
    ['/v/Mi Serie/Temporada 2/S02E05.mkv', ['mi serie', 'Mi Serie', 2, 5, '']],
    ['/v/Mi Serie/s01e01 Piloto.mkv', ['mi serie', 'Mi Serie', 1, 1, 'Piloto']],
    ['/v/Cosmos [1x13].avi', ['cosmos', 'Cosmos', 1, 13, '']],
    ['/v/Blade Runner 2049.mkv', null],
    ['/v/Película 1920x1080.mkv', null],
    ['/v/1917.mkv', null],
    ['/v/Documental.x264.mkv', null],
  ];
  for (const [file, want] of cases) {
    const got = parseEpisode(file);
    assert.deepEqual(got && [got.key, got.title, got.season, got.episode, got.name], want, file);
  }

  const ep = (id, season, episode, extra = {}) => ({
    id, series: { key: 's', season, episode }, watched: false, position: 0, updatedAt: 0, ...extra,
  });
  const cases2 = [
    ['after a finished episode, the next unseen one, across seasons',
      [ep('a', 1, 1, { watched: true, updatedAt: 5 }), ep('c', 2, 1), ep('b', 1, 2, { watched: true, updatedAt: 9 })], ['c']],
    ['an episode still being watched offers nothing more',
      [ep('a', 1, 1, { watched: true, updatedAt: 5 }), ep('b', 1, 2, { position: 30, updatedAt: 9 })], []],
    ['the last episode finished: nothing to offer', [ep('a', 1, 1), ep('b', 1, 2, { watched: true, updatedAt: 2 })], []],
    ['nothing watched yet', [ep('a', 1, 1), ep('b', 1, 2)], []],
  ];
  for (const [name, items, want] of cases2) assert.deepEqual(nextEpisodes(items), want, name);
});

test('durations, tracks and posters come from the files; strange files are listed without them', async () => {
  const root = tempTree();
  const home = path.join(root, 'home');
  const videos = path.join(home, 'Videos');
  makeClip(path.join(videos, 'Clip.mkv'));
  fs.writeFileSync(path.join(videos, 'Clip.es.srt'), '1\n00:00:00,000 --> 00:00:02,000\nHola\n');
  fs.writeFileSync(path.join(videos, 'Clip.eng.vtt'), 'WEBVTT\n\n00:00.000 --> 00:02.000\nHello\n');
  fs.writeFileSync(path.join(videos, 'vacio.mp4'), '');
  fs.writeFileSync(path.join(videos, 'falso.mkv'), 'esto no es un vídeo\n');
  const whole = fs.readFileSync(path.join(videos, 'Clip.mkv'));
  fs.writeFileSync(path.join(videos, 'cortado.mkv'), whole.subarray(0, Math.floor(whole.length / 3)));
  // A name that is not valid UTF-8.
  fs.writeFileSync(Buffer.concat([Buffer.from(`${videos}/raro-`), Buffer.from([0xff, 0xfe]), Buffer.from('.mkv')]), whole);

  const dataDir = path.join(root, 'data');
  const log = path.join(root, 'runs.log');
  const tools = countingTools(path.join(root, 'tools'), log);
  const env = { PATH: `${tools}:/usr/bin:/bin` };
  let svc = await startService({ home, dataDir, env });
  let clip;
  try {
    const lib = await probed(svc.port);
    const t = byTitle(lib);
    clip = t.Clip;
    assert.ok(Math.abs(clip.duration - 4) < 0.2, `duration ${clip.duration}`);
    assert.deepEqual([clip.width, clip.height], [320, 180]);
    assert.deepEqual(clip.audio.map((a) => a.language), ['spa', 'eng']);
    assert.deepEqual(clip.subtitles.map((s) => [s.language, s.embedded, s.url || null]), [
      ['fre', true, null],
      ['eng', false, `/subtitles/${clip.id}/0`],
      ['es', false, `/subtitles/${clip.id}/1`],
    ]);
    for (const name of ['vacio', 'falso']) {
      assert.deepEqual([t[name].probed, t[name].duration, t[name].poster], [false, null, null], name);
    }
    assert.ok(t.cortado, 'the truncated file is listed');

    // The poster: served by id, a JPEG as wide as two card widths, cacheable.
    assert.match(clip.poster, new RegExp(`^/posters/${clip.id}\\?v=`));
    const poster = await request(svc.port, { path: clip.poster });
    assert.equal(poster.status, 200);
    assert.equal(poster.headers['content-type'], 'image/jpeg');
    assert.match(poster.headers['cache-control'], /max-age=\d+/);
    const size = execFileSync(FFPROBE, ['-v', 'error', '-show_entries', 'stream=width,height', '-of', 'csv=p=0', '-'],
      { input: poster.body }).toString().trim();
    assert.equal(size, '480,270');
    const again = await request(svc.port, { path: clip.poster, headers: { 'If-None-Match': poster.headers.etag } });
    assert.equal(again.status, 304);

    // Subtitle files are served by id and number; nothing else is.
    const vtt = await request(svc.port, { path: `/subtitles/${clip.id}/0` });
    assert.deepEqual([vtt.status, vtt.headers['content-type']], [200, 'text/vtt']);
    assert.match(vtt.body.toString(), /Hello/);
    for (const p of [`/subtitles/${clip.id}/2`, `/subtitles/${clip.id}`, `/subtitles/${t.vacio.id}/0`,
      `/posters/${t.falso.id}`, '/posters/..%2Fmedia-cache.json', `/posters/${clip.id}/0`]) {
      assert.equal((await request(svc.port, { path: p })).status, 404, p);
    }
  } finally {
    await svc.stop();
  }

  // A restart probes nothing again...
  const before = [runs(log, 'ffprobe'), runs(log, 'ffmpeg')];
  assert.ok(before[0] >= 4 && before[1] >= 2, `runs ${before}`);
  svc = await startService({ home, dataDir, env });
  try {
    const lib = await probed(svc.port);
    assert.equal(byTitle(lib).Clip.duration, clip.duration);
    assert.equal(byTitle(lib).Clip.poster, clip.poster);
    assert.deepEqual([runs(log, 'ffprobe'), runs(log, 'ffmpeg')], before);
  } finally {
    await svc.stop();
  }

  // ...and a damaged cache is set aside and rebuilt.
  fs.writeFileSync(path.join(dataDir, 'media-cache.json'), '{"entries": {"abc": ');
  svc = await startService({ home, dataDir, env });
  try {
    const lib = await probed(svc.port);
    assert.ok(Math.abs(byTitle(lib).Clip.duration - 4) < 0.2);
    assert.ok(runs(log, 'ffprobe') > before[0]);
    assert.ok(fs.readdirSync(dataDir).some((n) => n.startsWith('media-cache.json.corrupt-')));
    assert.match(svc.output(), /media-cache\.json: no se pudo interpretar/);
    // The rebuilt cache is written shortly after the probing that refills it.
    const cacheFile = path.join(dataDir, 'media-cache.json');
    const until = Date.now() + 10000;
    while (!fs.existsSync(cacheFile) && Date.now() < until) await new Promise((r) => setTimeout(r, 50));
    JSON.parse(fs.readFileSync(cacheFile, 'utf8'));
  } finally {
    await svc.stop();
  }
});

test('without ffprobe the library works as before and says so once', async () => {
  const root = tempTree();
  const home = path.join(root, 'home');
  fs.mkdirSync(path.join(home, 'Videos', 'Serie'), { recursive: true });
  fs.writeFileSync(path.join(home, 'Videos', 'Serie', 'S01E01.mkv'), 'x');
  fs.writeFileSync(path.join(home, 'Videos', 'Serie', 'S01E01.es.srt'), 'x');
  fs.mkdirSync(path.join(root, 'empty'));
  assert.equal(await findTool('ffprobe', path.join(root, 'empty')), null);
  const svc = await startService({ home, dataDir: path.join(root, 'data'), env: { PATH: path.join(root, 'empty') } });
  try {
    const lib = await probed(svc.port);
    const ep = lib.items.find((i) => i.series);
    assert.deepEqual([ep.series.title, ep.probed, ep.duration, ep.poster, ep.subtitles.length], ['Serie', false, null, null, 1]);
    assert.equal((await request(svc.port, { method: 'HEAD', path: `/media/${ep.id}` })).status, 200);
    await getJson(svc.port, '/api/library');
    assert.equal(svc.output().match(/ffprobe no está instalado/g).length, 1);
  } finally {
    await svc.stop();
  }
});
