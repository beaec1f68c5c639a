'use strict';
// The library page in a real browser engine (headless Chromium), against the real
// service. The shell's message handlers are replaced by a recorder, and player events
// are dispatched with the very script text the shell evaluates.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');

const { Browser, findChromium } = require('./support/chromium');
const { tempTree, startService, postJson, getJson, scanned } = require('./support/service');

const hasFfmpeg = (() => {
  try { execFileSync('ffmpeg', ['-version'], { stdio: 'ignore' }); return true; } catch { return false; }
})();
const missing = !findChromium() ? 'needs Debian\'s chromium package' : !hasFfmpeg ? 'needs Debian\'s ffmpeg package' : false;
// The test command installs every tool: one missing fails the run, never a skip.
if (missing) throw new Error(missing);

const RECORDER = `
  window.__posts = [];
  window.webkit = { messageHandlers: {
    brindlemarPlayer: { postMessage(m) { window.__posts.push(['player', JSON.parse(JSON.stringify(m))]); } },
    brindlemarPip: { postMessage(m) { window.__posts.push(['pip', m]); } },
  } };`;

const playerEvent = (detail) => `window.dispatchEvent(new CustomEvent('brindlemar-native-player',{detail:${detail}}))`;
const pipState = (v) => `window.BrindlemarNativePip = ${v}; document.documentElement.classList.toggle('native-pip', ${v}); window.dispatchEvent(new Event('brindlemar-pip-change'));`;

let svc;
let browser;
let ids;

// An episode: a test pattern, English and Spanish audio, an embedded English subtitle;
// a Spanish subtitle file beside it.
function episode(file) {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  const srt = (lang, text) => {
    const f = file.replace(/\.mkv$/, `.${lang}.srt`);
    fs.writeFileSync(f, `1\n00:00:00,000 --> 00:00:01,000\n${text}\n`);
    return f;
  };
  const en = srt('en', 'Hello');
  execFileSync('ffmpeg', ['-v', 'error', '-y',
    '-f', 'lavfi', '-i', 'testsrc=size=160x90:rate=10:duration=1',
    '-f', 'lavfi', '-i', 'sine=frequency=440:duration=1',
    '-f', 'lavfi', '-i', 'sine=frequency=660:duration=1',
    '-i', en, '-map', '0', '-map', '1', '-map', '2', '-map', '3',
    '-c:v', 'libx264', '-preset', 'ultrafast', '-c:a', 'aac', '-c:s', 'srt',
    '-metadata:s:a:0', 'language=eng', '-metadata:s:a:1', 'language=spa', '-metadata:s:s:0', 'language=eng', file]);
  fs.unlinkSync(en);
  srt('es', 'Hola');
}

async function item(id) {
  return (await getJson(svc.port, '/api/library')).items.find((i) => i.id === id);
}

// Waits until the service's copy of `id` satisfies `check`.
async function savedUntil(id, check, what, timeoutMs = 4000) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const it = await item(id);
    if (check(it)) return it;
    if (Date.now() > end) assert.fail(`never saved: ${what}; have ${JSON.stringify(it)}`);
    await new Promise((r) => setTimeout(r, 40));
  }
}

async function openPage(preload = RECORDER) {
  const page = await browser.newPage({ width: 1280, height: 800, preload });
  // The cookie the shell puts in its web view's jar before it loads the page.
  await page.send('Network.setCookie', {
    name: 'brindlemar_token', value: svc.token, url: `${svc.origin}/`, httpOnly: true, sameSite: 'Strict',
  });
  await page.goto(`${svc.origin}/`);
  await page.waitFor("document.querySelectorAll('#grid .card').length === 4");
  return page;
}

const clickCard = (page, id, shelf = 'grid') => page.eval(`document.querySelector('#${shelf} .card[data-id="${id}"] .thumb').click()`);
const takePosts = (page) => page.eval('window.__posts.splice(0)');

