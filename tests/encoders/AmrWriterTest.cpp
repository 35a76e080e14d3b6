#include "encoders/AmrWriter.h"

#include "decoders/AmrReader.h"
#include "platform/amr/AmrCodec.h"
#include "support/BlockSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

using namespace quelvox;
using namespace testsupport;

namespace {

// Speech-like test signal: voiced bursts of 0.3 s with a gliding pitch,
// separated by quiet pauses of 0.7 s with a little noise, long enough for
// voice activity detection to switch DTX on.
std::vector<int16_t> Speech(int samples, int rate) {
    std::vector<int16_t> v(static_cast<size_t>(samples));
    unsigned seed = 1;
    for (int i = 0; i < samples; ++i) {
        double t = static_cast<double>(i) / rate;
        double seg = std::fmod(t, 1.0);
        double s = 0;
        if (seg < 0.3) {
            double f0 = 120 + 60 * std::sin(2 * M_PI * 1.3 * t);
            for (int h = 1; h <= 20 && f0 * h < rate / 2 - 200; ++h) {
                double gain = (f0 * h > 500 && f0 * h < 900) ? 3.0 : 1.0;
                s += gain * std::sin(2 * M_PI * f0 * h * t) / h;
            }
            s *= 3000 * std::sin(M_PI * seg / 0.3);
        }
        seed = seed * 1103515245u + 12345u;
        s += static_cast<int>((seed >> 16) % 61) - 30;
        v[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(s));
    }
    return v;
}

// Writes `signal` through a CAmrWriter in blocks of `block` samples.
bool WriteAmr(const std::string& path, const AmrCodecParams& params,
              const std::vector<int16_t>& signal, int block) {
    CAmrWriter w;
    w.SetCodecParams(params);
    w.SetFileName(path);
    if (!w.Open()) return false;
    for (size_t off = 0; off < signal.size(); off += static_cast<size_t>(block)) {
        int n = static_cast<int>(std::min<size_t>(static_cast<size_t>(block), signal.size() - off));
        if (!WriteInt16(w, signal.data() + off, signal.data() + off, n)) return false;
    }
    w.Close();
    return true;
}

std::vector<int16_t> ReadAll(const std::string& path) {
    CAmrReader r;
    std::vector<int16_t> out;
    if (!r.Open(path, 0)) return out;
    int16_t block[kBlockFrames];
    int n;
    while ((n = ReadInt16(r, block, nullptr)) > 0) out.insert(out.end(), block, block + n);
    return out;
}

// Windowed-sinc low-pass (63 taps, Hamming) with the cut-off given as a
// fraction of the sample rate; keeps the length and the alignment.
std::vector<int16_t> LowPass(const std::vector<int16_t>& v, double cutoff) {
    constexpr int kHalf = 31;
    double taps[2 * kHalf + 1];
    double sum = 0;
    for (int k = -kHalf; k <= kHalf; ++k) {
        double sinc = k == 0 ? 2 * cutoff : std::sin(2 * M_PI * cutoff * k) / (M_PI * k);
        double w = 0.54 + 0.46 * std::cos(M_PI * k / kHalf);
        taps[k + kHalf] = sinc * w;
        sum += sinc * w;
    }
    std::vector<int16_t> out(v.size());
    for (size_t i = 0; i < v.size(); ++i) {
        double acc = 0;
        for (int k = -kHalf; k <= kHalf; ++k) {
            long j = static_cast<long>(i) + k;
            if (j >= 0 && j < static_cast<long>(v.size()))
                acc += taps[k + kHalf] * v[static_cast<size_t>(j)];
        }
        out[i] = static_cast<int16_t>(std::clamp(std::lround(acc / sum), -32768L, 32767L));
    }
    return out;
}

// Encodes frames straight through the codec layer, for byte comparison.
std::vector<uint8_t> EncodeDirect(const std::string& path, bool wide, int mode,
                                  const std::vector<std::vector<int16_t>>& frames) {
    amr::AmrEncoder* e = wide ? amr::amrwbenc_init(path.c_str(), 0, mode)
                              : amr::amrnbenc_init(path.c_str(), 0, mode);
    if (!e) return {};
    for (const auto& f : frames) {
        if (wide)
            amr::amrwbenc_encode(e, f.data());
        else
            amr::amrnbenc_encode(e, f.data());
    }
    if (wide)
        amr::amrwbenc_quit(e);
    else
        amr::amrnbenc_quit(e);
    return ReadFile(path);
}

std::vector<int16_t> Slice(const std::vector<int16_t>& v, size_t from, size_t count, size_t padTo) {
    std::vector<int16_t> s(v.begin() + from, v.begin() + from + count);
    s.resize(padTo, 0);
    return s;
}

// Frame types of a storage file written by us, in order.
std::vector<int> FrameTypes(const std::string& path, bool wide) {
    auto bytes = ReadFile(path);
    std::vector<int> types;
    for (size_t p = wide ? 9 : 6; p < bytes.size();) {
        int ft = (bytes[p] >> 3) & 0x0F;
        int size = wide ? amr::WbFrameDataSize(ft) : amr::NbFrameDataSize(ft);
        if (size < 0) break;
        types.push_back(ft);
        p += 1 + static_cast<size_t>(size);
    }
    return types;
}

// ffmpeg's decoding that keeps going past frames it rejects.
std::vector<int16_t> DecodeWithFfmpegPastErrors(const std::string& path) {
    std::string out;
    if (Run("ffmpeg -v quiet -nostdin -max_error_rate 1 -i " + Quote(path) +
                " -f s16le -acodec pcm_s16le - 2>/dev/null",
            &out) != 0)
        return {};
    std::vector<int16_t> v(out.size() / 2);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<int16_t>(static_cast<uint8_t>(out[2 * i]) |
                                    (static_cast<uint8_t>(out[2 * i + 1]) << 8));
    return v;
}

}  // namespace

