#include "encoders/WmaFormats.h"

#include <cctype>
#include <string>

namespace quelvox {

namespace {

bool DescribesAudioVideo(const std::string& description) {
    std::string upper;
    upper.reserve(description.size());
    for (unsigned char c : description) upper.push_back(static_cast<char>(std::toupper(c)));
    return upper.find("(A/V)") != std::string::npos;
}

}  // namespace

void BuildWmaFormatListFrom(const std::vector<wma::WmaCodecFormat>& formats, WmaFormatList& list) {
    list.clear();
    for (const wma::WmaCodecFormat& f : formats) {
        if (DescribesAudioVideo(f.description)) continue;
        const wma::WmaMediaType& t = f.mediaType;
        if (t.formatTag != wma::kFormatTagWma2 && t.formatTag != wma::kFormatTagWmaPro) continue;
        if (t.channels != 1 && t.channels != 2) continue;

        bool duplicate = false;
        for (const WmaFormatItem& it : list)
            if (it.mediaType.samplesPerSec == t.samplesPerSec && it.bitrate == f.bitrate &&
                it.mediaType.channels == t.channels)
                duplicate = true;
        if (duplicate) continue;
        // Before the first item of higher rate, or of the same rate and a
        // higher or equal bit rate (the other channel count); else at the end.
        auto at = list.begin();
        while (at != list.end() &&
               !(at->mediaType.samplesPerSec > t.samplesPerSec ||
                 (at->mediaType.samplesPerSec == t.samplesPerSec && at->bitrate >= f.bitrate)))
            ++at;
        list.insert(at, WmaFormatItem{t, f.bitrate});
    }
}

int BuildWmaFormatList(WmaFormatList& list) {
    if (!wma::WmaRuntimeAvailable()) return 0;
    BuildWmaFormatListFrom(wma::GetAudioCodecFormats(), list);
    return 1;
}

const WmaFormatItem* SelectWmaFormat(const WmaFormatList& list, int rate, int bitrate,
                                     int channels) {
    const WmaFormatItem* candidate = nullptr;
    for (const WmaFormatItem& item : list) {
        if (item.mediaType.channels != channels) continue;
        const int itemRate = item.mediaType.samplesPerSec;
        if (itemRate < rate) {
            candidate = &item;
        } else if (itemRate == rate) {
            if (item.bitrate == bitrate) return &item;
            if (item.bitrate < bitrate) {
                candidate = &item;
            } else {
                // Nearest bit rate of this rate; a tie goes to the higher.
                if (candidate && candidate->mediaType.samplesPerSec == rate &&
                    static_cast<long long>(bitrate) - candidate->bitrate <
                        static_cast<long long>(item.bitrate) - bitrate)
                    return candidate;
                return &item;
            }
        } else {
            if (candidate && candidate->mediaType.samplesPerSec == rate) return candidate;
            return &item;
        }
    }
    return candidate;
}

void WmaAutoParams(int sourceRate, int sourceChannels, int& rate, int& bitrate) {
    struct Row {
        int upTo;
        int monoRate, monoBitrate, rate, bitrate;
    };
    static constexpr Row kRows[] = {
        {12000, 22050, 20000, 22050, 32000},  {16000, 44100, 32000, 44100, 48000},
        {24000, 44100, 48000, 44100, 64000},  {32000, 44100, 48000, 44100, 96000},
        {44100, 44100, 48000, 44100, 128000},
    };
    const bool mono = sourceChannels == 1;
    for (const Row& r : kRows) {
        if (sourceRate <= r.upTo) {
            rate = mono ? r.monoRate : r.rate;
            bitrate = mono ? r.monoBitrate : r.bitrate;
            return;
        }
    }
    rate = mono ? 44100 : 48000;
    bitrate = mono ? 48000 : 192000;
}

}  // namespace quelvox
