// The chain every block passes between a reader and a writer: skipping of
// the file's beginning, the length limit, folding of more than two
// channels, channel pick or mix, sample-rate conversion, and the gain. One
// chain serves one pass over one source; it owns the block the reader
// fills and the blocks handed to the writer, all allocated by Setup.
//
// The chain works on wide blocks (AudioBlock, float samples):
//     chain.Setup(...);
//     while ((n = reader.ReadBlock(chain.Source())) > 0) {
//         WideChainBlock b = chain.ProcessBlock();
//         if (b.action == BlockAction::End) break;
//         if (b.action == BlockAction::Write) writer.WriteBlock(*b.block);
//         if (b.last) break;
//     }
//     for (WideChainBlock b; (b = chain.DrainBlock()).action == BlockAction::Write;)
//         writer.WriteBlock(*b.block);
// Process and Drain do the same on 16-bit buffers (ReadLeft, ReadRight;
// ChainBlock) for sources of one or two channels.
//
// A source of 16 bits or fewer and one or two channels is processed so
// that its samples stay on the 16-bit grid and every step rounds as the
// integer chain always has: the mix (L + R) >> 1, the resampler's output
// clamped and times 32767 truncated, the gain truncated toward zero and
// clamped. Its output, rounded to 16 bits once by the writer, is therefore
// exactly what the integer chain wrote. Wider sources are processed in
// float throughout; the writer rounds and clips.
#pragma once

#include "common/AudioStream.h"
#include "engine/PcmConverter.h"
#include "engine/PeakLimiter.h"
#include "engine/HostInterfaces.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quelvox {

struct CSettings;
struct OutputFormatEntry;

// The rate a synthesising decoder renders at for an output format: 8000
// for AMR (16000 with wide band chosen), 16000 for AWB, 44100 with
// automatic parameters, else the format's rate (44100 when below 1).
int RenderRateFor(const CSettings& settings, const OutputFormatEntry& format);

// Frames to skip at the start of a source of `rate` Hz: rate × SkipLength
// ms when skipping is on and SkipLength > 0, else 0.
int64_t SkipFramesFor(const CSettings& settings, int rate);
// Frames to convert: rate × ConvertLength ms when the limit is on and
// ConvertLength > 0, else -1 (no limit).
int64_t LengthFramesFor(const CSettings& settings, int rate);

struct ChainSetup {
    int sourceRate = 0;
    int sourceChannels = 0;  // the reader's GetBlockChannels (1 … kMaxChannels)
    int targetRate = 0;
    // 1 or 2 folds a wider source to stereo (and mono when 1). A wider
    // target takes the source's channels by position (PlanChannelMix): each
    // in its own position where the target has it, a side or back channel
    // in the other surround position of its side, a back centre in the
    // back (else side) pair at 0.707 each, others folded into the front
    // pair, all scaled so that no channel can exceed full scale; its
    // positions the source lacks stay silent. A mono or stereo source goes
    // to its front pair.
    int targetChannels = 0;
    // False for writers that adapt rate and channels themselves: the chain
    // then never resamples or mixes (a channel pick still happens).
    bool allowConversion = true;
    // Applied to every written sample; 1.0 means no gain.
    float gain = 1.0f;
    // For a source on the 16-bit grid, the gain's product is truncated and
    // clamped as the integer chain did; false multiplies in float, leaving
    // the only rounding to the writer (the loudness gain).
    bool gridGain = true;
    // Above 0: after the gain, a true-peak limiter (CPeakLimiter) keeps
    // the true peak at or below this (linear); the audio is then delayed by
    // the limiter's look-ahead, and DrainBlock gives its last frames.
    float limitCeiling = 0.0f;
    // The reader's GetChannelLayout (0: the default one for the count).
    uint64_t sourceLayout = 0;
    // The reader's GetSourceBits.
    int sourceBits = 16;
    // Positions of a wider target's channels (0: the default ones).
    uint64_t targetLayout = 0;
};

enum class BlockAction {
    Drop,   // nothing to write for this block; read the next one
    Write,  // write `frames` frames from `left` / `right`
    End,    // the pass is over (length reached, or drained)
};

struct ChainBlock {
    BlockAction action = BlockAction::End;
    const int16_t* left = nullptr;
    // Null for mono output; equal to `left` for a mono source written as
    // stereo.
    const int16_t* right = nullptr;
    int frames = 0;
    // The length limit is used up with this block: nothing follows.
    bool last = false;
};

struct WideChainBlock {
    BlockAction action = BlockAction::End;
    const AudioBlock* block = nullptr;  // set with Write
    // The length limit is used up with this block: nothing follows.
    bool last = false;
};

class CProcessingChain {
public:
    CProcessingChain() = default;
    CProcessingChain(const CProcessingChain&) = delete;
    CProcessingChain& operator=(const CProcessingChain&) = delete;

