#include "decoders/AuReader.h"
#include "decoders/G711.h"
#include "common/SampleHelpers.h"
#include "support/BlockSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

using namespace quelvox;
using namespace testsupport;

namespace {

enum Magic { kSnd, kSndZero, kDnsLe, kDnsZeroLe };

// An AU header of 24 bytes (plus `pad` annotation bytes) in the byte order
// the magic stands for.
std::vector<uint8_t> Header(Magic magic, uint32_t offset, uint32_t size, uint32_t encoding,
                            uint32_t rate, uint32_t chans) {
    static const uint8_t kBytes[4][4] = {{0x2E, 0x73, 0x6E, 0x64},
                                         {0x2E, 0x73, 0x64, 0x00},
                                         {0x64, 0x6E, 0x73, 0x2E},
                                         {0x00, 0x64, 0x73, 0x2E}};
    std::vector<uint8_t> v(kBytes[magic], kBytes[magic] + 4);
    const bool be = magic == kSnd || magic == kSndZero;
    for (uint32_t x : {offset, size, encoding, rate, chans}) {
        if (be)
            PutBe32(v, x);
        else
            PutLe32(v, x);
    }
    v.resize(offset < 24 ? 24 : offset, 0);
    return v;
}

bool IsBigEndian(Magic m) { return m == kSnd || m == kSndZero; }

// Appends the low `bytes` bytes of x in the magic's byte order.
void PutSample(std::vector<uint8_t>& v, Magic m, uint64_t x, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        int shift = IsBigEndian(m) ? (bytes - 1 - i) * 8 : i * 8;
        v.push_back(static_cast<uint8_t>(x >> shift));
    }
}

struct Decoded {
    std::vector<int16_t> left, right;
    std::vector<int> blocks;  // frames of each block, final 0 included
};

// Reads to the end; the right buffer is only passed for stereo output, so a
// mono reader that touched it would crash.
Decoded ReadAll(CAuReader& r) {
    Decoded d;
    std::vector<int16_t> l(kBlockFrames), rt(kBlockFrames);
    const bool stereo = r.GetOutputChannels() == 2;
    for (;;) {
        int n = ReadInt16(r, l.data(), stereo ? rt.data() : nullptr);
        d.blocks.push_back(n);
        if (n <= 0) break;
        EXPECT_LE(n, kBlockFrames);
        d.left.insert(d.left.end(), l.begin(), l.begin() + n);
        if (stereo) d.right.insert(d.right.end(), rt.begin(), rt.begin() + n);
        if (d.blocks.size() > 100000) break;
    }
    return d;
}

Decoded OpenAndReadAll(const std::string& path) {
    CAuReader r;
    EXPECT_EQ(r.Open(path, 0), 1) << path;
    return ReadAll(r);
}

// Every sample of the first channel of the file's blocks, at the block's
// depth, with that depth.
std::vector<float> FirstChannelOfBlocks(const std::string& path, int* bits = nullptr) {
    CAuReader r;
    EXPECT_EQ(r.Open(path, 0), 1) << path;
    std::vector<float> v;
    AudioBlock block;
    while (r.ReadBlock(block) > 0) {
        v.insert(v.end(), block.Channel(0), block.Channel(0) + block.frames);
        if (bits) *bits = block.SourceBits();
    }
    return v;
}

// The first two block channels of a reader of more channels, each sample
// as its top 16 bits, and the frames of each block, final 0 included.
Decoded FirstTwoBlockChannels(CAuReader& r) {
    Decoded d;
    AudioBlock block;
    for (;;) {
        const int n = r.ReadBlock(block);
        d.blocks.push_back(n);
        if (n <= 0 || d.blocks.size() > 100000) break;
        EXPECT_GE(block.Channels(), 2);
        for (int i = 0; i < block.frames; ++i) {
            d.left.push_back(static_cast<int16_t>(std::floor(block.Channel(0)[i] * 32768.0)));
            d.right.push_back(static_cast<int16_t>(std::floor(block.Channel(1)[i] * 32768.0)));
        }
    }
    return d;
}

std::vector<int16_t> Interleaved(const Decoded& d) {
    if (d.right.empty()) return d.left;
    std::vector<int16_t> v;
    for (size_t i = 0; i < d.left.size(); ++i) {
        v.push_back(d.left[i]);
        v.push_back(d.right[i]);
    }
    return v;
}

std::vector<int16_t> RawS16(const std::string& path) {
    auto bytes = ReadFile(path);
    std::vector<int16_t> v(bytes.size() / 2);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return v;
}

// sox decodes AU G.711 and G.721/G.723 with its own decoders.
std::vector<int16_t> DecodeWithSox(const std::string& path) {
    const std::string out = path + ".sox.raw";
    if (testsupport::Run("sox -D " + Quote(path) + " -t s16 -e signed -L " + Quote(out) +
                         " 2>/dev/null") != 0)
        return {};
    return RawS16(out);
}

