// Wide delivery of the AIFF and AU readers: 24-bit and float samples at
// their depth, every channel in the default layout, and 16-bit blocks equal
// to Read's.
#include "decoders/AiffReader.h"
#include "decoders/AuReader.h"

#include "support/ReaderSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>

using namespace quelvox;
using namespace testsupport;

namespace {

using Bytes = std::vector<uint8_t>;

struct Wide {
    std::vector<std::vector<float>> planes;
    uint64_t layout = 0;
    int bits = 0;
};

Wide ReadWide(CAudioReader& r) {
    Wide w;
    w.bits = r.GetSourceBits();
    w.planes.resize(static_cast<size_t>(r.GetBlockChannels()));
    AudioBlock b;
    while (r.ReadBlock(b) > 0) {
        w.layout = b.Layout();
        EXPECT_EQ(b.SourceBits(), w.bits);
        EXPECT_EQ(static_cast<size_t>(b.Channels()), w.planes.size());
        for (size_t c = 0; c < w.planes.size(); ++c)
            w.planes[c].insert(w.planes[c].end(), b.Channel(static_cast<int>(c)),
                               b.Channel(static_cast<int>(c)) + b.frames);
    }
    return w;
}

// Stereo samples of `bits` bits that use their low byte.
std::vector<int32_t> FineSamples(int frames, int bits) {
    std::vector<int32_t> v;
    const int64_t span = (int64_t{1} << bits) - 1001;
    for (int i = 0; i < frames * 2; ++i)
        v.push_back(
            static_cast<int32_t>((static_cast<int64_t>(i) * 7919 * 2039) % span - span / 2));
    return v;
}

std::vector<int32_t> AsIntegers(const Wide& w, int bits) {
    std::vector<int32_t> v;
    for (size_t i = 0; i < w.planes[0].size(); ++i)
        for (const auto& p : w.planes) v.push_back(FloatToInt(p[i], bits));
    return v;
}

std::vector<float> StereoFloats(int frames) {
    std::vector<float> v;
    for (int i = 0; i < frames * 2; ++i)
        v.push_back(std::sin(static_cast<float>(i) * 0.01f) * 1.25f + 1.0f / 3.0f / 65536.0f);
    return v;
}

// Six channels of 16-bit samples, channel c holding 1000 * (c + 1).
std::vector<int16_t> SixConstants(int frames) {
    std::vector<int16_t> v;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < 6; ++c) v.push_back(static_cast<int16_t>(1000 * (c + 1)));
    return v;
}

void ExpectSixConstants(const Wide& w, int frames) {
    EXPECT_EQ(w.bits, 16);
    ASSERT_EQ(w.planes.size(), 6u);
    EXPECT_EQ(w.layout, DefaultLayout(6));
    for (size_t c = 0; c < 6; ++c) {
        ASSERT_EQ(w.planes[c].size(), static_cast<size_t>(frames));
        for (float v : w.planes[c])
            ASSERT_EQ(v, Int16ToFloat(static_cast<int16_t>(1000 * (c + 1))));
    }
}

// What Read gives against the blocks of a second reader of the same file.
template <class Reader>
void ExpectBlocksHoldReadsSamples(const std::string& path) {
    Reader a, b;
    ASSERT_TRUE(a.Open(path, 0));
    ASSERT_TRUE(b.Open(path, 0));
    const Decoded narrow = ReadAll(a);
    const Wide wide = ReadWide(b);
    EXPECT_EQ(wide.bits, 16);
    ASSERT_EQ(wide.planes.size(), 2u);
    std::vector<int16_t> l, r;
    for (float v : wide.planes[0]) l.push_back(FloatToInt16(v));
    for (float v : wide.planes[1]) r.push_back(FloatToInt16(v));
    EXPECT_FALSE(l.empty());
    EXPECT_EQ(l, narrow.left);
    EXPECT_EQ(r, narrow.right);
}

// ---------------------------------------------------------------------------
// AIFF files by hand.

using Ext80 = std::array<uint8_t, 10>;

Ext80 Rate44100() {
    Ext80 e{};
    int exp2 = 0;
    const double m = std::frexp(44100.0, &exp2);
    const auto exponent = static_cast<uint16_t>(exp2 - 1 + 16383);
    const auto mantissa = static_cast<uint64_t>(std::ldexp(m, 64));
    e[0] = static_cast<uint8_t>(exponent >> 8);
    e[1] = static_cast<uint8_t>(exponent);
    for (int i = 0; i < 8; ++i) e[2 + i] = static_cast<uint8_t>(mantissa >> (56 - 8 * i));
    return e;
}

