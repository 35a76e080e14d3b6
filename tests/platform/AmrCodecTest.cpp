#include "platform/amr/AmrCodec.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

using namespace quelvox::amr;
using namespace testsupport;

namespace {

// A voiced, speech-like signal so that the codecs code real speech frames.
std::vector<int16_t> Voice(int samples, int rate) {
    return testsupport::Voice(samples, rate, 140, 40, 1.7, 12, 4000);
}

struct DecodeResult {
    std::vector<int16_t> samples;
    std::vector<uint64_t> positions;  // after each frame
    int frames = 0;
};

DecodeResult DecodeAll(const std::string& path, bool wide) {
    DecodeResult r;
    AmrDecoder* d = wide ? amrwbdec_init(path.c_str()) : amrnbdec_init(path.c_str());
    if (!d) return r;
    for (int guard = 0; guard < 100000; ++guard) {
        const int16_t* s = nullptr;
        uint64_t pos = 0;
        int n = wide ? amrwbdec_decode(d, &s, &pos) : amrnbdec_decode(d, &s, &pos);
        if (n <= 0) break;
        r.samples.insert(r.samples.end(), s, s + n);
        r.positions.push_back(pos);
        ++r.frames;
    }
    // The end is sticky.
    EXPECT_EQ(wide ? amrwbdec_decode(d, nullptr, nullptr) : amrnbdec_decode(d, nullptr, nullptr),
              0);
    if (wide)
        amrwbdec_quit(d);
    else
        amrnbdec_quit(d);
    return r;
}

// Encodes `frames` frames of voice; returns the bytes each call appended.
std::vector<int> Encode(const std::string& path, bool wide, int dtx, int mode, int frames) {
    std::vector<int> sizes;
    const int fs = wide ? kWbFrameSamples : kNbFrameSamples;
    auto voice = Voice(fs * frames, wide ? 16000 : 8000);
    AmrEncoder* e =
        wide ? amrwbenc_init(path.c_str(), dtx, mode) : amrnbenc_init(path.c_str(), dtx, mode);
    if (!e) return sizes;
    for (int i = 0; i < frames; ++i) {
        sizes.push_back(wide ? amrwbenc_encode(e, voice.data() + i * fs)
                             : amrnbenc_encode(e, voice.data() + i * fs));
    }
    if (wide)
        amrwbenc_quit(e);
    else
        amrnbenc_quit(e);
    return sizes;
}

std::vector<uint8_t> Bytes(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

}  // namespace

// Every speech mode writes frames of the size the frame-type table gives,
// tagged with that mode, and the file decodes back frame by frame with the
// reported positions walking over exactly those bytes.
TEST(AmrCodec, EveryModeWritesFramesOfItsTableSize) {
    TempDir dir;
    for (bool wide : {false, true}) {
        const int modes = wide ? kWbModeCount : kNbModeCount;
        for (int mode = 0; mode < modes; ++mode) {
            SCOPED_TRACE((wide ? "WB mode " : "NB mode ") + std::to_string(mode));
            std::string path = dir.file("m.amr");
            auto sizes = Encode(path, wide, 0, mode, 10);
            ASSERT_EQ(sizes.size(), 10u);
            const int expected = 1 + (wide ? WbFrameDataSize(mode) : NbFrameDataSize(mode));
            for (int s : sizes) EXPECT_EQ(s, expected);

            auto bytes = ReadFile(path);
            const size_t magic = wide ? kWbMagicSize : kNbMagicSize;
            ASSERT_EQ(bytes.size(), magic + 10u * expected);
            EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + magic),
                      wide ? kWbMagic : kNbMagic);
            for (int f = 0; f < 10; ++f) {
                EXPECT_EQ((bytes[magic + f * expected] >> 3) & 0x0F, mode);
            }

            auto dec = DecodeAll(path, wide);
            EXPECT_EQ(dec.frames, 10);
            EXPECT_EQ(dec.samples.size(), 10u * (wide ? kWbFrameSamples : kNbFrameSamples));
            ASSERT_FALSE(dec.positions.empty());
            EXPECT_EQ(dec.positions.front(), magic + expected);
            EXPECT_EQ(dec.positions.back(), bytes.size());
        }
    }
}