test.before(async () => {
  const root = tempTree();
  const videos = path.join(root, 'home', 'Videos');
  fs.mkdirSync(videos, { recursive: true });
  fs.writeFileSync(path.join(videos, 'Película uno.mp4'), 'not really a video');
  fs.writeFileSync(path.join(videos, 'Serie_dos.mkv'), 'not really a video');
  // A series in a folder of its own, so that searching for the videos folder finds none of it.
  const series = path.join(root, 'Series');
  episode(path.join(series, 'Viaje S01E02.mkv'));
  episode(path.join(series, 'Viaje S02E01.mkv'));
  svc = await startService({ home: path.join(root, 'home'), dataDir: path.join(root, 'data') });
  await scanned(svc.port);
  assert.equal((await postJson(svc.port, '/api/folders/add', { path: series })).status, 200);
  let lib;
  for (const end = Date.now() + 60000; ;) {
    lib = await scanned(svc.port);
    if (lib.items.length === 5 && lib.probing.pending === 0) break;
    if (Date.now() > end) throw new Error(`library not ready: ${JSON.stringify(lib.probing)}`);
    await new Promise((r) => setTimeout(r, 100));
  }
  ids = Object.fromEntries(lib.items.map((i) => [i.title, i.id]));
  await postJson(svc.port, '/api/progress', { id: ids['Película uno'], position: 42, duration: 3600 });
  await postJson(svc.port, '/api/prefs', { audio: 'es', subtitles: 'auto' });
  browser = await Browser.launch();
});

test.after(async () => {
  if (browser) await browser.close();
  if (svc) await svc.stop();
});

test('a click asks the shell to play the video with its resume point and the preferences', async () => {
  const page = await openPage();
  const uno = ids['Película uno'];
  assert.equal(await page.eval(`document.querySelectorAll('#continue-row .card[data-id="${uno}"] .progress-fill').length`), 1);
  await clickCard(page, uno, 'continue-row');
  assert.deepEqual(await takePosts(page), [['player', {
    action: 'play',
    url: `http://127.0.0.1:47874/media/${uno}`,
    position: 42,
    title: 'Película uno',
    audio: 'es',
    subtitles: 'auto',
  }]]);

  await clickCard(page, ids.Ejemplo);
  assert.deepEqual(await takePosts(page), [['player', {
    action: 'play', url: 'http://127.0.0.1:47874/media/ejemplo', position: 0, title: 'Ejemplo', audio: 'es', subtitles: 'auto',
  }]]);
  assert.deepEqual(page.errors, []);
});

test('progress is saved every 10 s of playback and on close; an early tick at 0 never replaces the resume point', async () => {
  const page = await openPage();
  const uno = ids['Película uno'];

  // Closed right after a tick from before the seek: the saved point stays.
  await clickCard(page, uno);
  await page.eval(playerEvent("{type:'ready'}"));
  await page.eval(playerEvent("{type:'time',position:0.0,duration:0.0}"));
  await page.eval(playerEvent("{type:'closed'}"));
  await new Promise((r) => setTimeout(r, 300));
  assert.equal((await item(uno)).position, 42);

  await clickCard(page, uno);
  await page.eval(playerEvent("{type:'ready'}"));
  for (const p of ['0.0', '42.0', '43.0', '51.5']) {
    await page.eval(playerEvent(`{type:'time',position:${p},duration:3600.0}`));
  }
  await new Promise((r) => setTimeout(r, 300));
  assert.equal((await item(uno)).position, 42, 'less than 10 s played: nothing saved yet');
  await page.eval(playerEvent("{type:'time',position:52.5,duration:3600.0}"));
  await savedUntil(uno, (i) => i.position === 52.5, 'position after 10 s');
  await page.eval(playerEvent("{type:'time',position:55.25,duration:3600.0}"));
  await page.eval(playerEvent("{type:'closed'}"));
  await savedUntil(uno, (i) => i.position === 55.25, 'position on close');

  // Events after the close belong to no video.
  await page.eval(playerEvent("{type:'time',position:900.0,duration:3600.0}"));
  await page.eval(playerEvent("{type:'ended'}"));
  await new Promise((r) => setTimeout(r, 300));
  const after = await item(uno);
  assert.deepEqual([after.position, after.watched], [55.25, false]);
  assert.deepEqual((await takePosts(page)).map(([, m]) => m.action), ['play', 'play']);
  assert.deepEqual(page.errors, []);
});

