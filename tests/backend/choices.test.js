'use strict';
// The audio and subtitles remembered per series (or per video outside one), and the
// hardware-decoding preference: what the service accepts, what it keeps across a
// restart, and how many choices it keeps.
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const { LibraryState, CHOICES_MAX } = require('../../resources/backend/lib/state');
const { tempTree, startService, postJson, getJson, scanned } = require('./support/service');

function libraryTree() {
  const root = tempTree();
  const home = path.join(root, 'home');
  fs.mkdirSync(path.join(home, 'Videos', 'Cosmos'), { recursive: true });
  for (const name of ['Cosmos/Cosmos S01E01.mkv', 'Cosmos/Cosmos S01E02.mkv', 'peli.mp4']) {
    fs.writeFileSync(path.join(home, 'Videos', name), 'x');
  }
  return { home, dataDir: path.join(root, 'data') };
}

test('choices are checked like the preferences, stored per series or video, and kept across a restart', async () => {
  const tree = libraryTree();
  let svc = await startService(tree);
  let peli;
  try {
    peli = (await scanned(svc.port)).items.find((i) => i.title === 'peli').id;
    const bad = [
      // [body, status]
      [{ audio: 'spa' }, 404],
      [{ key: 42, audio: 'spa' }, 404],
      [{ key: 'cosmos', audio: 'spa' }, 404],
      [{ key: 'series:otra', audio: 'spa' }, 404],
      [{ key: 'series:Cosmos', audio: 'spa' }, 404], // keys are folded, as the service gives them
      [{ key: 'video:nope', audio: 'spa' }, 404],
      [{ key: 'video:__proto__', audio: 'spa' }, 404],
      [{ key: `series:${'a'.repeat(300)}`, audio: 'spa' }, 404],
      [{ key: 'series:cosmos', audio: 'español' }, 400],
      [{ key: 'series:cosmos', subtitles: 'original' }, 400],
      [{ key: 'series:cosmos', subtitles: 7 }, 400],
      [{ key: 'series:cosmos', audio: 'spa', subtitles: null }, 400],
    ];
    for (const [body, status] of bad) {
      assert.equal((await postJson(svc.port, '/api/choices', body)).status, status, JSON.stringify(body));
    }
    assert.equal((await postJson(svc.port, '/api/prefs', { hwdec: 'yes' })).status, 400);
    let lib = await getJson(svc.port, '/api/library');
    assert.deepEqual([lib.choices, lib.prefs], [{}, { audio: 'original', subtitles: 'off' }], 'refused requests change nothing');

    const ok = await postJson(svc.port, '/api/choices', { key: 'series:cosmos', audio: 'spa', subtitles: 'eng' });
    assert.deepEqual([ok.status, ok.json], [200, { key: 'series:cosmos', audio: 'spa', subtitles: 'eng' }]);
    // A value left out keeps what was stored.
    const partial = await postJson(svc.port, '/api/choices', { key: 'series:cosmos', subtitles: 'off' });
    assert.deepEqual(partial.json, { key: 'series:cosmos', audio: 'spa', subtitles: 'off' });
    await postJson(svc.port, '/api/choices', { key: `video:${peli}`, subtitles: 'pt-BR' });
    assert.equal((await postJson(svc.port, '/api/prefs', { hwdec: false })).json.hwdec, false);
  } finally {
    await svc.stop();
  }

  svc = await startService(tree);
  try {
    const lib = await scanned(svc.port);
    assert.deepEqual(lib.choices, { 'series:cosmos': { audio: 'spa', subtitles: 'off' }, [`video:${peli}`]: { subtitles: 'pt-BR' } });
    assert.deepEqual(lib.prefs, { audio: 'original', subtitles: 'off', hwdec: false });
  } finally {
    await svc.stop();
  }
});

test('at most CHOICES_MAX choices are kept, those changed last; a stored file is cleaned on load', async () => {
  const dir = tempTree();
  const state = new LibraryState(dir);
  for (let i = 0; i < CHOICES_MAX + 10; i += 1) state.setChoice(`series:show ${i}`, { audio: 'en' });
  // Changing an old one makes it recent again.
  state.setChoice('series:show 10', { subtitles: 'es' });
  state.setChoice('series:show new', { audio: 'fr' });
  const keys = Object.keys(state.choices());
  assert.equal(keys.length, CHOICES_MAX);
  for (const gone of ['series:show 0', 'series:show 9', 'series:show 11']) assert.ok(!keys.includes(gone), gone);
  for (const kept of ['series:show 10', 'series:show 12', 'series:show new']) assert.ok(keys.includes(kept), kept);
  await state.flush();
  assert.deepEqual(new LibraryState(dir).choices(), state.choices());

  // Written by hand or by another version: too many, bad keys and bad values.
  const file = path.join(dir, 'state.json');
  const choices = {};
  for (let i = 0; i < CHOICES_MAX + 50; i += 1) choices[`video:v${i}`] = { audio: 'en', updatedAt: 1000 + i };
  Object.assign(choices, {
    'series:bad': { audio: 'ninguno', subtitles: 'original', updatedAt: 99999 },
    'series:half': { audio: 'no válido', subtitles: 'off', updatedAt: 99999 },
    'Series:Upper': { audio: 'en', updatedAt: 99999 },
    'series:x': 'en',
  });
  fs.writeFileSync(file, JSON.stringify({ version: 1, prefs: { hwdec: 'sí' }, choices }));
  const loaded = new LibraryState(dir);
  const got = loaded.choices();
  assert.equal(Object.keys(got).length, CHOICES_MAX);
  assert.deepEqual(got['series:half'], { subtitles: 'off' });
  for (const gone of ['series:bad', 'Series:Upper', 'series:x', 'video:v0', 'video:v50']) assert.ok(!(gone in got), gone);
  assert.ok('video:v51' in got && `video:v${CHOICES_MAX + 49}` in got);
  assert.deepEqual(loaded.data.prefs, { audio: 'original', subtitles: 'off' });
});
