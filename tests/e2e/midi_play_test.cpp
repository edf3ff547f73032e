// The real program played from MIDI: a JACK MIDI client of the test's own,
// whose ports exist before the program starts (so the program opens them as
// its port 0 both ways), plays it and records its output with JACK's frame
// count (notes, velocity, the bend and mod wheels, the sustain pedal, All
// Notes Off, the latency). Then what the program sends: the output switched on
// in the MIDI settings dialog with the mouse, a key of the computer keyboard
// heard at the client; a flood of a million messages; and a start without any
// JACK server, whose two MIDI messages come before the window.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <wx/app.h>

#include "app/Keyboard.h"
#include "controls/MessageBox.h"
#include "app/TestProcess.h"
#include "e2e/JackMidiClient.h"
#include "e2e/PlayedProgram.h"
#include "e2e/Recording.h"
#include "midi/MidiSettingsDlg.h"
#include "midi/FakeMidiDevices.h"
#include "support/GuiTest.h"

namespace {

using testproc::Child;
using testproc::Output;

int Sh(const std::string& command) { return testproc::Run(command); }

using e2e::ProgramPath;

// Sleeps until the recorder has passed `seconds` more of sound.
void Wait(const e2e::JackMidiClient& client, double seconds)
{
    const size_t until = client.Recorded() + static_cast<size_t>(seconds * kRate);
    Eventually([&] { return client.Recorded() >= until; }, std::chrono::milliseconds(static_cast<int>(seconds * 1000) + 5000));
}

// Sends a message and waits until it is out; returns its recorded sample index.
size_t Play(e2e::JackMidiClient& client, std::vector<uint8_t> message, uint32_t offset = 0)
{
    const size_t ticket = client.Send(std::move(message), offset);
    Eventually([&] { return client.SentFrame(ticket) != 0; }, 5s);
    return static_cast<size_t>(client.SentFrame(ticket) - client.FirstRecordedFrame());
}

// The first `length` recorded samples at or after `from` that hold no cycle
// the recorder missed (where JACK could not run it in time on a busy machine),
// waiting until they are recorded; SIZE_MAX when none came within 5 s more.
// For measuring a steady state: the note and its controllers stay as they are.
size_t WholeStretch(const e2e::JackMidiClient& client, size_t from, size_t length)
{
    const size_t limit = from + length + static_cast<size_t>(5 * kRate);
    for (size_t at = from; at + length <= limit; at += 256) {
        Eventually([&] { return client.Recorded() >= at + length; }, 10s);
        if (client.Recorded() < at + length)
            return SIZE_MAX;
        if (client.Whole(at, at + length))
            return at;
    }
    return SIZE_MAX;
}

double Peak(const std::vector<float>& x, size_t from, size_t to)
{
    double peak = 0;
    for (size_t i = from; i < std::min(to, x.size()); ++i)
        peak = std::max(peak, static_cast<double>(std::abs(x[i])));
    return peak;
}

constexpr double kNoteAmplitude = 0.5 * 100.0 / 127.0; // note 69, velocity 100

TEST(MidiPlay, AJackClientPlaysTheProgram)
{
    ASSERT_FALSE(ProgramPath().empty());
    testproc::JackServer jack("e2e-midi", true);
    ASSERT_TRUE(jack.Ready());
    e2e::JackMidiClient keys("mrv-keys");
    ASSERT_TRUE(keys.Ok());
    Child marovane;
    std::string window;
    ASSERT_NO_FATAL_FAILURE(e2e::StartProgramPlayedBy(keys, "mrv-keys", marovane, window));
    Wait(keys, 0.2);

    // Note On 69 velocity 100: 440 Hz at 0.5 x 100/127.
    const size_t on = Play(keys, {0x90, 69, 100});
    const std::vector<float>& x = keys.Left();
    const size_t held = WholeStretch(keys, on + 4410, 17640);
    ASSERT_NE(held, SIZE_MAX) << "no whole stretch recorded";
    EXPECT_NEAR(Frequency(x, held, held + 17640), 440.0, 0.2);
    EXPECT_NEAR(Amplitude(x, held, held + 17640, 440.0), kNoteAmplitude, 0.003);

    // Pitch Bend 0, 127: the wheel at 16256, (16256 - 8192) / 4096 semitones up.
    const size_t bend = Play(keys, {0xE0, 0, 127});
    const size_t bent = WholeStretch(keys, bend + 2205, 17640);
    ASSERT_NE(bent, SIZE_MAX) << "no whole stretch recorded";
    const double bentHz = 440.0 * std::pow(2.0, (16256.0 - 8192.0) / 4096.0 / 12.0);
    EXPECT_NEAR(Frequency(x, bent, bent + 17640), bentHz, 0.2);
    Play(keys, {0xE0, 0, 64});

    // Controller 1 brings in the tremolo: the level swings at the LFO's 5 Hz.
    const auto swing = [&](size_t after) {
        const size_t from = WholeStretch(keys, after, 44100);
        if (from == SIZE_MAX)
            return -1.0;
        double lo = 1e9, hi = 0;
        // Windows just over one period of the note.
        for (size_t w = from; w + 110 <= from + 44100; w += 110) {
            const double p = Peak(x, w, w + 110);
            lo = std::min(lo, p);
            hi = std::max(hi, p);
        }
        return lo / hi;
    };
    const size_t still = Play(keys, {0xB0, 1, 0});
    EXPECT_GT(swing(still + 2205), 0.95) << "no tremolo with the mod wheel at 0";
    const size_t tremolo = Play(keys, {0xB0, 1, 127});
    const double swung = swing(tremolo + 2205);
    EXPECT_GE(swung, 0.0) << "no whole stretch recorded";
    EXPECT_LT(swung, 0.1) << "the mod wheel did not bring in the tremolo";
    Play(keys, {0xB0, 1, 0});
    Wait(keys, 0.1);

    // Note On velocity 0 ends the note.
    const size_t off = Play(keys, {0x90, 69, 0});
    Wait(keys, 0.3);
    EXPECT_GT(Peak(x, off - 4410, off), 0.3);
    EXPECT_LT(Peak(x, off + 1323, off + 11025), 1e-6) << "Note On with velocity 0 did not release the note";

    // Channel 2 is not heard.
    const size_t other = Play(keys, {0x91, 72, 100});
    Wait(keys, 0.3);
    EXPECT_LT(Peak(x, other, other + 11025), 1e-6) << "a note on channel 2 sounded";
    Play(keys, {0x81, 72, 0});

    // Two notes held; controller 123 with value 1 does nothing, with value 0
    // it silences them.
    Play(keys, {0x90, 60, 100});
    Play(keys, {0x90, 64, 100});
    const size_t notAll = Play(keys, {0xB0, 123, 1});
    Wait(keys, 0.3);
    EXPECT_GT(Peak(x, notAll + 4410, notAll + 11025), 0.3);
    const size_t all = Play(keys, {0xB0, 123, 0});
    Wait(keys, 0.3);
    EXPECT_LT(Peak(x, all + 1323, all + 11025), 1e-6) << "All Notes Off left a note sounding";

    // The sustain pedal (controller 64 at 64 or above) holds a released note
    // until it comes up; a note released with the pedal up ends at once.
    Play(keys, {0xB0, 64, 127});
    Play(keys, {0x90, 69, 100});
    Wait(keys, 0.1);
    const size_t releasedUnderPedal = Play(keys, {0x80, 69, 0});
    Wait(keys, 0.5);
    const size_t sustained = WholeStretch(keys, releasedUnderPedal + 4410, 8820);
    ASSERT_NE(sustained, SIZE_MAX) << "no whole stretch recorded";
    EXPECT_NEAR(Amplitude(x, sustained, sustained + 8820, 440.0), kNoteAmplitude, 0.003)
        << "the pedal did not hold the released note";
    const size_t pedalUp = Play(keys, {0xB0, 64, 63});
    Wait(keys, 0.3);
    EXPECT_LT(Peak(x, pedalUp + 1323, pedalUp + 11025), 1e-6) << "the note sounded on after the pedal came up";
    Play(keys, {0x90, 69, 100});
    Wait(keys, 0.1);
    const size_t released = Play(keys, {0x80, 69, 0});
    Wait(keys, 0.3);
    EXPECT_LT(Peak(x, released + 1323, released + 11025), 1e-6) << "the pedal stayed down";

    // Latency: 100 notes, each Note On at another place in JACK's cycle. The
    // sine starts at phase 0, so a note's first sample is the one before its
    // first non-zero sample. A note whose start fell into a cycle the
    // recorder missed would look late: it is not judged.
    std::vector<long> latency;
    int unjudged = 0;
    for (int k = 0; k < 100; ++k) {
        const size_t at = Play(keys, {0x90, 69, 127}, static_cast<uint32_t>((k * 53) % 256));
        Wait(keys, 0.03);
        Play(keys, {0x80, 69, 0});
        Wait(keys, 0.03);
        if (!keys.Whole(at, at + 1323)) {
            ++unjudged;
            continue;
        }
        size_t first = at;
        while (first < keys.Recorded() && x[first] == 0.0f)
            ++first;
        ASSERT_LT(first, keys.Recorded()) << "note " << k << " never sounded: at " << at << " of "
                                          << keys.Recorded() << ", peak since " << Peak(x, at, keys.Recorded())
                                          << ", before " << Peak(x, at - 22050, at);
        latency.push_back(static_cast<long>(first) - 1 - static_cast<long>(at));
    }
    ASSERT_LE(unjudged, 50) << "the recorder missed too many cycles to judge the latency";
    std::sort(latency.begin(), latency.end());
    const long median = latency[latency.size() / 2];
    const long worst = latency.back();
    std::printf("MIDI Note On to first sample over %zu notes: median %ld frames, worst %ld frames, best %ld\n",
                latency.size(), median, worst, latency.front());
    RecordProperty("latency_median_frames", static_cast<int>(median));
    RecordProperty("latency_worst_frames", static_cast<int>(worst));
    EXPECT_GE(latency.front(), 0) << "a note sounded before its Note On";
    EXPECT_LE(worst, 3 * 256) << "a note waited more than three buffers";

    Sh("xdotool windowactivate --sync " + window + " key alt+F4");
    EXPECT_EQ(marovane.Wait(15s), std::optional<int>(0));
}

// Where the MIDI Settings button, the dialog's switch and its Close button
// are, learnt from windows built in this process on the same display, with
// the port names the program will list.
struct DialogLayout {
    wxPoint midiButton;
    wxPoint outputSwitch;
    wxPoint close;
};

DialogLayout LearnDialogLayout(const std::string& inputName, const std::string& outputName)
{
    DialogLayout l;
    SetMessageSink([](const wxString&) {});
    const auto centre = [](wxWindow* c) { return c->GetPosition() + wxPoint(c->GetSize().x / 2, c->GetSize().y / 2); };
    auto* w = new wxKeyboard(nullptr);
    wxWindow* button = w->FindWindow(ID_MIDI_SETTINGS);
    l.midiButton = centre(button);
    for (wxWindow* p = button->GetParent(); p && p != w; p = p->GetParent())
        l.midiButton += p->GetPosition();
    fake::InputDevice ins{"in", {inputName}, nullptr};
    fake::OutputDevice outs{"out", {outputName}, nullptr};
    struct NoSettings : MidiSettingsInterface {
        void SelectMidiInputDevice(int) override {}
        void SelectMidiOutputDevice(int) override {}
        void SetMidiInputChannel(int) override {}
        void SetMidiOutputChannel(int) override {}
        void SetMidiOutputEnabled(bool) override {}
    } settings;
    settings.midiIn = &ins;
    settings.midiOut = &outs;
    auto* d = new wxMidiSettingsDlg(w, &settings);
    l.outputSwitch = centre(d->FindWindow(ID_MIDI_OUTPUT_ENABLED));
    l.close = centre(d->FindWindow(ID_MIDI_CLOSE));
    d->Destroy();
    w->Destroy();
    PumpEvents(100);
    SetMessageSink({});
    return l;
}

std::string FindWindow(const std::string& name)
{
    std::string id = Output("xdotool search --onlyvisible --name '^" + name + "$'");
    return id.substr(0, id.find('\n'));
}

// A million messages of every kind, on the input channel and others.
size_t FloodMessage(uint64_t i, uint8_t* m)
{
    const auto b = [](uint64_t v) { return static_cast<uint8_t>(v & 0x7F); };
    const auto put = [m](std::initializer_list<uint8_t> bytes) {
        size_t n = 0;
        for (uint8_t x : bytes)
            m[n++] = x;
        return n;
    };
    switch (i % 16) {
    case 0: return put({0x90, b(i * 7), static_cast<uint8_t>(1 + i % 127)});
    case 1: return put({0x80, b(i * 5), 64});
    case 2: return put({0x90, b(i * 3), 0});
    case 3: return put({0xB0, 1, b(i)});
    case 4: return put({0xE0, b(i), b(i >> 7)});
    case 5: return put({0xC0, b(i)});
    case 6: return put({0xB0, 123, 0});
    case 7: return put({0xB0, 123, 1});
    case 8: return put({0xB0, 7, b(i)});
    case 9: return put({0x91, b(i * 11), 100});
    case 10: return put({0xA0, b(i), b(i)});
    case 11: return put({0xD0, b(i)});
    case 12: return put({0xF8});
    case 13: return put({0xFE});
    case 14: return put({0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7});
    default: return put({0x90, b(i * 13), 127});
    }
}

TEST(MidiPlay, OutputSwitchedOnInTheDialogEchoesTheKeyboardAndAFloodIsTaken)
{
    ASSERT_FALSE(ProgramPath().empty());
    wxTheApp->SetExitOnFrameDelete(false);
    // Learnt before any JACK server runs, so this process opens no port.
    setenv("JACK_DEFAULT_SERVER", ("mrv-none-" + std::to_string(getpid())).c_str(), 1);
    const DialogLayout layout = LearnDialogLayout("mrv-keys:keys", "mrv-keys:echo");

    testproc::JackServer jack("e2e-midi-out", true);
    ASSERT_TRUE(jack.Ready());
    e2e::JackMidiClient keys("mrv-keys");
    ASSERT_TRUE(keys.Ok());
    Child marovane({ProgramPath()});
    const std::string window = WaitForProgramWindow();
    ASSERT_FALSE(window.empty());
    ASSERT_TRUE(keys.ConnectAudio("marovane:out_0", "marovane:out_1"));
    ASSERT_NE(Output("jack_lsp -c mrv-keys:echo").find("Marovane out:MIDI out"), std::string::npos)
        << "the program did not open the client's port as its output port 0";

    // The MIDI button, the switch, Close: as a person does it.
    const auto click = [](const std::string& w, wxPoint p) {
        return Sh("xdotool mousemove --window " + w + " " + std::to_string(p.x) + " " + std::to_string(p.y) +
                  " sleep 0.1 click 1");
    };
    Sh("xdotool windowactivate --sync " + window);
    ASSERT_EQ(click(window, layout.midiButton), 0);
    std::string dialog;
    ASSERT_TRUE(Eventually([&] { return !(dialog = FindWindow("MIDI Settings")).empty(); }, 5s))
        << "the MIDI Settings dialog did not open";
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(click(dialog, layout.outputSwitch), 0);
    std::this_thread::sleep_for(200ms);
    ASSERT_EQ(click(dialog, layout.close), 0);
    ASSERT_TRUE(Eventually([&] { return FindWindow("MIDI Settings").empty(); }, 5s)) << "Close did not close";
    EXPECT_TRUE(keys.Received().empty()) << "nothing is sent before a note is played";

    Sh("xdotool windowactivate --sync " + window);
    Sh("xdotool keydown a");
    std::this_thread::sleep_for(300ms);
    Sh("xdotool keyup a");
    ASSERT_TRUE(Eventually([&] { return keys.Received().size() >= 2; }, 3s)) << "no echo of the key";
    std::this_thread::sleep_for(200ms);
    const std::vector<e2e::TimedMessage> echo = keys.Received();
    ASSERT_EQ(echo.size(), 2u);
    EXPECT_EQ(echo[0].bytes, (std::vector<uint8_t>{0x90, 60, 127}));
    EXPECT_EQ(echo[1].bytes, (std::vector<uint8_t>{0x80, 60, 0}));

    // The flood, with a key pressed in its middle: the window must still
    // answer it, and send its Note On.
    keys.Record();
    constexpr uint64_t kFlood = 1000000;
    const auto floodStart = std::chrono::steady_clock::now();
    keys.Flood(kFlood, FloodMessage);
    ASSERT_TRUE(Eventually([&] { return keys.FloodSent() > kFlood / 3; }, 60s));
    const size_t before = keys.Received().size();
    const auto pressed = std::chrono::steady_clock::now();
    Sh("xdotool keydown a");
    const auto echoed = [&] {
        const std::vector<e2e::TimedMessage> r = keys.Received();
        return std::any_of(r.begin() + static_cast<long>(before), r.end(), [](const e2e::TimedMessage& m) {
            return m.bytes == std::vector<uint8_t>{0x90, 60, 127};
        });
    };
    EXPECT_TRUE(Eventually(echoed, 10s)) << "the key pressed during the flood was never echoed";
    const double answer = std::chrono::duration<double>(std::chrono::steady_clock::now() - pressed).count();
    Sh("xdotool keyup a");
    ASSERT_TRUE(Eventually([&] { return !keys.Flooding(); }, 120s)) << keys.FloodSent();
    const double floodSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - floodStart).count();
    EXPECT_TRUE(marovane.Wait(0ms) == std::nullopt) << "the program ended during the flood";

