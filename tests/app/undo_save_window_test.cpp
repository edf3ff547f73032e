// Undo, saving and the clip warning in the real window, driven through the X
// server: a stroke drawn with the mouse and a slider drag are one step each
// and Ctrl+Z / Ctrl+Y / Ctrl+Shift+Z walk through them; every spectrum
// button, the LFO choice, the band limit's switch and a patch load are one
// step, and undo puts every control back; a save writes what a load gives back; a meter turns red over
// full scale.
#include <atomic>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <wx/choice.h>
#include <wx/log.h>
#include <wx/uiaction.h>

#include "app/KeyboardFixture.h"
#include "controls/MessageBox.h"
#include "app/ParameterSliders.h"
#include "app/SavePatch.h"
#include "controls/BitmapSlider.h"
#include "controls/MiniWavePanel.h"
#include "controls/Switch.h"
#include "controls/SynthParametersDlg.h"
#include "controls/VolumeMeter.h"

namespace {

// Everything the window shows of the sound.
struct Shown {
    std::vector<float> attack, sustain;           // the editor's own copies
    std::vector<float> attackWave, sustainWave;   // the previews
    wxString peakLevel, safePolyphony;            // the editor's figures
    std::vector<float> sliders;                   // envelope and LFO
    std::vector<wxString> sliderTexts;
    int lfoShape = -1;
    bool bandLimit = false;                       // the switch
    Sound sound;                                  // what the render plays

    bool operator==(const Shown& o) const
    {
        return attack == o.attack && sustain == o.sustain && attackWave == o.attackWave &&
               sustainWave == o.sustainWave && peakLevel == o.peakLevel && safePolyphony == o.safePolyphony &&
               sliders == o.sliders && sliderTexts == o.sliderTexts && lfoShape == o.lfoShape &&
               bandLimit == o.bandLimit && SameSound(sound, o.sound);
    }
};

class UndoSaveWindowTest : public KeyboardWindowTest {
protected:
    std::vector<std::vector<uint8_t>> sent;

    void SetUp() override
    {
        KeyboardWindowTest::SetUp();
        window->GetInstrument().SetMidiOutputEnabled(true);
        window->SetMidiMonitor([this](const std::vector<uint8_t>& m) { sent.push_back(m); });
    }

    wxHarmonicsPanel* Editor() const { return window->SynthParameters()->GetHarmonicsPanel(); }
    template <typename T>
    T* Control(int id) const
    {
        return dynamic_cast<T*>(window->FindWindow(id));
    }

    Shown Capture() const
    {
        Shown s;
        s.attack.assign(Editor()->GetAttackLevels(), Editor()->GetAttackLevels() + NUM_PARTIALS);
        s.sustain.assign(Editor()->GetSustainLevels(), Editor()->GetSustainLevels() + NUM_PARTIALS);
        const auto* a = Control<wxMiniWavePanel>(ID_ATTACK_PREVIEW);
        const auto* b = Control<wxMiniWavePanel>(ID_SUSTAIN_PREVIEW);
        s.attackWave.assign(a->GetWaveData(), a->GetWaveData() + PREVIEW_LENGTH);
        s.sustainWave.assign(b->GetWaveData(), b->GetWaveData() + PREVIEW_LENGTH);
        s.peakLevel = window->SynthParameters()->GetPeakLevelLabel()->GetLabel();
        s.safePolyphony = window->SynthParameters()->GetSafePolyphonyLabel()->GetLabel();
        for (const ParameterSlider& row : PARAMETER_SLIDERS) {
            auto* slider = Control<wxBitmapSlider>(row.sliderId);
            s.sliders.push_back(slider->GetValue());
            // The value text is the slider's right-hand neighbour in the grid.
            wxWindowList& siblings = window->GetChildren();
            auto it = std::find(siblings.begin(), siblings.end(), slider);
            s.sliderTexts.push_back((*++it)->GetLabel());
        }
        s.lfoShape = Control<wxChoice>(ID_LFO_WAVEFORM)->GetSelection();
        s.bandLimit = Control<wxSwitch>(ID_BAND_LIMIT)->GetValue();
        s.sound = window->Synth().CurrentSound();
        return s;
    }

