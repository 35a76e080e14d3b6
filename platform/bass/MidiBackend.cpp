// MIDI streams: Standard MIDI Files rendered offline by FluidSynth.
//
// The length of a MIDI stream is known when it is created: our own parser
// walks every track of the file, collects the tempo changes and the tick of
// the last event over all tracks, and converts that tick to seconds through
// the tempo map. A release tail of one second follows the last event so
// that held notes and reverb ring out; rendering ends exactly at that
// length, whatever the player is still doing.
//
// FluidSynth runs without an audio driver: the player is driven by the
// synthesiser's sample clock, so every fluid_synth_write_s16 call advances
// the song by exactly the frames it renders, on the caller's thread.
#include "platform/bass/Backends.h"

#include "common/ByteOrder.h"
#include "platform/bass/FluidSynthEntryPoints.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <utility>
#include <vector>

namespace quelvox::bass {
namespace {

// Frames of silence-or-release rendered after the last event, in seconds.
constexpr int kReleaseTailSeconds = 1;
// Default tempo of a Standard MIDI File: 120 quarter notes per minute.
constexpr uint32_t kDefaultTempo = 500000;  // microseconds per quarter note
// Anything longer is not music but a damaged or hostile file.
constexpr double kMaxSeconds = 24.0 * 3600.0;
// MIDI files are small; a bigger file is not one.
constexpr std::streamoff kMaxFileBytes = 64 * 1024 * 1024;
// FluidSynth's accepted range of synth.sample-rate.
constexpr int kMinRate = 8000;
constexpr int kMaxRate = 96000;

struct TempoChange {
    uint64_t tick;
    uint32_t tempo;  // microseconds per quarter note
    size_t order;    // file order, to keep the last of equal ticks
};

struct SmfTiming {
    uint64_t lastTick = 0;
    std::vector<TempoChange> tempos;
};

// Reads a variable-length quantity (at most four bytes) within [p, end).
bool ReadVarLen(const uint8_t*& p, const uint8_t* end, uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
        if (p >= end) return false;
        uint8_t b = *p++;
        value = (value << 7) | (b & 0x7F);
        if (!(b & 0x80)) return true;
    }
    return false;  // a fifth continuation byte: not a valid quantity
}

// Walks the events of one MTrk chunk body. Fails on anything that does not
// parse or would run past the chunk.
bool ParseTrack(const uint8_t* p, const uint8_t* end, SmfTiming& timing, size_t& order) {
    uint64_t tick = 0;
    uint8_t status = 0;  // running status; 0 = none yet
    while (p < end) {
        uint32_t delta = 0;
        if (!ReadVarLen(p, end, delta)) return false;
        tick += delta;
        if (p >= end) return false;
        uint8_t b = *p;
        if (b == 0xFF) {  // meta event
            ++p;
            if (p >= end) return false;
            uint8_t type = *p++;
            uint32_t len = 0;
            if (!ReadVarLen(p, end, len)) return false;
            if (len > uint32_t(end - p)) return false;
            if (type == 0x51) {
                if (len != 3) return false;
                uint32_t tempo = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | uint32_t(p[2]);
                if (tempo == 0) return false;
                timing.tempos.push_back({tick, tempo, order++});
            }
            p += len;
            timing.lastTick = std::max(timing.lastTick, tick);
            if (type == 0x2F) return true;  // end of track
            // Meta events cancel running status.
            status = 0;
            continue;
        }
        if (b == 0xF0 || b == 0xF7) {  // system exclusive / escape
            ++p;
            uint32_t len = 0;
            if (!ReadVarLen(p, end, len)) return false;
            if (len > uint32_t(end - p)) return false;
            p += len;
            status = 0;
            timing.lastTick = std::max(timing.lastTick, tick);
            continue;
        }
        if (b & 0x80) {
            if (b >= 0xF1) return false;  // system common/real-time: not in files
            status = b;
            ++p;
        } else if (status == 0) {
            return false;  // data byte without a status
        }
        uint8_t kind = status & 0xF0;
        int dataBytes = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
        if (end - p < dataBytes) return false;
        for (int i = 0; i < dataBytes; ++i)
            if (p[i] & 0x80) return false;
        p += dataBytes;
        timing.lastTick = std::max(timing.lastTick, tick);
    }
    // A track that ends with its chunk but lacks the end-of-track event is
    // common enough to accept.
    return true;
}

// The Standard MIDI File inside a file: the file itself, or the "data"
// chunk of a RIFF "RMID" wrapper. Empty span when there is none.
std::pair<const uint8_t*, size_t> FindSmf(const std::vector<uint8_t>& file) {
    const uint8_t* d = file.data();
    size_t n = file.size();
    if (n >= 12 && std::memcmp(d, "RIFF", 4) == 0 && std::memcmp(d + 8, "RMID", 4) == 0) {
        size_t pos = 12;
        while (n - pos >= 8) {
            uint32_t len = ReadLe32(d + pos + 4);
            if (len > n - pos - 8) return {nullptr, 0};
            if (std::memcmp(d + pos, "data", 4) == 0) return {d + pos + 8, len};
            pos += 8 + size_t(len) + (len & 1);
            if (pos > n) break;
        }
        return {nullptr, 0};
    }
    return {d, n};
}

// Parses the file's header and tracks and returns its playing time in
// seconds (up to the last event), or a negative value when the file is not
// a valid format 0 or 1 Standard MIDI File.
double SmfDurationSeconds(const uint8_t* d, size_t n) {
    if (n < 14 || std::memcmp(d, "MThd", 4) != 0) return -1;
    uint32_t headerLen = ReadBe32(d + 4);
    if (headerLen < 6 || headerLen > n - 8) return -1;
    uint16_t format = ReadBe16(d + 8);
    uint16_t tracks = ReadBe16(d + 10);
    uint16_t division = ReadBe16(d + 12);
    if (format > 1 || tracks == 0 || (format == 0 && tracks != 1)) return -1;
    if (division == 0) return -1;

    SmfTiming timing;
    size_t order = 0;
    size_t pos = 8 + size_t(headerLen);
    int found = 0;
    while (found < tracks) {
        if (n - pos < 8) return -1;  // a promised track is missing
        uint32_t len = ReadBe32(d + pos + 4);
        if (len > n - pos - 8) return -1;  // chunk runs past the file
        const uint8_t* body = d + pos + 8;
        if (std::memcmp(d + pos, "MTrk", 4) == 0) {
            if (!ParseTrack(body, body + len, timing, order)) return -1;
            ++found;
        }
        // Chunks of other types are skipped, as the file format asks.
        pos += 8 + size_t(len);
    }

    if (division & 0x8000) {
        // SMPTE timing: frames per second and ticks per frame; tempo events
        // do not change the tick length.
        int fps = -int8_t(division >> 8);
        int ticksPerFrame = division & 0xFF;
        double rate;
        switch (fps) {
            case 24: rate = 24.0; break;
            case 25: rate = 25.0; break;
            case 29: rate = 30000.0 / 1001.0; break;
            case 30: rate = 30.0; break;
            default: return -1;
        }
        if (ticksPerFrame == 0) return -1;
        return double(timing.lastTick) / (rate * ticksPerFrame);
    }

    std::stable_sort(timing.tempos.begin(), timing.tempos.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    double seconds = 0;
    uint64_t tick = 0;
    uint32_t tempo = kDefaultTempo;
    for (const TempoChange& t : timing.tempos) {
        if (t.tick >= timing.lastTick) break;
        seconds += double(t.tick - tick) * tempo / (1e6 * division);
        tick = t.tick;
        tempo = t.tempo;
    }
    seconds += double(timing.lastTick - tick) * tempo / (1e6 * division);
    return seconds;
}

struct SettingsDeleter {
    void operator()(fluid_settings_t* s) const { Fluid().delete_fluid_settings(s); }
};
struct SynthDeleter {
    void operator()(fluid_synth_t* s) const { Fluid().delete_fluid_synth(s); }
};
struct PlayerDeleter {
    void operator()(fluid_player_t* p) const { Fluid().delete_fluid_player(p); }
};

class CMidiChannel final : public CChannel {
public:
    CMidiChannel(int rate, uint64_t frames) : rate_(rate), frames_(frames) {}
    ~CMidiChannel() override {
        // The player must go before the synthesiser it drives.
        player_.reset();
        synth_.reset();
        settings_.reset();
    }

    bool Init(const uint8_t* smf, size_t smfSize, const std::string& soundfont) {
        settings_.reset(Fluid().new_fluid_settings());
        if (!settings_) return false;
        fluid_settings_t* s = settings_.get();
        if (Fluid().fluid_settings_setnum(s, "synth.sample-rate", rate_) != FLUID_OK) return false;
        // Offline, single-threaded rendering: no locks, no worker threads,
        // the player clocked by the samples we render.
        Fluid().fluid_settings_setint(s, "synth.threadsafe-api", 0);
        Fluid().fluid_settings_setint(s, "synth.cpu-cores", 1);
        Fluid().fluid_settings_setint(s, "synth.lock-memory", 0);
        Fluid().fluid_settings_setstr(s, "player.timing-source", "sample");
        synth_.reset(Fluid().new_fluid_synth(s));
        if (!synth_) return false;
        if (Fluid().fluid_synth_sfload(synth_.get(), soundfont.c_str(), 1) == FLUID_FAILED)
            return false;
        player_.reset(Fluid().new_fluid_player(synth_.get()));
        if (!player_) return false;
        // The player keeps its own copy of the file.
        if (Fluid().fluid_player_add_mem(player_.get(), smf, smfSize) != FLUID_OK) return false;
        return Fluid().fluid_player_play(player_.get()) == FLUID_OK;
    }

    ChannelKind Kind() const override { return ChannelKind::Midi; }
    uint64_t GetLength() const override { return frames_ * 4; }
    ChannelInfo GetInfo() const override { return {rate_, 2, 0}; }
    // The rendered stream has no encoded size; the bit rate shown is that
    // of the rendered samples.
    int64_t GetFilePositionEnd() const override { return -1; }

    int GetData(void* buffer, uint32_t bytes) override {
        uint64_t left = frames_ - done_;
        if (left == 0 || !synth_) return -1;
        uint64_t want = std::min<uint64_t>(bytes / 4, left);
        want = std::min<uint64_t>(want, uint64_t(std::numeric_limits<int>::max() / 4));
        if (want == 0) return 0;
        int16_t* out = static_cast<int16_t*>(buffer);
        if (Fluid().fluid_synth_write_s16(synth_.get(), int(want), out, 0, 2, out, 1, 2) !=
            FLUID_OK)
            return -1;
        done_ += want;
        return int(want * 4);
    }

    uint64_t GetPosition() const override { return done_ * 4; }
    TagInfo ReadTags() const override { return {}; }

private:
    int rate_;
    uint64_t frames_;
    uint64_t done_ = 0;
    std::unique_ptr<fluid_settings_t, SettingsDeleter> settings_;
    std::unique_ptr<fluid_synth_t, SynthDeleter> synth_;
    std::unique_ptr<fluid_player_t, PlayerDeleter> player_;
};

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out) {
    std::ifstream f(path, std::ios::binary);
    if (!f) return false;
    f.seekg(0, std::ios::end);
    std::streamoff size = f.tellg();
    if (size <= 0 || size > kMaxFileBytes) return false;
    f.seekg(0, std::ios::beg);
    out.resize(size_t(size));
    f.read(reinterpret_cast<char*>(out.data()), size);
    return f.gcount() == size;
}

}  // namespace

