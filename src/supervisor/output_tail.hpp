#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include <unicode/unistr.h>

namespace brindlemar {

// Decodes one chunk of the service's output as UTF-8 on its own; ill-formed
// sequences become U+FFFD.
icu::UnicodeString decodeChunk(std::string_view bytes);

// Keeps only the last `limit` user-perceived characters (grapheme clusters).
void keepLastCharacters(icu::UnicodeString& text, std::int32_t limit);

// Appends one chunk of output to `tail` and keeps its last `limit` characters: the
// same text as decodeChunk + append + keepLastCharacters, but only the end of a large
// chunk is decoded and segmented, so the cost per chunk does not grow with its size.
void appendToTail(icu::UnicodeString& tail, std::string_view bytes, std::int32_t limit);

}  // namespace brindlemar
