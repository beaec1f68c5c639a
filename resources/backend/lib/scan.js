'use strict';
// Walks folders for video files, in the background (every step awaits the file system,
// so requests keep being served while a large tree is read).

const fsp = require('node:fs/promises');
const path = require('node:path');
const { matchSubtitles, subtitleType } = require('./subtitles');

const VIDEO_TYPES = {
  '.mp4': 'video/mp4',
  '.m4v': 'video/mp4',
  '.mkv': 'video/x-matroska',
  '.webm': 'video/webm',
  '.mov': 'video/quicktime',
  '.avi': 'video/x-msvideo',
  '.ts': 'video/mp2t',
  '.m2ts': 'video/mp2t',
  '.mts': 'video/mp2t',
  '.mpg': 'video/mpeg',
  '.mpeg': 'video/mpeg',
  '.wmv': 'video/x-ms-wmv',
  '.flv': 'video/x-flv',
  '.ogv': 'video/ogg',
  '.3gp': 'video/3gpp',
};

const MAX_DEPTH = 32;

function videoType(file) {
  return VIDEO_TYPES[path.extname(file).toLowerCase()] || null;
}

function isSkipped(name) {
  return name.startsWith('.') || name === 'lost+found';
}

// Scans each root in turn. Callbacks:
//   onFile({ path, root, size, mtimeMs, subtitles })
//                                           a video file; subtitles: the subtitle files
//                                           beside it, [{ path, language }]
//   onDir(dir)                              a folder is about to be read
//   onError(dir, code)                      a folder that exists could not be read
//   onMissing(root)                         a root that does not exist
// isCancelled() is polled between folders; a cancelled scan stops quietly.
async function scanRoots(roots, cb) {
  const seen = new Set(); // dev:ino of folders already read (symlink loops, nested roots)
  for (const root of roots) {
    if (cb.isCancelled && cb.isCancelled()) return;
    let st;
    try {
      st = await fsp.stat(root);
    } catch (err) {
      if (err.code === 'ENOENT' || err.code === 'ENOTDIR') cb.onMissing && cb.onMissing(root);
      else cb.onError && cb.onError(root, err.code);
      continue;
    }
    if (!st.isDirectory()) {
      cb.onMissing && cb.onMissing(root);
      continue;
    }
    await walk(root, root, st, 0, seen, cb);
  }
}

async function walk(dir, root, st, depth, seen, cb) {
  const key = `${st.dev}:${st.ino}`;
  if (seen.has(key) || depth > MAX_DEPTH) return;
  seen.add(key);
  if (cb.isCancelled && cb.isCancelled()) return;
  cb.onDir && cb.onDir(dir);
  let entries;
  try {
    entries = await fsp.readdir(dir, { withFileTypes: true });
  } catch (err) {
    // A folder removed while we walk is simply gone; anything else is worth telling.
    if (err.code !== 'ENOENT') cb.onError && cb.onError(dir, err.code);
    return;
  }
  entries.sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
  const subdirs = [];
  const subtitleNames = entries
    .filter((e) => !isSkipped(e.name) && !e.isDirectory() && subtitleType(e.name))
    .map((e) => e.name);
  for (const ent of entries) {
    if (isSkipped(ent.name)) continue;
    const full = path.join(dir, ent.name);
    let isDir = ent.isDirectory();
    let isFile = ent.isFile();
    let info = null;
    if (ent.isSymbolicLink() || (!isDir && !isFile && !ent.isFIFO() && !ent.isSocket())) {
      try {
        info = await fsp.stat(full);
      } catch {
        continue; // dangling link
      }
      isDir = info.isDirectory();
      isFile = info.isFile();
    }
    if (isDir) {
      subdirs.push([full, info]);
    } else if (isFile && videoType(ent.name)) {
      try {
        info = info || (await fsp.stat(full));
      } catch {
        continue; // removed since readdir
      }
      const subtitles = matchSubtitles(ent.name, subtitleNames)
        .map((sub) => ({ path: path.join(dir, sub.name), language: sub.language }));
      cb.onFile({ path: full, root, size: info.size, mtimeMs: info.mtimeMs, subtitles });
    }
  }
  for (const [sub, info] of subdirs) {
    let subSt = info;
    if (!subSt) {
      try {
        subSt = await fsp.stat(sub);
      } catch (err) {
        if (err.code !== 'ENOENT') cb.onError && cb.onError(sub, err.code);
        continue;
      }
    }
    await walk(sub, root, subSt, depth + 1, seen, cb);
  }
}

module.exports = { scanRoots, videoType, VIDEO_TYPES };