// Files in every mode, with and without DTX, are AMR to ffmpeg at the right
// rate and length, and ffmpeg's decoding matches our reader's.
//
// ffmpeg here has only its own floating-point AMR decoders while the reader
// uses the fixed-point reference decoder, so the two agree closely but not
// bit for bit; AMR-WB also fills its 6.4-7 kHz band with noise from each
// decoder's own generator, so wide-band audio is compared below 6 kHz.
// Measured agreement is 18-40 dB; 15 dB still tells a correct decoding from
// one shifted by a single sample (3-9 dB) or by a frame (below 0 dB).
//
// ffmpeg's own decoders do not implement DTX: the narrow-band one rejects
// SID and NO_DATA frames, the wide-band one rejects SID frames (and decodes
// NO_DATA frames as lost ones). For DTX files ffmpeg's length is therefore
// checked against the frames it accepts, and its audio against ours over the
// first talk spurt, before the first pause.
TEST(AmrWriter, EveryModeAndDtxDecodesWithFfmpegLikeOurReader) {
    TempDir dir;
    for (int wide = 0; wide <= 1; ++wide) {
        const int rate = wide ? 16000 : 8000;
        const int frame = wide ? 320 : 160;
        const int sid = wide ? amr::kWbSidFrameType : amr::kNbSidFrameType;
        const auto input = Speech(rate * 3 / 2 + 77, rate);
        const size_t padded = (input.size() + frame - 1) / frame * frame;
        for (int mode = 0; mode < (wide ? 9 : 8); ++mode) {
            for (int dtx = 0; dtx <= 1; ++dtx) {
                SCOPED_TRACE(std::string(wide ? "WB" : "NB") + " mode " + std::to_string(mode) +
                             " dtx " + std::to_string(dtx));
                std::string path = dir.file(wide ? "out.awb" : "out.amr");
                AmrCodecParams p{wide ? 0 : 1, dtx, mode, mode};
                ASSERT_TRUE(WriteAmr(path, p, input, 1000));

                EXPECT_EQ(Probe(path, "codec_name"), wide ? "amr_wb" : "amr_nb");
                EXPECT_EQ(Probe(path, "sample_rate"), std::to_string(rate));
                EXPECT_EQ(Probe(path, "channels"), "1");

                auto types = FrameTypes(path, wide);
                ASSERT_EQ(types.size() * frame, padded);
                auto ours = ReadAll(path);
                EXPECT_EQ(ours.size(), padded);

                std::vector<int16_t> ff;
                if (!dtx) {
                    EXPECT_EQ(std::count(types.begin(), types.end(), mode),
                              static_cast<long>(types.size()));
                    ff = DecodeWithFfmpeg(path);
                    EXPECT_LE(
                        std::abs(static_cast<long>(ff.size()) - static_cast<long>(input.size())),
                        frame);
                } else {
                    // The pauses became silence descriptors and empty frames.
                    auto firstPause =
                        std::find_if(types.begin(), types.end(), [&](int t) { return t >= sid; });
                    ASSERT_NE(firstPause, types.end());
                    EXPECT_GT(std::count(types.begin(), types.end(), amr::kNoDataFrameType), 10);
                    auto accepted = std::count_if(types.begin(), types.end(),
                                                  [&](int t) { return wide ? t != sid : t < sid; });
                    ff = DecodeWithFfmpegPastErrors(path);
                    EXPECT_EQ(ff.size(), static_cast<size_t>(accepted) * frame);
                    size_t spurt = static_cast<size_t>(firstPause - types.begin()) * frame;
                    ASSERT_GE(spurt, 10u * frame);
                    ours.resize(spurt);
                    ff.resize(std::min(ff.size(), spurt));
                }
                if (wide) {
                    ours = LowPass(ours, 6000.0 / 16000);
                    ff = LowPass(ff, 6000.0 / 16000);
                }
                EXPECT_GT(SnrDb(ours, ff), 15.0);
            }
        }
    }
}

