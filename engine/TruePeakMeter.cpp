#include "engine/TruePeakMeter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

// The sums must stay separate multiplications and additions, as in the
// library: a fused multiply-add rounds differently (CMakeLists.txt builds
// this file with -ffp-contract=off).

namespace quelvox {

namespace {

// Four doubles, for sums over four output samples at once; the compiler
// lowers them to whatever vector registers the target has.
using Lanes = double __attribute__((vector_size(32)));

constexpr int kTaps = 49;
constexpr double kAlmostZero = 0.000001;

// The interpolated samples of `phases` phases between x[0] … x[n-1], whose
// `taps` - 1 earlier samples x[-1], x[-2] … are valid too; returns the
// largest magnitude among them and `largest`. Row t of `c` holds, for each
// phase, the coefficient of the input t samples back (0 where the phase has
// none there: adding +0 changes no sum).
template <int phases, int taps>
[[gnu::always_inline]] inline double InterpolateBody(const double* x, std::ptrdiff_t n,
                                                     const double* c, double largest) {
    Lanes high = {}, low = {};
    std::ptrdiff_t i = 0;
    for (; i + 4 <= n; i += 4) {
        Lanes acc[phases] = {};
        for (int t = 0; t < taps; ++t) {
            Lanes v;
            std::memcpy(&v, x + i - t, sizeof v);
            for (int p = 0; p < phases; ++p) {
                const double k = c[t * phases + p];
                acc[p] += v * Lanes{k, k, k, k};
            }
        }
        for (int p = 0; p < phases; ++p) {
            high = acc[p] > high ? acc[p] : high;
            low = acc[p] < low ? acc[p] : low;
        }
    }
    for (int lane = 0; lane < 4; ++lane)
        largest = std::max({largest, high[lane], -low[lane]});
    for (; i < n; ++i) {
        double acc[phases] = {};
        for (int t = 0; t < taps; ++t)
            for (int p = 0; p < phases; ++p) acc[p] += x[i - t] * c[t * phases + p];
        for (int p = 0; p < phases; ++p) largest = std::max(largest, std::fabs(acc[p]));
    }
    return largest;
}

// The same, built for the processor the program was built for, and, on x86,
// once more with AVX2's wider registers, taken when the processor has them.
template <int phases, int taps>
double Interpolate(const double* x, std::ptrdiff_t n, const double* c, double largest) {
    return InterpolateBody<phases, taps>(x, n, c, largest);
}
#if defined(__x86_64__) && defined(__GNUC__)
template <int phases, int taps>
[[gnu::target("avx2")]] double InterpolateAvx2(const double* x, std::ptrdiff_t n,
                                                const double* c, double largest) {
    return InterpolateBody<phases, taps>(x, n, c, largest);
}
#endif

using Kernel = double (*)(const double*, std::ptrdiff_t, const double*, double);

// The kernel for `phases` phases of `taps` taps: four times oversampling
// has three phases of 12 taps besides the copy, twice has one of 24.
Kernel KernelFor(int phases, int taps) {
#if defined(__x86_64__) && defined(__GNUC__)
    if (__builtin_cpu_supports("avx2")) {
        if (phases == 3 && taps == 12) return InterpolateAvx2<3, 12>;
        if (phases == 1 && taps == 24) return InterpolateAvx2<1, 24>;
    }
#endif
    if (phases == 3 && taps == 12) return Interpolate<3, 12>;
    if (phases == 1 && taps == 24) return Interpolate<1, 24>;
    return nullptr;
}

// Eight floats, for eight output samples at once.
using FloatLanes = float __attribute__((vector_size(32)));

constexpr int kPhases8 = CPeakInterpolator::kFactor - 1;
// With the four-times reading: three phases more.
constexpr int kPhasesBoth = kPhases8 + 3;
constexpr int kTaps8 = 2 * CPeakInterpolator::kHalf;
// The Kaiser window's shape: flat to within 0.11 dB up to 0.46 of the rate
// with 32 taps a phase (a larger beta trades flatness for a steeper edge).
constexpr double kKaiserBeta = 4.0;

// The per-frame largest magnitudes (into `out`, when `perFrame`) and their
// largest together with `largest`.
template <bool perFrame, int kPhases>
[[gnu::always_inline]] inline float EightTimesBody(const float* x, std::ptrdiff_t n,
                                                   const float* c, float* out, float largest) {
    constexpr std::ptrdiff_t kHalf = CPeakInterpolator::kHalf;
    FloatLanes top = {};
    std::ptrdiff_t i = 0;
    for (; i + 8 <= n; i += 8) {
        FloatLanes acc[kPhases] = {};
        for (int t = 0; t < kTaps8; ++t) {
            FloatLanes v;
            std::memcpy(&v, x + i - t, sizeof v);
            for (int p = 0; p < kPhases; ++p) {
                const float k = c[t * kPhases + p];
                acc[p] += v * k;
            }
        }
        FloatLanes m;
        std::memcpy(&m, x + i - kHalf, sizeof m);
        m = m < 0 ? -m : m;
        for (int p = 0; p < kPhases; ++p) {
            const FloatLanes a = acc[p] < 0 ? -acc[p] : acc[p];
            m = a > m ? a : m;
        }
        if constexpr (perFrame) std::memcpy(out + i, &m, sizeof m);
        top = m > top ? m : top;
    }
    for (int lane = 0; lane < 8; ++lane) largest = std::max(largest, top[lane]);
    for (; i < n; ++i) {
        float acc[kPhases] = {};
        for (int t = 0; t < kTaps8; ++t)
            for (int p = 0; p < kPhases; ++p) acc[p] += x[i - t] * c[t * kPhases + p];
        float m = std::fabs(x[i - kHalf]);
        for (int p = 0; p < kPhases; ++p) m = std::max(m, std::fabs(acc[p]));
        if constexpr (perFrame) out[i] = m;
        largest = std::max(largest, m);
    }
    return largest;
}

template <bool perFrame, int kPhases>
float EightTimes(const float* x, std::ptrdiff_t n, const float* c, float* out, float largest) {
    return EightTimesBody<perFrame, kPhases>(x, n, c, out, largest);
}
#if defined(__x86_64__) && defined(__GNUC__)
template <bool perFrame, int kPhases>
[[gnu::target("avx2,fma")]] float EightTimesAvx2(const float* x, std::ptrdiff_t n,
                                                 const float* c, float* out, float largest) {
    return EightTimesBody<perFrame, kPhases>(x, n, c, out, largest);
}
#endif

using EightTimesKernel = float (*)(const float*, std::ptrdiff_t, const float*, float*, float);

template <bool perFrame, int kPhases>
EightTimesKernel EightTimesFor() {
#if defined(__x86_64__) && defined(__GNUC__)
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))
        return EightTimesAvx2<perFrame, kPhases>;
#endif
    return EightTimes<perFrame, kPhases>;
}