uint32_t Be32At(const std::vector<uint8_t>& v, size_t at) {
    return (uint32_t{v[at]} << 24) | (v[at + 1] << 16) | (v[at + 2] << 8) | v[at + 3];
}

// The little-endian twin of a big-endian AU file: same fields, magic
// "dns.", every field and every sample of `sampleBytes` bytes reversed.
std::vector<uint8_t> LittleEndianTwin(const std::vector<uint8_t>& be, int sampleBytes,
                                      Magic magic = kDnsLe) {
    const uint32_t offset = Be32At(be, 4);
    std::vector<uint8_t> v =
        Header(magic, offset, Be32At(be, 8), Be32At(be, 12), Be32At(be, 16), Be32At(be, 20));
    std::copy(be.begin() + 24, be.begin() + offset, v.begin() + 24);
    for (size_t i = offset; i + sampleBytes <= be.size(); i += sampleBytes)
        for (int b = sampleBytes - 1; b >= 0; --b) v.push_back(be[i + b]);
    return v;
}

void SetBe32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; ++i) v[at + i] = static_cast<uint8_t>(x >> (24 - 8 * i));
}

// A mono ADPCM file written by ffmpeg's G.726 encoder. ffmpeg labels every
// code width as encoding 23, so the field is set to the width's own value.
std::string MakeAdpcmAu(const TempDir& dir, const std::string& name, const std::string& source,
                        int bits) {
    const std::string path = dir.file(name);
    EXPECT_EQ(testsupport::Run("ffmpeg -v error -nostdin -y -i " + Quote(source) +
                               " -c:a adpcm_g726le -code_size " + std::to_string(bits) + " " +
                               Quote(path)),
              0);
    auto bytes = ReadFile(path);
    SetBe32(bytes, 12, bits == 3 ? 25 : bits == 5 ? 26 : 23);
    WriteFile(path, bytes);
    return path;
}

// Pink noise and a tone at 8 kHz, mono.
std::string MakeSpeechLikeWav(const TempDir& dir, const std::string& name, double amplitude,
                              int seed) {
    const std::string path = dir.file(name);
    char graph[300];
    std::snprintf(graph, sizeof graph,
                  "anoisesrc=color=pink:amplitude=%g:sample_rate=8000:"
                  "duration=2:seed=%d",
                  amplitude, seed);
    EXPECT_EQ(testsupport::Run("ffmpeg -v error -nostdin -y -f lavfi -i '" + std::string(graph) +
                               "' -f lavfi -i sine=frequency=1000:sample_rate=8000:"
                               "duration=1 -filter_complex '[0][1]concat=n=2:v=0:a=1' "
                               "-ac 1 " +
                               Quote(path)),
              0);
    return path;
}

}  // namespace

// ---------------------------------------------------------------------------
// Linear PCM and float encodings, all four magics

TEST(AuReaderEncodings, LinearPcmOfEveryWidthKeepsEverySampleInBothByteOrders) {
    TempDir dir;
    const int16_t values[] = {0, 1, -1, 12345, -12345, 32767, -32768, 256, -257};
    for (Magic m : {kSnd, kSndZero, kDnsLe, kDnsZeroLe}) {
        for (int enc : {2, 3, 4, 5}) {
            const int bytes = enc == 2 ? 1 : enc == 3 ? 2 : enc == 4 ? 3 : 4;
            std::vector<uint8_t> data;
            std::vector<int32_t> expected;  // as integers of the block's depth
            for (int16_t s : values) {
                if (enc == 2) {
                    // 8-bit samples: the byte times 256 in 16 bits.
                    int8_t b = static_cast<int8_t>(s >> 8);
                    PutSample(data, m, static_cast<uint8_t>(b), 1);
                    expected.push_back(b * 256);
                    continue;
                }
                // Wider samples carry low bits, which are kept.
                uint64_t low = (0xA5A5A5u) & ((1u << (8 * (bytes - 2))) - 1);
                uint64_t x = (uint64_t(uint16_t(s)) << (8 * (bytes - 2))) | low;
                PutSample(data, m, x, bytes);
                expected.push_back(static_cast<int32_t>(
                    static_cast<uint32_t>(x) << (32 - 8 * bytes)) >> (32 - 8 * bytes));
            }
            auto file = Header(m, 24, static_cast<uint32_t>(data.size()), enc, 8000, 1);
            file.insert(file.end(), data.begin(), data.end());
            const std::string path = dir.file("pcm.au");
            WriteFile(path, file);
            int bits = 0;
            const std::vector<float> got = FirstChannelOfBlocks(path, &bits);
            EXPECT_EQ(bits, bytes <= 2 ? 16 : 8 * bytes) << "encoding " << enc;
            std::vector<float> want;
            for (int32_t x : expected) want.push_back(IntToFloat(x, std::max(bits, 16)));
            EXPECT_EQ(got, want) << "magic " << m << " encoding " << enc;
        }
    }
}

