// The main window's MIDI on the virtual display, with another program's MIDI
// ports on a private JACK server: the ports opened at start-up, the MIDI
// Settings button and its dialog, and what MIDI input changes on the screen.
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iomanip>
#include <thread>

#include <wx/choice.h>
#include <wx/spinbutt.h>
#include <wx/stattext.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include "app/KeyboardFixture.h"
#include "audio/AudioDevices.h"
#include "app/RememberedSettings.h"
#include "controls/BitmapSlider.h"
#include "controls/Switch.h"
#include "midi/MidiSettingsDlg.h"

namespace {

using MidiWindowTest = KeyboardWindowTest;

// Opens the MIDI settings with the main window's button, runs `use` inside
// the modal dialog once it is on the screen, and closes it. Returns whether
// the dialog showed.
bool UseMidiDialog(wxKeyboard* window, const std::function<void(wxMidiSettingsDlg*)>& use)
{
    bool used = false;
    wxTimer person;
    person.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        auto* d = dynamic_cast<wxMidiSettingsDlg*>(wxWindow::FindWindowById(ID_MIDI_SETTINGS_DIALOG));
        if (!d || !d->IsShownOnScreen() || used)
            return;
        used = true;
        person.Stop();
        use(d);
        d->EndModal(0);
    });
    person.Start(100);
    wxCommandEvent click(wxEVT_BUTTON, ID_MIDI_SETTINGS);
    window->GetEventHandler()->ProcessEvent(click);
    return used;
}


TEST_F(MidiWindowTest, StartUpOpensTheOtherProgramsPortsAndListsNoneOfItsOwn)
{
    EXPECT_TRUE(messages.empty());
    ASSERT_NE(window->midiIn, nullptr);
    ASSERT_NE(window->midiOut, nullptr);
    ASSERT_EQ(window->midiIn->PortCount(), 1);
    EXPECT_EQ(window->midiIn->PortName(0), "other-midi:out");
    ASSERT_EQ(window->midiOut->PortCount(), 1);
    EXPECT_EQ(window->midiOut->PortName(0), "other-midi:in");
    EXPECT_TRUE(window->midiIn->IsOpen());
    EXPECT_TRUE(window->midiOut->IsOpen());
    EXPECT_NE(testproc::Output("jack_lsp -c other-midi:out").find(":MIDI in"), std::string::npos);
}

TEST_F(MidiWindowTest, TheMidiButtonShowsTheSettingsAndTheDialogChangesThem)
{
    window->SetMidiInputChannel(5);
    window->SetMidiOutputChannel(16);
    window->SetMidiOutputEnabled(true);

    // Inside the modal dialog: look, step the input channel up, close.
    struct Seen {
        bool found = false, switchOn = false;
        wxString in, out, inputPort;
    } seen;
    wxTimer inside;
    inside.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        auto* dialog = dynamic_cast<wxMidiSettingsDlg*>(wxWindow::FindWindowById(ID_MIDI_SETTINGS_DIALOG));
        if (!dialog || !dialog->IsShownOnScreen())
            return;
        inside.Stop();
        seen.found = true;
        seen.switchOn = static_cast<wxSwitch*>(dialog->FindWindow(ID_MIDI_OUTPUT_ENABLED))->GetValue();
        seen.in = static_cast<wxStaticText*>(dialog->FindWindow(ID_MIDI_INPUT_CHANNEL))->GetLabel();
        seen.out = static_cast<wxStaticText*>(dialog->FindWindow(ID_MIDI_OUTPUT_CHANNEL))->GetLabel();
        seen.inputPort = static_cast<wxChoice*>(dialog->FindWindow(ID_MIDI_INPUT_DEVICE))->GetStringSelection();
        wxUIActionSimulator sim;
        wxWindow* spin = dialog->FindWindow(ID_MIDI_INPUT_CHANNEL_SPIN);
        sim.MouseMove(spin->ClientToScreen(wxPoint(8, 4)));
        sim.MouseClick();
        wxWindow* close = dialog->FindWindow(ID_MIDI_CLOSE);
        sim.MouseMove(close->ClientToScreen(wxPoint(close->GetSize().x / 2, close->GetSize().y / 2)));
        sim.MouseClick();
    });
    inside.Start(100);
    wxUIActionSimulator sim;
    wxWindow* button = window->FindWindow(ID_MIDI_SETTINGS);
    sim.MouseMove(button->ClientToScreen(wxPoint(button->GetSize().x / 2, button->GetSize().y / 2)));
    sim.MouseClick();
    ASSERT_TRUE(WaitFor([&] { return seen.found && !wxWindow::FindWindowById(ID_MIDI_SETTINGS_DIALOG); }, 8000))
        << "the dialog did not open, or did not close";
    EXPECT_TRUE(seen.switchOn);
    EXPECT_EQ(seen.in, "5");
    EXPECT_EQ(seen.out, "16");
    EXPECT_EQ(seen.inputPort, "other-midi:out");
    EXPECT_EQ(window->GetInstrument().MidiInputChannel(), 6) << "the spin's step reached the instrument";
    PumpEvents(100);
    EXPECT_EQ(wxWindow::FindFocus(), Octave(0)) << "the keyboard plays again after the dialog";
    EXPECT_TRUE(messages.empty());
}

