#include "Keyboard.h"

#include <cstring>

#include <wx/log.h>
#include <wx/thread.h>
#include <wx/utils.h>

#include "app/MessageBox.h"
#include "controls/OctaveCtrl.h"
#include "controls/Palette.h"
#include "controls/ResourcePath.h"
#include "midi/KeyMap.h"

wxIMPLEMENT_DYNAMIC_CLASS(wxKeyboard, wxDialog);

wxBEGIN_EVENT_TABLE(wxKeyboard, wxDialog)
    EVT_CLOSE(wxKeyboard::OnCloseWindow)
    EVT_KEY_DOWN(wxKeyboard::OnKeyDown)
    EVT_KEY_UP(wxKeyboard::OnKeyUp)
    EVT_LEFT_UP(wxKeyboard::OnMouseRelease)
    EVT_ACTIVATE(wxKeyboard::OnActivate)
wxEND_EVENT_TABLE()

wxKeyboard::wxKeyboard()
    : octaveControls{}, textColour(TextColour()), backgroundColour(BackgroundColour())
{
}

wxKeyboard::wxKeyboard(wxWindow* parent, wxWindowID id, const wxString& caption,
                       const wxPoint& pos, const wxSize& size, long style)
    : octaveControls{}, textColour(TextColour()), backgroundColour(BackgroundColour())
{
    // 1. The MIDI port objects come with MIDI input and output; until then
    //    midiIn and midiOut stay null.
    // 2. The synthesis state has its defaults from its constructor.
    // 3. Control pointers are null, colours set; the MIDI defaults:
    SetMidiOutputEnabled(false);
    // 4. The window itself.
    SetExtraStyle(GetExtraStyle() | wxWS_EX_BLOCK_EVENTS);
    wxDialog::Create(parent, id, caption, pos, size, style, "dialog");
    // Escape plays nothing and must not close the instrument.
    SetEscapeId(wxID_NONE);
    // 5. to 7.
    CreateControls();
    Centre(wxBOTH);
    FocusKeyboard();
    // 8. and 9. The help book is loaded here once the help exists.
    // 10. The icon, beside the program.
    {
        wxLogNull quiet; // a missing icon is not worth a message
        if (programIcon.LoadFile(ResourcePath("marovane.ico"), wxBITMAP_TYPE_ICO))
            SetIcon(programIcon);
    }
    // 11. and 12.
    OpenMidiDevices();
    // 13. Last, because the render reads the controls' values.
    InitAudio();
}

wxKeyboard::~wxKeyboard() { ShutdownAudio(); }

// ---------------------------------------------------------------------------
// Audio

namespace {
wxString PortAudioText(PaError err)
{
    // PortAudio's texts are 8-bit; taken byte by byte.
    return wxString(Pa_GetErrorText(err), wxConvISO8859_1);
}
} // namespace

void wxKeyboard::InitAudio()
{
    PaError err = audio.Initialize();
    if (err != paNoError)
        ShowMessage(wxString::Format("PortAudio error: %s\n", PortAudioText(err)));
    // Without a device the open already fails: that error says more than the
    // start's "invalid stream", so it is the one shown.
    err = audio.OpenDefault();
    if (err != paNoError)
        ShowMessage(wxString::Format("PortAudio error: %s\n", PortAudioText(err)));
}

void wxKeyboard::OnAudioDeviceChanged(int) {}

void wxKeyboard::OnAudioDeviceSelected(const PaStreamParameters* params)
{
    if (!params)
        return;
    PaError err = audio.SelectDevice(*params);
    if (err != paNoError)
        ShowMessage(PortAudioText(err));
}

void wxKeyboard::ShutdownAudio()
{
    // No callback renders after this returns.
    audio.Suspend();
    CloseMidiDevices();
    audio.Shutdown();
}

// ---------------------------------------------------------------------------
// MIDI: the choices are kept; the ports open once MIDI input and output exist.

void wxKeyboard::OpenMidiDevices() {}
void wxKeyboard::CloseMidiDevices() {}
void wxKeyboard::SelectMidiInputDevice(int index) { midiInputDevice = index; }
void wxKeyboard::SelectMidiOutputDevice(int index) { midiOutputDevice = index; }
void wxKeyboard::SetMidiInputChannel(int channel) { midiInputChannel = channel; }
void wxKeyboard::SetMidiOutputChannel(int channel) { notes.outputChannel = channel; }
void wxKeyboard::SetMidiOutputEnabled(bool enabled) { notes.outputEnabled = enabled; }

