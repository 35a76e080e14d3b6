#include "engine/LoudnessMeter.h"

#include "common/AudioBlock.h"
#include "common/AudioStream.h"
#include "common/SampleHelpers.h"
#include "engine/PeakLimiter.h"
#include "engine/TruePeakMeter.h"
#include "settings/SettingDecl.h"
#include "settings/Settings.h"

#include <ebur128.h>

#include <algorithm>
#include <cmath>
#include <charconv>
#include <deque>
#include <limits>

namespace quelvox {

namespace {

constexpr double kMinimumSeconds = 0.4;

// How libebur128 weighs a channel of position `position`: fronts as they
// are, surrounds (side, back) raised, the low-frequency channel left out.
int ChannelRole(uint64_t position) {
    using namespace channel;
    switch (position) {
        case kFrontLeft:
        case kFrontLeftOfCenter: return EBUR128_LEFT;
        case kFrontRight:
        case kFrontRightOfCenter: return EBUR128_RIGHT;
        case kBackCenter: return EBUR128_Mp180;
        case kFrontCenter: return EBUR128_CENTER;
        case kLowFrequency: return EBUR128_UNUSED;
        case kBackLeft:
        case kSideLeft: return EBUR128_LEFT_SURROUND;
        case kBackRight:
        case kSideRight: return EBUR128_RIGHT_SURROUND;
        default: return EBUR128_CENTER;
    }
}

double ToDb(double linear) { return 20.0 * std::log10(linear); }

// `value` with `decimals` decimals and a point whatever the locale says
// (the window's process runs in the user's locale).
std::string Fixed(double value, int decimals) {
    char text[64];
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return {};
    std::string out(text, result.ptr);
    return out == "-0.00" ? "0.00" : out;
}

}  // namespace

struct CLoudnessMeter::State {
    ebur128_state* st = nullptr;
    // The true peaks, measured by our own meter (equal to the library's
    // EBUR128_MODE_TRUE_PEAK, and many times faster).
    std::unique_ptr<CTruePeakMeter> peaks;
    ~State() {
        if (st) ebur128_destroy(&st);
    }
};

CLoudnessMeter::CLoudnessMeter(bool truePeak, bool envelope)
    : truePeak_(truePeak), envelope_(envelope && truePeak) {}

CLoudnessMeter::~CLoudnessMeter() = default;

bool CLoudnessMeter::Begin(int channels, int rate, uint64_t layout) {
    state_.reset();
    frames_ = 0;
    channels_ = 0;
    rate_ = 0;
    if (channels < 1 || channels > kMaxChannels || rate < 1) return false;
    ebur128_state* st = ebur128_init(
        static_cast<unsigned>(channels), static_cast<unsigned long>(rate),
        EBUR128_MODE_I | (truePeak_ ? 0 : EBUR128_MODE_SAMPLE_PEAK));
    if (!st) return false;
    state_ = std::make_unique<State>();
    state_->st = st;
    if (truePeak_) state_->peaks = std::make_unique<CTruePeakMeter>(channels, rate);
    if (envelope_) state_->peaks->KeepEnvelope();
    energy_.clear();
    channels_ = channels;
    rate_ = rate;
    // Mono and stereo keep the library's own map (a mono channel counts
    // once, as left).
    if (channels > 2) {
        const uint64_t positions =
            LayoutChannels(layout) == channels ? layout : DefaultLayout(channels);
        for (int c = 0; c < channels; ++c)
            ebur128_set_channel(state_->st, static_cast<unsigned>(c),
                                ChannelRole(ChannelAt(positions, c)));
    }
    interleaved_.assign(static_cast<size_t>(kBlockFrames) * static_cast<size_t>(channels), 0.0f);
    planar_.assign(interleaved_.size(), 0.0f);
    return true;
}

void CLoudnessMeter::Add(const float* const* ch, int frames) {
    if (!state_ || frames <= 0) return;
    const auto stride = static_cast<size_t>(channels_);
    for (int done = 0; done < frames;) {
        const int n = std::min(frames - done, kBlockFrames);
        const auto count = static_cast<size_t>(n);
        for (size_t c = 0; c < stride; ++c) {
            const float* from = ch[c] + done;
            float* to = planar_.data() + c * static_cast<size_t>(kBlockFrames);
            for (size_t i = 0; i < count; ++i) {
                // A broken stream may decode to NaN or infinity; the
                // filters would keep it for the rest of the file. Readers
                // hand on no more than SaneFloatSample keeps.
                to[i] = SaneFloatSample(from[i]);
            }
            for (size_t i = 0; i < count; ++i) interleaved_[i * stride + c] = to[i];
        }
        if (envelope_) {
            constexpr auto kPiece = static_cast<uint64_t>(CTruePeakMeter::kEnvelopeFrames);
            const size_t last = static_cast<size_t>((frames_ + count - 1) / kPiece);
            if (energy_.size() <= last) energy_.resize(last + 1, 0.0f);
            for (size_t i = 0; i < count; ++i) {
                float e = 0.0f;
                for (size_t c = 0; c < stride; ++c) e += interleaved_[i * stride + c] * interleaved_[i * stride + c];
                energy_[static_cast<size_t>((frames_ + i) / kPiece)] += e;
            }
        }
        ebur128_add_frames_float(state_->st, interleaved_.data(), count);
        if (state_->peaks)
            for (size_t c = 0; c < stride; ++c)
                state_->peaks->Add(static_cast<int>(c),
                                   planar_.data() + c * static_cast<size_t>(kBlockFrames), n);
        frames_ += static_cast<uint64_t>(n);
        done += n;
    }
}

std::shared_ptr<const PeakEnvelope> CLoudnessMeter::Envelope() const {
    if (!envelope_ || !state_ || !state_->peaks) return nullptr;
    auto envelope = std::make_shared<PeakEnvelope>();
    envelope->rate = rate_;
    envelope->peak = state_->peaks->Envelope();
    envelope->energy = energy_;
    envelope->peak.resize(energy_.size(), 0.0f);
    return envelope;
}

double CLoudnessMeter::Loudness() const {
    double out = -std::numeric_limits<double>::infinity();
    if (!state_ || ebur128_loudness_global(state_->st, &out) != EBUR128_SUCCESS)
        return -std::numeric_limits<double>::infinity();
    return out;
}

double CLoudnessMeter::Peak() const {
    if (!state_) return 0.0;
    if (state_->peaks) return state_->peaks->Peak();
    double peak = 0.0;
    for (int c = 0; c < channels_; ++c) {
        double v = 0.0;
        if (ebur128_sample_peak(state_->st, static_cast<unsigned>(c), &v) == EBUR128_SUCCESS)
            peak = std::max(peak, v);
    }
    return peak;
}

double CLoudnessMeter::LoudnessOf(const std::vector<const CLoudnessMeter*>& meters) {
    std::vector<ebur128_state*> states;
    for (const CLoudnessMeter* m : meters)
        if (m && m->state_) states.push_back(m->state_->st);
    double out = -std::numeric_limits<double>::infinity();
    if (states.empty() ||
        ebur128_loudness_global_multiple(states.data(), states.size(), &out) != EBUR128_SUCCESS)
        return -std::numeric_limits<double>::infinity();
    return out;
}

LoudnessResult ResultOf(const CLoudnessMeter& meter) {
    LoudnessResult r;
    if (!meter.Started()) return r;
    r.valid = true;
    r.loudness = meter.Loudness();
    r.peak = meter.Peak();
    r.seconds = meter.Rate() > 0 ? static_cast<double>(meter.Frames()) / meter.Rate() : 0.0;
    if (std::shared_ptr<const PeakEnvelope> envelope = meter.Envelope())
        r.envelopes.push_back(std::move(envelope));
    return r;
}

double TargetLufs(const CSettings& settings) {
    return setting::LoudnessTarget.Valid(settings.LoudnessTarget);
}

double CeilingDbtp(const CSettings& settings) {
    return setting::TruePeakCeiling.Valid(settings.TruePeakCeiling) * 0.1;
}

bool LimitsLoudness(const CSettings& settings) {
    return settings.VolumeType == kVolumeLoudness &&
           setting::LoudnessLimiter.Valid(settings.LoudnessLimiter) != 0;
}

double LimitedLoudnessChange(const std::vector<std::shared_ptr<const PeakEnvelope>>& envelopes,
                             double gain, double ceiling) {
    double before = 0.0, after = 0.0;
    constexpr int kPiece = CTruePeakMeter::kEnvelopeFrames;
    for (const auto& e : envelopes) {
        if (!e || e->rate < 1 || e->energy.empty()) continue;
        // The limiter's look-ahead and release in pieces.
        const double lookAheadFrames = CPeakLimiter::kLookAheadSeconds * e->rate;
        const auto window = static_cast<size_t>(std::max(1.0, std::round(lookAheadFrames / kPiece)));
        const double keep = std::exp(-kPiece / (CPeakLimiter::kReleaseSeconds * e->rate));
        const size_t n = e->energy.size();
        // The needed gains' sliding minimum over the window, released,
        // then averaged over the window ahead of each piece.
        std::deque<std::pair<size_t, double>> minima;
        std::vector<double> released(n + window, 1.0);
        double current = 1.0;
        for (size_t s = 0; s < n + window; ++s) {
            const double peak = s < n ? e->peak[s] * gain : 0.0;
            const double need = peak > ceiling ? ceiling / peak : 1.0;
            while (!minima.empty() && minima.back().second >= need) minima.pop_back();
            minima.emplace_back(s, need);
            while (minima.front().first + window <= s) minima.pop_front();
            current = std::min(minima.front().second, 1.0 - (1.0 - current) * keep);
            released[s] = current;
        }
        double sum = 0.0;
        for (size_t s = 0; s < window; ++s) sum += released[s];
        for (size_t k = 0; k < n; ++k) {
            const double g = std::min(1.0, sum / static_cast<double>(window));
            before += e->energy[k];
            after += e->energy[k] * g * g;
            sum += released[k + window] - released[k];
        }
    }
    if (!(before > 0.0) || !(after > 0.0)) return 0.0;
    return std::min(0.0, 10.0 * std::log10(after / before));
}

float LimiterCeiling(const CSettings& settings, double headroomDb) {
    constexpr double kMarginDb = 0.1;
    const double db = CeilingDbtp(settings) - std::max(headroomDb, 0.0) - kMarginDb;
    return static_cast<float>(std::pow(10.0, db / 20.0));
}

double HeldLoudness(const CSettings& settings, const LoudnessResult& measured, float gain) {
    if (!measured.valid || !std::isfinite(measured.loudness) ||
        measured.loudness < kSilenceLufs || measured.seconds < kMinimumSeconds || !(gain > 0.0f))
        return std::numeric_limits<double>::quiet_NaN();
    const double reached = measured.loudness + ToDb(gain);
    return reached <= TargetLufs(settings) - 0.05 ? reached
                                                   : std::numeric_limits<double>::quiet_NaN();
}

float LoudnessGain(const CSettings& settings, const LoudnessResult& measured, double headroomDb) {
    if (!measured.valid || !std::isfinite(measured.loudness) ||
        measured.loudness < kSilenceLufs || measured.seconds < kMinimumSeconds)
        return 1.0f;
    double gain = std::pow(10.0, (TargetLufs(settings) - measured.loudness) / 20.0);
    gain = std::min(gain, 1e6);
    // The limiter holds the peaks; the gain takes the file all the way,
    // raised by what the limiter will take from its loudness.
    if (LimitsLoudness(settings)) {
        if (measured.envelopes.empty()) return static_cast<float>(gain);
        const double ceiling = LimiterCeiling(settings, headroomDb);
        // The loudness at gain g (in dB) rises with g; the least g that
        // reaches the target, within 20 dB above the plain gain.
        const double plainDb = ToDb(gain);
        auto reached = [&](double db) {
            return db + LimitedLoudnessChange(measured.envelopes, std::pow(10.0, db / 20.0), ceiling);
        };
        double lo = plainDb, hi = plainDb + 20.0;
        if (reached(lo) >= plainDb - 0.01) return static_cast<float>(gain);
        if (reached(hi) < plainDb) return static_cast<float>(std::min(std::pow(10.0, hi / 20.0), 1e6));
        for (int i = 0; i < 24; ++i) {
            const double mid = 0.5 * (lo + hi);
            (reached(mid) < plainDb ? lo : hi) = mid;
        }
        return static_cast<float>(std::min(std::pow(10.0, hi / 20.0), 1e6));
    }
    const double ceiling =
        std::pow(10.0, (CeilingDbtp(settings) - std::max(headroomDb, 0.0)) / 20.0);
    // The ceiling wins over every other bound: a gain is never left larger
    // than the one that keeps the peak at the ceiling.
    if (measured.peak > 0.0 && measured.peak * gain > ceiling)
        gain = ceiling / measured.peak;
    return std::max(static_cast<float>(gain), std::numeric_limits<float>::min());
}

ReplayGain ReplayGainFor(const LoudnessResult& track, const LoudnessResult& album, float gain) {
    ReplayGain rg;
    const double g = gain > 0.0f ? static_cast<double>(gain) : 1.0;
    auto fill = [g](const LoudnessResult& r, std::string& gainText, std::string& peakText) {
        if (!r.valid || !std::isfinite(r.loudness) || r.loudness < kSilenceLufs) return;
        gainText = Fixed(kReplayGainReferenceLufs - (r.loudness + ToDb(g)), 2) + " dB";
        peakText = Fixed(r.peak * g, 6);
    };
    fill(track, rg.trackGain, rg.trackPeak);
    fill(album, rg.albumGain, rg.albumPeak);
    return rg;
}

ReplayGain ReplayGainOfWritten(const LoudnessResult& written, const LoudnessResult& album,
                               float gain, double peakLimit) {
    ReplayGain rg = ReplayGainFor(written, LoudnessResult{}, 1.0f);
    if (!album.valid) return rg;
    LoudnessResult whole = album;
    const double g = gain > 0.0f ? static_cast<double>(gain) : 1.0;
    double peak = album.peak * g;
    if (peakLimit > 0.0) peak = std::min(peak, peakLimit);
    if (written.valid) peak = std::max(peak, written.peak);
    whole.peak = peak / g;
    const ReplayGain albums = ReplayGainFor(LoudnessResult{}, whole, gain);
    rg.albumGain = albums.albumGain;
    rg.albumPeak = albums.albumPeak;
    return rg;
}

}  // namespace quelvox
