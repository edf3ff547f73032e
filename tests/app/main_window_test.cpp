// The whole main window under a real X server: every control of its table,
// the start-up state, and what each control does when a person uses it
// (mouse through wxUIActionSimulator, keys through the X server).
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>

#include <wx/choice.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/timer.h>
#include <wx/tooltip.h>
#include <wx/uiaction.h>

#include "app/KeyboardFixture.h"
#include "controls/BitmapSlider.h"
#include "controls/BitmapSpinButton.h"
#include "controls/KeylessControls.h"
#include "controls/MiniWavePanel.h"
#include "controls/Palette.h"
#include "controls/SpectrumMath.h"
#include "controls/SpectrumTexts.h"
#include "controls/SynthParametersDlg.h"
#include "controls/VolumeMeter.h"
#include "midi/MidiSettingsDlg.h"
#include "support/ScreenPixels.h"

namespace {

using Message = std::vector<uint8_t>;

class MainWindowTest : public KeyboardWindowTest {
protected:
    template <class T> T* Get(int id) const
    {
        T* w = dynamic_cast<T*>(window->FindWindow(id));
        EXPECT_NE(w, nullptr) << "no control " << id << " of the expected kind";
        return w;
    }
    wxString Text(int id) const { return Get<wxStaticText>(id)->GetLabel(); }
    wxHarmonicsPanel* Editor() const { return window->SynthParameters()->GetHarmonicsPanel(); }

    // A click as a person makes it, at a point of a control (its centre by
    // default).
    void Click(wxWindow* w, wxPoint at = wxDefaultPosition)
    {
        if (at == wxDefaultPosition)
            at = wxPoint(w->GetClientSize().x / 2, w->GetClientSize().y / 2);
        wxUIActionSimulator sim;
        sim.MouseMove(w->ClientToScreen(at));
        PumpEvents(30);
        sim.MouseClick();
        PumpEvents(60);
    }
    void Click(int id) { Click(window->FindWindow(id)); }

    // A press at one point of a bitmap slider, a drag to another and the
    // release.
    void Drag(wxBitmapSlider* s, wxPoint from, wxPoint to)
    {
        wxUIActionSimulator sim;
        sim.MouseMove(s->ClientToScreen(from));
        PumpEvents(30);
        sim.MouseDown();
        PumpEvents(30);
        sim.MouseMove(s->ClientToScreen(to));
        PumpEvents(60);
        sim.MouseUp();
        PumpEvents(60);
    }
    // The pixel column of a horizontal slider whose press gives `value`.
    static int ColumnFor(const wxBitmapSlider* s, float value)
    {
        const SliderGeometry g = s->Geometry();
        for (int x = 0; x < g.width; ++x)
            if (SliderValueAt(g, x, g.height / 2) >= value)
                return x;
        return g.width - 1;
    }
    // The scroll event a slider sends, after its value was set.
    static void SendChanged(wxBitmapSlider* s, float value)
    {
        s->SetValue(value);
        wxScrollEvent e(wxEVT_SCROLL_CHANGED, s->GetId(), static_cast<int>(value));
        e.SetEventObject(s);
        s->GetEventHandler()->ProcessEvent(e);
    }
    void PressButton(int id)
    {
        wxCommandEvent e(wxEVT_BUTTON, id);
        e.SetEventObject(window->FindWindow(id));
        window->GetEventHandler()->ProcessEvent(e);
    }
    void MonitorMidi()
    {
        window->SetMidiOutputEnabled(true);
        window->SetMidiMonitor([this](const Message& m) { sent.push_back(m); });
    }
    // A static text of the window with this label and the window's colours.
    wxStaticText* Caption(const wxString& label) const
    {
        for (wxWindow* child : window->GetChildren())
            if (auto* t = dynamic_cast<wxStaticText*>(child); t && t->GetLabel() == label)
                return t;
        return nullptr;
    }

