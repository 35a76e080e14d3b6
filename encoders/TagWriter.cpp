#include "encoders/TagWriter.h"

#include "common/TextCodec.h"
#include "encoders/CheckedFileStream.h"

#include <taglib/asffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/flacfile.h>
#include <taglib/flacpicture.h>
#include <taglib/id3v2framefactory.h>
#include <taglib/id3v2tag.h>
#include <taglib/mp4file.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tpropertymap.h>
#include <taglib/unsynchronizedlyricsframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <functional>
#include <memory>
#include <vector>

namespace quelvox {

namespace {

TagLib::String Str(const std::string& utf8) {
    return TagLib::String(SanitizeUtf8(utf8), TagLib::String::UTF8);
}

TagLib::ByteVector Bytes(const std::string& data) {
    return TagLib::ByteVector(data.data(), static_cast<unsigned int>(data.size()));
}

TagLib::StringList List(const std::vector<std::string>& values, const std::string& single) {
    TagLib::StringList list;
    if (values.size() > 1) {
        for (const std::string& v : values) list.append(Str(v));
    } else if (!single.empty()) {
        list.append(Str(single));
    }
    return list;
}

// How a container numbers tracks and discs: "n/N" in one field, or the
// total in a field of its own (Vorbis comments).
enum class Numbering { Joined, Separate };

std::string NumberText(int number, int total) {
    if (number <= 0 && total <= 0) return {};
    std::string text = std::to_string(std::max(number, 0));
    if (total > 0) text += "/" + std::to_string(total);
    return text;
}

// How a container's properties carry the loudness values: not at all,
// as ReplayGain 2.0 texts, or as Opus's R128 gains (RFC 7845 5.2.1: the
// track's and album's gain to -23 LUFS in 1/256 dB; players apply them
// instead of ReplayGain, which that convention advises against).
enum class GainTags { None, ReplayGain, R128 };

// The R128 gain for a ReplayGain gain text ("-2.00 dB", to -18 LUFS):
// 5 dB less, in 1/256 dB, clamped to 16 bits; empty for a text that is no
// number.
std::string R128Gain(const std::string& replayGain) {
    double db = 0.0;
    const char* begin = replayGain.data();
    const char* end = begin + replayGain.size();
    while (begin < end && *begin == ' ') ++begin;
    if (begin < end && *begin == '+') ++begin;
    const auto parsed = std::from_chars(begin, end, db);
    if (parsed.ec != std::errc() || !std::isfinite(db)) return {};
    const double q = std::clamp(std::round((db - 5.0) * 256.0), -32768.0, 32767.0);
    return std::to_string(static_cast<int>(q));
}

// The record as TagLib property names, with the loudness values as
// `gains` says.
TagLib::PropertyMap Properties(const TagInfo& tags, Numbering numbering, GainTags gains) {
    TagLib::PropertyMap map;
    auto put = [&map](const char* key, const TagLib::StringList& values) {
        if (!values.isEmpty()) map.insert(key, values);
    };
    auto text = [&put](const char* key, const std::string& value) {
        if (!value.empty()) put(key, TagLib::StringList(Str(value)));
    };
    text("TITLE", tags.title);
    put("ARTIST", List(tags.artists, tags.artist));
    text("ALBUM", tags.album);
    text("DATE", tags.year);
    put("GENRE", List(tags.genres, tags.genre));
    text("COMPOSER", tags.composer);
    text("COPYRIGHT", tags.copyright);
    text("ALBUMARTIST", tags.albumArtist);
    if (tags.compilation) text("COMPILATION", "1");
    const int track = std::max(ParseDecimal(tags.track), 0);
    if (numbering == Numbering::Joined) {
        text("TRACKNUMBER", NumberText(track, tags.trackTotal));
        text("DISCNUMBER", NumberText(tags.discNumber, tags.discTotal));
    } else {
        if (track > 0) text("TRACKNUMBER", std::to_string(track));
        if (tags.trackTotal > 0) text("TRACKTOTAL", std::to_string(tags.trackTotal));
        if (tags.discNumber > 0) text("DISCNUMBER", std::to_string(tags.discNumber));
        if (tags.discTotal > 0) text("DISCTOTAL", std::to_string(tags.discTotal));
    }
    if (gains == GainTags::ReplayGain) {
        text("REPLAYGAIN_TRACK_GAIN", tags.replayGain.trackGain);
        text("REPLAYGAIN_TRACK_PEAK", tags.replayGain.trackPeak);
        text("REPLAYGAIN_ALBUM_GAIN", tags.replayGain.albumGain);
        text("REPLAYGAIN_ALBUM_PEAK", tags.replayGain.albumPeak);
    } else if (gains == GainTags::R128) {
        text("R128_TRACK_GAIN", R128Gain(tags.replayGain.trackGain));
        text("R128_ALBUM_GAIN", R128Gain(tags.replayGain.albumGain));
    }
    return map;
}

struct ReplayGainName {
    const char* name;
    std::string ReplayGain::*field;
};
constexpr ReplayGainName kReplayGainNames[] = {
    {"REPLAYGAIN_TRACK_GAIN", &ReplayGain::trackGain},
    {"REPLAYGAIN_TRACK_PEAK", &ReplayGain::trackPeak},
    {"REPLAYGAIN_ALBUM_GAIN", &ReplayGain::albumGain},
    {"REPLAYGAIN_ALBUM_PEAK", &ReplayGain::albumPeak},
};

class CTagWriting {
public:
    CTagWriting(const TagInfo& tags, TagWriteResult& result) : tags_(tags), result_(result) {}

