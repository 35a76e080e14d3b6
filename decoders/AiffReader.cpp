#include "decoders/AiffReader.h"

#include "common/ByteOrder.h"
#include "decoders/SampleUnpack.h"

#include <gsm.h>
#include <sys/types.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>

#include <taglib/id3v2frame.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tbytevector.h>
#include <taglib/tbytevectorstream.h>

#include "common/SampleHelpers.h"

namespace quelvox {

namespace {

constexpr int kMaxKeptChannels = 8;
// stdio's buffer: 64 KiB reads, as many blocks as a system call.
constexpr size_t kFileBufferBytes = size_t{64} * 1024;
static_assert(kMaxKeptChannels <= kMaxChannels, "blocks hold every kept channel");
constexpr int kGsmFrameBytes = 33;
constexpr int kGsmFrameSamples = 160;

bool SeekTo(std::FILE* f, uint64_t offset) {
    if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
    return ::fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool ReadExact(std::FILE* f, void* buffer, size_t bytes) {
    return std::fread(buffer, 1, bytes, f) == bytes;
}

// Text of the first frame with the given id, as UTF-8.
std::string FrameText(TagLib::ID3v2::Tag& tag, const char* id) {
    const TagLib::ID3v2::FrameList& frames = tag.frameListMap()[id];
    if (frames.isEmpty()) return {};
    return frames.front()->toString().to8Bit(true);
}

}  // namespace

CAiffReader::CAiffReader() : work_(new uint8_t[kWorkBufferBytes]) { ResetInfo(); }

CAiffReader::~CAiffReader() { Close(); }

void CAiffReader::Close() {
    if (gsm_) {
        gsm_destroy(gsm_);
        gsm_ = nullptr;
    }
    dwvw_.Reset(16, nullptr);
    dwvwSamples_.clear();
    dwvwSamples_.shrink_to_fit();
    dwvwFramesLeft_ = 0;
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    fileSize_ = 0;
    haveComm_ = false;
    sampleFrames_ = 0;
    sampleBits_ = 0;
    kind_ = Kind::PcmBig;
    stored_ = StoredSample::S8;
    sourceBytesPerSample_ = 0;
    keptChannels_ = 0;
    framesPerRead_ = 0;
    haveSsnd_ = false;
    dataStart_ = 0;
    dataBytes_ = 0;
    dataLeft_ = 0;
    tags_ = TagInfo{};
    ResetInfo();
}

int CAiffReader::Open(const std::string& path, int renderRate) {
    (void)renderRate;
    Close();
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) return 0;
    if (!fileBuffer_) fileBuffer_ = std::make_unique<char[]>(kFileBufferBytes);
    std::setvbuf(file_, fileBuffer_.get(), _IOFBF, kFileBufferBytes);
    if (::fseeko(file_, 0, SEEK_END) != 0) {
        Close();
        return 0;
    }
    const off_t size = ::ftello(file_);
    if (size < 0 || !SeekTo(file_, 0)) {
        Close();
        return 0;
    }
    fileSize_ = static_cast<uint64_t>(size);
    total = fileSize_;

    if (!ParseChunks() || !haveComm_ || !haveSsnd_) {
        Close();
        return 0;
    }

    // Frames for the duration: the compressed kinds count their blocks.
    double frames;
    if (kind_ == Kind::Ima4) {
        frames = static_cast<double>(dataBytes_) / (channels * aiff::kIma4BlockBytes) *
                 aiff::kIma4BlockSamples;
    } else if (kind_ == Kind::Gsm) {
        // Stereo GSM alternates left and right samples: two per frame.
        frames = static_cast<double>(dataBytes_) / kGsmFrameBytes * kGsmFrameSamples / channels;
    } else {
        frames = sampleFrames_;
    }
    frames = static_cast<double>(static_cast<uint64_t>(frames));