    std::vector<Message> sent;
};

enum class Kind { Panel, Text, Slider, BitmapSlider, Choice, Preview, Button, BitmapButton, Meter, Spin };

bool IsKind(wxWindow* w, Kind k)
{
    switch (k) {
    case Kind::Panel: return dynamic_cast<SynthParametersDlg*>(w);
    case Kind::Text: return dynamic_cast<wxStaticText*>(w);
    case Kind::Slider: return dynamic_cast<wxSlider*>(w);
    case Kind::BitmapSlider: return dynamic_cast<wxBitmapSlider*>(w);
    case Kind::Choice: return dynamic_cast<wxKeylessChoice*>(w);
    case Kind::Preview: return dynamic_cast<wxMiniWavePanel*>(w);
    case Kind::Button: return dynamic_cast<wxKeylessButton*>(w);
    case Kind::BitmapButton: return dynamic_cast<wxKeylessBitmapButton*>(w);
    case Kind::Meter: return dynamic_cast<wxVolumeMeter*>(w);
    case Kind::Spin: return dynamic_cast<wxBitmapSpinButton*>(w);
    }
    return false;
}

TEST_F(MainWindowTest, EveryControlOfTheTableWithItsKindSizeTooltipAndFirstValue)
{
    struct Row {
        int id;
        Kind kind;
        wxSize size; // -1: the toolkit's
        const char* tip;
        const char* text; // label, selection or value as text; null: none
    };
    const Row table[] = {
        {13000, Kind::Panel, {-1, -1}, "", nullptr},
        {10041, Kind::Slider, {-1, 290}, "", "2"},
        {10047, Kind::BitmapSlider, {211, 24}, "", "0"},
        {10048, Kind::BitmapSlider, {211, 24}, "", "0"},
        {10049, Kind::BitmapSlider, {211, 24}, "", "100"},
        {10050, Kind::BitmapSlider, {211, 24}, "", "10"},
        {10044, Kind::BitmapSlider, {211, 24}, "", "50"},
        {10046, Kind::Text, {32, -1}, "", "5.0"},
        {10045, Kind::Choice, {200, -1}, "", "Sine"},
        {10033, Kind::Preview, {120, 100}, "", nullptr},
        {10034, Kind::Preview, {120, 100}, "", nullptr},
        {10040, Kind::Choice, {90, -1}, "", "Square"},
        {10039, Kind::Button, {70, 20}, "Generate harmonics for the selected waveform", "Generate"},
        {10038, Kind::Button, {70, 20}, "Clear harmonic levels", "Clear"},
        {10035, Kind::Button, {70, 20}, "Normalize harmonic levels for target polyphony", "Normalize"},
        {10036, Kind::Button, {70, 20}, "Edit attack harmonics", "Attack"},
        {10042, Kind::BitmapButton, {22, 22}, "Copy final harmonics into initial harmonics", nullptr},
        {10043, Kind::BitmapButton, {22, 22}, "Copy initial harmonics into final harmonics", nullptr},
        {10037, Kind::Button, {70, 20}, "Edit sustain harmonics", "Sustain"},
        {10017, Kind::BitmapButton, {22, 22}, "Panic: Send all notes off MIDI message", nullptr},
        {10018, Kind::BitmapButton, {22, 22}, "About Marovane", nullptr},
        {10019, Kind::BitmapButton, {22, 22}, "Help", nullptr},
        {10023, Kind::BitmapButton, {22, 22}, "Change MIDI settings", nullptr},
        {10055, Kind::BitmapButton, {22, 22}, "Change audio settings", nullptr},
        {10022, Kind::BitmapButton, {22, 22}, "Load Synthesizer Configuration from Disk", nullptr},
        {10027, Kind::Meter, {100, 10}, "", "0"},
        {10028, Kind::Meter, {100, 10}, "", "0"},
        {10025, Kind::Text, {22, -1}, "", "1"},
        {10001, Kind::Spin, {16, 22}, "Change patch bank", nullptr},
        {10013, Kind::Text, {22, -1}, "", "1"},
        {10003, Kind::Spin, {16, 22}, "Change patch number", nullptr},
        {10015, Kind::BitmapSlider, {30, 108}, "", "8192"},
        {10016, Kind::BitmapSlider, {30, 108}, "", "0"},
    };
    for (const Row& r : table) {
        SCOPED_TRACE(r.id);
        wxWindow* w = window->FindWindow(r.id);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->GetParent(), window);
        EXPECT_TRUE(IsKind(w, r.kind));
        if (r.size.x > 0) {
            EXPECT_EQ(w->GetSize().x, r.size.x);
        }
        if (r.size.y > 0) {
            EXPECT_EQ(w->GetSize().y, r.size.y);
        }
        EXPECT_EQ(w->GetToolTipText(), r.tip);
        if (!r.text)
            continue;
        wxString shown;
        if (auto* s = dynamic_cast<wxBitmapSlider*>(w))
            shown = wxString::Format("%g", s->GetValue());
        else if (auto* s = dynamic_cast<wxSlider*>(w))
            shown = wxString::Format("%d", s->GetValue());
        else if (auto* c = dynamic_cast<wxChoice*>(w))
            shown = c->GetStringSelection();
        else if (auto* m = dynamic_cast<wxGauge*>(w))
            shown = wxString::Format("%d", m->GetValue());
        else
            shown = w->GetLabel();
        EXPECT_EQ(shown, r.text);
    }
    // Ranges and the wheels' orientation.
    for (int id : {10047, 10048, 10050})
        EXPECT_EQ(Get<wxBitmapSlider>(id)->GetMax(), 1000.0f) << id;
    EXPECT_EQ(Get<wxBitmapSlider>(10049)->GetMax(), 100.0f);
    EXPECT_EQ(Get<wxBitmapSlider>(10044)->GetMax(), 200.0f);
    for (int id : {10015, 10016}) {
        EXPECT_EQ(Get<wxBitmapSlider>(id)->GetMax(), 16383.0f) << id;
        // Each bit on its own: HasFlag of two bits passes with either.
        EXPECT_TRUE(Get<wxBitmapSlider>(id)->HasFlag(wxSL_VERTICAL)) << id;
        EXPECT_TRUE(Get<wxBitmapSlider>(id)->HasFlag(wxSL_INVERSE)) << id;
        EXPECT_FALSE(Get<wxBitmapSlider>(id)->HasFlag(wxSL_HORIZONTAL)) << id;
    }
    for (int id : {10047, 10015})
        EXPECT_TRUE(Get<wxBitmapSlider>(id)->IsImageMode()) << "pictures missing on " << id;
    EXPECT_EQ(Get<wxSlider>(10041)->GetMin(), 1);
    EXPECT_EQ(Get<wxSlider>(10041)->GetMax(), 10);
    EXPECT_EQ(Get<wxGauge>(10027)->GetRange(), 100);
    EXPECT_EQ(Get<wxChoice>(10045)->GetCount(), 7u);
    EXPECT_EQ(Get<wxChoice>(10045)->GetString(6), "Trapezoid");
    EXPECT_EQ(Get<wxChoice>(10040)->GetString(3), "Noise");
    for (int id : {10042, 10043, 10017, 10018, 10019, 10023, 10055, 10022})
        EXPECT_EQ(Get<wxBitmapButton>(id)->GetBitmap().GetSize(), wxSize(18, 18)) << id;

