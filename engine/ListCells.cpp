#include "engine/ListCells.h"
#include "engine/Texts.h"

#include <cstdio>
#include <iterator>

namespace quelvox {

namespace {

std::string Printf(const char* format, int a, int b = 0, int c = 0) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

}  // namespace

std::string FileNameCell(const FileEntry& entry) {
    // A CUE track shows as "NN - Title".
    if (!entry.TrackName.empty()) return entry.TrackName;
    const size_t slash = entry.Path.find_last_of('/');
    return slash == std::string::npos ? entry.Path : entry.Path.substr(slash + 1);
}

std::string DurationCell(int seconds) {
    if (seconds <= 0) return {};
    if (seconds < 3600) return Printf("%02d:%02d", seconds / 60, seconds % 60);
    return Printf("%d:%02d:%02d", seconds / 3600, seconds / 60 % 60, seconds % 60);
}

std::string BitrateCell(int kbps) { return kbps > 0 ? Printf("%d kbps", kbps) : std::string(); }

std::string SampleRateCell(int hz) { return hz > 0 ? Printf("%d Hz", hz) : std::string(); }

std::string ChannelsCell(int channels) {
    // Names by channel count; 0 (unknown) shows as mono.
    static constexpr const char* kNames[] = {kMonoCell, kMonoCell, kStereoCell, "2.1", "4.0",
                                             "5.0",     "5.1",     "6.1",       "7.1"};
    if (channels >= 0 && channels < static_cast<int>(std::size(kNames))) return kNames[channels];
    return Printf("%d", channels);
}

Text ChannelsCellText(int channels) {
    const std::string cell = ChannelsCell(channels);
    for (const char* named : {kMonoCell, kStereoCell})
        if (cell == named) return Text::Marked(kEngineTextContext, named);
    return Text(cell);
}

}  // namespace quelvox