    bool NoNotePlayed() const
    {
        for (const auto& m : sent)
            if (!m.empty() && (m[0] & 0xF0) == 0x90)
                return false;
        return NothingHeld();
    }
};

// A stroke across twenty bars is one step: with two strokes drawn, Ctrl+Z
// takes back the second whole and leaves the first, and the editor, its
// figures and both previews show what they showed before it; Ctrl+Y and
// Ctrl+Shift+Z bring it back. The second stroke is a quick one, the pointer
// moving five bars at a time, and still draws every bar it crosses. None of
// these keys plays a note, though Z is a note key.
TEST_F(UndoSaveWindowTest, AStrokeDrawnWithTheMouseIsOneStep)
{
    wxUIActionSimulator sim;
    const int h = Editor()->GetClientSize().y;
    const auto stroke = [&](int from, int to, int barsPerMove) {
        const auto at = [&](int bar, int y) { return Editor()->ClientToScreen(wxPoint(5 * bar + 2, y)); };
        sim.MouseMove(at(from, h / 2));
        PumpEvents(50);
        sim.MouseDown();
        PumpEvents(30);
        for (int bar = from + barsPerMove; bar <= to; bar += barsPerMove) {
            sim.MouseMove(at(bar, h / 2 - 4 * (bar - from)));
            PumpEvents(15);
        }
        sim.MouseUp();
        PumpEvents(100);
    };
    stroke(40, 50, 1);
    const Shown before = Capture();
    ASSERT_EQ(window->GetInstrument().History().UndoSteps(), 1u);
    stroke(10, 30, 5);
    const Shown drawn = Capture();
    EXPECT_EQ(window->GetInstrument().History().UndoSteps(), 2u);
    int drawnBars = 0;
    for (int bar = 10; bar <= 30; ++bar)
        drawnBars += drawn.sustain[bar] > 0.2f;
    ASSERT_EQ(drawnBars, 21) << "the stroke left gaps";
    ASSERT_FALSE(drawn.sustainWave == before.sustainWave);
    ASSERT_FALSE(drawn.peakLevel == before.peakLevel);

    XKey("key", "ctrl+z");
    EXPECT_TRUE(WaitFor([&] { return Capture() == before; })) << "one Ctrl+Z did not take the stroke back";
    XKey("key", "ctrl+y");
    EXPECT_TRUE(WaitFor([&] { return Capture() == drawn; })) << "Ctrl+Y did not redo the stroke";
    XKey("key", "ctrl+z");
    EXPECT_TRUE(WaitFor([&] { return Capture() == before; }));
    XKey("key", "ctrl+shift+z");
    EXPECT_TRUE(WaitFor([&] { return Capture() == drawn; })) << "Ctrl+Shift+Z did not redo the stroke";
    PumpEvents(100);
    EXPECT_TRUE(NoNotePlayed()) << "a Ctrl key played a note";
    // And without Ctrl the same key is a note again.
    XKey("key", "z");
    EXPECT_TRUE(WaitFor([&] { return !NoNotePlayed(); }));
}

// A slider dragged through many positions is one step, whose undo puts the
// parameter, the slider and its text back.
TEST_F(UndoSaveWindowTest, ASliderDragIsOneStep)
{
    const Shown before = Capture();
    auto* slider = Control<wxBitmapSlider>(ID_ATTACK_SLIDER);
    wxUIActionSimulator sim;
    const int y = slider->GetClientSize().y / 2;
    sim.MouseMove(slider->ClientToScreen(wxPoint(8, y)));
    PumpEvents(50);
    sim.MouseDown();
    for (int x = 20; x <= 120; x += 10) {
        sim.MouseMove(slider->ClientToScreen(wxPoint(x, y)));
        PumpEvents(15);
    }
    sim.MouseUp();
    PumpEvents(100);
    ASSERT_GT(window->Synth().attackMs, 200) << "the drag did not move the slider";
    EXPECT_EQ(window->GetInstrument().History().UndoSteps(), 1u);
    XKey("key", "ctrl+z");
    EXPECT_TRUE(WaitFor([&] { return Capture() == before; }));
    EXPECT_EQ(window->Synth().attackMs, 0);
    EXPECT_TRUE(NoNotePlayed());
}

// Each of these is one step of its own, and each undo, from the last, puts
// every control back as it was before that step.
TEST_F(UndoSaveWindowTest, ButtonsTheLfoChoiceAndALoadAreOneStepEach)
{
    const wxString patches = wxString::FromUTF8(std::getenv("MAROVANE_BIN_DIR")) + "/patches/";
    const auto button = [&](int id) {
        return [this, id] {
            wxCommandEvent e(wxEVT_BUTTON, id);
            e.SetEventObject(window->FindWindow(id));
            window->GetEventHandler()->ProcessEvent(e);
        };
    };
    struct Step {
        const char* name;
        std::function<void()> run;
    };
    const std::vector<Step> steps = {
        {"Generate", button(ID_GENERATE)},
        {"copy sustain to attack", button(ID_COPY_SUSTAIN_TO_ATTACK)},
        {"Clear", button(ID_CLEAR)},
        {"copy attack to sustain", button(ID_COPY_ATTACK_TO_SUSTAIN)},
        {"Normalize for three notes",
         [&] {
             // The target polyphony is no step; Normalize for it is.
             wxSpinEvent up(wxEVT_SCROLL_LINEUP, SynthParametersDlg::ID_TARGET_SPIN);
             up.SetEventObject(window->SynthParameters()->GetTargetSpin());
             window->SynthParameters()->GetTargetSpin()->GetEventHandler()->ProcessEvent(up);
             ASSERT_EQ(window->SynthParameters()->GetTargetPolyphony(), 3);
             button(ID_NORMALIZE)();
         }},
        {"the LFO shape",
         [&] {
             auto* choice = Control<wxChoice>(ID_LFO_WAVEFORM);
             choice->SetSelection(3);
             wxCommandEvent e(wxEVT_CHOICE, ID_LFO_WAVEFORM);
             e.SetEventObject(choice);
             e.SetInt(3);
             window->GetEventHandler()->ProcessEvent(e);
         }},
        {"a patch load", [&] { ASSERT_TRUE(window->LoadPatchFile(patches + "Organ.mrvn")); }},
    };
    std::vector<Shown> before;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        before.push_back(Capture());
        const size_t depth = window->GetInstrument().History().UndoSteps();
        step.run();
        PumpEvents(20);
        EXPECT_FALSE(Capture() == before.back()) << "the step changed nothing";
        EXPECT_EQ(window->GetInstrument().History().UndoSteps(), depth + 1);
    }
    for (size_t i = steps.size(); i-- > 0;) {
        SCOPED_TRACE(std::string("undo ") + steps[i].name);
        XKey("key", "ctrl+z");
        EXPECT_TRUE(WaitFor([&] { return Capture() == before[i]; }));
    }
    EXPECT_TRUE(messages.empty());
}

