#include "common/InputType.h"

namespace quelvox {

namespace {

// Every input type that has extensions of its own; the extension sets do
// not overlap. kInputOther and kInputDts are decoded by the fallback alone
// (.dts is told apart only to pre-process it).
constexpr InputTypeRow kInputTypes[] = {
    {kInputMp3, InputReader::kBass, false, {".mp3"}},
    {kInputWav, InputReader::kBass, false, {".wav", ".wave"}},
    {kInputAmr, InputReader::kAmr, false, {".amr", ".awb"}},
    {kInputOgg, InputReader::kOggVorbis, true, {".ogg", ".oga", ".ogm", ".ogv", ".ogx"}},
    {kInputModule,
     InputReader::kBass,
     false,
     {".mod", ".xm", ".it", ".s3m", ".mtm", ".umx", ".mo3"}},
    {kInputMidi, InputReader::kBass, false, {".midi", ".mid", ".rmi", ".kar"}},
    {kInputAu, InputReader::kAu, false, {".au", ".snd"}},
    {kInputAiff, InputReader::kAiff, true, {".aif", ".aiff", ".aifc", ".afc"}},
    {kInputCdTrack, InputReader::kBass, false, {".cda"}},
    {kInputDts, InputReader::kNone, false, {".dts"}},
    {kInputFlac, InputReader::kBass, false, {".flac", ".fla"}},
    {kInputWma, InputReader::kWma, false, {".wma", ".wmv", ".asf", ".wm", ".wmd", ".xwmv"}},
    {kInputWavPack, InputReader::kBass, false, {".wv"}},
    {kInputAdx, InputReader::kBass, false, {".adx"}},
    {kInputAac, InputReader::kBass, false, {".aac"}},
    {kInputMp4, InputReader::kBass, false, {".mp4", ".m4v", ".m4a", ".m4b"}},
    {kInputCueSheet, InputReader::kNone, false, {".cue"}},
};

}  // namespace

std::string ExtensionOf(std::string_view path) {
    size_t slash = path.find_last_of('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
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
    for (const auto& row : kInputTypes)
        for (const char* const* e = row.extensions; *e; ++e)
            if (ext == *e) return row.code;
    return kInputOther;
}

std::span<const InputTypeRow> InputTypeRows() { return kInputTypes; }

const InputTypeRow* FindInputType(int code) {
    for (const auto& row : kInputTypes)
        if (row.code == code) return &row;
    return nullptr;
}

}  // namespace quelvox
