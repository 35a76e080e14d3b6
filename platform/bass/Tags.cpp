// Tag text of a file through TagLib: ID3v1/ID3v2, APE, Vorbis comments (Ogg
// and FLAC), MP4 atoms and ID3 chunks in WAV/AIFF, as one tag record in
// UTF-8. A WAV file's RIFF INFO list is left to the RIFF INFO reader.
#include "platform/bass/BassLayer.h"

#include "common/TextCodec.h"

#include <taglib/fileref.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/tfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/tstring.h>
#include <taglib/wavfile.h>

#include <mutex>
#include <vector>

namespace quelvox::bass {

namespace {

// The code page of the ReadFileTags call running on this thread; null
// outside one. TagLib's text handlers are shared by the whole process, so
// they learn the code page of the call from here.
thread_local const std::string* tCodePage = nullptr;

// 8-bit text that declares no encoding, up to its first NUL, to a TagLib
// string through the code page of the current call.
TagLib::String LegacyText(const TagLib::ByteVector& data) {
    std::string raw(data.data(), data.size());
    const size_t nul = raw.find('\0');
    if (nul != std::string::npos) raw.resize(nul);
    return TagLib::String(LegacyTextToUtf8(raw, *tCodePage), TagLib::String::UTF8);
}

// ID3v1 fields: TagLib's own reading (Latin-1, blanks trimmed) outside a
// call of ours.
class CId3v1Text : public TagLib::ID3v1::StringHandler {
public:
    TagLib::String parse(const TagLib::ByteVector& data) const override {
        if (!tCodePage) return TagLib::ID3v1::StringHandler::parse(data);
        return LegacyText(data).stripWhiteSpace();
    }
};

// ID3v2 frames marked Latin-1. Frames marked UTF-16 or UTF-8 never come
// here.
class CId3v2Latin1Text : public TagLib::ID3v2::Latin1StringHandler {
public:
    TagLib::String parse(const TagLib::ByteVector& data) const override {
        if (!tCodePage) return TagLib::ID3v2::Latin1StringHandler::parse(data);
        return LegacyText(data);
    }
};

void InstallTextHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        static const CId3v1Text id3v1;
        static const CId3v2Latin1Text id3v2;
        TagLib::ID3v1::Tag::setStringHandler(&id3v1);
        TagLib::ID3v2::Tag::setLatin1StringHandler(&id3v2);
    });
}

// A value as UTF-8 on one line: line breaks inside it become blanks, as
// the decoding layer's tag texts are single lines.
std::string OneLine(const TagLib::String& s) {
    std::string text = s.toCString(true);
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

std::string Number(unsigned int n) { return n == 0 ? std::string() : std::to_string(n); }

std::string Property(const TagLib::PropertyMap& map, const char* key) {
    auto it = map.find(key);
    if (it == map.end() || it->second.isEmpty()) return {};
    return OneLine(it->second.front());
}

}  // namespace

TagInfo ReadFileTags(const std::string& path, const std::string& codePage) {
    InstallTextHandlers();
    struct CodePageScope {
        explicit CodePageScope(const std::string& cp) { tCodePage = &cp; }
        ~CodePageScope() { tCodePage = nullptr; }
    } scope(codePage);

    TagLib::FileRef ref(path.c_str(), false);
    if (ref.isNull() || !ref.tag()) return {};

    // A WAV file's tag here is its ID3 chunk alone.
    const TagLib::Tag* tag = ref.tag();
    TagLib::PropertyMap props;
    if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(ref.file())) {
        if (!wav->hasID3v2Tag()) return {};
        tag = wav->ID3v2Tag();
        props = tag->properties();
    } else {
        props = ref.file()->properties();
    }

    TagInfo result;
    result.track = Number(tag->track());
    result.title = OneLine(tag->title());
    result.artist = OneLine(tag->artist());
    result.album = OneLine(tag->album());
    result.genre = OneLine(tag->genre());
    // The date as the file states it (2009-05-01 stays whole); the year
    // number only where no date text is kept.
    result.year = Property(props, "DATE");
    if (result.year.empty()) result.year = Number(tag->year());
    result.comment = OneLine(tag->comment());
    result.composer = Property(props, "COMPOSER");
    result.copyright = Property(props, "COPYRIGHT");
    return result;
}

}  // namespace quelvox::bass
