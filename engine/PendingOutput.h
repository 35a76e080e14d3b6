// An output file written under a temporary name in its target folder and
// moved into place only when the conversion succeeded. A failed or
// cancelled conversion therefore leaves an existing file of the target's
// name, and every other file, exactly as they were.
#pragma once

#include <string>

namespace quelvox {

// How the finished file takes its final name.
enum class CommitMode {
    Replace,       // replaces a file of that name, atomically
    KeepExisting,  // fails when a file of that name appeared meanwhile
    NextFreeName,  // takes "<stem>_<n><ext>" when the name was taken meanwhile
};

// The commit mode for a target-exists policy (TargetExistsOpt): 22
// overwrites, 33 skips, anything else numbers.
CommitMode CommitModeFor(int targetExistsOpt);

class CPendingOutput {
public:
    CPendingOutput() = default;
    ~CPendingOutput();  // abandons a pending file
    CPendingOutput(const CPendingOutput&) = delete;
    CPendingOutput& operator=(const CPendingOutput&) = delete;

    // Reserves a temporary file beside `target` under a short hidden name of
    // fixed length (so that any name the file system accepts as a target
    // also works here) and returns its path; empty when none can be made.
    const std::string& Begin(const std::string& target);
    const std::string& TempPath() const { return temp_; }
    // The final name: the target, or after Commit the name actually taken.
    const std::string& Target() const { return target_; }
    // Size of the temporary file; -1 when it cannot be read.
    long long TempSize() const;
    // Moves the temporary file to its final name. False, with the
    // temporary file removed and Error() naming the cause, when the move
    // fails; an existing file is then untouched.
    bool Commit(CommitMode mode = CommitMode::Replace);
    // Removes the temporary file.
    void Abandon();
    const std::string& Error() const { return error_; }

private:
    bool MoveNoReplace(const std::string& to);

    std::string target_;
    std::string temp_;
    std::string error_;
};

}  // namespace quelvox
