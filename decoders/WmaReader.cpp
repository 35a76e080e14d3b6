#include "decoders/WmaReader.h"

#include "common/AudioBlock.h"
#include "common/TagInfo.h"

#include "common/SampleHelpers.h"
#include "common/TextCodec.h"
#include "platform/wma/WmaLayer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace quelvox {

namespace {

// Longest track-number text that is read.
constexpr size_t kTrackTextBytes = 20;

}  // namespace

CWmaReader::CWmaReader() : buffer_(kInitialBufferBytes / sizeof(int16_t)) { ResetInfo(); }

CWmaReader::~CWmaReader() { Close(); }

size_t CWmaReader::GrownBufferBytes(size_t length) { return (length + length / 8) / 4 * 4 + 4; }

void CWmaReader::Release() {
    if (reader_) reader_->Close();
    reader_.reset();
    index_ = framesLeft_ = 0;
    pcmChannels_ = 0;
    wideIndex_ = wideLeft_ = 0;
    sourceBits_ = 16;
    blockChannels_ = 0;
    blockLayout_ = 0;
}

void CWmaReader::Close() {
    Release();
    for (std::string* s :
         {&title_, &artist_, &comment_, &album_, &genre_, &year_, &copyright_, &composer_})
        s->clear();
    track_ = 0;
    streamNumber_ = 0;
    ResetInfo();
}

int CWmaReader::Open(const std::string& path, int renderRate) {
    (void)renderRate;
    Close();
    if (!wma::WmaRuntimeAvailable()) return 0;
    reader_ = std::make_unique<wma::CWmaSyncReader>();
    // Any failure below leaves the reader closed with no stale properties;
    // the stream number stays for HasAudio.
    auto fail = [this] {
        Release();
        ResetInfo();
        return 0;
    };
    if (!reader_->Open(path)) return fail();

    for (int i = 0; i < reader_->GetStreamCount(); ++i)
        if (reader_->GetStreamType(i) == wma::WmaStreamType::Audio) {
            streamNumber_ = reader_->GetStreamNumber(i);
            break;
        }
    if (streamNumber_ == 0) return fail();
    if (!reader_->SelectAudioStream(streamNumber_)) return fail();
    position = 0;

    // Attributes: a missing one is no error, any other failure is.
    bool failed = false;
    auto text = [&](const char* name, std::string& out) {
        wma::WmaAttribute a;
        wma::WmaResult r = reader_->GetAttributeByName(name, a);
        if (r == wma::WmaResult::Failed) failed = true;
        out = r == wma::WmaResult::Ok && a.type == wma::WmaAttrType::String ? SanitizeUtf8(a.text)
                                                                            : std::string();
    };
    auto attribute = [&](const char* name, wma::WmaAttribute& a) {
        wma::WmaResult r = reader_->GetAttributeByName(name, a);
        if (r == wma::WmaResult::Failed) failed = true;
        return r == wma::WmaResult::Ok;
    };
    text("Title", title_);
    text("Author", artist_);
    text("Description", comment_);
    text("WM/AlbumTitle", album_);
    text("WM/Genre", genre_);
    wma::WmaAttribute a;
    track_ = 0;
    if (attribute("WM/TrackNumber", a)) {
        if (a.type == wma::WmaAttrType::Dword)
            track_ =
                static_cast<int>(std::min<uint64_t>(a.number, std::numeric_limits<int>::max()));
        else if (a.type == wma::WmaAttrType::String)
            track_ = ParseDecimal(a.text.substr(0, kTrackTextBytes));
    }
    text("WM/Year", year_);
    text("Copyright", copyright_);
    text("WM/Composer", composer_);
    if (attribute("Duration", a) && a.type == wma::WmaAttrType::Qword) {
        total = a.number;
        durationSeconds = static_cast<int32_t>(
            std::min<uint64_t>(a.number / static_cast<uint64_t>(wma::kTimeUnitsPerSecond),
                               std::numeric_limits<int32_t>::max()));
    }
    if (attribute("Bitrate", a) && a.type == wma::WmaAttrType::Dword)
        bitrateKbps = static_cast<int32_t>(a.number / 1000);
    if (failed) return fail();

    int rate = 0, pcmChannels = 0;
    if (!reader_->GetOutputFormat(rate, pcmChannels) || rate < 1 || pcmChannels < 1) return fail();
    sampleRate = rate;
    channels = pcmChannels;
    pcmChannels_ = pcmChannels;
    outputChannels = pcmChannels == 1 ? 1 : 2;
    bitsPerSample = 16;
    bytesPerSample = 2;
    index_ = framesLeft_ = 0;
    DescribeBlocks();
    return 1;
}

