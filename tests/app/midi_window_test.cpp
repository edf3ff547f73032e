// The main window's MIDI on the virtual display, with another program's MIDI
// ports on a private JACK server: the ports opened at start-up, the MIDI
// Settings button and its dialog, and what MIDI input changes on the screen.
#include <atomic>
#include <thread>

#include <wx/choice.h>
#include <wx/stattext.h>
#include <wx/timer.h>
#include <wx/uiaction.h>

#include "app/KeyboardFixture.h"
#include "controls/BitmapSlider.h"
#include "controls/Switch.h"
#include "midi/MidiSettingsDlg.h"

namespace {

using MidiWindowTest = KeyboardWindowTest;

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
    EXPECT_EQ(window->Synth().modWheelDepth, 384.0f / 16383.0f);
    EXPECT_FALSE(wxTheApp->HasPendingEvents()) << "MIDI input left calls queued for the GUI thread";
}

} // namespace
