// The real `marovane` on the virtual display, played through the X server and
// recorded from a JACK dummy server of the test's own:
//  - under a server at 48000 Hz key A still sounds middle C at peak 0.5, and
//    the start prints a handful of lines, not ALSA's probing;
//  - the audio settings dialog opened from its button: the JACK device chosen
//    from its drop-down while a key is held, the note sounds again on the
//    reopened stream, and after Close the computer keyboard plays;
//  - the server killed under a held note: one message within a second, the
//    audio settings answering at once, a second message when the server is
//    back, and the window closes with the program gone within two seconds,
//    exit status 0.
#include <gtest/gtest.h>
#include <signal.h>
#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <wx/app.h>

#include "app/Keyboard.h"
#include "controls/MessageBox.h"
#include "app/TestProcess.h"
#include "audio/AudioDevices.h"
#include "audio/AudioSettings.h"
#include "controls/KeylessControls.h"
#include "e2e/Recording.h"
#include "support/GuiTest.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testproc::Child;
using testproc::Output;

int Sh(const std::string& command) { return testproc::Run(command); }

std::string Program() { return std::string(std::getenv("MAROVANE_BIN_DIR")) + "/marovane"; }

// A folder for this test's files (and the screenshots a person would look at).
std::filesystem::path WorkDir(const std::string& tag)
{
    const auto dir = std::filesystem::temp_directory_path() / ("marovane-audio-e2e-" + tag + "-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return dir;
}

void Screenshot(const std::string& name)
{
    const char* bin = std::getenv("MAROVANE_BIN_DIR");
    const auto dir = std::filesystem::path(bin) / ".." / "screenshots";
    std::filesystem::create_directories(dir);
    Sh("import -window root " + (dir / name).string());
}

// A JACK dummy server at `rate` under this test's own name, made the default
// of this process and so of the program it starts; synchronous, so that a
// client late on a busy machine delays the cycle instead of leaving a hole.
struct Jack {
    Jack(const std::string& tag, int rate) : name(testproc::ServerName(tag)), rate(rate)
    {
        setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        Start();
    }
    void Start()
    {
        server = Child({"jackd", "-S", "-r", "-n", name, "-d", "dummy", "-r", std::to_string(rate), "-p", "256"});
        ready = Sh("jack_wait -w -t 30") == 0;
    }
    std::string name;
    int rate;
    Child server;
    bool ready = false;
};

// The program, its output kept in a file.
Child StartProgram(const std::string& log)
{
    return Child({"sh", "-c", "exec \"$0\" >\"$1\" 2>&1", Program(), log}, false);
}

std::vector<std::string> Lines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// A stereo recording at any rate; the left channel.
std::vector<float> ReadLeft(const std::string& path, int& rate)
{
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f)
        return {};
    std::vector<float> frames(static_cast<size_t>(info.frames) * info.channels);
    sf_readf_float(f, frames.data(), info.frames);
    sf_close(f);
    rate = info.samplerate;
    std::vector<float> left;
    for (sf_count_t i = 0; i < info.frames; ++i)
        left.push_back(frames[static_cast<size_t>(i * info.channels)]);
    return left;
}

float Peak(const std::vector<float>& x, size_t from, size_t to)
{
    float peak = 0;
    for (size_t i = from; i < to && i < x.size(); ++i)
        peak = std::max(peak, std::abs(x[i]));
    return peak;
}

std::string Click(const std::string& window, wxPoint p)
{
    return "xdotool mousemove --window " + window + " " + std::to_string(p.x) + " " + std::to_string(p.y) +
           " sleep 0.2 click 1";
}

double MsSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

