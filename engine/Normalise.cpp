#include "engine/Normalise.h"

#include "engine/SampleHelpers.h"
#include "settings/Settings.h"

#include <algorithm>

namespace quelvox {

namespace {

void Scale(int16_t* buffer, int frames, float gain) {
    const double g = gain;
    for (int i = 0; i < frames; ++i)
        buffer[i] = static_cast<int16_t>(ClampToInt(buffer[i] * g, -32768, 32767));
}

}  // namespace

void ApplyGain(int16_t* left, int16_t* right, int frames, int channels, float gain) {
    if (frames <= 0) return;
    if (left) Scale(left, frames, gain);
    if (channels == 2 && right && right != left) Scale(right, frames, gain);
}

float SelectGain(const CSettings& settings, float normalisationGain) {
    if (settings.VolumeType == 0) return normalisationGain > 0.0f ? normalisationGain : 1.0f;
    if (settings.VolumeType == 1 && settings.Volume != 100)
        return static_cast<float>(settings.Volume) * 0.01f;
    return 1.0f;
}

float NormalisationGain(int16_t minimum, int16_t maximum) {
    if (minimum < -32762 || minimum > -1 || maximum < 1 || maximum > 32761) return -1.0f;
    return std::min(32767.0f / static_cast<float>(maximum),
                    32768.0f / static_cast<float>(-minimum));
}

}  // namespace quelvox
