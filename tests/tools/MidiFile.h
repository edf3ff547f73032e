#pragma once
// Standard MIDI Files written byte by byte, for the tests that play one
// through marovane-render: tracks of timed events, tempo changes, the header.
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace midifile {

using Bytes = std::vector<uint8_t>;

inline Bytes Vlq(uint32_t n)
{
    Bytes b{static_cast<uint8_t>(n & 0x7F)};
    while (n >>= 7)
        b.insert(b.begin(), static_cast<uint8_t>((n & 0x7F) | 0x80));
    return b;
}

struct Ev {
    uint32_t delta; // ticks since the track's previous event
    Bytes bytes;
};

inline Bytes Track(const std::vector<Ev>& events)
{
    Bytes data;
    for (const Ev& e : events) {
        const Bytes d = Vlq(e.delta);
        data.insert(data.end(), d.begin(), d.end());
        data.insert(data.end(), e.bytes.begin(), e.bytes.end());
    }
    data.insert(data.end(), {0x00, 0xFF, 0x2F, 0x00});
    Bytes t{'M', 'T', 'r', 'k'};
    const uint32_t n = static_cast<uint32_t>(data.size());
    t.insert(t.end(), {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
                       static_cast<uint8_t>(n)});
    t.insert(t.end(), data.begin(), data.end());
    return t;
}

// A format 1 file, at 480 ticks per quarter note unless told otherwise.
inline Bytes File(const std::vector<Bytes>& tracks, uint16_t ticksPerBeat = 480)
{
    Bytes f{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0, static_cast<uint8_t>(tracks.size()),
            static_cast<uint8_t>(ticksPerBeat >> 8), static_cast<uint8_t>(ticksPerBeat)};
    for (const Bytes& t : tracks)
        f.insert(f.end(), t.begin(), t.end());
    return f;
}

inline Bytes Tempo(uint32_t microsecondsPerBeat)
{
    return {0xFF, 0x51, 0x03, static_cast<uint8_t>(microsecondsPerBeat >> 16),
            static_cast<uint8_t>(microsecondsPerBeat >> 8), static_cast<uint8_t>(microsecondsPerBeat)};
}

inline void Write(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

} // namespace midifile
