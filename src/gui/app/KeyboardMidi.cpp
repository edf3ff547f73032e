// The main window's MIDI glue: the ports opened at start-up, the MIDI
// settings dialog, and the timer that brings what MIDI input changed to the
// screen. The decoding, the ports and the sending are the instrument's.
#include "Keyboard.h"

#include <wx/stattext.h>

#include "controls/MessageBox.h"
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
    // A remembered port that is not there now is not forgotten: the start
    // falls back to port 0 without changing what is remembered.
    const RememberedSettings& remembered = settingsMemory->Remembered();
    for (const std::string& text : instrument.OpenMidiDevicesAtStart(remembered.midiInput, remembered.midiOutput))
        ShowMidiMessage(text);
    midiTimer.Start(kMidiPollMs);
}

void wxKeyboard::SelectMidiInputDevice(int index)
{
    ShowMidiMessage(instrument.SelectMidiInputDevice(index));
    const std::string port = instrument.MidiInputPortName();
    if (!port.empty())
        Remember([&](RememberedSettings& r) { r.midiInput = port; });
}

void wxKeyboard::SelectMidiOutputDevice(int index)
{
    ShowMidiMessage(instrument.SelectMidiOutputDevice(index));
    const std::string port = instrument.MidiOutputPortName();
    if (!port.empty())
        Remember([&](RememberedSettings& r) { r.midiOutput = port; });
}

void wxKeyboard::SetMidiInputChannel(int channel)
{
    instrument.SetMidiInputChannel(channel);
    Remember([&](RememberedSettings& r) { r.midiInputChannel = instrument.MidiInputChannel(); });
}

void wxKeyboard::SetMidiOutputChannel(int channel)
{
    instrument.SetMidiOutputChannel(channel);
    Remember([&](RememberedSettings& r) { r.midiOutputChannel = instrument.MidiOutputChannel(); });
}

void wxKeyboard::SetMidiOutputEnabled(bool enabled)
{
    instrument.SetMidiOutputEnabled(enabled);
    Remember([&](RememberedSettings& r) { r.midiOutputEnabled = enabled; });
}

void wxKeyboard::OnMidiTimer(wxTimerEvent&)
{
    replayingMidi = true;
    highlights.Replay();
    replayingMidi = false;
    const uint32_t changed = instrument.TakeMidiDisplayChanges();
    if ((changed & MidiDisplayChanges::kModWheel) && modWheelSlider)
        modWheelSlider->SetValue(static_cast<float>(instrument.ModWheelPosition()));
    if ((changed & MidiDisplayChanges::kPitchWheel) && pitchWheelSlider)
        pitchWheelSlider->SetValue(instrument.PitchWheelPosition());
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
