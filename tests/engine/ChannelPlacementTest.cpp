// Surround sources converted to every output that keeps surround channels:
// each source channel carries its own tone, which must arrive in the output
// channel of its position (or, where the output lacks that position, in the
// one it belongs to), with the output's layout named in the file. And folds
// of surround to stereo never clip, while mono and stereo pass unchanged.
#include "engine/ConvertFile.h"

#include "common/AudioBlock.h"
#include "common/ChannelMix.h"
#include "common/FormatCatalogue.h"
#include "decoders/FFmpegReader.h"

#include "support/EngineSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <string>
#include <vector>

using namespace quelvox;
using namespace quelvox::channel;
using namespace testsupport;

namespace {

constexpr int kRate = 48000;

// One frequency per position.
struct PositionTone {
    uint64_t position;
    int hz;
};
constexpr PositionTone kTones[] = {
    {kFrontLeft, 300},          {kFrontRight, 500},          {kFrontCenter, 700},
    {kLowFrequency, 60},        {kBackLeft, 900},            {kBackRight, 1100},
    {kFrontLeftOfCenter, 1300}, {kFrontRightOfCenter, 1500}, {kBackCenter, 1700},
    {kSideLeft, 1900},          {kSideRight, 2100},
};

int ToneOf(uint64_t position) {
    for (const PositionTone& t : kTones)
        if (t.position == position) return t.hz;
    return 0;
}

// Where a source position belongs in an output of `layout`: its own
// position; else the other surround of its side; a back centre in the back
// (else side) pair; a front-of-centre channel in the front channel of its
// side.
uint64_t Destination(uint64_t position, uint64_t layout) {
    if (layout & position) return position;
    static constexpr struct {
        uint64_t from, to;
    } kInstead[] = {
        {kSideLeft, kBackLeft},
        {kSideRight, kBackRight},
        {kBackLeft, kSideLeft},
        {kBackRight, kSideRight},
        {kBackCenter, kBackLeft | kBackRight},
        {kBackCenter, kSideLeft | kSideRight},
        {kFrontLeftOfCenter, kFrontLeft},
        {kFrontRightOfCenter, kFrontRight},
    };
    for (const auto& row : kInstead)
        if (row.from == position && (layout & row.to) == row.to) return row.to;
    return 0;
}

struct Source {
    const char* name;
    uint64_t layout;  // stored in the order of its bits, as WAV stores them
};
constexpr Source kSources[] = {
    {"quad_4_0", kStereo | kFrontCenter | kBackCenter},
    {"s5_1", kStereo | kFrontCenter | kLowFrequency | kBackLeft | kBackRight},
    {"s6_1", kStereo | kFrontCenter | kLowFrequency | kBackCenter | kSideLeft | kSideRight},
    {"s7_1", kStereo | kFrontCenter | kLowFrequency | kBackLeft | kBackRight | kSideLeft |
                 kSideRight},
    // Ten channels: the first eight (FL … FRC) are kept.
    {"ten", kStereo | kFrontCenter | kLowFrequency | kBackLeft | kBackRight |
                kFrontLeftOfCenter | kFrontRightOfCenter | kSideLeft | kSideRight},
};

// Every output that keeps surround: the lossless formats with automatic
// parameters (the source's channels), the lossy codecs with their 5.1 and
// 7.1 choices.
struct Target {
    int format;
    const char* extension;
    int channels;  // 0: automatic parameters
};
constexpr Target kTargets[] = {
    {kFormatWav, "wav", 0},  {kFormatFlac, "flac", 0}, {kFormatAlac, "m4a", 0},
    {kFormatAiff, "aiff", 0}, {kFormatM4a, "m4a", 6},   {kFormatM4a, "m4a", 8},
    {kFormatOgg, "ogg", 6},  {kFormatOgg, "ogg", 8},   {kFormatOpus, "opus", 6},
    {kFormatOpus, "opus", 8}, {kFormatAc3, "ac3", 6},
};

// 1.5 s at 48 kHz of one tone (amplitude `level`) per channel of `layout`,
// at `hz` for every channel when given, else at its position's frequency.
std::string MakeTones(const TempDir& dir, const std::string& name, uint64_t layout,
                      double level, int hz = 0) {
    std::string expr;
    for (uint64_t rest = layout; rest; rest &= rest - 1) {
        const uint64_t position = rest & (~rest + 1);
        if (!expr.empty()) expr += "|";
        expr += std::to_string(level) + "*sin(2*PI*" +
                std::to_string(hz ? hz : ToneOf(position)) + "*t)";
    }
    char mask[32];
    std::snprintf(mask, sizeof mask, "0x%llx", static_cast<unsigned long long>(layout));
    return MakeWithFfmpeg(dir, name,
                          "-f lavfi -i \"aevalsrc=" + expr + ":c=" + mask + ":s=48000:d=1.5\" " +
                              "-c:a pcm_s16le");
}

// Every channel of a file through the FFmpeg reader, in the order of its
// positions.
struct Channels {
    uint64_t layout = 0;
    int rate = 0;
    std::vector<std::vector<int16_t>> planes;
};
Channels ReadChannels(const std::string& path) {
    Channels out;
    CFFmpegReader r;
    if (!r.Open(path, 0)) return out;
    out.layout = r.GetChannelLayout();
    out.rate = r.GetSampleRate();
    out.planes.resize(static_cast<size_t>(r.GetBlockChannels()));
    AudioBlock b;
    while (r.ReadBlock(b) > 0)
        for (int c = 0; c < b.Channels() && c < static_cast<int>(out.planes.size()); ++c)
            for (int i = 0; i < b.frames; ++i)
                out.planes[static_cast<size_t>(c)].push_back(FloatToInt16(b.Channel(c)[i]));
    return out;
}

class ChannelPlacementTest : public ::testing::TestWithParam<Source>, protected ConversionFixture {
protected:
    TempDir dir;
};

TEST_P(ChannelPlacementTest, EachToneReachesTheChannelOfItsPosition) {
    const Source& source = GetParam();
    const std::string src = MakeTones(dir, std::string(source.name) + ".wav", source.layout, 0.1);
    // What the conversion keeps: the first kMaxChannels stored channels.
    uint64_t kept = 0;
    for (int k = 0; k < kMaxChannels; ++k) kept |= ChannelAt(source.layout, k);

    for (const Target& t : kTargets) {
        const std::string label =
            std::string(t.extension) + " " + (t.channels ? std::to_string(t.channels) : "auto");
        SCOPED_TRACE(label);
        OutputFormatEntry& entry = Format(t.format);
        entry.AutoEncParam = t.channels == 0 ? 1 : 0;
        entry.Channels = t.channels;
        entry.SampleRate = kRate;
        entry.BitRate = 0;
        const std::string out =
            dir.file(std::to_string(t.format) + "-" + std::to_string(t.channels) + "." +
                     t.extension);
        ASSERT_TRUE(Convert(src, out, t.format)) << found.errorDetail.Source();

        const int wanted = t.channels ? t.channels : LayoutChannels(kept);
        const std::string named = Probe(out, "channel_layout");
        EXPECT_TRUE(!named.empty() && named != "unknown") << "no channel layout";
        const Channels got = ReadChannels(out);
        ASSERT_EQ(got.planes.size(), static_cast<size_t>(wanted));
        ASSERT_EQ(LayoutChannels(got.layout), wanted);
        ASSERT_GT(got.planes[0].size(), static_cast<size_t>(got.rate + got.rate / 10));

        for (uint64_t rest = kept; rest; rest &= rest - 1) {
            const uint64_t position = rest & (~rest + 1);
            const uint64_t destination = Destination(position, got.layout);
            EXPECT_NE(destination, 0u) << "no place for position " << position;
            for (int c = 0; c < wanted; ++c) {
                // One second from a tenth of a second on, past any encoder
                // delay.
                const double level = ToneLevel(got.planes[static_cast<size_t>(c)],
                                               static_cast<size_t>(got.rate / 10), got.rate,
                                               ToneOf(position)) /
                                     (0.1 * 32768);
                const uint64_t at = ChannelAt(got.layout, c);
                if (destination & at)
                    EXPECT_GT(level, 0.25) << "position " << position << " missing at " << at;
                else
                    EXPECT_LT(level, 0.1) << "position " << position << " leaks into " << at;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ChannelPlacementTest, ::testing::ValuesIn(kSources),
                         [](const ::testing::TestParamInfo<Source>& info) {
                             return std::string(info.param.name);
                         });

class StereoFoldTest : public ::testing::Test, protected ConversionFixture {
protected:
    TempDir dir;
};

// The same 440 Hz at -6 dBFS in every channel of a surround source, folded
// to stereo 16-bit WAV: no sample reaches full scale and no harmonic
// appears. Mono and stereo sources come out sample for sample as they went
// in.
TEST_F(StereoFoldTest, SurroundFoldsWithoutClippingAndNarrowSourcesPassUnchanged) {
    OutputFormatEntry& wav = Format(kFormatWav);
    wav.AutoEncParam = 0;
    wav.Channels = 2;
    wav.SampleRate = kRate;
    const struct {
        const char* name;
        uint64_t layout;
    } cases[] = {
        {"mono", kMono},
        {"stereo", kStereo},
        {"quad_4_0", kStereo | kFrontCenter | kBackCenter},
        {"s5_1", kStereo | kFrontCenter | kLowFrequency | kBackLeft | kBackRight},
        {"s7_1", kStereo | kFrontCenter | kLowFrequency | kBackLeft | kBackRight | kSideLeft |
                     kSideRight},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string src =
            MakeTones(dir, std::string(c.name) + ".wav", c.layout, 0.5, 440);
        const std::string out = dir.file(std::string(c.name) + "-out.wav");
        ASSERT_TRUE(Convert(src, out, kFormatWav));
        const std::vector<int16_t> pcm = DecodeWithFfmpeg(out);
        ASSERT_GT(pcm.size(), static_cast<size_t>(2 * kRate));
        if (LayoutChannels(c.layout) <= 2) {
            // Each side holds the source's samples exactly (mono on both).
            const std::vector<int16_t> in = DecodeWithFfmpeg(src);
            const size_t stride = static_cast<size_t>(LayoutChannels(c.layout));
            EXPECT_EQ(pcm.size(), in.size() * 2 / stride);
            EXPECT_EQ(MaxDifference(in, pcm, 2 / stride, 0), 0);
            EXPECT_EQ(MaxDifference(in, pcm, 2 / stride, 1 / stride), 0);
            continue;
        }
        std::vector<int16_t> left;
        for (size_t i = 0; i < pcm.size(); i += 2) left.push_back(pcm[i]);
        EXPECT_LT(Peak(pcm), 32767 * 0.9);
        const double fundamental = ToneLevel(left, 0, kRate, 440);
        EXPECT_GT(fundamental, 0.5 * 32768 * 0.5);
        EXPECT_LT(ToneLevel(left, 0, kRate, 1320), fundamental * 0.001);
    }
}

}  // namespace