double MidiFileSeconds(const std::vector<uint8_t>& file) {
    auto [smfData, smfSize] = FindSmf(file);
    if (!smfData) return -1;
    return SmfDurationSeconds(smfData, smfSize);
}

namespace {

// The channel of OpenMidi; with an empty `soundfont` it only measures.
std::unique_ptr<CChannel> MakeMidiChannel(const std::string& path, int rate,
                                          const std::string& soundfont) {
    if (rate == 0) rate = 44100;
    if (rate < kMinRate || rate > kMaxRate) return nullptr;

    std::vector<uint8_t> file;
    if (!ReadWholeFile(path, file)) return nullptr;
    auto [smfData, smfSize] = FindSmf(file);
    if (!smfData) return nullptr;
    double seconds = SmfDurationSeconds(smfData, smfSize);
    if (!(seconds >= 0) || seconds > kMaxSeconds) return nullptr;

    uint64_t frames =
        uint64_t(std::llround(seconds * rate)) + uint64_t(kReleaseTailSeconds) * uint64_t(rate);
    auto channel = std::make_unique<CMidiChannel>(rate, frames);
    if (!soundfont.empty() && !channel->Init(smfData, smfSize, soundfont)) return nullptr;
    return channel;
}

}  // namespace

std::unique_ptr<CChannel> OpenMidi(const std::string& path, int rate,
                                   const std::string& soundfont) {
    // Checking the header first keeps FluidSynth's loaders from trying
    // (and loudly failing) on a file that is no soundfont at all.
    if (soundfont.empty() || !LoadFluidSynth()) return nullptr;
    if (!Fluid().fluid_is_soundfont(soundfont.c_str())) return nullptr;
    return MakeMidiChannel(path, rate, soundfont);
}

std::unique_ptr<CChannel> OpenMidiUnrendered(const std::string& path) {
    return MakeMidiChannel(path, 44100, std::string());
}

}  // namespace quelvox::bass
