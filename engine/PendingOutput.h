// An output file written under a temporary name in its target folder and
// moved into place only when the conversion succeeded. A failed or
// cancelled conversion therefore leaves an existing file of the target's
// name, and every other file, exactly as they were.
#pragma once

#include <string>

namespace quelvox {

class CPendingOutput {
public:
    CPendingOutput() = default;
    ~CPendingOutput();  // abandons a pending file
    CPendingOutput(const CPendingOutput&) = delete;
    CPendingOutput& operator=(const CPendingOutput&) = delete;

    // Chooses a free temporary name beside `target` (a hidden name that
    // keeps the target's extension) and returns it; empty when the target
    // has no folder part that can be used.
    const std::string& Begin(const std::string& target);
    const std::string& TempPath() const { return temp_; }
    const std::string& Target() const { return target_; }
    // Size of the temporary file; -1 when it cannot be read.
    long long TempSize() const;
    // Moves the temporary file onto the target (replacing it). False, and
    // the temporary file removed, when the move fails.
    bool Commit();
    // Removes the temporary file.
    void Abandon();

private:
    std::string target_;
    std::string temp_;
};

}  // namespace quelvox