    // The captions, every one in the text colour.
    for (const char* caption : {"Attack (msec):", "Decay (msec):", "Sustain (percent):", "Release (msec):",
                                "LFO Freq (Hz):", "LFO Waveform:", "Attack", "Sustain", "Waveform:", "Bank",
                                "Patch"}) {
        wxStaticText* t = Caption(caption);
        ASSERT_NE(t, nullptr) << caption;
        EXPECT_EQ(t->GetId(), wxID_STATIC) << caption;
        EXPECT_EQ(t->GetForegroundColour(), TextColour()) << caption;
    }
    EXPECT_EQ(window->GetBackgroundColour(), BackgroundColour());

    // The start-up values: the value texts in their formats.
    std::vector<wxString> values;
    for (const char* caption : {"Attack (msec):", "Decay (msec):", "Sustain (percent):", "Release (msec):"}) {
        // The value text is the third cell of the caption's grid row.
        const wxWindowList& children = window->GetChildren();
        auto it = std::find(children.begin(), children.end(), Caption(caption));
        ASSERT_NE(it, children.end());
        std::advance(it, 2);
        values.push_back((*it)->GetLabel());
        EXPECT_EQ((*it)->GetSize().x, 32);
    }
    values.push_back(Text(10046));
    values.push_back(Caption("0.50") ? "0.50" : "");
    values.push_back(Text(10025));
    values.push_back(Text(10013));
    values.push_back(Get<wxChoice>(10045)->GetStringSelection());
    values.push_back(Get<wxChoice>(10040)->GetStringSelection());
    const std::vector<wxString> expected = {"  0", "  0", "100", " 10", "5.0", "0.50", "1", "1", "Sine", "Square"};
    EXPECT_EQ(values, expected);
    EXPECT_FALSE(Get<wxButton>(10037)->IsEnabled());
    EXPECT_TRUE(Get<wxButton>(10036)->IsEnabled());
    EXPECT_FALSE(Editor()->IsEditingAttack());
    // The previews show the start-up sine: crest near the top quarter.
    for (int id : {10033, 10034}) {
        const float* wave = Get<wxMiniWavePanel>(id)->GetWaveData();
        EXPECT_NEAR(*std::max_element(wave, wave + 120), 0.5f, 0.01f) << id;
    }

