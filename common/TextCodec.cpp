#include "common/TextCodec.h"

#include <uchardet.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstring>
#include <strings.h>

#include <vector>

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


std::string LocaleLegacyCodePage() {
    // The code page legacy software of the locale's language wrote tags in.
    struct Prior {
        const char* language;  // the start of the locale's name
        const char* page;
    };
    static constexpr Prior kPriors[] = {
        {"zh_TW", "BIG5"},         {"zh_HK", "BIG5"},         {"zh_MO", "BIG5"},
        {"zh", "GBK"},             {"ja", "CP932"},           {"ko", "CP949"},
        {"ru", "WINDOWS-1251"},    {"uk", "WINDOWS-1251"},    {"be", "WINDOWS-1251"},
        {"bg", "WINDOWS-1251"},    {"sr", "WINDOWS-1251"},    {"mk", "WINDOWS-1251"},
        {"el", "WINDOWS-1253"},    {"tr", "WINDOWS-1254"},    {"pl", "WINDOWS-1250"},
        {"cs", "WINDOWS-1250"},    {"sk", "WINDOWS-1250"},    {"hu", "WINDOWS-1250"},
        {"sl", "WINDOWS-1250"},    {"hr", "WINDOWS-1250"},    {"ro", "WINDOWS-1250"},
    };
    for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* value = std::getenv(name);
        if (!value || !*value) continue;
        for (const Prior& prior : kPriors)
            if (std::strncmp(value, prior.language, std::strlen(prior.language)) == 0)
                return prior.page;
        return "WINDOWS-1252";
    }
    return "WINDOWS-1252";
}