// The band limit's switch, clicked with the mouse, turns the band limit on
// as one step; Ctrl+Z turns it off and the switch with it, Ctrl+Y back on. A
// patch loaded sets it as the patch holds it. No click on it plays a note or
// takes the keys from the music.
TEST_F(UndoSaveWindowTest, TheBandLimitSwitchIsOneStepAndFollowsAPatch)
{
    auto* button = Control<wxSwitch>(ID_BAND_LIMIT);
    ASSERT_NE(button, nullptr);
    ASSERT_FALSE(window->Synth().bandLimit.load());
    const Shown before = Capture();
    ASSERT_FALSE(before.bandLimit);
    wxUIActionSimulator sim;
    sim.MouseMove(button->ClientToScreen(wxPoint(button->GetClientSize().x / 2, button->GetClientSize().y / 2)));
    PumpEvents(50);
    sim.MouseClick();
    ASSERT_TRUE(WaitFor([&] { return window->Synth().bandLimit.load(); })) << "the click set nothing";
    const Shown on = Capture();
    EXPECT_TRUE(on.bandLimit);
    EXPECT_TRUE(on.sound.bandLimit);
    EXPECT_EQ(window->GetInstrument().History().UndoSteps(), 1u);
    EXPECT_FALSE(button->HasFocus()) << "the switch took the keys";

    XKey("key", "ctrl+z");
    EXPECT_TRUE(WaitFor([&] { return Capture() == before; })) << "Ctrl+Z did not turn the band limit off";
    XKey("key", "ctrl+y");
    EXPECT_TRUE(WaitFor([&] { return Capture() == on; })) << "Ctrl+Y did not turn it on again";

    const wxString patches = wxString::FromUTF8(std::getenv("MAROVANE_BIN_DIR")) + "/patches/";
    ASSERT_TRUE(window->LoadPatchFile(patches + "Organ.mrvn"));
    EXPECT_TRUE(WaitFor([&] { return !Capture().bandLimit && !window->Synth().bandLimit.load(); }));
    const std::filesystem::path limited =
        std::filesystem::temp_directory_path() / ("marovane-band-limit-" + std::to_string(getpid()) + ".mrvn");
    std::ofstream(limited) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Settings><Sustain Sustain=\"100\"/>"
                              "<BandLimit BandLimit=\"1\"/><SustainHarmonic0 SustainHarmonic0=\"0.5\"/></Settings>\n";
    ASSERT_TRUE(window->LoadPatchFile(limited.string()));
    EXPECT_TRUE(WaitFor([&] { return Capture().bandLimit && window->Synth().bandLimit.load(); }))
        << "the patch's band limit is not shown";
    std::filesystem::remove(limited);
    PumpEvents(50);
    EXPECT_TRUE(NoNotePlayed());
    EXPECT_TRUE(messages.empty());
}

