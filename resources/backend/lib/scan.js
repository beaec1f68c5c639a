'use strict';
// Walks folders for video files, in the background (every step awaits the file system,
// so requests keep being served while a large tree is read).
//
// Names are kept as the bytes the file system gives: a name that is not valid UTF-8
// still names its file, so paths below the roots are Buffers (the file functions take
// them as they are); displayName() makes readable text of them.

const fsp = require('node:fs/promises');
const path = require('node:path');
const { matchSubtitles, subtitleType } = require('./subtitles');
const { openRegularFile } = require('./library-file');

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

// The containers each kind of video is read as, by the names of ffmpeg's demuxers. The
// tools read a library file as one of these and nothing else (see probe.js).
const VIDEO_CONTAINERS = {
  '.mp4': ['mov'],
  '.m4v': ['mov'],
  '.mov': ['mov'],
  '.3gp': ['mov'],
  '.mkv': ['matroska'],
  '.webm': ['matroska'],
  '.avi': ['avi'],
  '.ts': ['mpegts'],
  '.m2ts': ['mpegts'],
  '.mts': ['mpegts'],
  '.mpg': ['mpeg', 'mpegvideo'],
  '.mpeg': ['mpeg', 'mpegvideo'],
  '.wmv': ['asf'],
  '.flv': ['flv'],
  '.ogv': ['ogg'],
};

const MAX_DEPTH = 32;

// Readable text for a path or name given as bytes (or already text): bytes that are not
// UTF-8 show as U+FFFD.
function displayName(p) {
  return Buffer.isBuffer(p) ? p.toString('utf8') : p;
}

function videoType(file) {
  return VIDEO_TYPES[path.extname(displayName(file)).toLowerCase()] || null;
}

// Extensions shared with other kinds of files (".ts" is also TypeScript, ".mts" its
// modules): the content must start as an MPEG transport stream, whose 188-byte packets
// begin with the sync byte 0x47 (192-byte packets with a 4-byte time code before it in
// the ".m2ts"/".mts" form).
const TRANSPORT_STREAM = new Set(['.ts', '.mts', '.m2ts']);
const SYNC = 0x47;

const HEAD_BYTES = 4 + 3 * 192;

// At least two packets, and every packet start within `head` carries the sync byte
// ("G" is 0x47, so one byte alone says little about a text file).
function looksLikeTransportStream(head) {
  for (const [offset, packet] of [[0, 188], [4, 192]]) {
    if (head.length <= offset + packet) continue;
    let ok = true;
    for (let at = offset; at < head.length; at += packet) if (head[at] !== SYNC) ok = false;
    if (ok) return true;
  }
  return false;
}

// Whether `file` may be listed as a video: for the extensions above, the content must say
// so. Opened without waiting and checked to be a regular file (see library-file.js): the
// name was a file when it was listed, but may be a FIFO by now.
async function hasVideoContent(file) {
  if (!TRANSPORT_STREAM.has(path.extname(displayName(file)).toLowerCase())) return true;
  let fh;
  try {
    ({ fh } = await openRegularFile(file));
    const head = Buffer.alloc(HEAD_BYTES);
    const { bytesRead } = await fh.read(head, 0, head.length, 0);
    return looksLikeTransportStream(head.subarray(0, bytesRead));
  } catch {
    return false;
  } finally {
    if (fh) await fh.close().catch(() => {});
  }
}

const DOT = 0x2e;
const LOST_FOUND = Buffer.from('lost+found');
const SEP = Buffer.from(path.sep);

function joinName(dir, name) {
  return dir[dir.length - 1] === SEP[0] ? Buffer.concat([dir, name]) : Buffer.concat([dir, SEP, name]);
}

function isSkipped(name) {
  return name[0] === DOT || name.equals(LOST_FOUND);
}

// Scans each root in turn. Callbacks:
//   onFile({ path, root, size, mtimeMs, subtitles })
//                                           a video file (path: a Buffer); subtitles:
//                                           the subtitle files beside it,
//                                           [{ path (a Buffer), language }]
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
    await walk(Buffer.from(root), root, st, 0, seen, cb);
  }
}

async function walk(dir, root, st, depth, seen, cb) {
  const key = `${st.dev}:${st.ino}`;
  if (seen.has(key) || depth > MAX_DEPTH) return;
  seen.add(key);
  if (cb.isCancelled && cb.isCancelled()) return;
  cb.onDir && cb.onDir(displayName(dir));
  let entries;
  try {
    entries = await fsp.readdir(dir, { withFileTypes: true, encoding: 'buffer' });
  } catch (err) {
    // A folder removed while we walk is simply gone; anything else is worth telling.
    if (err.code !== 'ENOENT') cb.onError && cb.onError(displayName(dir), err.code);
    return;
  }
  entries.sort((a, b) => Buffer.compare(a.name, b.name));
  const subdirs = [];
  // Subtitle names are matched as Latin-1 text: one character per byte, so any name,
  // UTF-8 or not, comes back to the same bytes.
  const subtitleNames = entries
    .map((e) => (!isSkipped(e.name) && !e.isDirectory() ? e.name.toString('latin1') : null))
    .filter((name) => name !== null && subtitleType(name));
  for (const ent of entries) {
    if (isSkipped(ent.name)) continue;
    const full = joinName(dir, ent.name);
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
      if (!(await hasVideoContent(full))) continue;
      const subtitles = matchSubtitles(ent.name.toString('latin1'), subtitleNames)
        .map((sub) => ({ path: joinName(dir, Buffer.from(sub.name, 'latin1')), language: sub.language }));
      cb.onFile({ path: full, root, size: info.size, mtimeMs: info.mtimeMs, subtitles });
    }
  }
  for (const [sub, info] of subdirs) {
    let subSt = info;
    if (!subSt) {
      try {
        subSt = await fsp.stat(sub);
      } catch (err) {
        if (err.code !== 'ENOENT') cb.onError && cb.onError(displayName(sub), err.code);
        continue;
      }
    }
    await walk(sub, root, subSt, depth + 1, seen, cb);
  }
}

module.exports = { scanRoots, videoType, displayName, looksLikeTransportStream, hasVideoContent, VIDEO_TYPES, VIDEO_CONTAINERS };
