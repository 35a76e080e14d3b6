// The input type of a source file, decided by its extension alone.
#pragma once

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
};

// The extension of a path's file-name part, dot included and lower-cased
// (ASCII letters only, so multibyte names are left intact); empty when the
// name has no dot. A dot in a folder name does not count.
std::string ExtensionOf(std::string_view path);

// The InputType code for a path; kInputOther when the extension is unknown.
int InputTypeOf(std::string_view path);

}  // namespace quelvox
