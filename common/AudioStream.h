// Reader and writer interfaces shared by every decoder and encoder.
//
// Samples travel between readers, the engine and writers as AudioBlocks
// (ReadBlock, WriteBlock): up to kMaxChannels float channels of at most
// kBlockFrames frames, with their layout and the source's real depth.
// Readers and writers whose codecs work in 16-bit samples convert through
// CInt16Planes. Frame counts always count samples per channel.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/AudioBlock.h"
#include "common/KnownLength.h"
#include "common/TagInfo.h"

namespace quelvox {

// Largest number of frames a reader returns from one ReadBlock and a
// writer receives in one WriteBlock.
inline constexpr int kBlockFrames = 1152;
// Size in bytes of one channel of a block as 16-bit samples.
inline constexpr int kBlockBytes = kBlockFrames * 2;

// Planar 16-bit samples for the readers and writers whose codecs decode or
// encode 16 bits, so that every one of them converts between its codec's
// samples and AudioBlocks the same way.
class CInt16Planes {
public:
    // One block from a 16-bit decoder: `decode(left, right)` fills up to
    // kBlockFrames frames into `left` and, when `stereo`, into `right`
    // (null otherwise), and returns the frame count. The block becomes one
    // or two channels (default layout) of a 16-bit source holding every
    // value / 32768, exactly. Returns the frame count; <= 0 (the block
    // then holds no frames) ends the stream.
    template <typename Decoder>
    int Decode(AudioBlock& block, bool stereo, Decoder&& decode) {
        Reserve(kBlockFrames, stereo);
        return Store(decode(left_.data(), stereo ? right_.data() : nullptr), stereo, block);
    }

    // Rounds the block.frames frames of `block` to 16 bits for a 16-bit
    // encoder: a block of more than two channels is folded to stereo
    // (FoldToStereo) first, then every sample is rounded to nearest and
    // clamped, NaN as 0; with `dither` (not null), TPDF noise is added
    // before each rounding, frame by frame. Left() and Right() then hold
    // the frames; Right() is null for a mono block. Returns how many
    // samples clipped.
    uint64_t Round(const AudioBlock& block, CTpdfDither* dither);
    const int16_t* Left() const { return left_.data(); }
    const int16_t* Right() const { return stereo_ ? right_.data() : nullptr; }

private:
    void Reserve(size_t frames, bool stereo);
    int Store(int frames, bool stereo, AudioBlock& block);

    std::vector<int16_t> left_, right_;
    std::vector<float> foldLeft_, foldRight_;
    bool stereo_ = false;
};

// Describes a source or a target when the engine configures the converter.
struct PcmFormat {
    int32_t sampleRate = 0;     // Hz
    int32_t channels = 0;       // 1 or 2
    int32_t bitsPerSample = 0;  // 8 or 16
};

class CAudioReader {
public:
    CAudioReader() = default;
    virtual ~CAudioReader() = default;
    CAudioReader(const CAudioReader&) = delete;
    CAudioReader& operator=(const CAudioReader&) = delete;

    // Releases the decoder, the file and all buffers; harmless on a reader
    // that is not open.
    virtual void Close() = 0;
    // Opens and probes the file and fills the base fields; closes anything
    // still open first. renderRate is the rate a synthesising decoder should
    // render at (0 while only probing). Nonzero means success.
    virtual int Open(const std::string& path, int renderRate) = 0;
    // Decodes the next block into `block` (shaped here as needed): up to
    // kBlockFrames frames of GetBlockChannels() channels laid out as
    // GetChannelLayout(), at the source's full depth. Returns the frame
    // count; <= 0 ends the stream.
    virtual int ReadBlock(AudioBlock& block) = 0;
    // Channels of the blocks ReadBlock delivers: by default one, or two
    // when GetOutputChannels() is 2 (a reader of 16-bit mono or stereo).
    virtual int GetBlockChannels() { return outputChannels == 2 ? 2 : 1; }
    // Positions of those channels (FFmpeg's channel mask bits).
    virtual uint64_t GetChannelLayout() { return DefaultLayout(GetBlockChannels()); }
    // Bits of the source's own samples that ReadBlock keeps: by default
    // 16.
    virtual int GetSourceBits() { return 16; }
    // Whether the source stores floating-point samples (GetSourceBits 32),
    // whose values may lie beyond full scale; ReadBlock keeps them as they
    // are.
    virtual bool GetSourceFloat() { return false; }
    // Moves decoding so that the next ReadBlock starts at frame `landed`, at or
    // before `frame` (exactly there where the format allows); the reader
    // that calls it drops what lies between. Call it right after Open.
    // False when this reader cannot seek: then it is still (or again) at
    // the start. After a seek GetPosition is not meaningful.
    virtual bool SeekFrame(uint64_t frame, uint64_t& landed) {
        (void)frame;
        (void)landed;
        return false;
    }
    // Consulted after a failed Open: 0 tells a file without audio.
    virtual int HasAudio() { return 1; }
    // Consulted after a failed Open: why it failed, in the words of the
    // library that refused the file; empty when the reader cannot tell.
    virtual std::string OpenError() const { return {}; }
    virtual uint64_t GetTotal() { return total; }
    virtual uint64_t GetPosition() { return position; }
    virtual int GetDuration() { return durationSeconds; }
    virtual int GetChannels() { return channels; }
    virtual int GetOutputChannels() { return outputChannels; }
    // Below 1 after a successful Open: the file holds no audio.
    virtual int GetSampleRate() { return sampleRate; }
    virtual int GetBitsPerSample() { return bitsPerSample; }
    virtual int GetBitrate() { return bitrateKbps; }
    // Fills the record from the source's tags; nonzero when tags were
    // found. The base reader finds none and leaves the record unchanged.
    virtual int ReadTags(TagInfo& tags) {
        (void)tags;
        return 0;
    }