// What Ctrl+S writes once a name is chosen is what a load gives back: the
// sound and the mod wheel's position. A folder that does not exist is said
// in one message.
TEST_F(UndoSaveWindowTest, ASavedPatchLoadsBackTheSameSound)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("marovane-save-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const wxString path = (dir / "drawn.mrvn").string();

    Sound drawn = window->Synth().CurrentSound();
    drawn.attackMs = 123;
    drawn.lfoFrequency = 7.3f;
    drawn.lfoWaveform = 5;
    drawn.bandLimit = true;
    for (int h = 0; h < NUM_PARTIALS; ++h)
        drawn.sustain.level[h] = 0.1f / static_cast<float>(h + 3);
    window->Synth().SetSound(drawn);
    window->GetInstrument().StepModWheel(0, true);
    const int wheel = window->ModWheelValue();
    ASSERT_GT(wheel, 0);
    ASSERT_TRUE(window->SavePatchFile(path));

    ASSERT_TRUE(window->LoadPatchFile(wxString::FromUTF8(std::getenv("MAROVANE_BIN_DIR")) + "/patches/Organ.mrvn"));
    ASSERT_FALSE(SameSound(window->Synth().CurrentSound(), drawn));
    window->GetInstrument().ResetControllers();
    ASSERT_TRUE(window->LoadPatchFile(path));
    EXPECT_TRUE(SameSound(window->Synth().CurrentSound(), drawn));
    EXPECT_EQ(window->ModWheelValue(), wheel);
    EXPECT_TRUE(messages.empty());

    EXPECT_FALSE(window->SavePatchFile((dir / "no-such-folder" / "x.mrvn").string()));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].Find("x.mrvn"), wxNOT_FOUND) << messages[0];
    std::filesystem::remove_all(dir);
}