// The modified Bessel function of the first kind, order 0 (its series).
double BesselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 60; ++k) {
        const double half = x / (2.0 * k);
        term *= half * half;
        sum += term;
        if (term < sum * 1e-17) break;
    }
    return sum;
}

}  // namespace

CPeakInterpolator::CPeakInterpolator(bool alsoFourTimes)
    : phases_(alsoFourTimes ? kPhasesBoth : kPhases8) {
    table_.assign(static_cast<size_t>(kTaps8 * phases_), 0.0f);
    for (int p = 0; p < phases_; ++p) {
        std::vector<double> h(static_cast<size_t>(kTaps8));
        double sum = 0.0;
        const bool eighths = p < kPhases8;
        // The point lies tau after x[i - kHalf]; tap t reads x[i - t].
        const double tau = eighths ? static_cast<double>(p + 1) / kFactor
                                   : static_cast<double>(p - kPhases8 + 1) / 4.0;
        for (int t = 0; t < kTaps8; ++t) {
            const double u = static_cast<double>(t - kHalf) + tau;
            const double sinc = std::sin(std::numbers::pi * u) / (std::numbers::pi * u);
            double window = 0.0;
            if (eighths) {
                const double r = u / kHalf;
                window = BesselI0(kKaiserBeta * std::sqrt(std::max(0.0, 1.0 - r * r))) /
                         BesselI0(kKaiserBeta);
            } else if (std::fabs(u) < 6.0) {
                // The 49-tap Hann window of four-times meters, 6 samples
                // either side.
                window = 0.5 * (1.0 + std::cos(std::numbers::pi * u / 6.0));
            }
            h[static_cast<size_t>(t)] = sinc * window;
            sum += h[static_cast<size_t>(t)];
        }
        // The eight-times phases pass 0 Hz unchanged; the four-times ones
        // stay as those meters have them.
        const double scale = eighths ? 1.0 / sum : 1.0;
        for (int t = 0; t < kTaps8; ++t)
            table_[static_cast<size_t>(t * phases_ + p)] =
                static_cast<float>(h[static_cast<size_t>(t)] * scale);
    }
}

