// Gain of a file: fixed volume, or normalisation from the peaks found by a
// measuring pass over the whole source.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quelvox {

class CLoudnessMeter;
struct ConversionContext;
struct CSettings;
struct FileEntry;
struct OutputFormatEntry;

// Scales every sample of `left` (and of `right` when channels is 2 and
// right is set) by `gain` in place: the product truncated toward zero and
// clamped to -32768 … 32767.
void ApplyGain(int16_t* left, int16_t* right, int frames, int channels, float gain);

// The gain to apply to a file, 1.0 meaning none: with kVolumeNormalise the
// normalisation gain when it is above 0; with kVolumeFixed Volume × 0.01
// when Volume is not 100; with kVolumeLoudness the loudness gain when it is
// above 0; otherwise none.
float SelectGain(const CSettings& settings, float normalisationGain, float loudnessGain = -1.0f);

// The normalisation gain for the peaks of a file, in 16-bit steps:
// min(32767 / max, 32768 / -min) when min is in -32762 … -1 and max in
// 1 … 32761, else -1 (no gain: silence, a one-sided signal, or peaks
// already at full scale).
float NormalisationGain(float minimum, float maximum);

// Reads the whole of `source` (as for a conversion to `format`: same render
// rate, full decoder) and returns its smallest and largest sample in
// `minimum` and `maximum` (both start at 0, and are set in every case), in
// 16-bit steps: whole numbers for a source of 16 bits or fewer in one or
// two channels, read as 16-bit samples; a deeper source or one of more
// channels is measured at its own depth, over every channel the target
// keeps, or over their fold to stereo when the target keeps two.
// Returns nonzero when at least one block was read and the pass was not
// cancelled. Clears `audioFound` when the source turned out to hold no
// audio. Shows "[n%] 正在标准化 <name>..." on ctx.progress, the name being
// that of ctx.currentEntry (of `source` when there is none).
// With `meter` set, the same pass also feeds it every sample the peaks are
// taken of (as float, the channels the target receives), having begun it
// at the source's rate.
int MeasurePeaks(ConversionContext& ctx, const FileEntry& source, const OutputFormatEntry& format,
                 int& audioFound, float& minimum, float& maximum,
                 CLoudnessMeter* meter = nullptr);

struct LoudnessResult;

// Whether the run measures loudness: for kVolumeLoudness or ReplayGain tags.
bool MeasuresLoudness(const CSettings& settings);
// Whether an output of `format` is measured as written, decoded once it is
// complete: its codec is lossy and the loudness mode holds a ceiling, or
// ReplayGain tags describe it.
bool MeasuresWritten(const CSettings& settings, const OutputFormatEntry& format);

// Decodes the finished output `path` (written as `namedAs`, whose
// extension says what it holds) and measures its loudness and true peak
// over every channel it has. False when it cannot be read or the run was
// cancelled.
bool MeasureWrittenOutput(ConversionContext& ctx, const std::string& path,
                          const std::string& namedAs, LoudnessResult& written);

// Whether one loudness serves every file of a run (album mode).
bool MeasuresAlbum(const CSettings& settings);

// Measures the loudness of each of `entries` (as MeasurePeaks does, one
// pass per file) and of them all together: `tracks` gets one result per
// entry (not valid for a file that could not be read), `album` the
// loudness of all, their largest peak and their total length. The peaks
// are true peaks with kVolumeLoudness (its ceiling needs them), else sample
// peaks.
// Returns false when the run was cancelled.
// `normalisationGains`, when given, gets each file's NormalisationGain of
// the peaks the same pass found (-1 where none).
bool MeasureLoudnessOfAll(ConversionContext& ctx, const std::vector<FileEntry*>& entries,
                          const OutputFormatEntry& format, std::vector<LoudnessResult>& tracks,
                          LoudnessResult& album,
                          std::vector<float>* normalisationGains = nullptr);

}  // namespace quelvox
