// CD audio tracks.
//
// A ".cda" file is a 44-byte RIFF "CDDA" descriptor of one track of the disc
// in the drive:
//   "RIFF", size, "CDDA", "fmt ", chunk size 24,
//   version (16 bit), track number (16 bit), disc serial (32 bit),
//   first sector (32 bit), length in sectors (32 bit),
//   first sector as minute:second:frame, length as minute:second:frame
// all little-endian. The first sector counts from the start of the
// program area (sector 0 = 00:02:00), which is libcdio's LSN.
//
// The track is read with libcdio from the default CD drive, or from the
// device or CUE/BIN (or other) image that QUELVOX_CD_DEVICE names. Physical
// drives are read through cdparanoia's error-correcting reader; images hold
// exact sector data and are read directly. Output is 44100 Hz 16-bit
// stereo: 2352 bytes per sector.
#include "platform/bass/Backends.h"

#include "common/ByteOrder.h"

#include <cdio/cdio.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

namespace quelvox::bass {
namespace {

constexpr uint32_t kSectorBytes = CDIO_CD_FRAMESIZE_RAW;  // 2352
constexpr int kSectorsPerRead = 16;

// Reads and checks a track descriptor; false when the file is not one.
bool ReadDescriptor(const std::string& path, CdaDescriptor& out) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    // A descriptor is 44 bytes; read one byte more to notice a bigger file.
    uint8_t d[kCdaDescriptorBytes + 1];
    f.read(reinterpret_cast<char*>(d), sizeof d);
    return ParseCdaDescriptor(d, size_t(f.gcount()), out);
}

bool EndsWithCue(const std::string& s) {
    if (s.size() < 4) return false;
    std::string ext = s.substr(s.size() - 4);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".cue";
}

// Opens the configured source: QUELVOX_CD_DEVICE, or the default drive.
CdIo_t* OpenSource() {
    const char* env = std::getenv("QUELVOX_CD_DEVICE");
    if (env && *env) {
        std::string source = env;
        return cdio_open(source.c_str(), EndsWithCue(source) ? DRIVER_BINCUE : DRIVER_UNKNOWN);
    }
    char* device = cdio_get_default_device(nullptr);
    if (!device) return nullptr;
    CdIo_t* cdio = cdio_open(device, DRIVER_UNKNOWN);
    cdio_free(device);
    return cdio;
}

bool IsImageDriver(driver_id_t id) {
    return id == DRIVER_BINCUE || id == DRIVER_CDRDAO || id == DRIVER_NRG;
}

class CCdChannel final : public CChannel {
public:
    ~CCdChannel() override {
        if (paranoia_) cdio_paranoia_free(paranoia_);
        if (drive_) cdio_cddap_close_no_free_cdio(drive_);
        if (cdio_) cdio_destroy(cdio_);
    }

    bool Open(const CdaDescriptor& cda) {
        cdio_ = OpenSource();
        if (!cdio_) return false;
        track_t first = cdio_get_first_track_num(cdio_);
        track_t count = cdio_get_num_tracks(cdio_);
        if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK) return false;
        if (cda.track < first || cda.track >= int(first) + int(count)) return false;
        track_t track = track_t(cda.track);
        if (cdio_get_track_format(cdio_, track) != TRACK_FORMAT_AUDIO) return false;
        lsn_t start = cdio_get_track_lsn(cdio_, track);
        lsn_t last = cdio_get_track_last_lsn(cdio_, track);
        if (start == CDIO_INVALID_LSN || last == CDIO_INVALID_LSN || last < start) return false;
        // The descriptor belongs to another disc when its track starts
        // elsewhere.
        if (lsn_t(cda.startSector) != start) return false;
        // Never read beyond the track on the disc.
        uint32_t onDisc = uint32_t(last - start) + 1;
        start_ = start;
        sectors_ = std::min(cda.sectors, onDisc);

        if (!IsImageDriver(cdio_get_driver_id(cdio_))) {
            drive_ = cdio_cddap_identify_cdio(cdio_, CDDA_MESSAGE_FORGETIT, nullptr);
            if (drive_ && cdio_cddap_open(drive_) == 0) {
                paranoia_ = cdio_paranoia_init(drive_);
                if (paranoia_) {
                    cdio_paranoia_modeset(paranoia_, PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
                    cdio_paranoia_seek(paranoia_, start_, SEEK_SET);
                }
            }
            if (!paranoia_ && drive_) {
                // Fall back to plain reads through the same handle.
                cdio_cddap_close_no_free_cdio(drive_);
                drive_ = nullptr;
            }
        }
        return true;
    }

