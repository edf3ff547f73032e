// The Standard MIDI File reader, from files built byte by byte.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "midi/MidiFile.h"
#include "midi/MidiFileBytes.h"

namespace {

using namespace midibytes;

std::string Read(const Bytes& bytes, MidiFile& file) { return ReadMidiFile(bytes.data(), bytes.size(), file); }

struct Heard {
    double seconds;
    Bytes bytes;
    bool operator==(const Heard&) const = default;
};

std::vector<Heard> Messages(const MidiFile& file)
{
    std::vector<Heard> heard;
    for (const MidiFileMessage& m : file.messages)
        heard.push_back({m.seconds, Bytes(m.bytes, m.bytes + m.size)});
    return heard;
}

void PrintTo(const Heard& h, std::ostream* os)
{
    *os << h.seconds << " s:";
    for (uint8_t b : h.bytes)
        *os << " " << int(b);
}

// Three tracks at 480 ticks a beat: the tempo doubles at tick 480 from the
// second track and so moves the first and third too; at one tick the
// earlier track plays first; the last End-of-Track sets the end, and what
// follows an End-of-Track is not played.
TEST(MidiFileReader, MergesTheTracksThroughOneTempoMap)
{
    Bytes afterEnd = Track({{0, {0x90, 60, 100}}, {960, {0x80, 60, 0}}});
    afterEnd.insert(afterEnd.end(), {0x00, 0x90, 0x01, 0x01}); // past End-of-Track, inside the chunk
    afterEnd[7] += 4;
    const Bytes file = File({afterEnd,
                             Track({{240, {0xFF, 0x01, 0x01, 'x'}}, {240, Tempo(250000)}, {0, {0xC1, 5}}}),
                             Track({{960, {0x92, 64, 1}}, {0, {64, 0}}, {480, {0xFF, 0x7F, 0x00}}})});
    MidiFile song;
    ASSERT_EQ(Read(file, song), "");
    const std::vector<Heard> want = {
        {0.0, {0x90, 60, 100}}, {0.5, {0xC1, 5}}, {0.75, {0x80, 60, 0}}, {0.75, {0x92, 64, 1}}, {0.75, {0x92, 64, 0}},
    };
    EXPECT_EQ(Messages(song), want);
    EXPECT_EQ(song.endSeconds, 1.0) << "the third track's End-of-Track, 480 ticks at 240 bpm after 0.75 s";
}

TEST(MidiFileReader, SmpteTimeCountsFramesAndIgnoresTheTempo)
{
    struct Case {
        int framesPerSecond;
        uint8_t ticksPerFrame;
        uint32_t ticks;
        double seconds;
    } cases[] = {
        {24, 10, 240, 1.0}, {25, 40, 1000, 1.0}, {30, 4, 60, 0.5}, {29, 1, 2997, 2997 * 1001 / 30000.0},
        {29, 80, 1, 1001 / 2400000.0},
    };
    for (const Case& c : cases) {
        const Bytes file = File({Track({{0, Tempo(1000)}, {c.ticks, {0x90, 60, 100}}})}, 0,
                                static_cast<uint8_t>(-c.framesPerSecond), c.ticksPerFrame);
        MidiFile song;
        ASSERT_EQ(Read(file, song), "") << c.framesPerSecond;
        ASSERT_EQ(song.messages.size(), 1u);
        EXPECT_DOUBLE_EQ(song.messages[0].seconds, c.seconds) << c.framesPerSecond << " x " << int(c.ticksPerFrame);
    }
}

// Times far beyond anything played stay in order and finite (the renderer
// refuses them): 2^28 ticks at the slowest tempo and one tick a beat, many
// times over, passes 2^64 units.
TEST(MidiFileReader, HugeTimesStayInOrder)
{
    std::vector<Ev> events = {{0, {0xFF, 0x51, 0x03, 0xFF, 0xFF, 0xFF}}};
    for (int i = 0; i < 20000; ++i)
        events.push_back({0x0FFFFFFF, i == 0 ? Bytes{0x90, 60, 1} : Bytes{60, 1}});
    MidiFile song;
    ASSERT_EQ(Read(File({Track(events)}, 1, 0, 1), song), "");
    ASSERT_EQ(song.messages.size(), 20000u);
    EXPECT_DOUBLE_EQ(song.messages[0].seconds, 268435455.0 * 16777215 / 1e6);
    for (size_t i = 1; i < song.messages.size(); ++i)
        ASSERT_LE(song.messages[i - 1].seconds, song.messages[i].seconds) << i;
    EXPECT_TRUE(std::isfinite(song.endSeconds));
    EXPECT_GT(song.endSeconds, 1e12);
}

// Each malformed file is refused with its reason, and the result is left as
// it was.
TEST(MidiFileReader, RefusesAMalformedFileWithItsReason)
{
    const Bytes note = Track({{0, {0x90, 60, 100}}});
    Bytes longHeader = File({note});
    longHeader[7] = 200;
    Bytes cutTrack = File({note});
    cutTrack.pop_back();
    Bytes fiveByteDelta = File({Track({{0, {0x90, 60, 100}}})});
    fiveByteDelta.insert(fiveByteDelta.begin() + 22, {0x81, 0x81, 0x81, 0x81});
    fiveByteDelta[21] += 4;
    const struct Case {
        const char* what;
        Bytes bytes;
        const char* reason;
    } cases[] = {
        {"empty", {}, "it is not a Standard MIDI File (it does not start with MThd)"},
        {"RIFF", {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'R', 'M', 'I', 'D'}, "it does not start with MThd"},
        {"header cut short", Bytes(longHeader.begin(), longHeader.begin() + 12), "its header is cut short"},
        {"header longer than the file", longHeader, "its header is cut short"},
        {"format 2", File({note}, 2, 1, 0xE0), "format 2"},
        {"format 3", File({note}, 3, 1, 0xE0), "its format 3 is not one of a Standard MIDI File"},
        {"no track after the header", Bytes(cutTrack.begin(), cutTrack.begin() + 14),
         "it ends before track 1 of the 1 its header names"},
        {"track cut short", cutTrack, "track 1 is cut short"},
        {"a delta time of five bytes", fiveByteDelta, "track 1 has a delta time longer than four bytes"},
        {"a delta time and nothing after it", File({Track({{0, {}}}, false)}), "track 1 ends in the middle of an event"},
        {"a channel message cut", File({Track({{0, {0x90, 60}}}, false)}), "ends in the middle of a channel message"},
        {"a meta event cut", File({Track({{0, {0xFF, 0x01, 0x05, 'a'}}}, false)}), "ends in the middle of a meta event"},
        {"a meta length cut", File({Track({{0, {0xFF, 0x01, 0x85}}}, false)}), "a meta event's length"},
        {"a SysEx longer than the track", File({Track({{0, {0xF0, 0x8F, 0xFF, 0xFF, 0x7F, 0xF7}}})}), "a SysEx event"},
        {"a tempo of no bytes", File({Track({{0, {0xFF, 0x51, 0x00}}})}), "track 1 has a tempo event of 0 bytes, not 3"},
        {"a tempo of two bytes", File({Track({{0, {0xFF, 0x51, 0x02, 1, 2}}})}), "a tempo event of 2 bytes, not 3"},
        {"a tempo of four bytes", File({Track({{0, {0xFF, 0x51, 0x04, 1, 2, 3, 4}}})}), "of 4 bytes, not 3"},
        {"a tempo of zero", File({Track({{0, Tempo(0)}})}), "a tempo of 0 microseconds a beat"},
        {"a data byte first", File({note, Track({{0, {60, 100}}})}), "track 2 has a data byte where a status byte is due"},
        {"a system message", File({Track({{0, {0xF2, 1, 2}}})}), "the status byte 0xF2, which a MIDI file does not hold"},
        {"a status byte as data", File({Track({{0, {0x90, 60, 0x80}}})}), "a status byte inside a channel message"},
        {"zero ticks a beat", File({note}, 1, 0, 0), "its header gives 0 ticks a quarter note"},
        {"zero ticks a frame", File({note}, 1, static_cast<uint8_t>(-25), 0), "0 ticks a frame"},
        {"23 frames a second", File({note}, 1, static_cast<uint8_t>(-23), 4), "its header gives 23 frames a second"},
    };
    for (const Case& c : cases) {
        MidiFile song;
        song.endSeconds = 42;
        const std::string reason = Read(c.bytes, song);
        EXPECT_NE(reason.find(c.reason), std::string::npos) << c.what << ": " << reason;
        EXPECT_EQ(reason.find('\n'), std::string::npos) << c.what;
        EXPECT_EQ(song.endSeconds, 42) << c.what;
    }
}

// Unusual but well-formed: a longer header, chunks of other types, a track
// without End-of-Track, no tracks at all.
TEST(MidiFileReader, ReadsWhatTheFormatAllows)
{
    Bytes longerHeader = File({Track({{10, {0xB0, 1, 2}}})});
    longerHeader[7] = 8;
    longerHeader.insert(longerHeader.begin() + 14, {0xAB, 0xCD});
    Bytes foreignChunk = File({Track({{10, {0xB0, 1, 2}}}, false)});
    const Bytes foreign = Chunk("XFIH", {1, 2, 3});
    foreignChunk.insert(foreignChunk.begin() + 14, foreign.begin(), foreign.end());
    for (const Bytes& bytes : {longerHeader, foreignChunk}) {
        MidiFile song;
        ASSERT_EQ(Read(bytes, song), "");
        const std::vector<Heard> want = {{10 / 960.0, {0xB0, 1, 2}}};
        EXPECT_EQ(Messages(song), want);
        EXPECT_EQ(song.endSeconds, 10 / 960.0);
    }
    MidiFile none;
    ASSERT_EQ(Read(File({}), none), "");
    EXPECT_TRUE(none.messages.empty());
    EXPECT_EQ(none.endSeconds, 0.0);
}

TEST(MidiFileReader, LoadsARegularFileOnly)
{
    const std::string fifo = ::testing::TempDir() + "midi_file_test.mid";
    std::remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    MidiFile song;
    EXPECT_EQ(LoadMidiFile(fifo, song), "it is a named pipe, not a regular file");
    std::remove(fifo.c_str());
    EXPECT_EQ(LoadMidiFile(fifo, song), "it cannot be read (No such file or directory)");
    // One byte past the largest file read (zeros, without the disk space).
    const std::string large = ::testing::TempDir() + "midi_file_test_large.mid";
    std::ofstream(large).close();
    std::filesystem::resize_file(large, kMaxMidiFileBytes + 1);
    EXPECT_EQ(LoadMidiFile(large, song), "it is larger than 32 MB, far more than a song");
    std::remove(large.c_str());
}

} // namespace
