// Wide delivery of the AIFF and AU readers: 24-bit, 32-bit and float
// samples at their depth, every channel in the default layout, and 16-bit
// blocks on the 16-bit grid.
#include "decoders/AiffReader.h"
#include "decoders/AuReader.h"

#include "support/ReaderSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <bit>
#include <cmath>

using namespace quelvox;
using namespace testsupport;

namespace {

using Bytes = std::vector<uint8_t>;

// Float samples beyond full scale and below 16-bit steps, as their bits.
std::vector<float> FineFloats(int count, std::vector<int64_t>* doubleBits = nullptr,
                              std::vector<int32_t>* floatBits = nullptr) {
    std::vector<float> v;
    for (int i = 0; i < count; ++i) {
        v.push_back(std::sin(static_cast<float>(i) * 0.01f) * 1.25f + 1.0f / 3.0f / 65536.0f);
        if (doubleBits)
            doubleBits->push_back(std::bit_cast<int64_t>(static_cast<double>(v.back())));
        if (floatBits) floatBits->push_back(std::bit_cast<int32_t>(v.back()));
    }
    return v;
}

// Six channels of 16-bit samples, channel c holding 1000 * (c + 1).
std::vector<int32_t> SixConstants(int frames) {
    std::vector<int32_t> v;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < 6; ++c) v.push_back(1000 * (c + 1));
    return v;
}

// Reads both readers; the second (wide) must hold SixConstants.
void ExpectSixConstants(CAudioReader& r, int frames) {
    const DecodedWide w = ReadAllWide(r);
    EXPECT_EQ(w.bits, 16);
    EXPECT_EQ(w.layout, DefaultLayout(6));
    EXPECT_TRUE(InterleavedInts(w, 16) == SixConstants(frames));
}

