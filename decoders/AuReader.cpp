#include "decoders/AuReader.h"

#include "common/ByteOrder.h"
#include "decoders/SampleUnpack.h"
#include "common/SampleHelpers.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace quelvox {

namespace {

constexpr uint32_t kDataToEnd = 0xFFFFFFFFu;
constexpr size_t kHeaderProbeBytes = 120;
constexpr int kMinDataOffset = 24;
// stdio's buffer: 64 KiB reads, as many blocks as a system call.
constexpr size_t kFileBufferBytes = size_t{64} * 1024;

uint32_t Get32(const uint8_t* p, bool bigEndian) { return bigEndian ? ReadBe32(p) : ReadLe32(p); }

// The encodings of linear PCM, float and G.711 samples: stored bits and the
// sample format in each byte order. The ADPCM encodings have their code
// width instead.
struct AuEncoding {
    uint32_t code;
    int bits;
    StoredSample bigEndian;
    StoredSample littleEndian;
    int adpcmBits;
};

constexpr AuEncoding kEncodings[] = {
    {1, 8, StoredSample::Mulaw, StoredSample::Mulaw, 0},
    {2, 8, StoredSample::S8, StoredSample::S8, 0},
    {3, 16, StoredSample::S16Be, StoredSample::S16Le, 0},
    {4, 24, StoredSample::S24Be, StoredSample::S24Le, 0},
    {5, 32, StoredSample::S32Be, StoredSample::S32Le, 0},
    {6, 32, StoredSample::F32Be, StoredSample::F32Le, 0},
    {7, 64, StoredSample::F64Be, StoredSample::F64Le, 0},
    {23, 4, StoredSample::S8, StoredSample::S8, 4},
    {25, 3, StoredSample::S8, StoredSample::S8, 3},
    {26, 5, StoredSample::S8, StoredSample::S8, 5},
    {27, 8, StoredSample::Alaw, StoredSample::Alaw, 0},
};

// Blocks hold every kept channel.
static_assert(CAuReader::kMaxKeptChannels <= kMaxChannels);

}  // namespace

CAuReader::CAuReader()
    : buffer_(new uint8_t[kBufferBytes]),
      adpcmFrames_(new int16_t[static_cast<size_t>(kBlockFrames) * kMaxKeptChannels]) {
    ResetInfo();
}

CAuReader::~CAuReader() { Close(); }

void CAuReader::ClearHeader() {
    bigEndian_ = false;
    encoding_ = 0;
    codedBits_ = 0;
    stored_ = StoredSample::S8;
    keptChannels_ = 0;
    framesPerChunk_ = 0;
    ended_ = false;
    adpcm_ = false;
    for (CG72xDecoder& d : g72x_) d.Reset(4);
    bitBuffer_ = 0;
    bitCount_ = 0;
    chunkPos_ = nullptr;
    chunkEnd_ = nullptr;
}

void CAuReader::Close() {
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    ClearHeader();
    ResetInfo();
}

int CAuReader::Open(const std::string& path, int renderRate) {
    (void)renderRate;
    Close();
    // A failed open releases the file at once and leaves a closed reader.
    if (OpenFile(path)) return 1;
    Close();
    return 0;
}

