// What the page tells when a video cannot be played, by the reason the native player
// gives (its `code`), so that the user knows what to do about it.

export const PLAYBACK_ERROR = 'No se pudo reproducir este vídeo. Puede que el archivo esté dañado o use un formato no compatible.';

// Codec names as ffprobe gives them, as people know them.
const CODEC_NAMES = {
  hevc: 'HEVC',
  h264: 'H.264',
  h263: 'H.263',
  av1: 'AV1',
  vp9: 'VP9',
  vp8: 'VP8',
  mpeg1video: 'MPEG-1',
  mpeg2video: 'MPEG-2',
  mpeg4: 'MPEG-4',
  msmpeg4v2: 'MPEG-4 de Microsoft',
  msmpeg4v3: 'MPEG-4 de Microsoft',
  vc1: 'VC-1',
  wmv1: 'Windows Media Video 7',
  wmv2: 'Windows Media Video 8',
  wmv3: 'Windows Media Video 9',
  theora: 'Theora',
  prores: 'ProRes',
  dnxhd: 'DNxHD',
  cfhd: 'CineForm',
  mjpeg: 'Motion JPEG',
  ffv1: 'FFV1',
  rv30: 'RealVideo 3',
  rv40: 'RealVideo 4',
  flv1: 'Sorenson Spark',
  vvc: 'VVC',
};

// "hevc" -> "HEVC"; a name not in the table in capitals; null when there is none.
export function codecName(codec) {
  if (typeof codec !== 'string' || !/^[a-z0-9_]{1,32}$/i.test(codec)) return null;
  const key = codec.toLowerCase();
  return CODEC_NAMES[key] || key.toUpperCase();
}

const BY_CODE = {
  1: () => 'No se pudo reproducir este vídeo: su formato no se reconoce. Puede que el archivo esté dañado o no sea un vídeo.',
  2: () => 'No se pudo abrir el archivo de este vídeo. Puede que se haya movido o borrado, o que falte permiso para leerlo.',
  3: () => 'Se perdió la conexión con el servicio de la biblioteca mientras se cargaba el vídeo. Vuelve a intentarlo en un momento.',
  4: (codec) => {
    const name = codecName(codec);
    return name ? `Este vídeo usa el códec ${name}, que no se puede reproducir aquí.`
      : 'Este vídeo usa un códec que no se puede reproducir aquí.';
  },
  5: () => 'No se pudo usar la salida de sonido o de imagen del equipo. Si vuelve a pasar, prueba a desactivar la decodificación por hardware en Ajustes.',
};

// code: the player's reason (0 or anything unknown: the general sentence); codec: the
// video codec the service probed, when it did.
export function playbackErrorText(code, codec) {
  const say = Number.isInteger(code) ? BY_CODE[code] : undefined;
  return say ? say(codec) : PLAYBACK_ERROR;
}