void CPeakInterpolator::Run(const float* x, int n, float* out) const {
    static const EightTimesKernel eight = EightTimesFor<true, kPhases8>();
    static const EightTimesKernel both = EightTimesFor<true, kPhasesBoth>();
    if (n > 0) (phases_ == kPhases8 ? eight : both)(x, n, table_.data(), out, 0.0f);
}

float CPeakInterpolator::Largest(const float* x, int n, float largest) const {
    static const EightTimesKernel eight = EightTimesFor<false, kPhases8>();
    static const EightTimesKernel both = EightTimesFor<false, kPhasesBoth>();
    return n > 0 ? (phases_ == kPhases8 ? eight : both)(x, n, table_.data(), nullptr, largest)
                 : largest;
}

const CPeakInterpolator& SharedPeakInterpolator(bool alsoFourTimes) {
    static const CPeakInterpolator eightTimes(false);
    static const CPeakInterpolator both(true);
    return alsoFourTimes ? both : eightTimes;
}

CTruePeakMeter::CTruePeakMeter(int channels, int rate) {
    channels_.resize(static_cast<size_t>(std::max(channels, 0)));
    if (rate < 96000) {
        eightTimes_ = true;
        for (Channel& ch : channels_)
            ch.recent.assign(static_cast<size_t>(CPeakInterpolator::kHistory), 0.0f);
        return;
    }
    // Like the library from 96 kHz: twice below 192 kHz; at higher rates
    // the sample peak is the true peak.
    const int factor = rate < 192000 ? 2 : 1;
    if (factor == 1) return;

    // The coefficients of a Hann-windowed sinc, dealt out to the phases;
    // near-zero ones are left out, as the library does.
    std::vector<std::vector<std::pair<int, double>>> taps(static_cast<size_t>(factor));
    for (int j = 0; j < kTaps; ++j) {
        const double m = static_cast<double>(j) - static_cast<double>(kTaps - 1) / 2.0;
        double c = 1.0;
        if (std::fabs(m) > kAlmostZero)
            c = std::sin(m * std::numbers::pi / factor) / (m * std::numbers::pi / factor);
        c *= 0.5 * (1 - std::cos(2 * std::numbers::pi * j / (kTaps - 1)));
        if (std::fabs(c) > kAlmostZero)
            taps[static_cast<size_t>(j % factor)].emplace_back(j / factor, c);
    }
    std::vector<const std::vector<std::pair<int, double>>*> used;
    for (const auto& phase : taps) {
        // A phase that repeats an input sample adds nothing to the sample
        // peak, which is kept anyway.
        if (phase.empty() || (phase.size() == 1 && phase.front().second == 1.0)) continue;
        used.push_back(&phase);
        for (const auto& tap : phase) history_ = std::max(history_, tap.first);
    }
    phases_ = static_cast<int>(used.size());
    rows_ = history_ + 1;
    const auto columns = used.size();
    table_.assign(static_cast<size_t>(rows_) * columns, 0.0);
    for (size_t p = 0; p < columns; ++p)
        for (const auto& [delay, coefficient] : *used[p])
            table_[static_cast<size_t>(delay) * columns + p] = coefficient;
    kernel_ = KernelFor(phases_, rows_);
    for (Channel& ch : channels_) ch.history.assign(static_cast<size_t>(history_), 0.0);
}