TEST(AudioEndToEnd, AtA48000HzServerKeyASoundsMiddleCAtHalfScaleAndTheStartIsQuiet)
{
    const auto dir = WorkDir("48k");
    const std::string wav = (dir / "take.wav").string(), log = (dir / "out.txt").string();
    Jack jack("e2e-48k", 48000);
    ASSERT_TRUE(jack.ready);
    // Another program's MIDI ports: the start opens them and asks nothing.
    testproc::OtherMidiPorts otherMidi;
    ASSERT_TRUE(otherMidi.Ready());

    Child marovane = StartProgram(log);
    const std::string window = WaitForProgramWindow();
    ASSERT_FALSE(window.empty()) << "no window, or no JACK output";
    EXPECT_TRUE(FindWindow("Message", 500ms).empty()) << "a message at start: the stream did not open";
    Sh("xdotool windowactivate --sync " + window);
    // Five seconds: room for the key, its release and the release's tail.
    Child recorder({"jack_rec", "-f", wav, "-d", "5", "-b", "32", "marovane:out_0", "marovane:out_1"});
    ASSERT_TRUE(Eventually([&] { return Output("jack_lsp -c marovane:out_0").find("jackrec") != std::string::npos; }, 5s));
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(Sh("xdotool keydown a"), 0);
    std::this_thread::sleep_for(1000ms);
    ASSERT_EQ(Sh("xdotool keyup a"), 0);
    ASSERT_TRUE(recorder.Wait(10s).has_value());
    Sh("xdotool windowactivate --sync " + window + " key alt+F4");
    const auto code = marovane.Wait(10s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0);

    int rate = 0;
    const std::vector<float> x = ReadLeft(wav, rate);
    EXPECT_EQ(rate, 48000);
    size_t onset = 0, last = 0;
    while (onset < x.size() && std::abs(x[onset]) < 0.01f)
        ++onset;
    for (size_t i = 0; i < x.size(); ++i)
        if (std::abs(x[i]) > 1e-4f)
            last = i;
    ASSERT_GT(last, onset + static_cast<size_t>(0.5 * rate)) << "no note in the recording";
    const size_t from = onset + rate / 10, to = last - rate / 10;
    EXPECT_NEAR(Peak(x, from, to), 0.5f, 0.01f);
    // The median of short stretches' frequencies, so that one buffer the
    // recorder lost under load does not count. (Frequency() counts in
    // 44100ths of a second; this recording is at its own rate.)
    std::vector<double> hz;
    for (size_t a = from; a + rate / 20 <= to; a += rate / 20)
        hz.push_back(Frequency(x, a, a + rate / 20) * rate / kRate);
    ASSERT_GE(hz.size(), 5u);
    std::sort(hz.begin(), hz.end());
    EXPECT_NEAR(hz[hz.size() / 2], 261.626, 0.3);

    // A start prints a handful of lines, none of them the sound libraries'
    // probing.
    const std::vector<std::string> lines = Lines(log);
    std::string all;
    for (const std::string& l : lines)
        all += l + "\n";
    EXPECT_LE(lines.size(), 5u) << all;
    EXPECT_EQ(all.find("ALSA lib"), std::string::npos) << all;
    std::filesystem::remove_all(dir);
}

// Where a person clicks: the audio settings button in the main window, and
// in the dialog the device choice and Close, learnt from the same windows
// built here.
struct Layout {
    wxPoint audioButton, choice, close;
};

Layout LearnLayout()
{
    Layout l;
    SetMessageSink([](const wxString&) {});
    const auto centre = [](wxWindow* c) { return c->GetPosition() + wxPoint(c->GetSize().x / 2, c->GetSize().y / 2); };
    auto* w = new wxKeyboard(nullptr);
    l.audioButton = centre(w->FindWindow(ID_AUDIO_SETTINGS));
    w->Destroy();
    struct OneJackDevice : AudioDevices {
        int Count() const override { return 1; }
        AudioDeviceInfo Info(int) const override { return {"system", "JACK Audio Connection Kit", 2, 0.0116, 44100}; }
        bool Plays(const PaStreamParameters&, double rate) const override { return rate == 44100; }
    } devices;
    auto* d = new wxAudioSettings(nullptr, nullptr, ID_AUDIO_SETTINGS_DIALOG, "Audio Settings", wxDefaultPosition,
                                  wxSize(400, 300), AUDIO_SETTINGS_STYLE, &devices);
    l.choice = centre(d->DeviceChoice());
    l.close = centre(d->FindWindow(ID_AUDIO_CLOSE));
    d->Destroy();
    PumpEvents(100);
    SetMessageSink({});
    return l;
}

// The program's JACK output ports as they are now (a new stream has new ones).
std::vector<std::string> OutputPorts()
{
    std::vector<std::string> ports;
    const std::string list = Output("jack_lsp marovane:");
    for (size_t at = 0; at < list.size();) {
        const size_t end = list.find('\n', at);
        const std::string port = list.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (port.find(":out_") != std::string::npos)
            ports.push_back(port);
        at = end == std::string::npos ? list.size() : end + 1;
    }
    return ports;
}