TEST(AuReaderEncodings, FfmpegWrittenPcmDecodesLikeFfmpegReadsIt) {
    TempDir dir;
    const std::string wav = dir.file("src.wav");
    ASSERT_EQ(testsupport::Run("ffmpeg -v error -nostdin -y -f lavfi -i "
                               "'sine=frequency=330:sample_rate=22050:duration=0.3' "
                               "-f lavfi -i 'anoisesrc=sample_rate=22050:duration=0.3:"
                               "amplitude=0.3:seed=5' -filter_complex "
                               "'[0][1]amerge=inputs=2' -c:a pcm_s32le " +
                               Quote(wav)),
              0);
    for (const char* codec : {"pcm_s8", "pcm_s16be", "pcm_s24be", "pcm_s32be"}) {
        const std::string au = dir.file(std::string(codec) + ".au");
        ASSERT_EQ(testsupport::Run("ffmpeg -v error -nostdin -y -i " + Quote(wav) + " -c:a " +
                                   codec + " " + Quote(au)),
                  0);
        CAuReader r;
        ASSERT_EQ(r.Open(au, 0), 1) << codec;
        EXPECT_EQ(r.GetSampleRate(), 22050);
        EXPECT_EQ(r.GetChannels(), 2);
        EXPECT_EQ(r.GetOutputChannels(), 2);
        EXPECT_EQ(r.GetBitsPerSample(), 16);
        const auto ours = Interleaved(ReadAll(r));
        const auto theirs = DecodeWithFfmpeg(au);
        ASSERT_EQ(ours.size(), 2u * 6615) << codec;
        EXPECT_EQ(ours, theirs) << codec;
    }
}

TEST(AuReaderEncodings, FloatSamplesKeepTheirValueAndNonFiniteOnesAreSilent) {
    TempDir dir;
    const double values[] = {0.0,
                             0.5,
                             1.0,
                             -1.0,
                             -0.5,
                             2.0,
                             -3.0,
                             1e300,
                             std::nan(""),
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity()};
    // Infinities (1e300 is one as a float) and NaN are silence; values
    // beyond full scale are kept up to kFloatSampleLimit.
    float expected[] = {0.0f, 0.5f, 1.0f, -1.0f, -0.5f, 2.0f, -3.0f, 8.0f, 0.0f, 0.0f, 0.0f};
    for (Magic m : {kSnd, kDnsLe}) {
        for (int enc : {6, 7}) {
            expected[7] = enc == 6 ? 0.0f : static_cast<float>(kFloatSampleLimit);
            std::vector<uint8_t> data;
            for (double v : values) {
                if (enc == 6) {
                    float f = static_cast<float>(v);
                    uint32_t bits;
                    std::memcpy(&bits, &f, 4);
                    PutSample(data, m, bits, 4);
                } else {
                    uint64_t bits;
                    std::memcpy(&bits, &v, 8);
                    PutSample(data, m, bits, 8);
                }
            }
            auto file = Header(m, 24, static_cast<uint32_t>(data.size()), enc, 8000, 1);
            file.insert(file.end(), data.begin(), data.end());
            WriteFile(dir.file("f.au"), file);
            int bits = 0;
            EXPECT_EQ(FirstChannelOfBlocks(dir.file("f.au"), &bits),
                      std::vector<float>(std::begin(expected), std::end(expected)))
                << "magic " << m << " encoding " << enc;
            EXPECT_EQ(bits, 32);
        }
    }
}

// ---------------------------------------------------------------------------
// G.711

TEST(AuReaderG711, EveryMuLawAndALawCodeExpandsLikeSoxAndFfmpeg) {
    TempDir dir;
    for (int enc : {1, 27}) {
        auto file = Header(kSnd, 32, 256, enc, 8000, 1);
        for (int c = 0; c < 256; ++c) file.push_back(static_cast<uint8_t>(c));
        const std::string path = dir.file("all.au");
        WriteFile(path, file);
        const auto ours = OpenAndReadAll(path).left;
        ASSERT_EQ(ours.size(), 256u);
        EXPECT_EQ(ours, DecodeWithSox(path)) << "encoding " << enc;
        EXPECT_EQ(ours, DecodeWithFfmpeg(path)) << "encoding " << enc;
        // The little-endian twin holds the same bytes.
        WriteFile(path, LittleEndianTwin(file, 1, kDnsZeroLe));
        EXPECT_EQ(OpenAndReadAll(path).left, ours);
    }
    // Anchors of the two laws.
    auto file = Header(kSnd, 24, 4, 1, 8000, 1);
    for (uint8_t c : {0x00, 0x7F, 0xFF, 0x80}) file.push_back(c);
    WriteFile(dir.file("mu.au"), file);
    EXPECT_EQ(OpenAndReadAll(dir.file("mu.au")).left, (std::vector<int16_t>{-32124, 0, 0, 32124}));
    file = Header(kSnd, 24, 4, 27, 8000, 1);
    for (uint8_t c : {0xD5, 0x55, 0xAA, 0x2A}) file.push_back(c);
    WriteFile(dir.file("a.au"), file);
    EXPECT_EQ(OpenAndReadAll(dir.file("a.au")).left, (std::vector<int16_t>{8, -8, 32256, -32256}));
}

