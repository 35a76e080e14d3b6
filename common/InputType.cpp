#include "common/InputType.h"

namespace quelvox {

namespace {

struct ExtensionRow {
    int type;
    const char* extensions[7];  // null-terminated
};

// Compared in this order; the sets do not overlap.
constexpr ExtensionRow kExtensions[] = {
    {kInputMp3, {".mp3"}},
    {kInputWav, {".wav", ".wave"}},
    {kInputAmr, {".amr", ".awb"}},
    {kInputOgg, {".ogg", ".oga", ".ogm", ".ogv", ".ogx"}},
    {kInputModule, {".mod", ".xm", ".it", ".s3m", ".mtm", ".umx"}},
    {kInputModule, {".mo3"}},
    {kInputMidi, {".midi", ".mid", ".rmi", ".kar"}},
    {kInputAu, {".au", ".snd"}},
    {kInputAiff, {".aif", ".aiff", ".aifc", ".afc"}},
    {kInputCdTrack, {".cda"}},
    {kInputDts, {".dts"}},
    {kInputFlac, {".flac", ".fla"}},
    {kInputWma, {".wma", ".wmv", ".asf", ".wm", ".wmd", ".xwmv"}},
    {kInputWavPack, {".wv"}},
    {kInputAdx, {".adx"}},
    {kInputAac, {".aac"}},
    {kInputMp4, {".mp4", ".m4v", ".m4a", ".m4b"}},
};

}  // namespace

std::string ExtensionOf(std::string_view path) {
    size_t slash = path.find_last_of('/');
    std::string_view name =
        slash == std::string_view::npos ? path : path.substr(slash + 1);
    size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos) return {};
    std::string ext(name.substr(dot));
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

int InputTypeOf(std::string_view path) {
    std::string ext = ExtensionOf(path);
    if (ext.empty()) return kInputOther;
    for (const auto& row : kExtensions)
        for (const char* const* e = row.extensions; *e; ++e)
            if (ext == *e) return row.type;
    return kInputOther;
}

}  // namespace quelvox
