#include "decoders/G72x.h"

#include "common/SampleHelpers.h"

namespace quelvox {

namespace {

// Per code width: log magnitude of the quantized difference (DQLN, 7
// fractional bits; -2048 stands for minus infinity), scale factor
// multiplier (W, 4 fractional bits) and rate of change (F), indexed by the
// magnitude part of the code.
struct RateTables {
    const int* dqln;
    const int* w;
    const int* f;
};

constexpr int kDqln24[4] = {-2048, 135, 273, 373};
constexpr int kW24[4] = {-4, 30, 137, 582};
constexpr int kF24[4] = {0, 1, 2, 7};

constexpr int kDqln32[8] = {-2048, 4, 135, 213, 273, 323, 373, 425};
constexpr int kW32[8] = {-12, 18, 41, 64, 112, 198, 355, 1122};
constexpr int kF32[8] = {0, 0, 0, 1, 1, 1, 3, 7};

constexpr int kDqln40[16] = {-2048, -66, 28,  104, 169, 224, 274, 318,
                             358,   395, 429, 459, 488, 514, 539, 566};
constexpr int kW40[16] = {14, 14, 24, 39, 40, 41, 58, 100, 141, 179, 219, 280, 358, 440, 529, 696};
constexpr int kF40[16] = {0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 3, 4, 5, 6, 6};

RateTables TablesFor(int codeBits) {
    switch (codeBits) {
        case 3: return {kDqln24, kW24, kF24};
        case 5: return {kDqln40, kW40, kF40};
        default: return {kDqln32, kW32, kF32};
    }
}

// Number of significant bits of a non-negative value (0 for 0).
inline int BitLength(int v) {
    int n = 0;
    while (v > 0) {
        ++n;
        v >>= 1;
    }
    return n;
}

// Sign-magnitude or two's complement magnitude to the 11-bit floating point
// form: sign (1 bit), exponent (4 bits), mantissa (6 bits, 32 for zero).
inline int ToFloat(int sign, int magnitude) {
    const int exp = BitLength(magnitude);
    const int mant = magnitude == 0 ? 32 : (magnitude << 6) >> exp;
    return (sign << 10) + (exp << 6) + mant;
}

// FMULT: a 16-bit coefficient times an 11-bit floating point value, giving
// a 16-bit two's complement product.
int Fmult(int an, int srn) {
    const int anS = an >> 15;
    const int anMag = anS ? (16384 - (an >> 2)) & 8191 : an >> 2;
    const int anExp = BitLength(anMag);
    const int anMant = anMag == 0 ? 32 : (anMag << 6) >> anExp;
    const int srS = srn >> 10;
    const int srExp = (srn >> 6) & 15;
    const int srMant = srn & 63;
    const int wS = srS ^ anS;
    const int wExp = srExp + anExp;
    const int wMant = ((srMant * anMant) + 48) >> 4;
    const int wMag =
        wExp <= 26 ? (wMant << 7) >> (26 - wExp) : ((wMant << 7) << (wExp - 26)) & 32767;
    return wS ? (65536 - wMag) & 65535 : wMag;
}

// Sign extension of a 15-bit two's complement word to 16 bits.
inline int Extend15(int v) { return (v >> 14) ? v + 32768 : v; }

}  // namespace

void CG72xDecoder::Reset(int codeBits) {
    codeBits_ = (codeBits == 3 || codeBits == 5) ? codeBits : 4;
    yu_ = 544;
    yl_ = 34816;
    dms_ = 0;
    dml_ = 0;
    ap_ = 0;
    a1_ = 0;
    a2_ = 0;
    for (int n = 0; n < 6; ++n) {
        b_[n] = 0;
        dq_[n] = 32;  // floating point zero
    }
    sr1_ = 32;
    sr2_ = 32;
    pk1_ = 0;
    pk2_ = 0;
    td_ = 0;
}

int16_t CG72xDecoder::Decode(unsigned code) {
    const RateTables t = TablesFor(codeBits_);
    const unsigned signBit = 1u << (codeBits_ - 1);
    const unsigned magMask = signBit - 1;
    code &= (1u << codeBits_) - 1;
    // The negative half of the codes counts down: its magnitude index is
    // the one's complement of the low bits.
    const int dqs = (code & signBit) ? 1 : 0;
    const int m = static_cast<int>(dqs ? (~code & magMask) : (code & magMask));

    // LIMA, MIX: quantizer scale factor from the fast and slow factors.
    const int al = ap_ >= 256 ? 64 : ap_ >> 2;
    int dif = (yu_ + 16384 - (yl_ >> 6)) & 16383;
    int difs = dif >> 13;
    const int difm = difs ? (16384 - dif) & 8191 : dif;
    const int prodm = (difm * al) >> 6;
    const int prod = difs ? (16384 - prodm) & 16383 : prodm;
    const int y = ((yl_ >> 6) + prod) & 8191;

    // FMULT, ACCUM: signal estimate from the six zeros and two poles.
    int sezi = 0;
    for (int n = 0; n < 6; ++n) sezi += Fmult(b_[n], dq_[n]);
    sezi &= 65535;
    const int sei = (sezi + Fmult(a2_, sr2_) + Fmult(a1_, sr1_)) & 65535;
    const int sez = sezi >> 1;
    const int se = sei >> 1;

    // RECONST, ADDA, ANTILOG: quantized difference in sign-magnitude form.
    const int dql = (t.dqln[m] + (y >> 2)) & 4095;
    const int ds = dql >> 11;
    const int dex = (dql >> 7) & 15;
    const int dqt = 128 + (dql & 127);
    int dqmag = 0;
    if (!ds) {
        dqmag = dex <= 14 ? (dqt << 7) >> (14 - dex) : (dqt << 7) << (dex - 14);
        dqmag &= 32767;
    }

    // ADDB: reconstructed signal; ADDC: sign of the partial signal.
    const int dqi = dqs ? (65536 - dqmag) & 65535 : dqmag;
    const int sr = (dqi + Extend15(se)) & 65535;
    const int dqsez = (dqi + Extend15(sez)) & 65535;
    const int pk0 = dqsez >> 15;
    const int sigpk = dqsez == 0 ? 1 : 0;

    // FUNCTW, FILTD, LIMB, FILTE: scale factor adaptation.
    const int wi = t.w[m];
    dif = (wi * 32 + 131072 - y) & 131071;
    difs = dif >> 16;
    const int yut = (y + (difs ? (dif >> 5) + 4096 : dif >> 5)) & 8191;
    const int yup = yut < 544 ? 544 : (yut > 5120 ? 5120 : yut);
    dif = (yup + ((1048576 - yl_) >> 6)) & 16383;
    difs = dif >> 13;
    const int ylp = (yl_ + (difs ? dif + 507904 : dif)) & 524287;

    // UPA2, LIMC: second pole.
    const int pks1 = pk0 ^ pk1_;
    const int pks2 = pk0 ^ pk2_;
    const int uga2a = pks2 ? 114688 : 16384;
    int fa1;
    if (a1_ >> 15)
        fa1 = a1_ >= 57345 ? (a1_ << 2) & 131071 : 24577 << 2;
    else
        fa1 = a1_ <= 8191 ? a1_ << 2 : 8191 << 2;
    const int fa = pks1 ? fa1 : (131072 - fa1) & 131071;
    const int uga2b = (uga2a + fa) & 131071;
    const int uga2 = sigpk ? 0 : ((uga2b >> 16) ? (uga2b >> 7) + 64512 : uga2b >> 7);
    const int ula2 =
        (a2_ >> 15) ? (65536 - ((a2_ >> 7) + 65024)) & 65535 : (65536 - (a2_ >> 7)) & 65535;
    const int a2t = (a2_ + ((uga2 + ula2) & 65535)) & 65535;
    int a2p = a2t;
    if (a2t >= 32768 && a2t <= 53248)
        a2p = 53248;
    else if (a2t >= 12288 && a2t <= 32767)
        a2p = 12288;

    // UPA1, LIMD: first pole, bounded by the second.
    const int uga1 = sigpk ? 0 : (pks1 ? 65344 : 192);
    const int ula1 =
        (a1_ >> 15) ? (65536 - ((a1_ >> 8) + 65280)) & 65535 : (65536 - (a1_ >> 8)) & 65535;
    const int a1t = (a1_ + ((uga1 + ula1) & 65535)) & 65535;
    const int a1ul = (15360 + 65536 - a2p) & 65535;
    const int a1ll = (a2p + 65536 - 15360) & 65535;
    int a1p = a1t;
    if (a1t >= 32768 && a1t <= a1ll)
        a1p = a1ll;
    else if (a1t >= a1ul && a1t <= 32767)
        a1p = a1ul;

    // UPB: the six zeros; the 40 kbit/s coder leaks more slowly.
    int bp[6];
    for (int n = 0; n < 6; ++n) {
        const int ugb = dqmag == 0 ? 0 : (((dq_[n] >> 10) ^ dqs) ? 65408 : 128);
        int ulb;
        if (codeBits_ == 5)
            ulb = (b_[n] >> 15) ? (65536 - ((b_[n] >> 9) + 65408)) & 65535
                                : (65536 - (b_[n] >> 9)) & 65535;
        else
            ulb = (b_[n] >> 15) ? (65536 - ((b_[n] >> 8) + 65280)) & 65535
                                : (65536 - (b_[n] >> 8)) & 65535;
        bp[n] = (b_[n] + ((ugb + ulb) & 65535)) & 65535;
    }

    // TONE, TRANS: tone detection from the new second pole, transition
    // detection from the previous tone flag and slow scale factor.
    const int tdp = (a2p >= 32768 && a2p < 53760) ? 1 : 0;
    const int ylint = yl_ >> 15;
    const int ylfrac = (yl_ >> 10) & 31;
    const int thr1 = (32 + ylfrac) << ylint;
    const int thr2 = ylint > 9 ? 31 << 10 : thr1;
    const int dqthr = (thr2 + (thr2 >> 1)) >> 1;
    const int tr = (dqmag > dqthr && td_ == 1) ? 1 : 0;

    // FUNCTF, FILTA, FILTB, SUBTC, FILTC, TRIGA: speed control.
    const int fi = t.f[m];
    dif = ((fi << 9) + 8192 - dms_) & 8191;
    difs = dif >> 12;
    const int dmsp = ((difs ? (dif >> 5) + 3840 : dif >> 5) + dms_) & 4095;
    dif = ((fi << 11) + 32768 - dml_) & 32767;
    difs = dif >> 14;
    const int dmlp = ((difs ? (dif >> 7) + 16128 : dif >> 7) + dml_) & 16383;
    dif = ((dmsp << 2) + 32768 - dmlp) & 32767;
    difs = dif >> 14;
    const int difmc = difs ? (32768 - dif) & 16383 : dif;
    const int dthr = dmlp >> 3;
    const int ax = (y >= 1536 && difmc < dthr && tdp == 0) ? 0 : 1;
    dif = ((ax << 9) + 2048 - ap_) & 2047;
    difs = dif >> 10;
    const int app = ((difs ? (dif >> 4) + 896 : dif >> 4) + ap_) & 1023;

    // FLOATA, FLOATB and the delays; TRIGB/TRIGA reset the predictor on a
    // transition.
    const int dq0 = ToFloat(dqs, dqmag);
    const int srs = sr >> 15;
    const int sr0 = ToFloat(srs, srs ? (65536 - sr) & 32767 : sr);

    yu_ = yup;
    yl_ = ylp;
    dms_ = dmsp;
    dml_ = dmlp;
    ap_ = tr ? 256 : app;
    a1_ = tr ? 0 : a1p;
    a2_ = tr ? 0 : a2p;
    for (int n = 5; n > 0; --n) dq_[n] = dq_[n - 1];
    dq_[0] = dq0;
    for (int n = 0; n < 6; ++n) b_[n] = tr ? 0 : bp[n];
    sr2_ = sr1_;
    sr1_ = sr0;
    pk2_ = pk1_;
    pk1_ = pk0;
    td_ = tr ? 0 : tdp;

    const int linear = sr >= 32768 ? sr - 65536 : sr;
    return ClipSample(static_cast<int64_t>(linear) * 4);
}

}  // namespace quelvox
