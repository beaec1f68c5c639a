'use strict';
// Media for the service's tests: clips made with ffmpeg, stand-ins for the tools that the
// service finds on PATH, and waits on what the service reports.

const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');

const { scanned } = require('./service');

function which(name) {
  for (const dir of (process.env.PATH || '').split(':')) {
    if (dir && fs.existsSync(path.join(dir, name))) return path.join(dir, name);
  }
  return null;
}

const FFMPEG = which('ffmpeg');
const FFPROBE = which('ffprobe');
// The test command installs every tool: one missing fails the run, never a skip.
if (!FFMPEG || !FFPROBE) throw new Error('needs Debian\'s ffmpeg package');

// A test-pattern clip of `seconds` (container from the file's extension). extra: more
// ffmpeg arguments placed before the output (metadata, chapters).
function makeClip(file, { seconds = 2, inputs = [], extra = [] } = {}) {
  fs.mkdirSync(path.dirname(file), { recursive: true });
  const format = /\.(ts|m2ts|mts)$/i.test(file) ? ['-f', 'mpegts'] : [];
  execFileSync(FFMPEG, ['-v', 'error', '-y',
    '-f', 'lavfi', '-i', `testsrc=size=320x180:rate=10:duration=${seconds}`, ...inputs,
    '-c:v', 'libx264', '-preset', 'ultrafast', ...extra, ...format, file]);
  return file;
}

// A folder holding `ffprobe` and `ffmpeg` scripts that run `before` (shell text, with
// $0 the tool's own name) and then the real tool. Put it first on the service's PATH.
function wrappedTools(dir, before = {}) {
  fs.mkdirSync(dir, { recursive: true });
  for (const [name, real] of [['ffprobe', FFPROBE], ['ffmpeg', FFMPEG]]) {
    fs.writeFileSync(path.join(dir, name), `#!/bin/sh\n${before[name] || ''}\nexec "${real}" "$@"\n`, { mode: 0o755 });
  }
  return dir;
}

async function until(check, what, timeoutMs = 10000) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const v = await check();
    if (v) return v;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 50));
  }
}

// Resolves with the library once the scan has finished and nothing is left to probe.
function probed(port, timeoutMs = 60000) {
  return until(async () => {
    const lib = await scanned(port, timeoutMs);
    return lib.probing.pending === 0 && lib;
  }, 'probing to finish', timeoutMs);
}

const byTitle = (lib) => Object.fromEntries(lib.items.map((i) => [i.title, i]));

module.exports = { FFMPEG, FFPROBE, makeClip, wrappedTools, until, probed, byTitle };
