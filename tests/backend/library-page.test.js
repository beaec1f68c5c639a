'use strict';
// The library page with posters, series and subtitle files, in headless Chromium
// against the real service and media generated with ffmpeg.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');

const { Browser, findChromium } = require('./support/chromium');
const { tempTree, startService, scanned } = require('./support/service');

const hasFfmpeg = (() => {
  try { execFileSync('ffmpeg', ['-version'], { stdio: 'ignore' }); return true; } catch { return false; }
})();
const missing = !findChromium() ? 'needs Debian\'s chromium package' : !hasFfmpeg ? 'needs Debian\'s ffmpeg package' : false;
// The test command installs every tool: one missing fails the run, never a skip.
if (missing) throw new Error(missing);

const RECORDER = `
  window.__posts = [];
  window.webkit = { messageHandlers: {
    brindlemarPlayer: { postMessage(m) { window.__posts.push(JSON.parse(JSON.stringify(m))); } },
    brindlemarPip: { postMessage() {} },
  } };`;

function clip(file, seconds = 2) {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  execFileSync('ffmpeg', ['-v', 'error', '-y', '-f', 'lavfi', '-i', `testsrc=size=320x180:rate=10:duration=${seconds}`,
    '-c:v', 'libx264', '-preset', 'ultrafast', file]);
}

let svc;
let browser;
let lib;

test.before(async () => {
  const root = tempTree();
  const videos = path.join(root, 'home', 'Videos');
  clip(path.join(videos, 'Cosmos', 'Cosmos.S01E02.Segundo.mkv'));
  clip(path.join(videos, 'Cosmos', 'Cosmos.S01E01.Primero.mkv'));
  clip(path.join(videos, 'Cosmos', 'Cosmos.S02E01.mkv'));
  clip(path.join(videos, 'Viaje.mkv'));
  fs.writeFileSync(path.join(videos, 'Viaje.es.srt'), '1\n00:00:00,000 --> 00:00:02,000\nHola\n');
  fs.writeFileSync(path.join(videos, 'Viaje.en.srt'), '1\n00:00:00,000 --> 00:00:02,000\nHello\n');
  svc = await startService({ home: path.join(root, 'home'), dataDir: path.join(root, 'data') });
  const end = Date.now() + 90000;
  for (;;) {
    lib = await scanned(svc.port);
    if (lib.probing.pending === 0) break;
    if (Date.now() > end) throw new Error('probing did not finish');
    await new Promise((r) => setTimeout(r, 100));
  }
  browser = await Browser.launch();
});

test.after(async () => {
  if (browser) await browser.close();
  if (svc) await svc.stop();
});

// A page with the cookie the shell puts in its web view's jar before it loads the page.
async function openPage() {
  const page = await browser.newPage({ width: 1280, height: 800, preload: RECORDER });
  await page.send('Network.setCookie', {
    name: 'brindlemar_token', value: svc.token, url: `${svc.origin}/`, httpOnly: true, sameSite: 'Strict',
  });
  await page.goto(`${svc.origin}/`);
  return page;
}

const idOf = (title) => lib.items.find((i) => i.title === title).id;

test('cards show posters, lazily; a series is one card that opens its episodes by season', async () => {
  const page = await openPage();
  await page.waitFor("document.querySelectorAll('#grid .card').length === 3");
  const cards = await page.eval(`[...document.querySelectorAll('#grid .card')].map((c) => [
    c.querySelector('.card-title').textContent,
    c.querySelector('.thumb-poster') ? c.querySelector('.thumb-poster').loading : null])`);
  assert.deepEqual(cards, [['Cosmos', 'lazy'], ['Ejemplo', 'lazy'], ['Viaje', 'lazy']]);
  await page.waitFor("[...document.querySelectorAll('#grid .thumb-poster')].every((i) => i.complete && i.naturalWidth === 480)");

  await page.eval("document.querySelector('#grid .card-series .thumb').click()");
  const episodes = await page.eval(`[...document.querySelectorAll('#grid > *')].map((n) =>
    n.classList.contains('season') ? n.textContent : n.querySelector('.card-title').textContent)`);
  assert.deepEqual(episodes, ['Temporada 1', 'T1 · E1 · Primero', 'T1 · E2 · Segundo', 'Temporada 2', 'T2 · E1']);
  assert.equal(await page.eval("document.querySelector('#all-title').textContent"), 'Cosmos (3 episodios)');
  await page.eval("document.querySelector('#series-back').click()");
  assert.equal(await page.eval("document.querySelectorAll('#grid .card').length"), 3);

  // Searching finds episodes one by one.
  await page.eval("const s = document.querySelector('#search'); s.value = 'segundo'; s.dispatchEvent(new Event('input'))");
  assert.deepEqual(await page.eval("[...document.querySelectorAll('#grid .card-title')].map((n) => n.textContent)"),
    ['Cosmos S01E02 Segundo']);
  assert.deepEqual(page.errors, []);
});

test('a subtitle file is offered with the embedded tracks and sent as subtitleUrl', async () => {
  const page = await openPage();
  await page.waitFor("document.querySelectorAll('#grid .card').length === 3");
  const viaje = idOf('Viaje');
  const select = `document.querySelector('#grid .card[data-id="${viaje}"] .card-subs')`;
  assert.deepEqual(await page.eval(`[...${select}.options].map((o) => o.textContent)`),
    ['Subtítulos: según Ajustes', 'Sin subtítulos', 'Inglés (archivo .srt)', 'Español (archivo .srt)']);
  // The sample's own tracks are listed as embedded ones.
  assert.deepEqual(await page.eval(`[...document.querySelector('#grid .card[data-id="ejemplo"] .card-subs').options].slice(2).map((o) => o.textContent)`),
    ['Español (incluidos)', 'Inglés (incluidos)']);

  const play = async () => {
    await page.eval(`document.querySelector('#grid .card[data-id="${viaje}"] .thumb').click()`);
    return page.eval('window.__posts.splice(0)').then((p) => p.filter((m) => m.action === 'play'));
  };
  const cases = [
    // [choice on the card, preference, expected subtitles, expected subtitleUrl]
    ['file:1', 'off', 'off', `http://127.0.0.1:47874/subtitles/${viaje}/1`],
    ['off', 'es', 'off', undefined],
    ['', 'es', 'es', `http://127.0.0.1:47874/subtitles/${viaje}/1`], // only in a file: the file
    ['', 'off', 'off', undefined],
  ];
  for (const [choice, pref, subtitles, subtitleUrl] of cases) {
    await page.eval(`fetch('/api/prefs', { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ subtitles: '${pref}' }) })`);
    // The page reads the preference with the library.
    await page.goto(`${svc.origin}/`);
    await page.waitFor("document.querySelectorAll('#grid .card').length === 3");
    await page.eval(`(() => { const s = ${select}; s.value = '${choice}'; s.dispatchEvent(new Event('change')); })()`);
    const [msg] = await play();
    assert.deepEqual([msg.subtitles, msg.subtitleUrl], [subtitles, subtitleUrl], `${choice} / ${pref}`);
  }
  assert.deepEqual(page.errors, []);
});