test('"ended" marks the video watched and takes the user back; "error" shows a message on its card', async () => {
  const page = await openPage();
  const dos = ids['Serie dos'];
  await clickCard(page, dos);
  await page.eval(playerEvent("{type:'ready'}"));
  await page.eval(playerEvent("{type:'time',position:1.0,duration:1500.0}"));
  await page.eval(playerEvent("{type:'ended'}"));
  const seen = await savedUntil(dos, (i) => i.watched, 'watched');
  assert.equal(seen.duration, 1500);
  assert.equal(seen.position, 0);
  assert.deepEqual((await takePosts(page)).map(([, m]) => m.action), ['play', 'stop']);
  await page.waitFor(`document.querySelector('#grid .card[data-id="${dos}"]').classList.contains('is-watched')`);

  const uno = ids['Película uno'];
  await clickCard(page, uno);
  await page.eval(playerEvent("{type:'ready'}"));
  await page.eval(playerEvent("{type:'error'}"));
  const note = await page.waitFor(`document.querySelector('#grid .card[data-id="${uno}"] .card-error')?.textContent`);
  assert.match(note, /^No se pudo reproducir este vídeo/);
  assert.deepEqual((await takePosts(page)).map(([, m]) => m.action), ['play', 'stop']);
  // Trying again clears the message.
  await clickCard(page, uno);
  assert.equal(await page.eval(`document.querySelectorAll('.card[data-id="${uno}"] .card-error').length`), 0);

  await page.eval(playerEvent("{type:'stalled'}"));
  assert.match(await page.waitFor("!document.querySelector('#toast').hidden && document.querySelector('#toast').textContent"), /detenido/);
  assert.deepEqual(page.errors, []);
});

test('the mini-player button posts enter and exit and the page follows the shell\'s state', async () => {
  const page = await openPage();
  assert.equal(await page.eval("document.querySelector('#pip').hidden"), false);
  await page.eval("document.querySelector('#pip').click()");
  await page.eval(pipState(true));
  assert.equal(await page.eval("document.querySelector('#pip').textContent"), 'Volver a la ventana');
  assert.equal(await page.eval("getComputedStyle(document.querySelector('#open-settings')).display"), 'none');
  await page.eval("document.querySelector('#pip').click()");
  await page.eval(pipState(false));
  assert.equal(await page.eval("document.querySelector('#pip').textContent"), 'Miniatura');
  assert.deepEqual(await takePosts(page), [['pip', 'enter'], ['pip', 'exit']]);
});

test('search narrows the grid, ignoring accents and case', async () => {
  const page = await openPage();
  const shown = async (q) => {
    await page.eval(`(() => { const s = document.querySelector('#search'); s.value = ${JSON.stringify(q)}; s.dispatchEvent(new Event('input')); })()`);
    return page.eval("[...document.querySelectorAll('#grid .card-title')].map((e) => e.textContent)");
  };
  assert.deepEqual(await shown('PELICULA'), ['Película uno']);
  assert.deepEqual(await shown('videos'), ['Película uno', 'Serie dos']); // folder name
  assert.deepEqual(await shown('zzz'), []);
  assert.match(await page.eval("document.querySelector('#empty').textContent"), /Nada coincide/);
});

