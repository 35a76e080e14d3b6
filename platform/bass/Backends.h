// The backends behind the decoding layer, one factory per reference
// decoder. Each returns null when its decoder does not accept the file.
// Internal to platform/bass.
#pragma once

#include "platform/bass/BassRuntime.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quelvox::bass {

// MPEG audio layers 1-3 through libmpg123: exact length from a frame scan,
// gapless decoding on. With `known` (an earlier stream's LearnedLength) for
// the unchanged file, the length is taken from it and the scan skipped.
std::unique_ptr<CChannel> OpenMpegStream(const std::string& path,
                                         const KnownLength* known = nullptr);

// WAV, AIFF and other PCM containers through libsndfile; FLAC and Ogg FLAC
// only when allowFlac is set. 8-bit sources are delivered as unsigned 8-bit.
std::unique_ptr<CChannel> OpenSndfileStream(const std::string& path, bool allowFlac);

// WavPack through libwavpack.
std::unique_ptr<CChannel> OpenWavPackStream(const std::string& path);

// AAC (ADTS), MP4/M4A with AAC or ALAC, ADX and Ogg FLAC through
// libavformat and libavcodec; each codec only when its flag is set.
std::unique_ptr<CChannel> OpenFFmpegStream(const std::string& path, bool allowAac, bool allowAlac,
                                           bool allowAdx, bool allowFlac);

// A CD track: `path` is a ".cda" descriptor naming the track; the track is
// read from the default CD drive, or from the device or CUE/BIN image named
// by the environment variable QUELVOX_CD_DEVICE.
std::unique_ptr<CChannel> OpenCdTrack(const std::string& path);

// What a ".cda" descriptor names: a track of the disc and its sectors.
struct CdaDescriptor {
    int track = 0;
    uint32_t startSector = 0;
    uint32_t sectors = 0;
};
inline constexpr size_t kCdaDescriptorBytes = 44;
// Checks the `size` bytes of a ".cda" file and fills `out`; false (and
// `out` unchanged) when they are not exactly one valid descriptor: track
// 1..99, a nonzero length, and sectors within 100 minutes.
bool ParseCdaDescriptor(const uint8_t* data, size_t size, CdaDescriptor& out);

// A tracker module through libopenmpt, rendered at `rate` in 16-bit
// stereo, volume ramping on, length known at load.
std::unique_ptr<CChannel> OpenModule(const std::string& path, int rate);

// A standard MIDI file rendered by FluidSynth at `rate` with `soundfont`;
// the length is known at creation from the file's tempo map.
std::unique_ptr<CChannel> OpenMidi(const std::string& path, int rate, const std::string& soundfont);
// The same file measured without a soundfont: a 44100 Hz stereo channel
// with the length OpenMidi would give, which delivers no data.
std::unique_ptr<CChannel> OpenMidiUnrendered(const std::string& path);

// Playing time in seconds, up to the last event, of the Standard MIDI File
// held in `file` (bare, or inside a RIFF "RMID" wrapper); negative when it
// is not a valid format 0 or 1 file. The length OpenMidi works from.
double MidiFileSeconds(const std::vector<uint8_t>& file);

}  // namespace quelvox::bass
