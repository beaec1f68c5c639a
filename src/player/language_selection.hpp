#pragma once

#include <string>

namespace brindlemar {

// A language tag in comparable form: lower case, "_" as "-", empty pieces dropped,
// and a three-letter first piece mapped to its two-letter code where known
// (spa -> es, ger -> de, ...). ES, es_ES, SPA-es all become es or es-es.
std::string canonicalLanguageTag(const std::string& tag);

// The language of a tag as a Spanish reader names it, first letter capitalised
// ("eng" -> "Inglés", "pt-BR" -> "Portugués"); the tag itself when the language
// has no known name.
std::string languageDisplayName(const std::string& tag);

}  // namespace brindlemar
