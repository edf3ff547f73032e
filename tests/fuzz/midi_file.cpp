// Fuzzing harness of the MIDI file reader: any bytes are read as a Standard
// MIDI File. A refused file gives one line and nothing else; a read one gives
// well-formed channel messages (a status 0x80 to 0xEF with as many data bytes
// as its kind takes, each below 128), at finite times that never go back, all
// before the file's end, and no more messages than the file has bytes to hold.
#include <cmath>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "midi/MidiFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MidiFile file;
    const std::string reason = ReadMidiFile(data, size, file);
    if (!reason.empty()) {
        FUZZ_CHECK(reason.find('\n') == std::string::npos);
        FUZZ_CHECK(file.messages.empty() && file.endSeconds == 0.0);
        return 0;
    }
    double last = 0.0;
    for (const MidiFileMessage& m : file.messages) {
        const uint8_t kind = m.bytes[0] & 0xF0;
        FUZZ_CHECK(m.bytes[0] >= 0x80 && m.bytes[0] < 0xF0);
        FUZZ_CHECK(m.size == (kind == 0xC0 || kind == 0xD0 ? 2 : 3));
        FUZZ_CHECK(m.bytes[1] < 0x80 && m.bytes[2] < 0x80);
        FUZZ_CHECK(std::isfinite(m.seconds) && m.seconds >= last);
        last = m.seconds;
    }
    FUZZ_CHECK(std::isfinite(file.endSeconds) && file.endSeconds >= last);
    // A channel message takes a delta time and at least one data byte.
    FUZZ_CHECK(file.messages.size() <= size / 2);
    return 0;
}