// A device that appears after start-up, alone in the list: the dialog shows no
// port as chosen, and picking the entry from the drop-down with the mouse
// opens it.
TEST_F(MidiWindowTest, APortThatAppearsAfterStartUpIsChosenFromTheDropDown)
{
    window->Destroy();
    PumpEvents(50);
    delete otherMidi;
    otherMidi = nullptr;
    messages.clear();
    window = new wxKeyboard(nullptr);
    window->Show();
    window->Raise();
    ASSERT_TRUE(WaitFor([this] { return window->IsActive(); })) << "window never got the focus";
    ASSERT_EQ(messages.size(), 2u) << "no MIDI port at start-up";
    messages.clear();
    otherMidi = new testproc::OtherMidiPorts("late-midi");
    ASSERT_TRUE(otherMidi->Ready());

    int inputShown = -2, outputShown = -2, ticks = 0, clickedAt = 0;
    unsigned inputEntries = 0;
    bool done = false;
    std::string dialogWindow;
    testproc::Child xdotool;
    wxMidiSettingsDlg* dialog = nullptr;
    wxTimer person;
    person.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        if (done)
            return;
        if (++ticks > 100 && dialog) { // 10 s: give up, and fail below
            done = true;
            dialog->EndModal(0);
            return;
        }
        dialog = dynamic_cast<wxMidiSettingsDlg*>(wxWindow::FindWindowById(ID_MIDI_SETTINGS_DIALOG));
        if (!dialog || !dialog->IsShownOnScreen())
            return;
        auto* input = static_cast<wxChoice*>(dialog->FindWindow(ID_MIDI_INPUT_DEVICE));
        if (!clickedAt) {
            dialogWindow = testproc::Output("xdotool search --onlyvisible --name '^MIDI Settings$'");
            dialogWindow = dialogWindow.substr(0, dialogWindow.find('\n'));
            if (dialogWindow.empty())
                return;
            inputShown = input->GetSelection();
            inputEntries = input->GetCount();
            outputShown = static_cast<wxChoice*>(dialog->FindWindow(ID_MIDI_OUTPUT_DEVICE))->GetSelection();
            testproc::Run("import -window root " + testing::TempDir() + "midi-late-port.png");
            // Open the drop-down as a person does, then click the entry
            // under the pointer: the only one.
            const wxPoint c = input->GetPosition() + input->GetSize() / 2;
            xdotool = testproc::Child({"xdotool", "mousemove", "--window", dialogWindow, std::to_string(c.x),
                                       std::to_string(c.y), "sleep", "0.2", "click", "1"});
            clickedAt = ticks;
        } else if (ticks == clickedAt + 10) {
            xdotool = testproc::Child({"xdotool", "click", "1"});
        } else if (ticks > clickedAt + 10 && window->midiIn->IsOpen()) {
            done = true;
            dialog->EndModal(0);
        }
    });
    person.Start(100);
    wxCommandEvent click(wxEVT_BUTTON, ID_MIDI_SETTINGS);
    window->GetEventHandler()->ProcessEvent(click);
    person.Stop();
    ASSERT_NE(dialog, nullptr) << "the dialog never showed";
    EXPECT_EQ(inputEntries, 1u);
    EXPECT_EQ(inputShown, wxNOT_FOUND) << "the dialog showed a port as chosen while none was open";
    EXPECT_EQ(outputShown, wxNOT_FOUND);
    EXPECT_TRUE(window->midiIn->IsOpen()) << "choosing the entry shown opened nothing";
    EXPECT_NE(testproc::Output("jack_lsp -c late-midi:out").find("Marovane in:MIDI in"), std::string::npos);
    EXPECT_TRUE(messages.empty());

    // The next time, the open port is the one shown.
    ASSERT_TRUE(UseMidiDialog(window, [&](wxMidiSettingsDlg* d) {
        inputShown = static_cast<wxChoice*>(d->FindWindow(ID_MIDI_INPUT_DEVICE))->GetSelection();
    }));
    EXPECT_EQ(inputShown, 0);

    // The other tests find the usual other program.
    delete otherMidi;
    otherMidi = new testproc::OtherMidiPorts();
}