test('an episode plays with the next one\'s title; at the end the page waits for "next", and tracks picked in the player are kept for the series', async () => {
  const page = await openPage();
  const [e1, e2] = [ids['Viaje S01E02'], ids['Viaje S02E01']];
  const plays = async () => (await takePosts(page)).filter(([, m]) => m.action === 'play').map(([, m]) => m);
  // Waits until the series' stored choice passes `settled`, then compares it.
  const choicesUntil = async (settled, want) => {
    for (const end = Date.now() + 4000; ;) {
      const c = (await getJson(svc.port, '/api/library')).choices['series:viaje'];
      if (settled(c) || Date.now() > end) return assert.deepEqual(c, want);
      await new Promise((r) => setTimeout(r, 40));
    }
  };
  await page.eval("document.querySelector('#grid .card-series .thumb').click()");

  // The last episode: nothing follows.
  await clickCard(page, e2);
  assert.equal('next' in (await plays())[0], false);
  await page.eval(playerEvent("{type:'closed'}"));

  // The next season's first episode follows a season's last.
  await clickCard(page, e1);
  const [first] = await plays();
  assert.deepEqual([first.title, first.next, first.audio, first.subtitles], ['Viaje S01E02', 'Viaje S02E01', 'es', 'auto']);

  // Spanish audio (the second audio track) and the Spanish file (after the one embedded subtitle).
  await page.eval(playerEvent("{type:'tracks',audio:1,subtitles:1}"));
  await choicesUntil((c) => c && c.subtitles === 'es', { audio: 'spa', subtitles: 'es' });

  // The end marks it watched but leaves the player counting down: no stop.
  await page.eval(playerEvent("{type:'time',position:1.0,duration:1.0}"));
  await page.eval(playerEvent("{type:'ended'}"));
  await savedUntil(e1, (i) => i.watched, 'watched at the end');
  assert.deepEqual(await takePosts(page), []);

  await page.eval(playerEvent("{type:'next'}"));
  assert.deepEqual(await plays(), [{
    action: 'play',
    url: `http://127.0.0.1:47874/media/${e2}`,
    position: 0,
    title: 'Viaje S02E01',
    audio: 'spa',
    subtitles: 'es',
    subtitleUrl: `http://127.0.0.1:47874/subtitles/${e2}/0`,
  }]);

  // Subtitles off; an audio index of -1 keeps the audio remembered. Without a next
  // episode the end takes the user back as before.
  await page.eval(playerEvent("{type:'tracks',audio:-1,subtitles:-1}"));
  await choicesUntil((c) => c.subtitles === 'off', { audio: 'spa', subtitles: 'off' });
  await page.eval(playerEvent("{type:'ended'}"));
  assert.deepEqual((await takePosts(page)).map(([, m]) => m.action), ['stop']);

  // A fresh page has the series' choices from the service.
  const again = await openPage();
  await again.eval("document.querySelector('#grid .card-series .thumb').click()");
  await clickCard(again, e1);
  const [m] = (await takePosts(again)).map(([, x]) => x);
  assert.deepEqual([m.audio, m.subtitles, m.subtitleUrl], ['spa', 'off', undefined]);
  assert.deepEqual([...page.errors, ...again.errors], []);
});

test('player track indices map to languages; "error" codes give their sentence, naming the codec', async () => {
  const page = await openPage();
  const tracks = await page.eval(`import('/js/library-view.js').then((m) => {
    const item = { id: 'x', probed: true, audio: [{ language: 'eng' }, { language: null }],
      subtitles: [{ language: 'eng', embedded: true }, { language: 'es', embedded: false }] };
    const unprobed = { id: 'y', probed: false, audio: [], subtitles: [{ language: 'es', embedded: false }] };
    return [
      m.choiceFromTracks(item, 0, 1),
      m.choiceFromTracks(item, 1, 0), // an audio track without a language
      m.choiceFromTracks(item, 5, -1), // out of range
      m.choiceFromTracks(item, -1, 2),
      m.choiceFromTracks(unprobed, -1, 0), // its own streams unknown: index 0 may be one
      m.choiceFromTracks(unprobed, 0, -1),
    ];
  })`);
  assert.deepEqual(tracks, [
    { audio: 'eng', subtitles: 'es' },
    { subtitles: 'eng' },
    { subtitles: 'off' },
    {},
    {},
    { subtitles: 'off' },
  ]);

  const today = 'No se pudo reproducir este vídeo. Puede que el archivo esté dañado o use un formato no compatible.';
  const sentences = [
    // [code, probed codec, sentence]
    [4, 'hevc', 'Este vídeo usa el códec HEVC, que no se puede reproducir aquí.'],
    [4, 'mpeg2video', 'Este vídeo usa el códec MPEG-2, que no se puede reproducir aquí.'],
    [4, 'av1', 'Este vídeo usa el códec AV1, que no se puede reproducir aquí.'],
    [4, undefined, 'Este vídeo usa un códec que no se puede reproducir aquí.'],
    [4, '<b>x</b>', 'Este vídeo usa un códec que no se puede reproducir aquí.'],
    [1, 'hevc', /formato no se reconoce/],
    [2, undefined, /se haya movido o borrado/],
    [3, undefined, /conexión con el servicio/],
    [5, undefined, /decodificación por hardware/],
    [0, 'hevc', today],
    [undefined, undefined, today],
    [42, undefined, today],
    ['4', 'hevc', today],
  ];
  const got = await page.eval(`import('/js/errors.js').then((m) => ${JSON.stringify(sentences.map(([c, k]) => [c ?? null, k ?? null]))}
    .map(([c, k]) => m.playbackErrorText(c ?? undefined, k ?? undefined)))`);
  sentences.forEach(([code, codec, want], i) => {
    if (want instanceof RegExp) assert.match(got[i], want, `${code} ${codec}`);
    else assert.equal(got[i], want, `${code} ${codec}`);
  });

  // On the card, with the codec the service probed (the clip is H.264).
  const e1 = ids['Viaje S01E02'];
  await page.eval("const s = document.querySelector('#search'); s.value = 'S01E02'; s.dispatchEvent(new Event('input'))");
  await clickCard(page, e1);
  await page.eval(playerEvent("{type:'error',code:4}"));
  const note = await page.waitFor(`document.querySelector('#grid .card[data-id="${e1}"] .card-error')?.textContent`);
  assert.equal(note, 'Este vídeo usa el códec H.264, que no se puede reproducir aquí.');
  assert.deepEqual((await takePosts(page)).map(([, m]) => m.action), ['play', 'stop']);
  assert.deepEqual(page.errors, []);
});

