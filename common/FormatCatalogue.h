// The output format catalogue: every format the converter can write, the
// codecs each format allows, and each format's current encoding parameters.
//
// Value lists, codec entries and the catalogue rows are immutable tables in
// FormatCatalogue.cpp. BuildFormatCatalogue copies the rows into values that
// the front end owns; only the six settings fields of an entry ever change
// (through the settings store and the options pages).
//
// Value lists are spans without an end marker. SnapToList (engine/
// EncoderParams.h) still honours a -1 marker should a list carry one.
#pragma once

#include "common/Text.h"

#include <span>
#include <string>
#include <vector>

namespace quelvox {

// OutputFormat codes of the catalogue entries.
enum OutputFormatCode : int {
    kFormatMp3 = 1000,
    kFormatMp2 = 1100,
    kFormatMpa = 1200,
    kFormatMka = 1400,
    kFormatMmf = 1500,
    kFormatWav = 2000,
    kFormatFlac = 3200,
    kFormatAc3 = 3400,
    kFormatFlv = 3650,
    kFormatOgg = 4000,
    kFormatOpus = 4100,
    kFormatAu = 5000,
    kFormatAiff = 5100,
    kFormatAmr = 5500,
    kFormatAwb = 5600,
    kFormatAac = 6000,
    kFormatAacDevice = 6100,
    kFormatAlac = 6200,
    kFormatM4a = 6500,
    kFormatMp4 = 6600,
    kFormatM4b = 6700,
    kFormatM4r = 6800,
    kFormatWma = 7100,
    kFormatWmv = 7200,
    kFormatAsf = 7300,
    kFormatAvi = 8000,
    kFormatMov = 8100,
    kFormatSwf = 8200,
    kFormat3g2 = 8300,
    kFormat3gp = 8350,
    kFormatVoc = 8400,
    // Not a format: the final item of the main window's format list.
    kFormatListExtraItem = 10000,
};

// Bits of CodecEntry::channelMask.
inline constexpr int kChannelMaskMono = 1;
inline constexpr int kChannelMaskStereo = 2;
// Surround choices of the options page: 5.1 (six channels), 7.1 (eight).
inline constexpr int kChannelMask51 = 4;
inline constexpr int kChannelMask71 = 8;

// The translation context of the shown names (codec names, descriptions,
// page titles) that are not plain ASCII; they are marked for translation
// where the tables hold them.
inline constexpr const char* kFormatCatalogueTextContext = "FormatCatalogue";

// The source rates a lossless codec stores as they are, which automatic
// parameters keep: every rate from 1 Hz up to `upTo` (0: none, the rate
// snaps to the codec's list), from `tensFrom` on (0: nowhere) only whole
// tens of Hz.
struct KeptRates {
    int upTo = 0;
    int tensFrom = 0;
};

// One codec choice within a format.
struct CodecEntry {
    int CodecID;                       // persisted codec id (common/CodecIds.h)
    const char* name;                  // shown in the options page's codec list
    std::span<const int> sampleRates;  // ascending Hz, never empty
    std::span<const int> bitRates;     // ascending bit/s (G.726: bits per
                                       // sample); empty = no bit-rate choice
    int channelMask;                   // kChannelMask… bits
    // The rate the encoder works at internally, or 0. When set, output is
    // resampled to it, except that a listed rate is kept when it is the
    // source's own rate and the user picked it (manual parameters), so that
    // such a source is not resampled at all.
    int encoderRate = 0;
    // Automatic bit rate per channel (bit/s), or 0 for the general
    // suggestion by sample rate and channel count.
    int autoBitRatePerChannel = 0;
    KeptRates keptRates{};
};

// Whether automatic parameters keep a source of `rate` Hz at its rate with
// this codec (codec.keptRates).
bool KeepsSourceRate(const CodecEntry& codec, int rate);

// The channels automatic parameters keep of a source of `sourceChannels`
// with this codec: the largest surround choice of its channel mask (8 for
// 7.1, 6 for 5.1) that the source fills, else 0 (mono or stereo).
int SurroundChannelsKept(const CodecEntry& codec, int sourceChannels);

// How the tags of a finished output file are written (encoders/TagWriter):
// in the container's own convention through TagLib, or, for None, only as
// the writer's text metadata.
enum class TagFileKind { None, Id3v2, Flac, OggVorbis, OggOpus, Mp4, Asf };

// The writer family that serves a format.
enum class WriterKind { FFmpeg, Amr, Wma };

// One catalogue entry. The first six fields are the entry's settings; the
// rest are the format's fixed facts.
struct OutputFormatEntry {
    int code = 0;                               // OutputFormatCode
    int AutoEncParam = 0;                       // 1 = rate, bit rate and channels follow the source
    int CodecID = 0;                            // persisted codec id; must occur in `codecs`
    int SampleRate = 0;                         // Hz; 0 = the source's rate
    int BitRate = 0;                            // bit/s (G.726: bits per sample); 0 = automatic
    int Channels = 0;                           // 1 or 2; 0 = the source's channel count
    const char* description = nullptr;          // null = extension in upper case
    const char* pageTitle = nullptr;            // null = extension in upper case
    const char* extension = "";                 // without the dot
    const char* settingsPrefix = nullptr;       // null = extension
    const char* container = nullptr;            // muxer short name; null when the
                                                // library does not write the format
    std::span<const CodecEntry* const> codecs;  // empty = none
    WriterKind writer = WriterKind::FFmpeg;     // the writer family
    bool carriesTags = true;                    // whether the container stores text tags
    TagFileKind tagFile = TagFileKind::None;    // how tags are written onto the finished file
};

// The 31 entries in their fixed order (the order of the main format list),
// each holding its defaults.
std::vector<OutputFormatEntry> BuildFormatCatalogue();

// All 38 codec entries, in table order.
std::span<const CodecEntry> AllCodecEntries();

// Text of the entry in the main format list.
std::string FormatDescription(const OutputFormatEntry& entry);
// The same as a text to show: the marked name, translated where shown (a
// name of plain ASCII, like an extension, is a literal).
Text FormatName(const OutputFormatEntry& entry);
// The caption of the entry's options page as a text to show.
Text FormatPageName(const OutputFormatEntry& entry);
// A name of the catalogue (a codec's, a format's) as a text to show: marked
// in the catalogue's context, or a literal when it is plain ASCII.
Text CatalogueName(const char* name);
// Caption of the entry's options page.
std::string FormatPageTitle(const OutputFormatEntry& entry);
// Stem of the entry's stored value names, upper case (e.g. "AACDEVICE").
std::string FormatSettingsPrefix(const OutputFormatEntry& entry);

// Whether the entry keeps its encoding parameters in its six settings
// fields; false for AMR, AWB and the WMA family, whose parameters are
// separate settings.
bool HasFormatSettings(int code);

// First codec entry of the entry's list whose CodecID equals the entry's
// CodecID, or null.
const CodecEntry* FindCodec(const OutputFormatEntry& entry);

// What an output format's codec keeps of a source wider than 16-bit
// stereo. Formats and codecs without a row store 16-bit mono or stereo.
struct CodecDepth {
    int formatCode;   // OutputFormatCode; 0 = any format with this codec
    int CodecID;      // persisted codec id
    int maxChannels;  // channels kept with automatic parameters
    int bits;         // the depth stored, unless it follows the source
    // With automatic parameters the depth follows the source (16 for
    // sources of 16 bits or fewer), up to maxBits.
    bool followsSource;
    int maxBits;
    // Persisted codec ids that store 24 and 32 bits when the depth
    // follows the source; 0 = this codec.
    int codec24;
    int codec32;
    // The float codec that stores a float source, unclipped, when the
    // depth follows the source; 0 = none (its samples become integers).
    int codecFloat = 0;
};
// The row for `entry`'s format and codec (its own before the any-format
// one); null when there is none.
const CodecDepth* FindCodecDepth(const OutputFormatEntry& entry);

// Whether a codec takes a source deeper than 16 bits as float samples,
// unrounded: the lossy codecs whose encoders work on float, and float PCM.
bool TakesFloatSamples(int codecId);

// Whether an output format's codec stores its samples exactly (PCM,
// FLAC, ALAC); false for every lossy codec and for the WMA and AMR
// formats.
bool IsLosslessCodec(int codecId, int formatCode);

// Whether a codec stores samples beyond full scale as they are (float
// PCM); every other codec clips them there.
bool KeepsOverFullScale(int codecId);

// The largest sample magnitude a codec receives as it is (larger samples
// are clipped there and counted): unlimited (infinity) for float PCM; for
// a lossy codec fed float samples (`floatInput`), what its encoder encodes
// faithfully; full scale (1) for everything else.
float ReceivedSampleLimit(int codecId, bool floatInput);

// Entry of the given code in a catalogue, or null.
const OutputFormatEntry* FindFormat(const std::vector<OutputFormatEntry>& catalogue, int code);
OutputFormatEntry* FindFormat(std::vector<OutputFormatEntry>& catalogue, int code);

// The catalogue row of a format code, or null.
const OutputFormatEntry* CatalogueRow(int code);

// The writer that handles a format code, as its row says (5500 and 5600
// AMR, 7100, 7200 and 7300 WMA, everything else FFmpeg).
WriterKind SelectWriter(int code);
inline WriterKind SelectWriter(const OutputFormatEntry& entry) { return SelectWriter(entry.code); }

// Whether output of this format receives text tags, as its row says.
bool FormatCarriesTags(int code);

// How tags are written onto a finished output of this format, as its row
// says; None for an unknown code.
TagFileKind FormatTagFile(int code);

// Whether output in this muxer receives text tags: false when a catalogue
// row with that container says its container stores none.
bool ContainerCarriesTags(const std::string& container);

}  // namespace quelvox