    void Drop(const std::string& field, const std::string& reason) {
        result_.dropped.push_back({field, reason});
    }
    void DropUnsupported(const TagLib::PropertyMap& unsupported) {
        for (const auto& [key, values] : unsupported)
            Drop(key.to8Bit(true), "the container has no place for it");
    }
    // The pictures that may be carried, each with its 1-based number, their
    // type and MIME type put right (SanitisePicture).
    std::vector<std::pair<int, const TagPicture*>> Pictures() {
        std::vector<std::pair<int, const TagPicture*>> kept;
        sane_.clear();
        sane_.reserve(tags_.pictures.size());
        int number = 0;
        for (const TagPicture& p : tags_.pictures) {
            ++number;
            if (p.data.empty()) continue;
            TagPicture sane = p;
            if (p.data.size() > kMaxPictureBytes)
                Drop(PictureName(number), "larger than 16 MiB");
            else if (!SanitisePicture(sane))
                Drop(PictureName(number), "not an image of a known kind");
            else
                kept.emplace_back(number, &sane_.emplace_back(std::move(sane)));
        }
        return kept;
    }
    static std::string PictureName(int number) { return "picture " + std::to_string(number); }

    const TagInfo& tags_;
    TagWriteResult& result_;
    std::vector<TagPicture> sane_;  // reserved whole: the pointers stay valid
};

std::unique_ptr<TagLib::FLAC::Picture> FlacPicture(const TagPicture& p) {
    auto picture = std::make_unique<TagLib::FLAC::Picture>();
    picture->setType(static_cast<TagLib::FLAC::Picture::Type>(p.type));
    picture->setMimeType(Str(p.mimeType));
    picture->setDescription(Str(p.description));
    picture->setData(Bytes(p.data));
    return picture;
}

// ID3v2.4 text frames in UTF-8, the comment as COMM and the lyrics as USLT.
bool WriteId3v2(TagLib::IOStream& stream, CTagWriting& w) {
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!file.isValid()) return false;
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
    // The tag's own list deletes its frames; a TagLib copy would share it.
    const std::vector<TagLib::ID3v2::Frame*> existing(tag->frameList().begin(),
                                                      tag->frameList().end());
    for (TagLib::ID3v2::Frame* frame : existing) tag->removeFrame(frame);

    w.DropUnsupported(
        tag->setProperties(Properties(w.tags_, Numbering::Joined, GainTags::ReplayGain)));
    for (TagLib::ID3v2::Frame* frame : tag->frameList())
        if (auto* textFrame = dynamic_cast<TagLib::ID3v2::TextIdentificationFrame*>(frame))
            textFrame->setTextEncoding(TagLib::String::UTF8);
    if (!w.tags_.comment.empty()) {
        auto comment = std::make_unique<TagLib::ID3v2::CommentsFrame>(TagLib::String::UTF8);
        comment->setLanguage("eng");
        comment->setText(Str(w.tags_.comment));
        tag->addFrame(comment.release());
    }
    if (!w.tags_.lyrics.empty()) {
        auto lyrics = std::make_unique<TagLib::ID3v2::UnsynchronizedLyricsFrame>(TagLib::String::UTF8);
        lyrics->setLanguage("eng");
        lyrics->setText(Str(w.tags_.lyrics));
        tag->addFrame(lyrics.release());
    }
    for (const auto& [number, p] : w.Pictures()) {
        auto apic = std::make_unique<TagLib::ID3v2::AttachedPictureFrame>();
        apic->setTextEncoding(TagLib::String::UTF8);
        apic->setType(static_cast<TagLib::ID3v2::AttachedPictureFrame::Type>(p->type));
        apic->setMimeType(Str(p->mimeType));
        apic->setDescription(Str(p->description));
        apic->setPicture(Bytes(p->data));
        tag->addFrame(apic.release());
    }
    return file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4,
                     TagLib::File::DoNotDuplicate);
}

