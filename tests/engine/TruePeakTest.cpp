#include "engine/TruePeakMeter.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

namespace quelvox {
namespace {

// Two channels of `frames` samples: a sine at a quarter of the rate whose
// samples miss its crests (they fall at ±0.354 of 0.5), and noise.
std::vector<std::vector<float>> Signals(int frames, unsigned seed) {
    std::vector<std::vector<float>> ch(2, std::vector<float>(static_cast<size_t>(frames)));
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> noise(-0.6f, 0.6f);
    for (int i = 0; i < frames; ++i) {
        ch[0][static_cast<size_t>(i)] = static_cast<float>(
            0.5 * std::sin(std::numbers::pi / 2 * i + std::numbers::pi / 4));
        ch[1][static_cast<size_t>(i)] = noise(random);
    }
    return ch;
}

// The library's own true peak of each channel, fed the same chunks.
std::vector<double> LibraryPeaks(const std::vector<std::vector<float>>& ch, int rate,
                                 const std::vector<int>& chunks) {
    ebur128_state* st = ebur128_init(static_cast<unsigned>(ch.size()),
                                     static_cast<unsigned long>(rate), EBUR128_MODE_TRUE_PEAK);
    std::vector<float> interleaved;
    size_t at = 0;
    for (int n : chunks) {
        interleaved.clear();
        for (size_t i = at; i < at + static_cast<size_t>(n); ++i)
            for (const auto& c : ch) interleaved.push_back(c[i]);
        ebur128_add_frames_float(st, interleaved.data(), static_cast<size_t>(n));
        at += static_cast<size_t>(n);
    }
    std::vector<double> peaks(ch.size());
    for (size_t c = 0; c < ch.size(); ++c)
        ebur128_true_peak(st, static_cast<unsigned>(c), &peaks[c]);
    ebur128_destroy(&st);
    return peaks;
}

TEST(TruePeakMeter, EqualsTheLibrarysTruePeakAtEveryOversamplingRate) {
    // Uneven chunks carry each channel's history across calls; a chunk of
    // fewer than four samples takes the one-by-one path.
    const std::vector<int> chunks = {1, 3, 4096, 777, 2, 5000, 11};
    int frames = 0;
    for (int n : chunks) frames += n;
    for (int rate : {44100, 48000, 96000, 192000}) {
        SCOPED_TRACE(rate);
        const auto ch = Signals(frames, static_cast<unsigned>(rate));
        CTruePeakMeter meter(2, rate);
        size_t at = 0;
        for (int n : chunks) {
            for (int c = 0; c < 2; ++c)
                meter.Add(c, ch[static_cast<size_t>(c)].data() + at, n);
            at += static_cast<size_t>(n);
        }
        const std::vector<double> expected = LibraryPeaks(ch, rate, chunks);
        EXPECT_EQ(meter.Peak(0), expected[0]);
        EXPECT_EQ(meter.Peak(1), expected[1]);
        EXPECT_EQ(meter.Peak(), std::max(expected[0], expected[1]));
    }
}

TEST(TruePeakMeter, FindsTheCrestsBetweenSamples) {
    const auto ch = Signals(44100, 1);
    CTruePeakMeter oversampled(1, 44100), plain(1, 192000);
    oversampled.Add(0, ch[0].data(), 44100);
    plain.Add(0, ch[0].data(), 44100);
    EXPECT_NEAR(oversampled.Peak(), 0.5, 0.01);
    EXPECT_NEAR(plain.Peak(), 0.5 * std::sqrt(0.5), 1e-6);  // the sample peak
    EXPECT_EQ(oversampled.Peak(5), 0.0);
}

}  // namespace
}  // namespace quelvox
