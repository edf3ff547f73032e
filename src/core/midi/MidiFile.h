#pragma once
// A Standard MIDI File read into the channel messages it plays, each with its
// time in seconds, in the order they sound. The renderer plays them; nothing
// here knows the engine, a window or a toolkit. Any thread but the audio
// thread (it allocates); no shared state.
//
// What is read:
//  - formats 0 and 1: every track plays together; a tempo event in any track
//    changes the tempo for all from its tick on (120 beats a minute until the
//    first). Format 2 (tracks that are separate songs) is refused.
//  - ticks per quarter note, or SMPTE time (24, 25, 29.97 or 30 frames a
//    second, so many ticks a frame), where tempo events do not count.
//  - running status, also across meta and SysEx events, as sequencers read
//    it; Note On with velocity 0 is passed on as it is.
//  - SysEx (F0 and F7) and meta events other than tempo are skipped; a track
//    ends at its End-of-Track or, without one, at the end of its chunk.
//    Chunks of other types are passed over.
// Every length is checked against the bytes there are, and everything is
// linear in the size of the file but the merge of the tracks (n log n).
// A malformed file is refused as a whole with one reason: a truncated chunk
// or event, a data byte where a status is due and none runs, a status the
// format does not allow, a tempo event that is not three bytes or is zero,
// a division of zero or an unknown frame rate, fewer tracks than the header
// says.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct MidiFileMessage {
    double seconds;    // from the start of the file
    uint8_t bytes[3];  // status (0x80 to 0xEF, with its channel), data
    uint8_t size;      // 2 or 3
};

struct MidiFile {
    // The channel messages of every track, by time; at the same time, those
    // of an earlier track first, then in their order within the track.
    std::vector<MidiFileMessage> messages;
    // When the last event of any kind happens (a meta event, a SysEx, an
    // End-of-Track included): where the music ends.
    double endSeconds = 0.0;
};

// Reads a file held in memory. The empty string and `file` filled, or the
// reason in a few words ("track 2 ends in the middle of an event") with
// `file` left as it was.
std::string ReadMidiFile(const uint8_t* data, size_t size, MidiFile& file);

// The largest file read: far beyond any song (a million notes take 3 MB), and
// small enough that its events, read, sorted and timed, fit in memory.
constexpr size_t kMaxMidiFileBytes = 32u << 20;

// Reads a file from the disk: a regular file only, refused without waiting
// when it is a pipe or a device (RegularFile.h), and at most the size above.
std::string LoadMidiFile(const std::string& path, MidiFile& file);
