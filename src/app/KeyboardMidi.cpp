// The main window's MIDI glue: the ports opened at start-up, the MIDI
// settings dialog, and the timer that brings what MIDI input changed to the
// screen. The decoding, the ports and the sending are the instrument's.
#include "Keyboard.h"

#include <wx/stattext.h>

#include "app/MessageBox.h"
#include "controls/BitmapSlider.h"
#include "midi/MidiSettingsDlg.h"

namespace {
// How often the window looks at what MIDI input changed: fast enough for the
// eye and for the keys' highlights, slow enough to cost nothing.
constexpr int kMidiPollMs = 15;
} // namespace

void wxKeyboard::ShowMidiMessage(const std::string& text)
{
    if (!text.empty())
        ShowMessage(wxString::FromUTF8(text.c_str()));
}

void wxKeyboard::OpenMidiDevices()
{
    for (const std::string& text : instrument.OpenMidiDevicesAtStart())
        ShowMidiMessage(text);
    midiTimer.Start(kMidiPollMs);
}

void wxKeyboard::SelectMidiInputDevice(int index) { ShowMidiMessage(instrument.SelectMidiInputDevice(index)); }

void wxKeyboard::SelectMidiOutputDevice(int index) { ShowMidiMessage(instrument.SelectMidiOutputDevice(index)); }

void wxKeyboard::OnMidiTimer(wxTimerEvent&)
{
    replayingMidi = true;
    highlights.Replay();
    replayingMidi = false;
    const uint32_t changed = instrument.TakeMidiDisplayChanges();
    if ((changed & MidiDisplayChanges::kModWheel) && modWheelSlider)
        modWheelSlider->SetValue(static_cast<float>(instrument.ModWheelPosition()));
    if ((changed & MidiDisplayChanges::kPitchWheel) && pitchWheelSlider)
        pitchWheelSlider->SetValue(instrument.Synth().pitchWheel);
    if ((changed & MidiDisplayChanges::kPatch) && patchLabel)
        patchLabel->SetLabel(wxString::Format("%d", instrument.CurrentPatch()));
    instrument.PumpMidiOutput();
    const std::string notice = instrument.TakeMidiOutputNotice();
    if (!notice.empty()) {
        // The box is modal: the timer must not stack a second one under it.
        midiTimer.Stop();
        ShowMidiMessage(notice);
        midiTimer.Start(kMidiPollMs);
    }
}

void wxKeyboard::OnMidiSettings(wxCommandEvent& event)
{
    auto* dialog = new wxMidiSettingsDlg(this, this, ID_MIDI_SETTINGS_DIALOG, "MIDI Settings", wxDefaultPosition,
                                         wxSize(400, 300), MIDI_SETTINGS_STYLE);
    dialog->SetForegroundColour(textColour);
    dialog->SetBackgroundColour(backgroundColour);
    dialog->SetOutputEnabled(instrument.MidiOutputEnabled());
    // The ports open now, by name: the lists may have changed since they
    // opened. None open, none shown.
    dialog->SetInputDevice(instrument.OpenMidiInputEntry());
    dialog->SetOutputDevice(instrument.OpenMidiOutputEntry());
    dialog->SetInputChannel(instrument.MidiInputChannel());
    dialog->SetOutputChannel(instrument.MidiOutputChannel());
    dialog->ShowModal();
    FocusKeyboard();
    dialog->Destroy();
    event.Skip();
}
