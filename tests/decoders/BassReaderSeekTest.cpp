// Seeking in the decoding layer's reader: WAV and FLAC land on the exact
// frame, and what follows is what reading from the start gives there.
#include "decoders/BassReader.h"

#include "support/ChannelSupport.h"
#include "support/ReaderSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace quelvox;
using namespace testsupport;

TEST(BassReaderSeek, WavAndFlacLandOnTheExactFrame) {
    TempDir dir;
    const int frames = 44100 * 2 + 77;
    std::vector<int16_t> samples(static_cast<size_t>(frames) * 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<int16_t>(static_cast<int>((i * 7919) % 60001) - 30000);
    const std::string wav = dir.file("image.wav");
    WriteWav(wav, 44100, 2, samples);
    const std::string flac = dir.file("image.flac");
    Shell("ffmpeg -v error -nostdin -i " + Quote(wav) + " " + Quote(flac));

    bass::CBassRuntime rt = RuntimeWithAllAddOns();
    for (const std::string& path : {wav, flac}) {
        SCOPED_TRACE(path);
        CBassReader reader(rt);
        ASSERT_EQ(reader.Open(path, 0), 1);
        const uint64_t target = 44100 + 12345;
        uint64_t landed = 1;
        ASSERT_TRUE(reader.SeekFrame(target, landed));
        EXPECT_EQ(landed, target);
        const Decoded d = ReadAll(reader);
        ASSERT_EQ(d.left.size(), frames - target);
        for (size_t i = 0; i < d.left.size(); ++i) {
            ASSERT_EQ(d.left[i], samples[2 * (target + i)]) << i;
            ASSERT_EQ(d.right[i], samples[2 * (target + i) + 1]) << i;
        }
        // Beyond the end it refuses and leaves the reader where it was.
        CBassReader other(rt);
        ASSERT_EQ(other.Open(path, 0), 1);
        EXPECT_FALSE(other.SeekFrame(static_cast<uint64_t>(frames) * 10, landed));
        EXPECT_EQ(ReadAll(other).left.size(), static_cast<size_t>(frames));
        reader.Close();
        other.Close();
    }
}
