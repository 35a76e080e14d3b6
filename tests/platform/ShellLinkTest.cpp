// Shell link files: reading the target of well-formed links in their ANSI
// and Unicode forms, finding the target on this system, and refusing
// malformed links without reading past them.
#include "platform/ShellLink.h"

#include "common/TextCodec.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace quelvox;
using namespace testsupport;

namespace {

const uint8_t kClsid[16] = {0x01, 0x14, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
                            0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

struct LinkLayout {
    bool idList = false;
    bool linkInfo = true;
    std::string ansiBase;         // LocalBasePath
    std::string ansiSuffix;       // CommonPathSuffix
    std::u16string unicodeBase;   // LocalBasePathUnicode (header 0x24 when set)
    std::u16string relativePath;  // RELATIVE_PATH string data (Unicode link)
};

void PutUtf16z(std::vector<uint8_t>& v, const std::u16string& s) {
    for (char16_t c : s) PutLe16(v, c);
    PutLe16(v, 0);
}

void PutAnsiz(std::vector<uint8_t>& v, const std::string& s) {
    v.insert(v.end(), s.begin(), s.end());
    v.push_back(0);
}

// Builds a link file the way the shell lays one out.
std::vector<uint8_t> BuildLink(const LinkLayout& layout) {
    uint32_t flags = 0x80;  // IsUnicode
    if (layout.idList) flags |= 0x01;
    if (layout.linkInfo) flags |= 0x02;
    if (!layout.relativePath.empty()) flags |= 0x08;

    std::vector<uint8_t> v;
    PutLe32(v, 0x4C);
    v.insert(v.end(), kClsid, kClsid + 16);
    PutLe32(v, flags);
    v.resize(0x4C, 0);  // attributes, times, size, icon, show command, hot key

    if (layout.idList) {
        // One opaque item and the terminating zero size.
        std::vector<uint8_t> items;
        PutLe16(items, 6);
        for (uint8_t b : {0x1F, 0x50, 0x12, 0x34}) items.push_back(b);
        PutLe16(items, 0);
        PutLe16(v, static_cast<uint16_t>(items.size()));
        v.insert(v.end(), items.begin(), items.end());
    }

    if (layout.linkInfo) {
        const bool unicode = !layout.unicodeBase.empty();
        const uint32_t headerSize = unicode ? 0x24 : 0x1C;
        std::vector<uint8_t> body;  // everything after the header
        const uint32_t volumeOffset = headerSize;
        PutLe32(body, 0x11);        // VolumeIDSize
        PutLe32(body, 3);           // fixed drive
        PutLe32(body, 0x12345678);  // serial
        PutLe32(body, 0x10);        // label offset
        body.push_back(0);          // empty label
        const uint32_t baseOffset = headerSize + static_cast<uint32_t>(body.size());
        PutAnsiz(body, layout.ansiBase);
        const uint32_t suffixOffset = headerSize + static_cast<uint32_t>(body.size());
        PutAnsiz(body, layout.ansiSuffix);
        uint32_t baseOffsetW = 0, suffixOffsetW = 0;
        if (unicode) {
            baseOffsetW = headerSize + static_cast<uint32_t>(body.size());
            PutUtf16z(body, layout.unicodeBase);
            suffixOffsetW = headerSize + static_cast<uint32_t>(body.size());
            PutUtf16z(body, u"");
        }
        PutLe32(v, headerSize + static_cast<uint32_t>(body.size()));
        PutLe32(v, headerSize);
        PutLe32(v, 0x01);  // VolumeIDAndLocalBasePath
        PutLe32(v, volumeOffset);
        PutLe32(v, baseOffset);
        PutLe32(v, 0);  // no network link
        PutLe32(v, suffixOffset);
        if (unicode) {
            PutLe32(v, baseOffsetW);
            PutLe32(v, suffixOffsetW);
        }
        v.insert(v.end(), body.begin(), body.end());
    }

    if (!layout.relativePath.empty()) {
        PutLe16(v, static_cast<uint16_t>(layout.relativePath.size()));
        for (char16_t c : layout.relativePath) PutLe16(v, c);
    }
    PutLe32(v, 0);  // terminal extra block
    return v;
}

bool Parse(const std::vector<uint8_t>& bytes, ShellLinkTarget& t) {
    return ParseShellLink(bytes.data(), bytes.size(), t);
}

}  // namespace

TEST(ShellLinkParse, LocalPathInAnsiAndUnicodeWithAndWithoutItemList) {
    ShellLinkTarget t;
    LinkLayout ansi;
    ansi.ansiBase = "/tmp/x/y.wav";
    ASSERT_TRUE(Parse(BuildLink(ansi), t));
    EXPECT_EQ(t.localPath, "/tmp/x/y.wav");
    EXPECT_EQ(t.relativePath, "");

    ansi.idList = true;
    ASSERT_TRUE(Parse(BuildLink(ansi), t));
    EXPECT_EQ(t.localPath, "/tmp/x/y.wav");

    // The Unicode path wins over the ANSI one, which the shell fills with
    // '?' where the code page lacks a character.
    LinkLayout wide;
    wide.idList = true;
    wide.ansiBase = "/tmp/x/??.wav";
    wide.unicodeBase = u"/tmp/x/\u6B4C\u66F2 \U0001F3B5.wav";
    ASSERT_TRUE(Parse(BuildLink(wide), t));
    EXPECT_EQ(t.localPath, "/tmp/x/\xE6\xAD\x8C\xE6\x9B\xB2 \xF0\x9F\x8E\xB5.wav");

    // Base path and common suffix are joined; the relative path is read.
    LinkLayout joined;
    joined.ansiBase = "C:\\Music\\";
    joined.ansiSuffix = "Album\\a.wav";
    joined.relativePath = u".\\Album\\a.wav";
    ASSERT_TRUE(Parse(BuildLink(joined), t));
    EXPECT_EQ(t.localPath, "C:\\Music\\Album\\a.wav");
    EXPECT_EQ(t.relativePath, ".\\Album\\a.wav");
}

TEST(ShellLinkParse, Utf16ConversionPairsSurrogatesAndReplacesLoneOnes) {
    std::vector<uint8_t> v;
    for (char16_t c :
         {u'A', char16_t(0xD83C), char16_t(0xDFB5), char16_t(0xDC00), u'z', char16_t(0xD800)})
        PutLe16(v, c);
    EXPECT_EQ(Utf16LeToUtf8(v.data(), 6), "A\xF0\x9F\x8E\xB5\xEF\xBF\xBDz\xEF\xBF\xBD");
}

TEST(ShellLinkParse, MalformedLinksFailWithoutReadingPastTheData) {
    ShellLinkTarget t;
    LinkLayout layout;
    layout.idList = true;
    layout.ansiBase = "/tmp/x/y.wav";
    layout.unicodeBase = u"/tmp/x/y.wav";
    layout.relativePath = u"y.wav";
    const std::vector<uint8_t> good = BuildLink(layout);
    ASSERT_TRUE(Parse(good, t));

    // Every cut before the end of the relative path (4 bytes of terminal
    // block follow it) fails. Each prefix is copied into a buffer of its
    // own size so that a read past it would be caught by sanitizers.
    for (size_t n = 0; n + 4 < good.size(); ++n) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(n));
        EXPECT_FALSE(ParseShellLink(cut.data(), cut.size(), t)) << n;
        EXPECT_TRUE(t.localPath.empty());
    }
    EXPECT_FALSE(ParseShellLink(nullptr, 100, t));

    auto patched = [&](size_t at, std::initializer_list<uint8_t> bytes) {
        std::vector<uint8_t> v = good;
        size_t i = at;
        for (uint8_t b : bytes) v[i++] = b;
        return v;
    };
    EXPECT_FALSE(Parse(patched(0, {0x4D}), t));           // header size
    EXPECT_FALSE(Parse(patched(4 + 15, {0x47}), t));      // class id
    EXPECT_FALSE(Parse(patched(0x4C, {0xFF, 0xFF}), t));  // item list size
    const size_t info = 0x4C + 2 + 8;
    EXPECT_FALSE(Parse(patched(info, {0xFF, 0xFF, 0xFF, 0xFF}), t));       // LinkInfoSize
    EXPECT_FALSE(Parse(patched(info + 4, {0xFF, 0xFF, 0xFF, 0x7F}), t));   // header size
    EXPECT_FALSE(Parse(patched(info + 4, {0x04, 0, 0, 0}), t));            // header too small
    EXPECT_FALSE(Parse(patched(info + 16, {0xF0, 0xFF, 0, 0}), t));        // base offset
    EXPECT_FALSE(Parse(patched(info + 28, {0x00, 0x00, 0x01, 0x00}), t));  // Unicode offset
    EXPECT_FALSE(Parse(patched(info + 28, {0x03, 0, 0, 0}), t));           // offset into the header

    // A local path without its terminating NUL inside the block.
    LinkLayout plain;
    plain.ansiBase = "/tmp/x/y.wav";
    std::vector<uint8_t> unterminated = BuildLink(plain);
    size_t nul = unterminated.size() - 4 - 2;  // base NUL, suffix NUL, terminal block
    unterminated[nul] = 'x';
    unterminated[nul + 1] = 'x';
    EXPECT_FALSE(Parse(unterminated, t));

    // A counted string longer than the file.
    std::vector<uint8_t> longString = good;
    size_t countAt = good.size() - 4 - 2 * 5 - 2;
    longString[countAt] = 0xFF;
    longString[countAt + 1] = 0xFF;
    EXPECT_FALSE(Parse(longString, t));

    // Damaged copies of a good link: whatever is accepted yields text.
    uint32_t seed = 12345;
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> v = good;
        for (int k = 0; k < 4; ++k) {
            seed = seed * 1103515245u + 12345u;
            v[(seed >> 8) % v.size()] = static_cast<uint8_t>(seed >> 24);
        }
        if (Parse(v, t)) {
            EXPECT_EQ(SanitizeUtf8(t.localPath), t.localPath);
            EXPECT_EQ(SanitizeUtf8(t.relativePath), t.relativePath);
        }
    }

    // Garbage of every small size.
    std::vector<uint8_t> garbage;
    for (int i = 0; i < 600; ++i) {
        garbage.push_back(static_cast<uint8_t>(i * 131 + 7));
        EXPECT_FALSE(Parse(garbage, t));
    }
}

