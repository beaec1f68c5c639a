'use strict';
// The library page in a real browser engine (headless Chromium), against the real
// service. The shell's message handlers are replaced by a recorder, and player events
// are dispatched with the very script text the shell evaluates.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const { Browser, findChromium } = require('./support/chromium');
const { tempTree, startService, postJson, getJson, scanned } = require('./support/service');

const missing = findChromium() ? false : 'needs Debian\'s chromium package';
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
  await page.waitFor("document.querySelectorAll('#grid .card').length === 3");
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
  svc = await startService({ home: path.join(root, 'home'), dataDir: path.join(root, 'data') });
  const lib = await scanned(svc.port);
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