// Records the program's output for `seconds` into `wav`; true once connected.
bool Record(Child& recorder, const std::string& wav, double seconds)
{
    const std::vector<std::string> ports = OutputPorts();
    if (ports.size() != 2)
        return false;
    recorder = Child({"jack_rec", "-f", wav, "-d", std::to_string(seconds), "-b", "32", ports[0], ports[1]});
    return Eventually([&] { return Output("jack_lsp -c " + ports[0]).find("jackrec") != std::string::npos; }, 5s);
}

TEST(AudioEndToEnd, ChoosingTheJackDeviceInTheDialogBringsTheHeldNoteBackAndCloseGivesTheKeysBack)
{
    const auto dir = WorkDir("dialog");
    const std::string before = (dir / "before.wav").string(), after = (dir / "after.wav").string();
    Jack jack("e2e-dialog", 44100);
    ASSERT_TRUE(jack.ready);
    testproc::OtherMidiPorts otherMidi;
    ASSERT_TRUE(otherMidi.Ready());
    wxTheApp->SetExitOnFrameDelete(false);
    const Layout layout = LearnLayout();

    Child marovane = StartProgram((dir / "out.txt").string());
    const std::string window = WaitForProgramWindow();
    ASSERT_FALSE(window.empty()) << "no window, or no JACK output";
    Sh("xdotool windowactivate --sync " + window);
    const std::vector<std::string> portsBefore = OutputPorts();

    // The button opens the dialog; a note key held there plays.
    ASSERT_EQ(Sh(Click(window, layout.audioButton)), 0);
    const std::string dialog = FindWindow("Audio Settings", 5s);
    ASSERT_FALSE(dialog.empty()) << "the audio settings button opened no dialog";
    std::this_thread::sleep_for(300ms);
    Child recorder;
    ASSERT_TRUE(Record(recorder, before, 1.5));
    ASSERT_EQ(Sh("xdotool keydown a"), 0);
    std::this_thread::sleep_for(800ms);
    Screenshot("audio-settings.png");
    ASSERT_TRUE(recorder.Wait(10s).has_value());

    // The drop-down, then the entry under the pointer: the JACK device, the
    // only one on this machine and the one in use. It is opened anew.
    ASSERT_EQ(Sh(Click(dialog, layout.choice) + " sleep 0.7 click 1"), 0);
    ASSERT_TRUE(Eventually([&] { return OutputPorts() != portsBefore && OutputPorts().size() == 2; }, 5s))
        << "the stream was not opened again";
    ASSERT_TRUE(Record(recorder, after, 4));
    const auto recordStart = Clock::now();
    std::this_thread::sleep_for(1000ms);
    ASSERT_EQ(Sh("xdotool keyup a"), 0);
    std::this_thread::sleep_for(300ms);

    // Close: the dialog goes and the computer keyboard plays again.
    ASSERT_EQ(Sh(Click(dialog, layout.close)), 0);
    EXPECT_TRUE(Eventually([&] { return FindWindow("Audio Settings", 100ms).empty(); }, 3s)) << "Close left it open";
    std::this_thread::sleep_for(300ms);
    const double secondKeyAt = MsSince(recordStart) / 1000;
    ASSERT_EQ(Sh("xdotool key --delay 600 d"), 0); // D: note 62
    ASSERT_TRUE(recorder.Wait(15s).has_value());
    EXPECT_TRUE(FindWindow("Message", 100ms).empty()) << "a message box came up";
    Sh("xdotool windowactivate --sync " + window + " key alt+F4");
    const auto code = marovane.Wait(10s);
    ASSERT_TRUE(code.has_value());
    EXPECT_EQ(*code, 0);

    int rate = 0;
    const std::vector<float> x = ReadLeft(before, rate);
    const std::vector<float> y = ReadLeft(after, rate);
    ASSERT_EQ(rate, 44100);
    // Before the choice: middle C from the key held in the dialog.
    const auto first = SoundingStretches(x, 0.01f, rate / 50);
    ASSERT_FALSE(first.empty()) << "the key held in the dialog did not play";
    EXPECT_NEAR(Peak(x, first[0].first + rate / 10, first[0].second), 0.5f, 0.01f);
    // On the new stream: the same note from the first buffer on, until its
    // key is up; then note 62 from the keyboard once the dialog is closed.
    const auto stretches = SoundingStretches(y, 0.01f, rate / 50);
    std::string seen;
    for (auto [a, b] : stretches)
        seen += std::to_string(double(a) / rate) + "-" + std::to_string(double(b) / rate) + " ";
    ASSERT_EQ(stretches.size(), 2u) << seen;
    EXPECT_LT(stretches[0].first, static_cast<size_t>(rate / 20)) << "the held note did not sound again: " << seen;
    EXPECT_GT(double(stretches[0].second) / rate, 0.8) << seen;
    EXPECT_NEAR(Peak(y, rate / 10, rate / 2), 0.5f, 0.01f);
    EXPECT_NEAR(Frequency(y, rate / 10, rate / 2), 261.626, 0.5);
    const auto last = stretches.back();
    EXPECT_GT(double(last.first) / rate, secondKeyAt - 0.3) << seen;
    EXPECT_NEAR(Frequency(y, last.first + rate / 20, last.second - rate / 20), 293.665, 0.5) << seen;
    std::filesystem::remove_all(dir);
}

