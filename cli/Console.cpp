#include "cli/Console.h"

#include "l10n/Translation.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quelvox::cli {

namespace {

// Decodes one UTF-8 sequence at `i`; malformed bytes count as one
// character each.
char32_t NextCodePoint(const std::string& text, size_t& i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (c >= 0xF8 || (c >= 0x80 && c < 0xC0) || i + extra >= text.size() + (extra ? 0 : 1)) {
        ++i;
        return c;
    }
    char32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        const unsigned char d = static_cast<unsigned char>(text[i + k]);
        if ((d & 0xC0) != 0x80) {
            ++i;
            return c;
        }
        cp = (cp << 6) | (d & 0x3F);
    }
    i += static_cast<size_t>(extra) + 1;
    return cp;
}

int CodePointWidth(char32_t cp) {
    if (cp < 0x20) return 0;
    const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                      (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                      (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                      (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
    return wide ? 2 : 1;
}

int TerminalColumns() {
    winsize ws{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
}

}  // namespace

int DisplayWidth(const std::string& text) {
    int width = 0;
    for (size_t i = 0; i < text.size();) width += CodePointWidth(NextCodePoint(text, i));
    return width;
}

std::string FitToWidth(const std::string& text, int columns) {
    int width = 0;
    size_t i = 0;
    while (i < text.size()) {
        size_t next = i;
        const int w = CodePointWidth(NextCodePoint(text, next));
        if (width + w > columns) break;
        width += w;
        i = next;
    }
    return text.substr(0, i);
}

std::string Bar(uint64_t position, uint64_t total, int width) {
    if (total == 0) total = 1;
    if (position > total) position = total;
    const int filled = static_cast<int>(position * static_cast<uint64_t>(width) / total);
    const int percent = static_cast<int>(position * 100 / total);
    char tail[8];
    std::snprintf(tail, sizeof tail, " %3d%%", percent);
    return "[" + std::string(static_cast<size_t>(filled), '#') +
           std::string(static_cast<size_t>(width - filled), '-') + "]" + tail;
}

void CConsole::WriteOutLocked(const std::string& text) {
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() && outError_ == 0)
        outError_ = errno ? errno : EIO;
    FlushOutLocked();
}

void CConsole::FlushOutLocked() {
    errno = 0;
    if (std::fflush(stdout) != 0 && outError_ == 0) outError_ = errno ? errno : EIO;
}

void CConsole::PrintRow(const std::string& line) {
    std::lock_guard lock(mutex_);
    EraseLocked();
    WriteOutLocked(line + '\n');
    DrawLocked();
}

void CConsole::Print(const std::string& text) {
    std::lock_guard lock(mutex_);
    EraseLocked();
    WriteOutLocked(text);
    DrawLocked();
}

std::string CConsole::FinishOutput() {
    std::lock_guard lock(mutex_);
    FlushOutLocked();
    if (outError_ == 0 && std::ferror(stdout)) outError_ = EIO;
    return outError_ ? std::strerror(outError_) : std::string();
}

void CConsole::Warn(const Text& text) {
    std::lock_guard lock(mutex_);
    EraseLocked();
    FlushOutLocked();
    std::fprintf(stderr, "quelvox-cli: %s\n", ShowTextUtf8(text).c_str());
    DrawLocked();
}

void CConsole::DrawStatus(const std::vector<std::string>& lines, bool force) {
    if (!showStatus_) return;
    std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    status_ = lines;
    if (!force && now - lastDraw_ < std::chrono::milliseconds(100)) return;
    lastDraw_ = now;
    EraseLocked();
    DrawLocked();
}

void CConsole::ClearStatus() {
    if (!showStatus_) return;
    std::lock_guard lock(mutex_);
    EraseLocked();
    status_.clear();
}

void CConsole::EraseLocked() {
    if (!showStatus_ || drawn_ == 0) return;
    std::string seq = "\r\033[K";
    for (int i = 1; i < drawn_; ++i) seq += "\033[1A\r\033[K";
    std::fputs(seq.c_str(), stderr);
    std::fflush(stderr);
    drawn_ = 0;
}

void CConsole::DrawLocked() {
    if (!showStatus_ || status_.empty()) return;
    const int columns = TerminalColumns() - 1;
    std::string out;
    for (size_t i = 0; i < status_.size(); ++i) {
        if (i) out += '\n';
        out += FitToWidth(status_[i], columns);
    }
    std::fputs(out.c_str(), stderr);
    std::fflush(stderr);
    drawn_ = static_cast<int>(status_.size());
}

std::vector<std::string> StatusLines(const CSharedProgress::Snapshot& s, bool withRun) {
    std::vector<std::string> lines;
    if (withRun && s.count > 0)
        lines.push_back(Bar(static_cast<uint64_t>(s.done), static_cast<uint64_t>(s.count)) + " " +
                        ShowTextUtf8(s.runText));
    lines.push_back(Bar(s.position, s.total) + " " + ShowTextUtf8(s.fileText));
    return lines;
}

}  // namespace quelvox::cli
