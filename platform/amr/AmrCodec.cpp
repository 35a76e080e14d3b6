#include "platform/amr/AmrCodec.h"

#include <opencore-amrnb/interf_dec.h>
#include <opencore-amrnb/interf_enc.h>
#include <opencore-amrwb/dec_if.h>
#include <vo-amrwbenc/enc_if.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace quelvox::amr {

namespace {

// Speech bytes after the header byte, per frame type (RFC 4867 section 5.3,
// 3GPP TS 26.101 / 26.201): the class A+B+C bits of each mode rounded up to
// whole bytes, the 39/40-bit SID frames, and the empty NO_DATA (and, for
// wide-band, SPEECH_LOST) frames. -1 marks types a storage file may not hold.
constexpr int kNbDataSize[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, -1, -1, -1, -1, -1, -1, 0};
constexpr int kWbDataSize[16] = {17, 23, 32, 36, 40, 46, 50, 58, 60, 5, -1, -1, -1, -1, 0, 0};

// Largest frame of either codec, header byte included, with room to spare:
// the codecs' packers and unpackers never need more.
constexpr int kFrameBufferSize = 64;
// Room for whatever one encoder call may write.
constexpr int kEncodeBufferSize = 512;

}  // namespace

struct AmrDecoder {
    bool wide = false;
    std::FILE* file = nullptr;
    void* state = nullptr;
    uint64_t position = 0;
    bool ended = false;
    unsigned char frame[kFrameBufferSize] = {};
    int16_t samples[kWbFrameSamples] = {};
};

struct AmrEncoder {
    bool wide = false;
    std::FILE* file = nullptr;
    void* state = nullptr;
    int mode = 0;
    int dtx = 0;
    bool failed = false;
    int error = 0;  // errno of the first failed write
    unsigned char out[kEncodeBufferSize] = {};
};

int NbFrameDataSize(int frameType) {
    return frameType >= 0 && frameType < 16 ? kNbDataSize[frameType] : -1;
}

int WbFrameDataSize(int frameType) {
    return frameType >= 0 && frameType < 16 ? kWbDataSize[frameType] : -1;
}

