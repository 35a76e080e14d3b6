#include "common/FormatCatalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "common/CodecIds.h"
#include "encoders/LibraryCodecIds.h"
#include "platform/libav/EntryPoints.h"

namespace quelvox {
namespace {

TEST(FormatCatalogue, HoldsThirtyOneEntriesInListOrder) {
    const std::vector<int> expected = {8300, 8350, 6000, 6100, 3400, 5100, 6200, 5500,
                                       7300, 5000, 8000, 5600, 3200, 3650, 6500, 6700,
                                       6800, 1400, 1500, 8100, 1100, 1000, 6600, 1200,
                                       4000, 4100, 8200, 8400, 2000, 7100, 7200};
    std::vector<int> codes;
    for (const OutputFormatEntry& e : BuildFormatCatalogue()) codes.push_back(e.code);
    EXPECT_EQ(codes, expected);
}

TEST(FormatCatalogue, EachBuildIsAnIndependentCopy) {
    std::vector<OutputFormatEntry> a = BuildFormatCatalogue();
    a[0].BitRate = 12200;
    EXPECT_EQ(BuildFormatCatalogue()[0].BitRate, 10200);
}

TEST(FormatCatalogue, LibraryWrittenEntriesAreConsistent) {
    for (const OutputFormatEntry& e : BuildFormatCatalogue()) {
        SCOPED_TRACE(e.code);
        if (SelectWriter(e) != WriterKind::FFmpeg) {
            EXPECT_FALSE(HasFormatSettings(e.code));
            EXPECT_EQ(e.AutoEncParam | e.CodecID | e.SampleRate | e.BitRate | e.Channels, 0);
            EXPECT_EQ(e.container, nullptr);
            EXPECT_TRUE(e.codecs.empty());
            EXPECT_EQ(FindCodec(e), nullptr);
            continue;
        }
        EXPECT_TRUE(HasFormatSettings(e.code));
        ASSERT_NE(e.container, nullptr);
        // The muxer must exist in the library we open.
        ASSERT_TRUE(libav::LoadCodecLibraries());
        EXPECT_NE(libav::Av().av_guess_format(e.container, nullptr, nullptr), nullptr)
            << e.container;
        ASSERT_NE(FindCodec(e), nullptr);
        EXPECT_EQ(FindCodec(e)->CodecID, e.CodecID);
    }
}

TEST(FormatCatalogue, CodecTableIsWellFormed) {
    std::span<const CodecEntry> codecs = AllCodecEntries();
    ASSERT_EQ(codecs.size(), 38u);
    for (const CodecEntry& c : codecs) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(ToLibraryCodecId(c.CodecID), 0);
        ASSERT_FALSE(c.sampleRates.empty());
        EXPECT_TRUE(std::is_sorted(c.sampleRates.begin(), c.sampleRates.end()));
        EXPECT_TRUE(std::is_sorted(c.bitRates.begin(), c.bitRates.end()));
        EXPECT_EQ(std::count(c.sampleRates.begin(), c.sampleRates.end(), -1), 0);
        EXPECT_EQ(std::count(c.bitRates.begin(), c.bitRates.end(), -1), 0);
        EXPECT_GE(c.channelMask & (kChannelMaskMono | kChannelMaskStereo), 1);
        EXPECT_LE(c.channelMask, 15);
    }
}

TEST(FormatCatalogue, DefaultsOfNotableEntries) {
    std::vector<OutputFormatEntry> cat = BuildFormatCatalogue();
    const OutputFormatEntry* voc = FindFormat(cat, kFormatVoc);
    ASSERT_NE(voc, nullptr);
    EXPECT_EQ(voc->AutoEncParam, 0);
    EXPECT_EQ(voc->CodecID, kCodecPcmU8);
    EXPECT_EQ(voc->SampleRate, 22050);
    EXPECT_EQ(voc->Channels, 1);

    const OutputFormatEntry* gp = FindFormat(cat, kFormat3gp);
    ASSERT_NE(gp, nullptr);
    EXPECT_EQ(gp->AutoEncParam, 0);
    EXPECT_EQ(gp->CodecID, kCodecAmrNb);
    EXPECT_EQ(gp->SampleRate, 8000);
    EXPECT_EQ(gp->BitRate, 10200);
    EXPECT_EQ(gp->Channels, 1);
    EXPECT_STREQ(FindCodec(*gp)->name, "Adaptive Multi-Rate (AMR) Narrow-Band");

    const OutputFormatEntry* wav = FindFormat(cat, kFormatWav);
    ASSERT_NE(wav, nullptr);
    EXPECT_EQ(wav->codecs.size(), 14u);
    EXPECT_EQ(wav->codecs.back()->CodecID, kCodecMp3);
    EXPECT_EQ(FindFormat(cat, kFormatListExtraItem), nullptr);
}

// Every rate the Opus page offers must be one libopus takes as its input
// rate, and the rate it codes at must be among them: a rate it refuses
// would fail each conversion at the encoder.
TEST(FormatCatalogue, OpusRatesAreThoseLibopusAccepts) {
    const OutputFormatEntry* opus = CatalogueRow(kFormatOpus);
    ASSERT_NE(opus, nullptr);
    const CodecEntry* codec = FindCodec(*opus);
    ASSERT_NE(codec, nullptr);
    ASSERT_TRUE(libav::LoadCodecLibraries());
    const AVCodec* libopus = libav::Av().avcodec_find_encoder_by_name("libopus");
    ASSERT_NE(libopus, nullptr) << "libavcodec is built without libopus";
    ASSERT_NE(libopus->supported_samplerates, nullptr);
    std::set<int> accepted;
    for (const int* r = libopus->supported_samplerates; *r != 0; ++r) accepted.insert(*r);
    for (int rate : codec->sampleRates) EXPECT_TRUE(accepted.count(rate)) << rate;
    EXPECT_TRUE(
        std::count(codec->sampleRates.begin(), codec->sampleRates.end(), codec->encoderRate));
    // The automatic bit rates (per channel, for mono and stereo) are on the
    // page's list, so they show as selectable items.
    for (int channels : {1, 2})
        EXPECT_TRUE(std::count(codec->bitRates.begin(), codec->bitRates.end(),
                               codec->autoBitRatePerChannel * channels))
            << channels;
}

TEST(FormatCatalogue, FlashEntriesUseTheirOwnCodecVariants) {
    std::vector<OutputFormatEntry> cat = BuildFormatCatalogue();
    const OutputFormatEntry* flv = FindFormat(cat, kFormatFlv);
    ASSERT_NE(flv, nullptr);
    const CodecEntry* mp3 = FindCodec(*flv);
    ASSERT_NE(mp3, nullptr);
    EXPECT_EQ(std::vector<int>(mp3->sampleRates.begin(), mp3->sampleRates.end()),
              (std::vector<int>{11025, 22050, 44100}));
    OutputFormatEntry aac = *flv;
    aac.CodecID = kCodecAac;
    ASSERT_NE(FindCodec(aac), nullptr);
    EXPECT_EQ(FindCodec(aac)->channelMask, kChannelMaskStereo);
}

TEST(FormatCatalogue, CodecIdOutsideTheListFindsNothing) {
    OutputFormatEntry mp3 = *FindFormat(BuildFormatCatalogue(), kFormatMp3);
    mp3.CodecID = kCodecFlac;
    EXPECT_EQ(FindCodec(mp3), nullptr);
}

TEST(FormatCatalogue, TextsFallBackToTheExtension) {
    std::vector<OutputFormatEntry> cat = BuildFormatCatalogue();
    const OutputFormatEntry& mp3 = *FindFormat(cat, kFormatMp3);
    EXPECT_EQ(FormatDescription(mp3), "MP3");
    EXPECT_EQ(FormatPageTitle(mp3), "MP3");
    EXPECT_EQ(FormatSettingsPrefix(mp3), "MP3");
    const OutputFormatEntry& device = *FindFormat(cat, kFormatAacDevice);
    EXPECT_EQ(FormatDescription(device), "AAC 适用iPod/iPhone/iPad/iTunes/DSi (*.m4a)");
    EXPECT_EQ(FormatPageTitle(device), "AAC 适用iPod/DSi");
    EXPECT_EQ(FormatDescription(*FindFormat(cat, kFormatWmv)), "WMV (仅音频)");
    EXPECT_EQ(FormatPageTitle(*FindFormat(cat, kFormatWmv)), "WMV");
}

TEST(FormatCatalogue, SettingsPrefixesKeepTheM4aEntriesApart) {
    std::vector<OutputFormatEntry> cat = BuildFormatCatalogue();
    EXPECT_EQ(FormatSettingsPrefix(*FindFormat(cat, kFormatAacDevice)), "AACDEVICE");
    EXPECT_EQ(FormatSettingsPrefix(*FindFormat(cat, kFormatAlac)), "ALAC");
    EXPECT_EQ(FormatSettingsPrefix(*FindFormat(cat, kFormatM4a)), "M4A");
    std::set<std::string> prefixes;
    for (const OutputFormatEntry& e : cat) {
        if (HasFormatSettings(e.code)) {
            EXPECT_TRUE(prefixes.insert(FormatSettingsPrefix(e)).second) << e.code;
        }
    }
    EXPECT_EQ(prefixes.size(), 26u);
}

TEST(FormatCatalogue, WriterSelectionByCode) {
    const std::map<int, WriterKind> expected = {
        {5500, WriterKind::Amr},    {5600, WriterKind::Amr},    {7100, WriterKind::Wma},
        {7200, WriterKind::Wma},    {7300, WriterKind::Wma},    {1000, WriterKind::FFmpeg},
        {2000, WriterKind::FFmpeg}, {8400, WriterKind::FFmpeg}, {4100, WriterKind::FFmpeg},
    };
    for (const auto& [code, kind] : expected) EXPECT_EQ(SelectWriter(code), kind) << code;
    int ffmpeg = 0;
    for (const OutputFormatEntry& e : BuildFormatCatalogue()) {
        ffmpeg += SelectWriter(e) == WriterKind::FFmpeg;
    }
    EXPECT_EQ(ffmpeg, 26);
}

}  // namespace
}  // namespace quelvox
