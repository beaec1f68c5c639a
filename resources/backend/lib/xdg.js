'use strict';
// The user's videos folder: XDG_VIDEOS_DIR from user-dirs.dirs, else ~/Videos.

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

function homeDir(env) {
  return env.HOME || os.homedir();
}

// Parses the text of user-dirs.dirs. Lines look like XDG_VIDEOS_DIR="$HOME/Vídeos";
// a value is either "$HOME/..." or an absolute path. A value that is the home folder
// itself means the folder is disabled, which we treat as not set (scanning the whole
// home folder is never what the user meant).
function parseVideosDir(text, home) {
  let found = null;
  for (const raw of text.split('\n')) {
    const line = raw.trim();
    const m = /^XDG_VIDEOS_DIR\s*=\s*"((?:[^"\\]|\\.)*)"\s*$/.exec(line);
    if (!m) continue;
    let value = m[1].replace(/\\(.)/g, '$1');
    if (value === '$HOME' || value.startsWith('$HOME/')) {
      value = path.join(home, value.slice('$HOME'.length));
    } else if (!path.isAbsolute(value)) {
      continue;
    }
    found = path.resolve(value);
  }
  if (found && path.resolve(found) === path.resolve(home)) return null;
  return found;
}

function videosDir(env = process.env) {
  const home = homeDir(env);
  const configHome = env.XDG_CONFIG_HOME && path.isAbsolute(env.XDG_CONFIG_HOME)
    ? env.XDG_CONFIG_HOME
    : path.join(home, '.config');
  try {
    const text = fs.readFileSync(path.join(configHome, 'user-dirs.dirs'), 'utf8');
    const dir = parseVideosDir(text, home);
    if (dir) return dir;
  } catch {
    // no user-dirs.dirs: fall back below
  }
  return path.join(home, 'Videos');
}

// Where the library keeps its state when started by hand without BRINDLEMAR_DATA_DIR.
function defaultDataDir(env = process.env) {
  const dataHome = env.XDG_DATA_HOME && path.isAbsolute(env.XDG_DATA_HOME)
    ? env.XDG_DATA_HOME
    : path.join(homeDir(env), '.local', 'share');
  return path.join(dataHome, 'com.brindlemar.app');
}

// Expands a leading ~ in a folder typed by the user.
function expandHome(p, env = process.env) {
  if (p === '~') return homeDir(env);
  if (p.startsWith('~/')) return path.join(homeDir(env), p.slice(2));
  return p;
}

module.exports = { videosDir, parseVideosDir, defaultDataDir, expandHome, homeDir };
