// Every catalogue entry written by CFFmpegWriter, with every codec of its
// list, at the codec's default parameters and at another rate and channel
// count: the result is checked with ffprobe and by decoding it with ffmpeg.
#include "encoders/FFmpegWriter.h"

#include "common/CodecIds.h"
#include "common/FormatCatalogue.h"
#include "support/BlockSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <future>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace quelvox;
using namespace testsupport;

namespace {

enum class Fidelity { Exact, Unsigned8, Lossy };

struct CodecExpectation {
    int id;
    const char* probeName;  // ffprobe's codec_name
    Fidelity fidelity;
    int decodedRate = 0;  // the rate every stream decodes at; 0 = the rate written
};

constexpr CodecExpectation kExpectations[] = {
    {kCodecAmrNb, "amr_nb", Fidelity::Lossy},
    {kCodecAlac, "alac", Fidelity::Exact},
    {kCodecAc3, "ac3", Fidelity::Lossy},
    {kCodecAac, "aac", Fidelity::Lossy},
    {kCodecAdpcmSwf, "adpcm_swf", Fidelity::Lossy},
    {kCodecMp2, "mp2", Fidelity::Lossy},
    {kCodecMp3, "mp3", Fidelity::Lossy},
    {kCodecVorbis, "vorbis", Fidelity::Lossy},
    {kCodecFlac, "flac", Fidelity::Exact},
    {kCodecPcmU8, "pcm_u8", Fidelity::Unsigned8},
    {kCodecPcmS8, "pcm_s8", Fidelity::Unsigned8},
    {kCodecPcmS16Le, "pcm_s16le", Fidelity::Exact},
    {kCodecPcmS16Be, "pcm_s16be", Fidelity::Exact},
    {kCodecPcmS24Le, "pcm_s24le", Fidelity::Exact},
    {kCodecPcmS24Be, "pcm_s24be", Fidelity::Exact},
    {kCodecPcmS32Le, "pcm_s32le", Fidelity::Exact},
    {kCodecPcmS32Be, "pcm_s32be", Fidelity::Exact},
    {kCodecPcmF32Le, "pcm_f32le", Fidelity::Exact},
    {kCodecPcmF32Be, "pcm_f32be", Fidelity::Exact},
    {kCodecPcmF64Le, "pcm_f64le", Fidelity::Exact},
    {kCodecPcmF64Be, "pcm_f64be", Fidelity::Exact},
    {kCodecPcmAlaw, "pcm_alaw", Fidelity::Lossy},
    {kCodecPcmMulaw, "pcm_mulaw", Fidelity::Lossy},
    {kCodecAdpcmMs, "adpcm_ms", Fidelity::Lossy},
    {kCodecAdpcmImaWav, "adpcm_ima_wav", Fidelity::Lossy},
    {kCodecAdpcmImaQt, "adpcm_ima_qt", Fidelity::Lossy},
    {kCodecAdpcmG726, "adpcm_g726", Fidelity::Lossy},
    {kCodecAdpcmYamaha, "adpcm_yamaha", Fidelity::Lossy},
    {kCodecGsm, "gsm", Fidelity::Lossy},
    {kCodecGsmMs, "gsm_ms", Fidelity::Lossy},
    {kCodecOpus, "opus", Fidelity::Lossy, 48000},
};

const CodecExpectation* ExpectationFor(int id) {
    for (const auto& e : kExpectations)
        if (e.id == id) return &e;
    return nullptr;
}

// What ffprobe calls each muxer's output, and the MP4 family's brand.
struct ContainerExpectation {
    const char* container;
    const char* formatName;
    const char* brand;  // major_brand of the MP4 family, else null
};

constexpr ContainerExpectation kContainers[] = {
    {"3g2", "mov,mp4,m4a,3gp,3g2,mj2", "3g2a"},
    {"3gp", "mov,mp4,m4a,3gp,3g2,mj2", "3gp4"},
    {"ipod", "mov,mp4,m4a,3gp,3g2,mj2", "M4A "},
    {"mp4", "mov,mp4,m4a,3gp,3g2,mj2", "isom"},
    {"mov", "mov,mp4,m4a,3gp,3g2,mj2", "qt  "},
    {"adts", "aac", nullptr},
    {"ac3", "ac3", nullptr},
    {"aiff", "aiff", nullptr},
    {"au", "au", nullptr},
    {"avi", "avi", nullptr},
    {"flac", "flac", nullptr},
    {"flv", "flv", nullptr},
    {"matroska", "matroska,webm", nullptr},
    {"mmf", "mmf", nullptr},
    {"mp2", "mp3", nullptr},
    {"mp3", "mp3", nullptr},
    {"mpeg", "mpeg", nullptr},
    {"ogg", "ogg", nullptr},
    {"opus", "ogg", nullptr},
    {"swf", "swf", nullptr},
    {"voc", "voc", nullptr},
    {"wav", "wav", nullptr},
};

const ContainerExpectation* ContainerFor(const std::string& c) {
    for (const auto& e : kContainers)
        if (c == e.container) return &e;
    return nullptr;
}

// Containers whose files keep text tags that ffprobe reads back. 3GP and
// 3G2 keep them in 3GPP user-data boxes that ffprobe does not show, so
// those are looked up in the file bytes.
bool TagsReadableByProbe(const std::string& c) {
    for (const char* x : {"ipod", "mp4", "mov", "avi", "flac", "matroska", "mp3", "ogg", "opus"})
        if (c == x) return true;
    return false;
}
bool TagsIn3gppBoxes(const std::string& c) { return c == "3gp" || c == "3g2"; }

int Snap(int value, std::span<const int> list) {
    if (list.empty()) return value;
    int best = list[0];
    for (int v : list)
        if (std::abs(v - value) < std::abs(best - value)) best = v;
    return best;
}

// The automatic bit rate the conversion engine asks for at a rate and
// channel count.
int SuggestedBitrate(int rate, int channels) {
    struct Row {
        int upTo, mono, stereo;
    };
    constexpr Row rows[] = {{11025, 24000, 48000}, {12000, 24000, 48000}, {16000, 32000, 56000},
                            {22050, 48000, 64000}, {24000, 48000, 64000}, {32000, 64000, 96000},
                            {44100, 96000, 128000}};
    for (const Row& r : rows)
        if (rate <= r.upTo) return channels == 1 ? r.mono : r.stereo;
    return channels == 1 ? 128000 : 192000;
}

int AdjustToMask(int channels, int mask) {
    if (channels == 2 && !(mask & kChannelMaskStereo)) return 1;
    if (channels == 1 && !(mask & kChannelMaskMono)) return 2;
    return channels;
}

struct MatrixCase {
    int code;
    std::string ext, container;
    int codecId;
    int rate, channels, bitrate;
    std::string name;
};

void PrintTo(const MatrixCase& c, std::ostream* os) { *os << c.name; }

std::vector<MatrixCase> BuildCases() {
    std::vector<MatrixCase> cases;
    for (const OutputFormatEntry& e : BuildFormatCatalogue()) {
        if (SelectWriter(e) != WriterKind::FFmpeg) continue;
        for (size_t i = 0; i < e.codecs.size(); ++i) {
            const CodecEntry& c = *e.codecs[i];
            // The entry's own settings for its chosen codec, catalogue
            // defaults for the other codecs of the list.
            bool own = c.CodecID == e.CodecID && &c == FindCodec(e);
            int rate = Snap(own ? e.SampleRate : 44100, c.sampleRates);
            int ch = AdjustToMask(own ? e.Channels : 2, c.channelMask);
            int br = 0;
            if (!c.bitRates.empty()) {
                int want = own && e.BitRate ? e.BitRate : SuggestedBitrate(rate, ch);
                if (e.AutoEncParam) want = SuggestedBitrate(rate, ch);
                br = Snap(want, c.bitRates);
            }
            auto add = [&](int r, int n, int b, const char* tag) {
                std::ostringstream name;
                name << e.code << "_" << e.extension << "_" << std::hex << c.CodecID << std::dec
                     << "_" << r << "_" << n << "ch_" << tag;
                cases.push_back({e.code, e.extension, e.container, c.CodecID, r, n, b, name.str()});
            };
            add(rate, ch, br, "default");

            // Another rate of the list and the other channel count.
            int altRate =
                c.sampleRates.front() != rate ? c.sampleRates.front() : c.sampleRates.back();
            int altCh = AdjustToMask(3 - ch, c.channelMask);
            int altBr = 0;
            if (!c.bitRates.empty())
                altBr = c.bitRates.back() < 100
                            ? c.bitRates[1]  // G.726 bits
                            : Snap(SuggestedBitrate(altRate, altCh), c.bitRates);
            if (altRate != rate || altCh != ch || altBr != br) add(altRate, altCh, altBr, "other");
        }
    }
    return cases;
}

std::map<std::string, std::string> ProbeAll(const std::string& path) {
    std::string out;
    Run("ffprobe -v error -select_streams a:0 -show_entries "
        "stream=codec_name,sample_rate,channels:format=format_name:"
        "format_tags:stream_tags -of default=nw=1 " +
            Quote(path) + " 2>/dev/null",
        &out);
    std::map<std::string, std::string> fields;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        fields.emplace(line.substr(0, eq), line.substr(eq + 1));
    }
    return fields;
}

