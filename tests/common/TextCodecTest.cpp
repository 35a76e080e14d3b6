#include "common/TextCodec.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quelvox;

TEST(TextCodec, AsciiRoundTripsUnchanged) {
    std::string local, back;
    const std::string ascii = "Hello, World 123 ~!";
    ASSERT_EQ(Utf8ToLocal(ascii, local), 0);
    EXPECT_EQ(local, ascii);
    ASSERT_EQ(LocalToUtf8(local, back), 0);
    EXPECT_EQ(back, ascii);
    ASSERT_EQ(Utf8ToCharset(ascii, "GB18030", local), 0);
    EXPECT_EQ(local, ascii);
}

TEST(TextCodec, ConvertsChineseToAndFromGbk) {
    const std::string utf8 = "\xE8\xBD\xAC\xE6\x8D\xA2";  // 转换
    std::string gbk, back;
    ASSERT_EQ(Utf8ToCharset(utf8, "GBK", gbk), 0);
    EXPECT_EQ(gbk, "\xD7\xAA\xBB\xBB");
    ASSERT_EQ(CharsetToUtf8(gbk, "GBK", back), 0);
    EXPECT_EQ(back, utf8);
}

TEST(TextCodec, CharactersOutsideTheBmpBecomeOneFourByteSequence) {
    // U+1F3B5 MUSICAL NOTE from GB18030 (which can hold it) to UTF-8: one
    // well-formed four-byte sequence, not two encoded surrogates.
    std::string gb, utf8;
    const std::string note = "\xF0\x9F\x8E\xB5";
    ASSERT_EQ(Utf8ToCharset(note, "GB18030", gb), 0);
    ASSERT_EQ(CharsetToUtf8(gb, "GB18030", utf8), 0);
    EXPECT_EQ(utf8, note);
}

TEST(TextCodec, MalformedInputNeverOverrunsAndYieldsValidText) {
    // Truncated three-byte lead at the very end, stray continuation bytes.
    const char raw[] = {'a', '\xE8', '\xBD', '\0', 'z'};
    std::string_view truncated(raw, 3);
    std::string out;
    ASSERT_EQ(Utf8ToCharset(truncated, "UTF-8", out), 0);
    EXPECT_EQ(out.substr(0, 1), "a");
    EXPECT_EQ(SanitizeUtf8(out), out);

    ASSERT_EQ(Utf8ToCharset(std::string_view("\x80\xBFok", 4), "GBK", out), 0);
    EXPECT_EQ(out, "??ok");

    // A character GBK cannot hold becomes '?'.
    ASSERT_EQ(Utf8ToCharset("\xF0\x9F\x8E\xB5x", "GBK", out), 0);
    EXPECT_EQ(out, "?x");
}

TEST(TextCodec, UnknownCharsetFails) {
    std::string out;
    EXPECT_EQ(Utf8ToCharset("abc", "NO-SUCH-CHARSET-42", out), -1);
}

// One word of legacy text, alone in its file: the locale's code page is
// the prior that short evidence cannot overturn, yet a word that reads
// clearly better in another code page is read in that one.
TEST(TextCodec, OneWordLegacyTextsUnderTheirLocaleAndAnother) {
    struct Word {
        const char* text;
        const char* page;      // the code page it was written in
        const char* locale;    // a locale whose code page that is
        bool otherLocaleToo;   // read right under zh_CN and en_US alike
    };
    const Word words[] = {
        {"音樂", "BIG5", "zh_TW.UTF-8", true},
        {"音楽", "CP932", "ja_JP.UTF-8", true},
        {"Кино", "WINDOWS-1251", "ru_RU.UTF-8", true},
        {"Цой", "WINDOWS-1251", "ru_RU.UTF-8", true},
        {"Größe", "WINDOWS-1252", "en_US.UTF-8", true},
        {"Coração", "WINDOWS-1252", "pt_BR.UTF-8", true},
        {"Canções", "WINDOWS-1252", "pt_BR.UTF-8", true},
        {"Björk", "WINDOWS-1252", "en_US.UTF-8", false},
        {"爱", "GBK", "zh_CN.UTF-8", true},
    };
    for (const Word& w : words) {
        std::string bytes;
        ASSERT_EQ(Utf8ToCharset(w.text, w.page, bytes), 0);
        std::vector<const char*> locales{w.locale};
        if (w.otherLocaleToo) locales.insert(locales.end(), {"zh_CN.UTF-8", "en_US.UTF-8"});
        for (const char* locale : locales) {
            testsupport::ScopedEnv env("LC_ALL", locale);
            const std::string alone[] = {bytes};
            EXPECT_EQ(LegacyTextToUtf8(bytes, ResolveCodePage(kAutoCodePage, alone)), w.text)
                << w.text << " under " << locale;
        }
    }
}

TEST(TextCodec, ShortTextValidAsUtf8IsReadInTheFilesCodePage) {
    // GBK "山水" happens to be valid UTF-8 ("ɽˮ"); beside other GBK text
    // of the same file it is read as GBK. Real UTF-8 stays as it is.
    std::string shanshui, singer;
    ASSERT_EQ(Utf8ToCharset("山水", "GBK", shanshui), 0);
    ASSERT_EQ(Utf8ToCharset("周杰伦", "GBK", singer), 0);
    for (const char* locale : {"zh_CN.UTF-8", "en_US.UTF-8"}) {
        testsupport::ScopedEnv env("LC_ALL", locale);
        const std::string texts[] = {singer, shanshui};
        const std::string page = ResolveCodePage(kAutoCodePage, texts);
        EXPECT_EQ(LegacyTextToUtf8(shanshui, page), "山水") << locale;
        EXPECT_EQ(LegacyTextToUtf8(singer, page), "周杰伦") << locale;
        EXPECT_EQ(LegacyTextToUtf8("Sigur Rós", page), "Sigur Rós") << locale;
        EXPECT_EQ(LegacyTextToUtf8("七里香", page), "七里香") << locale;
    }
}
