// True (inter-sample) peak after ITU-R BS.1770 Annex 2: every channel
// oversampled by a polyphase interpolator, the largest magnitude of the
// oversampled signal and of the samples themselves kept.
//
// Below 96 kHz the signal is oversampled eight times by CPeakInterpolator
// (a long Kaiser-windowed sinc, flat to within 0.1 dB up to 0.45 of the
// rate), which reads content near half the rate that libebur128's four
// times with a 49-tap Hann-windowed sinc under-reads by up to 2 dB. From
// 96 kHz the library's own interpolator is kept (twice below 192 kHz, not
// at all above): its sums run in double, tap by tap in the library's order,
// so the peak equals the library's, but over four output samples at once,
// which makes the meter several times faster than EBUR128_MODE_TRUE_PEAK.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quelvox {

// Eight-times interpolation of one channel for its peaks between samples:
// 7 phases of 2 × kHalf taps (a Kaiser-windowed sinc, each phase scaled to
// unity gain at 0 Hz), in float, eight output samples at once.
class CPeakInterpolator {
public:
    // Input samples each side of an interpolated point.
    static constexpr int kHalf = 16;
    // Samples before x[0] that Run and Largest read: x[-kHistory] … x[-1].
    static constexpr int kHistory = 2 * kHalf - 1;
    static constexpr int kFactor = 8;

    // With `alsoFourTimes`, each value is also at least what four-times
    // meters with a 49-tap Hann-windowed sinc (libebur128's, ffmpeg's)
    // read there: on content near half the rate their short filter reads
    // up to a few tenths of a dB high, and a limiter holding the peak
    // under a ceiling holds it under theirs too.
    explicit CPeakInterpolator(bool alsoFourTimes = false);

    // For each of `n` frames: out[i] = the largest magnitude of sample
    // x[i - kHalf] and of the interpolated points between it and the
    // sample after it. x[-kHistory] … x[n - 1] must be readable.
    void Run(const float* x, int n, float* out) const;
    // The largest of those `n` values and `largest`.
    float Largest(const float* x, int n, float largest) const;

private:
    int phases_ = kFactor - 1;
    // Row t: each phase's coefficient of x[i - t].
    std::vector<float> table_;
};

// The one interpolator every meter and limiter reads with (its table is
// computed once and only read).
const CPeakInterpolator& SharedPeakInterpolator(bool alsoFourTimes = false);

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

    // Frames in one piece of the peak envelope.
    static constexpr int kEnvelopeFrames = 64;
    // From now on also keeps the largest peak of every piece of
    // kEnvelopeFrames frames, over all channels (each interpolated point
    // counted with the frame that completed it).
    void KeepEnvelope() { envelope_ = true; }
    const std::vector<float>& Envelope() const { return pieces_; }

private:
    struct Channel {
        std::vector<double> history;  // the last `history_` input samples
        double largest = 0.0;         // largest magnitude of a sum
        double samplePeak = 0.0;
        std::vector<float> recent;    // eight times: the last kHistory samples
    };
    // The largest magnitude of interpolated points completed by `n` frames
    // at x (x[-history] … valid), folded into `largest`.
    double Largest(const double* x, const float* xf, int n, double largest) const;
    // Eight times oversampling (below 96 kHz).
    bool eightTimes_ = false;
    bool envelope_ = false;
    std::vector<float> pieces_;
    std::vector<uint64_t> added_;  // frames each channel was given
    std::vector<float> floatScratch_;

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
