// Codec identifiers as the settings store persists them.
//
// Stored settings keep the numbering of an older generation of libavcodec.
// Today's library numbers several codecs differently, so a persisted id is
// never handed to the library directly: ToLibraryCodecId translates it.
#pragma once

namespace quelvox {

enum PersistedCodecId : int {
    kCodecPcmS16Le = 0x10000,
    kCodecPcmS16Be = 0x10001,
    kCodecPcmS8 = 0x10004,
    kCodecPcmU8 = 0x10005,
    kCodecPcmMulaw = 0x10006,
    kCodecPcmAlaw = 0x10007,
    kCodecPcmS32Le = 0x10008,
    kCodecPcmS32Be = 0x10009,
    kCodecPcmS24Le = 0x1000C,
    kCodecPcmS24Be = 0x1000D,
    kCodecPcmF32Be = 0x10014,
    kCodecPcmF32Le = 0x10015,
    kCodecPcmF64Be = 0x10016,
    kCodecPcmF64Le = 0x10017,
    kCodecAdpcmImaQt = 0x11000,
    kCodecAdpcmImaWav = 0x11001,
    kCodecAdpcmMs = 0x11006,
    kCodecAdpcmG726 = 0x1100B,
    kCodecAdpcmSwf = 0x1100D,
    kCodecAdpcmYamaha = 0x1100E,
    kCodecAmrNb = 0x12000,
    kCodecMp2 = 0x15000,
    kCodecMp3 = 0x15001,
    kCodecAac = 0x15002,
    kCodecAc3 = 0x15003,
    kCodecVorbis = 0x15005,
    kCodecFlac = 0x1500E,
    kCodecAlac = 0x15012,
    kCodecGsm = 0x15014,
    kCodecGsmMs = 0x15020,
    // Codecs the older generation did not know keep today's library number.
    kCodecOpus = 0x1503C,
};

}  // namespace quelvox