    // A fitted window of fixed size, centred on the screen.
    EXPECT_EQ(window->GetMinSize(), window->GetSize());
    EXPECT_EQ(window->GetMaxSize(), window->GetSize());
    const wxRect r = window->GetScreenRect();
    EXPECT_LE(std::abs(r.x - (1600 - r.GetRight() - 1)), 30) << "not centred";
    EXPECT_LE(r.GetRight(), 1600);
    EXPECT_LE(r.GetBottom(), 1000);
}

TEST_F(MainWindowTest, EnvelopeAndLfoSlidersSetTheirParameterAndText)
{
    struct Case {
        int slider;
        int label; // 0: the text right of the slider
        std::function<float()> parameter;
    };
    SynthState& s = window->Synth();
    const Case cases[] = {
        {10047, 0, [&] { return float(s.attackMs); }},
        {10048, 0, [&] { return float(s.decayMs); }},
        {10049, 0, [&] { return float(s.sustainPercent); }},
        {10050, 0, [&] { return float(s.releaseMs); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.slider);
        auto* slider = Get<wxBitmapSlider>(c.slider);
        const wxWindowList& children = window->GetChildren();
        auto it = std::find(children.begin(), children.end(), slider);
        wxWindow* label = *std::next(it);
        const float middle = slider->GetMax() / 2;
        const int x = ColumnFor(slider, middle);
        Drag(slider, wxPoint(2, 12), wxPoint(x, 12));
        EXPECT_EQ(slider->GetValue(), middle);
        EXPECT_EQ(c.parameter(), middle);
        EXPECT_EQ(label->GetLabel(), wxString::Format("%3d", int(middle)));
        SendChanged(slider, middle - 0.1f);
        EXPECT_EQ(c.parameter(), middle - 1);
        EXPECT_EQ(label->GetLabel(), wxString::Format("%3d", int(middle) - 1));
        EXPECT_EQ(wxWindow::FindFocus(), Octave(0)) << "a slider took the keyboard";
    }
    auto* lfo = Get<wxBitmapSlider>(10044);
    SendChanged(lfo, 37);
    EXPECT_FLOAT_EQ(s.lfoFrequency, 3.7f);
    EXPECT_EQ(Text(10046), "3.7");
    SendChanged(lfo, 0);
    EXPECT_EQ(Text(10046), "0.0");

    // The zoom changes how the editor shows the spectra, not the spectra.
    const HarmonicSpectrum before = s.Sustain();
    auto* zoom = Get<wxSlider>(10041);
    zoom->SetValue(3);
    wxScrollEvent e(wxEVT_SCROLL_CHANGED, 10041, 3);
    e.SetEventObject(zoom);
    zoom->GetEventHandler()->ProcessEvent(e);
    EXPECT_NE(Caption("0.33"), nullptr);
    EXPECT_EQ(Editor()->GetDisplayScale(), 3.0f);
    EXPECT_EQ(std::memcmp(before.level, s.Sustain().level, sizeof before.level), 0);
}

// The two choices of the main window look whole: the waveform choice, in
// the instrument's colours, is brown from edge to edge with its text, not a
// brown block inside a white box; the LFO choice keeps the toolkit's look.
TEST_F(MainWindowTest, TheWaveformAndLfoChoicesLookWhole)
{
    PumpEvents(300);
    for (int id : {ID_HARMONIC_WAVEFORM, ID_LFO_WAVEFORM})
        EXPECT_GT(ShareOfBoxColour(Get<wxChoice>(id)), 0.7) << "choice " << id << " is not of one colour";
    const ScreenArea waveform = ReadScreen(Get<wxChoice>(ID_HARMONIC_WAVEFORM)->GetScreenRect());
    ASSERT_GT(waveform.width, 10);
    EXPECT_EQ(waveform.At(4, waveform.height / 2), std::make_tuple(102, 51, 0)) << "the box is not brown";
}

TEST_F(MainWindowTest, TheLfoWaveformChoiceSetsTheShape)
{
    auto* choice = Get<wxChoice>(10045);
    // The focus elsewhere first, as a closed drop-down leaves it: the
    // selection must bring it back to the keyboard.
    Octave(5)->SetFocus();
    ASSERT_TRUE(WaitFor([&] { return wxWindow::FindFocus() == Octave(5); }));
    choice->SetSelection(4);
    wxCommandEvent e(wxEVT_CHOICE, 10045);
    e.SetInt(4);
    e.SetEventObject(choice);
    choice->GetEventHandler()->ProcessEvent(e);
    EXPECT_EQ(window->Synth().LfoWaveform(), 4);
    EXPECT_TRUE(WaitFor([&] { return wxWindow::FindFocus() == Octave(0); }));
}

TEST_F(MainWindowTest, AttackAndSustainButtonsToggleEachOtherAndTheEditedSpectrum)
{
    auto* attack = Get<wxButton>(10036);
    auto* sustain = Get<wxButton>(10037);
    Click(attack);
    EXPECT_TRUE(WaitFor([&] { return Editor()->IsEditingAttack(); }));
    EXPECT_FALSE(attack->IsEnabled());
    EXPECT_TRUE(sustain->IsEnabled());
    Click(sustain);
    EXPECT_TRUE(WaitFor([&] { return !Editor()->IsEditingAttack(); }));
    EXPECT_TRUE(attack->IsEnabled());
    EXPECT_FALSE(sustain->IsEnabled());
}

TEST_F(MainWindowTest, GenerateClearAndTheCopiesWorkOnTheEditedSpectrum)
{
    SynthState& s = window->Synth();
    Get<wxChoice>(10040)->SetSelection(1); // "Saw"
    Click(10039);
    // The sustain spectrum holds a saw, scaled for the target of two notes.
    HarmonicSpectrum sustain = s.Sustain();
    ASSERT_GT(sustain.level[0], 0.0f);
    for (int n = 1; n <= NUM_PARTIALS; ++n)
        EXPECT_NEAR(sustain.level[n - 1] / sustain.level[0], 1.0f / n, 1e-5f) << n;
    EXPECT_NEAR(std::accumulate(sustain.level, sustain.level + NUM_PARTIALS, 0.0f), 0.5f, 1e-5f);
    EXPECT_EQ(s.AttackLevel(1), 0.0f) << "the attack spectrum is not being edited";
    EXPECT_EQ(std::memcmp(Editor()->GetSustainLevels(), sustain.level, sizeof sustain.level), 0);

    // The left arrow: the attack spectrum takes the sustain's saw.
    Click(10042);
    HarmonicSpectrum attack = s.Attack();
    EXPECT_EQ(std::memcmp(attack.level, sustain.level, sizeof sustain.level), 0);
    EXPECT_FALSE(Editor()->IsEditingAttack());

    // Clear empties only the edited (sustain) spectrum.
    Click(10038);
    sustain = s.Sustain();
    for (float level : sustain.level)
        ASSERT_EQ(level, 0.0f);
    EXPECT_GT(s.AttackLevel(0), 0.0f);
    const float* shown = Get<wxMiniWavePanel>(10034)->GetWaveData();
    EXPECT_EQ(*std::max_element(shown, shown + 120), 0.0f) << "the sustain preview still shows the saw";

    // The right arrow copies the attack back into the sustain.
    Click(10043);
    sustain = s.Sustain();
    attack = s.Attack();
    EXPECT_EQ(std::memcmp(attack.level, sustain.level, sizeof sustain.level), 0);
    EXPECT_GT(sustain.level[0], 0.0f);
    EXPECT_EQ(wxWindow::FindFocus(), Octave(0));
}

TEST_F(MainWindowTest, ThePitchWheelBendsWhileHeldAndSpringsBack)
{
    auto* wheel = Get<wxBitmapSlider>(10015);
    MonitorMidi();
    wxUIActionSimulator sim;
    sim.MouseMove(wheel->ClientToScreen(wxPoint(15, 54)));
    PumpEvents(30);
    sim.MouseDown();
    PumpEvents(30);
    sim.MouseMove(wheel->ClientToScreen(wxPoint(15, 10)));
    PumpEvents(60);
    EXPECT_GT(wheel->GetValue(), 12000.0f);
    EXPECT_EQ(window->Synth().pitchWheel, wheel->GetValue()) << "the render reads another bend";
    sim.MouseUp();
    PumpEvents(60);
    EXPECT_EQ(wheel->GetValue(), 8192.0f);
    EXPECT_EQ(window->Synth().pitchWheel, 8192.0f);
    // Every move sent a bend; the release sent the centre.
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), (Message{0xE0, 0, 64}));
    EXPECT_EQ(sent.front()[0], 0xE0);
}

