// The chain every block passes between a reader and a writer: skipping of
// the file's beginning, the length limit, channel pick, conversion of
// channels and rate, and the gain. One chain serves one pass over one
// source; it owns the block buffers the reader fills and the converter's
// output buffers, all allocated by Setup.
//
// A pass with a chain:
//     chain.Setup(...);
//     while ((n = reader.Read(chain.ReadLeft(), chain.ReadRight())) > 0) {
//         ChainBlock b = chain.Process(n);
//         if (b.action == BlockAction::End) break;
//         if (b.action == BlockAction::Write) writer.Write(b.left, b.right, b.frames);
//         if (b.last) break;
//     }
//     for (ChainBlock b; (b = chain.Drain()).action == BlockAction::Write;)
//         writer.Write(b.left, b.right, b.frames);
#pragma once

#include "common/AudioStream.h"
#include "engine/PcmConverter.h"
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
    int sourceChannels = 0;  // the reader's GetOutputChannels (1 or 2)
    int targetRate = 0;
    int targetChannels = 0;  // 1 or 2
    // False for writers that adapt rate and channels themselves: the chain
    // then never resamples or mixes (a channel pick still happens).
    bool allowConversion = true;
    // Applied to every written sample; 1.0 means no gain.
    float gain = 1.0f;
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

class CProcessingChain {
public:
    CProcessingChain() = default;
    CProcessingChain(const CProcessingChain&) = delete;
    CProcessingChain& operator=(const CProcessingChain&) = delete;

    // Decides pick and converter, computes the skip and length counts from
    // the settings, and allocates the buffers. False for rates below 1,
    // channel counts other than 1 and 2, or a resampler that cannot be
    // opened.
    bool Setup(const CSettings& settings, const ChainSetup& setup);

    // Buffers to hand to the reader's Read: kBlockFrames frames each; the
    // right one is null for a mono source.
    int16_t* ReadLeft() { return inLeft_.data(); }
    int16_t* ReadRight() { return setup_.sourceChannels == 2 ? inRight_.data() : nullptr; }

    // Runs the chain on the `frames` frames the reader just delivered.
    ChainBlock Process(int frames);
    // After the last block (or End): the resampler's remaining output, one
    // piece per call, until the action is End.
    ChainBlock Drain();

    // One channel of a stereo source is taken alone (MonoType 1 or 2).
    bool ChannelPick() const { return pick_; }
    // Rate or channel conversion runs through the converter.
    bool ConverterNeeded() const { return converterNeeded_; }
    // Channels of the blocks handed to the writer (2 when the right pointer
    // is set).
    int WriterChannels() const { return writerRight_ ? 2 : 1; }
    int64_t SkipFrames() const { return skipFrames_; }
    int64_t LengthFrames() const { return lengthFrames_; }

private:
    ChainBlock Finish(int frames);

    ChainSetup setup_;
    bool pick_ = false;
    bool converterNeeded_ = false;
    CPcmConverter converter_;
    std::vector<int16_t> inLeft_, inRight_;
    std::vector<int16_t> outLeft_, outRight_;
    int outCapacity_ = 0;
    // Converter inputs (the right one null when the converter sees mono).
    const int16_t* convLeft_ = nullptr;
    const int16_t* convRight_ = nullptr;
    // Buffers handed to the writer.
    int16_t* writerLeft_ = nullptr;
    int16_t* writerRight_ = nullptr;

    int64_t skipFrames_ = 0;
    int64_t lengthFrames_ = -1;
    int64_t skipRemaining_ = 0;
    int64_t lengthRemaining_ = 0;
    bool limiting_ = false;
    bool ended_ = false;
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