namespace {

// Code pages whose answer from uchardet joins the candidates when the
// texts decode in them.
constexpr const char* kMultiByteAnswers[] = {"GB18030", "GB2312", "GBK", "BIG5", "EUC-TW",
                                             "SHIFT_JIS", "EUC-JP", "EUC-KR", "UHC"};
constexpr const char* kNonLatinAnswers[] = {
    "WINDOWS-1251", "KOI8-R", "KOI8-U", "ISO-8859-5", "IBM866",      "MAC-CYRILLIC",
    "ISO-8859-7",   "WINDOWS-1253", "ISO-8859-8", "WINDOWS-1255", "ISO-8859-6",
    "WINDOWS-1256", "TIS-620", "WINDOWS-874"};

// The code pages every file's texts are tried in, after the locale's.
constexpr const char* kCandidates[] = {"GB18030", "BIG5", "CP932", "CP949", "WINDOWS-1251",
                                       "WINDOWS-1252"};

// How much better another code page must read than the locale's before it
// is taken: about one plausible letter more, so that one short word whose
// bytes read as well (or as badly) either way keeps the locale's reading.
constexpr double kPriorMargin = 1.5;

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

// One name per code page: GBK and GB2312 are read as their superset.
std::string CanonicalPage(std::string page) {
    if (page == "GBK" || page == "GB2312") return "GB18030";
    if (page == "SHIFT_JIS") return "CP932";
    if (page == "UHC" || page == "EUC-KR") return "CP949";
    return page;
}

// The code points of valid UTF-8.
std::u32string CodePoints(std::string_view utf8) {
    std::u32string out;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    size_t left = utf8.size();
    while (left) {
        const size_t len = Utf8SequenceLength(p, left);
        if (!len) {
            out.push_back(0xFFFD);
            ++p;
            --left;
            continue;
        }
        char32_t cp = len == 1 ? p[0] : p[0] & (0xFF >> (len + 1));
        for (size_t i = 1; i < len; ++i) cp = (cp << 6) | (p[i] & 0x3F);
        out.push_back(cp);
        p += len;
        left -= len;
    }
    return out;
}

// The Han characters in everyday use in each double-byte code page: the
// first levels of GB2312, Big5 and JIS X 0208, found once by decoding
// those byte ranges. A text decoded in one of them is judged by its own
// list (a common Japanese character is a rare one in GBK's reading), any
// other text by all three together.
class CCommonHan {
public:
    using Set = std::vector<bool>;
    static const CCommonHan& Get() {
        static const CCommonHan table;
        return table;
    }
    const Set& For(std::string_view page) const {
        if (page == "GB18030") return gb_;
        if (page == "BIG5") return big5_;
        if (page == "CP932") return jis_;
        // Korean tags are written in Hangul; Han characters are rare there.
        if (page == "CP949") return none_;
        return any_;
    }

private:
    CCommonHan()
        : gb_(kSize, false), big5_(kSize, false), jis_(kSize, false), any_(kSize, false),
          none_(kSize, false) {
        Add(gb_, "GB2312", 0xB0, 0xD7, 0xA1, 0xFE);
        Add(big5_, "BIG5", 0xA4, 0xC5, 0x40, 0x7E);
        Add(big5_, "BIG5", 0xA4, 0xC5, 0xA1, 0xFE);
        Add(jis_, "CP932", 0x88, 0x98, 0x40, 0xFC);
        for (size_t i = 0; i < kSize; ++i) any_[i] = gb_[i] || big5_[i] || jis_[i];
    }
    static void Add(Set& set, const char* page, int leadFrom, int leadTo, int trailFrom,
                    int trailTo) {
        for (int lead = leadFrom; lead <= leadTo; ++lead) {
            for (int trail = trailFrom; trail <= trailTo; ++trail) {
                if (trail == 0x7F) continue;
                std::string utf8;
                const char pair[] = {static_cast<char>(lead), static_cast<char>(trail)};
                if (!StrictToUtf8(std::string_view(pair, 2), page, utf8)) continue;
                for (char32_t cp : CodePoints(utf8))
                    if (cp < kSize) set[cp] = true;
            }
        }
    }
    static constexpr size_t kSize = 0xA000;
    Set gb_, big5_, jis_, any_, none_;
};

enum class Script { None, Latin, Cyrillic, Greek };

Script LetterScript(char32_t cp) {
    if ((cp >= 'A' && cp <= 'Z') || (cp >= 'a' && cp <= 'z')) return Script::Latin;
    if (cp >= 0xC0 && cp <= 0x24F && cp != 0xD7 && cp != 0xF7) return Script::Latin;
    if (cp >= 0x400 && cp <= 0x4FF) return Script::Cyrillic;
    if (cp >= 0x386 && cp <= 0x3CE) return Script::Greek;
    return Script::None;
}

bool IsUpper(char32_t cp) {
    if (cp < 0x80) return cp >= 'A' && cp <= 'Z';
    if (cp >= 0xC0 && cp <= 0xDE) return cp != 0xD7;
    if (cp >= 0x100 && cp <= 0x17F) return cp % 2 == 0;  // pairs upper, lower
    if (cp >= 0x400 && cp <= 0x42F) return true;
    if (cp >= 0x386 && cp <= 0x3AB) return true;
    return cp == 0x160 || cp == 0x152 || cp == 0x17D || cp == 0x178;
}

// Score of a non-letter character: how likely it is in tag text.
double SymbolScore(char32_t cp, const CCommonHan::Set& commonHan) {
    if (cp >= 0x4E00 && cp <= 0x9FFF) return commonHan[cp] ? 2.0 : -1.0;
    if (cp >= 0x3040 && cp <= 0x30FF) return 2.0;  // kana
    if (cp >= 0xAC00 && cp <= 0xD7A3) return 2.0;  // Hangul syllables
    if ((cp >= 0x3000 && cp <= 0x303F) || (cp >= 0xFF01 && cp <= 0xFF5E)) return 0.0;
    if (cp >= 0xFF61 && cp <= 0xFF9F) return -1.0;  // half-width kana
    if (cp < 0xA0 || (cp >= 0xE000 && cp <= 0xF8FF) || cp == 0xFFFD) return -3.0;
    // Signs Latin text uses: quotes, dashes, the ellipsis, ©, ®, °, ·.
    for (char32_t ok : {0xA0u, 0xA9u, 0xAEu, 0xB0u, 0xB7u, 0xABu, 0xBBu, 0xBFu, 0xA1u, 0x2013u,
                        0x2014u, 0x2018u, 0x2019u, 0x201Cu, 0x201Du, 0x2022u, 0x2026u})
        if (cp == ok) return 0.0;
    if (cp < 0x100) return -1.0;                     // other Latin-1 signs
    if (cp >= 0x250 && cp <= 0x2FF) return -1.0;     // phonetic letters, modifiers
    if (cp >= 0x2000 && cp <= 0x2BFF) return -1.0;   // other signs and shapes
    if (cp >= 0x3400 && cp <= 0x4DBF) return -1.0;  // rare Han
    if (cp >= 0xF900 && cp <= 0xFAFF) return -1.0;  // compatibility Han
    return 0.0;
}

// Score of one word of letters: its letters beyond ASCII count for it
// when the word looks like a word (one script, usual letter case, not
// every letter accented), against it otherwise.
double WordScore(const std::u32string& word) {
    size_t beyond = 0;
    size_t upperAfterFirst = 0;
    bool mixed = false;
    Script script = Script::None;
    for (size_t i = 0; i < word.size(); ++i) {
        const char32_t cp = word[i];
        const Script s = LetterScript(cp);
        if (cp >= 0x80) {
            ++beyond;
            if (script == Script::None || script == Script::Latin) script = s;
            else if (s != script) mixed = true;
        }
        if (i > 0 && IsUpper(cp)) ++upperAfterFirst;
    }
    if (beyond == 0) return 0.0;
    for (char32_t cp : word)
        if (cp < 0x80 && script != Script::Latin && script != Script::None) mixed = true;
    const bool cased = upperAfterFirst == 0 || upperAfterFirst + 1 == word.size();
    const double each = static_cast<double>(beyond);
    if (mixed || !cased) return -each;
    if (script == Script::Latin && word.size() > 1 && beyond * 2 > word.size()) return -each;
    return each;
}

// How plausible a text decoded in `page` is as tag text: the sum of its
// characters' and words' scores (ASCII counts nothing).
double Plausibility(std::string_view utf8, std::string_view page = {}) {
    const CCommonHan::Set& commonHan = CCommonHan::Get().For(page);
    double score = 0.0;
    std::u32string word;
    for (char32_t cp : CodePoints(utf8)) {
        if (LetterScript(cp) != Script::None) {
            word.push_back(cp);
            continue;
        }
        score += WordScore(word);
        word.clear();
        if (cp >= 0x80) score += SymbolScore(cp, commonHan);
    }
    return score + WordScore(word);
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

    // The locale's code page first, then the usual ones and uchardet's
    // answer; each that decodes every byte is scored by how plausible its
    // reading is. Another page wins only by a clear margin.
    const std::string prior = CanonicalPage(LocaleLegacyCodePage());
    std::vector<std::string> pages{prior};
    for (const char* page : kCandidates)
        if (page != prior) pages.emplace_back(page);
    const std::string answer = CanonicalPage(UchardetAnswer(joined));
    if ((Listed(answer, kMultiByteAnswers) || Listed(answer, kNonLatinAnswers)) &&
        std::find(pages.begin(), pages.end(), answer) == pages.end())
        pages.push_back(answer);

    std::string best;
    double bestScore = 0.0;
    for (const std::string& page : pages) {
        std::string decoded;
        if (!StrictToUtf8(joined, page.c_str(), decoded)) continue;
        double score = Plausibility(decoded, page);
        if (page != prior) score -= kPriorMargin;
        if (best.empty() || score > bestScore) {
            best = page;
            bestScore = score;
        }
    }
    return best.empty() ? std::string("WINDOWS-1252") : best;
}

std::string LegacyTextToUtf8(std::string_view in, const std::string& codePage) {
    std::string out;
    if (IsValidUtf8(in)) {
        // Short legacy text can be valid UTF-8 by chance (GBK "山水" reads
        // as "ɽˮ"). With a code page settled for the file, such text is
        // read in it when UTF-8 gives unlikely characters and the code page
        // gives likely ones.
        if (codePage.empty() || codePage == kAutoCodePage) return std::string(in);
        const double asUtf8 = Plausibility(in);
        if (asUtf8 < 0.0 && StrictToUtf8(in, codePage.c_str(), out) &&
            Plausibility(out, CanonicalPage(codePage)) > asUtf8 + kPriorMargin)
            return out;
        return std::string(in);
    }
    const std::string alone[] = {std::string(in)};
    const std::string page = ResolveCodePage(codePage, alone);
    if (!page.empty() && StrictToUtf8(in, page.c_str(), out)) return out;
    return Latin1ToUtf8(in);
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