    // A length an earlier reading of the file found (an earlier reader's
    // LearnedLength). A reader that would read the whole file at Open to
    // learn its exact length takes it from here instead while the file has
    // the recorded size and modification time. Set before Open.
    void SetKnownLength(const KnownLength& known) { knownLength = known; }
    // What the last Open learned by reading the whole file (frames 0 when
    // it read nothing that way), for SetKnownLength of a later reader.
    virtual KnownLength LearnedLength() const { return {}; }

    // Sets every base field to zero; returns 0.
    int ResetInfo() {
        total = 0;
        position = 0;
        durationSeconds = 0;
        sampleRate = 0;
        channels = 0;
        outputChannels = 0;
        bitsPerSample = 0;
        bytesPerSample = 0;
        bitrateKbps = 0;
        return 0;
    }

protected:
    uint64_t total = 0;     // stream size in the reader's progress unit
    uint64_t position = 0;  // consumed part of total
    int32_t durationSeconds = 0;
    int32_t sampleRate = 0;
    int32_t channels = 0;        // as stored; may exceed 2
    int32_t outputChannels = 0;  // 1 when channels < 2, else 2
    int32_t bitsPerSample = 0;   // 16
    int32_t bytesPerSample = 0;  // 2
    int32_t bitrateKbps = 0;
    KnownLength knownLength;
};

class CAudioWriter {
public:
    CAudioWriter() = default;
    virtual ~CAudioWriter() = default;
    CAudioWriter(const CAudioWriter&) = delete;
    CAudioWriter& operator=(const CAudioWriter&) = delete;

    // Tag values to store; an empty text means absent, a track that reads
    // as 0 or less means none. Writers copy every text.
    virtual void SetTags(const TagInfo& tags) { (void)tags; }
    virtual void SetFileName(const std::string& path) = 0;
    virtual void SetSampleRate(int hz) { (void)hz; }
    virtual void SetChannels(int count) { (void)count; }
    virtual void SetBitrate(int bitsPerSecond) { (void)bitsPerSecond; }
    // Positions of the channels of the blocks WriteBlock will receive
    // (FFmpeg's channel mask bits); 0 or a mask of another width means the
    // default layout of the count. Writers that only take 16-bit stereo
    // ignore it.
    virtual void SetChannelLayout(uint64_t layout) { (void)layout; }
    // Bits of the integer samples to store (16, 24 or 32); writers that
    // only store 16 bits ignore it.
    virtual void SetSampleBits(int bits) { (void)bits; }
    // Codec parameters are each writer family's own typed record, set
    // through the concrete writer's SetCodecParams by whoever creates it.
    // Creates the output and prepares the encoder. Nonzero means success;
    // on failure the writer is destroyed without Close.
    virtual int Open() = 0;
    // Encodes one block. A writer that stores 16-bit samples rounds each
    // sample once (CInt16Planes::Round: clamped, NaN as 0; with TPDF dither
    // first when SetDither is on and the block's source is deeper than 16
    // bits), and folds a block of more than two channels to stereo.
    // Nonzero = written.
    virtual int WriteBlock(const AudioBlock& block) = 0;
    // Whether rounding to a smaller depth than the source's adds TPDF
    // dither (on unless set otherwise). Sources of 16 bits or fewer are
    // never dithered into 16 bits or more.
    void SetDither(bool on) { dither_ = on; }
    // Flushes the encoder, finishes the container and closes the file.
    virtual void Close() = 0;

    // Why a WriteBlock or Close could not write the file (the system's text,
    // e.g. "No space left on device"); empty while everything was written.
    // The output is incomplete when it is not empty.
    const std::string& WriteError() const { return writeError_; }
    // Samples of the blocks written so far that lay beyond the range of
    // the integers they became, and were clipped to it.
    uint64_t ClippedSamples() const { return clipped_; }

protected:
    // The rounding of a wide block's samples to `bits` bits, dithered when
    // the block's source is deeper and dither is on.
    bool DithersTo(const AudioBlock& block, int bits) const {
        return dither_ && block.SourceBits() > bits;
    }
    CTpdfDither& Dither() { return ditherNoise_; }
    // The block rounded into `planes` as a 16-bit encoder takes it
    // (CInt16Planes::Round), dithered as DithersTo says; counts the
    // clipped samples.
    void RoundToInt16(const AudioBlock& block, CInt16Planes& planes) {
        clipped_ += planes.Round(block, DithersTo(block, 16) ? &ditherNoise_ : nullptr);
    }
    // Counts the samples of `v` that clip as integers of `bits` bits.
    void CountClipped(const float* v, int n, int bits) { clipped_ += CountClipping(v, n, bits); }
    // Counts `n` samples clipped otherwise.
    void AddClipped(uint64_t n) { clipped_ += n; }

    // Keeps the first cause; later ones follow from it.
    void NoteWriteError(const std::string& cause) {
        if (writeError_.empty()) writeError_ = cause.empty() ? "write failed" : cause;
    }

private:
    std::string writeError_;
    uint64_t clipped_ = 0;
    bool dither_ = true;
    CTpdfDither ditherNoise_;
};

}  // namespace quelvox
