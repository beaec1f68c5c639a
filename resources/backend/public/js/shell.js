// The desktop shell's side of the page: its message handlers, when present, and the
// fixed address at which it accepts videos to play.

// The shell plays only URLs on exactly this origin (explicit port included).
export const SERVICE_ORIGIN = 'http://127.0.0.1:47874';

function handlers() {
  const w = window.webkit;
  return w && w.messageHandlers ? w.messageHandlers : null;
}

export function hasNativePlayer() {
  const h = handlers();
  return !!(h && h.brindlemarPlayer && typeof h.brindlemarPlayer.postMessage === 'function');
}

export function hasMiniPlayer() {
  const h = handlers();
  return !!(h && h.brindlemarPip && typeof h.brindlemarPip.postMessage === 'function');
}

export function postPlayer(message) {
  if (hasNativePlayer()) handlers().brindlemarPlayer.postMessage(message);
}

export function postPip(what) {
  if (hasMiniPlayer()) handlers().brindlemarPip.postMessage(what);
}

// Absolute address of a video (or of a service path such as a subtitle file's) for the
// native player. Always the fixed origin, even when the page itself was reached under
// another name or port: the shell accepts no other.
export function nativeMediaUrl(id, servicePath) {
  if (servicePath) return `${SERVICE_ORIGIN}${servicePath}`;
  return `${SERVICE_ORIGIN}/media/${encodeURIComponent(id)}`;
}

export function inMiniPlayer() {
  return document.documentElement.classList.contains('native-pip');
}