    ChannelKind Kind() const override { return ChannelKind::Stream; }
    uint64_t GetLength() const override { return uint64_t(sectors_) * kSectorBytes; }
    ChannelInfo GetInfo() const override { return {44100, 2, 0}; }
    int64_t GetFilePositionEnd() const override { return int64_t(GetLength()); }

    int GetData(void* buffer, uint32_t bytes) override {
        bytes -= bytes % 4;  // whole frames only
        uint8_t* out = static_cast<uint8_t*>(buffer);
        uint32_t copied = 0;
        while (copied < bytes) {
            if (bufferPos_ == buffer_.size()) {
                if (!Refill()) break;
            }
            size_t n = std::min<size_t>(bytes - copied, buffer_.size() - bufferPos_);
            std::memcpy(out + copied, buffer_.data() + bufferPos_, n);
            bufferPos_ += n;
            copied += uint32_t(n);
        }
        if (copied == 0 && bytes > 0) return -1;
        position_ += copied;
        return int(copied);
    }

    uint64_t GetPosition() const override { return position_; }
    TagInfo ReadTags() const override { return {}; }

private:
    // Reads the next sectors into buffer_ as native-endian samples.
    bool Refill() {
        if (failed_ || next_ >= sectors_) return false;
        uint32_t n = std::min<uint32_t>(kSectorsPerRead, sectors_ - next_);
        if (paranoia_) {
            n = 1;
            int16_t* samples = cdio_paranoia_read(paranoia_, nullptr);
            if (!samples) {
                failed_ = true;
                return false;
            }
            // cdparanoia delivers samples in the host's byte order.
            buffer_.assign(kSectorBytes, 0);
            std::memcpy(buffer_.data(), samples, kSectorBytes);
        } else {
            std::vector<uint8_t> raw(size_t(n) * kSectorBytes);
            if (cdio_read_audio_sectors(cdio_, raw.data(), start_ + lsn_t(next_), n) !=
                DRIVER_OP_SUCCESS) {
                failed_ = true;
                return false;
            }
            // Audio sectors hold little-endian samples.
            buffer_.resize(raw.size());
            for (size_t i = 0; i + 1 < raw.size(); i += 2) {
                int16_t s = int16_t(uint16_t(raw[i] | (raw[i + 1] << 8)));
                std::memcpy(buffer_.data() + i, &s, 2);
            }
        }
        next_ += n;
        bufferPos_ = 0;
        return true;
    }

    CdIo_t* cdio_ = nullptr;
    cdrom_drive_t* drive_ = nullptr;
    cdrom_paranoia_t* paranoia_ = nullptr;
    lsn_t start_ = 0;
    uint32_t sectors_ = 0;
    uint32_t next_ = 0;  // next sector to read, relative to start_
    std::vector<uint8_t> buffer_;
    size_t bufferPos_ = 0;
    uint64_t position_ = 0;
    bool failed_ = false;
};

}  // namespace

bool ParseCdaDescriptor(const uint8_t* d, size_t size, CdaDescriptor& out) {
    if (size != kCdaDescriptorBytes) return false;
    if (std::memcmp(d, "RIFF", 4) != 0 || std::memcmp(d + 8, "CDDA", 4) != 0 ||
        std::memcmp(d + 12, "fmt ", 4) != 0)
        return false;
    if (ReadLe32(d + 4) != kCdaDescriptorBytes - 8 || ReadLe32(d + 16) != 24) return false;
    int track = ReadLe16(d + 22);
    uint32_t start = ReadLe32(d + 28);
    uint32_t sectors = ReadLe32(d + 32);
    if (track < 1 || track > 99 || sectors == 0) return false;
    // A disc holds at most about 100 minutes of sectors.
    constexpr uint32_t kMaxSectors = 100u * 60u * 75u;
    if (start >= kMaxSectors || sectors > kMaxSectors - start) return false;
    out.track = track;
    out.startSector = start;
    out.sectors = sectors;
    return true;
}

std::unique_ptr<CChannel> OpenCdTrack(const std::string& path) {
    CdaDescriptor cda;
    if (!ReadDescriptor(path, cda)) return nullptr;
    auto channel = std::make_unique<CCdChannel>();
    if (!channel->Open(cda)) return nullptr;
    return channel;
}

}  // namespace quelvox::bass
