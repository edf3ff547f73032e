#pragma once
// Standard MIDI Files built byte by byte for the tests: the reader's own
// tests and the renderer's.
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace midibytes {

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

// A chunk: its four-letter type, its length and its bytes.
inline Bytes Chunk(const char* type, const Bytes& data)
{
    Bytes t(type, type + 4);
    const uint32_t n = static_cast<uint32_t>(data.size());
    t.insert(t.end(), {static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16), static_cast<uint8_t>(n >> 8),
                       static_cast<uint8_t>(n)});
    t.insert(t.end(), data.begin(), data.end());
    return t;
}

// A track chunk; its events, then End-of-Track unless told otherwise. An
// event's bytes are written as given, so a running status is an event
// without its status byte.
inline Bytes Track(const std::vector<Ev>& events, bool endOfTrack = true)
{
    Bytes data;
    for (const Ev& e : events) {
        const Bytes d = Vlq(e.delta);
        data.insert(data.end(), d.begin(), d.end());
        data.insert(data.end(), e.bytes.begin(), e.bytes.end());
    }
    if (endOfTrack)
        data.insert(data.end(), {0x00, 0xFF, 0x2F, 0x00});
    return Chunk("MTrk", data);
}

// A file of the given format and division (two bytes: ticks per quarter
// note, or minus the frames per second and the ticks per frame).
inline Bytes File(const std::vector<Bytes>& tracks, uint8_t format, uint8_t division0, uint8_t division1)
{
    Bytes f = Chunk("MThd", {0, format, 0, static_cast<uint8_t>(tracks.size()), division0, division1});
    for (const Bytes& t : tracks)
        f.insert(f.end(), t.begin(), t.end());
    return f;
}

// A format 1 file at 480 ticks per quarter note.
inline Bytes File(const std::vector<Bytes>& tracks) { return File(tracks, 1, 0x01, 0xE0); }

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

} // namespace midibytes
