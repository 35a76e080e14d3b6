// Tags of a file through TagLib: ID3v1/ID3v2, APE, Vorbis comments (Ogg
// and FLAC) with their pictures, MP4 atoms, ASF attributes and ID3 chunks
// in WAV/AIFF, as one tag record in UTF-8. A WAV file's RIFF INFO list is
// left to the RIFF INFO reader.
#include "platform/bass/BassRuntime.h"

#include "common/TextCodec.h"

#include <taglib/aifffile.h>
#include <taglib/apefile.h>
#include <taglib/apetag.h>
#include <taglib/asffile.h>
#include <taglib/asftag.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mp4tag.h>
#include <taglib/mpegfile.h>
#include <taglib/tfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/tstring.h>
#include <taglib/wavfile.h>
#include <taglib/wavpackfile.h>
#include <taglib/xiphcomment.h>

#include <cctype>
#include <algorithm>
#include <mutex>
#include <vector>

namespace quelvox::bass {

namespace {

// The code page of the ReadFileTags call running on this thread; null
// outside one. TagLib's text handlers are shared by the whole process, so
// they learn the code page of the call from here.
thread_local const std::string* tCodePage = nullptr;
// While set, every legacy text read on this thread is also kept here, so
// that the code page can be judged over all of a file's texts.
thread_local std::vector<std::string>* tLegacyTexts = nullptr;

// 8-bit text that declares no encoding, up to its first NUL, to a TagLib
// string through the code page of the current call.
TagLib::String LegacyText(const TagLib::ByteVector& data) {
    std::string raw(data.data(), data.size());
    const size_t nul = raw.find('\0');
    if (nul != std::string::npos) raw.resize(nul);
    if (tLegacyTexts) tLegacyTexts->push_back(raw);
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

std::string Utf8(const TagLib::String& s) { return s.toCString(true); }

// A value as UTF-8 on one line: line breaks inside it become blanks, as
// the decoding layer's tag texts are single lines.
std::string OneLine(const TagLib::String& s) {
    std::string text = Utf8(s);
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

// A text of several lines (a comment), its line breaks kept as '\n'.
std::string Lines(const TagLib::String& s) {
    const std::string text = Utf8(s);
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r') {
            out += text[i];
        } else {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        }
    }
    return out;
}

std::string Number(unsigned int n) { return n == 0 ? std::string() : std::to_string(n); }

const TagLib::StringList* Values(const TagLib::PropertyMap& map, const char* key) {
    auto it = map.find(key);
    if (it == map.end() || it->second.isEmpty()) return nullptr;
    return &it->second;
}

std::string Property(const TagLib::PropertyMap& map, const char* key) {
    const TagLib::StringList* values = Values(map, key);
    return values ? OneLine(values->front()) : std::string();
}

// "n" or "n/N": the number and, after a slash, the total.
void NumberAndTotal(const std::string& text, int& number, int& total) {
    if (text.empty()) return;
    number = std::max(0, ParseDecimal(text));
    const size_t slash = text.find('/');
    if (slash != std::string::npos) total = std::max(0, ParseDecimal(text.substr(slash + 1)));
}

// A single value, or the values joined with the list kept beside it.
void TakeValues(const TagLib::PropertyMap& map, const char* key, std::string& text,
                std::vector<std::string>& list) {
    const TagLib::StringList* values = Values(map, key);
    if (!values) return;
    std::vector<std::string> all;
    for (const TagLib::String& v : *values)
        if (!v.isEmpty()) all.push_back(OneLine(v));
    if (all.size() > 1) list = all;
    text = JoinValues(all);
}

void AddPicture(TagInfo& tags, int type, const std::string& mime, const TagLib::String& description,
                const TagLib::ByteVector& data) {
    if (data.isEmpty()) return;
    TagPicture picture;
    picture.type = type;
    picture.mimeType = mime;
    picture.description = Utf8(description);
    picture.data.assign(data.data(), data.size());
    // Bytes without a MIME type are named by their own signature.
    if (picture.mimeType.empty()) picture.mimeType = ImageMimeType(picture.data);
    tags.pictures.push_back(std::move(picture));
}

void Id3v2Pictures(const TagLib::ID3v2::Tag* tag, TagInfo& tags) {
    if (!tag) return;
    for (const TagLib::ID3v2::Frame* frame : tag->frameList("APIC")) {
        const auto* apic = dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame*>(frame);
        if (apic)
            AddPicture(tags, static_cast<int>(apic->type()), Utf8(apic->mimeType()),
                       apic->description(), apic->picture());
    }
}

void FlacPictures(const TagLib::List<TagLib::FLAC::Picture*>& list, TagInfo& tags) {
    for (const TagLib::FLAC::Picture* p : list)
        AddPicture(tags, static_cast<int>(p->type()), Utf8(p->mimeType()), p->description(),
                   p->data());
}

void Mp4Pictures(const TagLib::MP4::Tag* tag, TagInfo& tags) {
    if (!tag || !tag->contains("covr")) return;
    for (const TagLib::MP4::CoverArt& art : tag->item("covr").toCoverArtList()) {
        const char* mime = art.format() == TagLib::MP4::CoverArt::PNG   ? "image/png"
                           : art.format() == TagLib::MP4::CoverArt::JPEG ? "image/jpeg"
                           : art.format() == TagLib::MP4::CoverArt::GIF  ? "image/gif"
                           : art.format() == TagLib::MP4::CoverArt::BMP  ? "image/bmp"
                                                                         : "";
        AddPicture(tags, 3, mime, TagLib::String(), art.data());
    }
}

void AsfPictures(const TagLib::ASF::Tag* tag, TagInfo& tags) {
    if (!tag || !tag->contains("WM/Picture")) return;
    for (const TagLib::ASF::Attribute& a : tag->attribute("WM/Picture")) {
        const TagLib::ASF::Picture p = a.toPicture();
        if (p.isValid())
            AddPicture(tags, static_cast<int>(p.type()), Utf8(p.mimeType()), p.description(),
                       p.picture());
    }
}

// APE cover items: a description, a NUL, then the image.
void ApePictures(const TagLib::APE::Tag* tag, TagInfo& tags) {
    if (!tag) return;
    for (const auto& [key, item] : tag->itemListMap()) {
        if (item.type() != TagLib::APE::Item::Binary || !key.upper().startsWith("COVER ART"))
            continue;
        const TagLib::ByteVector value = item.binaryData();
        const int nul = value.find('\0');
        if (nul < 0) continue;
        const auto start = static_cast<unsigned int>(nul) + 1;
        AddPicture(tags, key.upper() == "COVER ART (BACK)" ? 4 : 3, "",
                   TagLib::String(value.mid(0, static_cast<unsigned int>(nul)), TagLib::String::UTF8),
                   value.mid(start));
    }
}

// ReplayGain values that MP4 and ASF keep outside TagLib's property names.
void FreeformReplayGain(TagLib::File* file, TagInfo& tags) {
    struct Row {
        const char* key;
        std::string ReplayGain::*field;
    };
    static constexpr Row kRows[] = {
        {"REPLAYGAIN_TRACK_GAIN", &ReplayGain::trackGain},
        {"REPLAYGAIN_TRACK_PEAK", &ReplayGain::trackPeak},
        {"REPLAYGAIN_ALBUM_GAIN", &ReplayGain::albumGain},
        {"REPLAYGAIN_ALBUM_PEAK", &ReplayGain::albumPeak},
    };
    if (auto* mp4 = dynamic_cast<TagLib::MP4::File*>(file); mp4 && mp4->tag()) {
        for (const auto& [name, item] : mp4->tag()->itemMap())
            for (const Row& r : kRows)
                if (name.upper() == TagLib::String("----:COM.APPLE.ITUNES:") + r.key &&
                    !item.toStringList().isEmpty())
                    tags.replayGain.*r.field = OneLine(item.toStringList().front());
    }
    if (auto* asf = dynamic_cast<TagLib::ASF::File*>(file); asf && asf->tag()) {
        for (const auto& [name, list] : asf->tag()->attributeListMap())
            for (const Row& r : kRows)
                if (name.upper() == r.key && !list.isEmpty())
                    tags.replayGain.*r.field = OneLine(list.front().toString());
        if (asf->tag()->contains("TOTALTRACKS"))
            tags.trackTotal =
                std::max(0, ParseDecimal(OneLine(asf->tag()->attribute("TOTALTRACKS").front().toString())));
        if (asf->tag()->contains("WM/IsCompilation"))
            tags.compilation = asf->tag()->attribute("WM/IsCompilation").front().toBool();
    }
}

// ADTS AAC carries an ID3v2 tag at its start, as MPEG audio does; TagLib
// reads it as an MPEG file but does not choose that by the extension.
bool IsAdtsName(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos) return false;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "aac" || ext == "adts";
}

TagInfo ReadOnce(const std::string& path) {
    TagLib::FileRef ref(path.c_str(), false);
    if (ref.isNull() && IsAdtsName(path)) ref = TagLib::FileRef(new TagLib::MPEG::File(path.c_str(), false));
    if (ref.isNull() || !ref.tag()) return {};

    // A WAV file's tag here is its ID3 chunk alone.
    TagLib::File* file = ref.file();
    const TagLib::Tag* tag = ref.tag();
    const TagLib::ID3v2::Tag* id3v2 = nullptr;
    TagLib::PropertyMap props;
    if (auto* wav = dynamic_cast<TagLib::RIFF::WAV::File*>(file)) {
        if (!wav->hasID3v2Tag()) return {};
        id3v2 = wav->ID3v2Tag();
        tag = id3v2;
        props = id3v2->properties();
    } else {
        props = file->properties();
    }

    TagInfo result;
    result.track = Number(tag->track());
    result.title = OneLine(tag->title());
    result.album = OneLine(tag->album());
    result.artist = OneLine(tag->artist());
    result.genre = OneLine(tag->genre());
    TakeValues(props, "ARTIST", result.artist, result.artists);
    // ASF keeps one author and the artists in a list of their own.
    if (result.artists.empty()) {
        std::string joined;
        TakeValues(props, "ARTISTS", joined, result.artists);
        if (!result.artists.empty()) result.artist = joined;
    }
    TakeValues(props, "GENRE", result.genre, result.genres);
    // The date as the file states it (2009-05-01 stays whole); the year
    // number only where no date text is kept.
    result.year = Property(props, "DATE");
    if (result.year.empty()) result.year = Number(tag->year());
    result.comment = Lines(tag->comment());
    result.composer = Property(props, "COMPOSER");
    result.copyright = Property(props, "COPYRIGHT");

    result.albumArtist = Property(props, "ALBUMARTIST");
    int trackNumber = 0;
    NumberAndTotal(Property(props, "TRACKNUMBER"), trackNumber, result.trackTotal);
    NumberAndTotal(Property(props, "DISCNUMBER"), result.discNumber, result.discTotal);
    for (const char* key : {"TRACKTOTAL", "TOTALTRACKS"})
        if (result.trackTotal == 0) result.trackTotal = std::max(0, ParseDecimal(Property(props, key)));
    for (const char* key : {"DISCTOTAL", "TOTALDISCS"})
        if (result.discTotal == 0) result.discTotal = std::max(0, ParseDecimal(Property(props, key)));
    if (const TagLib::StringList* lyrics = Values(props, "LYRICS")) result.lyrics = Utf8(lyrics->front());
    const std::string compilation = Property(props, "COMPILATION");
    result.compilation = ParseDecimal(compilation) > 0 || compilation == "true";
    result.replayGain.trackGain = Property(props, "REPLAYGAIN_TRACK_GAIN");
    result.replayGain.trackPeak = Property(props, "REPLAYGAIN_TRACK_PEAK");
    result.replayGain.albumGain = Property(props, "REPLAYGAIN_ALBUM_GAIN");
    result.replayGain.albumPeak = Property(props, "REPLAYGAIN_ALBUM_PEAK");
    FreeformReplayGain(file, result);

    if (auto* mpeg = dynamic_cast<TagLib::MPEG::File*>(file)) {
        if (mpeg->hasID3v2Tag()) id3v2 = mpeg->ID3v2Tag();
        if (mpeg->hasAPETag()) ApePictures(mpeg->APETag(), result);
    } else if (auto* aiff = dynamic_cast<TagLib::RIFF::AIFF::File*>(file)) {
        if (aiff->hasID3v2Tag()) id3v2 = aiff->tag();
    } else if (auto* flac = dynamic_cast<TagLib::FLAC::File*>(file)) {
        FlacPictures(flac->pictureList(), result);
        if (flac->hasXiphComment()) FlacPictures(flac->xiphComment()->pictureList(), result);
    } else if (auto* ape = dynamic_cast<TagLib::APE::File*>(file)) {
        if (ape->hasAPETag()) ApePictures(ape->APETag(), result);
    } else if (auto* wv = dynamic_cast<TagLib::WavPack::File*>(file)) {
        if (wv->hasAPETag()) ApePictures(wv->APETag(), result);
    } else if (auto* xiph = dynamic_cast<TagLib::Ogg::XiphComment*>(file->tag())) {
        FlacPictures(xiph->pictureList(), result);
    }
    Id3v2Pictures(id3v2, result);
    Mp4Pictures(dynamic_cast<const TagLib::MP4::Tag*>(file->tag()), result);
    AsfPictures(dynamic_cast<const TagLib::ASF::Tag*>(file->tag()), result);
    return result;
}

struct ReadScope {
    ReadScope(const std::string& codePage, std::vector<std::string>* collect) {
        tCodePage = &codePage;
        tLegacyTexts = collect;
    }
    ~ReadScope() {
        tCodePage = nullptr;
        tLegacyTexts = nullptr;
    }
    ReadScope(const ReadScope&) = delete;
    ReadScope& operator=(const ReadScope&) = delete;
};

}  // namespace

TagInfo ReadFileTags(const std::string& path, const std::string& codePage) {
    InstallTextHandlers();
    if (codePage != kAutoCodePage) {
        ReadScope scope(codePage, nullptr);
        return ReadOnce(path);
    }
    // The code page is judged over all of the file's legacy texts together:
    // a first reading gathers them, a second one decodes them when they
    // need a code page at all.
    std::vector<std::string> legacy;
    TagInfo first;
    {
        const std::string none;
        ReadScope scope(none, &legacy);
        first = ReadOnce(path);
    }
    const std::string page = DetectLegacyCodePage(legacy);
    if (page.empty()) return first;
    ReadScope scope(page, nullptr);
    return ReadOnce(path);
}

}  // namespace quelvox::bass