TEST(AuReaderG711, SoxWrittenStereoFilesDecodeLikeSoxReadsThem) {
    TempDir dir;
    const std::string wav = dir.file("src.wav");
    ASSERT_EQ(testsupport::Run("sox -D -n -r 11025 -c 2 -b 16 " + Quote(wav) +
                               " synth 0.5 sine 440 sine 1234 2>/dev/null"),
              0);
    for (const char* law : {"u-law", "a-law"}) {
        const std::string au = dir.file(std::string(law) + ".au");
        ASSERT_EQ(testsupport::Run("sox -D " + Quote(wav) + " -e " + law + " " + Quote(au)), 0);
        CAuReader r;
        ASSERT_EQ(r.Open(au, 0), 1);
        EXPECT_EQ(r.GetSampleRate(), 11025);
        EXPECT_EQ(r.GetOutputChannels(), 2);
        const auto ours = Interleaved(ReadAll(r));
        EXPECT_EQ(ours.size(), 2u * 5512);
        EXPECT_EQ(ours, DecodeWithSox(au)) << law;
    }
}

// ---------------------------------------------------------------------------
// G.721 / G.723 ADPCM
//
// The reference is sox, whose G.721/G.723 decoders follow the standard's
// fixed-point computation. (ffmpeg's G.726 decoder does not reproduce the
// standard's arithmetic sample for sample, so it only writes the data here.)

TEST(AuReaderAdpcm, EveryCodeWidthMatchesSoxSampleForSample) {
    TempDir dir;
    const std::string wav = MakeSpeechLikeWav(dir, "speech.wav", 0.2, 3);
    for (int bits : {3, 4, 5}) {
        const std::string au = MakeAdpcmAu(dir, "g" + std::to_string(bits) + ".au", wav, bits);
        CAuReader r;
        ASSERT_EQ(r.Open(au, 0), 1);
        EXPECT_EQ(r.GetOutputChannels(), 1);
        EXPECT_EQ(r.GetDuration(), 3);
        EXPECT_EQ(r.GetBitrate(), bits * 8);  // kbit/s at 8 kHz
        Decoded d = ReadAll(r);
        const auto sox = DecodeWithSox(au);
        ASSERT_EQ(d.left.size(), 24000u) << bits;
        EXPECT_EQ(d.left, sox) << bits << "-bit codes";
        EXPECT_EQ(d.blocks.front(), kBlockFrames);

        // The byte stream of codes has no byte order: the little-endian
        // twin decodes the same.
        const auto bytes = ReadFile(au);
        WriteFile(au, LittleEndianTwin(bytes, 1));
        EXPECT_EQ(OpenAndReadAll(au).left, d.left) << bits;
    }
}

TEST(AuReaderAdpcm, OverloadedInputDiffersFromSoxOnlyWhereSoxWrapsAround) {
    // Past full scale the reconstructed signal leaves the 14-bit range. We
    // clip it to 16 bits; sox lets the 16-bit value wrap around. Apart from
    // that, sox's decoder departs from the standard's arithmetic in a few
    // corners that only loud signals reach (it drops bit 14 of large
    // negative differences, for one), so isolated other differences are
    // tolerated; they must stay rare and must not accumulate.
    TempDir dir;
    const std::string wav = MakeSpeechLikeWav(dir, "loud.wav", 1.0, 3);
    ASSERT_EQ(testsupport::Run("ffmpeg -v error -nostdin -y -i " + Quote(wav) + " -af volume=2 " +
                               Quote(dir.file("louder.wav"))),
              0);
    for (int bits : {3, 4, 5}) {
        const std::string au =
            MakeAdpcmAu(dir, "l" + std::to_string(bits) + ".au", dir.file("louder.wav"), bits);
        const auto ours = OpenAndReadAll(au).left;
        const auto sox = DecodeWithSox(au);
        ASSERT_EQ(ours.size(), sox.size());
        int clipped = 0, other = 0;
        for (size_t i = 0; i < ours.size(); ++i) {
            if (ours[i] == sox[i]) continue;
            const int o = ours[i], s = sox[i];
            if ((o == 32767 && s + 65536 > 32767) || (o == -32768 && s - 65536 < -32768))
                ++clipped;
            else
                ++other;
        }
        EXPECT_GT(clipped, 0) << "the signal should overload the decoder";
        EXPECT_LE(other, static_cast<int>(ours.size() / 1000)) << bits;
    }
}

