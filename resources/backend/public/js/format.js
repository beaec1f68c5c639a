// Small text helpers for the view.

// 75 -> "1:15", 3725 -> "1:02:05"
export function clock(seconds) {
  const s = Math.max(0, Math.floor(seconds));
  const h = Math.floor(s / 3600);
  const m = Math.floor((s % 3600) / 60);
  const r = String(s % 60).padStart(2, '0');
  return h > 0 ? `${h}:${String(m).padStart(2, '0')}:${r}` : `${m}:${r}`;
}

// "Quedan 42 min", "Queda 1 min", "Quedan 30 s"
export function remaining(position, duration) {
  const left = Math.max(0, duration - position);
  if (left < 60) return `Quedan ${Math.ceil(left)} s`;
  const min = Math.round(left / 60);
  return min === 1 ? 'Queda 1 min' : `Quedan ${min} min`;
}

// For accent- and case-insensitive search: "Canción" and "cancion" match.
export function fold(text) {
  return text.normalize('NFD').replace(/[\u0300-\u036f]/g, '').toLowerCase();
}

// A stable hue per video for its placeholder picture.
export function hueOf(id) {
  let h = 0;
  for (let i = 0; i < id.length; i += 1) h = (h * 31 + id.charCodeAt(i)) % 360;
  return h;
}

export function plural(n, one, many) {
  return `${n.toLocaleString('es-ES')} ${n === 1 ? one : many}`;
}
