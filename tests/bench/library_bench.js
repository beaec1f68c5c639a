'use strict';
// Benchmark of the library service and page on large libraries (not part of the test
// suite; run by hand, in a network namespace of its own when a real service may be
// running):
//
//   unshare -n bash -c 'ip link set lo up; node tests/bench/library_bench.js'
//
// 1. A library of 2,000 short generated videos (LIBRARY_FILES) in nested folders:
//    the time from the service's start to a complete library (scan done, every file
//    probed and its poster made) and the service's peak memory.
// 2. A library of 5,000 items (PAGE_ITEMS) in headless Chromium: the time to the
//    first rendered grid, and to re-render the grid for a search as one types.

const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');

const { Browser, findChromium } = require('../backend/support/chromium');
const { tempTree, startService, getJson } = require('../backend/support/service');

const FILES = Number(process.env.LIBRARY_FILES || 2000);
const ITEMS = Number(process.env.PAGE_ITEMS || 5000);

function peakMemoryKiB(pid) {
  const m = /VmHWM:\s+(\d+) kB/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'));
  return m ? Number(m[1]) : NaN;
}

async function until(port, check, timeoutMs) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const lib = await getJson(port, '/api/library');
    if (check(lib)) return lib;
    if (Date.now() > end) throw new Error('timed out');
    await new Promise((r) => setTimeout(r, 200));
  }
}

async function completeLibrary() {
  const root = tempTree('brindlemar-bench-');
  const videos = path.join(root, 'home', 'Videos');
  const source = path.join(root, 'source.mp4');
  execFileSync('ffmpeg', ['-v', 'error', '-y', '-f', 'lavfi', '-i', 'testsrc=size=320x180:rate=10:duration=2',
    '-f', 'lavfi', '-i', 'sine=duration=2', '-c:v', 'libx264', '-preset', 'ultrafast', '-c:a', 'aac', source]);
  const clip = fs.readFileSync(source);
  for (let i = 0; i < FILES; i += 1) {
    const dir = path.join(videos, `Serie ${Math.floor(i / 100)}`, `Temporada ${Math.floor(i / 20) % 5 + 1}`);
    fs.mkdirSync(dir, { recursive: true });
    // Each file its own: a different trailing byte gives each its own size and contents.
    fs.writeFileSync(path.join(dir, `Serie ${Math.floor(i / 100)} S01E${String(i % 100).padStart(2, '0')}.mp4`),
      Buffer.concat([clip, Buffer.alloc(i % 7)]));
  }
  const started = Date.now();
  const svc = await startService({ home: path.join(root, 'home'), dataDir: path.join(root, 'data') });
  try {
    const lib = await until(svc.port, (l) => !l.scan.running && l.scan.finishedAt && l.probing.pending === 0, 3600e3);
    const seconds = (Date.now() - started) / 1000;
    const posters = lib.items.filter((i) => i.poster).length;
    console.log(`complete library of ${lib.items.length - 1} files (${posters - 1} posters): ${seconds.toFixed(1)} s`
      + `  [${(seconds * 1000 / FILES).toFixed(0)} ms per file; probing runs at the lowest priority]`);
    console.log(`service peak memory (VmHWM): ${(peakMemoryKiB(svc.proc.pid) / 1024).toFixed(1)} MiB  [anchor: well under 200 MiB]`);
  } finally {
    await svc.stop();
    fs.rmSync(root, { recursive: true, force: true });
  }
}

async function pageOnBigLibrary() {
  if (!findChromium()) {
    console.log('page figures skipped: needs Debian\'s chromium package');
    return;
  }
  const root = tempTree('brindlemar-bench-');
  const videos = path.join(root, 'home', 'Videos');
  const words = ['viaje', 'noche', 'mar', 'ciudad', 'historia', 'verano', 'río', 'montaña', 'tren', 'luz'];
  for (let i = 0; i < ITEMS; i += 1) {
    const dir = path.join(videos, `Carpeta ${Math.floor(i / 250)}`);
    fs.mkdirSync(dir, { recursive: true });
    const name = i % 4 === 0
      ? `Serie ${Math.floor(i / 40)} S01E${String((i / 4) % 10 + 1).padStart(2, '0')}.mkv`
      : `${words[i % 10]} ${words[(i * 7) % 10]} ${i}.mp4`;
    fs.writeFileSync(path.join(dir, name), 'x');
  }
  // No ffprobe on PATH: this part measures the page, not the probing.
  const empty = path.join(root, 'empty');
  fs.mkdirSync(empty);
  const svc = await startService({ home: path.join(root, 'home'), dataDir: path.join(root, 'data'), env: { PATH: empty } });
  const browser = await Browser.launch();
  try {
    const lib = await until(svc.port, (l) => !l.scan.running && l.scan.finishedAt, 600e3);
    const page = await browser.newPage({ width: 1280, height: 800 });
    // The cookie the shell puts in its web view's jar before it loads the page.
    await page.send('Network.setCookie', {
      name: 'brindlemar_token', value: svc.token, url: `${svc.origin}/`, httpOnly: true, sameSite: 'Strict',
    });
    const t0 = Date.now();
    await page.goto(`${svc.origin}/`);
    await page.waitFor("document.querySelectorAll('#grid .card').length > 0", 60000);
    console.log(`page with ${lib.items.length} items, first grid: ${Date.now() - t0} ms (load, fetch and render)`);
    const render = await page.eval(`(async () => {
      const s = document.querySelector('#search');
      const times = [];
      for (const q of ['v', 'vi', 'via', 'viaj', 'viaje', 'viaje n', 'viaje no', '', 'serie 1', 'rio']) {
        const t = performance.now();
        s.value = q;
        s.dispatchEvent(new Event('input'));
        await new Promise((r) => requestAnimationFrame(() => setTimeout(r, 0)));
        times.push(performance.now() - t);
      }
      const each = times.map((x) => x.toFixed(0)).join(' ');
      times.sort((a, b) => a - b);
      return { median: times[Math.floor(times.length / 2)], max: times[times.length - 1], each };
    })()`);
    console.log(`filter as you type over ${lib.items.length} items: median ${render.median.toFixed(1)} ms, `
      + `slowest ${render.max.toFixed(1)} ms per keystroke, to the next frame (each: ${render.each})`
      + '  [anchor: under 100 ms, no visible stall]');
  } finally {
    await browser.close();
    await svc.stop();
    fs.rmSync(root, { recursive: true, force: true });
  }
}

// BENCH=page or BENCH=library runs one part only.
(async () => {
  if (process.env.BENCH !== 'library') await pageOnBigLibrary();
  if (process.env.BENCH !== 'page') await completeLibrary();
})().catch((err) => {
  console.error(err);
  process.exit(1);
});
