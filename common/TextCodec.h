// Conversion of tag text between UTF-8 and the locale's character set.
//
// Text inside the program is UTF-8; these helpers serve the places where a
// library or a file stores text in the user's locale charset. In a UTF-8
// locale (and in the plain C locale, which has no charset worth converting
// to) they validate and copy.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace quelvox {

// UTF-8 to the locale's charset. Malformed sequences are accepted and become
// U+FFFD (or '?' where the charset lacks it); characters the charset cannot
// represent become '?'. Returns 0 and fills `out`, or -1 when the conversion
// cannot be set up. Never reads past the end of `in`.
int Utf8ToLocal(std::string_view in, std::string& out);

// The locale's charset to UTF-8. Malformed input becomes U+FFFD. Returns 0
// and fills `out`, or -1 when the conversion cannot be set up.
int LocalToUtf8(std::string_view in, std::string& out);

// Makes any byte string valid UTF-8: well-formed sequences are copied,
// every malformed byte becomes U+FFFD.
std::string SanitizeUtf8(std::string_view in);

// Tag text stored as 8-bit bytes without a declared encoding (ID3v1,
// ID3v2 frames marked Latin-1, RIFF INFO) to UTF-8: text that already is
// valid UTF-8 (plain ASCII included) stays as it is; otherwise it is decoded
// in `codePage` (an iconv name such as "GBK"; kAutoCodePage decides from
// this text alone, see ResolveCodePage), and when the bytes are not valid
// there either, or `codePage` is empty or unknown, as Latin-1.
std::string LegacyTextToUtf8(std::string_view in, const std::string& codePage);

// The TagCodePage value that decides the code page per file.
inline constexpr const char* kAutoCodePage = "auto";

// The legacy code page of the user's locale (LC_ALL, LC_CTYPE, LANG):
// "GBK" for a Chinese locale, "WINDOWS-1252" for any other.
std::string LocaleLegacyCodePage();

// The code page a file's legacy texts were written in, judged over all of
// them together (texts that are valid UTF-8 take no part): uchardet's
// answer where it names a multi-byte East Asian code page the texts decode
// in, or a single-byte code page of a non-Latin script with enough text to
// tell; texts whose bytes above 0x7F come in pairs that decode as GB18030
// are GB18030; texts with lone such bytes are Windows-1252. Anything else
// gets the locale's code page. Empty when no text needs a code page.
std::string DetectLegacyCodePage(std::span<const std::string> texts);

// The code page to read one file's legacy texts in: a named code page as it
// is; kAutoCodePage detected over `texts` (DetectLegacyCodePage).
std::string ResolveCodePage(const std::string& setting, std::span<const std::string> texts);

// Conversions against an explicitly named charset (as iconv names it); the
// locale-based functions above call these. Exposed for tests.
int Utf8ToCharset(std::string_view in, const char* charset, std::string& out);
int CharsetToUtf8(std::string_view in, const char* charset, std::string& out);

}  // namespace quelvox
