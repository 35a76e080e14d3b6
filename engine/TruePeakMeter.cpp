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

}  // namespace

CTruePeakMeter::CTruePeakMeter(int channels, int rate) {
    channels_.resize(static_cast<size_t>(std::max(channels, 0)));
    // Like the library: four times below 96 kHz, twice below 192 kHz; at
    // higher rates the sample peak is the true peak.
    const int factor = rate < 96000 ? 4 : rate < 192000 ? 2 : 1;
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

void CTruePeakMeter::Add(int channel, const float* samples, int count) {
    if (channel < 0 || static_cast<size_t>(channel) >= channels_.size() || count <= 0) return;
    Channel& ch = channels_[static_cast<size_t>(channel)];
    const auto h = static_cast<size_t>(history_);
    const auto n = static_cast<size_t>(count);
    scratch_.resize(h + n);
    std::copy(ch.history.begin(), ch.history.end(), scratch_.begin());
    double peak = ch.samplePeak;
    for (size_t i = 0; i < n; ++i) {
        const double v = samples[i];
        scratch_[h + i] = v;
        peak = std::max(peak, std::fabs(v));
    }
    ch.samplePeak = peak;

    const double* x = scratch_.data() + h;
    const auto frames = static_cast<std::ptrdiff_t>(n);
    if (kernel_) ch.largest = kernel_(x, frames, table_.data(), ch.largest);
    std::copy(scratch_.end() - static_cast<std::ptrdiff_t>(h), scratch_.end(), ch.history.begin());
}

double CTruePeakMeter::Peak(int channel) const {
    if (channel < 0 || static_cast<size_t>(channel) >= channels_.size()) return 0.0;
    const Channel& ch = channels_[static_cast<size_t>(channel)];
    // The library keeps its interpolated samples as floats.
    return std::max(static_cast<double>(static_cast<float>(ch.largest)), ch.samplePeak);
}

double CTruePeakMeter::Peak() const {
    double peak = 0.0;
    for (size_t c = 0; c < channels_.size(); ++c) peak = std::max(peak, Peak(static_cast<int>(c)));
    return peak;
}

}  // namespace quelvox
