// MIDI input's schedule: where each timed message lands in the audio
// callback's buffer on either clock, what comes late or stamped far ahead, a
// flood that fills the queue, the callback clock's smoothing, and one thread
// pushing while another takes (run under ThreadSanitizer too).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "audio/MidiSchedule.h"

namespace {

TimedMidiMessage Jack(uint32_t frame, uint8_t note = 60)
{
    TimedMidiMessage m;
    m.hasJackFrame = true;
    m.jackFrame = frame;
    m.size = 3;
    m.bytes[0] = 0x90;
    m.bytes[1] = note;
    m.bytes[2] = 100;
    return m;
}

TimedMidiMessage AtNanoseconds(int64_t ns, uint8_t note = 60)
{
    TimedMidiMessage m = Jack(0, note);
    m.hasJackFrame = false;
    m.nanoseconds = ns;
    return m;
}

BufferClock JackCycle(uint32_t start, uint32_t period)
{
    BufferClock c;
    c.frames = period;
    c.hasJackFrame = true;
    c.jackFrame = start;
    return c;
}

// A message sent at frame `offset` of the cycle starting at `cycle` plays at
// the same offset one cycle later, and not before; also across the wrap of
// JACK's 32-bit frame count.
struct JackCase {
    uint32_t period;
    uint32_t cycle;
    uint32_t offset;
};

class JackFrames : public testing::TestWithParam<JackCase> {};

TEST_P(JackFrames, AMessagePlaysOnePeriodLaterAtItsOwnOffset)
{
    const JackCase c = GetParam();
    auto schedule = std::make_unique<MidiSchedule>();
    ASSERT_TRUE(schedule->Push(Jack(c.cycle + c.offset)));
    EngineEvent events[4];
    EXPECT_EQ(schedule->Take(JackCycle(c.cycle, c.period), events, 4), 0u) << "played in the cycle it came in";
    ASSERT_EQ(schedule->Take(JackCycle(c.cycle + c.period, c.period), events, 4), 1u);
    EXPECT_EQ(events[0].frame, c.offset);
    EXPECT_EQ(events[0].size, 3u);
    EXPECT_EQ(events[0].bytes[1], 60);
}

INSTANTIATE_TEST_SUITE_P(Periods, JackFrames,
                         testing::Values(JackCase{64, 6400, 0}, JackCase{64, 6400, 63}, JackCase{256, 1000, 17},
                                         JackCase{1024, 4096, 1023}, JackCase{1024, 0xFFFFFC00u, 700}));

TEST(MidiSchedule, MonotonicTimesPlayOneBufferLaterAtTheirFrame)
{
    auto schedule = std::make_unique<MidiSchedule>();
    BufferClock c;
    c.frames = 256;
    c.sampleRate = 44100;
    c.startNanoseconds = 1'000'000'000;
    // 100 frames into the buffer before this one: frame 100 of this one.
    const int64_t frameNs = 1'000'000'000 / 44100; // 22675 ns, just under a frame
    schedule->Push(AtNanoseconds(c.startNanoseconds - (256 - 100) * frameNs, 1));
    // Inside this buffer: the next one's.
    schedule->Push(AtNanoseconds(c.startNanoseconds + 10 * frameNs, 2));
    EngineEvent events[4];
    ASSERT_EQ(schedule->Take(c, events, 4), 1u);
    EXPECT_EQ(events[0].frame, 100u);
    c.startNanoseconds += 256 * 22676;
    ASSERT_EQ(schedule->Take(c, events, 4), 1u);
    EXPECT_EQ(events[0].bytes[1], 2);
    EXPECT_EQ(events[0].frame, 9u);
}

TEST(MidiSchedule, LateMessagesPlayFirstAFarFutureOnePlaysNowAndOrderIsKept)
{
    auto schedule = std::make_unique<MidiSchedule>();
    const BufferClock c = JackCycle(100000, 256);
    schedule->Push(Jack(100000 - 256 + 40, 1)); // due at 40
    schedule->Push(Jack(100000 - 5000, 2));     // late: at 0, but not before 1
    schedule->Push(Jack(100000 - 256 + 90, 3)); // due at 90
    schedule->Push(Jack(100000 + 44100 * 3, 4)); // three seconds ahead: a clock jump
    schedule->Push(Jack(100000 + 10, 5));        // the next cycle's
    EngineEvent events[8];
    ASSERT_EQ(schedule->Take(c, events, 8), 4u);
    EXPECT_EQ(events[0].frame, 40u);
    EXPECT_EQ(events[1].frame, 40u) << "a late message played before the one before it";
    EXPECT_EQ(events[2].frame, 90u);
    EXPECT_EQ(events[3].frame, 90u);
    EXPECT_EQ(events[3].bytes[1], 4) << "a message stamped far ahead was held";
    ASSERT_EQ(schedule->Take(JackCycle(100256, 256), events, 8), 1u);
    EXPECT_EQ(events[0].frame, 10u);
}

TimedMidiMessage Bytes(uint8_t status, uint8_t data1, uint8_t data2)
{
    TimedMidiMessage m = Jack(1000);
    m.bytes[0] = status;
    m.bytes[1] = data1;
    m.bytes[2] = data2;
    return m;
}

TEST(MidiSchedule, AFloodDropsWithACountAndTheNextBufferRestoresWhatMidiLeft)
{
    auto schedule = std::make_unique<MidiSchedule>();
    // Notes 0 to 9 struck, then the queue filled with the wheel going round.
    for (uint8_t note = 0; note < 10; ++note)
        ASSERT_TRUE(schedule->Push(Bytes(0x90, note, 100)));
    for (size_t i = 10; i < MidiSchedule::kCapacity; ++i)
        ASSERT_TRUE(schedule->Push(Bytes(0xB0, 1, static_cast<uint8_t>(i & 0x7F))));
    // No room for these: note 5 released, note 70 struck at 33, the wheels.
    EXPECT_FALSE(schedule->Push(Bytes(0x80, 5, 0)));
    EXPECT_FALSE(schedule->Push(Bytes(0x90, 70, 33)));
    EXPECT_FALSE(schedule->Push(Bytes(0xE0, 0, 20)));
    EXPECT_FALSE(schedule->Push(Bytes(0xB0, 1, 3)));
    EXPECT_EQ(schedule->Dropped(), 4u);

    // Nothing before the queued messages are due: the state comes after them.
    std::vector<EngineEvent> events(MidiSchedule::kRoom);
    EXPECT_EQ(schedule->Take(JackCycle(1000 - 256, 256), events.data(), events.size()), 0u);
    const size_t n = schedule->Take(JackCycle(1000 + 256, 256), events.data(), events.size());
    ASSERT_EQ(n, MidiSchedule::kCapacity + 13);
    for (size_t i = 10; i < MidiSchedule::kCapacity; ++i)
        ASSERT_EQ(events[i].bytes[2], i & 0x7F) << "queued messages out of order at " << i;
    // Then the state: every note MIDI touched, held or released, and the
    // wheels' last values, all at the last frame played.
    std::vector<std::vector<uint8_t>> restored;
    for (size_t i = MidiSchedule::kCapacity; i < n; ++i) {
        EXPECT_EQ(events[i].frame, events[MidiSchedule::kCapacity - 1].frame);
        restored.push_back({events[i].bytes[0], events[i].bytes[1], events[i].bytes[2]});
    }
    std::vector<std::vector<uint8_t>> expected;
    for (uint8_t note = 0; note < 10; ++note)
        expected.push_back(note == 5 ? std::vector<uint8_t>{0x80, 5, 0} : std::vector<uint8_t>{0x90, note, 100});
    expected.push_back({0x90, 70, 33});
    expected.push_back({0xE0, 0, 20});
    expected.push_back({0xB0, 1, 3});
    EXPECT_EQ(restored, expected);

    // Restored once; the queue takes messages again.
    EXPECT_EQ(schedule->Take(JackCycle(1256, 256), events.data(), events.size()), 0u);
    EXPECT_TRUE(schedule->Push(Bytes(0x80, 70, 0)));
    EXPECT_EQ(schedule->Take(JackCycle(1256, 256), events.data(), events.size()), 1u);
}

TEST(AudioClock, JitteryCallbacksGiveEvenlySpacedBufferStarts)
{
    AudioClock clock;
    const double period = 256 / 44100.0 * 1e9;
    // Entry times wobbling by up to a millisecond around the true starts.
    uint32_t seed = 12345;
    double worst = 0;
    for (int n = 0; n < 3000; ++n) {
        seed = seed * 1664525u + 1013904223u;
        const double jitter = (static_cast<double>(seed >> 8) / (1u << 24) - 0.5) * 2e6;
        const double truth = 5e9 + n * period;
        const int64_t start = clock.Update(static_cast<int64_t>(truth + jitter), 256, 44100);
        if (n > 1000)
            worst = std::max(worst, std::fabs(start - truth));
    }
    EXPECT_LT(worst, 0.5e6) << "the smoothed starts wander by half the callbacks' own wobble or more";
    // A stall of a second: the loop starts afresh at the late callback.
    EXPECT_EQ(clock.Update(9'000'000'000, 256, 44100), 9'000'000'000);
}

TEST(MidiSchedule, OneThreadPushesWhileAnotherTakesEverythingInOrder)
{
    auto schedule = std::make_unique<MidiSchedule>();
    constexpr uint32_t kMessages = 200000;
    uint64_t refused = 0;
    std::thread producer([&] {
        for (uint32_t i = 0; i < kMessages;) {
            TimedMidiMessage m = Jack(0, static_cast<uint8_t>(i & 0x7F));
            m.bytes[0] = 0xA0;
            m.bytes[2] = static_cast<uint8_t>((i >> 7) & 0x7F);
            if (schedule->Push(m)) {
                ++i;
            } else {
                ++refused; // full: tried again
                std::this_thread::yield();
            }
        }
    });
    std::vector<EngineEvent> events(MidiSchedule::kRoom);
    uint32_t next = 0;
    bool inOrder = true;
    while (next < kMessages) {
        // Messages that leave no state behind (key pressure), so that a
        // refused push adds nothing to restore.
        const size_t n = schedule->Take(JackCycle(1u << 20, 256), events.data(), events.size());
        for (size_t i = 0; i < n; ++i, ++next)
            inOrder = inOrder && events[i].bytes[1] == (next & 0x7F) && events[i].bytes[2] == ((next >> 7) & 0x7F);
    }
    producer.join();
    EXPECT_TRUE(inOrder);
    EXPECT_EQ(schedule->Dropped(), refused) << "every refused push is counted, and only those";
}

} // namespace
