#include "engine/PendingOutput.h"

#include "engine/Texts.h"
#include "settings/Settings.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <string_view>

namespace quelvox {

namespace fs = std::filesystem;

// Text of the cause when a name was taken meanwhile and the policy skips.
inline constexpr const char* kTakenMeanwhile = kTargetExistsSkipped;

CommitMode CommitModeFor(int targetExistsOpt) {
    if (targetExistsOpt == kTargetOverwrite) return CommitMode::Replace;
    if (targetExistsOpt == kTargetSkip) return CommitMode::KeepExisting;
    return CommitMode::NextFreeName;
}

namespace {

// Every temporary output file is named this, followed by 16 hex digits.
constexpr std::string_view kTempPrefix = ".quelvox.part-";

// Whether `path` still names the file open as `fd`.
bool StillNames(const std::string& path, int fd) {
    struct stat opened {};
    struct stat named {};
    return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           opened.st_dev == named.st_dev && opened.st_ino == named.st_ino;
}

// The temporary files this process holds, for an exit that leaves no time
// to abandon them one by one. Never destroyed, so an exit handler can
// still reach it after the other static objects are gone.
struct CHeldTemporaries {
    std::mutex mutex;
    std::set<std::string> paths;
    // Set once the process is ending: no temporary file is made after it.
    bool closing = false;
};
CHeldTemporaries& HeldTemporaries() {
    static auto* held = new CHeldTemporaries;
    return *held;
}

void Release(const std::string& path) {
    CHeldTemporaries& held = HeldTemporaries();
    std::lock_guard lock(held.mutex);
    held.paths.erase(path);
}

}  // namespace

int RemoveUnfinishedTemporaries() {
    CHeldTemporaries& held = HeldTemporaries();
    std::lock_guard lock(held.mutex);
    held.closing = true;
    const int removed = static_cast<int>(held.paths.size());
    for (const std::string& path : held.paths) ::unlink(path.c_str());
    held.paths.clear();
    return removed;
}

int RemoveLeftoverTemporaries(const std::string& folder) {
    int removed = 0;
    std::error_code ec;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : fs::path(folder), ec);
    for (fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.compare(0, kTempPrefix.size(), kTempPrefix) != 0) continue;
        const std::string path = it->path().string();
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        // Only a regular file that nobody holds, and that still has this
        // name once we hold it ourselves, is a leftover.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            StillNames(path, fd) && ::unlink(path.c_str()) == 0)
            ++removed;
        ::close(fd);
    }
    return removed;
}

void CLeftoverSweep::Sweep(const std::string& folder) {
    {
        std::lock_guard lock(mutex_);
        if (!swept_.insert(folder).second) return;
    }
    RemoveLeftoverTemporaries(folder);
}

CPendingOutput::~CPendingOutput() { Abandon(); }

const std::string& CPendingOutput::Begin(const std::string& target, CLeftoverSweep* sweep) {
    Abandon();
    error_.clear();
    unremoved_.clear();
    target_ = target;
    const fs::path folder = fs::path(target).parent_path();
    if (sweep)
        sweep->Sweep(folder.string());
    else
        RemoveLeftoverTemporaries(folder.string());
    // A per-call generator: no shared state between conversions.
    std::random_device rd;
    std::mt19937_64 rng((static_cast<uint64_t>(rd()) << 32) ^ rd());
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, ".quelvox.part-%016llx",
                      static_cast<unsigned long long>(rng()));
        const std::string candidate = (folder / name).string();
        // Made and registered in one step, so that a process ending now
        // either removes the file or never makes it.
        CHeldTemporaries& held = HeldTemporaries();
        std::lock_guard lock(held.mutex);
        if (held.closing) {
            errno = ECANCELED;
            break;
        }
        // Creating it exclusively both tests the name and reserves it.
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            // Held from here on. Another run's sweep may have taken the file
            // for a leftover between its creation and the lock: then the
            // name is gone, and another one is tried.
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNames(candidate, fd)) {
                lockFd_ = fd;
                temp_ = candidate;
                held.paths.insert(temp_);
                return temp_;
            }
            ::close(fd);
            errno = EEXIST;
            continue;
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
    Release(temp_);
    temp_.clear();
    Unlock();
    return true;
}

void CPendingOutput::Abandon() {
    if (!temp_.empty()) {
        // Removed while still held, so no sweep can find it unheld.
        std::error_code ec;
        if (!fs::remove(temp_, ec) && ec && fs::exists(fs::symlink_status(temp_, ec)))
            unremoved_ = temp_;
        Release(temp_);
        temp_.clear();
    }
    Unlock();
}

void CPendingOutput::Unlock() {
    if (lockFd_ < 0) return;
    ::close(lockFd_);
    lockFd_ = -1;
}

}  // namespace quelvox
