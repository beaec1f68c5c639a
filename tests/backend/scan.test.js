'use strict';
const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');

const { parseVideosDir } = require('../../resources/backend/lib/xdg');
const {
  tempTree, copyBackend, startService, request, postJson, getJson, scanned,
} = require('./support/service');

const NOBODY = 65534;

function touch(file, content = 'x') {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  fs.writeFileSync(file, content);
}

// Root reads every folder whatever its mode, so as root the service runs as nobody,
// from a copy of itself in a tree that nobody may read.
function asUnprivileged(root, dataDir) {
  if (process.getuid() !== 0) return {};
  fs.chmodSync(root, 0o755);
  fs.mkdirSync(dataDir, { recursive: true });
  fs.chownSync(dataDir, NOBODY, NOBODY);
  return { uid: NOBODY, gid: NOBODY, backend: copyBackend(path.join(root, 'backend')) };
}

test('scan: videos in every subfolder, an unreadable folder reported, the rest loaded', async () => {
  const root = tempTree();
  const home = path.join(root, 'home');
  const videos = path.join(home, 'Mis vídeos');
  const extra = path.join(root, 'extra');
  touch(path.join(home, '.config', 'user-dirs.dirs'),
    '# written by xdg-user-dirs-update\nXDG_VIDEOS_DIR="$HOME/Mis vídeos"\n');
  touch(path.join(videos, 'a.mp4'));
  touch(path.join(videos, 'B.MKV'));
  touch(path.join(videos, 'notas.txt'));
  touch(path.join(videos, '.oculto.mp4'));
  touch(path.join(videos, '.cache', 'x.mp4'));
  touch(path.join(videos, 'sub', 'c.webm'));
  touch(path.join(videos, 'sub', 'mas', 'd.mov'));
  touch(path.join(videos, 'privado', 'e.mp4'));
  touch(path.join(extra, 'f.avi'));
  fs.symlinkSync(videos, path.join(videos, 'sub', 'bucle'));
  fs.symlinkSync(extra, path.join(videos, 'enlace'));
  fs.symlinkSync(path.join(root, 'nada'), path.join(videos, 'roto.mp4'));
  fs.chmodSync(path.join(videos, 'privado'), 0o000);
  const dataDir = path.join(root, 'data');

  const svc = await startService({ home, dataDir, ...asUnprivileged(root, dataDir) });
  try {
    const lib = await scanned(svc.port);
    const titles = lib.items.map((i) => i.title).sort();
    assert.deepEqual(titles, ['B', 'Ejemplo', 'a', 'c', 'd', 'f']);
    const byTitle = Object.fromEntries(lib.items.map((i) => [i.title, i]));
    assert.equal(byTitle.d.folder, 'Mis vídeos › sub › mas');
    assert.deepEqual(lib.problems, [{ folder: path.join(videos, 'privado'), reason: 'sin permiso de lectura' }]);
    assert.deepEqual(lib.folders, [{ path: videos, isDefault: true, status: 'ok' }]);
    // What was found is served.
    assert.equal((await request(svc.port, { method: 'HEAD', path: `/media/${byTitle.c.id}` })).status, 200);
  } finally {
    await svc.stop();
    fs.chmodSync(path.join(videos, 'privado'), 0o755);
  }
});

test('folders: add, refuse what is not a folder, remove (its videos stop being served at once)', async () => {
  const root = tempTree();
  const home = path.join(root, 'home');
  const extra = path.join(root, 'Películas');
  touch(path.join(home, 'Videos', 'casa.mp4'));
  touch(path.join(extra, 'El.Gran.Viaje.1999.mkv'));
  touch(path.join(root, 'archivo.mp4'));
  const svc = await startService({ home, dataDir: path.join(root, 'data') });
  try {
    await scanned(svc.port);
    fs.mkdirSync(path.join(root, '.oculta'));
    const browse = await getJson(svc.port, `/api/browse?path=${encodeURIComponent(root)}`);
    assert.deepEqual(browse, { path: root, parent: path.dirname(root), dirs: ['data', 'home', 'Películas'] });

    const refused = [
      [path.join(root, 'no-existe'), 400, 'La carpeta no existe.'],
      [path.join(root, 'archivo.mp4'), 400, 'No es una carpeta.'],
      ['relativa/carpeta', 400, 'Indica la ruta completa de la carpeta.'],
      ['', 400, 'Indica una carpeta.'],
    ];
    for (const [p, status, error] of refused) {
      const r = await postJson(svc.port, '/api/folders/add', { path: p });
      assert.deepEqual([r.status, r.json.error], [status, error], p);
    }

    assert.equal((await postJson(svc.port, '/api/folders/add', { path: `${extra}/` })).status, 200);
    let lib = await scanned(svc.port);
    const movie = lib.items.find((i) => i.title === 'El Gran Viaje 1999');
    assert.ok(movie, 'title made from the file name');
    assert.equal(lib.folders.length, 2);

    assert.equal((await postJson(svc.port, '/api/folders/remove', { path: extra })).status, 200);
    assert.equal((await request(svc.port, { method: 'HEAD', path: `/media/${movie.id}` })).status, 404);
    lib = await scanned(svc.port);
    assert.deepEqual(lib.items.map((i) => i.title).sort(), ['Ejemplo', 'casa']);

    // The default folder can be removed and given back.
    const videos = path.join(home, 'Videos');
    await postJson(svc.port, '/api/folders/remove', { path: videos });
    lib = await scanned(svc.port);
    assert.deepEqual(lib.items.map((i) => i.title), ['Ejemplo']);
    assert.deepEqual(lib.folders, [{ path: videos, isDefault: true, status: 'removed' }]);
    await postJson(svc.port, '/api/folders/add', { path: videos });
    lib = await scanned(svc.port);
    assert.ok(lib.items.some((i) => i.title === 'casa'));
  } finally {
    await svc.stop();
  }
});

test('a missing videos folder is an empty library, not an error', async () => {
  const root = tempTree();
  const svc = await startService({ home: path.join(root, 'home'), dataDir: path.join(root, 'data') });
  try {
    const lib = await scanned(svc.port);
    assert.deepEqual(lib.items.map((i) => i.title), ['Ejemplo']);
    assert.deepEqual(lib.problems, []);
    assert.equal(lib.folders[0].status, 'missing');
  } finally {
    await svc.stop();
  }
});

test('the videos folder named in user-dirs.dirs', () => {
  const home = '/home/ana';
  const cases = [
    ['XDG_VIDEOS_DIR="$HOME/Vídeos"', '/home/ana/Vídeos'],
    ['XDG_VIDEOS_DIR="/media/datos/Pelis"', '/media/datos/Pelis'],
    ['  XDG_VIDEOS_DIR = "$HOME/Con \\"comillas\\""  ', '/home/ana/Con "comillas"'],
    ['XDG_VIDEOS_DIR="$HOME/"', null], // the home folder itself: disabled
    ['XDG_VIDEOS_DIR="$HOME"', null],
    ['XDG_VIDEOS_DIR="relativo/Videos"', null],
    ['# XDG_VIDEOS_DIR="$HOME/Comentado"', null],
    ['XDG_MUSIC_DIR="$HOME/Música"', null],
    ['XDG_VIDEOS_DIR="$HOME/Uno"\nXDG_VIDEOS_DIR="$HOME/Dos"', '/home/ana/Dos'],
  ];
  for (const [text, expected] of cases) assert.equal(parseVideosDir(text, home), expected, text);
});
