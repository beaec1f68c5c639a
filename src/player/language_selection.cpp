// Turning the page's audio or subtitle choice into at most one selection on the
// item's streams.
#include "player/language_selection.hpp"

#include <map>
#include <vector>

#include <unicode/locid.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include "shell/app_delegate.hpp"

namespace brindlemar {

namespace {

const std::map<std::string, std::string>& languageAliases() {
    static const std::map<std::string, std::string> aliases = {
        {"spa", "es"}, {"eng", "en"}, {"por", "pt"}, {"jpn", "ja"}, {"fra", "fr"},
        {"fre", "fr"}, {"deu", "de"}, {"ger", "de"}, {"ita", "it"}, {"kor", "ko"},
        {"zho", "zh"}, {"chi", "zh"}, {"rus", "ru"}, {"und", "und"},
    };
    return aliases;
}

std::vector<std::string> pieces(const std::string& tag) {
    std::vector<std::string> result;
    std::string piece;
    for (char c : tag + "-") {
        if (c == '-') {
            if (!piece.empty()) result.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    return result;
}

std::string optionTag(const MediaOption& option) {
    if (option.extendedLanguageTag) return *option.extendedLanguageTag;
    if (option.localeIdentifier) return *option.localeIdentifier;
    return "";
}

std::string primarySubtag(const std::string& canonicalTag) {
    std::vector<std::string> parts = pieces(canonicalTag);
    return parts.empty() ? std::string() : parts.front();
}

}  // namespace

std::string canonicalLanguageTag(const std::string& tag) {
    std::string lowered;
    icu::UnicodeString::fromUTF8(tag).toLower(icu::Locale::getRoot()).toUTF8String(lowered);
    for (char& c : lowered)
        if (c == '_') c = '-';
    std::vector<std::string> parts = pieces(lowered);
    if (parts.empty()) return "";
    auto alias = languageAliases().find(parts.front());
    if (alias != languageAliases().end()) parts.front() = alias->second;
    std::string joined = parts.front();
    for (std::size_t i = 1; i < parts.size(); ++i) joined += "-" + parts[i];
    return joined;
}

std::string languageDisplayName(const std::string& tag) {
    const std::string language = primarySubtag(canonicalLanguageTag(tag));
    if (language.empty()) return tag;
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale locale = icu::Locale::forLanguageTag(language, status);
    if (U_FAILURE(status) || locale.isBogus()) return tag;
    icu::UnicodeString name;
    locale.getDisplayLanguage(icu::Locale("es"), name);
    std::string named;
    name.toUTF8String(named);
    // ICU answers with the code itself when it knows no name for it.
    if (name.isEmpty() || named == language) return tag;
    const UChar32 first = name.char32At(0);
    name.replace(0, U16_LENGTH(first), icu::UnicodeString(u_toupper(first)));
    named.clear();
    return name.toUTF8String(named);
}

void AppDelegate::selectLanguage(const std::string& choice, MediaCharacteristic characteristic,
                                 PlayerItem& item) {
    std::optional<std::vector<MediaOption>> options = item.mediaSelectionOptions(characteristic);
    if (!options) return;

    if (choice == "off") {
        item.selectMediaOption(std::nullopt, characteristic);
        return;
    }
    if (choice == "original") return;
    if (choice == "auto") {
        item.selectMediaOption(options->empty() ? std::nullopt : std::optional<std::size_t>(0),
                               characteristic);
        return;
    }

    const std::string wanted = canonicalLanguageTag(choice);
    for (std::size_t i = 0; i < options->size(); ++i) {
        if (canonicalLanguageTag(optionTag((*options)[i])) == wanted) {
            item.selectMediaOption(i, characteristic);
            return;
        }
    }
    // A regional choice (es-419, pt-br) wants that region or nothing.
    if (wanted.find('-') != std::string::npos) return;

    options = item.mediaSelectionOptions(characteristic);
    if (!options) return;
    for (std::size_t i = 0; i < options->size(); ++i) {
        if (primarySubtag(canonicalLanguageTag(optionTag((*options)[i]))) == wanted) {
            item.selectMediaOption(i, characteristic);
            return;
        }
    }
}

}  // namespace brindlemar
