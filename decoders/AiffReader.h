// Reader of AIFF and AIFF-C files (.aif .aiff .aifc .afc).
//
// Parses the FORM chunk structure itself and decodes big- and little-endian
// PCM of 1 to 32 bits, 32- and 64-bit floats, G.711 mu-law and A-law,
// unsigned 8-bit "raw " data, QuickTime IMA4 (stereo files), GSM 06.10 and
// DWVW. Text tags come from an "ID3 " chunk holding an ID3v2 tag.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "decoders/AiffCodecs.h"
#include "decoders/SampleUnpack.h"
#include "common/AudioStream.h"

struct gsm_state;

namespace quelvox {

class CAiffReader : public CAudioReader {
public:
    // Size of the work buffer that serves all sample reads.
    static constexpr size_t kWorkBufferBytes = 8 * 1024 * 1024;
    // Largest part of an "ID3 " chunk that is read for its tags.
    static constexpr size_t kMaxId3Bytes = 10 * 1024 * 1024;

    CAiffReader();
    ~CAiffReader() override;

    void Close() override;
    // renderRate is not used. Fails on anything but a FORM/AIFF or FORM/AIFC
    // file with a usable COMM chunk, an SSND chunk and a supported
    // compression type.
    int Open(const std::string& path, int renderRate) override;
    // Samples stored in whole bytes (PCM, floats, G.711, raw) and DWVW
    // come with every channel up to kMaxChannels in the default layout,
    // samples wider than 16 bits and floats at their depth (24 or 32); the
    // other kinds (IMA4, GSM: one or two channels) as 16-bit samples.
    int ReadBlock(AudioBlock& block) override;
    int GetBlockChannels() override;
    int GetSourceBits() override;
    bool GetSourceFloat() override;
    // The tags of the file's "ID3 " chunk; 0 when it had none.
    int ReadTags(TagInfo& tags) override;

private:
    enum class Kind {
        PcmBig,
        PcmLittle,
        Ulaw,
        Alaw,
        Float32,
        Float64,
        Raw8,
        Ima4,
        Gsm,
        Dwvw,
    };

    // The next frames of a mono or stereo source of 16 bits or fewer (and
    // of IMA4 and GSM) as 16-bit samples; `right` is written only for 2
    // output channels.
    int DecodeInt16(int16_t* left, int16_t* right);
    bool ParseChunks();
    bool ParseComm(uint32_t size, bool aifc);
    bool ParseSsnd(uint32_t size, uint64_t bodyStart);
    void ParseId3(uint32_t size);

    // Samples stored in whole bytes, read by ReadWholeBytes.
    bool WholeBytes() const;
    // Reads the next whole frames of such samples into the work buffer;
    // returns their count.
    int ReadWholeBytes();
    int ReadIma4(int16_t* left, int16_t* right);
    int ReadGsm(int16_t* left, int16_t* right);
    int ReadDwvw(int16_t* left, int16_t* right);
    // Decodes the next DWVW frames into dwvwSamples_ (left-justified in 32
    // bits); returns their count.
    int DecodeDwvw();

    std::unique_ptr<uint8_t[]> work_;
    // stdio's buffer for the file: a block reads a few kilobytes, more than
    // the page stdio takes by default, so every block would be a system call.
    std::unique_ptr<char[]> fileBuffer_;
    std::FILE* file_ = nullptr;
    uint64_t fileSize_ = 0;

    // From COMM.
    bool haveComm_ = false;
    uint32_t sampleFrames_ = 0;
    int sampleBits_ = 0;
    Kind kind_ = Kind::PcmBig;
    StoredSample stored_ = StoredSample::S8;  // the whole-byte kinds
    int sourceBytesPerSample_ = 0;            // stored bytes of one sample
    int keptChannels_ = 0;                    // channels converted per frame (<= 8)
    int framesPerRead_ = 0;

    // From SSND.
    bool haveSsnd_ = false;
    uint64_t dataStart_ = 0;
    uint64_t dataBytes_ = 0;
    uint64_t dataLeft_ = 0;

    // Codec states.
    gsm_state* gsm_ = nullptr;
    aiff::CDwvwDecoder dwvw_;
    std::vector<int32_t> dwvwSamples_;
    CInt16Planes pcm16_;
    uint64_t dwvwFramesLeft_ = 0;  // frame limit from COMM, when it has one

    TagInfo tags_;
};

}  // namespace quelvox
