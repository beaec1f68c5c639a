#include "supervisor/output_tail.hpp"

#include <memory>

#include <unicode/brkiter.h>

namespace brindlemar {

icu::UnicodeString decodeChunk(const std::string& bytes) {
    return icu::UnicodeString::fromUTF8(icu::StringPiece(bytes.data(),
                                                         static_cast<std::int32_t>(bytes.size())));
}

void keepLastCharacters(icu::UnicodeString& text, std::int32_t limit) {
    // Every character takes at least one UTF-16 unit, so a short text is kept whole.
    if (text.length() <= limit) return;

    static std::unique_ptr<icu::BreakIterator> characters = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(it) : nullptr;
    }();

    std::int32_t start = 0;
    if (characters) {
        characters->setText(text);
        start = characters->last();
        for (std::int32_t n = 0; n < limit && start > 0; ++n) start = characters->previous();
        if (start < 0) start = 0;
    } else {
        // Without segmentation data, count code points.
        start = text.moveIndex32(text.length(), -limit);
    }
    text.remove(0, start);
}

}  // namespace brindlemar