TEST(AmrCodec, SizesOfSilenceAndInvalidFrameTypes) {
    EXPECT_EQ(NbFrameDataSize(kNbSidFrameType), 5);
    EXPECT_EQ(WbFrameDataSize(kWbSidFrameType), 5);
    EXPECT_EQ(NbFrameDataSize(kNoDataFrameType), 0);
    EXPECT_EQ(WbFrameDataSize(kNoDataFrameType), 0);
    EXPECT_EQ(WbFrameDataSize(kWbSpeechLostFrameType), 0);
    for (int ft = 9; ft <= 14; ++ft) EXPECT_EQ(NbFrameDataSize(ft), -1) << ft;
    for (int ft = 10; ft <= 13; ++ft) EXPECT_EQ(WbFrameDataSize(ft), -1) << ft;
    EXPECT_EQ(NbFrameDataSize(-1), -1);
    EXPECT_EQ(WbFrameDataSize(16), -1);
}

TEST(AmrCodec, DtxWritesSilenceDescriptorsAndNoDataFramesThatDecode) {
    TempDir dir;
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "WB" : "NB");
        const int fs = wide ? kWbFrameSamples : kNbFrameSamples;
        std::string path = dir.file("dtx.amr");
        AmrEncoder* e =
            wide ? amrwbenc_init(path.c_str(), 1, 2) : amrnbenc_init(path.c_str(), 1, 7);
        ASSERT_NE(e, nullptr);
        std::vector<int16_t> silence(static_cast<size_t>(fs), 0);
        int small = 0;
        for (int i = 0; i < 50; ++i) {
            int n = wide ? amrwbenc_encode(e, silence.data()) : amrnbenc_encode(e, silence.data());
            ASSERT_GT(n, 0);
            if (n <= 6) ++small;  // SID (1 + 5 bytes) or NO_DATA (1 byte)
        }
        if (wide)
            amrwbenc_quit(e);
        else
            amrnbenc_quit(e);
        EXPECT_GT(small, 30);

        auto bytes = ReadFile(path);
        const size_t magic = wide ? kWbMagicSize : kNbMagicSize;
        bool sawNoData = false, sawSid = false;
        for (size_t p = magic; p < bytes.size();) {
            int ft = (bytes[p] >> 3) & 0x0F;
            sawNoData |= ft == kNoDataFrameType;
            sawSid |= ft == (wide ? kWbSidFrameType : kNbSidFrameType);
            int size = wide ? WbFrameDataSize(ft) : NbFrameDataSize(ft);
            ASSERT_GE(size, 0);
            p += 1 + static_cast<size_t>(size);
        }
        EXPECT_TRUE(sawNoData);
        EXPECT_TRUE(sawSid);
        // Every frame, silent ones included, decodes to a full frame.
        EXPECT_EQ(DecodeAll(path, wide).samples.size(), 50u * fs);
    }
}

TEST(AmrCodec, HandBuiltNoDataAndSpeechLostFramesDecodeToFullFrames) {
    TempDir dir;
    std::string nb = dir.file("nodata.amr");
    WriteFile(nb, std::string(kNbMagic) + "\x7C\x7C\x7C");
    auto d = DecodeAll(nb, false);
    EXPECT_EQ(d.samples.size(), 3u * kNbFrameSamples);
    EXPECT_EQ(d.positions, (std::vector<uint64_t>{7, 8, 9}));

    std::string wb = dir.file("nodata.awb");
    WriteFile(wb, std::string(kWbMagic) + "\x7C\x74\x7C");  // NO_DATA, SPEECH_LOST
    d = DecodeAll(wb, true);
    EXPECT_EQ(d.samples.size(), 3u * kWbFrameSamples);
    EXPECT_EQ(d.positions, (std::vector<uint64_t>{10, 11, 12}));
}

