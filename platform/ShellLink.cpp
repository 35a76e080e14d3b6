#include "platform/ShellLink.h"

#include "common/ByteOrder.h"
#include "common/TextCodec.h"

#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace quelvox {

namespace {

constexpr uint32_t kHeaderSize = 0x4C;
// 00021401-0000-0000-C000-000000000046 in its stored byte order.
constexpr uint8_t kLinkClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// LinkFlags bits.
constexpr uint32_t kHasLinkTargetIdList = 0x01;
constexpr uint32_t kHasLinkInfo = 0x02;
constexpr uint32_t kHasName = 0x04;
constexpr uint32_t kHasRelativePath = 0x08;
constexpr uint32_t kIsUnicode = 0x80;
constexpr uint32_t kForceNoLinkInfo = 0x100;

// LinkInfoFlags bit: VolumeID and LocalBasePath are present.
constexpr uint32_t kVolumeIdAndLocalBasePath = 0x01;

// Smallest LinkInfo header, and the size from which the Unicode offsets
// are part of it.
constexpr uint32_t kLinkInfoHeaderMin = 0x1C;
constexpr uint32_t kLinkInfoHeaderUnicode = 0x24;

// Bounds-checked little-endian reader over a byte range.
class Cursor {
public:
    Cursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Has(size_t pos, size_t count) const { return pos <= size_ && count <= size_ - pos; }
    bool Le16(size_t pos, uint32_t& v) const {
        if (!Has(pos, 2)) return false;
        v = ReadLe16(data_ + pos);
        return true;
    }
    bool Le32(size_t pos, uint32_t& v) const {
        if (!Has(pos, 4)) return false;
        v = ReadLe32(data_ + pos);
        return true;
    }
    // NUL-terminated 8-bit string starting at `pos` and ending before `end`.
    bool AnsiZ(size_t pos, size_t end, std::string& out) const {
        if (end > size_ || pos >= end) return false;
        const void* nul = std::memchr(data_ + pos, 0, end - pos);
        if (!nul) return false;
        out.assign(reinterpret_cast<const char*>(data_ + pos),
                   static_cast<const uint8_t*>(nul) - (data_ + pos));
        return true;
    }
    // NUL-terminated UTF-16LE string starting at `pos` and ending before `end`.
    bool UnicodeZ(size_t pos, size_t end, std::string& out) const {
        if (end > size_ || pos >= end) return false;
        for (size_t p = pos; p + 2 <= end; p += 2) {
            if (data_[p] == 0 && data_[p + 1] == 0) {
                out = Utf16LeToUtf8(data_ + pos, (p - pos) / 2);
                return true;
            }
        }
        return false;
    }
    const uint8_t* At(size_t pos) const { return data_ + pos; }

private:
    const uint8_t* data_;
    size_t size_;
};

std::string AnsiToUtf8(const std::string& ansi) {
    std::string out;
    if (LocalToUtf8(ansi, out) != 0) out = SanitizeUtf8(ansi);
    return out;
}

// Reads the LinkInfo block at `pos`; sets `end` past it and fills the local
// path when the block carries one.
bool ParseLinkInfo(const Cursor& c, size_t pos, size_t& end, std::string& localPath) {
    uint32_t size = 0, headerSize = 0, flags = 0;
    if (!c.Le32(pos, size) || !c.Le32(pos + 4, headerSize) || !c.Le32(pos + 8, flags)) return false;
    if (headerSize < kLinkInfoHeaderMin || size < headerSize || !c.Has(pos, size)) return false;
    end = pos + size;

    uint32_t localOffset = 0, suffixOffset = 0;
    if (!c.Le32(pos + 16, localOffset) || !c.Le32(pos + 24, suffixOffset)) return false;
    uint32_t localOffsetW = 0, suffixOffsetW = 0;
    if (headerSize >= kLinkInfoHeaderUnicode) {
        if (!c.Le32(pos + 28, localOffsetW) || !c.Le32(pos + 32, suffixOffsetW)) return false;
    }
    if (!(flags & kVolumeIdAndLocalBasePath)) return true;  // network target only

    // Every offset is relative to the block and must land inside it, past
    // the header.
    auto inside = [&](uint32_t off) { return off >= headerSize && off < size; };

    // The ANSI base path and suffix are always present; the Unicode forms
    // are preferred where the header has them.
    std::string rawBase, rawSuffix;
    if (!inside(localOffset) || !c.AnsiZ(pos + localOffset, end, rawBase)) return false;
    if (!inside(suffixOffset) || !c.AnsiZ(pos + suffixOffset, end, rawSuffix)) return false;
    std::string base, suffix;
    if (localOffsetW != 0) {
        if (!inside(localOffsetW) || !c.UnicodeZ(pos + localOffsetW, end, base)) return false;
    } else {
        base = AnsiToUtf8(rawBase);
    }
    if (suffixOffsetW != 0) {
        if (!inside(suffixOffsetW) || !c.UnicodeZ(pos + suffixOffsetW, end, suffix)) return false;
    } else {
        suffix = AnsiToUtf8(rawSuffix);
    }
    localPath = base + suffix;
    return true;
}

// Reads one counted string of the string data at `pos`; moves `pos` past it.
bool ReadCountedString(const Cursor& c, size_t& pos, bool unicode, std::string& out) {
    uint32_t count = 0;
    if (!c.Le16(pos, count)) return false;
    pos += 2;
    size_t bytes = unicode ? size_t(count) * 2 : size_t(count);
    if (!c.Has(pos, bytes)) return false;
    if (unicode)
        out = Utf16LeToUtf8(c.At(pos), count);
    else
        out = AnsiToUtf8(std::string(reinterpret_cast<const char*>(c.At(pos)), bytes));
    pos += bytes;
    return true;
}

bool Exists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string Join(const std::string& folder, const std::string& name) {
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string BackslashesToSlashes(std::string s) {
    for (char& ch : s)
        if (ch == '\\') ch = '/';
    return s;
}

}  // namespace

std::string Utf16LeToUtf8(const uint8_t* data, size_t units) {
    std::string out;
    out.reserve(units);
    auto put = [&out](uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    };
    for (size_t i = 0; i < units; ++i) {
        uint32_t u = ReadLe16(data + 2 * i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            uint32_t lo = ReadLe16(data + 2 * i + 2);
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                put(0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                ++i;
                continue;
            }
        }
        put(u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u);
    }
    return out;
}

bool ParseShellLink(const uint8_t* data, size_t size, ShellLinkTarget& target) {
    target = {};
    if (!data) return false;
    Cursor c(data, size);
    uint32_t headerSize = 0, flags = 0;
    if (!c.Le32(0, headerSize) || headerSize != kHeaderSize || !c.Has(0, kHeaderSize)) return false;
    if (std::memcmp(data + 4, kLinkClsid, sizeof kLinkClsid) != 0) return false;
    if (!c.Le32(20, flags)) return false;

    size_t pos = kHeaderSize;
    if (flags & kHasLinkTargetIdList) {
        uint32_t idListSize = 0;
        if (!c.Le16(pos, idListSize)) return false;
        pos += 2;
        if (!c.Has(pos, idListSize)) return false;
        pos += idListSize;
    }

    ShellLinkTarget found;
    if ((flags & kHasLinkInfo) && !(flags & kForceNoLinkInfo)) {
        size_t end = 0;
        if (!ParseLinkInfo(c, pos, end, found.localPath)) return false;
        pos = end;
    } else if (flags & kHasLinkInfo) {
        // Present but to be ignored: still skipped by its size.
        uint32_t infoSize = 0;
        if (!c.Le32(pos, infoSize) || infoSize < 4 || !c.Has(pos, infoSize)) return false;
        pos += infoSize;
    }

    const bool unicode = (flags & kIsUnicode) != 0;
    std::string name;
    if ((flags & kHasName) && !ReadCountedString(c, pos, unicode, name)) return false;
    if ((flags & kHasRelativePath) && !ReadCountedString(c, pos, unicode, found.relativePath))
        return false;
    // Working folder, arguments, icon and the extra blocks are of no use here.

    target = std::move(found);
    return true;
}

bool ReadShellLink(const std::string& linkPath, ShellLinkTarget& target) {
    target = {};
    std::ifstream in(linkPath, std::ios::binary);
    if (!in) return false;
    struct stat st;
    if (::stat(linkPath.c_str(), &st) != 0 || st.st_size < 0 ||
        static_cast<uint64_t>(st.st_size) > kMaxShellLinkSize)
        return false;
    // Read one byte more than the size found: a file that grew meanwhile
    // past the limit is still refused.
    std::vector<uint8_t> bytes(static_cast<size_t>(st.st_size) + 1);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    size_t got = static_cast<size_t>(in.gcount());
    if (in.bad() || got > kMaxShellLinkSize) return false;
    return ParseShellLink(bytes.data(), got, target);
}

bool ResolveShortcut(const std::string& linkPath, std::string& target) {
    ShellLinkTarget link;
    if (!ReadShellLink(linkPath, link)) return false;
    const std::string folder = FolderOf(linkPath);

    if (!link.localPath.empty() && link.localPath[0] == '/' && Exists(link.localPath)) {
        target = link.localPath;
        return true;
    }
    if (!link.relativePath.empty()) {
        std::string rel = BackslashesToSlashes(link.relativePath);
        if (rel[0] != '/') {
            std::string candidate =
                std::filesystem::path(Join(folder, rel)).lexically_normal().string();
            if (Exists(candidate)) {
                target = candidate;
                return true;
            }
        }
    }
    if (!link.localPath.empty() && link.localPath[0] != '/') {
        std::string local = BackslashesToSlashes(link.localPath);
        size_t slash = local.find_last_of('/');
        std::string name = slash == std::string::npos ? local : local.substr(slash + 1);
        // A bare drive ("C:") or an empty name is no file name.
        if (!name.empty() && name.find(':') == std::string::npos) {
            std::string candidate = Join(folder, name);
            if (Exists(candidate)) {
                target = candidate;
                return true;
            }
        }
    }
    return false;
}

}  // namespace quelvox