int CAuReader::OpenFile(const std::string& path) {
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) return 0;
    if (!fileBuffer_) fileBuffer_ = std::make_unique<char[]>(kFileBufferBytes);
    std::setvbuf(file_, fileBuffer_.get(), _IOFBF, kFileBufferBytes);

    uint8_t header[kHeaderProbeBytes];
    const size_t got = std::fread(header, 1, sizeof header, file_);
    if (got < 24) return 0;

    static const uint8_t kMagics[4][4] = {{0x2E, 0x73, 0x6E, 0x64},
                                          {0x2E, 0x73, 0x64, 0x00},
                                          {0x64, 0x6E, 0x73, 0x2E},
                                          {0x00, 0x64, 0x73, 0x2E}};
    int magic = -1;
    for (int i = 0; i < 4 && magic < 0; ++i)
        if (std::memcmp(header, kMagics[i], 4) == 0) magic = i;
    if (magic < 0) return 0;
    bigEndian_ = magic < 2;

    const uint32_t dataOffset = Get32(header + 4, bigEndian_);
    if (dataOffset < kMinDataOffset) return 0;
    const uint32_t dataSize = Get32(header + 8, bigEndian_);
    uint32_t encoding = Get32(header + 12, bigEndian_);
    uint32_t rate = 0, chans = 0;
    if (encoding > 27) {
        // Some writers put the fields at odd places: take the first value
        // from byte 13 on that is a possible encoding, with rate and channel
        // count right after it. Only bytes actually read are considered.
        bool found = false;
        for (size_t pos = 13; pos <= 32 && pos + 12 <= got; ++pos) {
            const uint32_t v = Get32(header + pos, bigEndian_);
            if (v <= 27) {
                encoding = v;
                rate = Get32(header + pos + 4, bigEndian_);
                chans = Get32(header + pos + 8, bigEndian_);
                found = true;
                break;
            }
        }
        if (!found) return 0;
    } else {
        rate = Get32(header + 16, bigEndian_);
        chans = Get32(header + 20, bigEndian_);
    }

    const AuEncoding* known = nullptr;
    for (const AuEncoding& e : kEncodings)
        if (e.code == encoding) known = &e;
    if (!known) return 0;
    const int adpcmBits = known->adpcmBits;
    codedBits_ = known->bits;
    stored_ = bigEndian_ ? known->bigEndian : known->littleEndian;
    encoding_ = static_cast<int>(encoding);
    if (adpcmBits) {
        adpcm_ = true;
        codedBits_ = adpcmBits;
        for (CG72xDecoder& d : g72x_) d.Reset(adpcmBits);
        bitBuffer_ = 0;
        bitCount_ = 0;
    }

    if (rate < 1000 || rate > 100000) rate = 8000;
    if (chans == 0) chans = 1;
    // A frame must fit the read buffer (for ADPCM: eight frames, so that
    // every chunk ends on a byte boundary). Headers declaring more channels
    // than that are rejected; below that limit a block takes as many frames
    // as the buffer holds, at most kBlockFrames.
    const uint64_t frameBits = uint64_t{chans} * codedBits_;
    const uint64_t bufferBits = uint64_t{kBufferBytes} * 8;
    uint64_t fit = bufferBits / frameBits;
    if (adpcm_) fit &= ~uint64_t{7};
    if (fit == 0) return 0;
    framesPerChunk_ = static_cast<int>(std::min<uint64_t>(fit, kBlockFrames));

    sampleRate = static_cast<int32_t>(rate);
    channels = static_cast<int32_t>(chans);
    outputChannels = chans < 2 ? 1 : 2;
    bitsPerSample = 16;
    bytesPerSample = 2;
    keptChannels_ = static_cast<int>(std::min<uint32_t>(chans, kMaxKeptChannels));

    if (fseeko(file_, 0, SEEK_END) != 0) return 0;
    const off_t fileSize = ftello(file_);
    if (fileSize < 0 || fseeko(file_, dataOffset, SEEK_SET) != 0) return 0;
    const uint64_t available = static_cast<uint64_t>(fileSize) > dataOffset
                                   ? static_cast<uint64_t>(fileSize) - dataOffset
                                   : 0;
    // A declared size beyond the end of the file counts only the bytes that
    // are there, so that duration and progress describe the real data.
    total = dataSize == kDataToEnd ? available : std::min<uint64_t>(dataSize, available);
    position = 0;

    const uint64_t frames = total * 8 / frameBits;
    durationSeconds = static_cast<int32_t>(
        std::min<uint64_t>(frames / rate, std::numeric_limits<int32_t>::max()));
    const uint64_t kbps =
        durationSeconds > 0 ? total / (uint64_t(durationSeconds) * 125) : frameBits * rate / 1000;
    bitrateKbps =
        static_cast<int32_t>(std::min<uint64_t>(kbps, std::numeric_limits<int32_t>::max()));
    return 1;
}

