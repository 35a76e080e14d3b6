#include "common/TagSpans.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quelvox;

namespace {

std::string Id3v2(uint32_t size) {
    std::string h = "ID3\x04";
    h += '\0';
    h += '\0';
    for (int shift : {21, 14, 7, 0}) h += static_cast<char>((size >> shift) & 0x7F);
    return h + std::string(std::min<uint32_t>(size, 64), 'x');
}

std::string ApeFooter(uint32_t size) {
    std::string f = "APETAGEX";
    for (uint32_t v : {2000u, size, 0u, 0u})
        for (int b = 0; b < 4; ++b) f += static_cast<char>((v >> (8 * b)) & 0xFF);
    return f + std::string(8, '\0');
}

}  // namespace

// Tags before and after the audio are left out; sizes that lie stay
// within the file.
TEST(TagSpans, AudioBytesLeaveOutTagsAroundTheAudio) {
    testsupport::TempDir dir;
    const std::string audio(1000, 'a');
    const std::string id3v1 = "TAG" + std::string(125, ' ');
    struct Case {
        const char* name;
        std::string bytes;
        int64_t expected;
    };
    const Case cases[] = {
        {"plain", audio, 1000},
        {"id3v2", Id3v2(64) + audio, 1000},
        {"two id3v2", Id3v2(64) + Id3v2(10) + audio, 1000},
        {"id3v1", audio + id3v1, 1000},
        {"ape and id3v1", audio + std::string(68, 'k') + ApeFooter(100) + id3v1, 1000},
        {"flac blocks", std::string("fLaC\x80\0\0\x04", 8) + "abcd" + audio, 1000},
        {"id3v2 larger than the file", Id3v2(0x0FFFFFFF) + audio, 0},
        {"ape larger than the file", audio + ApeFooter(0x7FFFFFF0), 0},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file(c.name);
        testsupport::WriteFile(path, c.bytes);
        EXPECT_EQ(AudioDataBytes(path, static_cast<int64_t>(c.bytes.size())), c.expected) << c.name;
    }
    EXPECT_EQ(AudioDataBytes(dir.file("missing"), -1), -1);
}
