// Conversion of tag text between UTF-8 and the locale's character set.
//
// Text inside the program is UTF-8; these helpers serve the places where a
// library or a file stores text in the user's locale charset. In a UTF-8
// locale (and in the plain C locale, which has no charset worth converting
// to) they validate and copy.
#pragma once

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
// in `codePage` (an iconv name such as "GBK"), and when the bytes are not
// valid there either, or `codePage` is empty or unknown, as Latin-1.
std::string LegacyTextToUtf8(std::string_view in, const std::string& codePage);

// Conversions against an explicitly named charset (as iconv names it); the
// locale-based functions above call these. Exposed for tests.
int Utf8ToCharset(std::string_view in, const char* charset, std::string& out);
int CharsetToUtf8(std::string_view in, const char* charset, std::string& out);

}  // namespace quelvox