// A FORM with COMM and SSND; `type` empty makes plain AIFF.
Bytes Aiff(int channels, int bits, const Bytes& data, const std::string& type = "") {
    const int sampleBytes = type == "fl32" ? 4 : (bits + 7) / 8;
    Bytes comm;
    PutBe16(comm, static_cast<uint16_t>(channels));
    PutBe32(comm, static_cast<uint32_t>(data.size() / static_cast<size_t>(channels * sampleBytes)));
    PutBe16(comm, static_cast<uint16_t>(bits));
    const Ext80 rate = Rate44100();
    comm.insert(comm.end(), rate.begin(), rate.end());
    if (!type.empty()) {
        comm.insert(comm.end(), type.begin(), type.end());
        comm.push_back(0);
        comm.push_back(0);
    }
    Bytes v = {'F', 'O', 'R', 'M', 0, 0, 0, 0};
    const std::string form = type.empty() ? "AIFF" : "AIFC";
    v.insert(v.end(), form.begin(), form.end());
    v.insert(v.end(), {'C', 'O', 'M', 'M'});
    PutBe32(v, static_cast<uint32_t>(comm.size()));
    v.insert(v.end(), comm.begin(), comm.end());
    v.insert(v.end(), {'S', 'S', 'N', 'D'});
    PutBe32(v, static_cast<uint32_t>(data.size() + 8));
    PutBe32(v, 0);
    PutBe32(v, 0);
    v.insert(v.end(), data.begin(), data.end());
    const auto size = static_cast<uint32_t>(v.size() - 8);
    for (int i = 0; i < 4; ++i)
        v[static_cast<size_t>(4 + i)] = static_cast<uint8_t>(size >> (24 - 8 * i));
    return v;
}

TEST(AiffReaderWide, DepthChannelsAndSixteenBitSamples) {
    TempDir dir;
    {
        SCOPED_TRACE("24-bit");
        const std::vector<int32_t> s = FineSamples(3000, 24);
        Bytes data;
        for (int32_t x : s)
            for (int b = 2; b >= 0; --b) data.push_back(static_cast<uint8_t>(x >> (8 * b)));
        WriteFile(dir.file("hi.aiff"), Aiff(2, 24, data));
        CAiffReader r;
        ASSERT_TRUE(r.Open(dir.file("hi.aiff"), 0));
        const Wide w = ReadWide(r);
        EXPECT_EQ(w.bits, 24);
        EXPECT_EQ(w.layout, channel::kStereo);
        EXPECT_TRUE(AsIntegers(w, 24) == s);
    }
    {
        SCOPED_TRACE("float");
        const std::vector<float> s = StereoFloats(3000);
        Bytes data;
        for (float x : s) {
            uint32_t u;
            std::memcpy(&u, &x, sizeof u);
            PutBe32(data, u);
        }
        WriteFile(dir.file("f.aifc"), Aiff(2, 32, data, "fl32"));
        CAiffReader r;
        ASSERT_TRUE(r.Open(dir.file("f.aifc"), 0));
        const Wide w = ReadWide(r);
        EXPECT_EQ(w.bits, 32);
        ASSERT_EQ(w.planes.size(), 2u);
        std::vector<float> got;
        for (size_t i = 0; i < w.planes[0].size(); ++i)
            for (const auto& p : w.planes) got.push_back(p[i]);
        EXPECT_TRUE(got == s);
    }
    {
        SCOPED_TRACE("24-bit DWVW, three channels");
        std::vector<int32_t> s = FineSamples(4500, 24);
        s.resize(3 * 3000);
        std::vector<int> justified;
        for (int32_t x : s) justified.push_back(static_cast<int>(static_cast<uint32_t>(x) << 8));
        // libsndfile writes DWVW for one channel; several channels are one
        // bit stream of the interleaved samples, so the mono file of them
        // with three channels in its COMM chunk is the three-channel file.
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 1;
        info.format = SF_FORMAT_AIFF | SF_FORMAT_DWVW_24;
        SNDFILE* f = sf_open(dir.file("d.aifc").c_str(), SFM_WRITE, &info);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(sf_write_int(f, justified.data(), 9000), 9000);
        sf_close(f);
        Bytes file = ReadFile(dir.file("d.aifc"));
        const Bytes comm = {'C', 'O', 'M', 'M'};
        const auto at = static_cast<size_t>(
            std::search(file.begin(), file.end(), comm.begin(), comm.end()) - file.begin() + 8);
        ASSERT_LT(at + 6, file.size());
        file[at + 1] = 3;
        for (int i = 0; i < 4; ++i)
            file[at + 2 + static_cast<size_t>(i)] = static_cast<uint8_t>(3000u >> (24 - 8 * i));
        WriteFile(dir.file("d.aifc"), file);
        CAiffReader r;
        ASSERT_TRUE(r.Open(dir.file("d.aifc"), 0));
        const Wide w = ReadWide(r);
        EXPECT_EQ(w.bits, 24);
        ASSERT_EQ(w.planes.size(), 3u);
        EXPECT_EQ(w.layout, DefaultLayout(3));
        EXPECT_TRUE(AsIntegers(w, 24) == s);
    }
    {
        SCOPED_TRACE("six channels");
        Bytes data;
        for (int16_t x : SixConstants(2000)) PutBe16(data, static_cast<uint16_t>(x));
        WriteFile(dir.file("six.aiff"), Aiff(6, 16, data));
        CAiffReader r;
        ASSERT_TRUE(r.Open(dir.file("six.aiff"), 0));
        ExpectSixConstants(ReadWide(r), 2000);
    }
    {
        SCOPED_TRACE("16-bit stereo");
        Bytes data;
        for (int16_t x : Sine(5000, 2, 44100, 440.0)) PutBe16(data, static_cast<uint16_t>(x));
        WriteFile(dir.file("s.aiff"), Aiff(2, 16, data));
        ExpectBlocksHoldReadsSamples<CAiffReader>(dir.file("s.aiff"));
    }
}