// A name typed without the extension gets it; when that names a file the
// dialog did not ask about, the user is asked, and No writes nothing.
TEST(PatchPathToWrite, AsksBeforeReplacingAFileTheExtensionNames)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("marovane-topath-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream((dir / "old.mrvn").string()) << "[Marovane]\n";
    std::ofstream((dir / "plain").string()) << "not a patch\n";
    const wxString d = dir.string() + "/";
    struct Case {
        const char* chosen;
        bool answer;
        const char* asked; // the file named in the question, or null for none
        wxString written;
    };
    const Case cases[] = {
        {"new.mrvn", false, nullptr, d + "new.mrvn"},
        {"old.mrvn", false, nullptr, d + "old.mrvn"}, // the dialog asked already
        {"new", false, nullptr, d + "new.mrvn"},
        {"old", true, "old.mrvn", d + "old.mrvn"},
        {"old", false, "old.mrvn", ""},
        {"plain", false, nullptr, d + "plain.mrvn"}, // never the file without the extension
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chosen);
        std::vector<wxString> questions;
        SetQuestionSink([&](const wxString& q) {
            questions.push_back(q);
            return c.answer;
        });
        EXPECT_EQ(PatchPathToWrite(d + c.chosen), c.written);
        ASSERT_EQ(questions.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_NE(questions[0].Find(wxString("\"") + c.asked + "\""), wxNOT_FOUND) << questions[0];
        }
    }
    SetQuestionSink({});
    std::filesystem::remove_all(dir);
}

// A person at the screen: every save dialog that comes up is counted and
// closed with Escape, until the watcher is destroyed.
class SaveDialogCloser {
public:
    SaveDialogCloser()
        : person([this] {
              while (watching) {
                  std::string id = testproc::Output("xdotool search --onlyvisible --name '^Save A Config$'");
                  id = id.substr(0, id.find('\n'));
                  if (id.empty()) {
                      std::this_thread::sleep_for(std::chrono::milliseconds(50));
                      continue;
                  }
                  ++opened;
                  testproc::Run("xdotool windowactivate --sync " + id + " key Escape");
                  for (int i = 0; i < 100 && watching; ++i) {
                      std::this_thread::sleep_for(std::chrono::milliseconds(50));
                      if (testproc::Output("xdotool search --onlyvisible --name '^Save A Config$'").empty())
                          break;
                  }
              }
          })
    {
    }
    ~SaveDialogCloser()
    {
        watching = false;
        person.join();
    }
    std::atomic<int> opened{0};

private:
    std::atomic<bool> watching{true};
    std::thread person;
};

// Ctrl+S as the window receives it from the keyboard.
void PressCtrlS(wxWindow* window)
{
    for (const wxEventType type : {wxEVT_KEY_DOWN, wxEVT_KEY_UP}) {
        wxKeyEvent key(type);
        key.m_keyCode = 'S';
        key.m_rawFlags = 39; // the X key code of S
        key.SetControlDown(true);
        key.SetEventObject(window);
        window->GetEventHandler()->ProcessEvent(key);
    }
}

// Ctrl+S pressed twice before the save dialog is up (a quick double press, a
// repeating key) opens one dialog, and the next Ctrl+S opens one again.
TEST_F(UndoSaveWindowTest, CtrlSTwiceQuicklyOpensOneSaveDialog)
{
    SaveDialogCloser person;
    PressCtrlS(window);
    PressCtrlS(window);
    PumpEvents(3000);
    EXPECT_EQ(person.opened, 1);
    PressCtrlS(window);
    PumpEvents(3000);
    EXPECT_EQ(person.opened, 2) << "after a dialog was closed Ctrl+S opened none";
    EXPECT_TRUE(NoNotePlayed());
}

