#include "common/SampleHelpers.h"

namespace quelvox {

namespace {

constexpr float kCentreWeight = 0.707f;

// Centre term: integer sum times 0.707, truncated toward zero.
inline int32_t Centre(int32_t sum) {
    return static_cast<int32_t>(static_cast<float>(sum) * kCentreWeight);
}

}  // namespace

void DownmixToStereo(int n, const int16_t* s, int16_t* left, int16_t* right) {
    int32_t l, r, c;
    switch (n) {
        case 3:
            c = Centre(s[2]);
            l = s[0] + c;
            r = s[1] + c;
            break;
        case 4:
            l = s[0] + s[2];
            r = s[1] + s[3];
            break;
        case 5:
            c = Centre(s[2]);
            l = s[0] + c + s[3];
            r = s[1] + c + s[4];
            break;
        case 6:
            c = Centre(s[2] + s[3]);
            l = s[0] + c + s[4];
            r = s[1] + c + s[5];
            break;
        case 7:
            // The back centre joins the centre term and reaches both sides.
            c = Centre(s[2] + s[3] + s[6]);
            l = s[0] + c + s[4];
            r = s[1] + c + s[5];
            break;
        case 8:
            c = Centre(s[2] + s[3]);
            l = s[0] + c + s[4] + s[6];
            r = s[1] + c + s[5] + s[7];
            break;
        default:
            *left = s[0];
            *right = s[1];
            return;
    }
    *left = ClipSample(l);
    *right = ClipSample(r);
}

void DownmixVorbis51(const int16_t* s, int16_t* left, int16_t* right) {
    int32_t c = Centre(s[1] + s[5]);
    *left = ClipSample(s[0] + s[3] + c);
    *right = ClipSample(s[2] + s[4] + c);
}

void DownmixAac51(const int16_t* s, int16_t* left, int16_t* right) {
    int32_t c = Centre(s[0] + s[5]);
    *left = ClipSample(s[1] + s[3] + c);
    *right = ClipSample(s[2] + s[4] + c);
}

void DownmixMp4Mpeg51(const int16_t* s, int16_t* left, int16_t* right) {
    int32_t c = Centre(s[4] + s[5]);
    *left = ClipSample(s[0] + s[2] + c);
    *right = ClipSample(s[1] + s[3] + c);
}

}  // namespace quelvox