TEST_F(MainWindowTest, PanicReleasesEveryNoteAndPutsTheWheelsAtRest)
{
    SynthState& s = window->Synth();
    auto* mod = Get<wxBitmapSlider>(10016);
    Drag(mod, wxPoint(15, 100), wxPoint(15, 30));
    EXPECT_GT(mod->GetValue(), 0.0f);
    EXPECT_EQ(s.modWheelDepth, static_cast<int>(mod->GetValue()) / 16383.0f);
    Get<wxBitmapSlider>(10015)->SetValue(3000);
    window->NoteOn(60, false);
    window->NoteOn(64, false);

    MonitorMidi();
    PressButton(10017);
    EXPECT_TRUE(NothingHeld());
    EXPECT_TRUE(NothingLit());
    EXPECT_EQ(mod->GetValue(), 0.0f);
    EXPECT_EQ(s.modWheelDepth, 0.0f);
    EXPECT_EQ(Get<wxBitmapSlider>(10015)->GetValue(), 8192.0f);
    EXPECT_EQ(s.pitchWheel, 8192.0f);
    const std::vector<Message> expected = {
        {0x80, 60, 0}, {0x80, 64, 0}, {0xB0, 123, 0}, {0xB0, 121, 0}, {0xB0, 120, 0}};
    EXPECT_EQ(sent, expected);
    EXPECT_EQ(wxWindow::FindFocus(), Octave(0));
}

