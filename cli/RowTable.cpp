#include "cli/RowTable.h"

#include "engine/Texts.h"
#include "l10n/Translation.h"

#include <cstdio>

namespace quelvox::cli {

std::string EscapeCell(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            default: out += c; break;
        }
    }
    return out;
}

std::string ProbeLine(const FileEntry& entry) {
    return EscapeCell(FileNameCell(entry)) + '\t' + DurationCell(entry.Duration) + '\t' +
           BitrateCell(entry.Bitrate) + '\t' + SampleRateCell(entry.SampleRate) + '\t' +
           ShowTextUtf8(ChannelsCell(entry.Channels));
}

CRowTable::CRowTable(const std::vector<FileEntry*>& entries, LinePrinter print)
    : entries_(entries),
      volume_(entries.size()),
      output_(entries.size()),
      skipped_(entries.size()),
      print_(std::move(print)) {}

void CRowTable::SetVolumeCell(int row, const std::string& text) {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(entries_.size())) return;
    volume_[static_cast<size_t>(row)] = text;
}

void CRowTable::SetOutputCell(int row, const Text& text) {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(entries_.size())) return;
    output_[static_cast<size_t>(row)] = ShowTextUtf8(text);
    // Told by the text's id, whatever the language.
    skipped_[static_cast<size_t>(row)] = text.Is(kTargetExistsSkipped);
}

bool CRowTable::SkippedExisting(int row) const {
    std::lock_guard lock(mutex_);
    return row >= 0 && row < static_cast<int>(skipped_.size()) && skipped_[static_cast<size_t>(row)];
}

void CRowTable::NoteShortSource(int row, double claimedSeconds, double heldSeconds) {
    if (!warn_ || row < 0 || row >= static_cast<int>(entries_.size())) return;
    char text[160];
    std::snprintf(text, sizeof text,
                  "is shorter than its header claims (header: %.2f s, audio: %.2f s)",
                  claimedSeconds, heldSeconds);
    warn_(entries_[static_cast<size_t>(row)]->Path + " " + text);
}

void CRowTable::NoteDocumentsFallback(int row, const std::string& path, const Text& reason) {
    (void)row;
    if (note_) {
        note_(path + ": written to the documents folder instead (" + ShowTextUtf8(reason) + ")");
    }
}

void CRowTable::PrintUpTo(int end) {
    std::lock_guard lock(mutex_);
    if (end > static_cast<int>(entries_.size())) end = static_cast<int>(entries_.size());
    for (; printed_ < end; ++printed_) print_(Line(printed_));
}

std::string CRowTable::Line(int row) const {
    std::lock_guard lock(mutex_);
    const size_t i = static_cast<size_t>(row);
    return ProbeLine(*entries_[i]) + '\t' + EscapeCell(volume_[i]) + '\t' + EscapeCell(output_[i]);
}

void CRowTable::MarkUnfinished(const Text& text) {
    std::lock_guard lock(mutex_);
    for (size_t i = static_cast<size_t>(printed_); i < output_.size(); ++i)
        if (output_[i].empty()) output_[i] = ShowTextUtf8(text);
}

}  // namespace quelvox::cli
