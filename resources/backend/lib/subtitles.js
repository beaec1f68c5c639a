'use strict';
// Subtitle files that lie beside a video: "Name.srt", "Name.es.srt", "Name.spa.srt",
// "Name.pt-BR.vtt", and the same with a "forced" or "sdh" mark after the language.

const path = require('node:path');

const SUBTITLE_TYPES = {
  '.srt': 'application/x-subrip',
  '.vtt': 'text/vtt',
  '.ass': 'text/x-ssa',
  '.ssa': 'text/x-ssa',
};

const LANGUAGE = /^[a-z]{2,3}(?:[-_][a-z0-9]{2,8})?$/i;
const MARKS = new Set(['forced', 'sdh', 'cc', 'hi']);

function subtitleType(name) {
  return SUBTITLE_TYPES[path.extname(name).toLowerCase()] || null;
}

// The subtitle files among `names` (file names in the video's own folder) that belong
// to the video `videoName`, in name order, as { name, language } (language: the tag as
// written, or null). A name that only starts like the video ("Name 2.srt" beside
// "Name.mkv") is not taken.
function matchSubtitles(videoName, names) {
  const base = path.basename(videoName, path.extname(videoName));
  const out = [];
  for (const name of names) {
    if (!subtitleType(name)) continue;
    const stem = path.basename(name, path.extname(name));
    let language = null;
    if (stem !== base) {
      if (!stem.startsWith(`${base}.`)) continue;
      const parts = stem.slice(base.length + 1).split('.');
      if (parts.length > 1 && MARKS.has(parts[parts.length - 1].toLowerCase())) parts.pop();
      if (parts.length !== 1 || !LANGUAGE.test(parts[0])) continue;
      language = parts[0];
    }
    out.push({ name, language });
  }
  return out.sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
}

module.exports = { matchSubtitles, subtitleType, SUBTITLE_TYPES };