TEST(AuReaderAdpcm, StereoCodesDecodeEachChannelWithItsOwnState) {
    // Two mono streams interleaved code by code make a stereo file; each
    // channel must decode exactly like its mono original.
    TempDir dir;
    const std::string a = MakeSpeechLikeWav(dir, "a.wav", 0.4, 11);
    const std::string b = MakeSpeechLikeWav(dir, "b.wav", 0.3, 12);
    for (int bits : {3, 4}) {
        const std::string auA = MakeAdpcmAu(dir, "a.au", a, bits);
        const std::string auB = MakeAdpcmAu(dir, "b.au", b, bits);
        const auto bytesA = ReadFile(auA), bytesB = ReadFile(auB);
        const size_t offA = Be32At(bytesA, 4), offB = Be32At(bytesB, 4);
        const size_t n = (bytesA.size() - offA) * 8 / bits;
        auto code = [bits](const std::vector<uint8_t>& v, size_t off, size_t i) {
            uint32_t value = 0;
            for (int k = 0; k < bits; ++k) {
                size_t bit = i * bits + k;
                value |= ((v[off + bit / 8] >> (bit % 8)) & 1u) << k;
            }
            return value;
        };
        std::vector<uint8_t> packed((2 * n * bits + 7) / 8, 0);
        size_t bit = 0;
        for (size_t i = 0; i < n; ++i) {
            for (uint32_t c : {code(bytesA, offA, i), code(bytesB, offB, i)}) {
                for (int k = 0; k < bits; ++k, ++bit)
                    packed[bit / 8] |= ((c >> k) & 1u) << (bit % 8);
            }
        }
        auto file =
            Header(kSnd, 24, static_cast<uint32_t>(packed.size()), bits == 3 ? 25 : 23, 8000, 2);
        file.insert(file.end(), packed.begin(), packed.end());
        WriteFile(dir.file("st.au"), file);
        Decoded d = OpenAndReadAll(dir.file("st.au"));
        const auto monoA = OpenAndReadAll(auA).left;
        const auto monoB = OpenAndReadAll(auB).left;
        ASSERT_EQ(d.left.size(), n);
        EXPECT_EQ(d.left, monoA) << bits;
        EXPECT_EQ(d.right, monoB) << bits;
    }
}

// ---------------------------------------------------------------------------
// Header fields and their fallbacks

TEST(AuReaderHeader, LittleEndianMagicsDecodeLikeTheirBigEndianTwin) {
    TempDir dir;
    auto be = Header(kSnd, 40, 0xFFFFFFFF, 3, 16000, 2);
    const auto sine = Sine(3000, 2, 16000, 500.0);
    for (int16_t s : sine) PutBe16(be, static_cast<uint16_t>(s));
    WriteFile(dir.file("be.au"), be);
    const Decoded ref = OpenAndReadAll(dir.file("be.au"));
    EXPECT_EQ(Interleaved(ref), sine);
    for (Magic m : {kDnsLe, kDnsZeroLe}) {
        WriteFile(dir.file("le.au"), LittleEndianTwin(be, 2, m));
        const Decoded le = OpenAndReadAll(dir.file("le.au"));
        EXPECT_EQ(le.left, ref.left);
        EXPECT_EQ(le.right, ref.right);
        EXPECT_EQ(le.blocks, ref.blocks);
    }
}

TEST(AuReaderHeader, DataSizeReadsToEndOfFileWhenOpenOrTooLarge) {
    TempDir dir;
    for (uint32_t declared : {0xFFFFFFFFu, 100000u}) {
        auto file = Header(kSnd, 28, declared, 3, 8000, 1);
        for (int i = 0; i < 20000; ++i) PutBe16(file, static_cast<uint16_t>(i));
        WriteFile(dir.file("d.au"), file);
        CAuReader r;
        ASSERT_EQ(r.Open(dir.file("d.au"), 0), 1);
        EXPECT_EQ(r.GetTotal(), 40000u) << declared;
        EXPECT_EQ(r.GetDuration(), 2) << declared;
        Decoded d = ReadAll(r);
        ASSERT_EQ(d.left.size(), 20000u);
        EXPECT_EQ(d.left[19999], 19999);
        EXPECT_EQ(r.GetPosition(), r.GetTotal());
    }
    // A smaller declared size stops inside the file.
    auto file = Header(kSnd, 24, 1000, 3, 8000, 1);
    for (int i = 0; i < 2000; ++i) PutBe16(file, static_cast<uint16_t>(i));
    WriteFile(dir.file("s.au"), file);
    EXPECT_EQ(OpenAndReadAll(dir.file("s.au")).left.size(), 500u);
}