// Counts what the toolkit's own log would have shown in boxes of its own.
class LogCounter : public wxLog {
public:
    LogCounter() : previous(wxLog::SetActiveTarget(this)) {}
    ~LogCounter() override { wxLog::SetActiveTarget(previous); }
    std::vector<wxString> records;

protected:
    void DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo&) override
    {
        if (level <= wxLOG_Warning)
            records.push_back(msg);
    }

private:
    wxLog* previous;
};

// Sets an environment variable for one test and puts it back afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char* name_, const std::string& value) : name(name_)
    {
        const char* old = std::getenv(name);
        had = old != nullptr;
        saved = old ? old : "";
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv()
    {
        if (had)
            setenv(name, saved.c_str(), 1);
        else
            unsetenv(name);
    }

private:
    const char* name;
    bool had = false;
    std::string saved;
};

// XDG_DATA_HOME naming a file: Ctrl+S says so in one message, naming the
// file and the folder it saves in instead, the player's home folder's, and
// the save dialog opens there; the toolkit adds no box of its own.
TEST_F(UndoSaveWindowTest, XdgDataHomeNamingAFileGivesOneMessageAndSavesInTheHomeFolder)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("marovane-xdg-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "home");
    std::ofstream(dir / "afile") << "not a folder";
    const ScopedEnv home("HOME", (dir / "home").string());
    const ScopedEnv data("XDG_DATA_HOME", (dir / "afile").string());
    const std::filesystem::path fallback = dir / "home" / ".local" / "share" / "marovane" / "patches";
    {
        LogCounter log;
        SaveDialogCloser person;
        PressCtrlS(window);
        EXPECT_TRUE(WaitFor([&] { return person.opened == 1; }, 10000)) << "no save dialog";
        PumpEvents(300);
        EXPECT_TRUE(log.records.empty()) << log.records.front();
    }
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].Contains("\"" + (dir / "afile").string() + "\" is not a folder")) << messages[0];
    EXPECT_TRUE(messages[0].Contains("\"" + fallback.string() + "\"")) << messages[0];
    EXPECT_TRUE(std::filesystem::is_directory(fallback));
    std::filesystem::remove_all(dir);
}

TEST(UserPatchFolder, FollowsXdgDataHome)
{
    const char* old = std::getenv("XDG_DATA_HOME");
    const std::string saved = old ? old : "";
    const wxString home = wxGetHomeDir();
    struct Case {
        const char* value; // null: unset
        wxString folder;
    };
    const Case cases[] = {
        {"/data/me", "/data/me/marovane/patches"},
        {nullptr, home + "/.local/share/marovane/patches"},
        {"", home + "/.local/share/marovane/patches"},
        {"relative/path", home + "/.local/share/marovane/patches"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(unset)");
        if (c.value)
            setenv("XDG_DATA_HOME", c.value, 1);
        else
            unsetenv("XDG_DATA_HOME");
        EXPECT_EQ(UserPatchFolder(), c.folder);
    }
    if (old)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");

    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("marovane-folder-" + std::to_string(getpid()));
    EXPECT_TRUE(MakeUserPatchFolder((dir / "a" / "b").string()));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "a" / "b"));
    EXPECT_TRUE(MakeUserPatchFolder((dir / "a" / "b").string())) << "an existing folder";
    std::filesystem::remove_all(dir);
    EXPECT_EQ(PatchPathWithExtension("/p/sound"), "/p/sound.mrvn");
    EXPECT_EQ(PatchPathWithExtension("/p/sound.mrvn"), "/p/sound.mrvn");
}

