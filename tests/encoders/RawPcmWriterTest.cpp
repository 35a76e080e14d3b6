#include "encoders/RawPcmWriter.h"

#include "support/BlockSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

using namespace quelvox;
using namespace testsupport;

TEST(RawPcmWriter, WritesStereoInterleavedLittleEndian) {
    TempDir dir;
    CRawPcmWriter w;
    w.SetChannels(2);
    w.SetSampleRate(12345);  // accepted and ignored
    w.SetBitrate(999);
    w.SetFileName(dir.file("out.raw"));
    ASSERT_TRUE(w.Open());
    int16_t l[1] = {0x0102}, r[1] = {-2};
    EXPECT_TRUE(WriteInt16(w, l, r, 1));
    w.Close();
    EXPECT_EQ(ReadFile(dir.file("out.raw")), (std::vector<uint8_t>{0x02, 0x01, 0xFE, 0xFF}));
}

TEST(RawPcmWriter, MonoIgnoresTheRightBufferAndFullBlocksFit) {
    TempDir dir;
    CRawPcmWriter w;
    w.SetChannels(1);
    w.SetFileName(dir.file("mono.raw"));
    ASSERT_TRUE(w.Open());
    std::vector<int16_t> block(kBlockFrames);
    for (int i = 0; i < kBlockFrames; ++i) block[i] = static_cast<int16_t>(i - 600);
    EXPECT_TRUE(WriteInt16(w, block.data(), nullptr, kBlockFrames));
    EXPECT_TRUE(WriteInt16(w, block.data(), nullptr, 3));
    w.Close();
    auto bytes = ReadFile(dir.file("mono.raw"));
    ASSERT_EQ(bytes.size(), (kBlockFrames + 3) * 2u);
    EXPECT_EQ(static_cast<int16_t>(bytes[0] | (bytes[1] << 8)), -600);
    EXPECT_EQ(
        static_cast<int16_t>(bytes[kBlockFrames * 2 + 4] | (bytes[kBlockFrames * 2 + 5] << 8)),
        -598);
}

TEST(RawPcmWriter, OpenTruncatesAndFailsOnMissingFolder) {
    TempDir dir;
    WriteFile(dir.file("old.raw"), std::string(100, 'x'));
    {
        CRawPcmWriter w;
        w.SetChannels(2);
        w.SetFileName(dir.file("old.raw"));
        ASSERT_TRUE(w.Open());
    }  // destructor closes
    EXPECT_EQ(std::filesystem::file_size(dir.file("old.raw")), 0u);

    CRawPcmWriter bad;
    bad.SetFileName(dir.file("missing/folder/x.raw"));
    EXPECT_FALSE(bad.Open());
    int16_t s[1] = {1};
    EXPECT_FALSE(WriteInt16(bad, s, s, 1));
    bad.Close();
    bad.Close();  // harmless twice
}