TEST(AuReaderHeader, SampleRatesOutsideTheUsableRangeBecome8000) {
    TempDir dir;
    for (uint32_t rate : {0u, 500u, 999u, 100001u, 0xFFFFFFFFu, 1000u, 100000u}) {
        auto file = Header(kSnd, 24, 32000, 3, rate, 1);  // 16000 frames
        file.resize(file.size() + 32000, 0);
        WriteFile(dir.file("r.au"), file);
        CAuReader r;
        ASSERT_EQ(r.Open(dir.file("r.au"), 0), 1);
        const bool usable = rate >= 1000 && rate <= 100000;
        EXPECT_EQ(r.GetSampleRate(), usable ? static_cast<int>(rate) : 8000);
        EXPECT_EQ(r.GetDuration(), usable ? static_cast<int>(16000 / rate) : 2);
    }
}

TEST(AuReaderHeader, DurationAndBitrateFollowTheDataSize) {
    TempDir dir;
    auto file = Header(kSnd, 24, 529200, 3, 44100, 2);  // 3 s of CD audio
    file.resize(file.size() + 529200, 0);
    WriteFile(dir.file("cd.au"), file);
    CAuReader r;
    ASSERT_EQ(r.Open(dir.file("cd.au"), 0), 1);
    EXPECT_EQ(r.GetDuration(), 3);
    EXPECT_EQ(r.GetBitrate(), 1411);
    EXPECT_EQ(r.GetTotal(), 529200u);
    std::vector<int16_t> l(kBlockFrames), rt(kBlockFrames);
    EXPECT_EQ(ReadInt16(r, l.data(), rt.data()), kBlockFrames);
    EXPECT_EQ(r.GetPosition(), 4u * kBlockFrames);

    // Under a second: the bit rate comes from the format.
    file = Header(kSnd, 24, 1000, 1, 8000, 1);
    file.resize(file.size() + 1000, 0xFF);
    WriteFile(dir.file("short.au"), file);
    ASSERT_EQ(r.Open(dir.file("short.au"), 0), 1);
    EXPECT_EQ(r.GetDuration(), 0);
    EXPECT_EQ(r.GetBitrate(), 64);
}

TEST(AuReaderHeader, EncodingAbove27IsSearchedForFromByte13) {
    TempDir dir;
    // Field at 12 reads 256; at 15 the bytes read 62 (too large); at 20 the
    // value 2 is the first possible encoding, with rate and channels after.
    std::vector<uint8_t> file = {0x2E, 0x73, 0x6E, 0x64};
    PutBe32(file, 40);     // data offset
    PutBe32(file, 8);      // data size
    PutBe32(file, 256);    // encoding field
    PutBe32(file, 16000);  // 00 00 3E 80
    PutBe32(file, 2);      // found as the encoding: 8-bit linear
    PutBe32(file, 11025);  // taken as the rate
    PutBe32(file, 2);      // taken as the channel count
    file.resize(40, 0);
    for (int8_t s : {1, -1, 2, -2, 127, -128, 0, 5}) file.push_back(uint8_t(s));
    WriteFile(dir.file("odd.au"), file);
    CAuReader r;
    ASSERT_EQ(r.Open(dir.file("odd.au"), 0), 1);
    EXPECT_EQ(r.GetSampleRate(), 11025);
    EXPECT_EQ(r.GetChannels(), 2);
    Decoded d = ReadAll(r);
    EXPECT_EQ(d.left, (std::vector<int16_t>{256, 512, 32512, 0}));
    EXPECT_EQ(d.right, (std::vector<int16_t>{-256, -512, -32768, 1280}));

    // No possible value anywhere in the searched bytes: no file.
    std::vector<uint8_t> none = {0x2E, 0x73, 0x6E, 0x64};
    PutBe32(none, 48);
    PutBe32(none, 0);
    none.resize(48, 0xFF);
    WriteFile(dir.file("none.au"), none);
    EXPECT_EQ(r.Open(dir.file("none.au"), 0), 0);
}

TEST(AuReaderHeader, UnsupportedEncodingsAndBrokenHeadersFailToOpen) {
    TempDir dir;
    CAuReader r;
    for (uint32_t enc : {0u, 8u, 22u, 24u}) {
        auto file = Header(kSnd, 24, 100, enc, 8000, 1);
        file.resize(124, 0);
        WriteFile(dir.file("e.au"), file);
        EXPECT_EQ(r.Open(dir.file("e.au"), 0), 0) << enc;
    }
    // Data offset below the header size.
    auto file = Header(kSnd, 24, 100, 3, 8000, 1);
    file[7] = 20;
    file.resize(124, 0);
    WriteFile(dir.file("off.au"), file);
    EXPECT_EQ(r.Open(dir.file("off.au"), 0), 0);

    WriteFile(dir.file("empty.au"), std::vector<uint8_t>{});
    EXPECT_EQ(r.Open(dir.file("empty.au"), 0), 0);
    WriteFile(dir.file("cut.au"), std::vector<uint8_t>(file.begin(), file.begin() + 23));
    EXPECT_EQ(r.Open(dir.file("cut.au"), 0), 0);
    std::vector<uint8_t> garbage(5000);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = uint8_t(i * 7919 >> 3);
    WriteFile(dir.file("garbage.au"), garbage);
    EXPECT_EQ(r.Open(dir.file("garbage.au"), 0), 0);
    EXPECT_EQ(r.Open(dir.file("missing.au"), 0), 0);
    EXPECT_EQ(r.GetSampleRate(), 0);
    std::vector<int16_t> l(kBlockFrames), rt(kBlockFrames);
    EXPECT_EQ(ReadInt16(r, l.data(), rt.data()), 0);

    // Header only, data offset past the end: an empty stream.
    auto hollow = Header(kSnd, 200, 0xFFFFFFFF, 3, 8000, 1);
    hollow.resize(60);
    WriteFile(dir.file("hollow.au"), hollow);
    ASSERT_EQ(r.Open(dir.file("hollow.au"), 0), 1);
    EXPECT_EQ(r.GetTotal(), 0u);
    EXPECT_EQ(ReadInt16(r, l.data(), rt.data()), 0);
}

