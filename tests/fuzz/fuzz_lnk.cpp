// Windows shell links (.lnk): the parser on the bytes, and the file reader.
#include "fuzz/FuzzSupport.h"
#include "platform/ShellLink.h"

using namespace quelvox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ShellLinkTarget target;
    bool ok = ParseShellLink(data, size, target);
    if (!ok) fuzz::Check(target.localPath.empty() && target.relativePath.empty());
    // A UTF-16 unit becomes at most 3 bytes of UTF-8.
    fuzz::Check(target.localPath.size() + target.relativePath.size() <= 3 * size);

    std::string path = fuzz::Scratch().Write(data, size, ".lnk");
    ShellLinkTarget fromFile;
    fuzz::Check(ReadShellLink(path, fromFile) == ok);
    fuzz::Check(fromFile.localPath == target.localPath &&
                fromFile.relativePath == target.relativePath);

    // Any byte string as UTF-16 text.
    std::string text = Utf16LeToUtf8(data, size / 2);
    fuzz::Check(text.size() <= 3 * (size / 2));
    return 0;
}
