#include "player/chapters.hpp"

#include <algorithm>
#include <cmath>
#include <set>

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

namespace brindlemar {

namespace {

// A position this close before a chapter's start is in that chapter: an exact seek
// to the start may report a frame's worth less.
constexpr double startTolerance = 0.1;
// Going back within this much of a chapter's start goes to the chapter before.
constexpr double restartSpan = 3.0;

// Names of an opening as whole titles, in the form words() gives: lower case, no
// accents, words joined by one space.
const std::set<std::string>& openingNames() {
    static const std::set<std::string> names = {
        // English
        "intro", "introduction", "opening", "op", "opening credits", "opening titles",
        "opening title", "opening theme", "opening song", "opening sequence", "intro song",
        "intro theme", "intro sequence", "title sequence", "main titles",
        // Spanish
        "introduccion", "cabecera", "apertura", "careta", "careta de entrada",
        "creditos iniciales", "creditos de apertura", "creditos de inicio",
        "secuencia de apertura", "secuencia inicial", "tema de apertura", "tema de entrada",
        "tema inicial", "cancion de apertura", "cancion de entrada",
    };
    return names;
}

bool isNumber(const std::string& word) {
    return !word.empty() && std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The title's words: letters and digits only, accents removed, case folded, and a
// run of digits apart from the letters it touches ("OP1" is "op", "1").
std::vector<std::string> words(const std::string& title) {
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfd = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status)) return {};
    const icu::UnicodeString decomposed = nfd->normalize(icu::UnicodeString::fromUTF8(title), status);
    if (U_FAILURE(status)) return {};

    std::vector<std::string> result;
    icu::UnicodeString word;
    bool wordIsDigits = false;
    auto endWord = [&] {
        if (word.isEmpty()) return;
        std::string text;
        result.push_back(word.toUTF8String(text));
        word.remove();
    };
    for (int32_t i = 0; i < decomposed.length();) {
        const UChar32 c = decomposed.char32At(i);
        i += U16_LENGTH(c);
        if (u_charType(c) == U_NON_SPACING_MARK) continue;  // an accent, apart from its letter
        if (!u_isalnum(c)) {
            endWord();
            continue;
        }
        const bool digit = u_isdigit(c);
        if (!word.isEmpty() && digit != wordIsDigits) endWord();
        wordIsDigits = digit;
        word.append(u_foldCase(c, U_FOLD_CASE_DEFAULT));
    }
    endWord();
    return result;
}

struct Start {
    double at;
    std::size_t index;
};

// The chapters with a usable start, earliest first.
std::vector<Start> sortedStarts(const std::vector<Chapter>& chapters) {
    std::vector<Start> starts;
    for (std::size_t i = 0; i < chapters.size(); ++i)
        if (std::isfinite(chapters[i].start)) starts.push_back({chapters[i].start, i});
    std::stable_sort(starts.begin(), starts.end(), [](const Start& a, const Start& b) { return a.at < b.at; });
    return starts;
}

// The position in `starts` of the chapter holding `position`.
std::optional<std::size_t> currentStart(const std::vector<Start>& starts, double position) {
    if (!std::isfinite(position)) return std::nullopt;
    std::optional<std::size_t> current;
    for (std::size_t i = 0; i < starts.size() && starts[i].at <= position + startTolerance; ++i) current = i;
    return current;
}

}  // namespace

bool isOpeningTitle(const std::string& title) {
    std::vector<std::string> parts = words(title);
    // A leading number is the chapter's numbering ("01 - Intro"); a short trailing one
    // counts openings ("OP1", "Opening 2").
    auto first = std::find_if(parts.begin(), parts.end(), [](const std::string& w) { return !isNumber(w); });
    parts.erase(parts.begin(), first);
    if (!parts.empty() && isNumber(parts.back()) && parts.back().size() <= 2) parts.pop_back();
    if (parts.empty()) return false;
    std::string joined = parts.front();
    for (std::size_t i = 1; i < parts.size(); ++i) joined += " " + parts[i];
    return openingNames().count(joined) > 0;
}

std::optional<std::size_t> chapterAt(const std::vector<Chapter>& chapters, double position) {
    const std::vector<Start> starts = sortedStarts(chapters);
    std::optional<std::size_t> current = currentStart(starts, position);
    if (!current) return std::nullopt;
    return starts[*current].index;
}

std::optional<double> skipIntroTarget(const std::vector<Chapter>& chapters, double position,
                                      std::optional<double> duration) {
    const std::vector<Start> starts = sortedStarts(chapters);
    std::optional<std::size_t> current = currentStart(starts, position);
    if (!current || !isOpeningTitle(chapters[starts[*current].index].title)) return std::nullopt;
    if (*current + 1 < starts.size()) return starts[*current + 1].at;
    if (duration && std::isfinite(*duration)) return *duration;
    return std::nullopt;
}

std::optional<double> chapterStepTarget(const std::vector<Chapter>& chapters, double position, int direction) {
    const std::vector<Start> starts = sortedStarts(chapters);
    if (starts.empty() || !std::isfinite(position) || direction == 0) return std::nullopt;
    std::optional<std::size_t> current = currentStart(starts, position);
    if (direction > 0) {
        const std::size_t next = current ? *current + 1 : 0;
        if (next >= starts.size()) return std::nullopt;
        return starts[next].at;
    }
    if (!current) return std::nullopt;
    if (*current == 0 || position - starts[*current].at > restartSpan) return starts[*current].at;
    return starts[*current - 1].at;
}

}  // namespace brindlemar
