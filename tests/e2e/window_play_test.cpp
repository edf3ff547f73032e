// The real program played with the mouse and the computer keyboard, as a
// person plays it, recorded from JACK in one take:
//  1. one click halfway up bar 2 of the harmonics editor (the sustain
//     spectrum, zoom 2), then key A: partial 3 sounds at the level the click
//     set beside the fundamental at 0.5;
//  2. "Saw" chosen in the waveform choice, Generate, then key A: partials 1 to
//     8 stand as 1, 1/2, ... 1/8, the whole spectrum scaled for two notes;
//  3. key A held while the mouse clicks the window's background: the note
//     stops at the click, not at the key's release.
// Where the controls are is learnt from a window built in this process on the
// same display, so no pixel position is written into the test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <numeric>

#include <wx/app.h>

#include "app/Keyboard.h"
#include "controls/MessageBox.h"
#include "app/TestProcess.h"
#include "controls/SpectrumMath.h"
#include "controls/SynthParametersDlg.h"
#include "e2e/Recording.h"
#include "support/GuiTest.h"

namespace {

using testproc::Child;
using testproc::Output;

struct Layout {
    wxPoint barTwoHalfway; // in the window's client area
    float barTwoLevel = 0;
    wxPoint waveformChoice;
    wxPoint generate;
    wxPoint background;
};

// Builds the main window here, reads where its controls are, and closes it.
Layout LearnLayout()
{
    Layout l;
    SetMessageSink([](const wxString&) {});
    auto* w = new wxKeyboard(nullptr);
    wxHarmonicsPanel* editor = w->SynthParameters()->GetHarmonicsPanel();
    const int h = editor->GetClientSize().y;
    const wxPoint editorAt = w->SynthParameters()->GetPosition() + editor->GetPosition();
    l.barTwoHalfway = editorAt + wxPoint(2 * HARMONICS_BAR_WIDTH + 2, h / 2);
    l.barTwoLevel = HarmonicsClickLevel(h / 2, h, editor->GetDisplayScale());
    const auto centre = [](wxWindow* c) { return c->GetPosition() + wxPoint(c->GetSize().x / 2, c->GetSize().y / 2); };
    l.waveformChoice = centre(w->FindWindow(ID_HARMONIC_WAVEFORM));
    l.generate = centre(w->FindWindow(ID_GENERATE));
    // The margin left of the harmonics editor.
    l.background = wxPoint(2, w->SynthParameters()->GetPosition().y + 100);
    w->Destroy();
    PumpEvents(100);
    SetMessageSink({});
    return l;
}

int Sh(const std::string& command) { return testproc::Run(command); }

TEST(WindowPlay, EditorClickGeneratedSawAndAReleaseOverTheBackground)
{
    const char* binDir = std::getenv("MAROVANE_BIN_DIR");
    ASSERT_NE(binDir, nullptr);
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("marovane-e2e-window-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string wav = (dir / "take.wav").string();

    testproc::JackServer jack("e2e-window");
    ASSERT_TRUE(jack.Ready());
    // Another program's MIDI ports: start-up opens them and asks nothing.
    testproc::OtherMidiPorts otherMidi;
    ASSERT_TRUE(otherMidi.Ready());
    wxTheApp->SetExitOnFrameDelete(false);
    const Layout layout = LearnLayout();
    ASSERT_GT(layout.barTwoLevel, 0.2f);

    Child marovane({std::string(binDir) + "/marovane"});
    ASSERT_TRUE(marovane.Running());
    const std::string window = WaitForProgramWindow();
    ASSERT_FALSE(window.empty()) << "no window, or no JACK output";
    Sh("xdotool windowactivate --sync " + window);
    const auto click = [&](wxPoint p) {
        return Sh("xdotool mousemove --window " + window + " " + std::to_string(p.x) + " " + std::to_string(p.y) +
                  " sleep 0.1 click 1");
    };
    const auto play = [&](double seconds) {
        ASSERT_EQ(Sh("xdotool keydown a"), 0);
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
        ASSERT_EQ(Sh("xdotool keyup a"), 0);
    };

    Child recorder({"jack_rec", "-f", wav, "-d", "8", "-b", "32", "marovane:out_0", "marovane:out_1"});
    ASSERT_TRUE(Eventually(
        [&] { return Output("jack_lsp -c marovane:out_0").find("jackrec") != std::string::npos; }, 5s));
    std::this_thread::sleep_for(300ms);

    // 1. The editor, then a note.
    ASSERT_EQ(click(layout.barTwoHalfway), 0);
    std::this_thread::sleep_for(200ms);
    play(0.8);
    std::this_thread::sleep_for(500ms);

    // 2. "Saw" from the drop-down (one below "Square"), Generate, a note.
    ASSERT_EQ(click(layout.waveformChoice), 0);
    std::this_thread::sleep_for(500ms);
    Sh("xdotool key Down sleep 0.2 key space");
    std::this_thread::sleep_for(400ms);
    ASSERT_EQ(click(layout.generate), 0);
    std::this_thread::sleep_for(200ms);
    play(0.8);
    std::this_thread::sleep_for(500ms);

    // 3. A click on the background while A is down.
    // The click comes well after the key, and the key-up well after the
    // click, so that each has its own stretch of the recording.
    ASSERT_EQ(Sh("xdotool keydown a"), 0);
    std::this_thread::sleep_for(900ms);
    ASSERT_EQ(click(layout.background), 0);
    std::this_thread::sleep_for(1200ms);
    ASSERT_EQ(Sh("xdotool keyup a"), 0);

    ASSERT_TRUE(recorder.Wait(15s).has_value()) << "jack_rec did not finish";
    Sh("xdotool windowactivate --sync " + window + " key alt+F4");
    EXPECT_EQ(marovane.Wait(15s), std::optional<int>(0));

    const Recording rec = ReadWav(wav);
    ASSERT_GT(rec.left.size(), static_cast<size_t>(5 * kRate)) << "no recording";
    const auto notes = SoundingStretches(rec.left, 1e-3f, static_cast<size_t>(0.2 * kRate));
    ASSERT_EQ(notes.size(), 3u) << "three notes were played, and nothing sounds after the last key-up";
    const double f0 = 261.626;
    const auto steady = [&](size_t i) {
        // The middle of the note, clear of its start and its release.
        return std::pair<size_t, size_t>{notes[i].first + static_cast<size_t>(0.1 * kRate),
                                         notes[i].second - static_cast<size_t>(0.1 * kRate)};
    };

    // 1. The fundamental at 0.5 and partial 3 at the click's level, nothing
    //    else.
    {
        auto [from, to] = steady(0);
        ASSERT_LT(from, to);
        EXPECT_NEAR(Amplitude(rec.left, from, to, f0), 0.5, 0.005);
        EXPECT_NEAR(Amplitude(rec.left, from, to, 3 * f0), layout.barTwoLevel, 0.005);
        EXPECT_LT(Amplitude(rec.left, from, to, 2 * f0), 0.005);
    }
    // 2. The saw: partial n at 1/n of the fundamental, the 128 levels summing
    //    to 1/2 (two notes at full scale).
    {
        auto [from, to] = steady(1);
        ASSERT_LT(from, to);
        double harmonic128 = 0;
        for (int n = 1; n <= 128; ++n)
            harmonic128 += 1.0 / n;
        const double a1 = Amplitude(rec.left, from, to, f0);
        EXPECT_NEAR(a1, 0.5 / harmonic128, 0.002);
        for (int n = 2; n <= 8; ++n)
            EXPECT_NEAR(Amplitude(rec.left, from, to, n * f0) / a1, 1.0 / n, 0.01) << "partial " << n;
    }
    // 3. The note ends at the click, long before its key is let go.
    {
        const double held = static_cast<double>(notes[2].second - notes[2].first) / kRate;
        EXPECT_GT(held, 0.4);
        EXPECT_LT(held, 1.5) << "the click on the background did not silence the note";
    }

    std::filesystem::remove_all(dir);
}

} // namespace
