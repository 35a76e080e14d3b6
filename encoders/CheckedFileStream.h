// A file stream for TagLib that checks every write.
//
// TagLib's own file stream ignores short writes: on a full disk it saves a
// tag that reports success and leaves a file cut at the free space. This
// stream does the same work on a file descriptor, remembers the first
// failed read, write or truncation with its errno, and checks the close at
// the end, so a tag write either completes or says why not.
#pragma once

#include <taglib/tiostream.h>

#include <string>

namespace quelvox {

class CCheckedFileStream : public TagLib::IOStream {
public:
    // Opens an existing file for reading and writing; never creates one.
    explicit CCheckedFileStream(const std::string& path);
    ~CCheckedFileStream() override;
    CCheckedFileStream(const CCheckedFileStream&) = delete;
    CCheckedFileStream& operator=(const CCheckedFileStream&) = delete;

    TagLib::FileName name() const override { return path_.c_str(); }
    TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector& data) override;
    void insert(const TagLib::ByteVector& data, unsigned long start = 0,
                unsigned long replace = 0) override;
    void removeBlock(unsigned long start = 0, unsigned long length = 0) override;
    bool readOnly() const override { return false; }
    bool isOpen() const override { return fd_ >= 0; }
    void seek(long offset, Position p = Beginning) override;
    long tell() const override { return position_; }
    long length() override;
    void truncate(long length) override;

    // Closes the file. False when that, or anything before it, failed;
    // Error() then says why.
    bool Finish();
    bool Failed() const { return errno_ != 0; }
    // The cause of the first failure (strerror), empty when none.
    std::string Error() const;

private:
    bool WriteAt(const char* data, long long size, long long at);
    bool ReadAt(char* data, long long size, long long at);
    // Moves the bytes from `from` to the end of the file to `to`.
    bool MoveTail(long long from, long long to);
    void Fail(int error);

    std::string path_;
    int fd_ = -1;
    long position_ = 0;
    int errno_ = 0;
};

}  // namespace quelvox