TEST(AmrCodec, MagicDecidesWhichDecoderOpens) {
    TempDir dir;
    std::string nb = dir.file("a.amr"), wb = dir.file("a.awb");
    ASSERT_EQ(Encode(nb, false, 0, 4, 3).size(), 3u);
    ASSERT_EQ(Encode(wb, true, 0, 4, 3).size(), 3u);

    AmrDecoder* d = amrwbdec_init(nb.c_str());
    EXPECT_EQ(d, nullptr);
    d = amrnbdec_init(wb.c_str());  // "#!AMR-" is not "#!AMR\n"
    EXPECT_EQ(d, nullptr);

    WriteFile(dir.file("riff.wav"), std::string("RIFF\0\0\0\0WAVEfmt ", 16));
    WriteFile(dir.file("short.amr"), std::string("#!AM"));
    WriteFile(dir.file("empty.amr"), std::string());
    for (const char* name : {"riff.wav", "short.amr", "empty.amr", "missing.amr"}) {
        EXPECT_EQ(amrnbdec_init(dir.file(name).c_str()), nullptr) << name;
        EXPECT_EQ(amrwbdec_init(dir.file(name).c_str()), nullptr) << name;
    }
    EXPECT_EQ(amrnbdec_init(nullptr), nullptr);

    // A narrow-band handle is no wide-band handle.
    d = amrnbdec_init(nb.c_str());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(amrwbdec_decode(d, nullptr, nullptr), -1);
    EXPECT_EQ(amrnbdec_decode(d, nullptr, nullptr), kNbFrameSamples);
    amrnbdec_quit(d);
    EXPECT_EQ(amrnbdec_decode(nullptr, nullptr, nullptr), -1);
    amrnbdec_quit(nullptr);  // harmless
}

// A frame type that a storage file may not hold leaves the rest of the file
// unparseable: the stream ends there, after the frames before it.
TEST(AmrCodec, InvalidFrameTypeEndsTheStream) {
    TempDir dir;
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "WB" : "NB");
        std::string path = dir.file("bad.amr");
        ASSERT_EQ(Encode(path, wide, 0, 1, 4).size(), 4u);
        auto bytes = ReadFile(path);
        const size_t magic = wide ? kWbMagicSize : kNbMagicSize;
        const size_t frame =
            1 + static_cast<size_t>(wide ? WbFrameDataSize(1) : NbFrameDataSize(1));
        // Third frame gets type 12 (reserved in both codecs).
        bytes[magic + 2 * frame] = static_cast<uint8_t>((12 << 3) | 0x04);
        WriteFile(path, bytes);
        auto d = DecodeAll(path, wide);
        EXPECT_EQ(d.frames, 2);
        EXPECT_EQ(d.positions.back(), magic + 2 * frame);
    }
    std::string nb = dir.file("efr.amr");  // type 9 is not narrow-band AMR
    WriteFile(nb, std::string(kNbMagic) + "\x7C\x4C\x7C");
    EXPECT_EQ(DecodeAll(nb, false).frames, 1);
}

TEST(AmrCodec, FrameCutShortAtTheEndIsDropped) {
    TempDir dir;
    for (bool wide : {false, true}) {
        SCOPED_TRACE(wide ? "WB" : "NB");
        std::string path = dir.file("cut.amr");
        ASSERT_EQ(Encode(path, wide, 0, 7, 5).size(), 5u);
        auto bytes = ReadFile(path);
        for (size_t cut : {1u, 5u}) {
            std::vector<uint8_t> shorter(bytes.begin(), bytes.end() - cut);
            WriteFile(path, shorter);
            auto d = DecodeAll(path, wide);
            EXPECT_EQ(d.frames, 4) << cut;
        }
        // Magic only: no frames at all.
        WriteFile(path, std::vector<uint8_t>(bytes.begin(),
                                             bytes.begin() + (wide ? kWbMagicSize : kNbMagicSize)));
        EXPECT_EQ(DecodeAll(path, wide).frames, 0);
    }
}