bool Contains(const std::vector<uint8_t>& bytes, const std::string& what) {
    const std::string text(bytes.begin(), bytes.end());
    return text.find(what) != std::string::npos;
}

const std::string kTitle = "测试标题 Überschrift";

class FFmpegWriterMatrix : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(FFmpegWriterMatrix, WritesTheEntryWithEachCodec) {
    const MatrixCase& mc = GetParam();
    const CodecExpectation* codec = ExpectationFor(mc.codecId);
    const ContainerExpectation* container = ContainerFor(mc.container);
    ASSERT_NE(codec, nullptr);
    ASSERT_NE(container, nullptr);

    TempDir dir;
    const std::string path = dir.file("out." + mc.ext);
    const int frames = mc.rate / 2;  // half a second
    std::vector<int16_t> signal = Sine(frames, mc.channels, mc.rate, 440.0);
    int frameSize = 0;
    {
        CFFmpegWriter w;
        FFmpegCodecParams params{mc.container, mc.codecId};
        w.SetCodecParams(params);
        w.SetSampleRate(mc.rate);
        w.SetChannels(mc.channels);
        w.SetBitrate(mc.bitrate);
        w.SetTags({.title = kTitle,
                   .artist = "Artist",
                   .album = "Album",
                   .year = "2024",
                   .genre = "Genre",
                   .comment = "Comment",
                   .track = "3",
                   .composer = "Composer",
                   .copyright = "Copyright"});
        w.SetFileName(path);
        ASSERT_EQ(w.Open(), 1) << w.GetLastError();
        frameSize = w.GetFrameSize();
        std::vector<int16_t> l(kBlockFrames), r(kBlockFrames);
        for (int done = 0; done < frames;) {
            int n = std::min(kBlockFrames, frames - done);
            for (int i = 0; i < n; ++i) {
                l[i] = signal[static_cast<size_t>(done + i) * mc.channels];
                if (mc.channels == 2) r[i] = signal[static_cast<size_t>(done + i) * 2 + 1];
            }
            ASSERT_EQ(WriteInt16(w, l.data(), mc.channels == 2 ? r.data() : nullptr, n), 1);
            done += n;
        }
        w.Close();
    }