    const double seconds = sampleRate > 0 ? frames / sampleRate : 0.0;
    durationSeconds = static_cast<int32_t>(ClampToInt(seconds, 0, INT32_MAX));
    // The bit rate divides by the whole seconds: a file shorter than one
    // second (a COMM frame count of 0 reads as one frame) takes the rate
    // from its sample format instead of a near-zero length.
    if (durationSeconds > 0) {
        bitrateKbps = static_cast<int32_t>(
            ClampToInt(static_cast<double>(fileSize_) / (durationSeconds * 125.0), 0, INT32_MAX));
    } else {
        const int64_t bps = int64_t{sampleBits_} * channels * sampleRate / 1000;
        bitrateKbps = static_cast<int32_t>(std::min<int64_t>(bps, INT32_MAX));
    }

    dataLeft_ = dataBytes_;
    position = dataStart_;
    if (!SeekTo(file_, dataStart_)) {
        Close();
        return 0;
    }
    return 1;
}

bool CAiffReader::ParseChunks() {
    uint8_t header[12];
    if (!ReadExact(file_, header, 12)) return false;
    if (std::memcmp(header, "FORM", 4) != 0) return false;
    bool aifc;
    if (std::memcmp(header + 8, "AIFF", 4) == 0)
        aifc = false;
    else if (std::memcmp(header + 8, "AIFC", 4) == 0)
        aifc = true;
    else
        return false;

    uint64_t offset = 12;
    for (;;) {
        uint8_t chunk[8];
        if (!SeekTo(file_, offset) || !ReadExact(file_, chunk, 8)) break;
        const uint32_t size = ReadBe32(chunk + 4);
        const uint64_t bodyStart = offset + 8;
        // Odd-sized bodies are followed by a pad byte.
        const uint64_t next = bodyStart + size + (size & 1u);

        if (std::memcmp(chunk, "COMM", 4) == 0) {
            if (!ParseComm(size, aifc)) return false;
        } else if (std::memcmp(chunk, "SSND", 4) == 0) {
            ParseSsnd(size, bodyStart);
        } else if (std::memcmp(chunk, "ID3 ", 4) == 0) {
            ParseId3(size);
        }
        // The scan goes on after the whole chunk, however much of it the
        // handler above read.
        offset = next;
        if (offset >= fileSize_) break;
    }
    return true;
}

bool CAiffReader::ParseComm(uint32_t size, bool aifc) {
    // Only the first 22 bytes hold fields we use (the AIFF-C name string
    // follows them), so an oversized body is never read whole.
    if (aifc ? size < 22 : size != 18) return false;
    uint8_t body[22] = {};
    const size_t want = aifc ? 22 : 18;
    if (!ReadExact(file_, body, want)) return false;

    // A second COMM chunk replaces the first.
    if (gsm_) {
        gsm_destroy(gsm_);
        gsm_ = nullptr;
    }
    haveComm_ = false;

    int ch = ReadBe16(body);
    if (ch == 0) ch = 1;
    uint32_t frames = ReadBe32(body + 2);
    if (frames == 0 || frames == 0xFFFFFFFFu) frames = 1;
    const uint32_t storedFrames = ReadBe32(body + 2);
    int bits = ReadBe16(body + 6);
    const double rate = aiff::ExtendedToDouble(body + 8);
    // A rate that is not a number, negative or beyond the integer range
    // leaves the stream without a usable rate (0; callers treat a rate below
    // 1 as no audio) instead of an undefined conversion.
    const int32_t hz = (rate >= 0.0 && rate < 2147483648.0) ? static_cast<int32_t>(rate) : 0;

    Kind kind = Kind::PcmBig;
    if (aifc) {
        char type[5] = {};
        for (int i = 0; i < 4; ++i) type[i] = static_cast<char>(std::toupper(body[18 + i]));
        const std::string t(type, 4);
        if (t == "NONE" || t == "TWOS" || t == "IN24" || t == "IN32") {
            kind = Kind::PcmBig;
        } else if (t == "SOWT" || t == "23NI") {
            kind = Kind::PcmLittle;
        } else if (t == "ULAW") {
            kind = Kind::Ulaw;
            bits = 8;
        } else if (t == "ALAW") {
            kind = Kind::Alaw;
            bits = 8;
        } else if (t == "FL32") {
            kind = Kind::Float32;
            bits = 32;
        } else if (t == "FL64") {
            kind = Kind::Float64;
            bits = 64;
        } else if (t == "RAW ") {
            kind = Kind::Raw8;
            bits = 8;
        } else if (t == "IMA4") {
            if (ch != 2) return false;
            kind = Kind::Ima4;
            bits = 4;
        } else if (t == "GSM ") {
            // GSM frames carry one channel, or two alternating ones.
            if (ch > 2) return false;
            kind = Kind::Gsm;
        } else if (t == "DWVW") {
            if (bits < 8 || bits > 24) return false;
            kind = Kind::Dwvw;
        } else {
            return false;
        }
    }

    // Whole-byte samples: their size and the stored format their blocks are
    // converted from.
    static constexpr StoredSample kBigInts[] = {StoredSample::S8, StoredSample::S16Be,
                                                StoredSample::S24Be, StoredSample::S32Be};
    static constexpr StoredSample kLittleInts[] = {StoredSample::S8, StoredSample::S16Le,
                                                   StoredSample::S24Le, StoredSample::S32Le};
    int storedBytes = 0;
    StoredSample stored = StoredSample::S8;
    switch (kind) {
        case Kind::PcmBig:
        case Kind::PcmLittle:
            if (bits < 1 || bits > 32) return false;
            storedBytes = (bits + 7) / 8;
            stored = (kind == Kind::PcmBig ? kBigInts : kLittleInts)[storedBytes - 1];
            break;
        case Kind::Ulaw:
            storedBytes = 1;
            stored = StoredSample::Mulaw;
            break;
        case Kind::Alaw:
            storedBytes = 1;
            stored = StoredSample::Alaw;
            break;
        case Kind::Raw8:
            storedBytes = 1;
            stored = StoredSample::U8;
            break;
        case Kind::Float32:
            storedBytes = 4;
            stored = StoredSample::F32Be;
            break;
        case Kind::Float64:
            storedBytes = 8;
            stored = StoredSample::F64Be;
            break;
        case Kind::Dwvw:
            storedBytes = 4;  // size of a decoded sample in our buffer
            break;
        case Kind::Ima4:
        case Kind::Gsm: break;
    }

    if (kind == Kind::Gsm) {
        gsm_ = gsm_create();
        if (!gsm_) return false;
    }

    kind_ = kind;
    stored_ = stored;
    sampleBits_ = bits;
    sampleFrames_ = frames;
    sourceBytesPerSample_ = storedBytes;
    channels = ch;
    outputChannels = ch < 2 ? 1 : 2;
    sampleRate = hz;
    bitsPerSample = 16;
    bytesPerSample = 2;
    keptChannels_ = std::min(ch, kMaxKeptChannels);
    // Never ask for more than the work buffer holds: files with very many
    // channels are read a few frames at a time.
    framesPerRead_ = kBlockFrames;
    if (storedBytes > 0) {
        const size_t frameBytes = size_t(ch) * size_t(storedBytes);
        framesPerRead_ =
            static_cast<int>(std::min<size_t>(kBlockFrames, kWorkBufferBytes / frameBytes));
    }
    dwvwFramesLeft_ = (kind == Kind::Dwvw && storedFrames != 0 && storedFrames != 0xFFFFFFFFu)
                          ? storedFrames
                          : UINT64_MAX;
    haveComm_ = true;
    return true;
}

bool CAiffReader::ParseSsnd(uint32_t size, uint64_t bodyStart) {
    uint8_t header[8];
    if (size < 8 || !ReadExact(file_, header, 8)) return false;
    const uint32_t dataOffset = ReadBe32(header);
    // Block size (header + 4) does not matter for reading.
    if (dataOffset > size - 8) return false;  // no sample data inside
    uint64_t start = bodyStart + 8 + dataOffset;
    uint64_t bytes = uint64_t{size} - 8 - dataOffset;
    // A truncated file holds less than the chunk claims.
    const uint64_t available = start < fileSize_ ? fileSize_ - start : 0;
    bytes = std::min(bytes, available);
    dataStart_ = start;
    dataBytes_ = bytes;
    haveSsnd_ = true;
    return true;
}

void CAiffReader::ParseId3(uint32_t size) {
    const size_t want = std::min<size_t>(size, kMaxId3Bytes);
    std::vector<char> body(want);
    const size_t got = std::fread(body.data(), 1, want, file_);
    if (got < 10) return;

    // The tag is parsed straight from memory; no file is involved.
    TagLib::ByteVector bytes(body.data(), static_cast<unsigned int>(got));
    TagLib::ByteVectorStream stream(bytes);
    TagLib::MPEG::File mpeg(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    TagLib::ID3v2::Tag* tag = mpeg.ID3v2Tag(false);
    if (!tag || tag->isEmpty()) return;

    TagInfo t;
    t.title = tag->title().to8Bit(true);
    t.artist = tag->artist().to8Bit(true);
    t.album = tag->album().to8Bit(true);
    t.year = FrameText(*tag, "TDRC");
    t.genre = tag->genre().to8Bit(true);
    t.comment = tag->comment().to8Bit(true);
    t.track = FrameText(*tag, "TRCK");
    t.composer = FrameText(*tag, "TCOM");
    t.copyright = FrameText(*tag, "TCOP");
    tags_ = std::move(t);
}

int CAiffReader::ReadTags(TagInfo& tags) {
    if (tags_.IsEmpty()) return 0;
    tags = tags_;
    return 1;
}

int CAiffReader::DecodeInt16(int16_t* left, int16_t* right) {
    if (!file_ || !left || (outputChannels == 2 && !right)) return 0;
    switch (kind_) {
        case Kind::Ima4: return ReadIma4(left, right);
        case Kind::Gsm: return ReadGsm(left, right);
        case Kind::Dwvw: return ReadDwvw(left, right);
        default: break;
    }
    const int frames = ReadWholeBytes();
    if (frames > 0) UnpackFrames(stored_, work_.get(), frames, channels, left, right);
    return frames;
}

bool CAiffReader::WholeBytes() const {
    return kind_ != Kind::Ima4 && kind_ != Kind::Gsm && kind_ != Kind::Dwvw;
}

int CAiffReader::GetBlockChannels() {
    return file_ && kind_ != Kind::Ima4 && kind_ != Kind::Gsm ? keptChannels_
                                                              : CAudioReader::GetBlockChannels();
}

int CAiffReader::GetSourceBits() {
    if (!file_) return 16;
    if (kind_ == Kind::Dwvw) return sampleBits_ > 16 ? 24 : 16;
    return WholeBytes() ? WideBits(stored_) : 16;
}

bool CAiffReader::GetSourceFloat() { return file_ && WholeBytes() && IsFloatSample(stored_); }

int CAiffReader::ReadBlock(AudioBlock& block) {
    // Mono and stereo of 16 bits or fewer are unpacked to 16-bit samples
    // first, the faster way.
    const int bits = GetSourceBits();
    if (!file_ || kind_ == Kind::Ima4 || kind_ == Kind::Gsm || (bits <= 16 && channels <= 2))
        return pcm16_.Decode(block, outputChannels == 2, [this](int16_t* left, int16_t* right) {
            return DecodeInt16(left, right);
        });
    const int width = keptChannels_;
    block.Shape(width, kBlockFrames, DefaultLayout(width), bits);
    const int frames = kind_ == Kind::Dwvw ? DecodeDwvw() : ReadWholeBytes();
    block.frames = std::max(frames, 0);
    if (frames <= 0) return frames;
    if (kind_ != Kind::Dwvw) {
        float* out[kMaxKeptChannels];
        for (int c = 0; c < width; ++c) out[c] = block.Channel(c);
        UnpackFramesWide(stored_, work_.get(), frames, channels, out);
        return frames;
    }
    // 16 bits or fewer: the top 16 bits.
    const int32_t* s = dwvwSamples_.data();
    const auto stride = static_cast<size_t>(channels);
    for (int c = 0; c < width; ++c) {
        float* out = block.Channel(c);
        for (int i = 0; i < frames; ++i) {
            const int32_t v = s[static_cast<size_t>(i) * stride + static_cast<size_t>(c)];
            out[i] = bits > 16 ? IntToFloat(v, 32) : Int16ToFloat(static_cast<int16_t>(v >> 16));
        }
    }
    return frames;
}

int CAiffReader::ReadWholeBytes() {
    if (dataLeft_ == 0) return 0;
    const size_t frameBytes = size_t(channels) * size_t(sourceBytesPerSample_);
    const size_t want =
        static_cast<size_t>(std::min<uint64_t>(uint64_t(framesPerRead_) * frameBytes, dataLeft_));
    dataLeft_ -= want;
    const size_t got = std::fread(work_.get(), 1, want, file_);
    if (got == 0) return 0;
    position += got;
    return static_cast<int>(got / frameBytes);
}

int CAiffReader::ReadIma4(int16_t* left, int16_t* right) {
    const size_t blockBytes = size_t(channels) * aiff::kIma4BlockBytes;
    if (dataLeft_ < blockBytes) return 0;
    if (!ReadExact(file_, work_.get(), blockBytes)) {
        dataLeft_ = 0;
        return 0;
    }
    dataLeft_ -= blockBytes;
    position += blockBytes;
    aiff::DecodeIma4Block(work_.get(), left);
    aiff::DecodeIma4Block(work_.get() + aiff::kIma4BlockBytes, right);
    return aiff::kIma4BlockSamples;
}

int CAiffReader::ReadGsm(int16_t* left, int16_t* right) {
    if (dataLeft_ < static_cast<uint64_t>(kGsmFrameBytes)) return 0;
    gsm_byte frame[kGsmFrameBytes];
    if (!ReadExact(file_, frame, kGsmFrameBytes)) {
        dataLeft_ = 0;
        return 0;
    }
    dataLeft_ -= kGsmFrameBytes;
    position += kGsmFrameBytes;
    gsm_signal samples[kGsmFrameSamples];
    if (gsm_decode(gsm_, frame, samples) < 0) return 0;
    if (channels == 1) {
        std::copy(samples, samples + kGsmFrameSamples, left);
        return kGsmFrameSamples;
    }
    for (int i = 0; i < kGsmFrameSamples / 2; ++i) {
        left[i] = samples[2 * i];
        right[i] = samples[2 * i + 1];
    }
    return kGsmFrameSamples / 2;
}

int CAiffReader::ReadDwvw(int16_t* left, int16_t* right) {
    const int frames = DecodeDwvw();
    if (frames <= 0) return 0;

    const int32_t* s = dwvwSamples_.data();
    auto top16 = [](int32_t v) { return static_cast<int16_t>(v >> 16); };
    // Only mono and stereo come here; wider sources are read by ReadBlock.
    if (channels == 1) {
        for (int i = 0; i < frames; ++i) left[i] = top16(s[i]);
    } else {
        for (int i = 0; i < frames; ++i) {
            left[i] = top16(s[2 * i]);
            right[i] = top16(s[2 * i + 1]);
        }
    }
    return frames;
}

int CAiffReader::DecodeDwvw() {
    if (dwvwSamples_.empty()) {
        // First read: set up the decoder to pull the sound data.
        dwvwSamples_.resize(size_t(framesPerRead_) * size_t(channels));
        dwvw_.Reset(sampleBits_, [this](uint8_t* buffer, size_t maxBytes) -> size_t {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(maxBytes, dataLeft_));
            if (want == 0) return 0;
            const size_t got = std::fread(buffer, 1, want, file_);
            dataLeft_ = got < want ? 0 : dataLeft_ - got;
            position += got;
            return got;
        });
    }
    if (dwvw_.Ended() || dwvwFramesLeft_ == 0) return 0;

    const uint64_t frameLimit = std::min<uint64_t>(framesPerRead_, dwvwFramesLeft_);
    const int want = static_cast<int>(frameLimit) * channels;
    const int got = dwvw_.Decode(dwvwSamples_.data(), want);
    const int frames = got / channels;
    if (frames <= 0) return 0;
    if (dwvwFramesLeft_ != UINT64_MAX) dwvwFramesLeft_ -= frames;
    return frames;
}

}  // namespace quelvox