void CWmaReader::DescribeBlocks() {
    sourceBits_ = reader_->GetSourceBits();
    blockChannels_ = std::min(pcmChannels_, kMaxChannels);
    // The positions the stream names, once each, else the default order.
    std::vector<uint64_t> positions = reader_->GetChannelPositions();
    positions.resize(static_cast<size_t>(blockChannels_), 0);
    blockLayout_ = OrderByPosition(positions.data(), blockChannels_, order_);
}

int CWmaReader::GetBlockChannels() {
    return reader_ && blockChannels_ > 0 ? blockChannels_ : CAudioReader::GetBlockChannels();
}

uint64_t CWmaReader::GetChannelLayout() {
    return reader_ && blockChannels_ > 0 ? blockLayout_ : CAudioReader::GetChannelLayout();
}

int CWmaReader::CopyWide(AudioBlock& block, int at) {
    const auto stride = static_cast<size_t>(pcmChannels_);
    // Frames left in the 16-bit piece come first, then the float piece's.
    const bool narrow = framesLeft_ > 0;
    const size_t left = narrow ? framesLeft_ : wideLeft_;
    const int n = static_cast<int>(std::min<size_t>(left, static_cast<size_t>(kBlockFrames - at)));
    for (int k = 0; k < blockChannels_; ++k) {
        const auto first = static_cast<size_t>(order_[k]);
        float* out = block.Channel(k) + at;
        if (narrow)
            Int16sToFloats(buffer_.data() + index_ + first, stride, n, out);
        else
            for (int i = 0; i < n; ++i)
                out[i] = wide_[wideIndex_ + first + static_cast<size_t>(i) * stride];
    }
    size_t& index = narrow ? index_ : wideIndex_;
    size_t& remaining = narrow ? framesLeft_ : wideLeft_;
    index += static_cast<size_t>(n) * stride;
    remaining -= static_cast<size_t>(n);
    return n;
}

bool CWmaReader::NextPiece() {
    const int16_t* data = nullptr;
    size_t bytes = 0;
    int64_t time = 0;
    if (!reader_->GetNextSample(data, bytes, time)) return false;
    position = time > 0 ? static_cast<uint64_t>(time) : 0;
    if (bytes > GetBufferBytes()) buffer_.assign(GrownBufferBytes(bytes) / sizeof(int16_t), 0);
    std::memcpy(buffer_.data(), data, bytes);
    framesLeft_ = bytes / (2 * static_cast<size_t>(pcmChannels_));
    index_ = 0;
    return true;
}

int CWmaReader::ReadBlock(AudioBlock& block) {
    if (!reader_ || pcmChannels_ < 1 || blockChannels_ < 1) {
        block.Shape(GetBlockChannels(), kBlockFrames, 0, 16);
        return 0;
    }
    block.Shape(blockChannels_, kBlockFrames, blockLayout_, sourceBits_);
    int n = CopyWide(block, 0);
    if (n < kBlockFrames) n += CopyWide(block, n);
    while (n < kBlockFrames) {
        if (sourceBits_ <= 16) {
            // The decoded 16-bit pieces, exactly.
            if (!NextPiece()) break;
        } else {
            const float* data = nullptr;
            size_t frames = 0;
            int64_t time = 0;
            if (!reader_->GetNextFloatSample(data, frames, time)) break;
            position = time > 0 ? static_cast<uint64_t>(time) : 0;
            const size_t samples = frames * static_cast<size_t>(pcmChannels_);
            wide_.resize(samples);
            for (size_t i = 0; i < samples; ++i) wide_[i] = SaneFloatSample(data[i]);
            wideLeft_ = frames;
            wideIndex_ = 0;
        }
        n += CopyWide(block, n);
    }
    block.frames = n;
    return n;
}

int CWmaReader::ReadTags(TagInfo& tags) {
    tags.title = title_;
    tags.artist = artist_;
    tags.album = album_;
    tags.year = year_;
    tags.genre = genre_;
    tags.comment = comment_;
    tags.track = std::to_string(track_);
    tags.composer = composer_;
    tags.copyright = copyright_;
    return 1;
}

}  // namespace quelvox
