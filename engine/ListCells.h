// Texts of the file list's columns, shared by the window and the command
// line.
#pragma once

#include "common/FileEntry.h"
#include "common/Text.h"

#include <string>

namespace quelvox {

// Column texts as the list shows them; empty for 0.
std::string FileNameCell(const FileEntry& entry);
std::string DurationCell(int seconds);   // "03:07", "1:00:00"
std::string BitrateCell(int kbps);       // "128 kbps"
std::string SampleRateCell(int hz);      // "44100 Hz"
Text ChannelsCell(int channels);  // "单声", "立体声" (marked), "5.1", …

}  // namespace quelvox
