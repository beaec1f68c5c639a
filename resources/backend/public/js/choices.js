// The audio and subtitle choices the page offers, with their Spanish names. The value is
// what the shell receives: a keyword, or a language tag it matches against the tracks.

const LANGUAGE_TAGS = ['es', 'es-419', 'en', 'fr', 'de', 'it', 'pt', 'pt-BR', 'ja', 'ko', 'zh', 'ru'];

const spanishNames = new Intl.DisplayNames(['es'], { type: 'language' });

// A language tag as a Spanish reader names it, first letter capitalised ("es-419" ->
// "Español latinoamericano"); the tag itself when it is not a language.
export function languageName(tag) {
  let name;
  try {
    name = spanishNames.of(tag);
  } catch {
    return tag;
  }
  if (!name || name === tag) return tag;
  return name.charAt(0).toLocaleUpperCase('es') + name.slice(1);
}

const LANGUAGES = LANGUAGE_TAGS.map((tag) => [tag, languageName(tag)]);

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
  return hit ? hit[1] : languageName(value);
}
