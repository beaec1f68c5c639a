// The audio and subtitle choices the page offers, with their Spanish names. The value is
// what the shell receives: a keyword, or a language tag it matches against the tracks.

const LANGUAGES = [
  ['es', 'Español'],
  ['es-419', 'Español (Latinoamérica)'],
  ['en', 'Inglés'],
  ['fr', 'Francés'],
  ['de', 'Alemán'],
  ['it', 'Italiano'],
  ['pt', 'Portugués'],
  ['pt-BR', 'Portugués (Brasil)'],
  ['ja', 'Japonés'],
  ['ko', 'Coreano'],
  ['zh', 'Chino'],
  ['ru', 'Ruso'],
];

export const AUDIO_CHOICES = [
  ['original', 'Original'],
  ['auto', 'Automático'],
  ...LANGUAGES,
];

export const SUBTITLE_CHOICES = [
  ['off', 'Desactivados'],
  ['auto', 'Automáticos'],
  ...LANGUAGES,
];

// A value saved earlier that is no longer in the list still gets a readable name.
export function choiceLabel(choices, value) {
  const hit = choices.find(([v]) => v === value);
  return hit ? hit[1] : value;
}