// A plain AIFF (`type` empty) or an AIFF-C file of 44.1 kHz.
Bytes Aiff(int channels, int bits, const Bytes& data, const std::string& type = "") {
    const int sampleBytes = type == "fl32" ? 4 : (bits + 7) / 8;
    Bytes comm;
    PutBe16(comm, static_cast<uint16_t>(channels));
    PutBe32(comm, static_cast<uint32_t>(data.size() / static_cast<size_t>(channels * sampleBytes)));
    PutBe16(comm, static_cast<uint16_t>(bits));
    // 44100 as an 80-bit extended value.
    PutBe32(comm, 0x400EAC44);
    PutBe32(comm, 0);
    PutBe16(comm, 0);
    auto text = [](Bytes& to, const std::string& t) { to.insert(to.end(), t.begin(), t.end()); };
    if (!type.empty()) {
        text(comm, type);
        PutBe16(comm, 0);  // an empty name
    }
    Bytes v;
    text(v, "FORM");
    PutBe32(v, 0);
    text(v, type.empty() ? "AIFF" : "AIFC");
    text(v, "COMM");
    PutBe32(v, static_cast<uint32_t>(comm.size()));
    v.insert(v.end(), comm.begin(), comm.end());
    text(v, "SSND");
    PutBe32(v, static_cast<uint32_t>(data.size() + 8));
    PutBe32(v, 0);
    PutBe32(v, 0);
    v.insert(v.end(), data.begin(), data.end());
    const auto size = static_cast<uint32_t>(v.size() - 8);
    for (size_t i = 0; i < 4; ++i) v[4 + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
    return v;
}

// A big-endian AU file of 44.1 kHz.
Bytes Au(uint32_t encoding, int channels, const Bytes& data) {
    Bytes v;
    for (uint32_t x : {0x2E736E64u, 24u, static_cast<uint32_t>(data.size()), encoding, 44100u,
                       static_cast<uint32_t>(channels)})
        PutBe32(v, x);
    v.insert(v.end(), data.begin(), data.end());
    return v;
}

template <class Reader>
DecodedWide ReadFileWide(const std::string& path) {
    Reader r;
    EXPECT_TRUE(r.Open(path, 0)) << path;
    return ReadAllWide(r);
}

TEST(AiffReaderWide, DepthChannelsAndSixteenBitSamples) {
    TempDir dir;
    const std::vector<int32_t> fine = FineSamples(6000, 24);
    WriteFile(dir.file("hi.aiff"), Aiff(2, 24, PackSamples(fine, 3, true)));
    const DecodedWide hi = ReadFileWide<CAiffReader>(dir.file("hi.aiff"));
    EXPECT_EQ(hi.bits, 24);
    EXPECT_EQ(hi.layout, channel::kStereo);
    EXPECT_TRUE(InterleavedInts(hi, 24) == fine);

    std::vector<int32_t> floatBits;
    const std::vector<float> floats = FineFloats(6000, nullptr, &floatBits);
    WriteFile(dir.file("f.aifc"), Aiff(2, 32, PackSamples(floatBits, 4, true), "fl32"));
    const DecodedWide f = ReadFileWide<CAiffReader>(dir.file("f.aifc"));
    EXPECT_EQ(f.bits, 32);
    EXPECT_TRUE(InterleavedFloats(f) == floats);

    // 24-bit DWVW of three channels. libsndfile writes DWVW for one
    // channel; several channels are one bit stream of the interleaved
    // samples, so the mono file of them with three channels in its COMM
    // chunk is the three-channel file.
    std::vector<int> justified;
    for (int32_t x : fine) justified.push_back(static_cast<int>(static_cast<uint32_t>(x) << 8));
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 1;
    info.format = SF_FORMAT_AIFF | SF_FORMAT_DWVW_24;
    SNDFILE* sf = sf_open(dir.file("d.aifc").c_str(), SFM_WRITE, &info);
    ASSERT_NE(sf, nullptr);
    EXPECT_EQ(sf_write_int(sf, justified.data(), 6000), 6000);
    sf_close(sf);
    Bytes file = ReadFile(dir.file("d.aifc"));
    const Bytes comm = {'C', 'O', 'M', 'M'};
    const auto at = static_cast<size_t>(
        std::search(file.begin(), file.end(), comm.begin(), comm.end()) - file.begin() + 8);
    ASSERT_LT(at + 6, file.size());
    file[at + 1] = 3;
    for (size_t i = 0; i < 4; ++i) file[at + 2 + i] = static_cast<uint8_t>(2000u >> (24 - 8 * i));
    WriteFile(dir.file("d.aifc"), file);
    const DecodedWide d = ReadFileWide<CAiffReader>(dir.file("d.aifc"));
    EXPECT_EQ(d.bits, 24);
    EXPECT_EQ(d.layout, DefaultLayout(3));
    EXPECT_TRUE(InterleavedInts(d, 24) == fine);

    WriteFile(dir.file("six.aiff"), Aiff(6, 16, PackSamples(SixConstants(2000), 2, true)));
    CAiffReader six;
    ASSERT_TRUE(six.Open(dir.file("six.aiff"), 0));
    ExpectSixConstants(six, 2000);

    std::vector<int32_t> sine;
    for (int16_t x : Sine(5000, 2, 44100, 440.0)) sine.push_back(x);
    WriteFile(dir.file("s.aiff"), Aiff(2, 16, PackSamples(sine, 2, true)));
    CAiffReader a, b;
    ASSERT_TRUE(a.Open(dir.file("s.aiff"), 0) && b.Open(dir.file("s.aiff"), 0));
    ExpectSixteenBitStereoBlocks(a, b);
}

TEST(AuReaderWide, DepthChannelsAndSixteenBitSamples) {
    TempDir dir;
    const std::vector<int32_t> fine = FineSamples(6000, 32);
    WriteFile(dir.file("hi.au"), Au(5, 2, PackSamples(fine, 4, true)));
    const DecodedWide hi = ReadFileWide<CAuReader>(dir.file("hi.au"));
    EXPECT_EQ(hi.bits, 32);
    EXPECT_EQ(hi.layout, channel::kStereo);
    std::vector<float> want;
    for (int32_t s : fine) want.push_back(IntToFloat(s, 32));
    EXPECT_TRUE(InterleavedFloats(hi) == want);

    std::vector<int64_t> doubleBits;
    const std::vector<float> floats = FineFloats(6000, &doubleBits);
    Bytes data;
    for (int64_t x : doubleBits) {
        PutBe32(data, static_cast<uint32_t>(static_cast<uint64_t>(x) >> 32));
        PutBe32(data, static_cast<uint32_t>(x));
    }
    WriteFile(dir.file("d.au"), Au(7, 2, data));
    const DecodedWide d = ReadFileWide<CAuReader>(dir.file("d.au"));
    EXPECT_EQ(d.bits, 32);
    EXPECT_TRUE(InterleavedFloats(d) == floats);

    WriteFile(dir.file("six.au"), Au(3, 6, PackSamples(SixConstants(2000), 2, true)));
    CAuReader six;
    ASSERT_TRUE(six.Open(dir.file("six.au"), 0));
    ExpectSixConstants(six, 2000);

    // 16-bit PCM and G.721 ADPCM (any bytes are valid codes) in stereo.
    std::vector<int32_t> sine;
    for (int16_t x : Sine(5000, 2, 44100, 440.0)) sine.push_back(x);
    WriteFile(dir.file("s.au"), Au(3, 2, PackSamples(sine, 2, true)));
    Bytes codes;
    for (int i = 0; i < 9000; ++i) codes.push_back(static_cast<uint8_t>(i * 37 + i / 7));
    WriteFile(dir.file("g721.au"), Au(23, 2, codes));
    for (const char* name : {"s.au", "g721.au"}) {
        SCOPED_TRACE(name);
        CAuReader a, b;
        ASSERT_TRUE(a.Open(dir.file(name), 0) && b.Open(dir.file(name), 0));
        ExpectSixteenBitStereoBlocks(a, b);
    }
}

}  // namespace