TEST_F(MainWindowTest, BankAndPatchWrapBetween1And128)
{
    auto* bankSpin = Get<wxBitmapSpinButton>(10001);
    auto* patchSpin = Get<wxBitmapSpinButton>(10003);
    const wxPoint up(8, 4), down(8, 18);
    Click(bankSpin, down);
    EXPECT_EQ(Text(10025), "128");
    EXPECT_EQ(window->CurrentBank(), 128);
    Click(patchSpin, down);
    EXPECT_EQ(Text(10013), "128");
    Click(patchSpin, up);
    Click(patchSpin, up);
    EXPECT_EQ(Text(10013), "2");
    EXPECT_EQ(window->CurrentPatch(), 2);

    // With output on: the bank, then the program again in the new bank.
    MonitorMidi();
    Click(bankSpin, up);
    EXPECT_EQ(Text(10025), "1");
    std::vector<Message> selectors;
    for (const Message& m : sent)
        if (!(m[0] == 0xB0 && m[1] == 123)) // the click's release sends All Notes Off
            selectors.push_back(m);
    EXPECT_EQ(selectors, (std::vector<Message>{{0xB0, 0, 0}, {0xC0, 1}}));
    sent.clear();
    window->SetMidiOutputChannel(3);
    window->SetPatch(1, false);
    Click(patchSpin, down);
    EXPECT_NE(std::find(sent.begin(), sent.end(), Message{0xC2, 127}), sent.end());
    window->SetBank(7, true);
    EXPECT_EQ(Text(10025), "7");
    EXPECT_EQ(std::find(sent.begin(), sent.end(), Message{0xB2, 0, 6}), sent.end())
        << "a number from MIDI input went back out";
}

TEST_F(MainWindowTest, TheArrowKeysMoveTheModWheelSlider)
{
    auto* mod = Get<wxBitmapSlider>(10016);
    mod->SetValue(16000);
    XKey("key", "Right");
    EXPECT_TRUE(WaitFor([&] { return mod->GetValue() == 16383.0f; }));
    EXPECT_EQ(window->Synth().modWheelDepth, 1.0f);
    mod->SetValue(1000);
    XKey("key", "KP_Left");
    EXPECT_TRUE(WaitFor([&] { return mod->GetValue() == 0.0f; }));
    EXPECT_EQ(window->Synth().modWheelDepth, 0.0f);
}

