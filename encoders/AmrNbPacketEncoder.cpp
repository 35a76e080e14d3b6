#include "encoders/AmrNbPacketEncoder.h"

#include <cstdlib>

#include <opencore-amrnb/interf_enc.h>

namespace quelvox {

namespace {

constexpr int kModeBitrates[] = {4750, 5150, 5900, 6700, 7400, 7950, 10200, 12200};
constexpr int kModeCount = static_cast<int>(sizeof kModeBitrates / sizeof kModeBitrates[0]);

}  // namespace

CAmrNbPacketEncoder::~CAmrNbPacketEncoder() { Close(); }

int CAmrNbPacketEncoder::ModeForBitrate(int bitsPerSecond) {
    int best = 0;
    for (int m = 1; m < kModeCount; ++m) {
        long long dBest = std::llabs(static_cast<long long>(bitsPerSecond) - kModeBitrates[best]);
        long long d = std::llabs(static_cast<long long>(bitsPerSecond) - kModeBitrates[m]);
        if (d < dBest) best = m;
    }
    return best;
}

int CAmrNbPacketEncoder::BitrateOfMode(int mode) {
    if (mode < 0 || mode >= kModeCount) return 0;
    return kModeBitrates[mode];
}

int CAmrNbPacketEncoder::Open(int bitsPerSecond, bool dtx) {
    Close();
    mode_ = ModeForBitrate(bitsPerSecond);
    state_ = Encoder_Interface_init(dtx ? 1 : 0);
    return state_ != nullptr;
}

int CAmrNbPacketEncoder::Encode(const int16_t* speech, uint8_t* out) {
    if (!state_) return -1;
    // The encoder writes at most kMaxFrameBytes; encode into a buffer of
    // generous size anyway so a library surprise cannot overrun `out`.
    unsigned char frame[64];
    int n = Encoder_Interface_Encode(state_, static_cast<enum Mode>(mode_), speech, frame, 0);
    if (n <= 0 || n > kMaxFrameBytes) return -1;
    for (int i = 0; i < n; ++i) out[i] = frame[i];
    return n;
}

void CAmrNbPacketEncoder::Close() {
    if (state_) Encoder_Interface_exit(state_);
    state_ = nullptr;
}

}  // namespace quelvox
