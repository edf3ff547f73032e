// The MIDI settings dialog under Xvfb with fake port lists: its controls,
// texts and colours, the values handed in, and what each control asks of the
// main window when a person uses it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <wx/button.h>
#include <wx/choice.h>
#include <wx/stattext.h>

#include "FakeMidiDevices.h"
#include "controls/BitmapSpinButton.h"
#include "controls/ControlsTestFrame.h"
#include "controls/KeylessControls.h"
#include "controls/Switch.h"
#include "midi/MidiSettingsDlg.h"
#include "support/ScreenPixels.h"

namespace {

// Records every call, and opens the ports chosen as the main window does.
struct Settings : MidiSettingsInterface {
    std::vector<std::string> calls;
    void SelectMidiInputDevice(int i) override
    {
        calls.push_back("input device " + std::to_string(i));
        if (midiIn)
            midiIn->Open(i);
    }
    void SelectMidiOutputDevice(int i) override
    {
        calls.push_back("output device " + std::to_string(i));
        if (midiOut)
            midiOut->Open(i);
    }
    void SetMidiInputChannel(int c) override { calls.push_back("input channel " + std::to_string(c)); }
    void SetMidiOutputChannel(int c) override { calls.push_back("output channel " + std::to_string(c)); }
    void SetMidiOutputEnabled(bool on) override { calls.push_back(on ? "output on" : "output off"); }
};

using Calls = std::vector<std::string>;

class MidiSettingsDialogTest : public ControlsGuiTest {
protected:
    fake::InputDevice ins{"in", {"Keystation:out", "seq:out"}, nullptr};
    fake::OutputDevice outs{"out", {"Synth:in", "dump:input", "Drums:in"}, nullptr};
    Settings settings;
    wxMidiSettingsDlg* dialog = nullptr;

