// The real program kept across a restart: the player draws in the editor with
// the mouse, draws a slip and takes it back with Ctrl+Z, saves with Ctrl+S
// into a folder of the player's own (XDG_DATA_HOME), quits, starts the
// program again and loads the file with the Load button. What was saved is
// checked three ways: its values are the drawn ones, marovane-render plays it
// to the same bytes as the drawn sound written independently, and the
// restarted program sounds it. Ctrl+Z and Ctrl+S play no note on the way,
// though Z and S are note keys, and a later save under the same name asks
// before it replaces the file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <wx/app.h>

#include "app/Keyboard.h"
#include "controls/MessageBox.h"
#include "app/TestProcess.h"
#include "controls/SpectrumMath.h"
#include "controls/SynthParametersDlg.h"
#include "e2e/Recording.h"
#include "patch/Patch.h"
#include "support/GuiTest.h"

namespace {

using testproc::Child;
using testproc::Output;

struct EditorLayout {
    wxPoint editor; // the editor's top left in the window's client area
    int height = 0;
    float scale = 0;
    wxPoint load; // the Load button's centre
};

EditorLayout LearnEditor()
{
    EditorLayout l;
    SetMessageSink([](const wxString&) {});
    auto* w = new wxKeyboard(nullptr);
    wxHarmonicsPanel* editor = w->SynthParameters()->GetHarmonicsPanel();
    l.editor = w->SynthParameters()->GetPosition() + editor->GetPosition();
    l.height = editor->GetClientSize().y;
    l.scale = editor->GetDisplayScale();
    wxWindow* load = w->FindWindow(ID_LOAD_PATCH);
    l.load = load->GetPosition() + wxPoint(load->GetSize().x / 2, load->GetSize().y / 2);
    w->Destroy();
    PumpEvents(100);
    SetMessageSink({});
    return l;
}

int Sh(const std::string& command) { return testproc::Run(command); }

// Waits until the file dialog of that title is shown and has the keyboard,
// then gives it a moment to settle its focus on the name field.
bool WaitForDialog(const std::string& title)
{
    const bool active = Eventually(
        [&] {
            std::string w = Output("xdotool search --onlyvisible --name '^" + title + "$'");
            w = w.substr(0, w.find('\n'));
            if (w.empty())
                return false;
            testproc::Run("xdotool windowactivate --sync " + w);
            return Output("xdotool getactivewindow getwindowname").find(title) == 0;
        },
        10s);
    std::this_thread::sleep_for(1s);
    return active;
}

TEST(SaveAndLoad, DrawUndoASlipSaveQuitStartAgainAndLoad)
{
    const char* binDir = std::getenv("MAROVANE_BIN_DIR");
    ASSERT_NE(binDir, nullptr);
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("marovane-e2e-save-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    // The programs started here save into a data folder of the test's own.
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    const std::filesystem::path saved = dir / "data" / "marovane" / "patches" / "drawn.mrvn";

    testproc::JackServer jack("e2e-save");
    ASSERT_TRUE(jack.Ready());
    // Another program's MIDI ports: start-up opens them and asks nothing.
    testproc::OtherMidiPorts otherMidi;
    ASSERT_TRUE(otherMidi.Ready());
    wxTheApp->SetExitOnFrameDelete(false);
    const EditorLayout layout = LearnEditor();
    const int h = layout.height;

    // The drawing: one click on bar 2, then a stroke over bars 4 to 8 (the
    // sustain spectrum is the one edited at start), low enough that the
    // sound stays within full scale, which the recording cannot go beyond.
    // The slip: a stroke over bars 20 to 25.
    struct Bar {
        int bar, y;
    };
    std::vector<Bar> click = {{2, h - h / 5}};
    std::vector<Bar> stroke, slip;
    for (int bar = 4; bar <= 8; ++bar)
        stroke.push_back({bar, h - h / 10 + 3 * (bar - 4)});
    for (int bar = 20; bar <= 25; ++bar)
        slip.push_back({bar, h / 3});
    Patch drawn;
    drawn.sustainPercent = 100;
    drawn.releaseMs = 10;
    drawn.lfoFrequency = 5.0f;
    drawn.attack.level[0] = 0.5f;
    drawn.sustain.level[0] = 0.5f;
    for (const std::vector<Bar>* bars : {&click, &stroke})
        for (const Bar& b : *bars)
            drawn.sustain.level[b.bar] = HarmonicsClickLevel(b.y, h, layout.scale);

    Child first({std::string(binDir) + "/marovane"});
    ASSERT_TRUE(first.Running());
    std::string window = WaitForProgramWindow();
    ASSERT_FALSE(window.empty()) << "no window, or no JACK output";
    Sh("xdotool windowactivate --sync " + window);
    const auto draw = [&](const std::vector<Bar>& bars) {
        const auto move = [&](const Bar& b) {
            return "mousemove --window " + window + " " + std::to_string(layout.editor.x + 5 * b.bar + 2) + " " +
                   std::to_string(layout.editor.y + b.y) + " sleep 0.05 ";
        };
        std::string cmd = "xdotool " + move(bars.front()) + "mousedown 1 sleep 0.05 ";
        for (size_t i = 1; i < bars.size(); ++i)
            cmd += move(bars[i]);
        cmd += "mouseup 1";
        ASSERT_EQ(Sh(cmd), 0);
        std::this_thread::sleep_for(200ms);
    };
    draw(click);
    draw(stroke);
    draw(slip);

    // Ctrl+Z, Ctrl+S, the name and Enter, then a note: the only sound of the
    // take is that note, from the drawn sound without the slip.
    const std::string take1 = (dir / "first.wav").string();
    Child recorder({"jack_rec", "-f", take1, "-d", "10", "-b", "32", "marovane:out_0", "marovane:out_1"});
    ASSERT_TRUE(Eventually(
        [&] { return Output("jack_lsp -c marovane:out_0").find("jackrec") != std::string::npos; }, 5s));
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(Sh("xdotool key ctrl+z"), 0);
    std::this_thread::sleep_for(500ms);
    ASSERT_EQ(Sh("xdotool key ctrl+s"), 0);
    ASSERT_TRUE(WaitForDialog("Save A Config")) << "Ctrl+S opened no dialog";
    ASSERT_EQ(Sh("xdotool type --delay 40 drawn"), 0);
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(Sh("xdotool key Return"), 0);
    ASSERT_TRUE(Eventually([&] { return std::filesystem::exists(saved); }, 5s)) << "nothing saved";
    std::this_thread::sleep_for(800ms);
    Sh("xdotool windowactivate --sync " + window);
    ASSERT_EQ(Sh("xdotool keydown a sleep 0.6 keyup a"), 0);
    ASSERT_TRUE(recorder.Wait(15s).has_value()) << "jack_rec did not finish";

    // One more bar, saved under the same name typed without its extension:
    // the program asks before it replaces drawn.mrvn, and Enter (No) keeps
    // the file as it was.
    draw({{30, h / 2}});
    ASSERT_EQ(Sh("xdotool key ctrl+s"), 0);
    ASSERT_TRUE(WaitForDialog("Save A Config"));
    ASSERT_EQ(Sh("xdotool type --delay 40 drawn"), 0);
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(Sh("xdotool key Return"), 0);
    // The question is a window of its own over the main window (the toolkit
    // gives it no title).
    const auto activeName = [] { return Output("xdotool getactivewindow getwindowname"); };
    ASSERT_TRUE(Eventually(
        [&] {
            const std::string name = activeName();
            return !name.empty() && name.find("Marovane") != 0 && name.find("Save A Config") != 0;
        },
        5s))
        << "no question before replacing the file";
    std::this_thread::sleep_for(500ms);
    ASSERT_EQ(Sh("xdotool key Return"), 0);
    ASSERT_TRUE(Eventually([&] { return activeName().find("Marovane") == 0; }, 5s));

    Sh("xdotool windowactivate --sync " + window + " key alt+F4");
    EXPECT_EQ(first.Wait(15s), std::optional<int>(0));

    {
        const Recording rec = ReadWav(take1);
        ASSERT_GT(rec.left.size(), static_cast<size_t>(6 * kRate)) << "no recording";
        const auto sounds = SoundingStretches(rec.left, 1e-3f, static_cast<size_t>(0.2 * kRate));
        ASSERT_EQ(sounds.size(), 1u) << "Ctrl+Z or Ctrl+S played a note, or the note after them did not sound";
        EXPECT_NEAR(Amplitude(rec.left, sounds[0].first + 2000, sounds[0].second - 2000, 3 * 261.626),
                    drawn.sustain.level[2], 0.005);
        EXPECT_LT(Amplitude(rec.left, sounds[0].first + 2000, sounds[0].second - 2000, 21 * 261.626), 0.005)
            << "the slip was not undone";
    }

    // The file holds the drawn sound, value for value...
    Patch read;
    ASSERT_EQ(ReadPatchFile(saved.string(), read), "");
    EXPECT_TRUE(SameSound(SoundOfPatch(read), SoundOfPatch(drawn)));
    EXPECT_EQ(read.modWheel, 0);
    // ...and renders to the bytes of the drawn sound written here.
    const std::string expected = (dir / "expected.mrvn").string();
    ASSERT_EQ(WritePatchFile(expected, drawn), "");
    const std::string render = std::string(binDir) + "/marovane-render --hold 0.5 ";
    ASSERT_EQ(Sh(render + "--patch '" + saved.string() + "' -o '" + (dir / "saved.wav").string() + "' 48 60 67"), 0);
    ASSERT_EQ(Sh(render + "--patch '" + expected + "' -o '" + (dir / "expected.wav").string() + "' 48 60 67"), 0);
    // The sample data, bit for bit (the header carries the time of writing).
    const Recording savedRender = ReadWav((dir / "saved.wav").string());
    const Recording expectedRender = ReadWav((dir / "expected.wav").string());
    ASSERT_GT(savedRender.left.size(), 20000u);
    ASSERT_EQ(savedRender.left.size(), expectedRender.left.size());
    EXPECT_EQ(std::memcmp(savedRender.left.data(), expectedRender.left.data(), savedRender.left.size() * sizeof(float)),
              0)
        << "the saved sound renders differently";
    EXPECT_EQ(savedRender.right, expectedRender.right);

    // Start again: the default sound, until the file is loaded through the
    // Load button's dialog.
    Child second({std::string(binDir) + "/marovane"});
    ASSERT_TRUE(second.Running());
    window = WaitForProgramWindow();
    ASSERT_FALSE(window.empty());
    Sh("xdotool windowactivate --sync " + window);
    ASSERT_EQ(Sh("xdotool mousemove --window " + window + " " + std::to_string(layout.load.x) + " " +
                 std::to_string(layout.load.y) + " sleep 0.1 click 1"),
              0);
    ASSERT_TRUE(WaitForDialog("Load A Config")) << "the Load button opened no dialog";
    ASSERT_EQ(Sh("xdotool key ctrl+l sleep 0.3 type --delay 20 '" + saved.string() + "'"), 0);
    std::this_thread::sleep_for(300ms);
    ASSERT_EQ(Sh("xdotool key Return"), 0);
    ASSERT_TRUE(Eventually([&] { return Output("xdotool search --onlyvisible --name '^Load A Config$'").empty(); },
                           5s));
    std::this_thread::sleep_for(500ms);

    const std::string take2 = (dir / "second.wav").string();
    Child recorder2({"jack_rec", "-f", take2, "-d", "3", "-b", "32", "marovane:out_0", "marovane:out_1"});
    ASSERT_TRUE(Eventually(
        [&] { return Output("jack_lsp -c marovane:out_0").find("jackrec") != std::string::npos; }, 5s));
    std::this_thread::sleep_for(300ms);
    Sh("xdotool windowactivate --sync " + window);
    ASSERT_EQ(Sh("xdotool keydown a sleep 1.2 keyup a"), 0);
    ASSERT_TRUE(recorder2.Wait(15s).has_value());
    Sh("xdotool windowactivate --sync " + window + " key alt+F4");
    EXPECT_EQ(second.Wait(15s), std::optional<int>(0));

    const Recording rec = ReadWav(take2);
    const auto sounds = SoundingStretches(rec.left, 1e-3f, static_cast<size_t>(0.2 * kRate));
    ASSERT_EQ(sounds.size(), 1u);
    const size_t from = sounds[0].first + 4410, to = sounds[0].second - 4410;
    ASSERT_LT(from, to);
    const double f0 = 261.626;
    for (int partial = 1; partial <= 26; ++partial)
        EXPECT_NEAR(Amplitude(rec.left, from, to, partial * f0), drawn.sustain.level[partial - 1], 0.005)
            << "partial " << partial << " of the loaded sound";

    if (!testing::Test::HasFailure())
        std::filesystem::remove_all(dir);
}

} // namespace