void FillXiph(TagLib::Ogg::XiphComment* xiph, CTagWriting& w, bool pictures,
              GainTags gains = GainTags::ReplayGain) {
    xiph->removeAllFields();
    xiph->removeAllPictures();
    TagLib::PropertyMap props = Properties(w.tags_, Numbering::Separate, gains);
    if (!w.tags_.comment.empty()) props.insert("COMMENT", TagLib::StringList(Str(w.tags_.comment)));
    if (!w.tags_.lyrics.empty()) props.insert("LYRICS", TagLib::StringList(Str(w.tags_.lyrics)));
    w.DropUnsupported(xiph->setProperties(props));
    if (!pictures) return;
    for (const auto& [number, p] : w.Pictures()) xiph->addPicture(FlacPicture(*p).release());
}

// Vorbis comments, pictures in FLAC PICTURE blocks.
bool WriteFlac(TagLib::IOStream& stream, CTagWriting& w) {
    TagLib::FLAC::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!file.isValid()) return false;
    FillXiph(file.xiphComment(true), w, false);
    file.removePictures();
    for (const auto& [number, p] : w.Pictures()) file.addPicture(FlacPicture(*p).release());
    file.strip(TagLib::FLAC::File::ID3v1 | TagLib::FLAC::File::ID3v2);
    return file.save();
}

// Vorbis comments, pictures as METADATA_BLOCK_PICTURE.
template <typename OggFile, GainTags gains>
bool WriteOgg(TagLib::IOStream& stream, CTagWriting& w) {
    OggFile file(&stream, false);
    if (!file.isValid() || !file.tag()) return false;
    FillXiph(file.tag(), w, true, gains);
    return file.save();
}

TagLib::MP4::CoverArt::Format CoverFormat(const std::string& mime) {
    if (mime == "image/jpeg" || mime == "image/jpg") return TagLib::MP4::CoverArt::JPEG;
    if (mime == "image/png") return TagLib::MP4::CoverArt::PNG;
    if (mime == "image/gif") return TagLib::MP4::CoverArt::GIF;
    if (mime == "image/bmp") return TagLib::MP4::CoverArt::BMP;
    return TagLib::MP4::CoverArt::Unknown;
}

// iTunes atoms: trkn and disk with their totals, aART, cpil, covr;
// ReplayGain as iTunes freeform items.
bool WriteMp4(TagLib::IOStream& stream, CTagWriting& w) {
    TagLib::MP4::File file(&stream, false);
    if (!file.isValid() || !file.tag()) return false;
    TagLib::MP4::Tag* tag = file.tag();
    const TagLib::MP4::ItemMap existing = tag->itemMap();
    for (const auto& [name, item] : existing) tag->removeItem(name);

    TagLib::PropertyMap props = Properties(w.tags_, Numbering::Joined, GainTags::None);
    if (!w.tags_.comment.empty()) props.insert("COMMENT", TagLib::StringList(Str(w.tags_.comment)));
    if (!w.tags_.lyrics.empty()) props.insert("LYRICS", TagLib::StringList(Str(w.tags_.lyrics)));
    w.DropUnsupported(tag->setProperties(props));
    for (const ReplayGainName& r : kReplayGainNames) {
        const std::string& value = w.tags_.replayGain.*r.field;
        if (!value.empty())
            tag->setItem(TagLib::String("----:com.apple.iTunes:") + r.name,
                         TagLib::StringList(Str(value)));
    }
    TagLib::MP4::CoverArtList covers;
    for (const auto& [number, p] : w.Pictures()) {
        const TagLib::MP4::CoverArt::Format format = CoverFormat(p->mimeType);
        if (format == TagLib::MP4::CoverArt::Unknown)
            w.Drop(CTagWriting::PictureName(number), "MP4 holds JPEG, PNG, GIF and BMP pictures only");
        else
            covers.append(TagLib::MP4::CoverArt(format, Bytes(p->data)));
    }
    if (!covers.isEmpty()) tag->setItem("covr", covers);
    return file.save();
}

