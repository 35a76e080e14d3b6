// AMR narrow-band and wide-band codec layer working on storage files.
//
// The decoders open an AMR (".amr", magic "#!AMR\n") or AMR-WB (magic
// "#!AMR-WB\n") storage file themselves and hand out one frame of 16-bit
// samples per call; the encoders create such a file and append one frame per
// call. Each frame in the file is one header byte (frame type in bits 3-6,
// quality bit in bit 2) followed by the frame's speech bits, as laid down in
// RFC 4867 section 5. The speech coding itself is done by opencore-amr
// (narrow-band both ways, wide-band decoding) and vo-amrwbenc (wide-band
// encoding).
//
// Handles are independent objects: any number may be used at the same time
// on different threads, one thread per handle.
#pragma once

#include <cstdint>

namespace quelvox::amr {

inline constexpr char kNbMagic[] = "#!AMR\n";
inline constexpr int kNbMagicSize = 6;
inline constexpr char kWbMagic[] = "#!AMR-WB\n";
inline constexpr int kWbMagicSize = 9;

// Samples of one frame: 20 ms at 8000 Hz and at 16000 Hz.
inline constexpr int kNbFrameSamples = 160;
inline constexpr int kWbFrameSamples = 320;

// Number of speech modes (4.75 ... 12.2 kbit/s and 6.60 ... 23.85 kbit/s).
inline constexpr int kNbModeCount = 8;
inline constexpr int kWbModeCount = 9;

// Frame types with a meaning of their own.
inline constexpr int kNbSidFrameType = 8;
inline constexpr int kWbSidFrameType = 9;
inline constexpr int kWbSpeechLostFrameType = 14;
inline constexpr int kNoDataFrameType = 15;

// Bytes that follow the header byte of a frame of the given type, or -1 when
// the type is not one a storage file may hold (narrow-band: 9..14; wide-band:
// 10..13; anything outside 0..15).
int NbFrameDataSize(int frameType);
int WbFrameDataSize(int frameType);

// Opaque per-file state of a decoder or an encoder.
struct AmrDecoder;
struct AmrEncoder;

// Opens the storage file at path and checks its magic. Null when the file
// cannot be opened, is not of the expected kind or the codec cannot start.
AmrDecoder* amrnbdec_init(const char* path);
AmrDecoder* amrwbdec_init(const char* path);
// Decodes the next frame. On success returns the sample count (160 or 320),
// points *samples at them (owned by the handle, valid until the next call)
// and sets *position to the file offset after the frame. Returns 0 at the end
// of the file, and ends the stream the same way at a frame type that a
// storage file may not hold or at a frame cut short by the end of the file;
// -1 for a null or mismatched handle. Either pointer may be null.
int amrnbdec_decode(AmrDecoder* handle, const int16_t** samples, uint64_t* position);
int amrwbdec_decode(AmrDecoder* handle, const int16_t** samples, uint64_t* position);
// Releases the decoder and closes the file; null is allowed.
void amrnbdec_quit(AmrDecoder* handle);
void amrwbdec_quit(AmrDecoder* handle);

// Creates (or replaces) the file at path, writes the magic and starts the
// encoder with discontinuous transmission on (dtx != 0) or off, in mode
// 0..7 (narrow-band) or 0..8 (wide-band). Null for a mode out of range or
// when the file cannot be created; no file is left behind then.
AmrEncoder* amrnbenc_init(const char* path, int dtx, int mode);
AmrEncoder* amrwbenc_init(const char* path, int dtx, int mode);
// Encodes exactly 160 (narrow-band) or 320 (wide-band) samples and appends
// the frame. Returns the bytes appended (header byte included), or -1 for a
// null or mismatched handle, null samples or a failed write.
int amrnbenc_encode(AmrEncoder* handle, const int16_t* samples);
int amrwbenc_encode(AmrEncoder* handle, const int16_t* samples);
// Finishes and closes the file and frees the handle; null is allowed.
// Returns 0 when every frame reached the file, else the errno of the first
// failed write (or of the failed flush or close).
int amrnbenc_quit(AmrEncoder* handle);
int amrwbenc_quit(AmrEncoder* handle);

}  // namespace quelvox::amr
