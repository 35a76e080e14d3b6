#include "engine/TruePeakMeter.h"

#include <ebur128.h>
#include <gtest/gtest.h>

#include <algorithm>
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

TEST(TruePeakMeter, EqualsTheLibrarysTruePeakFrom96kHz) {
    // Uneven chunks carry each channel's history across calls; a chunk of
    // fewer than four samples takes the one-by-one path.
    const std::vector<int> chunks = {1, 3, 4096, 777, 2, 5000, 11};
    int frames = 0;
    for (int n : chunks) frames += n;
    for (int rate : {96000, 192000}) {
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

// A sum of tones faded in and out over 512 samples (an abrupt start would
// ring), its continuous peak found by evaluating it 256 times between
// samples: the reference the meter is held to below 96 kHz.
struct Tones {
    std::vector<std::pair<double, double>> parts;  // (cycles per sample, amplitude)
    double phase = 0.0;
    double At(double n, double length) const {
        const double edge = std::clamp(std::min(n, length - n) / 512.0, 0.0, 1.0);
        const double fade = std::pow(std::sin(std::numbers::pi / 2 * edge), 2);
        double v = 0.0;
        for (const auto& [f, a] : parts) v += a * std::sin(2 * std::numbers::pi * f * n + phase);
        return v * fade;
    }
};

TEST(TruePeakMeter, ReadsContentUpToNearHalfTheRateBelow96kHz) {
    struct Case {
        const char* name;
        int rate;
        Tones tones;
        double toleranceDb;
    };
    const Case cases[] = {
        {"quarter rate, crests between samples", 44100, {{{0.25, 0.5}}, std::numbers::pi / 4}, 0.05},
        {"20 kHz at 44.1 kHz", 44100, {{{20000.0 / 44100, 0.5}}, 0.3}, 0.15},
        {"0.47 of the rate at 48 kHz", 48000, {{{0.47, 0.7}}, 1.1}, 0.15},
        {"0.476 of the rate at 22.05 kHz", 22050, {{{10500.0 / 22050, 0.4}}, 0.0}, 0.15},
        {"two tones near half the rate", 44100, {{{0.43, 0.3}, {0.45, 0.3}}, 0.7}, 0.15},
        {"a low and a high tone", 32000, {{{0.01, 0.4}, {0.46, 0.2}}, 0.2}, 0.15},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int frames = c.rate / 2;
        std::vector<float> x(static_cast<size_t>(frames));
        for (int i = 0; i < frames; ++i)
            x[static_cast<size_t>(i)] = static_cast<float>(c.tones.At(i, frames));
        double expected = 0.0;
        for (int i = 0; i < frames * 256; ++i)
            expected = std::max(expected, std::fabs(c.tones.At(i / 256.0, frames)));
        CTruePeakMeter meter(1, c.rate);
        // Uneven chunks, as blocks of a reader.
        for (int at = 0; at < frames;) {
            const int n = std::min(frames - at, 1 + (at * 7) % 1500);
            meter.Add(0, x.data() + at, n);
            at += n;
        }
        EXPECT_NEAR(20 * std::log10(meter.Peak() / expected), 0.0, c.toleranceDb)
            << meter.Peak() << " vs " << expected;
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
