// The language choice: names and locales, the environment in gettext's
// order, and the precedence of command line, setting and environment.
#include <gtest/gtest.h>

#include "l10n/Language.h"
#include "support/TestSupport.h"

using quelvox::ChooseLanguage;
using quelvox::Language;
using quelvox::LanguageFromEnvironment;
using quelvox::ParseLanguageName;
using testsupport::ScopedEnv;

TEST(Language, NamesAndLocales) {
    for (const char* name :
         {"zh", "ZH", "zh_CN", "zh_TW.UTF-8", "zh_CN.GB18030@x", "Chinese", "zh-Hans"}) {
        EXPECT_EQ(ParseLanguageName(name), Language::Chinese) << name;
    }
    for (const char* name : {"en", "en_US.UTF-8", "EN_gb", "english", "English"}) {
        EXPECT_EQ(ParseLanguageName(name), Language::English) << name;
    }
    for (const char* name :
         {"", "C", "POSIX", "C.UTF-8", "fr_FR.UTF-8", "zhx", "eng", "chinese!"}) {
        EXPECT_EQ(ParseLanguageName(name), std::nullopt) << name;
    }
}

// Sets the four variables gettext consults; null unsets.
struct Locale {
    ScopedEnv language, all, messages, lang;
    Locale(const char* languageList, const char* lcAll, const char* lcMessages, const char* lang)
        : language("LANGUAGE", languageList),
          all("LC_ALL", lcAll),
          messages("LC_MESSAGES", lcMessages),
          lang("LANG", lang) {}
};

TEST(Language, EnvironmentInGettextsOrder) {
    {
        Locale unset(nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(LanguageFromEnvironment(), Language::English);
    }
    {
        Locale l(nullptr, nullptr, nullptr, "zh_CN.UTF-8");
        EXPECT_EQ(LanguageFromEnvironment(), Language::Chinese);
    }
    {
        Locale l(nullptr, "en_US.UTF-8", nullptr, "zh_CN.UTF-8");  // LC_ALL first
        EXPECT_EQ(LanguageFromEnvironment(), Language::English);
    }
    {
        Locale l(nullptr, nullptr, "zh_TW.UTF-8", "en_US.UTF-8");  // then LC_MESSAGES
        EXPECT_EQ(LanguageFromEnvironment(), Language::Chinese);
    }
    {
        Locale l(nullptr, nullptr, nullptr, "de_DE.UTF-8");  // neither: English
        EXPECT_EQ(LanguageFromEnvironment(), Language::English);
    }
    {
        // LANGUAGE's first entry wins over the locale...
        Locale l("zh_CN:en", nullptr, nullptr, "en_US.UTF-8");
        EXPECT_EQ(LanguageFromEnvironment(), Language::Chinese);
    }
    {
        Locale l(":fr:zh", nullptr, nullptr, "zh_CN.UTF-8");
        EXPECT_EQ(LanguageFromEnvironment(), Language::English);
    }
    // ...except under the C locale, where gettext ignores it.
    for (const char* plain : {"C", "POSIX", "C.UTF-8"}) {
        Locale l("zh_CN", plain, nullptr, nullptr);
        EXPECT_EQ(LanguageFromEnvironment(), Language::English) << plain;
    }
    {
        Locale l("zh_CN", nullptr, nullptr, nullptr);
        EXPECT_EQ(LanguageFromEnvironment(), Language::English);
    }
}

TEST(Language, CommandLineThenSettingThenEnvironment) {
    Locale chinese(nullptr, nullptr, nullptr, "zh_CN.UTF-8");
    EXPECT_EQ(ChooseLanguage(Language::English, quelvox::kLanguageChinese), Language::English);
    EXPECT_EQ(ChooseLanguage(Language::Chinese, quelvox::kLanguageEnglish), Language::Chinese);
    EXPECT_EQ(ChooseLanguage(std::nullopt, quelvox::kLanguageEnglish), Language::English);
    EXPECT_EQ(ChooseLanguage(std::nullopt, quelvox::kLanguageSystem), Language::Chinese);
    EXPECT_EQ(ChooseLanguage(std::nullopt, 7), Language::Chinese);
    Locale english(nullptr, nullptr, nullptr, "en_GB.UTF-8");
    EXPECT_EQ(ChooseLanguage(std::nullopt, quelvox::kLanguageChinese), Language::Chinese);
    EXPECT_EQ(ChooseLanguage(std::nullopt, quelvox::kLanguageSystem), Language::English);
}
