#pragma once

#include <cstdint>
#include <string>

#include <unicode/unistr.h>

namespace brindlemar {

// Decodes one chunk of the service's output as UTF-8 on its own; ill-formed
// sequences become U+FFFD.
icu::UnicodeString decodeChunk(const std::string& bytes);

// Keeps only the last `limit` user-perceived characters (grapheme clusters).
void keepLastCharacters(icu::UnicodeString& text, std::int32_t limit);

}  // namespace brindlemar
