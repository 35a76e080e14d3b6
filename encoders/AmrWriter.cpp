#include "encoders/AmrWriter.h"

#include "platform/amr/AmrCodec.h"

#include <algorithm>
#include <cstring>

namespace quelvox {

CAmrWriter::~CAmrWriter() { Close(); }

void CAmrWriter::SetCodecParams(const AmrCodecParams& p) {
    narrowBand_ = p.narrowBand ? 1 : 0;
    dtx_ = p.dtx ? 1 : 0;
    nbMode_ = p.nbMode;
    wbMode_ = p.wbMode;
    if (narrowBand_) {
        frameSize_ = amr::kNbFrameSamples;
        encode_ = amr::amrnbenc_encode;
    } else {
        frameSize_ = amr::kWbFrameSamples;
        encode_ = amr::amrwbenc_encode;
    }
}

int CAmrWriter::Open() {
    if (handle_ || !encode_ || frameSize_ <= 0) return 0;
    handle_ = narrowBand_ ? amr::amrnbenc_init(path_.c_str(), dtx_, nbMode_)
                          : amr::amrwbenc_init(path_.c_str(), dtx_, wbMode_);
    staged_ = 0;
    return handle_ ? 1 : 0;
}

int CAmrWriter::WriteBlock(const AudioBlock& block) {
    RoundToInt16(block, pcm16_);
    return WriteInt16(pcm16_.Left(), block.frames);
}

int CAmrWriter::WriteInt16(const int16_t* left, int frames) {
    if (!handle_ || !encode_ || frameSize_ <= 0) return 0;
    if (!left || frames <= 0) return 1;
    const int f = frameSize_;
    bool ok = true;

    if (static_cast<long long>(staged_) + frames < f) {
        std::memcpy(staging_ + staged_, left, static_cast<size_t>(frames) * sizeof(int16_t));
        staged_ += frames;
        return 1;
    }
    int consumed = 0;
    if (staged_ > 0) {
        consumed = f - staged_;
        std::memcpy(staging_ + staged_, left, static_cast<size_t>(consumed) * sizeof(int16_t));
        ok = encode_(handle_, staging_) > 0 && ok;
    }
    // Whole frames straight from the caller's block, without copying.
    while (frames - consumed >= f) {
        ok = encode_(handle_, left + consumed) > 0 && ok;
        consumed += f;
    }
    staged_ = frames - consumed;
    std::memcpy(staging_, left + consumed, static_cast<size_t>(staged_) * sizeof(int16_t));
    // The cause of a failed frame is known once the file is closed.
    return ok ? 1 : 0;
}

void CAmrWriter::Close() {
    if (handle_) {
        if (staged_ > 0 && encode_) {
            std::fill(staging_ + staged_, staging_ + frameSize_, int16_t{0});
            encode_(handle_, staging_);
        }
        const int error = narrowBand_ ? amr::amrnbenc_quit(handle_) : amr::amrwbenc_quit(handle_);
        if (error) NoteWriteError(std::strerror(error));
    }
    Reset();
}

void CAmrWriter::Reset() {
    encode_ = nullptr;
    path_.clear();
    narrowBand_ = 1;
    staged_ = 0;
    dtx_ = 0;
    nbMode_ = 6;
    wbMode_ = 6;
    handle_ = nullptr;
    frameSize_ = 0;
}

}  // namespace quelvox