    // Built and coloured as the main window does it.
    void Open(bool withPorts = true)
    {
        settings.midiIn = withPorts ? &ins : nullptr;
        settings.midiOut = withPorts ? &outs : nullptr;
        dialog = new wxMidiSettingsDlg(frame, &settings, ID_MIDI_SETTINGS_DIALOG, "MIDI Settings",
                                       wxDefaultPosition, wxSize(400, 300), MIDI_SETTINGS_STYLE);
        dialog->SetForegroundColour(TextColour());
        dialog->SetBackgroundColour(BackgroundColour());
    }
    void Show()
    {
        ShowFrame();
        dialog->Show();
        dialog->Raise();
        PumpEvents(300);
    }
    void TearDown() override
    {
        if (dialog)
            dialog->Destroy();
        ControlsGuiTest::TearDown();
    }
    template <typename T>
    T* Child(int id)
    {
        auto* w = dynamic_cast<T*>(dialog->FindWindow(id));
        EXPECT_NE(w, nullptr) << id;
        return w;
    }
    wxString Text(int id) { return Child<wxStaticText>(id)->GetLabel(); }
    void Choose(int id, int index)
    {
        // A pick from the drop-down list, as the toolkit reports it.
        auto* choice = Child<wxChoice>(id);
        choice->SetSelection(index);
        wxCommandEvent event(wxEVT_CHOICE, id);
        event.SetInt(index);
        event.SetEventObject(choice);
        choice->GetEventHandler()->ProcessEvent(event);
    }
};

TEST_F(MidiSettingsDialogTest, ControlsTextsAndColours)
{
    Open();
    EXPECT_EQ(dialog->GetId(), 14000);
    EXPECT_EQ(dialog->GetTitle(), "MIDI Settings");
    EXPECT_TRUE(dialog->HasExtraStyle(wxWS_EX_BLOCK_EVENTS));
    EXPECT_EQ(dialog->GetWindowStyleFlag() & (wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxRESIZE_BORDER),
              wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);

    auto* output = Child<wxKeylessChoice>(14004);
    auto* input = Child<wxKeylessChoice>(14003);
    ASSERT_TRUE(output && input);
    auto entries = [](wxChoice* c) {
        std::vector<wxString> v;
        for (unsigned i = 0; i < c->GetCount(); ++i)
            v.push_back(c->GetString(i));
        return v;
    };
    EXPECT_EQ(entries(output), (std::vector<wxString>{"Synth:in", "dump:input", "Drums:in"}));
    EXPECT_EQ(entries(input), (std::vector<wxString>{"Keystation:out", "seq:out"}));
    EXPECT_EQ(output->GetSelection(), wxNOT_FOUND) << "no port is open until the main window says so";
    EXPECT_EQ(input->GetSelection(), wxNOT_FOUND);
    EXPECT_TRUE(output->IsEnabled());
    EXPECT_TRUE(input->IsEnabled());

    for (int id : {14005, 14006}) {
        auto* spin = Child<wxBitmapSpinButton>(id);
        ASSERT_TRUE(spin);
        EXPECT_EQ(spin->GetSize(), wxSize(16, 22));
        EXPECT_EQ(spin->GetWindowStyleFlag() & (wxSP_ARROW_KEYS | wxSP_VERTICAL | wxSP_HORIZONTAL),
                  wxSP_ARROW_KEYS);
        EXPECT_TRUE(spin->HasImage()) << "spin.bmp";
    }
    EXPECT_EQ(Text(14008), "1");
    EXPECT_EQ(Text(14009), "1");
    auto* sw = Child<wxSwitch>(14002);
    ASSERT_TRUE(sw);
    EXPECT_TRUE(sw->HasImages());
    EXPECT_FALSE(sw->GetValue());
    EXPECT_EQ(sw->GetSize(), wxSize(22, 22));
    auto* close = Child<wxButton>(14001);
    ASSERT_TRUE(close);
    EXPECT_EQ(close->GetLabel(), "Close");

    // The five labels, top to bottom, and every text in the instrument's colours.
    std::vector<wxString> labels;
    for (wxWindow* w : dialog->GetChildren())
        if (w->GetId() == wxID_STATIC)
            labels.push_back(static_cast<wxStaticText*>(w)->GetLabel());
    EXPECT_EQ(labels, (std::vector<wxString>{"MIDI Out Device:", "MIDI In Device:", "MIDI Input Channel:",
                                             "MIDI Output Channel:", "MIDI Output Enabled:"}));
    for (wxWindow* w : dialog->GetChildren()) {
        if (w->GetId() == wxID_STATIC || w->GetId() == 14008 || w->GetId() == 14009 || w == output ||
            w == input || w == sw || w == close) {
            EXPECT_EQ(w->GetForegroundColour(), TextColour()) << w->GetId() << " " << w->GetLabel();
        }
    }
    for (wxWindow* w : {static_cast<wxWindow*>(output), static_cast<wxWindow*>(input), static_cast<wxWindow*>(close),
                        static_cast<wxWindow*>(dialog)})
        EXPECT_EQ(w->GetBackgroundColour(), BackgroundColour()) << w->GetId();
    EXPECT_EQ(dialog->GetForegroundColour(), TextColour());
    EXPECT_TRUE(settings.calls.empty()) << "building the dialog changes nothing";
}

// Both port lists look whole in the dialog's colours: brown from edge to
// edge with their text, not a brown block inside a white box.
TEST_F(MidiSettingsDialogTest, PortChoicesLookWhole)
{
    Open();
    Show();
    for (int id : {ID_MIDI_OUTPUT_DEVICE, ID_MIDI_INPUT_DEVICE}) {
        auto* choice = Child<wxChoice>(id);
        EXPECT_GT(ShareOfBoxColour(choice), 0.7) << "choice " << id << " is not of one colour";
        const ScreenArea box = ReadScreen(choice->GetScreenRect());
        ASSERT_GT(box.width, 10);
        EXPECT_EQ(box.At(4, box.height / 2), std::make_tuple(102, 51, 0)) << "the box of " << id << " is not brown";
    }
}

TEST_F(MidiSettingsDialogTest, ValuesHandedInAndOutOfRangeOnesIgnored)
{
    Open();
    dialog->SetOutputEnabled(true);
    dialog->SetInputDevice(1);
    dialog->SetOutputDevice(2);
    dialog->SetInputChannel(16);
    dialog->SetOutputChannel(5);
    EXPECT_TRUE(Child<wxSwitch>(14002)->GetValue());
    EXPECT_EQ(Child<wxChoice>(14003)->GetSelection(), 1);
    EXPECT_EQ(Child<wxChoice>(14004)->GetSelection(), 2);
    EXPECT_EQ(Text(14008), "16");
    EXPECT_EQ(Text(14009), "5");

    dialog->SetInputDevice(2); // only two inputs
    dialog->SetOutputDevice(7);
    dialog->SetInputChannel(17);
    dialog->SetOutputChannel(0);
    EXPECT_EQ(Child<wxChoice>(14003)->GetSelection(), 1);
    EXPECT_EQ(Child<wxChoice>(14004)->GetSelection(), 2);
    EXPECT_EQ(Text(14008), "16");
    EXPECT_EQ(Text(14009), "5");

    // No port open: no entry chosen.
    dialog->SetInputDevice(wxNOT_FOUND);
    EXPECT_EQ(Child<wxChoice>(14003)->GetSelection(), wxNOT_FOUND);

    // A stored port beyond a shorter list leaves no entry chosen.
    dialog->Destroy();
    Open();
    dialog->SetOutputDevice(3);
    EXPECT_EQ(Child<wxChoice>(14004)->GetSelection(), wxNOT_FOUND);
    EXPECT_TRUE(settings.calls.empty());
}

TEST_F(MidiSettingsDialogTest, SpinsWrapAndEveryStepSetsTheChannel)
{
    Open();
    dialog->SetInputChannel(15);
    dialog->SetOutputChannel(2);
    Show();
    auto* inSpin = Child<wxBitmapSpinButton>(14005);
    auto* outSpin = Child<wxBitmapSpinButton>(14006);
    ClickAt(inSpin, 8, 4); // up
    ClickAt(inSpin, 8, 4);
    EXPECT_EQ(Text(14008), "1");
    ClickAt(inSpin, 8, 18); // down
    ClickAt(outSpin, 8, 18);
    ClickAt(outSpin, 8, 18);
    EXPECT_EQ(Text(14009), "16");
    ClickAt(outSpin, 8, 4);
    EXPECT_EQ(settings.calls, (Calls{"input channel 16", "input channel 1", "input channel 16", "output channel 1",
                                     "output channel 16", "output channel 1"}));
    EXPECT_EQ(Text(14008), "16");
    EXPECT_EQ(Text(14009), "1");
}

TEST_F(MidiSettingsDialogTest, PortPicksAndTheSwitchGoToTheMainWindow)
{
    Open();
    Show();
    Choose(14004, 2);
    Choose(14003, 1);
    auto* sw = Child<wxSwitch>(14002);
    ClickAt(sw, 11, 11);
    EXPECT_TRUE(sw->GetValue());
    ClickAt(sw, 11, 11);
    EXPECT_EQ(settings.calls, (Calls{"output device 2", "input device 1", "output on", "output off"}));
    EXPECT_EQ(Child<wxChoice>(14004)->GetSelection(), 2);
    EXPECT_EQ(Child<wxChoice>(14003)->GetSelection(), 1);
    EXPECT_TRUE(frame->events.empty()) << "the dialog's events stop at the dialog";
}

TEST_F(MidiSettingsDialogTest, APortThatFailsToOpenIsNotShownAsChosenAndCanBePickedAgain)
{
    Open();
    Show();
    ins.openError = "MidiInJack::openPort: JACK error connecting port";
    Choose(14003, 1);
    EXPECT_EQ(Child<wxChoice>(14003)->GetSelection(), wxNOT_FOUND);
    ins.openError.clear();
    Choose(14003, 1);
    EXPECT_EQ(Child<wxChoice>(14003)->GetSelection(), 1);
    EXPECT_EQ(settings.calls, (Calls{"input device 1", "input device 1"}));
}

TEST_F(MidiSettingsDialogTest, WithoutPortsTheListsAreEmptyAndDisabledButTheSwitchWorks)
{
    for (bool noObjects : {false, true}) {
        fake::InputDevice noIns{"in", {}, nullptr};
        fake::OutputDevice noOuts{"out", {}, nullptr};
        settings.calls.clear();
        if (noObjects) {
            Open(false);
        } else {
            settings.midiIn = &noIns;
            settings.midiOut = &noOuts;
            dialog = new wxMidiSettingsDlg(frame, &settings);
        }
        Show();
        for (int id : {14003, 14004}) {
            EXPECT_EQ(Child<wxChoice>(id)->GetCount(), 0u);
            EXPECT_FALSE(Child<wxChoice>(id)->IsEnabled());
        }
        dialog->SetOutputDevice(0);
        ClickAt(Child<wxSwitch>(14002), 11, 11);
        EXPECT_EQ(settings.calls, (Calls{"output on"}));
        dialog->Destroy();
        dialog = nullptr;
        PumpEvents(50);
    }
}

TEST_F(MidiSettingsDialogTest, CloseAndTheCloseBoxEndTheDialogWithZero)
{
    for (bool closeBox : {false, true}) {
        Open();
        ShowFrame();
        dialog->CallAfter([this, closeBox] {
            PumpEvents(300);
            if (closeBox) {
                dialog->Close(); // what the window manager's close box asks
            } else {
                ClickAt(Child<wxButton>(14001), 10, 10);
            }
        });
        EXPECT_EQ(dialog->ShowModal(), 0) << (closeBox ? "close box" : "Close");
        EXPECT_FALSE(dialog->IsShown());
        dialog->Destroy();
        dialog = nullptr;
    }
    EXPECT_TRUE(settings.calls.empty());
}

} // namespace