// An .amr entry set to wide-band hands the wide-band mode to the wide-band
// encoder: the file is AMR-WB at 16000 Hz, whatever the narrow-band mode.
TEST(AmrWriter, WideBandFlagSelectsWideBandEncoderAndMode) {
    TempDir dir;
    std::string path = dir.file("wide.amr");
    ASSERT_TRUE(WriteAmr(path, AmrCodecParams{0, 0, 7, 2}, Speech(3200, 16000), 640));
    auto bytes = ReadFile(path);
    ASSERT_GT(bytes.size(), 9u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 9), "#!AMR-WB\n");
    EXPECT_EQ((bytes[9] >> 3) & 0x0F, 2);
    EXPECT_EQ(bytes.size(), 9u + 10u * 33u);
    EXPECT_EQ(Probe(path, "sample_rate"), "16000");
}

// The writer's framing, checked against frames encoded directly: what it
// stages, completes, encodes straight from the block, and pads at Close.
TEST(AmrWriter, StagingCompletesFramesAndCloseZeroPadsTheLastOne) {
    TempDir dir;
    const auto sig = Speech(2000, 8000);
    const std::string out = dir.file("w.amr"), ref = dir.file("ref.amr");

    {  // 100 then 100 samples: one frame of the first 160, 40 staged and
        // padded with 120 zeros at Close.
        CAmrWriter w;
        AmrCodecParams p{1, 0, 7, 0};
        w.SetCodecParams(p);
        w.SetFileName(out);
        ASSERT_TRUE(w.Open());
        EXPECT_EQ(WriteInt16(w, sig.data(), nullptr, 100), 1);
        EXPECT_EQ(WriteInt16(w, sig.data() + 100, nullptr, 100), 1);
        w.Close();
        EXPECT_EQ(ReadFile(out),
                  EncodeDirect(ref, false, 7, {Slice(sig, 0, 160, 160), Slice(sig, 160, 40, 160)}));
    }
    {  // Exactly one wide-band frame: encoded from the block, nothing
        // staged, so Close adds no frame.
        const auto wsig = Speech(320, 16000);
        ASSERT_TRUE(WriteAmr(out, AmrCodecParams{0, 0, 0, 4}, wsig, 320));
        EXPECT_EQ(ReadFile(out), EncodeDirect(ref, true, 4, {wsig}));
    }
    {  // 10 samples only: one frame of 10 samples and 150 zeros.
        std::vector<int16_t> ten(sig.begin(), sig.begin() + 10);
        ASSERT_TRUE(WriteAmr(out, AmrCodecParams{1, 0, 2, 0}, ten, 10));
        EXPECT_EQ(ReadFile(out), EncodeDirect(ref, false, 2, {Slice(sig, 0, 10, 160)}));
    }
    {  // Odd blocks across frame borders give the same file as one block.
        std::string single = dir.file("single.amr");
        ASSERT_TRUE(WriteAmr(out, AmrCodecParams{1, 0, 6, 0}, sig, 37));
        ASSERT_TRUE(WriteAmr(single, AmrCodecParams{1, 0, 6, 0}, sig, 2000));
        EXPECT_EQ(ReadFile(out), ReadFile(single));
        EXPECT_EQ(ReadFile(out).size(), 6u + 13u * 27u);  // 2000 -> 13 frames
    }
}

TEST(AmrWriter, OpenFailsCleanlyAndAnUnopenedWriterWritesNothing) {
    TempDir dir;
    int16_t s[160] = {};
    {
        CAmrWriter w;  // no codec parameters
        w.SetFileName(dir.file("a.amr"));
        EXPECT_EQ(w.Open(), 0);
        EXPECT_EQ(WriteInt16(w, s, nullptr, 160), 0);
        w.Close();
        w.Close();
    }
    {
        CAmrWriter w;
        AmrCodecParams p{1, 0, 8, 6};  // narrow-band mode out of range
        w.SetCodecParams(p);
        w.SetFileName(dir.file("b.amr"));
        EXPECT_EQ(w.Open(), 0);
    }
    {
        CAmrWriter w;
        AmrCodecParams p{0, 0, 6, 9};  // wide-band mode out of range
        w.SetCodecParams(p);
        w.SetFileName(dir.file("c.awb"));
        EXPECT_EQ(w.Open(), 0);
    }
    {
        CAmrWriter w;
        AmrCodecParams p{1, 0, 6, 6};
        w.SetCodecParams(p);
        w.SetFileName(dir.file("missing/d.amr"));
        EXPECT_EQ(w.Open(), 0);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

    {  // Close returns the writer to its defaults: no parameters, no path.
        CAmrWriter w;
        AmrCodecParams p{1, 0, 6, 6};
        w.SetCodecParams(p);
        w.SetFileName(dir.file("e.amr"));
        ASSERT_TRUE(w.Open());
        w.Close();
        EXPECT_EQ(w.Open(), 0);
        EXPECT_EQ(WriteInt16(w, s, nullptr, 160), 0);
    }
    EXPECT_EQ(ReadFile(dir.file("e.amr")).size(), 6u);  // magic only
}
