#include "encoders/CheckedFileStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace quelvox {

namespace {

// Bytes moved at a time when a tag grows or shrinks in front of the audio.
constexpr long long kMoveChunk = 1 << 20;

}  // namespace

CCheckedFileStream::CCheckedFileStream(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) Fail(errno);
}

CCheckedFileStream::~CCheckedFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

void CCheckedFileStream::Fail(int error) {
    if (errno_ == 0) errno_ = error != 0 ? error : EIO;
}

std::string CCheckedFileStream::Error() const {
    return errno_ != 0 ? std::string(std::strerror(errno_)) : std::string();
}

bool CCheckedFileStream::WriteAt(const char* data, long long size, long long at) {
    // After a failure nothing more is written: the file is given up anyway.
    if (fd_ < 0 || Failed()) return false;
    while (size > 0) {
        const ssize_t n = ::pwrite(fd_, data, static_cast<size_t>(size), static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // A write that takes nothing and says nothing is a full disk.
            Fail(n < 0 ? errno : ENOSPC);
            return false;
        }
        data += n;
        size -= n;
        at += n;
    }
    return true;
}

bool CCheckedFileStream::ReadAt(char* data, long long size, long long at) {
    if (fd_ < 0) return false;
    while (size > 0) {
        const ssize_t n = ::pread(fd_, data, static_cast<size_t>(size), static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Fail(n < 0 ? errno : EIO);
            return false;
        }
        data += n;
        size -= n;
        at += n;
    }
    return true;
}

TagLib::ByteVector CCheckedFileStream::readBlock(unsigned long length) {
    if (fd_ < 0 || length == 0 || position_ < 0) return TagLib::ByteVector();
    const long long available = std::max(0L, this->length() - position_);
    const long long wanted = std::min(static_cast<long long>(length), available);
    if (wanted <= 0) return TagLib::ByteVector();
    TagLib::ByteVector block(static_cast<unsigned int>(wanted), '\0');
    if (!ReadAt(block.data(), wanted, position_)) return TagLib::ByteVector();
    position_ += static_cast<long>(wanted);
    return block;
}

void CCheckedFileStream::writeBlock(const TagLib::ByteVector& data) {
    if (WriteAt(data.data(), data.size(), position_)) position_ += static_cast<long>(data.size());
}

bool CCheckedFileStream::MoveTail(long long from, long long to) {
    const long long size = length();
    const long long tail = size - from;
    if (tail <= 0 || from == to) return !Failed();
    std::vector<char> buffer(static_cast<size_t>(std::min(tail, kMoveChunk)));
    if (to > from) {
        // Growing: copy from the end backwards, so nothing is overwritten
        // before it has been read.
        for (long long left = tail; left > 0;) {
            const long long n = std::min(left, kMoveChunk);
            const long long at = from + left - n;
            if (!ReadAt(buffer.data(), n, at) || !WriteAt(buffer.data(), n, to + (at - from)))
                return false;
            left -= n;
        }
    } else {
        for (long long done = 0; done < tail;) {
            const long long n = std::min(tail - done, kMoveChunk);
            if (!ReadAt(buffer.data(), n, from + done) || !WriteAt(buffer.data(), n, to + done))
                return false;
            done += n;
        }
    }
    return true;
}

void CCheckedFileStream::insert(const TagLib::ByteVector& data, unsigned long start,
                                unsigned long replace) {
    const long long size = length();
    const long long begin = static_cast<long long>(start);
    const long long oldEnd = std::min(begin + static_cast<long long>(replace), std::max(size, begin));
    const long long newEnd = begin + static_cast<long long>(data.size());
    if (oldEnd < size && !MoveTail(oldEnd, newEnd)) return;
    if (newEnd < oldEnd && oldEnd <= size) truncate(static_cast<long>(size - (oldEnd - newEnd)));
    if (WriteAt(data.data(), data.size(), begin)) position_ = static_cast<long>(newEnd);
}

void CCheckedFileStream::removeBlock(unsigned long start, unsigned long length) {
    const long long size = this->length();
    const long long begin = static_cast<long long>(start);
    if (begin >= size || length == 0) return;
    const long long end = std::min(begin + static_cast<long long>(length), size);
    if (!MoveTail(end, begin)) return;
    truncate(static_cast<long>(size - (end - begin)));
}

void CCheckedFileStream::seek(long offset, Position p) {
    switch (p) {
        case Beginning: position_ = offset; break;
        case Current: position_ += offset; break;
        case End: position_ = length() + offset; break;
    }
}

long CCheckedFileStream::length() {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) return 0;
    return static_cast<long>(st.st_size);
}

void CCheckedFileStream::truncate(long length) {
    if (fd_ < 0 || Failed()) return;
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) Fail(errno);
}

bool CCheckedFileStream::Finish() {
    if (fd_ < 0) return false;
    // Writes are checked as they are made (a full disk refuses them then);
    // close reports what a network file system could only tell at the end.
    // No fsync: the audio before it is not synced either, and a sync per
    // tagged file would cost more than the tag write itself.
    if (::close(fd_) != 0 && errno != EINTR) Fail(errno);
    fd_ = -1;
    return !Failed();
}

}  // namespace quelvox
