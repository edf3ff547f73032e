// The MIDI library's adapter on this machine: no ALSA sequencer, so both
// objects fall back to JACK. Against a private JACK server and MIDI clients
// of other processes: the port lists leave out exactly the program's own
// ports (also when JACK has renamed the clients of a second program),
// another port closes the old one first, input arrives, and a send never
// waits, not even once the server is gone.
#include <gtest/gtest.h>

#include <jack/jack.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "app/TestProcess.h"
#include "midi/MidiOutput.h"
#include "midi/RtMidiDevices.h"

namespace {

using namespace std::chrono_literals;
using testproc::Child;
using testproc::Output;

// Counts what arrives, and keeps the JACK frames of the first Note Ons.
struct Counter : TimedMidiInputHandler {
    std::atomic<int> messages{0};
    std::atomic<int> noteOns{0};
    static constexpr int kFrames = 16;
    uint32_t frames[kFrames] = {};
    std::atomic<int> stamped{0}; // Note Ons that came with a JACK frame
    void OnTimedMidiMessage(const uint8_t* bytes, size_t size, const MidiStamp& stamp) override
    {
        ++messages;
        if (size == 3 && (bytes[0] & 0xF0) == 0x90 && bytes[2] > 0) {
            ++noteOns;
            const int n = stamped.load();
            if (stamp.hasJackFrame && n < kFrames) {
                frames[n] = stamp.jackFrame;
                stamped.store(n + 1);
            }
        }
    }
};

bool Eventually(const std::function<bool()>& cond, std::chrono::milliseconds timeout = 10s)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!cond()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::vector<std::string> Names(MidiPortList& list)
{
    std::vector<std::string> names;
    for (int i = 0; i < list.PortCount(); ++i)
        names.push_back(list.PortName(i));
    return names;
}

bool HasPort(const std::string& name) { return Output("jack_lsp").find(name + "\n") != std::string::npos; }

std::string Connections(const std::string& port) { return Output("jack_lsp -c '" + port + "'"); }

// A second program with MIDI ports of its own: this test binary again, in a
// mode that only opens both objects' port 0 and waits.
TEST(RtMidiHelper, SecondProgram)
{
    if (!std::getenv("MAROVANE_MIDI_SECOND_PROGRAM"))
        GTEST_SKIP() << "only run as the second program of another test";
    Counter counter;
    RtMidiDevices ports = CreateRtMidiDevices(counter);
    ASSERT_TRUE(ports.in && ports.out);
    ports.in->Open(0);
    ports.out->Open(0);
    std::ofstream(std::getenv("MAROVANE_MIDI_SECOND_PROGRAM")) << "ready\n";
    std::this_thread::sleep_for(60s); // stopped by the test that started it
}

TEST(RtMidiDevices, WithoutAnyServerTheObjectsExistWithoutPorts)
{
    setenv("JACK_DEFAULT_SERVER", ("mrv-none-" + std::to_string(getpid())).c_str(), 1);
    Counter counter;
    RtMidiDevices ports = CreateRtMidiDevices(counter);
    ASSERT_TRUE(ports.in) << "the input object falls back to the next back end";
    ASSERT_TRUE(ports.out);
    EXPECT_EQ(ports.in->ApiName(), "jack");
    EXPECT_EQ(ports.in->PortCount(), 0);
    EXPECT_EQ(ports.out->PortCount(), 0);
    EXPECT_NE(ports.out->Open(0), "") << "no port to open is an error to tell";
    EXPECT_FALSE(ports.out->IsOpen());
    MidiOutputPath path(ports.out.get());
    path.SendMidiMessage(0x90, 60, 127);
    EXPECT_EQ(path.TakeNotice(), MidiOutputPath::kNoPortText);
}

TEST(RtMidiDevices, ListsOfferOtherProgramsPortsOnlyAndInputArrives)
{
    testproc::JackServer jack("ports");
    ASSERT_TRUE(jack.Ready());
    // Another program's ports, made first: a sequencer playing a note every
    // 2000 frames and a monitor.
    Child seq({"jack_midiseq", "seq", "2000", "0", "60", "1000"});
    Child dump({"jack_midi_dump", "dump"});
    ASSERT_TRUE(Eventually([] { return HasPort("seq:out") && HasPort("dump:input"); }));

    // The second program, started before this one: JACK gives this program's
    // clients the renamed names.
    const std::string ready = "/tmp/mrv-second-" + std::to_string(getpid());
    std::remove(ready.c_str());
    setenv("MAROVANE_MIDI_SECOND_PROGRAM", ready.c_str(), 1);
    Child second({std::filesystem::read_symlink("/proc/self/exe").string(), "--gtest_filter=RtMidiHelper.SecondProgram"});
    unsetenv("MAROVANE_MIDI_SECOND_PROGRAM");
    ASSERT_TRUE(Eventually([&] { return std::ifstream(ready).good(); }, 20s)) << "the second program did not start";
    ASSERT_TRUE(HasPort("Marovane in:MIDI in"));
    ASSERT_TRUE(HasPort("Marovane out:MIDI out"));

    Counter counter;
    RtMidiDevices ports = CreateRtMidiDevices(counter);
    ASSERT_TRUE(ports.in && ports.out);
    EXPECT_EQ(ports.in->ApiName(), "jack");
    const std::vector<std::string> ins{"Marovane out:MIDI out", "seq:out"};
    const std::vector<std::string> outs{"Marovane in:MIDI in", "dump:input"};
    auto sorted = [](std::vector<std::string> v) {
        std::sort(v.begin(), v.end());
        return v;
    };
    EXPECT_EQ(sorted(Names(*ports.in)), ins);
    EXPECT_EQ(sorted(Names(*ports.out)), outs);

    // This program's own ports, once open, are in neither list.
    int seqIndex = -1, dumpIndex = -1;
    for (int i = 0; i < ports.in->PortCount(); ++i)
        if (ports.in->PortName(i) == "seq:out")
            seqIndex = i;
    for (int i = 0; i < ports.out->PortCount(); ++i)
        if (ports.out->PortName(i) == "dump:input")
            dumpIndex = i;
    EXPECT_EQ(ports.in->Open(seqIndex), "");
    EXPECT_EQ(ports.out->Open(dumpIndex), "");
    ASSERT_TRUE(HasPort("Marovane in-01:MIDI in")) << Output("jack_lsp");
    ASSERT_TRUE(HasPort("Marovane out-01:MIDI out"));
    EXPECT_EQ(sorted(Names(*ports.in)), ins);
    EXPECT_EQ(sorted(Names(*ports.out)), outs);
    const std::vector<std::string> own = OwnJackClients();
    EXPECT_NE(std::find(own.begin(), own.end(), "Marovane in-01"), own.end());

    // The sequencer's notes arrive through the handler, each with its own
    // frame: exactly the sequencer's 2000 frames apart, wherever they fall in
    // the cycles of 256.
    EXPECT_TRUE(Eventually([&] { return counter.noteOns > 5; })) << counter.messages;
    ASSERT_TRUE(Eventually([&] { return counter.stamped >= 6; })) << "Note Ons without their JACK frame";
    for (int i = 1; i < 6; ++i)
        EXPECT_EQ(counter.frames[i] - counter.frames[i - 1], 2000u) << i;

    // Another port: the old connection goes before the new one is made.
    EXPECT_NE(Connections("seq:out").find("Marovane in-01:MIDI in"), std::string::npos);
    EXPECT_EQ(ports.in->Open(1 - seqIndex), "");
    EXPECT_EQ(Connections("seq:out").find("Marovane in-01"), std::string::npos);
    EXPECT_NE(Connections("Marovane out:MIDI out").find("Marovane in-01:MIDI in"),
              std::string::npos);
    EXPECT_EQ(ports.in->Open(7), "There is no MIDI port number 8.");
}

// Another JACK client of this process (PortAudio's, or one that a plugin
// opens) is not the program's MIDI: its ports are offered like any other
// program's, before and after the devices open their own.
TEST(RtMidiDevices, OtherJackClientsOfThisProcessAreOffered)
{
    testproc::JackServer jack("neighbour");
    ASSERT_TRUE(jack.Ready());
    jack_client_t* neighbour = jack_client_open("neighbour", JackNoStartServer, nullptr);
    ASSERT_NE(neighbour, nullptr);
    ASSERT_NE(jack_port_register(neighbour, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0), nullptr);
    ASSERT_NE(jack_port_register(neighbour, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0), nullptr);
    jack_set_process_callback(neighbour, [](jack_nframes_t, void*) { return 0; }, nullptr);
    ASSERT_EQ(jack_activate(neighbour), 0);

    Counter counter;
    RtMidiDevices ports = CreateRtMidiDevices(counter);
    ASSERT_TRUE(ports.in && ports.out);
    const std::vector<std::string> ins{"neighbour:out"};
    const std::vector<std::string> outs{"neighbour:in"};
    EXPECT_EQ(Names(*ports.in), ins);
    EXPECT_EQ(Names(*ports.out), outs);
    EXPECT_EQ(ports.in->Open(0), "");
    EXPECT_EQ(ports.out->Open(0), "");
    ASSERT_TRUE(HasPort("Marovane in:MIDI in")) << Output("jack_lsp");
    ASSERT_TRUE(HasPort("Marovane out:MIDI out"));
    EXPECT_EQ(Names(*ports.in), ins);
    EXPECT_EQ(Names(*ports.out), outs);
    std::vector<std::string> own = OwnJackClients();
    std::sort(own.begin(), own.end());
    EXPECT_EQ(own, (std::vector<std::string>{"Marovane in", "Marovane out"}));
    EXPECT_NE(Connections("neighbour:out").find("Marovane in:MIDI in"), std::string::npos);
    ports = {};
    EXPECT_TRUE(OwnJackClients().empty()) << "a device that is gone is still counted";
    jack_client_close(neighbour);
}

TEST(RtMidiDevices, ASendNeverWaitsNotEvenWithTheServerGone)
{
    auto jack = std::make_unique<testproc::JackServer>("gone");
    ASSERT_TRUE(jack->Ready());
    Child dump({"jack_midi_dump", "dump"});
    ASSERT_TRUE(Eventually([] { return HasPort("dump:input"); }));
    Counter counter;
    RtMidiDevices ports = CreateRtMidiDevices(counter);
    ASSERT_TRUE(ports.out);
    ASSERT_EQ(ports.out->Open(0), "");
    MidiOutputPath path(ports.out.get());

    // A watchdog: a send that waits would hang the test for ever.
    std::atomic<bool> done{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 300 && !done; ++i)
            std::this_thread::sleep_for(100ms);
        if (!done) {
            std::fprintf(stderr, "a MIDI send waited for more than 30 s\n");
            std::_Exit(1);
        }
    });
    // Far more than the library's ring holds in one cycle: they go out as the
    // cycles drain it.
    for (int i = 0; i < 20000; ++i)
        path.SendMidiMessage(0x90, static_cast<uint8_t>(i % 128), 1);
    EXPECT_TRUE(Eventually([&] {
        path.Pump();
        return ports.out->Room() > 4000;
    }));
    EXPECT_EQ(path.TakeNotice(), "");

    dump.Stop();
    jack.reset(); // the server is gone
    for (int i = 0; i < 20000; ++i)
        path.SendMidiMessage(0x80, static_cast<uint8_t>(i % 128), 0);
    EXPECT_TRUE(Eventually(
        [&] {
            path.Pump();
            return !path.TakeNotice().empty();
        },
        5s))
        << "the dead port was never told";
    done = true;
    watchdog.join();
}

} // namespace