// What the player chose in the MIDI dialog and the audio dialog is there again
// at the next start: the input port of a second program (not port 0), the
// channels and the output switch, and the audio device.
TEST_F(MidiWindowTest, ChoicesInTheDialogsSurviveARestart)
{
    testproc::OtherMidiPorts second("second-midi");
    ASSERT_TRUE(second.Ready());
    const auto entryOf = [](MidiPortList* list, const std::string& name) {
        for (int i = 0; i < list->PortCount(); ++i)
            if (list->PortName(i) == name)
                return i;
        return -1;
    };

    const auto fire = [](wxWindow* control, wxEvent&& event) {
        event.SetEventObject(control);
        control->GetEventHandler()->ProcessEvent(event);
    };
    const int pick = entryOf(window->midiIn, "second-midi:out");
    ASSERT_GT(pick, 0) << "the second program's port is not port 0";
    // The dialog, used as a person does: pick, step, switch.
    ASSERT_TRUE(UseMidiDialog(window, [&](wxMidiSettingsDlg* d) {
        auto* input = static_cast<wxChoice*>(d->FindWindow(ID_MIDI_INPUT_DEVICE));
        input->SetSelection(pick);
        wxCommandEvent chosen(wxEVT_CHOICE, ID_MIDI_INPUT_DEVICE);
        chosen.SetInt(pick);
        fire(input, std::move(chosen));
        for (int step = 0; step < 2; ++step)
            fire(d->FindWindow(ID_MIDI_OUTPUT_CHANNEL_SPIN), wxSpinEvent(wxEVT_SPIN_DOWN, ID_MIDI_OUTPUT_CHANNEL_SPIN));
        fire(d->FindWindow(ID_MIDI_INPUT_CHANNEL_SPIN), wxSpinEvent(wxEVT_SPIN_UP, ID_MIDI_INPUT_CHANNEL_SPIN));
        auto* outputSwitch = static_cast<wxSwitch*>(d->FindWindow(ID_MIDI_OUTPUT_ENABLED));
        outputSwitch->SetValue(true);
        fire(outputSwitch, wxCommandEvent(wxEVT_CHECKBOX, ID_MIDI_OUTPUT_ENABLED));
    }));
    ASSERT_NE(testproc::Output("jack_lsp -c second-midi:out").find("Marovane in:MIDI in"), std::string::npos);
    // The device in use, chosen again in the audio dialog.
    const PaDeviceIndex device = window->Audio().Device();
    ASSERT_NE(device, paNoDevice);
    const PaStreamParameters params = StreamParameters(device, PortAudioDevices().Info(device));
    window->OnAudioDeviceSelected(&params);
    EXPECT_TRUE(messages.empty());
    // (The default device is this one too: the file shows it was kept.)
    const RememberedSettings kept = SettingsMemory(RememberedSettingsPath()).Remembered();
    EXPECT_EQ(kept.audioDevice, PortAudioDevices().Info(device).name);
    EXPECT_EQ(kept.audioHost, PortAudioDevices().Info(device).hostApi);

    window->Destroy();
    PumpEvents(100);
    window = new wxKeyboard(nullptr);
    window->Show();
    EXPECT_TRUE(messages.empty());
    const Instrument& instrument = window->GetInstrument();
    EXPECT_EQ(instrument.MidiInputChannel(), 2);
    EXPECT_EQ(instrument.MidiOutputChannel(), 15);
    EXPECT_TRUE(instrument.MidiOutputEnabled());
    EXPECT_TRUE(window->midiIn->IsOpen());
    // (The new window's client may be "Marovane in-01" while JACK still
    // closes the old one.)
    EXPECT_NE(testproc::Output("jack_lsp -c second-midi:out").find(":MIDI in"), std::string::npos)
        << "the remembered input port was not opened";
    EXPECT_EQ(testproc::Output("jack_lsp -c other-midi:out").find(":MIDI in"), std::string::npos);
    EXPECT_EQ(window->Audio().Device(), device);
    wxString shown;
    ASSERT_TRUE(UseMidiDialog(window, [&](wxMidiSettingsDlg* d) {
        shown = static_cast<wxChoice*>(d->FindWindow(ID_MIDI_INPUT_DEVICE))->GetStringSelection();
    }));
    EXPECT_EQ(shown, "second-midi:out");
}