void wxKeyboard::SendMidiMessage(uint8_t, uint8_t, uint8_t)
{
    // No output port exists yet: the echo goes nowhere.
}

// ---------------------------------------------------------------------------
// Spectra

void wxKeyboard::OnHarmonicsChanged(const float* attack, const float* sustain)
{
    synth.SetSpectra(attack, sustain);
}

// ---------------------------------------------------------------------------
// Notes

void wxKeyboard::NoteOn(int note, bool fromMidi) { notes.NoteOn(note, fromMidi); }
void wxKeyboard::NoteOff(int note, bool fromMidi) { notes.NoteOff(note, fromMidi); }
void wxKeyboard::AllNotesOff(bool fromMidi) { notes.AllNotesOff(fromMidi); }
void wxKeyboard::ReleaseKey(int note) { NoteOff(note, false); }

void wxKeyboard::ShowKeyDown(int octave, int key)
{
    if (!wxThread::IsMain()) {
        CallAfter([this, octave, key] { ShowKeyDown(octave, key); });
        return;
    }
    if (octaveControls[octave])
        octaveControls[octave]->SetKeyDown(key);
}

void wxKeyboard::ShowKeyUp(int octave, int key)
{
    if (!wxThread::IsMain()) {
        CallAfter([this, octave, key] { ShowKeyUp(octave, key); });
        return;
    }
    if (octaveControls[octave])
        octaveControls[octave]->SetKeyUp(key);
}

void wxKeyboard::ClearAllKeys()
{
    if (!wxThread::IsMain()) {
        CallAfter([this] { ClearAllKeys(); });
        return;
    }
    for (wxOctaveCtrl* octave : octaveControls)
        if (octave)
            octave->ClearKeys();
    Refresh();
}

void wxKeyboard::FocusKeyboard()
{
    if (octaveControls[0])
        octaveControls[0]->SetFocus();
}

// ---------------------------------------------------------------------------
// Events

void wxKeyboard::OnCloseWindow(wxCloseEvent& event)
{
    // Deleted at the next idle time; the destructor stops the sound.
    Destroy();
    event.Skip();
}

void wxKeyboard::OnKeyDown(wxKeyEvent& event)
{
    const int code = event.GetKeyCode();
    if (code == KEY_TAB) {
        FocusKeyboard();
        return;
    }
    if (code == KEY_RIGHT || code == KEY_NUMPAD_RIGHT || code == KEY_LEFT ||
        code == KEY_NUMPAD_LEFT) {
        const bool up = code == KEY_RIGHT || code == KEY_NUMPAD_RIGHT;
        modWheelValue = ModWheelAfterArrow(modWheelValue, 0, 16383, up);
        synth.modWheelDepth = SynthState::ModWheelDepthFromValue(modWheelValue);
        return;
    }
    const int note = NoteOfKey(code, event.GetRawKeyFlags());
    if (note != 0) {
        computerKeyDown[note] = true;
        // Auto-repeat finds the note held and does nothing.
        if (!synth.IsKeyDown(note))
            NoteOn(note, false);
    }
    event.Skip();
}

void wxKeyboard::OnKeyUp(wxKeyEvent& event)
{
    const int note = NoteOfKey(event.GetKeyCode(), event.GetRawKeyFlags());
    if (note != 0) {
        computerKeyDown[note] = false;
        NoteOff(note, false);
    }
    event.Skip();
}

void wxKeyboard::OnMouseRelease(wxMouseEvent& event)
{
    AllNotesOff(false);
    event.Skip();
}

void wxKeyboard::OnActivate(wxActivateEvent& event)
{
    // A key held while the focus goes to another window never reports its
    // release here: let its note go now rather than have it stick.
    if (!event.GetActive())
        ReleaseComputerKeys();
    event.Skip();
}

void wxKeyboard::ReleaseComputerKeys()
{
    for (int note = 0; note < NUM_NOTES; ++note) {
        if (!computerKeyDown[note])
            continue;
        computerKeyDown[note] = false;
        if (synth.IsKeyDown(note))
            NoteOff(note, false);
    }
}
