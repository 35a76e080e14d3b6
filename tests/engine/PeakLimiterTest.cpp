// The look-ahead true-peak limiter on the signals that trouble a ceiling:
// what leaves it stays under the ceiling (read by libebur128 and by our
// own meter), keeps every frame, and leaves audio under the ceiling alone.
#include "engine/PeakLimiter.h"
#include "engine/TruePeakMeter.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <random>
#include <vector>

namespace quelvox {
namespace {

constexpr double kPi = std::numbers::pi;

using Signal = std::vector<std::vector<float>>;  // channels of samples

// `seconds` of `channels` channels at `rate` Hz, sample i of channel c
// given by `f`.
Signal Make(int channels, int rate, double seconds,
            const std::function<double(int c, double t, int i)>& f) {
    const auto frames = static_cast<size_t>(seconds * rate);
    Signal s(static_cast<size_t>(channels), std::vector<float>(frames));
    for (size_t c = 0; c < s.size(); ++c)
        for (size_t i = 0; i < frames; ++i)
            s[c][i] = static_cast<float>(
                f(static_cast<int>(c), static_cast<double>(i) / rate, static_cast<int>(i)));
    return s;
}

// Runs `in` through a limiter in uneven blocks and drains it.
Signal Limit(const Signal& in, int rate, float ceiling, float* smallest = nullptr) {
    CPeakLimiter limiter;
    EXPECT_TRUE(limiter.Begin(static_cast<int>(in.size()), rate, ceiling));
    Signal out(in.size());
    const size_t frames = in[0].size();
    std::vector<std::vector<float>> block(in.size(), std::vector<float>(3000));
    float* ptr[kMaxChannels] = {};
    for (size_t c = 0; c < in.size(); ++c) ptr[c] = block[c].data();
    auto keep = [&](int n) {
        for (size_t c = 0; c < in.size(); ++c)
            out[c].insert(out[c].end(), block[c].begin(), block[c].begin() + n);
    };
    for (size_t at = 0; at < frames;) {
        const size_t n = std::min(frames - at, static_cast<size_t>(1 + (at * 13) % 2999));
        for (size_t c = 0; c < in.size(); ++c)
            std::copy_n(in[c].begin() + static_cast<std::ptrdiff_t>(at), n, block[c].begin());
        keep(limiter.Process(ptr, static_cast<int>(n)));
        at += n;
    }
    for (int n; (n = limiter.Flush(ptr, 1152)) > 0;) keep(n);
    if (smallest) *smallest = limiter.SmallestGain();
    return out;
}

// The library's true peak (four times oversampled) of all channels.
double LibraryPeak(const Signal& s, int rate) {
    ebur128_state* st = ebur128_init(static_cast<unsigned>(s.size()),
                                     static_cast<unsigned long>(rate), EBUR128_MODE_TRUE_PEAK);
    std::vector<float> interleaved;
    for (size_t i = 0; i < s[0].size(); ++i)
        for (const auto& c : s) interleaved.push_back(c[i]);
    ebur128_add_frames_float(st, interleaved.data(), s[0].size());
    double peak = 0.0;
    for (size_t c = 0; c < s.size(); ++c) {
        double v = 0.0;
        ebur128_true_peak(st, static_cast<unsigned>(c), &v);
        peak = std::max(peak, v);
    }
    ebur128_destroy(&st);
    return peak;
}

double OwnPeak(const Signal& s, int rate) {
    CTruePeakMeter meter(static_cast<int>(s.size()), rate);
    for (size_t c = 0; c < s.size(); ++c)
        meter.Add(static_cast<int>(c), s[c].data(), static_cast<int>(s[c].size()));
    return meter.Peak();
}

double Db(double v) { return 20.0 * std::log10(v); }

TEST(PeakLimiter, HoldsTheTruePeakOfEveryTroublesomeSignal) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    struct Case {
        const char* name;
        int rate;
        Signal in;
    };
    const Case cases[] = {
        // Struck notes that decay fast: peaks far above the loudness.
        {"piano-like notes", 44100, Make(2, 44100, 3.0, [](int c, double t, int) {
             const double note = std::fmod(t, 0.5);
             const double f = 220.0 * (1 + std::floor(t / 0.5));
             return (0.7 * std::sin(2 * kPi * f * t) + 0.3 * std::sin(4 * kPi * f * t + c)) *
                    1.6 * std::exp(-12.0 * note);
         })},
        {"tone at a quarter of the rate", 48000, Make(1, 48000, 1.0, [](int, double, int i) {
             return 1.5 * std::sin(kPi / 2 * i + kPi / 4);
         })},
        {"tone near half the rate", 44100, Make(2, 44100, 1.0, [](int c, double t, int) {
             return 1.3 * std::sin(2 * kPi * 20500.0 * t + 0.4 * c);
         })},
        {"speech-like bursts", 22050, Make(1, 22050, 3.0, [&](int, double t, int) {
             const double syllable = std::pow(std::sin(kPi * 4.0 * t), 2);
             const double pause = std::fmod(t, 1.0) < 0.6 ? 1.0 : 0.0;
             return 1.8 * std::pow(noise(random), 3) * syllable * pause;
         })},
        // A master clipped at full scale, then raised: flat tops whose
        // inter-sample crests rise above them.
        {"clipped master", 44100, Make(2, 44100, 2.0, [](int c, double t, int) {
             const double v = 2.5 * (std::sin(2 * kPi * 997.0 * t) +
                                     0.5 * std::sin(2 * kPi * 13001.0 * t + c));
             return 1.4 * std::clamp(v, -1.0, 1.0);
         })},
    };
    const float ceiling = static_cast<float>(std::pow(10.0, -1.0 / 20.0));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_GT(OwnPeak(c.in, c.rate), ceiling * 1.25);  // the trouble is real
        float smallest = 1.0f;
        const Signal out = Limit(c.in, c.rate, ceiling, &smallest);
        ASSERT_EQ(out.size(), c.in.size());
        EXPECT_EQ(out[0].size(), c.in[0].size());
        EXPECT_LE(Db(LibraryPeak(out, c.rate) / ceiling), 0.01);
        EXPECT_LE(Db(OwnPeak(out, c.rate) / ceiling), 0.01);
        EXPECT_LT(smallest, 0.8f);
    }
}

