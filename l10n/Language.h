// The language the program speaks, and how it is chosen: the command line,
// then the stored setting, then the user's locale.
#pragma once

#include <optional>
#include <string_view>

namespace quelvox {

// Chinese is the language of the program's own texts; English is the
// translation.
enum class Language { Chinese, English };

// A language by name or locale, case-insensitive: "zh", "zh_CN",
// "zh_TW.UTF-8", "chinese", "en", "en_US.UTF-8", "english" and the like.
// Nothing for any other text ("C", "POSIX", "fr_FR", "").
std::optional<Language> ParseLanguageName(std::string_view name);

// The language of the user's locale as gettext finds it: the first entry
// of LANGUAGE, unless the locale (LC_ALL, else LC_MESSAGES, else LANG) is
// "C" or "POSIX" or unset; otherwise that locale. A Chinese locale gives
// Chinese, anything else English.
Language LanguageFromEnvironment();

// Values of the stored setting Language.
inline constexpr int kLanguageSystem = 0;
inline constexpr int kLanguageChinese = 1;
inline constexpr int kLanguageEnglish = 2;

// The language to use: the command line's choice when given, else the
// stored setting (kLanguageChinese, kLanguageEnglish), else (the system's
// language, or an unknown value) the environment's.
Language ChooseLanguage(std::optional<Language> commandLine, int setting);

}  // namespace quelvox
