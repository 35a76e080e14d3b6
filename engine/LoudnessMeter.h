// Loudness of a file after ITU-R BS.1770 / EBU R128 (integrated loudness
// measured with libebur128; the true peak with CTruePeakMeter, which gives
// libebur128's true peak faster, or the sample peak), the gain that brings
// it to a target, and the ReplayGain 2.0 values that describe an output.
#pragma once

#include "common/TagInfo.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace quelvox {

struct CSettings;
struct PeakEnvelope;

// Below this a measured loudness counts as silence: no gain.
inline constexpr double kSilenceLufs = -70.0;
// The reference level of ReplayGain 2.0.
inline constexpr double kReplayGainReferenceLufs = -18.0;

// One file's measuring state: fed the samples the target receives, one
// block at a time, and kept for an album's loudness of several files.
class CLoudnessMeter {
public:
    // With `truePeak` the peak is the true (inter-sample) peak, as a
    // ceiling needs; without, the sample peak, a little cheaper.
    // With `envelope` (and `truePeak`) it also keeps the PeakEnvelope the
    // limiter's effect on the loudness is forecast from.
    explicit CLoudnessMeter(bool truePeak = true, bool envelope = false);
    ~CLoudnessMeter();
    CLoudnessMeter(const CLoudnessMeter&) = delete;
    CLoudnessMeter& operator=(const CLoudnessMeter&) = delete;

    // Starts measuring `channels` channels (positions of `layout`, 0: the
    // default ones) at `rate` Hz; a low-frequency channel is left out and
    // surrounds weigh as surrounds. False when libebur128 refuses.
    bool Begin(int channels, int rate, uint64_t layout);
    // Adds `frames` frames of channel arrays `ch` (Begin's channel count).
    void Add(const float* const* ch, int frames);

    bool Started() const { return state_ != nullptr; }
    // Integrated loudness in LUFS; -infinity for silence or less than one
    // gating block (400 ms).
    double Loudness() const;
    // Largest (true or sample) peak of any channel, linear (1.0 = full
    // scale).
    double Peak() const;
    uint64_t Frames() const { return frames_; }
    // The envelope measured so far; null when none is kept.
    std::shared_ptr<const PeakEnvelope> Envelope() const;
    int Rate() const { return rate_; }

    // Loudness of several meters' audio taken together (an album), in LUFS;
    // -infinity when none holds a gating block.
    static double LoudnessOf(const std::vector<const CLoudnessMeter*>& meters);

private:
    struct State;  // the library's measuring state
    std::unique_ptr<State> state_;
    bool truePeak_ = true;
    bool envelope_ = false;
    std::vector<float> energy_;  // per envelope piece
    int channels_ = 0;
    int rate_ = 0;
    uint64_t frames_ = 0;
    std::vector<float> interleaved_;  // for the loudness
    std::vector<float> planar_;       // the same, channel after channel
};

// What the limiter's effect on a file's loudness is forecast from: for
// every piece of CTruePeakMeter::kEnvelopeFrames frames, its largest true
// peak and its energy (the sum of its squared samples, all channels).
struct PeakEnvelope {
    int rate = 0;
    std::vector<float> peak;
    std::vector<float> energy;
};

// Loudness and peak of a file or an album; `valid` only once measured.
struct LoudnessResult {
    bool valid = false;
    double loudness = 0.0;  // LUFS, -infinity for silence
    double peak = 0.0;      // linear: the true peak, or the sample peak
    double seconds = 0.0;
    // The envelopes of its files, where they were kept (shared, never
    // changed once measured).
    std::vector<std::shared_ptr<const PeakEnvelope>> envelopes;
};

// How much (dB, at most 0) the limiter, holding the true peak at
// `ceiling` (linear), lowers the loudness of audio of `envelopes` raised
// by `gain`: the energy of each piece is taken at the gain the limiter
// applies there, which is simulated piece by piece as CPeakLimiter
// computes it frame by frame.
double LimitedLoudnessChange(const std::vector<std::shared_ptr<const PeakEnvelope>>& envelopes,
                             double gain, double ceiling);

// The result of a finished meter.
LoudnessResult ResultOf(const CLoudnessMeter& meter);

// Target loudness (LUFS) and true-peak ceiling (dBTP) of the settings,
// clamped to the ranges of their declarations.
double TargetLufs(const CSettings& settings);
double CeilingDbtp(const CSettings& settings);

// Whether the loudness mode keeps the true peak under the ceiling with the
// limiter (LoudnessLimiter) rather than by lowering the gain.
bool LimitsLoudness(const CSettings& settings);

// The level the limiter holds the true peak at: the ceiling less
// `headroomDb` and less a margin of 0.1 dB for what the writer's rounding
// adds; linear.
float LimiterCeiling(const CSettings& settings, double headroomDb = 0.0);

// The linear gain that brings `measured` to the target loudness; without
// the limiter, lowered so that its peak (a true peak) times the gain stays
// at or below the ceiling less `headroomDb`. 1.0 for silence (below
// -70 LUFS) and for audio shorter than 400 ms.
float LoudnessGain(const CSettings& settings, const LoudnessResult& measured,
                   double headroomDb = 0.0);

// The loudness (LUFS) that `measured` reaches at `gain` when that is at
// least 0.05 LU short of the target (the ceiling held it); NaN otherwise.
double HeldLoudness(const CSettings& settings, const LoudnessResult& measured, float gain);

// ReplayGain 2.0 values of an output whose audio is the measured audio
// times `gain`: gain to the -18 LUFS reference ("-2.00 dB") and peak
// ("0.251189", linear), two and six decimals with a point whatever the
// locale, for the track and, when `album` is valid, the album.
// Empty values where nothing valid was measured.
ReplayGain ReplayGainFor(const LoudnessResult& track, const LoudnessResult& album, float gain);

// ReplayGain 2.0 values of an output measured as written (`written`, at
// its gain already): the track's from it; the album's from `album` at
// `gain`, its peak the larger of the track's and the album's at `gain`,
// that one at most `peakLimit` when above 0 (a limiter held every file
// there).
ReplayGain ReplayGainOfWritten(const LoudnessResult& written, const LoudnessResult& album,
                               float gain, double peakLimit);

}  // namespace quelvox
