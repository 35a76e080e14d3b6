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
    explicit CLoudnessMeter(bool truePeak = true);
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
    int Rate() const { return rate_; }

    // Loudness of several meters' audio taken together (an album), in LUFS;
    // -infinity when none holds a gating block.
    static double LoudnessOf(const std::vector<const CLoudnessMeter*>& meters);

private:
    struct State;  // the library's measuring state
    std::unique_ptr<State> state_;
    bool truePeak_ = true;
    int channels_ = 0;
    int rate_ = 0;
    uint64_t frames_ = 0;
    std::vector<float> interleaved_;  // for the loudness
    std::vector<float> planar_;       // the same, channel after channel
};

// Loudness and peak of a file or an album; `valid` only once measured.
struct LoudnessResult {
    bool valid = false;
    double loudness = 0.0;  // LUFS, -infinity for silence
    double peak = 0.0;      // linear: the true peak, or the sample peak
    double seconds = 0.0;
};

// The result of a finished meter.
LoudnessResult ResultOf(const CLoudnessMeter& meter);

// Target loudness (LUFS) and true-peak ceiling (dBTP) of the settings,
// clamped to the ranges of their declarations.
double TargetLufs(const CSettings& settings);
double CeilingDbtp(const CSettings& settings);

// The linear gain that brings `measured` to the target loudness, lowered
// so that its peak (a true peak) times the gain stays at or below the
// ceiling; 1.0 for silence (below -70 LUFS) and for audio shorter than
// 400 ms.
float LoudnessGain(const CSettings& settings, const LoudnessResult& measured);

// ReplayGain 2.0 values of an output whose audio is the measured audio
// times `gain`: gain to the -18 LUFS reference ("-2.00 dB") and peak
// ("0.251189", linear), two and six decimals with a point whatever the
// locale, for the track and, when `album` is valid, the album.
// Empty values where nothing valid was measured.
ReplayGain ReplayGainFor(const LoudnessResult& track, const LoudnessResult& album, float gain);

}  // namespace quelvox
