// The input type of a source file, decided by its extension alone.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace quelvox {

enum InputTypeCode : int {
    kInputMp3 = 1000,
    kInputWav = 2000,
    kInputModule = 3000,
    kInputMidi = 3050,
    kInputCdTrack = 3100,
    kInputFlac = 3200,
    kInputWavPack = 3300,
    kInputAdx = 3500,
    kInputOgg = 4000,
    kInputAu = 5000,
    kInputAiff = 5100,
    kInputAmr = 5500,
    kInputAac = 6000,
    kInputMp4 = 6600,
    kInputWma = 7000,
    kInputOther = 9000,
    kInputDts = 9500,
    // A CUE sheet: no reader decodes it; adding it lists its tracks.
    kInputCueSheet = 9600,
};

// The reader that opens files of an input type first. Every type falls
// back to the FFmpeg readers when it fails; kNone types are decoded by the
// fallback alone.
enum class InputReader {
    kNone,
    kBass,  // the decoding layer (CBassReader)
    kOggVorbis,
    kAu,
    kAiff,
    kAmr,
    kWma,
};

// One input type: its code, its extensions (dot included, lower case) and
// its reader.
struct InputTypeRow {
    int code;
    InputReader reader;
    // A failed primary reader gets a second attempt with the decoding layer.
    bool bassSecondAttempt;
    const char* extensions[8];  // null-terminated
};

// The row of an input type code; null for kInputOther and any unknown code.
const InputTypeRow* FindInputType(int code);

// Every input type that has extensions of its own, in table order.
std::span<const InputTypeRow> InputTypeRows();

// The extension of a path's file-name part, dot included and lower-cased
// (ASCII letters only, so multibyte names are left intact); empty when the
// name has no dot. A dot in a folder name does not count.
std::string ExtensionOf(std::string_view path);

// The InputType code for a path; kInputOther when the extension is unknown.
int InputTypeOf(std::string_view path);

}  // namespace quelvox
