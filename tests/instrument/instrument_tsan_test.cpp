// The instrument with its real audio stream and JACK MIDI input on a JACK
// dummy server, built with ThreadSanitizer: JACK's process thread decodes a
// flood of MIDI into the schedule while the audio callback plays it and the
// test's thread (as the GUI) plays notes, moves the wheels and panics. Any
// data race fails the run; afterwards the instrument still plays a MIDI note.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "app/Instrument.h"
#include "app/TestProcess.h"
#include "e2e/JackMidiClient.h"

namespace {

using namespace std::chrono_literals;

bool Eventually(const std::function<bool()>& cond, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

size_t FloodMessage(uint64_t i, uint8_t* m)
{
    const auto b = [](uint64_t v) { return static_cast<uint8_t>(v & 0x7F); };
    switch (i % 6) {
    case 0: m[0] = 0x90; m[1] = b(i * 7); m[2] = static_cast<uint8_t>(1 + i % 127); return 3;
    case 1: m[0] = 0x80; m[1] = b(i * 5); m[2] = 0; return 3;
    case 2: m[0] = 0xB0; m[1] = 1; m[2] = b(i); return 3;
    case 3: m[0] = 0xE0; m[1] = 0; m[2] = b(i); return 3;
    case 4: m[0] = 0xB0; m[1] = 64; m[2] = b(i * 64); return 3;
    default: m[0] = 0xB0; m[1] = 123; m[2] = 0; return 3;
    }
}

TEST(InstrumentThreads, AFloodOfJackMidiWhileTheWindowPlaysAndTheAudioRenders)
{
    testproc::JackServer jack("instrument-tsan");
    ASSERT_TRUE(jack.Ready());
    e2e::JackMidiClient keys("mrv-keys", 20.0);
    ASSERT_TRUE(keys.Ok());
    NoDisplay display;
    Instrument instrument(display, display);
    instrument.CreateMidiDevices();
    ASSERT_TRUE(instrument.MidiInputPorts());
    EXPECT_TRUE(instrument.OpenMidiDevicesAtStart("mrv-keys:keys", "mrv-keys:echo").empty());
    instrument.SetMidiOutputEnabled(true);
    EXPECT_TRUE(instrument.StartAudio().empty());
    ASSERT_TRUE(Eventually([&] { return instrument.Audio().TakesTimedMidi(); }, 5s));

    keys.Flood(200000, FloodMessage);
    unsigned n = 0;
    while (keys.Flooding()) {
        ++n;
        instrument.NoteOn(static_cast<int>(24 + n % 60), false);
        instrument.MoveModWheel(static_cast<float>(n % 16384));
        instrument.MovePitchWheel(static_cast<float>((n * 3) % 16384));
        instrument.NoteOff(static_cast<int>(24 + (n + 30) % 60), false);
        if (n % 50 == 0)
            instrument.Panic();
        instrument.PumpMidiOutput();
        std::this_thread::sleep_for(1ms);
    }
    instrument.Panic();
    keys.Send({0xB0, 123, 0});
    keys.Send({0xB0, 64, 0});
    keys.Send({0xE0, 0, 64});
    std::this_thread::sleep_for(500ms);

    // Silence, then a MIDI note sounds through the schedule. (The render's
    // peaks, not a recording: the audio buffers pass through PortAudio and
    // JACK, which ThreadSanitizer cannot follow.)
    instrument.Audio().TakeLeftPeak();
    const uint32_t quiet = instrument.Audio().Callbacks();
    ASSERT_TRUE(Eventually([&] { return instrument.Audio().Callbacks() > quiet + 20; }, 5s));
    EXPECT_EQ(instrument.Audio().TakeLeftPeak(), 0.0f) << "a note hangs after the flood";
    keys.Send({0x90, 69, 100});
    const uint32_t on = instrument.Audio().Callbacks();
    ASSERT_TRUE(Eventually([&] { return instrument.Audio().Callbacks() > on + 20; }, 5s));
    EXPECT_GT(instrument.Audio().TakeLeftPeak(), 0.3f) << "MIDI input no longer plays after the flood";
    instrument.Shutdown();
}

} // namespace
