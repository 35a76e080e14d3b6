// Seeking in the FFmpeg reader: lossless streams land at or before the
// asked frame and tell where, so that what follows is exactly what reading
// from the start gives there; codecs with decoder delay do not seek.
#include "decoders/FFmpegReader.h"

#include "support/ReaderSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quelvox;
using namespace testsupport;

TEST(FFmpegReaderSeek, LosslessStreamsLandWhereTheyTell) {
    TempDir dir;
    const int frames = 44100 * 3 + 77;
    std::vector<int16_t> samples(static_cast<size_t>(frames) * 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<int>((i * 7919) % 60001) - 30000);
    const std::string wav = dir.file("image.wav");
    WriteWav(wav, 44100, 2, samples);
    for (const char* name : {"image.tta", "image.wv", "image.flac"}) {
        SCOPED_TRACE(name);
        const std::string path = dir.file(name);
        Shell("ffmpeg -v error -nostdin -i " + Quote(wav) + " " + Quote(path));
        CFFmpegReader reader;
        ASSERT_NE(reader.Open(path, 0), 0);
        const uint64_t target = 2 * 44100 + 12345;
        uint64_t landed = 0;
        ASSERT_TRUE(reader.SeekFrame(target, landed));
        EXPECT_LE(landed, target);
        EXPECT_GT(landed, 0u);  // a real seek, not a decode from the start
        const Decoded d = ReadAll(reader);
        ASSERT_EQ(d.left.size(), frames - landed);
        for (size_t i = 0; i < d.left.size(); ++i) {
            ASSERT_EQ(d.left[i], samples[2 * (landed + i)]) << i;
            ASSERT_EQ(d.right[i], samples[2 * (landed + i) + 1]) << i;
        }
        reader.Close();
    }
    // MP3 has decoder delay: no seek, and the reader stays at the start.
    const std::string mp3 = dir.file("image.mp3");
    Shell("ffmpeg -v error -nostdin -i " + Quote(wav) + " " + Quote(mp3));
    CFFmpegReader reader;
    ASSERT_NE(reader.Open(mp3, 0), 0);
    uint64_t landed = 0;
    EXPECT_FALSE(reader.SeekFrame(44100, landed));
    EXPECT_GE(ReadAll(reader).left.size(), static_cast<size_t>(frames));
    reader.Close();
}