// ---------------------------------------------------------------------------
// AU files by hand (big-endian).

Bytes Au(uint32_t encoding, int channels, const Bytes& data) {
    Bytes v = {0x2E, 0x73, 0x6E, 0x64};
    for (uint32_t x : {24u, static_cast<uint32_t>(data.size()), encoding, 44100u,
                       static_cast<uint32_t>(channels)})
        PutBe32(v, x);
    v.insert(v.end(), data.begin(), data.end());
    return v;
}

TEST(AuReaderWide, DepthChannelsAndSixteenBitSamples) {
    TempDir dir;
    {
        SCOPED_TRACE("32-bit");
        const std::vector<int32_t> s = FineSamples(3000, 32);
        Bytes data;
        for (int32_t x : s) PutBe32(data, static_cast<uint32_t>(x));
        WriteFile(dir.file("hi.au"), Au(5, 2, data));
        CAuReader r;
        ASSERT_TRUE(r.Open(dir.file("hi.au"), 0));
        const Wide w = ReadWide(r);
        EXPECT_EQ(w.bits, 32);
        EXPECT_EQ(w.layout, channel::kStereo);
        ASSERT_EQ(w.planes[0].size(), s.size() / 2);
        for (size_t i = 0; i < s.size(); ++i)
            ASSERT_EQ(w.planes[i % 2][i / 2], IntToFloat(s[i], 32)) << i;
    }
    {
        SCOPED_TRACE("24-bit");
        const std::vector<int32_t> s = FineSamples(3000, 24);
        Bytes data;
        for (int32_t x : s)
            for (int b = 2; b >= 0; --b) data.push_back(static_cast<uint8_t>(x >> (8 * b)));
        WriteFile(dir.file("hi24.au"), Au(4, 2, data));
        CAuReader r;
        ASSERT_TRUE(r.Open(dir.file("hi24.au"), 0));
        const Wide w = ReadWide(r);
        EXPECT_EQ(w.bits, 24);
        EXPECT_TRUE(AsIntegers(w, 24) == s);
    }
    {
        SCOPED_TRACE("double");
        const std::vector<float> s = StereoFloats(3000);
        Bytes data;
        for (float x : s) {
            const double d = x;
            uint64_t u;
            std::memcpy(&u, &d, sizeof u);
            PutBe32(data, static_cast<uint32_t>(u >> 32));
            PutBe32(data, static_cast<uint32_t>(u));
        }
        WriteFile(dir.file("d.au"), Au(7, 2, data));
        CAuReader r;
        ASSERT_TRUE(r.Open(dir.file("d.au"), 0));
        const Wide w = ReadWide(r);
        EXPECT_EQ(w.bits, 32);
        std::vector<float> got;
        for (size_t i = 0; i < w.planes[0].size(); ++i)
            for (const auto& p : w.planes) got.push_back(p[i]);
        EXPECT_TRUE(got == s);
    }
    {
        SCOPED_TRACE("six channels");
        Bytes data;
        for (int16_t x : SixConstants(2000)) PutBe16(data, static_cast<uint16_t>(x));
        WriteFile(dir.file("six.au"), Au(3, 6, data));
        CAuReader r;
        ASSERT_TRUE(r.Open(dir.file("six.au"), 0));
        ExpectSixConstants(ReadWide(r), 2000);
    }
    {
        SCOPED_TRACE("16-bit stereo and G.721 stereo");
        Bytes data;
        for (int16_t x : Sine(5000, 2, 44100, 440.0)) PutBe16(data, static_cast<uint16_t>(x));
        WriteFile(dir.file("s.au"), Au(3, 2, data));
        ExpectBlocksHoldReadsSamples<CAuReader>(dir.file("s.au"));
        // Any bytes are valid ADPCM codes.
        Bytes codes;
        for (int i = 0; i < 9000; ++i) codes.push_back(static_cast<uint8_t>(i * 37 + i / 7));
        WriteFile(dir.file("g721.au"), Au(23, 2, codes));
        ExpectBlocksHoldReadsSamples<CAuReader>(dir.file("g721.au"));
    }
}

}  // namespace