    // Decides fold, pick, mix and converter, computes the skip and length
    // counts from the settings, and allocates the buffers. False for rates
    // below 1, channel counts outside 1 … kMaxChannels, or a resampler that
    // cannot be opened.
    bool Setup(const CSettings& settings, const ChainSetup& setup);

    // The block to hand to the reader's ReadBlock.
    AudioBlock& Source() { return in_; }
    // Runs the chain on the block the reader just delivered into Source().
    WideChainBlock ProcessBlock();
    // After the last block (or End): the resampler's remaining output, one
    // piece per call, until the action is End.
    WideChainBlock DrainBlock();

    // Buffers to fill with 16-bit samples for Process: kBlockFrames frames
    // each; the right one is null for a mono source.
    int16_t* ReadLeft() { return inLeft_.data(); }
    int16_t* ReadRight() { return setup_.sourceChannels == 2 ? inRight_.data() : nullptr; }

    // Runs the chain on the `frames` frames the reader just delivered into
    // ReadLeft and ReadRight, and gives the result as 16-bit samples.
    ChainBlock Process(int frames);
    // Drain's 16-bit counterpart.
    ChainBlock Drain();

    // One channel of a stereo source is taken alone (MonoType 1 or 2).
    bool ChannelPick() const { return pick_; }
    // Rate or channel conversion runs through the converter.
    bool ConverterNeeded() const { return converterNeeded_; }
    // Channels of the blocks handed to the writer (2 when the right pointer
    // is set).
    int WriterChannels() const { return place_ ? placed_.Channels() : outChannels_; }
    // The smallest gain the limiter applied (1: none, or no limiter).
    float LimiterSmallestGain() const {
        return limiter_.Started() ? limiter_.SmallestGain() : 1.0f;
    }
    int64_t SkipFrames() const { return skipFrames_; }
    int64_t LengthFrames() const { return lengthFrames_; }

private:
    // Gain and channel repetition on the `frames` frames of out_, then
    // their placement into a wider target's channels.
    WideChainBlock Finish(int frames);
    // Channel repetition and placement of the `frames` frames of out_.
    WideChainBlock Deliver(int frames);
    // Fills placeWeight_ for out_'s channels and `targetLayout`.
    void PlanPlacement(uint64_t targetLayout);
    // The wide result as 16-bit samples in outLeft_ / outRight_.
    ChainBlock ToInt16(const WideChainBlock& wide);
    // Keeps resampled samples on the 16-bit grid as the integer chain did.
    void QuantiseResampled(int frames);

    ChainSetup setup_;
    bool fold_ = false;     // more than two channels become stereo
    bool pick_ = false;     // one channel of a stereo source alone
    int pickChannel_ = 0;   // which one
    bool mix_ = false;      // a stereo source mixed to mono
    bool resample_ = false;
    bool repeat_ = false;   // one channel written as two
    bool exact16_ = false;  // 16-bit grid arithmetic (see above)
    bool converterNeeded_ = false;
    // The channels of out_ are placed into a wider target's (placed_):
    // channel t of placed_ is the sum of out_'s channels c times
    // placeWeight_[t][c].
    bool place_ = false;
    float placeWeight_[kMaxChannels][kMaxChannels] = {};
    int convChannels_ = 0;  // channels entering the resampler
    int outChannels_ = 0;   // channels handed to the writer
    CPcmConverter converter_;
    CPeakLimiter limiter_;
    AudioBlock in_;
    AudioBlock folded_;
    AudioBlock out_;
    AudioBlock placed_;
    int outCapacity_ = 0;
    const float* conv_[kMaxChannels] = {};
    // The 16-bit interface's buffers.
    std::vector<int16_t> inLeft_, inRight_;
    std::vector<int16_t> outLeft_, outRight_;

    int64_t skipFrames_ = 0;
    int64_t lengthFrames_ = -1;
    int64_t skipRemaining_ = 0;
    int64_t lengthRemaining_ = 0;
    bool limiting_ = false;
    bool ended_ = false;
    bool resamplerDrained_ = false;
};

// Percentage text and bar of one pass over a file: "[%d%%] …" texts,
// updated only when the shown percentage grows. Totals of 0 count as 1;
// all arithmetic is unsigned 64-bit.
class CPassProgress {
public:
    // `format` holds one %d (the percentage) and one %s (the file name);
    // shows 0 at once. The text is built only when the percentage grows and
    // the sink shows texts at all.
    CPassProgress(IProgress& progress, const char* format, std::string fileName, uint64_t total);
    // Shows the percentage of `position` when it grew.
    void Update(uint64_t position);
    // Shows 100 (and the full bar) unless already shown.
    void Complete();
    int Shown() const { return shown_; }

private:
    void Show(int percent, uint64_t position);

    IProgress& progress_;
    const char* format_;
    std::string fileName_;
    uint64_t total_;
    uint64_t percentStep_;
    bool showsText_;
    int shown_ = -1;
};

// The name part of a path (after its last '/').
std::string FileNameOf(const std::string& path);

}  // namespace quelvox