// ---------------------------------------------------------------------------
// Channels

TEST(AuReaderChannels, SixChannelsMixWithTheSixChannelRule) {
    TempDir dir;
    auto file = Header(kSnd, 24, 2 * 6 * 2, 3, 48000, 6);
    for (int16_t s : {1000, 2000, 100, 100, 10, 20, -1000, 0, -3, 0, 0, 0})
        PutBe16(file, static_cast<uint16_t>(s));
    WriteFile(dir.file("six.au"), file);
    CAuReader r;
    ASSERT_EQ(r.Open(dir.file("six.au"), 0), 1);
    EXPECT_EQ(r.GetChannels(), 6);
    EXPECT_EQ(r.GetOutputChannels(), 2);
    Decoded d = ReadAll(r);
    // (1000 + 0.707 × 200 + 10) / 3.414 and (2000 + 0.707 × 200 + 20) / 3.414;
    // then -1000 and a centre of -3, rounded to nearest.
    EXPECT_EQ(d.left, (std::vector<int16_t>{337, -294}));
    EXPECT_EQ(d.right, (std::vector<int16_t>{633, -1}));
}

TEST(AuReaderChannels, MoreThanEightChannelsYieldTheFirstTwo) {
    TempDir dir;
    for (int enc : {3, 4, 1}) {
        const int bytes = enc == 3 ? 2 : enc == 4 ? 3 : 1;
        std::vector<uint8_t> data;
        std::vector<int16_t> wantL, wantR;
        for (int f = 0; f < 1500; ++f) {
            for (int c = 0; c < 10; ++c) {
                uint8_t v = static_cast<uint8_t>(f * 10 + c);
                // Channel c of frame f holds a marker in its top byte.
                for (int b = 0; b < bytes; ++b) data.push_back(b == 0 ? v : 0x11);
            }
            auto expect = [&](int c) {
                uint8_t v = static_cast<uint8_t>(f * 10 + c);
                if (enc == 1) return static_cast<int16_t>(MulawToLinear(v));
                return static_cast<int16_t>((int8_t(v) * 256) | (bytes > 1 ? 0x11 : 0));
            };
            wantL.push_back(expect(0));
            wantR.push_back(expect(1));
        }
        auto file = Header(kSnd, 24, static_cast<uint32_t>(data.size()), enc, 8000, 10);
        file.insert(file.end(), data.begin(), data.end());
        WriteFile(dir.file("ten.au"), file);
        CAuReader r;
        ASSERT_EQ(r.Open(dir.file("ten.au"), 0), 1);
        Decoded d = FirstTwoBlockChannels(r);
        EXPECT_EQ(d.left, wantL) << enc;
        EXPECT_EQ(d.right, wantR) << enc;
        EXPECT_EQ(d.blocks, (std::vector<int>{1152, 348, 0}));
    }
}

TEST(AuReaderChannels, HugeChannelCountsNeverOverrunTheReadBuffer) {
    TempDir dir;
    CAuReader r;
    // Not even one frame of 2,000,000 64-bit samples fits the buffer.
    auto file = Header(kSnd, 24, 0xFFFFFFFF, 7, 8000, 2000000);
    file.resize(4096, 0);
    WriteFile(dir.file("wide.au"), file);
    EXPECT_EQ(r.Open(dir.file("wide.au"), 0), 0);
    file = Header(kSnd, 24, 0xFFFFFFFF, 23, 8000, 0x7FFFFFFF);
    file.resize(4096, 0);
    WriteFile(dir.file("wide2.au"), file);
    EXPECT_EQ(r.Open(dir.file("wide2.au"), 0), 0);

    // 9000 8-bit channels: 932 frames fit the buffer, so a block holds at
    // most that many, and channels 1 and 2 come through first.
    const int chans = 9000, frames = 1000;
    file = Header(kSnd, 24, chans * frames, 2, 8000, chans);
    for (int f = 0; f < frames; ++f) {
        const size_t at = file.size();
        file.resize(at + chans, 0x40);
        file[at] = static_cast<uint8_t>(f);
        file[at + 1] = static_cast<uint8_t>(-f);
    }
    WriteFile(dir.file("many.au"), file);
    ASSERT_EQ(r.Open(dir.file("many.au"), 0), 1);
    Decoded d = FirstTwoBlockChannels(r);
    EXPECT_EQ(d.blocks, (std::vector<int>{932, 68, 0}));
    ASSERT_EQ(d.left.size(), static_cast<size_t>(frames));
    for (int f = 0; f < frames; ++f) {
        ASSERT_EQ(d.left[f], int8_t(f) * 256) << f;
        ASSERT_EQ(d.right[f], int8_t(-f) * 256) << f;
    }
}

