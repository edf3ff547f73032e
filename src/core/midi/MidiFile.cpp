#include "MidiFile.h"

#include <algorithm>
#include <limits>

#include "patch/RegularFile.h"

namespace {

// The tempo until a file sets one: 120 beats a minute.
constexpr uint32_t kDefaultTempo = 500000; // microseconds a quarter note

struct Failure {
    std::string reason;
};

// A channel message at its tick.
struct TickMessage {
    uint64_t tick;
    uint8_t bytes[3];
    uint8_t size;
};

struct TempoChange {
    uint64_t tick;
    uint32_t microsecondsPerQuarter;
};

// The bytes of one chunk, read front to back; every read is checked against
// the chunk's end and names where it failed.
class Cursor {
public:
    Cursor(const uint8_t* begin, const uint8_t* end, const uint8_t* fileStart, int track)
        : p_(begin), end_(end), fileStart_(fileStart), track_(track)
    {
    }
    bool AtEnd() const { return p_ == end_; }
    size_t Left() const { return static_cast<size_t>(end_ - p_); }
    uint8_t Peek() const { return *p_; }
    const uint8_t* Take(size_t n, const char* what)
    {
        if (n > Left())
            Fail(std::string("ends in the middle of ") + what);
        const uint8_t* at = p_;
        p_ += n;
        return at;
    }
    uint8_t Byte(const char* what) { return *Take(1, what); }
    // A variable-length quantity: seven bits a byte, at most four bytes.
    uint32_t Number(const char* what)
    {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const uint8_t b = Byte(what);
            value = (value << 7) | (b & 0x7F);
            if (!(b & 0x80))
                return value;
        }
        Fail(std::string("has ") + what + " longer than four bytes");
    }
    [[noreturn]] void Fail(const std::string& what) const
    {
        throw Failure{"track " + std::to_string(track_) + " " + what + " (at byte " +
                      std::to_string(p_ - fileStart_) + ")"};
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
    const uint8_t* fileStart_;
    int track_;
};

std::string Hex(uint8_t byte)
{
    const char* digits = "0123456789ABCDEF";
    return std::string("0x") + digits[byte >> 4] + digits[byte & 15];
}

uint32_t Big32(const uint8_t* p)
{
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// Reads one track's events; returns the tick of its last event.
uint64_t ReadTrack(Cursor in, std::vector<TickMessage>& messages, std::vector<TempoChange>& tempos)
{
    uint64_t tick = 0;
    uint8_t running = 0; // the status a data byte continues, 0 when none
    while (!in.AtEnd()) {
        // At most 2^28 ticks an event and fewer events than bytes: no overflow.
        tick += in.Number("a delta time");
        const uint8_t lead = in.Byte("an event");
        if (lead == 0xFF) {
            const uint8_t type = in.Byte("a meta event");
            const uint32_t length = in.Number("a meta event's length");
            const uint8_t* data = in.Take(length, "a meta event");
            if (type == 0x2F)
                return tick; // End-of-Track: whatever follows is not played
            if (type == 0x51) {
                if (length != 3)
                    in.Fail("has a tempo event of " + std::to_string(length) + " bytes, not 3");
                const uint32_t tempo = (uint32_t{data[0]} << 16) | (uint32_t{data[1]} << 8) | data[2];
                if (tempo == 0)
                    in.Fail("has a tempo of 0 microseconds a beat");
                tempos.push_back({tick, tempo});
            }
        } else if (lead == 0xF0 || lead == 0xF7) {
            in.Take(in.Number("a SysEx event's length"), "a SysEx event");
        } else {
            if (lead >= 0xF0)
                in.Fail("has the status byte " + Hex(lead) + ", which a MIDI file does not hold");
            uint8_t first;
            if (lead & 0x80) {
                running = lead;
                first = in.Byte("a channel message");
            } else {
                if (!running)
                    in.Fail("has a data byte where a status byte is due (no running status)");
                first = lead;
            }
            const uint8_t kind = running & 0xF0;
            TickMessage m{tick, {running, first, 0}, static_cast<uint8_t>(kind == 0xC0 || kind == 0xD0 ? 2 : 3)};
            if (m.size == 3)
                m.bytes[2] = in.Byte("a channel message");
            if ((m.bytes[1] | m.bytes[2]) & 0x80)
                in.Fail("has a status byte inside a channel message");
            messages.push_back(m);
        }
    }
    return tick;
}

// Turns ticks into seconds through the tempo map. Ticks must come in order.
// The time is counted exactly, in whole units of 1/divisor seconds, so that
// a frame that falls on a half rounds the same however the tempo map runs.
class Clock {
public:
    // Metrical time: `ticksPerQuarter`, the tempo changes in tick order.
    Clock(uint32_t ticksPerQuarter, const std::vector<TempoChange>& tempos)
        : tempos_(&tempos), perTick_(kDefaultTempo), divisor_(ticksPerQuarter * 1e6)
    {
    }
    // SMPTE time: `perTick` units a tick, `divisor` units a second.
    Clock(uint32_t perTick, double divisor) : perTick_(perTick), divisor_(divisor) {}

    double Seconds(uint64_t tick)
    {
        while (tempos_ && next_ < tempos_->size() && (*tempos_)[next_].tick <= tick) {
            const TempoChange& change = (*tempos_)[next_++];
            mark_ = Add(mark_, Mul(change.tick - markTick_, perTick_));
            markTick_ = change.tick;
            perTick_ = change.microsecondsPerQuarter;
        }
        return static_cast<double>(Add(mark_, Mul(tick - markTick_, perTick_))) / divisor_;
    }

private:
    // Saturating: a time past 2^64 units is far past anything played, and
    // stays that.
    static uint64_t Mul(uint64_t a, uint64_t b)
    {
        uint64_t r;
        return __builtin_mul_overflow(a, b, &r) ? std::numeric_limits<uint64_t>::max() : r;
    }
    static uint64_t Add(uint64_t a, uint64_t b)
    {
        uint64_t r;
        return __builtin_add_overflow(a, b, &r) ? std::numeric_limits<uint64_t>::max() : r;
    }

    const std::vector<TempoChange>* tempos_ = nullptr;
    size_t next_ = 0;
    uint64_t perTick_;
    double divisor_;
    uint64_t markTick_ = 0; // the last tempo change passed
    uint64_t mark_ = 0;     // its time, in units
};

MidiFile Read(const uint8_t* data, size_t size)
{
    const uint8_t* const end = data + size;
    if (size < 8 || !std::equal(data, data + 4, "MThd"))
        throw Failure{"it is not a Standard MIDI File (it does not start with MThd)"};
    const uint32_t headerLength = Big32(data + 4);
    if (headerLength < 6 || headerLength > size - 8)
        throw Failure{"its header is cut short"};
    const uint8_t* header = data + 8;
    const unsigned format = (header[0] << 8) | header[1];
    const unsigned tracks = (header[2] << 8) | header[3];
    const uint8_t division0 = header[4], division1 = header[5];
    if (format == 2)
        throw Failure{"it is of format 2 (each track a song of its own), which is not played"};
    if (format > 2)
        throw Failure{"its format " + std::to_string(format) + " is not one of a Standard MIDI File"};

    std::vector<TickMessage> messages;
    std::vector<TempoChange> tempos;
    uint64_t lastTick = 0;
    const uint8_t* p = header + headerLength;
    for (unsigned track = 1; track <= tracks;) {
        if (end - p < 8)
            throw Failure{"it ends before track " + std::to_string(track) + " of the " + std::to_string(tracks) +
                          " its header names"};
        const uint32_t length = Big32(p + 4);
        if (length > static_cast<size_t>(end - p - 8))
            throw Failure{"track " + std::to_string(track) + " is cut short: the file ends within it"};
        const uint8_t* body = p + 8;
        if (std::equal(p, p + 4, "MTrk")) {
            lastTick = std::max(lastTick, ReadTrack(Cursor(body, body + length, data, static_cast<int>(track)),
                                                    messages, tempos));
            ++track;
        }
        p = body + length; // a chunk of another type is passed over
    }

    // All tracks by tick, each track's order kept at one tick.
    std::stable_sort(messages.begin(), messages.end(),
                     [](const TickMessage& a, const TickMessage& b) { return a.tick < b.tick; });
    std::stable_sort(tempos.begin(), tempos.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    Clock clock = [&] {
        if (!(division0 & 0x80)) {
            const uint32_t ticksPerQuarter = (division0 << 8) | division1;
            if (ticksPerQuarter == 0)
                throw Failure{"its header gives 0 ticks a quarter note"};
            return Clock(ticksPerQuarter, tempos);
        }
        const int framesPerSecond = -static_cast<int8_t>(division0);
        if (division1 == 0)
            throw Failure{"its header gives 0 ticks a frame"};
        switch (framesPerSecond) {
        case 24:
        case 25:
        case 30: return Clock(1, static_cast<double>(framesPerSecond) * division1);
        case 29: return Clock(1001, 30000.0 * division1); // 30 drop-frame: 29.97 frames a second
        default: throw Failure{"its header gives " + std::to_string(framesPerSecond) + " frames a second"};
        }
    }();
    MidiFile file;
    file.messages.reserve(messages.size());
    for (const TickMessage& m : messages)
        file.messages.push_back({clock.Seconds(m.tick), {m.bytes[0], m.bytes[1], m.bytes[2]}, m.size});
    file.endSeconds = clock.Seconds(lastTick);
    return file;
}

} // namespace

std::string ReadMidiFile(const uint8_t* data, size_t size, MidiFile& file)
{
    try {
        file = Read(data, size);
        return {};
    } catch (const Failure& failure) {
        return failure.reason;
    }
}

std::string LoadMidiFile(const std::string& path, MidiFile& file)
{
    std::vector<char> bytes;
    const std::string problem = ReadRegularFile(path, kMaxMidiFileBytes + 1, bytes);
    if (!problem.empty())
        return problem;
    if (bytes.size() > kMaxMidiFileBytes)
        return "it is larger than " + std::to_string(kMaxMidiFileBytes >> 20) + " MB, far more than a song";
    return ReadMidiFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), file);
}