TEST(ShellLinkResolve, FindsTheTargetOnThisSystem) {
    TempDir dir;
    WriteFile(dir.file("y.wav"), "RIFF");
    std::string sub = dir.file("links");
    ASSERT_EQ(testsupport::Run("mkdir " + Quote(sub)), 0);

    // An absolute POSIX local path is taken as it stands.
    LinkLayout posix;
    posix.ansiBase = dir.file("y.wav");
    WriteFile(sub + "/posix.lnk", BuildLink(posix));
    std::string target;
    ASSERT_TRUE(ResolveShortcut(sub + "/posix.lnk", target));
    EXPECT_EQ(target, dir.file("y.wav"));

    // A relative path is read below the link's folder.
    LinkLayout relative;
    relative.ansiBase = "C:\\Music\\y.wav";
    relative.relativePath = u"..\\y.wav";
    WriteFile(sub + "/relative.lnk", BuildLink(relative));
    ASSERT_TRUE(ResolveShortcut(sub + "/relative.lnk", target));
    EXPECT_EQ(target, dir.file("y.wav"));

    // A Windows path: the file of that name beside the link.
    LinkLayout windows;
    windows.ansiBase = "D:\\Audio\\";
    windows.ansiSuffix = "y.wav";
    WriteFile(dir.file("windows.lnk"), BuildLink(windows));
    ASSERT_TRUE(ResolveShortcut(dir.file("windows.lnk"), target));
    EXPECT_EQ(target, dir.file("y.wav"));
    target.clear();
    WriteFile(sub + "/windows.lnk", BuildLink(windows));  // no y.wav beside it
    EXPECT_FALSE(ResolveShortcut(sub + "/windows.lnk", target));

    // Missing targets, missing links, and links too large to be real.
    posix.ansiBase = dir.file("gone.wav");
    WriteFile(dir.file("gone.lnk"), BuildLink(posix));
    EXPECT_FALSE(ResolveShortcut(dir.file("gone.lnk"), target));
    EXPECT_FALSE(ResolveShortcut(dir.file("absent.lnk"), target));
    EXPECT_TRUE(target.empty());

    posix.ansiBase = dir.file("y.wav");
    std::vector<uint8_t> huge = BuildLink(posix);
    huge.resize(kMaxShellLinkSize + 1, 0);
    WriteFile(dir.file("huge.lnk"), huge);
    ShellLinkTarget t;
    EXPECT_TRUE(Parse(huge, t));  // the bytes themselves are fine
    EXPECT_FALSE(ReadShellLink(dir.file("huge.lnk"), t));
    EXPECT_FALSE(ResolveShortcut(dir.file("huge.lnk"), target));
}