TEST_F(MainWindowTest, AfterAnyButtonTheNextComputerKeyPlays)
{
    Get<wxChoice>(10040)->SetSelection(2);
    // A window that a button opens (the MIDI settings, the about box, the
    // help) is closed with its close box, as a person may close it, once it
    // is on the screen.
    wxTimer closer;
    std::vector<wxString> closed;
    closer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        for (wxWindow* top : wxTopLevelWindows) {
            auto* other = dynamic_cast<wxTopLevelWindow*>(top);
            if (other && other != window && other->IsShownOnScreen()) {
                closed.push_back(other->GetTitle());
                other->Close();
                return;
            }
        }
    });
    closer.Start(200);
    for (int id : {10039, 10038, 10035, 10036, 10042, 10043, 10037, 10017, 10018, 10019, 10023, 10055}) {
        SCOPED_TRACE(id);
        closed.clear();
        Click(id);
        PumpEvents(300);
        if (id == ID_MIDI_SETTINGS) {
            EXPECT_EQ(closed, std::vector<wxString>{"MIDI Settings"}) << "the MIDI Settings dialog did not open";
        }
        XKey("keydown", "a");
        EXPECT_TRUE(WaitFor([&] { return Held(60); }));
        XKey("keyup", "a");
        EXPECT_TRUE(WaitFor([&] { return !Held(60); }));
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindowTest, ALeftReleaseOverBackgroundMeterOrBankNumberReleasesEveryNote)
{
    struct Place {
        const char* name;
        wxWindow* window;
        wxPoint at;
    };
    const Place places[] = {
        {"background", window, wxPoint(window->GetClientSize().x - 3, window->GetClientSize().y - 3)},
        {"left meter", window->FindWindow(10027), wxDefaultPosition},
        {"right meter", window->FindWindow(10028), wxDefaultPosition},
        {"bank number", window->FindWindow(10025), wxPoint(3, 5)},
        {"Patch text", Caption("Patch"), wxPoint(3, 5)},
    };
    for (const Place& p : places) {
        SCOPED_TRACE(p.name);
        XKey("keydown", "a");
        ASSERT_TRUE(WaitFor([&] { return Held(60); }));
        window->NoteOn(100, false);
        Click(p.window, p.at);
        EXPECT_TRUE(WaitFor([&] { return NothingHeld() && NothingLit(); }));
        XKey("keyup", "a");
        PumpEvents(30);
    }
}

TEST_F(MainWindowTest, APatchFileSetsTheSoundAndEveryControl)
{
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("marovane-test-" + std::to_string(getpid()) + ".mrvn"))
                                 .string();
    {
        std::ofstream f(path);
        f << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Settings>"
             "<Attack Attack=\" 250\"/><Sustain Sustain=\"80\"/><Release Release=\"12 \"/>"
             "<LFOFrequency LFOFrequency=\"2.5\"/><LFOWaveform LFOWaveform=\"9\"/>"
             "<ModWheel ModWheel=\"8000\"/><AttackHarmonic0 AttackHarmonic0=\"1.0\"/>"
             "<SustainHarmonic2 SustainHarmonic2=\"0.25\"/></Settings>\n";
    }
    Octave(3)->SetFocus();
    SynthState& s = window->Synth();
    const float depthBefore = s.modWheelDepth;
    ASSERT_TRUE(window->LoadPatchFile(path));
    EXPECT_EQ(s.attackMs, 250);
    EXPECT_EQ(s.decayMs, 0);
    EXPECT_EQ(s.sustainPercent, 80);
    EXPECT_EQ(s.releaseMs, 12);
    EXPECT_EQ(Get<wxBitmapSlider>(10047)->GetValue(), 250.0f);
    EXPECT_EQ(Get<wxBitmapSlider>(10044)->GetValue(), 25.0f);
    EXPECT_EQ(Text(10046), "2.5");
    EXPECT_EQ(Get<wxChoice>(10045)->GetSelection(), 6) << "a shape beyond the table is the last one";
    EXPECT_EQ(Get<wxBitmapSlider>(10016)->GetValue(), 8000.0f);
    EXPECT_EQ(s.modWheelDepth, depthBefore) << "the depth follows the wheel's next move, not the load";
    EXPECT_EQ(s.AttackLevel(0), 1.0f);
    EXPECT_EQ(s.SustainLevel(0), 0.0f);
    EXPECT_EQ(s.SustainLevel(2), 0.25f);
    EXPECT_EQ(Editor()->GetSustainLevels()[2], 0.25f);
    EXPECT_EQ(window->SynthParameters()->GetPeakLevelLabel()->GetLabel(), PeakLevelText(0.25f));
    EXPECT_EQ(wxWindow::FindFocus(), Octave(0));
    EXPECT_TRUE(messages.empty());

    // A file that is not a patch changes nothing and says so.
    {
        std::ofstream f(path);
        f << "not xml <";
    }
    EXPECT_FALSE(window->LoadPatchFile(path));
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(s.attackMs, 250);
    EXPECT_EQ(s.AttackLevel(0), 1.0f);
    std::remove(path.c_str());
    EXPECT_FALSE(window->LoadPatchFile(path));
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_EQ(s.sustainPercent, 80);
    // Nor does a value that is not a number; the message names it.
    std::ofstream(path) << "<Settings><Sustain Sustain=\"40\"/><Release Release=\"12abc\"/></Settings>\n";
    EXPECT_FALSE(window->LoadPatchFile(path));
    std::remove(path.c_str());
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[2].utf8_string(), "Cannot load the patch file \"" + path +
                               "\": the value \"12abc\" of Release is not a whole number. The sound is unchanged.");
    EXPECT_EQ(s.sustainPercent, 80);
    EXPECT_EQ(s.releaseMs, 12);
}