// Windows Media attributes: WM/AlbumArtist, WM/PartOfSet, WM/Picture.
bool WriteAsf(TagLib::IOStream& stream, CTagWriting& w) {
    TagLib::ASF::File file(&stream, false);
    if (!file.isValid() || !file.tag()) return false;
    TagLib::ASF::Tag* tag = file.tag();
    const TagLib::ASF::AttributeListMap existing = tag->attributeListMap();
    for (const auto& [name, list] : existing) tag->removeItem(name);
    tag->setTitle("");
    tag->setArtist("");
    tag->setComment("");
    tag->setCopyright("");
    tag->setRating("");

    TagInfo numbered = w.tags_;
    numbered.track.clear();
    numbered.trackTotal = 0;
    TagLib::PropertyMap props = Properties(numbered, Numbering::Joined, GainTags::None);
    props.erase("COMPILATION");
    // One author; several artists go to WM/ARTISTS beside it.
    if (w.tags_.artists.size() > 1) {
        props.replace("ARTIST", TagLib::StringList(Str(JoinValues(w.tags_.artists))));
    }
    if (!w.tags_.comment.empty()) props.insert("COMMENT", TagLib::StringList(Str(w.tags_.comment)));
    if (!w.tags_.lyrics.empty()) props.insert("LYRICS", TagLib::StringList(Str(w.tags_.lyrics)));
    w.DropUnsupported(tag->setProperties(props));
    // TagLib stores the values of one attribute name last first.
    if (w.tags_.artists.size() > 1)
        for (auto a = w.tags_.artists.rbegin(); a != w.tags_.artists.rend(); ++a)
            tag->addAttribute("WM/ARTISTS", TagLib::ASF::Attribute(Str(*a)));
    const int track = ParseDecimal(w.tags_.track);
    if (track > 0) tag->setAttribute("WM/TrackNumber", TagLib::ASF::Attribute(static_cast<unsigned int>(track)));
    if (w.tags_.trackTotal > 0)
        tag->setAttribute("TOTALTRACKS", TagLib::ASF::Attribute(Str(std::to_string(w.tags_.trackTotal))));
    if (w.tags_.compilation) tag->setAttribute("WM/IsCompilation", TagLib::ASF::Attribute(true));
    for (const ReplayGainName& r : kReplayGainNames) {
        const std::string& value = w.tags_.replayGain.*r.field;
        if (!value.empty()) tag->setAttribute(r.name, TagLib::ASF::Attribute(Str(value)));
    }
    for (const auto& [number, p] : w.Pictures()) {
        TagLib::ASF::Picture picture;
        picture.setType(static_cast<TagLib::ASF::Picture::Type>(p->type));
        picture.setMimeType(Str(p->mimeType));
        picture.setDescription(Str(p->description));
        picture.setPicture(Bytes(p->data));
        tag->addAttribute("WM/Picture", TagLib::ASF::Attribute(picture));
    }
    return file.save();
}

using KindWriter = bool (*)(TagLib::IOStream&, CTagWriting&);
struct KindRow {
    TagFileKind kind;
    KindWriter write;
};
constexpr KindRow kKindWriters[] = {
    {TagFileKind::Id3v2, WriteId3v2},
    {TagFileKind::Flac, WriteFlac},
    {TagFileKind::OggVorbis, WriteOgg<TagLib::Ogg::Vorbis::File, GainTags::ReplayGain>},
    {TagFileKind::OggOpus, WriteOgg<TagLib::Ogg::Opus::File, GainTags::R128>},
    {TagFileKind::Mp4, WriteMp4},
    {TagFileKind::Asf, WriteAsf},
};

}  // namespace

TagWriteResult WriteTagFile(const std::string& path, TagFileKind kind, const TagInfo& tags) {
    TagWriteResult result;
    for (const KindRow& row : kKindWriters) {
        if (row.kind != kind) continue;
        CTagWriting writing(tags, result);
        // Every write is checked: TagLib itself would report a tag cut off
        // by a full disk as saved.
        CCheckedFileStream stream(path);
        const bool saved = row.write(stream, writing);
        const bool flushed = stream.Finish();
        result.saved = saved && flushed;
        if (!result.saved) {
            result.writeFailed = stream.Failed();
            result.error = result.writeFailed ? stream.Error() : "the tags could not be saved";
            result.dropped.clear();
        }
        return result;
    }
    result.saved = true;
    return result;
}

}  // namespace quelvox
