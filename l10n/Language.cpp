#include "l10n/Language.h"

#include <cstdlib>
#include <string>

namespace quelvox {

namespace {

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// The value of an environment variable, empty when unset.
std::string_view Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string_view(value) : std::string_view();
}

// The locale gettext uses for messages: LC_ALL, else LC_MESSAGES, else
// LANG; empty when none is set.
std::string_view MessagesLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        std::string_view value = Env(name);
        if (!value.empty()) return value;
    }
    return {};
}

// The "C" locale (also "C.UTF-8") and "POSIX": no language of their own,
// and gettext ignores LANGUAGE under them.
bool IsPlainLocale(std::string_view locale) {
    return locale.empty() || locale == "C" || locale == "POSIX" || locale.substr(0, 2) == "C.";
}

}  // namespace

std::optional<Language> ParseLanguageName(std::string_view name) {
    std::string text = Lower(name);
    // The language is what precedes the territory, codeset and modifier:
    // language[_territory][.codeset][@modifier].
    const size_t end = text.find_first_of("_-.@");
    const std::string language = text.substr(0, end);
    if (language == "zh" || text == "chinese") return Language::Chinese;
    if (language == "en" || text == "english") return Language::English;
    return std::nullopt;
}

Language LanguageFromEnvironment() {
    const std::string_view locale = MessagesLocale();
    if (!IsPlainLocale(locale)) {
        std::string_view list = Env("LANGUAGE");
        // The first entry of the colon-separated list that names anything.
        while (!list.empty()) {
            const size_t colon = list.find(':');
            std::string_view entry = list.substr(0, colon);
            if (!entry.empty()) {
                return ParseLanguageName(entry) == Language::Chinese ? Language::Chinese
                                                                     : Language::English;
            }
            if (colon == std::string_view::npos) break;
            list.remove_prefix(colon + 1);
        }
    }
    return ParseLanguageName(locale) == Language::Chinese ? Language::Chinese : Language::English;
}

Language ChooseLanguage(std::optional<Language> commandLine, int setting) {
    if (commandLine) return *commandLine;
    if (setting == kLanguageChinese) return Language::Chinese;
    if (setting == kLanguageEnglish) return Language::English;
    return LanguageFromEnvironment();
}

}  // namespace quelvox
