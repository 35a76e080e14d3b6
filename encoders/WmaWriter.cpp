#include "encoders/WmaWriter.h"

#include "common/TextCodec.h"

#include <cstring>

namespace quelvox {

CWmaWriter::CWmaWriter() = default;

CWmaWriter::~CWmaWriter() { Close(); }

void CWmaWriter::SetTags(const TagInfo& tags) {
    title_ = SanitizeUtf8(tags.title);
    artist_ = SanitizeUtf8(tags.artist);
    album_ = SanitizeUtf8(tags.album);
    genre_ = SanitizeUtf8(tags.genre);
    year_ = SanitizeUtf8(tags.year);
    comment_ = SanitizeUtf8(tags.comment);
    composer_ = SanitizeUtf8(tags.composer);
    copyright_ = SanitizeUtf8(tags.copyright);
    track_ = ParseDecimal(tags.track);
}

void CWmaWriter::SetFileName(const std::string& path) { path_ = path; }

void CWmaWriter::SetSampleRate(int hz) {
    sampleRate_ = hz;
    bitsPerSample_ = 16;
}

void CWmaWriter::SetChannels(int count) {
    channels_ = count;
    bitsPerSample_ = 16;
}

void CWmaWriter::SetBitrate(int bitsPerSecond) { bitrate_ = bitsPerSecond; }

void CWmaWriter::SetCodecParams(const wma::WmaMediaType& mediaType) {
    hasMediaType_ = true;
    mediaType_ = mediaType;
}

void CWmaWriter::Reset() {
    writer_.reset();
    for (std::string* s :
         {&title_, &album_, &artist_, &genre_, &year_, &comment_, &composer_, &copyright_, &path_})
        s->clear();
    track_ = 0;
    sampleRate_ = bitsPerSample_ = channels_ = bitrate_ = 0;
    hasMediaType_ = false;
    mediaType_ = wma::WmaMediaType{};
    framesWritten_ = sampleTime_ = 0;
    interleaved_.clear();
}

int CWmaWriter::Open() {
    lastError_.clear();
    auto fail = [this](const std::string& reason) {
        lastError_ = reason;
        Reset();  // the layer's writer removes a file it created
        return 0;
    };
    if (!wma::WmaRuntimeAvailable()) return fail("the Windows Media codecs are not available");
    if (!hasMediaType_) return fail("no output format chosen");
    if (sampleRate_ <= 0 || (channels_ != 1 && channels_ != 2)) return fail("invalid input format");

    writer_ = std::make_unique<wma::CWmaFileWriter>();
    writer_->SetProfile(mediaType_, bitrate_);
    writer_->SetInputFormat(sampleRate_, channels_);
    writer_->AddAttribute("Title", title_);
    writer_->AddAttribute("Author", artist_);
    writer_->AddAttribute("WM/AlbumArtist", artist_);
    writer_->AddAttribute("Description", comment_);
    writer_->AddAttribute("WM/AlbumTitle", album_);
    writer_->AddAttribute("WM/Genre", genre_);
    if (track_ > 0) writer_->AddAttribute("WM/TrackNumber", static_cast<uint32_t>(track_));
    writer_->AddAttribute("WM/Year", year_);
    writer_->AddAttribute("WM/Composer", composer_);
    writer_->AddAttribute("Copyright", copyright_);
    if (!writer_->BeginWriting(path_)) return fail(writer_->GetLastError());
    framesWritten_ = sampleTime_ = 0;
    return 1;
}

int CWmaWriter::WriteBlock(const AudioBlock& block) {
    RoundToInt16(block, pcm16_);
    return WriteInt16(pcm16_.Left(), pcm16_.Right(), block.frames);
}

int CWmaWriter::WriteInt16(const int16_t* left, const int16_t* right, int frames) {
    if (!writer_ || !writer_->IsWriting()) return 0;
    if (frames == 0) return 1;
    if (!left || frames < 0) return 0;
    if (!right) right = left;
    const size_t n = static_cast<size_t>(frames);
    interleaved_.resize(n * static_cast<size_t>(channels_));
    if (channels_ == 1) {
        std::memcpy(interleaved_.data(), left, n * sizeof(int16_t));
    } else {
        for (size_t i = 0; i < n; ++i) {
            interleaved_[2 * i] = left[i];
            interleaved_[2 * i + 1] = right[i];
        }
    }
    const bool ok = writer_->WriteSample(sampleTime_, interleaved_.data(), frames);
    if (!ok) NoteWriteError(writer_->GetLastError());
    // The time follows the total of frames written, so rounding never
    // accumulates over a long file.
    framesWritten_ += frames;
    sampleTime_ = static_cast<int64_t>(static_cast<double>(framesWritten_) *
                                       static_cast<double>(wma::kTimeUnitsPerSecond) / sampleRate_);
    return ok ? 1 : 0;
}

void CWmaWriter::Close() {
    if (writer_ && writer_->IsWriting() && !writer_->EndWriting())
        NoteWriteError(writer_->GetLastError());
    Reset();
}

}  // namespace quelvox