// The padding bits around frame type and quality bit carry nothing: set,
// they leave the decoded audio unchanged.
TEST(AmrCodec, PaddingBitsOfTheHeaderByteAreIgnored) {
    TempDir dir;
    std::string clean = dir.file("clean.amr"), dirty = dir.file("dirty.amr");
    ASSERT_EQ(Encode(clean, false, 0, 5, 6).size(), 6u);
    auto bytes = ReadFile(clean);
    const size_t frame = 1 + static_cast<size_t>(NbFrameDataSize(5));
    for (size_t p = kNbMagicSize; p < bytes.size(); p += frame) bytes[p] |= 0x83;
    WriteFile(dirty, bytes);
    auto a = DecodeAll(clean, false), b = DecodeAll(dirty, false);
    EXPECT_EQ(a.frames, 6);
    EXPECT_EQ(a.samples, b.samples);
}

TEST(AmrCodec, EncoderRejectsBadModesAndPathsWithoutLeavingFiles) {
    TempDir dir;
    std::string path = dir.file("x.amr");
    EXPECT_EQ(amrnbenc_init(path.c_str(), 0, 8), nullptr);
    EXPECT_EQ(amrnbenc_init(path.c_str(), 0, -1), nullptr);
    EXPECT_EQ(amrwbenc_init(path.c_str(), 0, 9), nullptr);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(amrnbenc_init(dir.file("no/such/dir.amr").c_str(), 0, 0), nullptr);
    EXPECT_EQ(amrwbenc_init(nullptr, 0, 0), nullptr);

    AmrEncoder* e = amrwbenc_init(path.c_str(), 0, 8);
    ASSERT_NE(e, nullptr);
    std::vector<int16_t> frame(kWbFrameSamples, 0);
    EXPECT_EQ(amrnbenc_encode(e, frame.data()), -1);  // wrong kind of handle
    EXPECT_EQ(amrwbenc_encode(e, nullptr), -1);
    amrwbenc_quit(e);
    EXPECT_EQ(ReadFile(path), Bytes(kWbMagic));  // nothing appended
    EXPECT_EQ(amrnbenc_encode(nullptr, frame.data()), -1);
    amrnbenc_quit(nullptr);
}

// Handles share nothing: two decoders interleaved give what each gives alone.
TEST(AmrCodec, InterleavedHandlesAreIndependent) {
    TempDir dir;
    std::string a = dir.file("a.amr"), b = dir.file("b.amr");
    ASSERT_EQ(Encode(a, false, 0, 7, 20).size(), 20u);
    ASSERT_EQ(Encode(b, false, 1, 0, 20).size(), 20u);
    auto aloneA = DecodeAll(a, false).samples, aloneB = DecodeAll(b, false).samples;

    AmrDecoder* da = amrnbdec_init(a.c_str());
    AmrDecoder* db = amrnbdec_init(b.c_str());
    ASSERT_TRUE(da && db);
    std::vector<int16_t> ia, ib;
    const int16_t* s = nullptr;
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(amrnbdec_decode(da, &s, nullptr), kNbFrameSamples);
        ia.insert(ia.end(), s, s + kNbFrameSamples);
        ASSERT_EQ(amrnbdec_decode(db, &s, nullptr), kNbFrameSamples);
        ib.insert(ib.end(), s, s + kNbFrameSamples);
    }
    amrnbdec_quit(da);
    amrnbdec_quit(db);
    EXPECT_EQ(ia, aloneA);
    EXPECT_EQ(ib, aloneB);
}
