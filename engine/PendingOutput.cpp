#include "engine/PendingOutput.h"

#include "engine/Texts.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

namespace quelvox {

namespace fs = std::filesystem;

// Text of the cause when a name was taken meanwhile and the policy skips.
inline constexpr const char* kTakenMeanwhile = kTargetExistsSkipped;

CommitMode CommitModeFor(int targetExistsOpt) {
    if (targetExistsOpt == 22) return CommitMode::Replace;
    if (targetExistsOpt == 33) return CommitMode::KeepExisting;
    return CommitMode::NextFreeName;
}

CPendingOutput::~CPendingOutput() { Abandon(); }

const std::string& CPendingOutput::Begin(const std::string& target) {
    Abandon();
    error_.clear();
    target_ = target;
    const fs::path folder = fs::path(target).parent_path();
    // A per-call generator: no shared state between conversions.
    std::random_device rd;
    std::mt19937_64 rng((static_cast<uint64_t>(rd()) << 32) ^ rd());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, ".quelvox.part-%016llx",
                      static_cast<unsigned long long>(rng()));
        const std::string candidate = (folder / name).string();
        // Creating it exclusively both tests the name and reserves it.
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            temp_ = candidate;
            return temp_;
        }
        if (errno != EEXIST) break;
    }
    error_ = std::strerror(errno);
    temp_.clear();
    return temp_;
}

long long CPendingOutput::TempSize() const {
    if (temp_.empty()) return -1;
    std::error_code ec;
    auto size = fs::file_size(temp_, ec);
    return ec ? -1 : static_cast<long long>(size);
}

// Moves the temporary file to `to` unless something of that name exists:
// renameat2 with RENAME_NOREPLACE, else a hard link and the removal of the
// temporary name, else (file systems that refuse both) a check followed by
// a plain rename. False with errno set; EEXIST when the name is taken.
bool CPendingOutput::MoveNoReplace(const std::string& to) {
    if (::renameat2(AT_FDCWD, temp_.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
    if (::link(temp_.c_str(), to.c_str()) == 0) {
        ::unlink(temp_.c_str());
        return true;
    }
    if (errno == EEXIST) return false;
    std::error_code ec;
    if (fs::exists(fs::symlink_status(to, ec))) {
        errno = EEXIST;
        return false;
    }
    return ::rename(temp_.c_str(), to.c_str()) == 0;
}

bool CPendingOutput::Commit(CommitMode mode) {
    if (temp_.empty()) return false;
    error_.clear();
    bool moved = false;
    if (mode == CommitMode::Replace) {
        moved = ::rename(temp_.c_str(), target_.c_str()) == 0;
    } else {
        moved = MoveNoReplace(target_);
        if (!moved && errno == EEXIST && mode == CommitMode::NextFreeName) {
            // The name was taken after it was chosen: the next free number.
            const fs::path t(target_);
            const std::string stem = (t.parent_path() / t.stem()).string();
            const std::string ext = t.extension().string();
            for (int n = 1; !moved && errno == EEXIST && n < 100000; ++n) {
                const std::string candidate = stem + "_" + std::to_string(n) + ext;
                if (MoveNoReplace(candidate)) {
                    moved = true;
                    target_ = candidate;
                }
            }
        }
    }
    if (!moved) {
        error_ = errno == EEXIST ? std::string(kTakenMeanwhile) : std::strerror(errno);
        Abandon();
        return false;
    }
    temp_.clear();
    return true;
}

void CPendingOutput::Abandon() {
    if (temp_.empty()) return;
    std::error_code ec;
    fs::remove(temp_, ec);
    temp_.clear();
}

}  // namespace quelvox