// A configuration folder that cannot be written: the start says nothing, the
// first change says once that it cannot be kept, and the changes still apply.
TEST_F(MidiWindowTest, SettingsThatCannotBeKeptAreSaidOnceAndStillApply)
{
    const std::string file = std::string(std::getenv("XDG_CONFIG_HOME")) + "/not-a-folder";
    std::ofstream(file) << "a file";
    setenv("XDG_CONFIG_HOME", file.c_str(), 1);
    window->Destroy();
    PumpEvents(50);
    messages.clear();
    window = new wxKeyboard(nullptr);
    window->Show();
    EXPECT_TRUE(messages.empty());
    window->SetMidiInputChannel(3);
    window->SetMidiOutputEnabled(true);
    window->SetMidiOutputChannel(9);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].Contains("settings cannot be kept")) << messages[0];
    EXPECT_EQ(window->GetInstrument().MidiInputChannel(), 3);
    EXPECT_EQ(window->GetInstrument().MidiOutputChannel(), 9);
    EXPECT_TRUE(window->GetInstrument().MidiOutputEnabled());
}

TEST_F(MidiWindowTest, ABurstOfMidiInputReachesTheScreenAsItsLatestValues)
{
    Instrument& instrument = window->GetInstrument();
    auto* pitch = dynamic_cast<wxBitmapSlider*>(window->FindWindow(ID_PITCH_WHEEL));
    auto* mod = dynamic_cast<wxBitmapSlider*>(window->FindWindow(ID_MOD_WHEEL));
    auto* patch = dynamic_cast<wxStaticText*>(window->FindWindow(ID_PATCH_LABEL));
    ASSERT_TRUE(pitch && mod && patch);
    // As the MIDI input thread delivers them.
    std::thread midi([&] {
        for (int i = 0; i < 100000; ++i) {
            const uint8_t bend[] = {0xE0, 0, static_cast<uint8_t>(i % 128)};
            const uint8_t wheel[] = {0xB0, 1, static_cast<uint8_t>((i * 7) % 128)};
            const uint8_t program[] = {0xC0, static_cast<uint8_t>(i % 128)};
            instrument.MidiInput().OnMidiMessage(bend, 3);
            instrument.MidiInput().OnMidiMessage(wheel, 3);
            instrument.MidiInput().OnMidiMessage(program, 2);
        }
        const uint8_t on[] = {0x90, 62, 100}, bend[] = {0xE0, 0, 20}, wheel[] = {0xB0, 1, 3}, program[] = {0xC0, 41};
        for (const auto* m : {on, bend, wheel})
            instrument.MidiInput().OnMidiMessage(m, 3);
        instrument.MidiInput().OnMidiMessage(program, 2);
    });
    midi.join();
    EXPECT_TRUE(WaitFor([&] {
        return pitch->GetValue() == 2560.0f && mod->GetValue() == 384.0f && patch->GetLabel() == "42" && Lit(62);
    }, 2000)) << pitch->GetValue() << " " << mod->GetValue() << " " << patch->GetLabel();
    // The sound takes the wheel at its frame, a period after the message
    // when the audio runs: by then it holds the last value sent.
    EXPECT_TRUE(WaitFor([&] { return window->Synth().modWheelDepth == 384.0f / 16383.0f; }, 2000))
        << std::setprecision(9) << window->Synth().modWheelDepth.load();
    EXPECT_FALSE(wxTheApp->HasPendingEvents()) << "MIDI input left calls queued for the GUI thread";
}

} // namespace