    // ffprobe and the decoding run side by side.
    auto probing = std::async(std::launch::async, ProbeAll, path);
    std::vector<int16_t> decoded = DecodeWithFfmpeg(path);
    auto probe = probing.get();
    EXPECT_EQ(probe["codec_name"], codec->probeName);
    EXPECT_EQ(probe["format_name"], container->formatName);
    if (container->brand) {
        EXPECT_EQ(probe["TAG:major_brand"], container->brand);
    }
    EXPECT_EQ(probe["channels"], std::to_string(mc.channels));
    const int probedRate = std::atoi(probe["sample_rate"].c_str());
    if (codec->decodedRate != 0) {
        EXPECT_EQ(probedRate, codec->decodedRate);
    } else if (mc.container == "voc" && mc.codecId == kCodecPcmU8) {
        // VOC keeps 8-bit rates as a time constant: 22050 Hz reads as 22222.
        EXPECT_NEAR(probedRate, mc.rate, mc.rate / 50);
    } else {
        EXPECT_EQ(probedRate, mc.rate);
    }

    // Tags reach the containers that keep them and no other.
    const std::vector<uint8_t> bytes = ReadFile(path);
    if (TagsReadableByProbe(mc.container)) {
        EXPECT_EQ(probe["TAG:title"], kTitle);
    } else if (TagsIn3gppBoxes(mc.container)) {
        EXPECT_TRUE(Contains(bytes, "titl"));
        EXPECT_TRUE(Contains(bytes, kTitle));
    } else {
        EXPECT_EQ(probe.count("TAG:title"), 0u);
        EXPECT_FALSE(Contains(bytes, kTitle));
    }

    // Length and content as decoded by ffmpeg.
    ASSERT_FALSE(decoded.empty());
    const long decodedFrames = static_cast<long>(decoded.size()) / mc.channels;
    switch (codec->fidelity) {
        case Fidelity::Exact: EXPECT_EQ(decoded, signal); break;
        case Fidelity::Unsigned8: {
            ASSERT_EQ(decoded.size(), signal.size());
            size_t bad = 0;
            for (size_t i = 0; i < signal.size(); ++i)
                if (decoded[i] != static_cast<int16_t>((signal[i] >> 8) * 256)) ++bad;
            EXPECT_EQ(bad, 0u);
            break;
        }
        case Fidelity::Lossy:
            // At most one encoder frame of padding, plus the encoder's start-up
            // delay where the container cannot say that it must be skipped.
            // (Vorbis in Ogg may end half a short block early.)
            if (codec->decodedRate != 0) {
                // Decoded at its own rate: exactly the samples written, at that rate.
                EXPECT_EQ(decodedFrames, static_cast<long>(frames) * codec->decodedRate / mc.rate);
                break;
            }
            EXPECT_GE(decodedFrames, frames - std::max(frameSize, 128));
            EXPECT_LE(decodedFrames, frames + 2 * std::max(frameSize, 1152));
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, FFmpegWriterMatrix, ::testing::ValuesIn(BuildCases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
