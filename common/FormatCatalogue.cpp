#include "common/FormatCatalogue.h"

#include <limits>

#include "common/AudioBlock.h"

#include <algorithm>
#include <climits>
#include <iterator>
#include <string_view>

#include "common/CodecIds.h"
#include "common/TextMarks.h"

namespace quelvox {

namespace {

// ---- Value lists ---------------------------------------------------------

constexpr int kRatesAc3[] = {32000, 44100, 48000};
constexpr int kRatesAac[] = {8000, 11025, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr int kRatesMpeg[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr int kRatesMp2[] = {16000, 22050, 24000, 32000, 44100, 48000};
constexpr int kRatesFlash[] = {11025, 22050, 44100};
// ADPCM codecs and the PCM codecs of VOC.
constexpr int kRatesPcm[] = {6000,  8000,  11025, 12000, 16000, 22050,
                             24000, 32000, 44100, 48000, 88200, 96000};
// Linear, float and G.711 PCM, which WAV, AIFF and AU store at any rate.
constexpr int kRatesPcmWide[] = {6000,  8000,  11025, 12000, 16000,  22050,  24000,  32000,
                                 44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000};
constexpr int kRatesFlac[] = {8000,  16000, 22050,  24000,  32000,  44100, 48000,
                              88200, 96000, 176400, 192000, 352800, 384000};
constexpr int kRatesAlac[] = {8000,  11025, 12000, 16000,  22050,  24000,  32000, 44100,
                              48000, 88200, 96000, 176400, 192000, 352800, 384000};
constexpr int kRatesMmf[] = {4000, 8000, 11025, 22050, 44100};
constexpr int kRates44100[] = {44100};
constexpr int kRates8000[] = {8000};
// The input rates libopus accepts; it codes at 48000 Hz.
constexpr int kRatesOpus[] = {8000, 12000, 16000, 24000, 48000};

constexpr int kBitRatesAc3[] = {32000,  40000,  48000,  56000,  64000,  80000,  96000,
                                112000, 128000, 160000, 192000, 224000, 256000, 320000,
                                384000, 448000, 512000, 576000, 640000};
constexpr int kBitRatesAac[] = {16000,  24000,  32000,  40000,  48000,  56000,
                                64000,  80000,  96000,  112000, 128000, 144000,
                                160000, 192000, 224000, 256000, 320000};
constexpr int kBitRatesMpeg[] = {8000,   16000,  24000,  32000,  40000,  48000,
                                 56000,  64000,  80000,  96000,  112000, 128000,
                                 144000, 160000, 192000, 224000, 256000, 320000};
// The MPEG bit rates followed by two higher ones.
constexpr int kBitRatesVorbis[] = {8000,   16000,  24000,  32000,  40000,  48000,  56000,
                                   64000,  80000,  96000,  112000, 128000, 144000, 160000,
                                   192000, 224000, 256000, 320000, 400000, 480000};
constexpr int kBitRatesAmrNb[] = {4750, 5150, 5900, 6700, 7400, 7950, 10200, 12200};
constexpr int kBitsG726[] = {2, 3, 4, 5};
// Bit rates of the whole stream, mono or a stereo pair.
constexpr int kBitRatesOpus[] = {6000,   8000,   12000,  16000,  24000, 32000,  40000,
                                 48000,  56000,  64000,  80000,  96000, 112000, 128000,
                                 144000, 160000, 192000, 224000, 256000};

constexpr std::span<const int> kNone{};

// Source rates the lossless codecs store as they are: PCM any; FLAC's
// frame headers name a rate in Hz below 65535 and in tens of Hz above, up
// to 655340; ALAC up to 384 kHz.
constexpr KeptRates kAnyRate{INT_MAX, 0};
constexpr KeptRates kFlacRates{655340, 65535};
constexpr KeptRates kAlacRates{384000, 0};

// ---- Codec entries -------------------------------------------------------

enum CodecKey : int {
    kAmrNb,
    kAlac,
    kAc3,
    kAac,
    kAacFlash,
    kAdpcmFlash,
    kMp2,
    kMp3,
    kMp3Flash,
    kVorbis,
    kFlac,
    kPcm8U,
    kPcm16Le,
    kPcm24Le,
    kPcm32Le,
    kF32Le,
    kF64Le,
    kALaw,
    kMuLaw,
    kMsAdpcm,
    kImaWav,
    kG726,
    kYamaha,
    kYamahaMmf,
    kPcm8S,
    kPcm16Be,
    kPcm24Be,
    kPcm32Be,
    kF32Be,
    kF64Be,
    kImaQt,
    kMsGsm,
    kGsm,
    kOpus,
    kPcm8UVoc,
    kPcm16LeVoc,
    kALawVoc,
    kMuLawVoc,
    kCodecCount
};

constexpr int M = kChannelMaskMono;
constexpr int S = kChannelMaskStereo;
constexpr int MS = kChannelMaskMono | kChannelMaskStereo;
// Codecs whose encoders take surround: AC-3 up to 5.1, the others 7.1.
constexpr int MS51 = MS | kChannelMask51;
constexpr int MS71 = MS51 | kChannelMask71;

// In CodecKey order.
constexpr CodecEntry kCodecs[] = {
    {kCodecAmrNb, "Adaptive Multi-Rate (AMR) Narrow-Band", kRates8000, kBitRatesAmrNb, M},
    {kCodecAlac, QT_TRANSLATE_NOOP("FormatCatalogue", "ALAC (Apple 无损音频编码)"), kRatesAlac,
     kNone, S, 0, 0, kAlacRates},
    {kCodecAc3, "ATSC A/52A (AC-3)", kRatesAc3, kBitRatesAc3, MS51},
    {kCodecAac, QT_TRANSLATE_NOOP("FormatCatalogue", "AAC (高级音频编码)"), kRatesAac, kBitRatesAac,
     MS71},
    {kCodecAac, QT_TRANSLATE_NOOP("FormatCatalogue", "AAC (高级音频编码)"), kRates44100,
     kBitRatesAac, S},
    {kCodecAdpcmSwf, "ADPCM", kRatesFlash, kNone, MS},
    {kCodecMp2, "MP2 (MPEG audio layer 2)", kRatesMp2, kBitRatesMpeg, MS},
    {kCodecMp3, "LAME MP3 (MPEG audio layer 3)", kRatesMpeg, kBitRatesMpeg, MS},
    {kCodecMp3, "LAME MP3 (MPEG audio layer 3)", kRatesFlash, kBitRatesMpeg, MS},
    {kCodecVorbis, "Vorbis OGG Encoder", kRatesMpeg, kBitRatesVorbis, MS71},
    {kCodecFlac, QT_TRANSLATE_NOOP("FormatCatalogue", "FLAC (自由无损音频编码)"), kRatesFlac, kNone,
     MS, 0, 0, kFlacRates},
    {kCodecPcmU8, "PCM 8-bit", kRatesPcmWide, kNone, MS, 0, 0, kAnyRate},
    {kCodecPcmS16Le, "PCM 16-bit", kRatesPcmWide, kNone, MS, 0, 0, kAnyRate},
    {kCodecPcmS24Le, "PCM 24-bit", kRatesPcmWide, kNone, MS, 0, 0, kAnyRate},
    {kCodecPcmS32Le, "PCM 32-bit", kRatesPcmWide, kNone, MS, 0, 0, kAnyRate},
    {kCodecPcmF32Le, "PCM 32-bit Float", kRatesPcmWide, kNone, MS, 0, 0, kAnyRate},
    {kCodecPcmF64Le, "PCM 64-bit Float", kRatesPcmWide, kNone, MS, 0, 0, kAnyRate},
    {kCodecPcmAlaw, "CCITT a-Law (8-bit)", kRatesPcmWide, kNone, MS, 0, 0, kAnyRate},
    {kCodecPcmMulaw, "CCITT mu-Law (8-bit)", kRatesPcmWide, kNone, MS, 0, 0, kAnyRate},
    {kCodecAdpcmMs, "Microsoft ADPCM (4-bit)", kRatesPcm, kNone, MS},
    {kCodecAdpcmImaWav, "IMA ADPCM (4-bit)", kRatesPcm, kNone, MS},
    {kCodecAdpcmG726, "G.726 ADPCM", kRatesPcm, kBitsG726, M},
    {kCodecAdpcmYamaha, "Yamaha ADPCM (4-bit)", kRatesPcm, kNone, MS},
    {kCodecAdpcmYamaha, "Yamaha ADPCM (4-bit)", kRatesMmf, kNone, M},
    {kCodecPcmS8, "PCM 8-bit", kRatesPcmWide, kNone, MS, 0, 0, kAnyRate},
    {kCodecPcmS16Be, "PCM 16-bit", kRatesPcmWide, kNone, MS, 0, 0, kAnyRate},
    {kCodecPcmS24Be, "PCM 24-bit", kRatesPcmWide, kNone, MS, 0, 0, kAnyRate},
    {kCodecPcmS32Be, "PCM 32-bit", kRatesPcmWide, kNone, MS, 0, 0, kAnyRate},
    {kCodecPcmF32Be, "PCM 32-bit Float", kRatesPcmWide, kNone, MS, 0, 0, kAnyRate},
    {kCodecPcmF64Be, "PCM 64-bit Float", kRatesPcmWide, kNone, MS, 0, 0, kAnyRate},
    {kCodecAdpcmImaQt, "IMA ADPCM (4-bit)", kRatesPcm, kNone, MS},
    {kCodecGsmMs, "Microsoft GSM", kRates8000, kNone, M},
    {kCodecGsm, "GSM", kRates8000, kNone, M},
    {kCodecOpus, "Opus (libopus)", kRatesOpus, kBitRatesOpus, MS71, 48000, 64000},
    // VOC stores the rate of 8-bit sound as a one-byte time constant: its
    // codecs keep the short list.
    {kCodecPcmU8, "PCM 8-bit", kRatesPcm, kNone, MS},
    {kCodecPcmS16Le, "PCM 16-bit", kRatesPcm, kNone, MS},
    {kCodecPcmAlaw, "CCITT a-Law (8-bit)", kRatesPcm, kNone, MS},
    {kCodecPcmMulaw, "CCITT mu-Law (8-bit)", kRatesPcm, kNone, MS},
};
static_assert(std::size(kCodecs) == kCodecCount);

// ---- Codec lists of the entries ------------------------------------------

constexpr const CodecEntry* C(CodecKey k) { return &kCodecs[k]; }

constexpr const CodecEntry* kList3gp[] = {C(kAmrNb), C(kAac)};
constexpr const CodecEntry* kListAac[] = {C(kAac)};
constexpr const CodecEntry* kListAc3[] = {C(kAc3)};
constexpr const CodecEntry* kListAiff[] = {C(kPcm8S), C(kPcm16Be), C(kPcm24Be), C(kPcm32Be),
                                           C(kF32Be), C(kF64Be),   C(kALaw),    C(kMuLaw),
                                           C(kImaQt), C(kGsm)};
constexpr const CodecEntry* kListAlac[] = {C(kAlac)};
constexpr const CodecEntry* kListAu[] = {C(kPcm8S), C(kPcm16Be), C(kPcm24Be), C(kPcm32Be),
                                         C(kF32Be), C(kF64Be),   C(kALaw),    C(kMuLaw)};
constexpr const CodecEntry* kListAvi[] = {C(kAc3),     C(kMp2),     C(kMp3),
                                          C(kPcm16Le), C(kMsAdpcm), C(kImaWav)};
constexpr const CodecEntry* kListFlac[] = {C(kFlac)};
constexpr const CodecEntry* kListFlv[] = {C(kMp3Flash), C(kAacFlash), C(kAdpcmFlash)};
constexpr const CodecEntry* kListM4a[] = {C(kAac), C(kAlac)};
constexpr const CodecEntry* kListMka[] = {C(kAac), C(kAc3), C(kMp2), C(kMp3)};
constexpr const CodecEntry* kListMmf[] = {C(kYamahaMmf)};
constexpr const CodecEntry* kListMov[] = {C(kAac), C(kAc3), C(kMp3)};
constexpr const CodecEntry* kListMp2[] = {C(kMp2)};
constexpr const CodecEntry* kListMp3[] = {C(kMp3)};
constexpr const CodecEntry* kListMpa[] = {C(kMp2), C(kMp3)};
constexpr const CodecEntry* kListOgg[] = {C(kVorbis), C(kFlac)};
constexpr const CodecEntry* kListOpus[] = {C(kOpus)};
constexpr const CodecEntry* kListSwf[] = {C(kMp3Flash)};
constexpr const CodecEntry* kListVoc[] = {C(kPcm8UVoc), C(kPcm16LeVoc), C(kALawVoc), C(kMuLawVoc)};
constexpr const CodecEntry* kListWav[] = {
    C(kPcm8U), C(kPcm16Le), C(kPcm24Le), C(kPcm32Le), C(kF32Le),  C(kF64Le), C(kALaw),
    C(kMuLaw), C(kMsAdpcm), C(kImaWav),  C(kG726),    C(kYamaha), C(kMsGsm), C(kMp3)};

constexpr std::span<const CodecEntry* const> kNoCodecs{};

// ---- The catalogue, in its fixed order -----------------------------------

// code, AutoEncParam, CodecID, SampleRate, BitRate, Channels, description,
// page title, extension, settings prefix, container, codec list, writer
// family, whether the container stores tags.
constexpr WriterKind kFFmpeg = WriterKind::FFmpeg;
constexpr WriterKind kAmr = WriterKind::Amr;
constexpr WriterKind kWma = WriterKind::Wma;
constexpr bool kTags = true;
constexpr bool kNoTags = false;
constexpr TagFileKind kId3v2 = TagFileKind::Id3v2;
constexpr TagFileKind kFlacTags = TagFileKind::Flac;
constexpr TagFileKind kVorbisTags = TagFileKind::OggVorbis;
constexpr TagFileKind kOpusTags = TagFileKind::OggOpus;
constexpr TagFileKind kMp4Atoms = TagFileKind::Mp4;
constexpr TagFileKind kAsfAttributes = TagFileKind::Asf;
const OutputFormatEntry kCatalogue[] = {
    {8300, 0, kCodecAmrNb, 8000, 10200, 1, QT_TRANSLATE_NOOP("FormatCatalogue", "3G2 (仅音频)"),
     nullptr, "3g2", nullptr, "3g2", kList3gp, kFFmpeg, kTags},
    {8350, 0, kCodecAmrNb, 8000, 10200, 1, QT_TRANSLATE_NOOP("FormatCatalogue", "3GP (仅音频)"),
     nullptr, "3gp", nullptr, "3gp", kList3gp, kFFmpeg, kTags},
    {6000, 1, kCodecAac, 44100, 128000, 2, nullptr, nullptr, "aac", nullptr, "adts", kListAac,
     kFFmpeg, kTags, kId3v2},
    {6100, 1, kCodecAac, 44100, 128000, 2,
     QT_TRANSLATE_NOOP("FormatCatalogue", "AAC 适用iPod/iPhone/iPad/iTunes/DSi (*.m4a)"),
     QT_TRANSLATE_NOOP("FormatCatalogue", "AAC 适用iPod/DSi"), "m4a", "AACDevice", "ipod", kListAac,
     kFFmpeg, kTags, kMp4Atoms},
    {3400, 1, kCodecAc3, 44100, 128000, 2, nullptr, nullptr, "ac3", nullptr, "ac3", kListAc3,
     kFFmpeg, kTags},
    {5100, 1, kCodecPcmS16Be, 44100, 128000, 2, nullptr, nullptr, "aiff", nullptr, "aiff",
     kListAiff, kFFmpeg, kNoTags},
    {6200, 1, kCodecAlac, 44100, 0, 2,
     QT_TRANSLATE_NOOP("FormatCatalogue", "ALAC (Apple 无损) (*.m4a)"), "ALAC", "m4a", "ALAC",
     "ipod", kListAlac, kFFmpeg, kTags, kMp4Atoms},
    {5500, 0, 0, 0, 0, 0, nullptr, nullptr, "amr", nullptr, nullptr, kNoCodecs, kAmr, kNoTags},
    {7300, 0, 0, 0, 0, 0, QT_TRANSLATE_NOOP("FormatCatalogue", "ASF (仅音频)"), nullptr, "asf",
     nullptr, nullptr, kNoCodecs, kWma, kTags, kAsfAttributes},
    {5000, 1, kCodecPcmS16Be, 44100, 128000, 2, nullptr, nullptr, "au", nullptr, "au", kListAu,
     kFFmpeg, kNoTags},
    {8000, 1, kCodecMp3, 44100, 128000, 2, QT_TRANSLATE_NOOP("FormatCatalogue", "AVI (仅音频)"),
     nullptr, "avi", nullptr, "avi", kListAvi, kFFmpeg, kTags},
    {5600, 0, 0, 0, 0, 0, nullptr, nullptr, "awb", nullptr, nullptr, kNoCodecs, kAmr, kNoTags},
    {3200, 1, kCodecFlac, 44100, 128000, 2, nullptr, nullptr, "flac", nullptr, "flac", kListFlac,
     kFFmpeg, kTags, kFlacTags},
    {3650, 1, kCodecMp3, 44100, 128000, 2, QT_TRANSLATE_NOOP("FormatCatalogue", "FLV (仅音频)"),
     nullptr, "flv", nullptr, "flv", kListFlv, kFFmpeg, kNoTags},
    {6500, 1, kCodecAac, 44100, 128000, 2,
     QT_TRANSLATE_NOOP("FormatCatalogue", "M4A (MPEG-4 音频)"), nullptr, "m4a", nullptr, "ipod",
     kListM4a, kFFmpeg, kTags, kMp4Atoms},
    {6700, 1, kCodecAac, 44100, 128000, 2,
     QT_TRANSLATE_NOOP("FormatCatalogue", "M4B (MPEG-4 有声读物)"), nullptr, "m4b", nullptr, "ipod",
     kListM4a, kFFmpeg, kTags, kMp4Atoms},
    {6800, 1, kCodecAac, 44100, 128000, 2,
     QT_TRANSLATE_NOOP("FormatCatalogue", "M4R (iPhone 铃音)"), nullptr, "m4r", nullptr, "ipod",
     kListM4a, kFFmpeg, kTags, kMp4Atoms},
    {1400, 1, kCodecMp2, 44100, 128000, 2, nullptr, nullptr, "mka", nullptr, "matroska", kListMka,
     kFFmpeg, kTags},
    {1500, 1, kCodecAdpcmYamaha, 44100, 0, 2, nullptr, nullptr, "mmf", nullptr, "mmf", kListMmf,
     kFFmpeg, kNoTags},
    {8100, 1, kCodecAac, 44100, 128000, 2, QT_TRANSLATE_NOOP("FormatCatalogue", "MOV (仅音频)"),
     nullptr, "mov", nullptr, "mov", kListMov, kFFmpeg, kTags},
    {1100, 1, kCodecMp2, 44100, 128000, 2, nullptr, nullptr, "mp2", nullptr, "mp2", kListMp2,
     kFFmpeg, kTags, kId3v2},
    {1000, 1, kCodecMp3, 44100, 128000, 2, nullptr, nullptr, "mp3", nullptr, "mp3", kListMp3,
     kFFmpeg, kTags, kId3v2},
    {6600, 1, kCodecAac, 44100, 128000, 2, QT_TRANSLATE_NOOP("FormatCatalogue", "MP4 (仅音频)"),
     nullptr, "mp4", nullptr, "mp4", kListAac, kFFmpeg, kTags, kMp4Atoms},
    {1200, 1, kCodecMp2, 44100, 128000, 2, nullptr, nullptr, "mpa", nullptr, "mpeg", kListMpa,
     kFFmpeg, kTags, kId3v2},
    {4000, 1, kCodecVorbis, 44100, 128000, 2, nullptr, nullptr, "ogg", nullptr, "ogg", kListOgg,
     kFFmpeg, kTags, kVorbisTags},
    {4100, 1, kCodecOpus, 48000, 128000, 2, nullptr, nullptr, "opus", nullptr, "opus", kListOpus,
     kFFmpeg, kTags, kOpusTags},
    {8200, 1, kCodecMp3, 44100, 128000, 2, QT_TRANSLATE_NOOP("FormatCatalogue", "SWF (仅音频)"),
     nullptr, "swf", nullptr, "swf", kListSwf, kFFmpeg, kNoTags},
    {8400, 0, kCodecPcmU8, 22050, 0, 1, nullptr, nullptr, "voc", nullptr, "voc", kListVoc, kFFmpeg,
     kNoTags},
    {2000, 1, kCodecPcmS16Le, 44100, 128000, 2, nullptr, nullptr, "wav", nullptr, "wav", kListWav,
     kFFmpeg, kNoTags},
    {7100, 0, 0, 0, 0, 0, nullptr, nullptr, "wma", nullptr, nullptr, kNoCodecs, kWma, kTags, kAsfAttributes},
    {7200, 0, 0, 0, 0, 0, QT_TRANSLATE_NOOP("FormatCatalogue", "WMV (仅音频)"), nullptr, "wmv",
     nullptr, nullptr, kNoCodecs, kWma, kTags, kAsfAttributes},
};
static_assert(std::size(kCatalogue) == 31);

std::string UpperAscii(const char* text) {
    std::string s = text ? text : "";
    for (char& c : s) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return s;
}

}  // namespace

std::vector<OutputFormatEntry> BuildFormatCatalogue() {
    return std::vector<OutputFormatEntry>(std::begin(kCatalogue), std::end(kCatalogue));
}

std::span<const CodecEntry> AllCodecEntries() { return kCodecs; }

std::string FormatDescription(const OutputFormatEntry& entry) {
    return entry.description ? std::string(entry.description) : UpperAscii(entry.extension);
}

Text CatalogueName(const char* name) {
    if (!name) return Text();
    const std::string_view view(name);
    const bool ascii = std::all_of(view.begin(), view.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) return Text(name);
    return Text::Marked(kFormatCatalogueTextContext, name);
}

Text FormatName(const OutputFormatEntry& entry) {
    return entry.description ? CatalogueName(entry.description) : Text(FormatDescription(entry));
}

Text FormatPageName(const OutputFormatEntry& entry) {
    return entry.pageTitle ? CatalogueName(entry.pageTitle) : Text(FormatPageTitle(entry));
}

std::string FormatPageTitle(const OutputFormatEntry& entry) {
    return entry.pageTitle ? std::string(entry.pageTitle) : UpperAscii(entry.extension);
}

std::string FormatSettingsPrefix(const OutputFormatEntry& entry) {
    return UpperAscii(entry.settingsPrefix ? entry.settingsPrefix : entry.extension);
}

bool HasFormatSettings(int code) { return SelectWriter(code) == WriterKind::FFmpeg; }

namespace {

// Lossless targets keep up to eight channels (WAV as WAVE_FORMAT_EXTENSIBLE
// above two) and, with automatic parameters, the source's depth: WAV, AIFF
// and AU through the PCM codec of that depth (float for a float source,
// which keeps values beyond full scale), FLAC and ALAC up to 24 bits.
// The 24- and 32-bit PCM codecs store their full width in every container.
constexpr CodecDepth kCodecDepths[] = {
    {kFormatWav, kCodecPcmS16Le, kMaxChannels, 16, true, 32, kCodecPcmS24Le, kCodecPcmS32Le,
     kCodecPcmF32Le},
    {kFormatWav, kCodecPcmS24Le, kMaxChannels, 24, false, 24, 0, 0},
    {kFormatWav, kCodecPcmS32Le, kMaxChannels, 32, false, 32, 0, 0},
    {kFormatAiff, kCodecPcmS16Be, kMaxChannels, 16, true, 32, kCodecPcmS24Be, kCodecPcmS32Be,
     kCodecPcmF32Be},
    {kFormatAiff, kCodecPcmS24Be, kMaxChannels, 24, false, 24, 0, 0},
    {kFormatAiff, kCodecPcmS32Be, kMaxChannels, 32, false, 32, 0, 0},
    {kFormatAu, kCodecPcmS16Be, kMaxChannels, 16, true, 32, kCodecPcmS24Be, kCodecPcmS32Be,
     kCodecPcmF32Be},
    {kFormatAu, kCodecPcmS24Be, kMaxChannels, 24, false, 24, 0, 0},
    {kFormatAu, kCodecPcmS32Be, kMaxChannels, 32, false, 32, 0, 0},
    {kFormatFlac, kCodecFlac, kMaxChannels, 16, true, 24, 0, 0},
    {0, kCodecAlac, kMaxChannels, 16, true, 24, 0, 0},
    {0, kCodecPcmS24Le, 2, 24, false, 24, 0, 0},
    {0, kCodecPcmS24Be, 2, 24, false, 24, 0, 0},
    {0, kCodecPcmS32Le, 2, 32, false, 32, 0, 0},
    {0, kCodecPcmS32Be, 2, 32, false, 32, 0, 0},
};

constexpr int kFloatSampleCodecs[] = {
    kCodecMp2,      kCodecMp3,      kCodecAac,      kCodecAc3,      kCodecVorbis,
    kCodecOpus,     kCodecPcmF32Le, kCodecPcmF32Be, kCodecPcmF64Le, kCodecPcmF64Be,
};

// Codecs that store the samples they receive exactly (rounded to their
// depth): PCM of every width and order, FLAC and ALAC.
constexpr int kLosslessCodecs[] = {
    kCodecPcmS16Le, kCodecPcmS16Be, kCodecPcmS8,    kCodecPcmU8,    kCodecPcmS32Le,
    kCodecPcmS32Be, kCodecPcmS24Le, kCodecPcmS24Be, kCodecPcmF32Be, kCodecPcmF32Le,
    kCodecPcmF64Be, kCodecPcmF64Le, kCodecFlac,     kCodecAlac,
};

constexpr int kFloatPcmCodecs[] = {kCodecPcmF32Le, kCodecPcmF32Be, kCodecPcmF64Le,
                                   kCodecPcmF64Be};

// Lossy codecs whose encoders take float samples beyond full scale and
// encode them faithfully, up to +24 dBFS (LAME aborts on values far beyond,
// libopus and the AC-3 encoder need no more). Measured at +4 dBFS: these
// keep the loudness within 0.5 dB, where the AAC and MP2 encoders lose 4.5
// and 2.4 dB to distortion; those receive such samples clipped, as integer
// codecs do.
struct CodecHeadroom {
    int codecId;
    float limit;
};
constexpr CodecHeadroom kLossyHeadroom[] = {
    {kCodecMp3, 16.0f}, {kCodecVorbis, 16.0f}, {kCodecOpus, 16.0f}, {kCodecAc3, 16.0f}};

}  // namespace

bool KeepsSourceRate(const CodecEntry& codec, int rate) {
    const KeptRates& kept = codec.keptRates;
    if (rate < 1 || rate > kept.upTo) return false;
    return kept.tensFrom == 0 || rate < kept.tensFrom || rate % 10 == 0;
}

int SurroundChannelsKept(const CodecEntry& codec, int sourceChannels) {
    if (sourceChannels >= 8 && (codec.channelMask & kChannelMask71)) return 8;
    if (sourceChannels >= 6 && (codec.channelMask & kChannelMask51)) return 6;
    return 0;
}

bool TakesFloatSamples(int codecId) {
    for (int id : kFloatSampleCodecs)
        if (id == codecId) return true;
    return false;
}

bool IsLosslessCodec(int codecId, int formatCode) {
    if (SelectWriter(formatCode) != WriterKind::FFmpeg) return false;
    for (int id : kLosslessCodecs)
        if (id == codecId) return true;
    return false;
}

bool KeepsOverFullScale(int codecId) {
    for (int id : kFloatPcmCodecs)
        if (id == codecId) return true;
    return false;
}

float ReceivedSampleLimit(int codecId, bool floatInput) {
    if (KeepsOverFullScale(codecId)) return std::numeric_limits<float>::infinity();
    if (floatInput)
        for (const CodecHeadroom& h : kLossyHeadroom)
            if (h.codecId == codecId) return h.limit;
    return 1.0f;
}

const CodecDepth* FindCodecDepth(const OutputFormatEntry& entry) {
    const CodecDepth* any = nullptr;
    for (const CodecDepth& d : kCodecDepths) {
        if (d.CodecID != entry.CodecID) continue;
        if (d.formatCode == entry.code) return &d;
        if (d.formatCode == 0 && !any) any = &d;
    }
    return any;
}

const CodecEntry* FindCodec(const OutputFormatEntry& entry) {
    for (const CodecEntry* codec : entry.codecs) {
        if (codec && codec->CodecID == entry.CodecID) return codec;
    }
    return nullptr;
}

const OutputFormatEntry* FindFormat(const std::vector<OutputFormatEntry>& catalogue, int code) {
    for (const OutputFormatEntry& entry : catalogue) {
        if (entry.code == code) return &entry;
    }
    return nullptr;
}

OutputFormatEntry* FindFormat(std::vector<OutputFormatEntry>& catalogue, int code) {
    for (OutputFormatEntry& entry : catalogue) {
        if (entry.code == code) return &entry;
    }
    return nullptr;
}

const OutputFormatEntry* CatalogueRow(int code) {
    for (const OutputFormatEntry& entry : kCatalogue)
        if (entry.code == code) return &entry;
    return nullptr;
}

WriterKind SelectWriter(int code) {
    const OutputFormatEntry* row = CatalogueRow(code);
    return row ? row->writer : WriterKind::FFmpeg;
}

bool FormatCarriesTags(int code) {
    const OutputFormatEntry* row = CatalogueRow(code);
    return row ? row->carriesTags : true;
}

TagFileKind FormatTagFile(int code) {
    const OutputFormatEntry* row = CatalogueRow(code);
    return row ? row->tagFile : TagFileKind::None;
}

bool ContainerCarriesTags(const std::string& container) {
    for (const OutputFormatEntry& entry : kCatalogue)
        if (entry.container && container == entry.container && !entry.carriesTags) return false;
    return true;
}

}  // namespace quelvox