test('hardware decoding: on until set in Ajustes, then sent with every play', async () => {
  const page = await openPage();
  const box = "document.querySelector('#pref-hwdec')";
  assert.deepEqual(await page.eval(`[${box}.checked, ${box}.labels[0].textContent.trim()]`), [true, 'Decodificación por hardware']);
  const hwdecOfPlay = async () => {
    await clickCard(page, ids['Película uno']);
    const [[, m]] = await takePosts(page);
    return m.hwdec;
  };
  assert.equal(await hwdecOfPlay(), undefined, 'never set: the shell decides');
  await page.eval("document.querySelector('#open-settings').click()");
  for (const want of [false, true]) {
    await page.eval(`${box}.click()`);
    await page.waitFor("document.querySelector('#settings-message').textContent === 'Preferencia guardada.'");
    assert.equal((await getJson(svc.port, '/api/library')).prefs.hwdec, want);
    assert.equal(await hwdecOfPlay(), want);
    await page.eval("document.querySelector('#settings-message').textContent = ''");
  }
  assert.deepEqual(page.errors, []);
});

test('chapters show on a card as a list to open, with their times', async () => {
  const page = await openPage();
  const lines = await page.eval(`import('/js/cards.js').then((m) => {
    const card = m.videoCard({ id: 'c', title: 'Con capítulos', folder: 'Vídeos', chapters: [
      { start: 0, end: 95, title: 'Intro' }, { start: 95, end: 3725, title: '' }, { start: 3725, end: 3800, title: 'Créditos' },
    ] }, null, { play() {}, setWatched() {} });
    const bare = m.videoCard({ id: 'd', title: 'Sin capítulos', folder: 'Vídeos', chapters: [] }, null, { play() {}, setWatched() {} });
    return [card.querySelector('.card-chapters summary').textContent,
      [...card.querySelectorAll('.card-chapters li')].map((li) => li.textContent),
      bare.querySelectorAll('.card-chapters').length];
  })`);
  assert.deepEqual(lines, ['Capítulos (3)', ['0:00 Intro', '1:35 Capítulo 2', '1:02:05 Créditos'], 0]);
});

test('without the shell the page plays in its own player; the sample clip plays to its end', async () => {
  await postJson(svc.port, '/api/watched', { id: 'ejemplo', watched: false });
  const page = await openPage('');
  assert.equal(await page.eval("document.querySelector('#pip').hidden"), true);
  // A real click, so the browser lets the video start with sound.
  const box = await page.eval(`(() => { const r = document.querySelector('#grid .card[data-id="ejemplo"] .thumb').getBoundingClientRect(); return { x: r.x + r.width / 2, y: r.y + r.height / 2 }; })()`);
  for (const type of ['mousePressed', 'mouseReleased']) {
    await page.send('Input.dispatchMouseEvent', { type, x: box.x, y: box.y, button: 'left', clickCount: 1 });
  }
  assert.equal(await page.waitFor("document.querySelector('.page-player video')?.getAttribute('src')"), '/media/ejemplo');
  const seen = await savedUntil('ejemplo', (i) => i.watched, 'sample watched at its end', 15000);
  assert.ok(Math.abs(seen.duration - 8) < 0.5, `duration ${seen.duration}`);
  await page.waitFor("!document.querySelector('.page-player')");
  assert.deepEqual(page.errors, []);
});