int CAuReader::DecodeInt16(int16_t* left, int16_t* right) {
    if (!file_ || ended_ || position >= total) return 0;
    if (!adpcm_) {
        const int frames = ReadPcm();
        if (frames > 0) UnpackFrames(stored_, buffer_.get(), frames, channels, left, right);
        return frames;
    }
    const int frames = ReadAdpcm(adpcmFrames_.get());
    for (int i = 0; i < frames; ++i) {
        const int16_t* frame = adpcmFrames_.get() + static_cast<size_t>(i) * kMaxKeptChannels;
        left[i] = frame[0];
        if (channels == 2) right[i] = frame[1];
    }
    return frames;
}

int CAuReader::ReadBlock(AudioBlock& block) {
    // Mono and stereo of 16 bits or fewer are unpacked to 16-bit samples
    // first, the faster way.
    const int bits = GetSourceBits();
    if (bits <= 16 && channels <= 2)
        return pcm16_.Decode(block, outputChannels == 2, [this](int16_t* left, int16_t* right) {
            return DecodeInt16(left, right);
        });
    const int width = std::max(GetBlockChannels(), 1);
    block.Shape(width, kBlockFrames, DefaultLayout(width), bits);
    block.frames = 0;
    if (!file_ || ended_ || position >= total) return 0;
    int frames = 0;
    if (!adpcm_) {
        frames = ReadPcm();
        float* out[kMaxKeptChannels];
        for (int c = 0; c < width; ++c) out[c] = block.Channel(c);
        if (frames > 0) UnpackFramesWide(stored_, buffer_.get(), frames, channels, out);
    } else {
        frames = ReadAdpcm(adpcmFrames_.get());
        for (int c = 0; c < width; ++c)
            Int16sToFloats(adpcmFrames_.get() + c, kMaxKeptChannels, frames, block.Channel(c));
    }
    block.frames = std::max(frames, 0);
    return frames;
}

int CAuReader::ReadPcm() {
    const int sampleBytes = codedBits_ / 8;
    const uint64_t frameBytes = uint64_t(channels) * sampleBytes;
    uint64_t chunk = framesPerChunk_ * frameBytes;
    if (position + chunk > total) chunk = total - position;
    const size_t got = std::fread(buffer_.get(), 1, chunk, file_);
    if (got < chunk) ended_ = true;  // read error or file cut short
    position += got;
    return static_cast<int>(got / frameBytes);
}

bool CAuReader::NextCode(unsigned& code) {
    const int width = codedBits_;
    if (bitCount_ < width) {
        if (chunkPos_ == chunkEnd_) return false;
        bitBuffer_ |= uint32_t{*chunkPos_++} << bitCount_;
        bitCount_ += 8;
    }
    code = bitBuffer_ & ((1u << width) - 1);
    bitBuffer_ >>= width;
    bitCount_ -= width;
    return true;
}

// ADPCM frames hold one code per channel, packed least significant bits
// first. Each kept channel has its own decoder state: a coder predicts each
// channel from that channel's own past, and a state shared between the
// channels would make each one's prediction depend on the other's signal.
// (Mono files, the only kind ffmpeg writes, decode the same either way.)
// Beyond 8 channels the extra codes are consumed and dropped.
int CAuReader::ReadAdpcm(int16_t* out) {
    const uint64_t frameBits = uint64_t(channels) * codedBits_;
    uint64_t chunk = framesPerChunk_ * frameBits / 8;
    if (position + chunk > total) chunk = total - position;
    const size_t got = std::fread(buffer_.get(), 1, chunk, file_);
    if (got < chunk) ended_ = true;
    position += got;
    chunkPos_ = buffer_.get();
    chunkEnd_ = chunkPos_ + got;
    const uint64_t bits = uint64_t(bitCount_) + uint64_t(got) * 8;
    const int frames =
        static_cast<int>(std::min<uint64_t>(bits / frameBits, uint64_t(framesPerChunk_)));

    unsigned code = 0;
    for (int i = 0; i < frames; ++i) {
        int16_t* frame = out + static_cast<size_t>(i) * kMaxKeptChannels;
        for (int c = 0; c < channels; ++c) {
            NextCode(code);  // always available: frames counts whole frames
            if (c < keptChannels_) frame[c] = g72x_[c].Decode(code);
        }
    }
    // Chunks hold whole frames, so only the last one can leave bits of an
    // incomplete frame behind; they are dropped with it.
    chunkPos_ = chunkEnd_ = nullptr;
    return frames;
}

}  // namespace quelvox
