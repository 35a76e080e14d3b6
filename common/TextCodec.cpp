#include "common/TextCodec.h"

#include <uchardet.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstring>
#include <strings.h>

namespace quelvox {

namespace {

// Length of the well-formed UTF-8 sequence at p (at most `avail` bytes), or
// 0 when the bytes there do not form one.
size_t Utf8SequenceLength(const unsigned char* p, size_t avail) {
    unsigned char b = p[0];
    if (b < 0x80) return 1;
    size_t len;
    unsigned cp;
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        cp = b & 0x07;
    } else
        return 0;
    if (avail < len) return 0;
    for (size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    // Reject overlong forms, surrogates and values beyond U+10FFFF.
    if (len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return 0;
    if (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return 0;
    return len;
}

// The charset of the user's locale, read once from the environment (not
// from the process locale, which a library may have left at "C").
const char* LocaleCharset() {
    static const std::string charset = [] {
        std::string name;
        locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
        if (loc != static_cast<locale_t>(0)) {
            const char* cs = nl_langinfo_l(CODESET, loc);
            if (cs) name = cs;
            freelocale(loc);
        }
        return name;
    }();
    return charset.c_str();
}

bool IsUtf8Like(const char* charset) {
    return charset[0] == '\0' || strcasecmp(charset, "UTF-8") == 0 ||
           strcasecmp(charset, "UTF8") == 0 || strcasecmp(charset, "ANSI_X3.4-1968") == 0 ||
           strcasecmp(charset, "ASCII") == 0 || strcasecmp(charset, "US-ASCII") == 0;
}

// Runs iconv over the whole input. An input byte sequence the source cannot
// decode, or a character the target cannot hold, is replaced by
// `replacement` (in the target charset) and skipped: one byte of input, or
// one whole UTF-8 character when the input is valid UTF-8.
int RunIconv(std::string_view in, const char* from, const char* to, bool inputIsUtf8,
             std::string_view replacement, std::string& out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return -1;
    out.clear();
    out.reserve(in.size() * 2 + 8);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buf[1024];
    int result = 0;
    while (true) {
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        size_t rc = srcLeft ? iconv(cd, &src, &srcLeft, &dst, &dstLeft)
                            : iconv(cd, nullptr, nullptr, &dst, &dstLeft);
        out.append(buf, static_cast<size_t>(dst - buf));
        if (rc != static_cast<size_t>(-1)) {
            if (srcLeft == 0) {
                // Flush any shift state once, then finish.
                dst = buf;
                dstLeft = sizeof buf;
                iconv(cd, nullptr, nullptr, &dst, &dstLeft);
                out.append(buf, static_cast<size_t>(dst - buf));
                break;
            }
            continue;
        }
        if (errno == E2BIG) continue;
        if (errno == EILSEQ || errno == EINVAL) {
            size_t skip = 1;
            if (inputIsUtf8) {
                size_t len =
                    Utf8SequenceLength(reinterpret_cast<const unsigned char*>(src), srcLeft);
                if (len) skip = len;
            }
            if (skip > srcLeft) skip = srcLeft;
            src += skip;
            srcLeft -= skip;
            out.append(replacement);
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            continue;
        }
        result = -1;
        break;
    }
    iconv_close(cd);
    return result;
}

// Decodes the whole input from `charset` to UTF-8; false when any byte
// sequence is not valid there or the conversion cannot be set up.
bool StrictToUtf8(std::string_view in, const char* charset, std::string& out) {
    iconv_t cd = iconv_open("UTF-8", charset);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    out.assign(in.size() * 4 + 8, '\0');
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char* dst = out.data();
    size_t dstLeft = out.size();
    bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1) &&
              iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<size_t>(-1);
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return ok && srcLeft == 0;
}

bool IsValidUtf8(std::string_view in) {
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    size_t left = in.size();
    while (left) {
        const size_t len = Utf8SequenceLength(p, left);
        if (!len) return false;
        p += len;
        left -= len;
    }
    return true;
}

std::string Latin1ToUtf8(std::string_view in) {
    std::string out;
    out.reserve(in.size() * 2);
    for (char ch : in) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

std::string LegacyTextToUtf8(std::string_view in, const std::string& codePage) {
    if (IsValidUtf8(in)) return std::string(in);
    const std::string alone[] = {std::string(in)};
    const std::string page = ResolveCodePage(codePage, alone);
    std::string out;
    if (!page.empty() && StrictToUtf8(in, page.c_str(), out)) return out;
    return Latin1ToUtf8(in);
}

std::string LocaleLegacyCodePage() {
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        return std::strncmp(value, "zh", 2) == 0 ? "GBK" : "WINDOWS-1252";
    }
    return "WINDOWS-1252";
}

namespace {

// Code pages whose answer from uchardet is taken when the texts decode in
// them: multi-byte East Asian ones, and single-byte ones of scripts other
// than Latin (which need more text before the answer is trusted).
constexpr const char* kMultiByteAnswers[] = {"GB18030", "GB2312", "GBK", "BIG5", "EUC-TW",
                                             "SHIFT_JIS", "EUC-JP", "EUC-KR", "UHC"};
constexpr const char* kNonLatinAnswers[] = {
    "WINDOWS-1251", "KOI8-R", "KOI8-U", "ISO-8859-5", "IBM866",      "MAC-CYRILLIC",
    "ISO-8859-7",   "WINDOWS-1253", "ISO-8859-8", "WINDOWS-1255", "ISO-8859-6",
    "WINDOWS-1256", "TIS-620", "WINDOWS-874"};
// Bytes above 0x7F needed before a single-byte answer is believed.
constexpr size_t kNonLatinEvidence = 16;

bool Listed(std::string_view name, std::span<const char* const> list) {
    for (const char* entry : list)
        if (name == entry) return true;
    return false;
}

std::string UchardetAnswer(const std::string& text) {
    uchardet_t detector = uchardet_new();
    if (!detector) return {};
    std::string answer;
    if (uchardet_handle_data(detector, text.data(), text.size()) == 0) {
        uchardet_data_end(detector);
        if (const char* name = uchardet_get_charset(detector)) answer = name;
    }
    uchardet_delete(detector);
    for (char& c : answer) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return answer;
}

bool DecodesIn(const std::string& text, const char* page) {
    std::string ignored;
    return StrictToUtf8(text, page, ignored);
}

}  // namespace

std::string DetectLegacyCodePage(std::span<const std::string> texts) {
    std::string joined;
    for (const std::string& t : texts) {
        if (IsValidUtf8(t)) continue;
        if (!joined.empty()) joined += '\n';
        joined += t;
    }
    if (joined.empty()) return {};

    // Runs of bytes above 0x7F: double-byte text has them in pairs, accented
    // letters of Latin text stand alone.
    size_t high = 0;
    bool pairs = true;
    size_t run = 0;
    for (char ch : joined + '\n') {
        if (static_cast<unsigned char>(ch) >= 0x80) {
            ++run;
            ++high;
            continue;
        }
        if (run % 2 != 0) pairs = false;
        run = 0;
    }

    const std::string answer = UchardetAnswer(joined);
    if (Listed(answer, kMultiByteAnswers) && DecodesIn(joined, answer.c_str()))
        return answer == "GB2312" || answer == "GBK" ? "GB18030" : answer;
    const bool nonLatin = Listed(answer, kNonLatinAnswers) && DecodesIn(joined, answer.c_str());
    if (nonLatin && high >= kNonLatinEvidence) return answer;
    if (pairs && DecodesIn(joined, "GB18030")) return "GB18030";
    if (!pairs) return nonLatin && high >= kNonLatinEvidence / 2 ? answer : "WINDOWS-1252";
    return LocaleLegacyCodePage();
}

std::string ResolveCodePage(const std::string& setting, std::span<const std::string> texts) {
    if (setting != kAutoCodePage) return setting;
    return DetectLegacyCodePage(texts);
}

std::string SanitizeUtf8(std::string_view in) {
    std::string out;
    out.reserve(in.size());
    const auto* p = reinterpret_cast<const unsigned char*>(in.data());
    size_t left = in.size();
    while (left) {
        size_t len = Utf8SequenceLength(p, left);
        if (len) {
            out.append(reinterpret_cast<const char*>(p), len);
        } else {
            out.append("\xEF\xBF\xBD");
            len = 1;
        }
        p += len;
        left -= len;
    }
    return out;
}

int Utf8ToCharset(std::string_view in, const char* charset, std::string& out) {
    if (IsUtf8Like(charset)) {
        out = SanitizeUtf8(in);
        return 0;
    }
    return RunIconv(in, "UTF-8", charset, true, "?", out);
}

int CharsetToUtf8(std::string_view in, const char* charset, std::string& out) {
    if (IsUtf8Like(charset)) {
        out = SanitizeUtf8(in);
        return 0;
    }
    return RunIconv(in, charset, "UTF-8", false, "\xEF\xBF\xBD", out);
}

int Utf8ToLocal(std::string_view in, std::string& out) {
    return Utf8ToCharset(in, LocaleCharset(), out);
}

int LocalToUtf8(std::string_view in, std::string& out) {
    return CharsetToUtf8(in, LocaleCharset(), out);
}

}  // namespace quelvox