// A steady tone under the ceiling with one loud burst: the tone leaves
// unchanged (only delayed) until the look-ahead before the burst, and is
// back within 1% a little after five release times; no other frame of it
// is touched.
TEST(PeakLimiter, LeavesAudioUnderTheCeilingAloneAndRecoversSmoothly) {
    const int rate = 48000;
    const double burstAt = 0.5, burstLength = 0.05;
    const Signal in = Make(1, rate, 2.0, [&](int, double t, int) {
        const double tone = 0.3 * std::sin(2 * kPi * 440.0 * t);
        return t >= burstAt && t < burstAt + burstLength ? tone * 3.5 : tone;
    });
    const Signal out = Limit(in, rate, 0.5f);
    ASSERT_EQ(out[0].size(), in[0].size());
    const auto frame = [&](double t) { return static_cast<size_t>(t * rate); };
    const double lookAhead = CPeakLimiter::kLookAheadSeconds + 0.001;
    for (size_t i = 0; i < frame(burstAt - lookAhead); ++i)
        ASSERT_EQ(out[0][i], in[0][i]) << i;
    const double recovered = burstAt + burstLength + 5.5 * CPeakLimiter::kReleaseSeconds;
    for (size_t i = frame(recovered); i < in[0].size(); ++i)
        ASSERT_NEAR(out[0][i], in[0][i], 0.01 * 0.3) << i;
    // The gain falls before the burst: the burst itself leaves under 0.5.
    for (size_t i = frame(burstAt); i < frame(burstAt + burstLength); ++i)
        ASSERT_LE(std::fabs(out[0][i]), 0.5f) << i;
}

TEST(PeakLimiter, RefusesWhatItCannotLimitAndDrainsShortInput) {
    CPeakLimiter limiter;
    EXPECT_FALSE(limiter.Begin(0, 44100, 1.0f));
    EXPECT_FALSE(limiter.Begin(2, 0, 1.0f));
    EXPECT_FALSE(limiter.Begin(2, 44100, 0.0f));
    EXPECT_FALSE(limiter.Begin(2, 44100, std::nanf("")));
    EXPECT_FALSE(limiter.Started());
    // Fewer frames than the look-ahead: all of them leave with the drain.
    const Signal in = Make(2, 44100, 0.001, [](int c, double, int i) { return 0.1 * (i + c); });
    const Signal out = Limit(in, 44100, 100.0f);
    ASSERT_EQ(out[0].size(), in[0].size());
    EXPECT_EQ(out, in);
}

}  // namespace
}  // namespace quelvox