TEST(AudioEndToEnd, AServerKilledUnderAHeldNoteIsReportedAndTheProgramStillClosesAtOnce)
{
    const auto dir = WorkDir("killed");
    const std::string log = (dir / "out.txt").string();
    Jack jack("e2e-killed", 44100);
    ASSERT_TRUE(jack.ready);
    testproc::OtherMidiPorts otherMidi;
    ASSERT_TRUE(otherMidi.Ready());
    wxTheApp->SetExitOnFrameDelete(false);
    const Layout layout = LearnLayout();

    Child marovane = StartProgram(log);
    const std::string window = WaitForProgramWindow();
    ASSERT_FALSE(window.empty()) << "no window, or no JACK output";
    Sh("xdotool windowactivate --sync " + window);
    ASSERT_EQ(Sh("xdotool keydown a"), 0);
    std::this_thread::sleep_for(500ms);

    const auto killed = Clock::now();
    kill(jack.server.Pid(), SIGTERM);
    const std::string lost = FindWindow("Message", 3s);
    const double noticedMs = MsSince(killed);
    ASSERT_FALSE(lost.empty()) << "nobody told the user";
    EXPECT_LT(noticedMs, 1500.0) << "the loss took too long to notice";
    jack.server.Wait(5s);
    ASSERT_EQ(Sh("xdotool keyup a"), 0);
    std::this_thread::sleep_for(300ms);
    Screenshot("server-lost.png");
    Sh("xdotool windowactivate --sync " + lost + " key Return");
    EXPECT_TRUE(Eventually([&] { return FindWindow("Message", 100ms).empty(); }, 3s));
    EXPECT_TRUE(FindWindow("Message", 1000ms).empty()) << "told more than once";

    // The window still works, and its audio settings answer at once: no
    // device can be opened in this process any more, and the user is told.
    ASSERT_EQ(Sh(Click(window, layout.audioButton)), 0);
    const std::string refused = FindWindow("Message", 3s);
    EXPECT_FALSE(refused.empty()) << "the audio settings said nothing on a dead server";
    EXPECT_TRUE(FindWindow("Audio Settings", 100ms).empty());
    Sh("xdotool windowactivate --sync " + refused + " key Return");
    EXPECT_TRUE(Eventually([&] { return FindWindow("Message", 100ms).empty(); }, 3s));

    // The server comes back: told once that a restart brings the sound back.
    jack.Start();
    ASSERT_TRUE(jack.ready);
    const std::string back = FindWindow("Message", 5s);
    EXPECT_FALSE(back.empty()) << "the server's return went unmentioned";
    Sh("xdotool windowactivate --sync " + back + " key Return");
    EXPECT_TRUE(Eventually([&] { return FindWindow("Message", 100ms).empty(); }, 3s));

    // Closing never waits on the dead stream.
    Sh("xdotool windowactivate --sync " + window);
    const auto closed = Clock::now();
    Sh("xdotool key alt+F4");
    const auto code = marovane.Wait(10s);
    const double exitMs = MsSince(closed);
    ASSERT_TRUE(code.has_value()) << "still running 10 s after its window was closed";
    EXPECT_EQ(*code, 0);
    EXPECT_LT(exitMs, 2000.0);
    std::printf("loss noticed after %.0f ms; exit %.0f ms after the close\n", noticedMs, exitMs);
    std::filesystem::remove_all(dir);
}

} // namespace
