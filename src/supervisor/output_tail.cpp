#include "supervisor/output_tail.hpp"

#include <memory>

#include <unicode/brkiter.h>

namespace brindlemar {

namespace {

constexpr char16_t cr = u'\r';
constexpr char16_t lf = u'\n';

icu::BreakIterator* characterIterator() {
    static std::unique_ptr<icu::BreakIterator> characters = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> it(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        return U_SUCCESS(status) ? std::move(it) : nullptr;
    }();
    return characters.get();
}

// Where the last `limit` characters of `text` start; `complete` tells whether the
// text holds that many (otherwise the result is 0).
std::int32_t startOfLast(const icu::UnicodeString& text, std::int32_t limit, bool& complete) {
    icu::BreakIterator* characters = characterIterator();
    std::int32_t start = text.length();
    std::int32_t n = 0;
    if (characters) {
        characters->setText(text);
        start = characters->last();
        for (; n < limit && start > 0; ++n) start = characters->previous();
        if (start < 0) start = 0;
    } else {
        // Without segmentation data, count code points.
        for (; n < limit && start > 0; ++n) start = text.moveIndex32(start, -1);
    }
    complete = n == limit;
    return start;
}

// The text made of `tail` followed by the (ASCII) bytes, seen as one sequence of
// UTF-16 units without building it.
struct Joined {
    const icu::UnicodeString& tail;
    std::string_view bytes;
    std::int32_t size() const { return tail.length() + static_cast<std::int32_t>(bytes.size()); }
    char16_t at(std::int32_t i) const {
        return i < tail.length() ? tail.charAt(i)
                                 : static_cast<unsigned char>(bytes[i - tail.length()]);
    }
};

// Plain ASCII needs no segmentation data: every ASCII character is a character of
// its own, except CR LF, which is one; and the boundary between two ASCII characters
// (other than CR LF) does not depend on what comes before them. So when the last
// `limit` characters, and the one before them, are ASCII, the tail is found by
// counting. Returns false, changing nothing, when anything there is not ASCII.
bool appendAscii(icu::UnicodeString& tail, std::string_view bytes, std::int32_t limit) {
    const Joined text{tail, bytes};
    std::int32_t i = text.size();
    std::int32_t n = 0;
    while (n < limit && i > 0) {
        const char16_t c = text.at(i - 1);
        if (c >= 0x80) return false;
        i -= (c == lf && i > 1 && text.at(i - 2) == cr) ? 2 : 1;
        ++n;
    }
    if (i > 0 && text.at(i - 1) >= 0x80) return false;

    // Keep text[i, size): what is left of the old tail, then the new bytes from there.
    const std::int32_t fromTail = i < tail.length() ? tail.length() - i : 0;
    const std::size_t skipped = static_cast<std::size_t>(i - tail.length() + fromTail);
    const std::int32_t added = static_cast<std::int32_t>(bytes.size() - skipped);
    icu::UnicodeString kept;
    char16_t* out = kept.getBuffer(fromTail + added);
    if (!out) return false;
    tail.extract(tail.length() - fromTail, fromTail, out);
    for (std::int32_t k = 0; k < added; ++k)
        out[fromTail + k] = static_cast<unsigned char>(bytes[skipped + static_cast<std::size_t>(k)]);
    kept.releaseBuffer(fromTail + added);
    tail = std::move(kept);
    return true;
}

// A line feed always ends a character, and nothing before it changes how the text
// after it is segmented; decoding also starts afresh after it, as it is a
// single-byte sequence. So when the text after some line feed of a large chunk
// holds `limit` characters, that text alone gives the tail. Looks back from the end
// in growing steps; returns false, changing nothing, when no line feed gives enough.
bool appendFromLastLines(icu::UnicodeString& tail, std::string_view bytes, std::int32_t limit) {
    std::size_t window = 4 * static_cast<std::size_t>(limit);
    while (window < bytes.size()) {
        const std::size_t lineFeed = bytes.rfind('\n', bytes.size() - window);
        if (lineFeed == std::string_view::npos) return false;
        icu::UnicodeString text = decodeChunk(bytes.substr(lineFeed + 1));
        bool complete = false;
        const std::int32_t start = startOfLast(text, limit, complete);
        if (complete) {
            text.remove(0, start);
            tail = std::move(text);
            return true;
        }
        window = bytes.size() - lineFeed + 4 * window;
    }
    return false;
}

}  // namespace

icu::UnicodeString decodeChunk(std::string_view bytes) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(bytes.data(), static_cast<std::int32_t>(bytes.size())));
}

void keepLastCharacters(icu::UnicodeString& text, std::int32_t limit) {
    // Every character takes at least one UTF-16 unit, so a short text is kept whole.
    if (text.length() <= limit) return;
    bool complete = false;
    text.remove(0, startOfLast(text, limit, complete));
}

void appendToTail(icu::UnicodeString& tail, std::string_view bytes, std::int32_t limit) {
    if (appendAscii(tail, bytes, limit)) return;
    if (appendFromLastLines(tail, bytes, limit)) return;
    tail.append(decodeChunk(bytes));
    keepLastCharacters(tail, limit);
}

}  // namespace brindlemar
