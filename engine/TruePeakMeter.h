// True (inter-sample) peak after ITU-R BS.1770 Annex 2, as libebur128
// measures it: every channel oversampled by a polyphase interpolator (a
// 49-tap Hann-windowed sinc; four times below 96 kHz, twice below 192 kHz,
// not at all above), the largest magnitude of the oversampled signal and of
// the samples themselves kept.
//
// The sums run in double, tap by tap in the library's order, so the peak
// equals the library's; but they run over four output samples at once,
// which the library's one-sample ring-buffer loop cannot, and that makes
// the meter several times faster than EBUR128_MODE_TRUE_PEAK.
#pragma once

#include <cstddef>
#include <vector>

namespace quelvox {

class CTruePeakMeter {
public:
    // `channels` independent channels at `rate` Hz.
    CTruePeakMeter(int channels, int rate);

    // Adds `count` samples of channel `channel`; each channel's samples
    // follow on from that channel's previous call.
    void Add(int channel, const float* samples, int count);

    // Largest true peak of channel `channel`, or of any channel; linear,
    // 1.0 = full scale.
    double Peak(int channel) const;
    double Peak() const;

private:
    struct Channel {
        std::vector<double> history;  // the last `history_` input samples
        double largest = 0.0;         // largest magnitude of a sum
        double samplePeak = 0.0;
    };

    // The interpolating phases' coefficients: row t holds each phase's
    // coefficient of the input sample t samples back (0 where it has none).
    std::vector<double> table_;
    int phases_ = 0;
    int rows_ = 0;
    int history_ = 0;  // rows_ - 1: how far back the earliest tap reads
    double (*kernel_)(const double*, std::ptrdiff_t, const double*, double) = nullptr;
    std::vector<Channel> channels_;
    std::vector<double> scratch_;
};

}  // namespace quelvox
