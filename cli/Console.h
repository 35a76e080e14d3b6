// Everything the command line prints: rows on standard output, warnings
// and the live status lines (progress bars and the run's texts) on
// standard error. One lock keeps lines from different threads apart, and
// the status lines are taken away before anything else is printed and
// drawn again afterwards.
#pragma once

#include "engine/ParallelRun.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace quelvox::cli {

// Columns a UTF-8 text takes on a terminal (East Asian wide characters
// count two).
int DisplayWidth(const std::string& text);
// The longest start of `text` that fits in `columns`, cut between
// characters.
std::string FitToWidth(const std::string& text, int columns);
// "[#####-----]  45%" for position out of total (a total of 0 counts as 1).
std::string Bar(uint64_t position, uint64_t total, int width = 20);

class CConsole {
public:
    // `showStatus`: draw status lines on standard error (a terminal).
    explicit CConsole(bool showStatus) : showStatus_(showStatus) {}
    bool ShowsStatus() const { return showStatus_; }

    // One line on standard output.
    void PrintRow(const std::string& line);
    // Text on standard output as it is.
    void Print(const std::string& text);
    // Flushes standard output. Empty when everything printed there was
    // written, else the cause of the first write that failed.
    std::string FinishOutput();
    // A message on standard error, prefixed "quelvox-cli: ", shown in the
    // run's language.
    void Warn(const Text& text);
    // A line of the command line's own, in English whatever the run's
    // language (a path and what happened to it), shown as it is.
    void Warn(const std::string& line) { Warn(Text(line)); }
    // Replaces the status lines; drawn at most every 100 ms unless `force`.
    void DrawStatus(const std::vector<std::string>& lines, bool force = false);
    void ClearStatus();

private:
    void EraseLocked();
    void DrawLocked();
    // Writes (and flushes) standard output, remembering the first failure.
    void WriteOutLocked(const std::string& text);
    void FlushOutLocked();

    const bool showStatus_;
    std::mutex mutex_;
    std::vector<std::string> status_;
    int drawn_ = 0;
    int outError_ = 0;  // errno of the first failed write to standard output
    std::chrono::steady_clock::time_point lastDraw_{};
};

// Status lines of one sink: the run's text and bar, then the file's, the
// texts translated.
std::vector<std::string> StatusLines(const CSharedProgress::Snapshot& s, bool withRun = true);

}  // namespace quelvox::cli