// ---------------------------------------------------------------------------
// Reading and the reader's life cycle

TEST(AuReaderLifecycle, BlocksOf1152FramesThenTheRestThenZero) {
    TempDir dir;
    auto file = Header(kSnd, 24, 3000, 2, 8000, 1);
    for (int i = 0; i < 3000; ++i) file.push_back(static_cast<uint8_t>(i));
    WriteFile(dir.file("m.au"), file);
    CAuReader r;
    ASSERT_EQ(r.Open(dir.file("m.au"), 0), 1);
    EXPECT_EQ(r.GetOutputChannels(), 1);
    std::vector<int16_t> l(kBlockFrames);
    // Mono: the right buffer is never needed.
    EXPECT_EQ(ReadInt16(r, l.data(), nullptr), 1152);
    EXPECT_EQ(ReadInt16(r, l.data(), nullptr), 1152);
    EXPECT_EQ(ReadInt16(r, l.data(), nullptr), 696);
    EXPECT_EQ(l[695], static_cast<int8_t>(2999 & 0xFF) * 256);
    EXPECT_EQ(ReadInt16(r, l.data(), nullptr), 0);
    EXPECT_EQ(ReadInt16(r, l.data(), nullptr), 0);
    EXPECT_EQ(r.GetPosition(), 3000u);

    // Close twice, then open again from the start.
    r.Close();
    r.Close();
    EXPECT_EQ(r.GetTotal(), 0u);
    EXPECT_EQ(r.GetChannels(), 0);
    EXPECT_EQ(ReadInt16(r, l.data(), nullptr), 0);
    ASSERT_EQ(r.Open(dir.file("m.au"), 0), 1);
    EXPECT_EQ(ReadInt16(r, l.data(), nullptr), 1152);
    EXPECT_EQ(l[1], 256);

    CAuReader neverOpened;
    neverOpened.Close();
    neverOpened.Close();
    EXPECT_EQ(neverOpened.HasAudio(), 1);
    TagInfo tags;
    tags.title = "keep";
    EXPECT_EQ(r.ReadTags(tags), 0);
    EXPECT_EQ(tags.title, "keep");
}

TEST(AuReaderLifecycle, AnnotationIsSkippedAndATrailingPartialFrameDropped) {
    TempDir dir;
    auto file = Header(kSnd, 64, 0xFFFFFFFF, 3, 8000, 2);
    const char note[] = "recorded on a workstation";
    std::copy(note, note + sizeof note - 1, file.begin() + 24);
    for (int16_t s : {11, -11, 22, -22}) PutBe16(file, static_cast<uint16_t>(s));
    file.push_back(0x7F);  // one byte of an incomplete frame
    WriteFile(dir.file("n.au"), file);
    Decoded d = OpenAndReadAll(dir.file("n.au"));
    EXPECT_EQ(d.left, (std::vector<int16_t>{11, 22}));
    EXPECT_EQ(d.right, (std::vector<int16_t>{-11, -22}));
    EXPECT_EQ(d.blocks.back(), 0);
}

TEST(AuReaderLifecycle, RandomHeadersNeverCrashOrOverrun) {
    TempDir dir;
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    const std::string path = dir.file("rnd.au");
    for (int round = 0; round < 500; ++round) {
        auto file =
            Header(static_cast<Magic>(next() % 4), 24 + next() % 64,
                   next() % 3 ? next() % 5000 : 0xFFFFFFFF, next() % 3 ? next() % 30 : next(),
                   next() % 200000, next() % 4 ? next() % 12 : next());
        file.resize(next() % 4000 + 1);
        for (size_t i = 24; i < file.size(); ++i) file[i] = uint8_t(next() >> 24);
        WriteFile(path, file);
        CAuReader r;
        if (!r.Open(path, 0)) continue;
        Decoded d = ReadAll(r);
        EXPECT_LE(r.GetPosition(), r.GetTotal());
        EXPECT_LE(d.left.size() * std::max(1, r.GetChannels()), file.size() * 8);
    }
}