double CTruePeakMeter::Largest(const double* x, const float* xf, int n, double largest) const {
    if (eightTimes_)
        return SharedPeakInterpolator().Largest(xf, n, static_cast<float>(largest));
    return kernel_ ? kernel_(x, n, table_.data(), largest) : largest;
}

void CTruePeakMeter::Add(int channel, const float* samples, int count) {
    if (channel < 0 || static_cast<size_t>(channel) >= channels_.size() || count <= 0) return;
    Channel& ch = channels_[static_cast<size_t>(channel)];
    const auto n = static_cast<size_t>(count);
    double peak = ch.samplePeak;
    for (size_t i = 0; i < n; ++i) peak = std::max(peak, static_cast<double>(std::fabs(samples[i])));
    ch.samplePeak = peak;

    // The samples after the channel's history, as the interpolator reads
    // them (float eight times, double as the library).
    const double* x = nullptr;
    const float* xf = nullptr;
    size_t h = 0;
    if (eightTimes_) {
        h = ch.recent.size();
        floatScratch_.resize(h + n);
        std::copy(ch.recent.begin(), ch.recent.end(), floatScratch_.begin());
        std::copy(samples, samples + n, floatScratch_.begin() + static_cast<std::ptrdiff_t>(h));
        xf = floatScratch_.data() + h;
    } else {
        h = static_cast<size_t>(history_);
        scratch_.resize(h + n);
        std::copy(ch.history.begin(), ch.history.end(), scratch_.begin());
        for (size_t i = 0; i < n; ++i) scratch_[h + i] = samples[i];
        x = scratch_.data() + h;
    }

    if (!envelope_) {
        ch.largest = Largest(x, xf, count, ch.largest);
    } else {
        // Piece by piece, each piece's own largest kept too.
        if (added_.size() != channels_.size()) added_.assign(channels_.size(), 0);
        uint64_t& done = added_[static_cast<size_t>(channel)];
        for (size_t at = 0; at < n;) {
            const uint64_t piece = done / kEnvelopeFrames;
            const size_t m = std::min<size_t>(n - at, kEnvelopeFrames - done % kEnvelopeFrames);
            double v = Largest(x ? x + at : nullptr, xf ? xf + at : nullptr, static_cast<int>(m), 0.0);
            for (size_t i = at; i < at + m; ++i) v = std::max(v, static_cast<double>(std::fabs(samples[i])));
            ch.largest = std::max(ch.largest, v);
            if (pieces_.size() <= piece) pieces_.resize(piece + 1, 0.0f);
            pieces_[piece] = std::max(pieces_[piece], static_cast<float>(v));
            done += m;
            at += m;
        }
    }
    if (eightTimes_)
        std::copy(floatScratch_.end() - static_cast<std::ptrdiff_t>(h), floatScratch_.end(),
                  ch.recent.begin());
    else
        std::copy(scratch_.end() - static_cast<std::ptrdiff_t>(h), scratch_.end(),
                  ch.history.begin());
}

double CTruePeakMeter::Peak(int channel) const {
    if (channel < 0 || static_cast<size_t>(channel) >= channels_.size()) return 0.0;
    const Channel& ch = channels_[static_cast<size_t>(channel)];
    // The library keeps its interpolated samples as floats (and so does
    // the eight-times interpolator).
    return std::max(static_cast<double>(static_cast<float>(ch.largest)), ch.samplePeak);
}

double CTruePeakMeter::Peak() const {
    double peak = 0.0;
    for (size_t c = 0; c < channels_.size(); ++c) peak = std::max(peak, Peak(static_cast<int>(c)));
    return peak;
}

}  // namespace quelvox
