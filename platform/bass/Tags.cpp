// Tag text of a file through TagLib: ID3v1/ID3v2, APE, Vorbis comments (Ogg
// and FLAC), MP4 atoms, RIFF INFO and ID3 chunks in WAV/AIFF, as one tag
// record in UTF-8.
#include "platform/bass/BassLayer.h"

#include <taglib/fileref.h>
#include <taglib/infotag.h>
#include <taglib/tfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/tstring.h>
#include <taglib/wavfile.h>

#include <vector>

namespace quelvox::bass {

namespace {

// A value as UTF-8 on one line: line breaks inside it become blanks, as
// the decoding layer's tag texts are single lines.
std::string OneLine(const TagLib::String& s) {
    std::string text = s.toCString(true);
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

std::string Number(unsigned int n) {
    return n == 0 ? std::string() : std::to_string(n);
}

std::string Property(const TagLib::PropertyMap& map, const char* key) {
    auto it = map.find(key);
    if (it == map.end() || it->second.isEmpty()) return {};
    return OneLine(it->second.front());
}

}  // namespace

TagInfo ReadFileTags(const std::string& path) {
    TagLib::FileRef ref(path.c_str(), false);
    if (ref.isNull() || !ref.tag()) return {};

    // A WAV file's main tag is its ID3 chunk; the RIFF INFO list fills the
    // fields that the ID3 chunk leaves empty.
    std::vector<const TagLib::Tag*> tags = {ref.tag()};
    TagLib::PropertyMap props = ref.file()->properties();
    if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(ref.file())) {
        if (wav->hasInfoTag()) {
            tags.push_back(wav->InfoTag());
            props.merge(wav->InfoTag()->properties());
        }
    }
    auto textOf = [&tags](TagLib::String (TagLib::Tag::*get)() const) {
        for (const TagLib::Tag* t : tags) {
            TagLib::String v = (t->*get)();
            if (!v.isEmpty()) return OneLine(v);
        }
        return std::string();
    };
    auto number = [&tags](unsigned int (TagLib::Tag::*get)() const) {
        for (const TagLib::Tag* t : tags) {
            unsigned int v = (t->*get)();
            if (v != 0) return Number(v);
        }
        return std::string();
    };

    TagInfo result;
    result.track = number(&TagLib::Tag::track);
    result.title = textOf(&TagLib::Tag::title);
    result.artist = textOf(&TagLib::Tag::artist);
    result.album = textOf(&TagLib::Tag::album);
    result.genre = textOf(&TagLib::Tag::genre);
    result.year = number(&TagLib::Tag::year);
    result.comment = textOf(&TagLib::Tag::comment);
    result.composer = Property(props, "COMPOSER");
    result.copyright = Property(props, "COPYRIGHT");
    return result;
}

}  // namespace quelvox::bass
