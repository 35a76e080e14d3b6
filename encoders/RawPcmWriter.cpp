#include "encoders/RawPcmWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quelvox {

namespace {

inline void PutLe16(unsigned char* p, int16_t v) {
    auto u = static_cast<uint16_t>(v);
    p[0] = static_cast<unsigned char>(u & 0xFF);
    p[1] = static_cast<unsigned char>(u >> 8);
}

// Writes the whole buffer, retrying on interruption and short writes.
bool WriteAll(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;  // a write that takes nothing: the device is full
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

CRawPcmWriter::~CRawPcmWriter() { Close(); }

int CRawPcmWriter::Open() {
    if (fd_ >= 0 || path_.empty()) return 0;
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    return fd_ >= 0 ? 1 : 0;
}

int CRawPcmWriter::WriteBlock(const AudioBlock& block) {
    RoundToInt16(block, pcm16_);
    return WriteInt16(pcm16_.Left(), pcm16_.Right(), block.frames);
}

int CRawPcmWriter::WriteInt16(const int16_t* left, const int16_t* right, int frames) {
    if (fd_ < 0 || left == nullptr || frames <= 0) return 0;
    if (frames > kBlockFrames) frames = kBlockFrames;
    size_t bytes;
    if (channels_ == 2) {
        if (right == nullptr) right = left;
        for (int i = 0; i < frames; ++i) {
            PutLe16(buffer_ + i * 4, left[i]);
            PutLe16(buffer_ + i * 4 + 2, right[i]);
        }
        bytes = static_cast<size_t>(frames) * 4;
    } else {
        for (int i = 0; i < frames; ++i) PutLe16(buffer_ + i * 2, left[i]);
        bytes = static_cast<size_t>(frames) * 2;
    }
    if (WriteAll(fd_, buffer_, bytes)) return 1;
    NoteWriteError(std::strerror(errno ? errno : ENOSPC));
    return 0;
}

void CRawPcmWriter::Close() {
    if (fd_ >= 0) {
        if (::close(fd_) != 0) NoteWriteError(std::strerror(errno));
        fd_ = -1;
    }
    path_.clear();
}

}  // namespace quelvox
