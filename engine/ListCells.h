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
std::string ChannelsCell(int channels);  // "单声", "立体声", "5.1", …
// The channel cell as a text for the front end to show: a named layout is
// a marked text, a number a literal.
Text ChannelsCellText(int channels);

}  // namespace quelvox
