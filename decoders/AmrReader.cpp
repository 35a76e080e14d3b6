#include "decoders/AmrReader.h"

#include "platform/amr/AmrCodec.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <system_error>

namespace quelvox {

CAmrReader::CAmrReader() { ResetInfo(); }

CAmrReader::~CAmrReader() { Close(); }

void CAmrReader::Close() {
    if (nbDecoder_) {
        amr::amrnbdec_quit(nbDecoder_);
        nbDecoder_ = nullptr;
    }
    if (wbDecoder_) {
        amr::amrwbdec_quit(wbDecoder_);
        wbDecoder_ = nullptr;
    }
    carryCount_ = 0;
    wideBand_ = false;
    ResetInfo();
}

int CAmrReader::Open(const std::string& path, int renderRate) {
    (void)renderRate;
    Close();

    char head[amr::kWbMagicSize] = {};
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (got < sizeof head) return 0;

    if (std::memcmp(head, amr::kNbMagic, amr::kNbMagicSize) == 0) {
        nbDecoder_ = amr::amrnbdec_init(path.c_str());
        if (!nbDecoder_) return 0;
        position = amr::kNbMagicSize;
        sampleRate = 8000;
        wideBand_ = false;
    } else if (std::memcmp(head, amr::kWbMagic, amr::kWbMagicSize) == 0) {
        wbDecoder_ = amr::amrwbdec_init(path.c_str());
        if (!wbDecoder_) return 0;
        position = amr::kWbMagicSize;
        sampleRate = 16000;
        wideBand_ = true;
    } else {
        return 0;
    }

    // Progress runs over file bytes; when the size cannot be read, the
    // position alone is a safe denominator (callers treat 0 as 1).
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    total = ec ? position : static_cast<uint64_t>(size);
    durationSeconds = 0;
    bitrateKbps = 0;
    channels = 1;
    outputChannels = 1;
    bitsPerSample = 16;
    bytesPerSample = 2;
    carryCount_ = 0;
    return 1;
}

int CAmrReader::ReadBlock(AudioBlock& block) {
    return pcm16_.Decode(block, false, [this](int16_t* left, int16_t*) { return DecodeInt16(left); });
}

int CAmrReader::DecodeInt16(int16_t* left) {
    if (!left || (!nbDecoder_ && !wbDecoder_)) return 0;

    int n = std::min(carryCount_, kBlockFrames);
    std::memcpy(left, carry_, static_cast<size_t>(n) * sizeof(int16_t));
    carryCount_ = 0;

    while (n < kBlockFrames) {
        const int16_t* frame = nullptr;
        uint64_t filePos = position;
        const int count = wideBand_ ? amr::amrwbdec_decode(wbDecoder_, &frame, &filePos)
                                    : amr::amrnbdec_decode(nbDecoder_, &frame, &filePos);
        if (count <= 0 || !frame) break;
        position = filePos;
        const int take = std::min(count, kBlockFrames - n);
        std::memcpy(left + n, frame, static_cast<size_t>(take) * sizeof(int16_t));
        n += take;
        if (take < count) {
            // A frame holds at most 320 samples, so the rest always fits.
            carryCount_ = std::min(count - take, static_cast<int>(std::size(carry_)));
            std::memcpy(carry_, frame + take, static_cast<size_t>(carryCount_) * sizeof(int16_t));
        }
    }
    return n;
}

}  // namespace quelvox