TEST_F(MainWindowTest, AfterARealDragOfTheZoomSliderTheNextKeyPlays)
{
    auto* zoom = Get<wxSlider>(10041);
    wxUIActionSimulator sim;
    const int x = zoom->GetClientSize().x / 2;
    // From the thumb (value 2 of 1 to 10, near the top) down the track.
    sim.MouseMove(zoom->ClientToScreen(wxPoint(x, 35)));
    PumpEvents(30);
    sim.MouseDown();
    PumpEvents(50);
    for (int y = 40; y <= 200; y += 20) {
        sim.MouseMove(zoom->ClientToScreen(wxPoint(x, y)));
        PumpEvents(20);
    }
    sim.MouseUp();
    PumpEvents(100);
    ASSERT_GT(zoom->GetValue(), 3) << "the drag did not move the slider";
    EXPECT_EQ(Editor()->GetDisplayScale(), static_cast<float>(zoom->GetValue()));
    EXPECT_NE(Caption(wxString::Format("%4.2f", 1.0 / zoom->GetValue())), nullptr);
    EXPECT_TRUE(WaitFor([&] { return wxWindow::FindFocus() == Octave(0); }));
    XKey("keydown", "a");
    EXPECT_TRUE(WaitFor([&] { return Held(60); })) << "the zoom slider kept the keyboard";
    XKey("keyup", "a");
    EXPECT_TRUE(WaitFor([&] { return !Held(60); }));
}

TEST_F(MainWindowTest, AModWheelBeyondTheSliderFromAPatchThenAnArrowKey)
{
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("marovane-wheel-" + std::to_string(getpid()) + ".mrvn"))
                                 .string();
    std::ofstream(path) << "<?xml version=\"1.0\"?><Settings><ModWheel ModWheel=\"99999999999\"/></Settings>\n";
    ASSERT_TRUE(window->LoadPatchFile(path));
    std::remove(path.c_str());
    auto* mod = Get<wxBitmapSlider>(10016);
    EXPECT_GT(mod->GetValue(), 16383.0f) << "the patch's position is shown as found";
    // The position becomes a whole number without overflowing: a step from
    // beyond the wheel lands on its top, and the next steps go on from there.
    XKey("key", "Left");
    EXPECT_TRUE(WaitFor([&] { return mod->GetValue() == 16383.0f; })) << mod->GetValue();
    XKey("key", "Left");
    EXPECT_TRUE(WaitFor([&] { return mod->GetValue() == 14744.0f; })) << mod->GetValue();
    XKey("key", "Right"); // 14744 + 1638.3, truncated
    EXPECT_TRUE(WaitFor([&] { return mod->GetValue() == 16382.0f; })) << mod->GetValue();
    EXPECT_EQ(window->Synth().modWheelDepth, 16382.0f / 16383.0f);
}

} // namespace
