// Reader of Sun/NeXT audio files (.au, .snd) in either byte order: linear
// PCM of 8, 16, 24 and 32 bits, 32- and 64-bit float, G.711 µ-law and
// A-law, and G.721/G.723 ADPCM, decoded by our own code.
#pragma once

#include "decoders/G72x.h"
#include "decoders/SampleUnpack.h"
#include "common/AudioStream.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace quelvox {

class CAuReader : public CAudioReader {
public:
    // Size of the one read buffer that serves every block.
    static constexpr size_t kBufferBytes = 8 * 1024 * 1024;
    // Channels decoded and mixed per frame; further channels are skipped.
    static constexpr int kMaxKeptChannels = 8;

    CAuReader();
    ~CAuReader() override;

    void Close() override;
    // renderRate is not used. Nonzero on success.
    int Open(const std::string& path, int renderRate) override;
    // Up to kBlockFrames frames of every channel up to kMaxKeptChannels in
    // the default layout; 24- and 32-bit integers and floats at their
    // depth, the other encodings as 16-bit samples. 0 at the end of the
    // data or after a failed read.
    int ReadBlock(AudioBlock& block) override;
    int GetBlockChannels() override { return file_ ? keptChannels_ : 1; }
    int GetSourceBits() override { return file_ && !adpcm_ ? WideBits(stored_) : 16; }
    bool GetSourceFloat() override { return file_ && !adpcm_ && IsFloatSample(stored_); }

    // Total and position count bytes of sample data (the base getters).

private:
    // The next frames of a mono or stereo source of 16 bits or fewer as
    // 16-bit samples; `right` is written only for 2 channels.
    int DecodeInt16(int16_t* left, int16_t* right);
    // Opens the file and parses the header; 0 on any failure.
    int OpenFile(const std::string& path);
    // Reads the next whole PCM frames into the buffer; returns their count.
    int ReadPcm();
    // Decodes the next ADPCM frames, channel c of frame i into
    // frames[i * kMaxKeptChannels + c]; returns their count.
    int ReadAdpcm(int16_t* frames);
    // Takes the next code from the bit reservoir, least significant bits
    // first; false when the chunk has no bits left.
    bool NextCode(unsigned& code);
    void ClearHeader();

    std::unique_ptr<uint8_t[]> buffer_;
    // stdio's buffer for the file: a block reads a few kilobytes, more than
    // the page stdio takes by default, so every block would be a system call.
    std::unique_ptr<char[]> fileBuffer_;
    std::FILE* file_ = nullptr;
    bool bigEndian_ = false;
    int encoding_ = 0;
    int codedBits_ = 0;
    StoredSample stored_ = StoredSample::S8;  // PCM, float and G.711 encodings
    int keptChannels_ = 0;
    int framesPerChunk_ = 0;  // frames that fit the buffer, <= 1152
    bool ended_ = false;      // a short read ended the stream

    // ADPCM: one decoder state per kept channel, and the bit reservoir.
    bool adpcm_ = false;
    CG72xDecoder g72x_[kMaxKeptChannels];
    uint32_t bitBuffer_ = 0;
    int bitCount_ = 0;
    const uint8_t* chunkPos_ = nullptr;
    const uint8_t* chunkEnd_ = nullptr;
    std::unique_ptr<int16_t[]> adpcmFrames_;  // kBlockFrames frames of kept channels
    CInt16Planes pcm16_;
};

}  // namespace quelvox
