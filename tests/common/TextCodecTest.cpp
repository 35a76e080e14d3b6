#include "common/TextCodec.h"

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