    // All notes off, the wheels at rest: silence, then a note plays as before.
    Play(keys, {0xB0, 123, 0});
    Play(keys, {0xE0, 0, 64});
    Play(keys, {0xB0, 1, 0});
    Wait(keys, 0.1);
    const size_t quiet = keys.Recorded();
    Wait(keys, 0.5);
    EXPECT_LT(Peak(keys.Left(), quiet, quiet + 22050), 1e-6) << "a note stuck after All Notes Off";
    const size_t on = Play(keys, {0x90, 69, 100});
    Wait(keys, 0.5);
    EXPECT_NEAR(Amplitude(keys.Left(), on + 2205, on + 19845, 440.0), kNoteAmplitude, 0.003);
    Play(keys, {0x80, 69, 0});

    const auto closeStart = std::chrono::steady_clock::now();
    Sh("xdotool windowactivate --sync " + window + " key alt+F4");
    EXPECT_EQ(marovane.Wait(15s), std::optional<int>(0));
    const double closeSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - closeStart).count();
    std::printf("Flood: %llu messages in %.2f s (%.0f messages/s); a key pressed during it echoed after %.3f s; "
                "the window closed %.3f s after alt+F4\n",
                static_cast<unsigned long long>(kFlood), floodSeconds, kFlood / floodSeconds, answer, closeSeconds);
    RecordProperty("flood_messages_per_second", static_cast<int>(kFlood / floodSeconds));
    EXPECT_LT(answer, 1.0) << "the window did not answer a key within a second during the flood";
    EXPECT_LT(closeSeconds, 3.0);
}

