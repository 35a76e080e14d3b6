// RIFF INFO / DISP tags of WAV files.
#include "fuzz/FuzzSupport.h"
#include "decoders/RiffInfo.h"

using namespace quelvox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = fuzz::Scratch().Write(data, size, ".wav");
    TagInfo tags;
    ReadRiffInfoTags(path, tags);
    // No text can hold more than the file did (twice that after turning a
    // legacy charset into UTF-8, plus a genre name).
    for (const std::string* t : {&tags.title, &tags.artist, &tags.album, &tags.year, &tags.genre,
                                 &tags.comment, &tags.track, &tags.composer, &tags.copyright})
        fuzz::Check(t->size() <= 4 * size + 64);
    fuzz::Check(tags.year.size() <= 4 * 4);
    fuzz::Check(tags.composer.empty());
    return 0;
}