namespace {

AmrDecoder* OpenDecoder(const char* path, bool wide) {
    if (!path) return nullptr;
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return nullptr;
    const char* magic = wide ? kWbMagic : kNbMagic;
    const int magicSize = wide ? kWbMagicSize : kNbMagicSize;
    char head[kWbMagicSize] = {};
    if (std::fread(head, 1, magicSize, f) != static_cast<size_t>(magicSize) ||
        std::memcmp(head, magic, magicSize) != 0) {
        std::fclose(f);
        return nullptr;
    }
    void* state = wide ? D_IF_init() : Decoder_Interface_init();
    if (!state) {
        std::fclose(f);
        return nullptr;
    }
    auto* h = new AmrDecoder;
    h->wide = wide;
    h->file = f;
    h->state = state;
    h->position = static_cast<uint64_t>(magicSize);
    return h;
}

int DecodeFrame(AmrDecoder* h, bool wide, const int16_t** samples, uint64_t* position) {
    if (!h || h->wide != wide) return -1;
    if (h->ended) return 0;
    int header = std::fgetc(h->file);
    if (header == EOF) {
        h->ended = true;
        return 0;
    }
    const int frameType = (header >> 3) & 0x0F;
    const int size = wide ? WbFrameDataSize(frameType) : NbFrameDataSize(frameType);
    // An unknown frame type leaves the length of the frame, and so the start
    // of the next one, unknown: nothing after it can be trusted.
    if (size < 0) {
        h->ended = true;
        return 0;
    }
    std::memset(h->frame, 0, sizeof h->frame);
    // Only the frame type and quality bit are passed on; the padding bits
    // of the header byte are ignored, as a reader of the format should.
    h->frame[0] = static_cast<unsigned char>(header & 0x7C);
    if (size > 0 && std::fread(h->frame + 1, 1, static_cast<size_t>(size), h->file) !=
                        static_cast<size_t>(size)) {
        // A frame cut short by the end of the file is not decoded.
        h->ended = true;
        return 0;
    }
    h->position += 1 + static_cast<uint64_t>(size);
    int count;
    if (wide) {
        D_IF_decode(h->state, h->frame, h->samples, _good_frame);
        count = kWbFrameSamples;
    } else {
        Decoder_Interface_Decode(h->state, h->frame, h->samples, 0);
        count = kNbFrameSamples;
    }
    if (samples) *samples = h->samples;
    if (position) *position = h->position;
    return count;
}

void CloseDecoder(AmrDecoder* h) {
    if (!h) return;
    if (h->state) {
        if (h->wide)
            D_IF_exit(h->state);
        else
            Decoder_Interface_exit(h->state);
    }
    if (h->file) std::fclose(h->file);
    delete h;
}

AmrEncoder* OpenEncoder(const char* path, int dtx, int mode, bool wide) {
    if (!path) return nullptr;
    if (mode < 0 || mode >= (wide ? kWbModeCount : kNbModeCount)) return nullptr;
    void* state = wide ? E_IF_init() : Encoder_Interface_init(dtx ? 1 : 0);
    if (!state) return nullptr;
    std::FILE* f = std::fopen(path, "wb");
    const char* magic = wide ? kWbMagic : kNbMagic;
    const size_t magicSize = wide ? kWbMagicSize : kNbMagicSize;
    if (!f || std::fwrite(magic, 1, magicSize, f) != magicSize) {
        if (f) {
            std::fclose(f);
            std::remove(path);
        }
        if (wide)
            E_IF_exit(state);
        else
            Encoder_Interface_exit(state);
        return nullptr;
    }
    auto* h = new AmrEncoder;
    h->wide = wide;
    h->file = f;
    h->state = state;
    h->mode = mode;
    h->dtx = dtx ? 1 : 0;
    return h;
}

int EncodeFrame(AmrEncoder* h, bool wide, const int16_t* samples) {
    if (!h || h->wide != wide || !samples) return -1;
    int bytes;
    if (wide) {
        bytes = E_IF_encode(h->state, h->mode, samples, h->out, h->dtx);
    } else {
        bytes = Encoder_Interface_Encode(h->state, static_cast<Mode>(h->mode), samples, h->out, 0);
    }
    if (bytes <= 0 || bytes > kEncodeBufferSize) {
        h->failed = true;
        return -1;
    }
    if (std::fwrite(h->out, 1, static_cast<size_t>(bytes), h->file) != static_cast<size_t>(bytes)) {
        if (!h->error) h->error = errno ? errno : EIO;
        h->failed = true;
        return -1;
    }
    return bytes;
}

int CloseEncoder(AmrEncoder* h) {
    if (!h) return 0;
    if (h->state) {
        if (h->wide)
            E_IF_exit(h->state);
        else
            Encoder_Interface_exit(h->state);
    }
    int error = h->error;
    if (h->file) {
        errno = 0;
        if (std::fflush(h->file) != 0 && !error) error = errno ? errno : EIO;
        if (std::fclose(h->file) != 0 && !error) error = errno ? errno : EIO;
    }
    delete h;
    return error;
}

}  // namespace

AmrDecoder* amrnbdec_init(const char* path) { return OpenDecoder(path, false); }
AmrDecoder* amrwbdec_init(const char* path) { return OpenDecoder(path, true); }

int amrnbdec_decode(AmrDecoder* handle, const int16_t** samples, uint64_t* position) {
    return DecodeFrame(handle, false, samples, position);
}
int amrwbdec_decode(AmrDecoder* handle, const int16_t** samples, uint64_t* position) {
    return DecodeFrame(handle, true, samples, position);
}

void amrnbdec_quit(AmrDecoder* handle) { CloseDecoder(handle); }
void amrwbdec_quit(AmrDecoder* handle) { CloseDecoder(handle); }

AmrEncoder* amrnbenc_init(const char* path, int dtx, int mode) {
    return OpenEncoder(path, dtx, mode, false);
}
AmrEncoder* amrwbenc_init(const char* path, int dtx, int mode) {
    return OpenEncoder(path, dtx, mode, true);
}

int amrnbenc_encode(AmrEncoder* handle, const int16_t* samples) {
    return EncodeFrame(handle, false, samples);
}
int amrwbenc_encode(AmrEncoder* handle, const int16_t* samples) {
    return EncodeFrame(handle, true, samples);
}

int amrnbenc_quit(AmrEncoder* handle) { return CloseEncoder(handle); }
int amrwbenc_quit(AmrEncoder* handle) { return CloseEncoder(handle); }

}  // namespace quelvox::amr