TEST(MidiPlay, WithoutJackBothMidiMessagesComeBeforeTheWindowAndTheProgramRuns)
{
    ASSERT_FALSE(ProgramPath().empty());
    setenv("JACK_DEFAULT_SERVER", ("mrv-none-" + std::to_string(getpid())).c_str(), 1);
    Child marovane({ProgramPath()});
    int boxes = 0;
    std::string window;
    const bool shown = Eventually(
        [&] {
            const std::string box = FindWindow("Message");
            if (!box.empty()) {
                EXPECT_TRUE(FindWindow("Marovane").empty()) << "a message box came after the window";
                ++boxes;
                Sh("xdotool windowactivate --sync " + box + " key Return");
                Eventually([&] { return FindWindow("Message") != box; }, 3s);
                return false;
            }
            window = FindWindow("Marovane");
            return !window.empty();
        },
        30s);
    ASSERT_TRUE(shown);
    // The input message, the output message, and the sound's own (their texts
    // and order are checked in the window's own tests).
    std::printf("Without a JACK server: %d message boxes before the window\n", boxes);
    EXPECT_GE(boxes, 3);
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(FindWindow("Message").empty()) << "a message box after the window";
    Sh("xdotool windowactivate --sync " + window + " key alt+F4");
    EXPECT_EQ(marovane.Wait(15s), std::optional<int>(0));
}

} // namespace
