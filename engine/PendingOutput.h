// An output file written under a temporary name in its target folder and
// moved into place only when the conversion succeeded. A failed or
// cancelled conversion therefore leaves an existing file of the target's
// name, and every other file, exactly as they were.
//
// The temporary file is held under an advisory lock (flock) for as long as
// it is written, so that a file of that kind which nobody holds is known to
// be the leftover of a conversion that was killed, and may be removed.
#pragma once

#include <mutex>
#include <set>
#include <string>

namespace quelvox {

// How the finished file takes its final name.
enum class CommitMode {
    Replace,       // replaces a file of that name, atomically
    KeepExisting,  // fails when a file of that name appeared meanwhile
    NextFreeName,  // takes "<stem>_<n><ext>" when the name was taken meanwhile
};

// The commit mode for a target-exists policy (TargetExistsOpt):
// kTargetOverwrite overwrites, kTargetSkip skips, anything else numbers.
CommitMode CommitModeFor(int targetExistsOpt);

// Removes the temporary output files in `folder` that no process holds
// locked: those of conversions that ended without cleaning up (killed, or
// cut off with their terminal). A file another conversion is writing is
// never touched. Returns how many were removed.
int RemoveLeftoverTemporaries(const std::string& folder);

// The folders a run has cleared of leftovers, so that each is cleared once
// per run however many outputs go there. Shared by the run's threads.
class CLeftoverSweep {
public:
    void Sweep(const std::string& folder);

private:
    std::mutex mutex_;
    std::set<std::string> swept_;
};

// Removes every temporary output this process is writing now, and makes
// every later CPendingOutput::Begin fail. For a program that is made to end
// at once (its display is lost and the toolkit exits): called from an exit
// handler, it leaves no partial file behind. What is being written then
// fails to commit. Returns how many files were removed.
int RemoveUnfinishedTemporaries();

class CPendingOutput {
public:
    CPendingOutput() = default;
    ~CPendingOutput();  // abandons a pending file
    CPendingOutput(const CPendingOutput&) = delete;
    CPendingOutput& operator=(const CPendingOutput&) = delete;

    // Reserves a temporary file beside `target` under a short hidden name of
    // fixed length (so that any name the file system accepts as a target
    // also works here), locked until Commit or Abandon, and returns its
    // path; empty when none can be made. Leftovers in the folder are removed
    // first: once per `sweep`, or every time without one.
    const std::string& Begin(const std::string& target, CLeftoverSweep* sweep = nullptr);
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
    // A temporary file that Abandon (or a failed Commit) could not remove
    // (its folder became read-only): someone must be told it is there.
    // Empty when every temporary file went.
    const std::string& Unremoved() const { return unremoved_; }

private:
    bool MoveNoReplace(const std::string& to);
    void Unlock();

    std::string target_;
    std::string temp_;
    std::string error_;
    std::string unremoved_;
    int lockFd_ = -1;  // open on the temporary file, holding its lock
};

}  // namespace quelvox
