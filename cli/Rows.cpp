#include "cli/Rows.h"

#include <cstdio>

namespace quelvox::cli {

namespace {

std::string Printf(const char* format, int a, int b = 0, int c = 0) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

}  // namespace

std::string FileNameCell(const FileEntry& entry) {
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
    switch (channels) {
        case 0:
        case 1: return "单声";
        case 2: return "立体声";
        case 3: return "2.1";
        case 4: return "4.0";
        case 5: return "5.0";
        case 6: return "5.1";
        case 7: return "6.1";
        case 8: return "7.1";
        default: return Printf("%d", channels);
    }
}

std::string ProbeLine(const FileEntry& entry) {
    return FileNameCell(entry) + '\t' + DurationCell(entry.Duration) + '\t' +
           BitrateCell(entry.Bitrate) + '\t' + SampleRateCell(entry.SampleRate) + '\t' +
           ChannelsCell(entry.Channels);
}

CRowTable::CRowTable(const std::vector<FileEntry*>& entries, LinePrinter print)
    : entries_(entries),
      volume_(entries.size()),
      output_(entries.size()),
      print_(std::move(print)) {}

void CRowTable::SetVolumeCell(int row, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(entries_.size())) return;
    Advance(row);
    volume_[static_cast<size_t>(row)] = text;
}

void CRowTable::SetOutputCell(int row, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(entries_.size())) return;
    Advance(row);
    output_[static_cast<size_t>(row)] = text;
}

void CRowTable::ScrollToRow(int row) {
    std::lock_guard lock(mutex_);
    Advance(row);
}

void CRowTable::Advance(int row) {
    if (printOnAdvance_) PrintUpTo(row);
}

void CRowTable::PrintUpTo(int end) {
    std::lock_guard lock(mutex_);
    if (end > static_cast<int>(entries_.size())) end = static_cast<int>(entries_.size());
    for (; printed_ < end; ++printed_) print_(Line(printed_));
}

std::string CRowTable::Line(int row) const {
    std::lock_guard lock(mutex_);
    const size_t i = static_cast<size_t>(row);
    return ProbeLine(*entries_[i]) + '\t' + volume_[i] + '\t' + output_[i];
}

}  // namespace quelvox::cli