// Where a save starts, and the one message about it, for a usable patch
// folder, one behind a file (the home folder's instead) and no usable folder
// at all (the dialog's own place).
TEST(UserPatchFolder, PrepareSaveFolderFallsBackToTheHomeFolder)
{
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("marovane-prepare-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "home");
    std::filesystem::create_directories(dir / "data");
    std::ofstream(dir / "afile") << "not a folder";
    const std::string file = (dir / "afile").string();
    const std::string homePatches = (dir / "home" / ".local/share/marovane/patches").string();
    const struct {
        std::string xdg, home, folder, problem;
    } cases[] = {
        {(dir / "data").string(), (dir / "home").string(), (dir / "data/marovane/patches").string(), ""},
        {file, (dir / "home").string(), homePatches,
         "Cannot make the patch folder \"" + file + "/marovane/patches\": \"" + file +
             "\" is not a folder. Patches are saved in \"" + homePatches + "\" instead."},
        {file, file, "",
         "Cannot make the patch folder \"" + file + "/marovane/patches\": \"" + file + "\" is not a folder."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xdg + " " + c.home);
        const ScopedEnv home("HOME", c.home);
        const ScopedEnv data("XDG_DATA_HOME", c.xdg);
        const SaveFolder start = PrepareSaveFolder();
        EXPECT_EQ(start.folder.ToStdString(), c.folder);
        EXPECT_EQ(start.problem.ToStdString(), c.problem);
        if (!c.folder.empty()) {
            EXPECT_TRUE(std::filesystem::is_directory(c.folder));
        }
    }
    std::filesystem::remove_all(dir);
}

// The colour of one pixel of the screen, read through the X server.
wxColour ScreenPixel(wxPoint p)
{
    const std::string out = testproc::Output("import -window root -crop 1x1+" + std::to_string(p.x) + "+" +
                                             std::to_string(p.y) + " -depth 8 txt:-");
    int r = -1, g = -1, b = -1;
    const size_t at = out.find("0,0: (");
    if (at == std::string::npos || std::sscanf(out.c_str() + at, "0,0: (%d,%d,%d", &r, &g, &b) != 3)
        return wxColour();
    return wxColour(static_cast<unsigned char>(r), static_cast<unsigned char>(g), static_cast<unsigned char>(b));
}

// A sound peaking at 0.5 leaves the meters orange; one peaking at 2.0 turns
// them red, and they stay red for about a second after the note ends.
TEST_F(UndoSaveWindowTest, AMeterOverFullScaleTurnsRedForASecond)
{
    auto* left = Control<wxVolumeMeter>(ID_LEFT_METER);
    auto* right = Control<wxVolumeMeter>(ID_RIGHT_METER);
    const auto barPixel = [&] { return ScreenPixel(left->ClientToScreen(wxPoint(5, left->GetClientSize().y / 2))); };

    window->NoteOn(69, false);
    ASSERT_TRUE(WaitFor([&] { return left->GetLevelValue() == 49 || left->GetLevelValue() == 50; }))
        << left->GetLevelValue();
    for (int i = 0; i < 20; ++i) {
        PumpEvents(50);
        EXPECT_FALSE(left->IsClipping() || right->IsClipping()) << "a sound at 0.5 showed an overload";
    }
    const wxColour orange = barPixel();
    EXPECT_GT(orange.Red(), 200);
    EXPECT_GT(orange.Green(), 100) << "the bar is not orange";
    window->NoteOff(69, false);
    PumpEvents(100);

    Sound loud = window->Synth().CurrentSound();
    loud.attack.level[0] = loud.sustain.level[0] = 2.0f;
    window->Synth().SetSound(loud);
    window->NoteOn(69, false);
    ASSERT_TRUE(WaitFor([&] { return left->IsClipping() && right->IsClipping(); })) << "no warning at 2.0";
    EXPECT_GT(left->GetLevelValue(), 190);
    PumpEvents(100);
    const wxColour red = barPixel();
    EXPECT_GT(red.Red(), 200);
    EXPECT_LT(red.Green(), 60) << "the bar is not red";
    window->NoteOff(69, false);
    wxStopWatch sw;
    ASSERT_TRUE(WaitFor([&] { return left->GetLevelValue() == 0; }));
    ASSERT_TRUE(WaitFor([&] { return !left->IsClipping(); }, 3000)) << "the warning never went";
    EXPECT_GT(sw.Time(), 700) << "the warning did not hold";
    EXPECT_LT(sw.Time(), 1600);
}

} // namespace
