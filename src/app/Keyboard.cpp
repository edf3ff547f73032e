#include "Keyboard.h"

#include <cstring>

#include <wx/choice.h>
#include <wx/filedlg.h>
#include <wx/log.h>
#include <wx/slider.h>
#include <wx/spinbutt.h>
#include <wx/stattext.h>
#include <wx/thread.h>
#include <wx/utils.h>

#include "app/MessageBox.h"
#include "controls/BitmapSlider.h"
#include "controls/BitmapSpinButton.h"
#include "controls/KeylessControls.h"
#include "controls/OctaveCtrl.h"
#include "controls/Palette.h"
#include "controls/ResourcePath.h"
#include "controls/SpectrumOperations.h"
#include "controls/SynthParametersDlg.h"
#include "midi/KeyMap.h"
#include "patch/Patch.h"
#include "patch/SettingsFile.h"

wxIMPLEMENT_DYNAMIC_CLASS(wxKeyboard, wxDialog);

wxBEGIN_EVENT_TABLE(wxKeyboard, wxDialog)
    EVT_CLOSE(wxKeyboard::OnCloseWindow)
    EVT_KEY_DOWN(wxKeyboard::OnKeyDown)
    EVT_KEY_UP(wxKeyboard::OnKeyUp)
    EVT_BUTTON(ID_PANIC, wxKeyboard::OnPanic)
    EVT_BUTTON(ID_ABOUT, wxKeyboard::OnAbout)
    EVT_BUTTON(ID_HELP, wxKeyboard::OnHelp)
    EVT_BUTTON(ID_MIDI_SETTINGS, wxKeyboard::OnMidiSettings)
    EVT_BUTTON(ID_LOAD_PATCH, wxKeyboard::OnLoadPatch)
    EVT_BUTTON(ID_CLEAR, wxKeyboard::ClearHarmonics)
    EVT_BUTTON(ID_GENERATE, wxKeyboard::GenerateHarmonics)
    EVT_BUTTON(ID_AUDIO_SETTINGS, wxKeyboard::OnAudioSettings)
    EVT_SPIN_UP(ID_BANK_SPIN, wxKeyboard::OnBankUp)
    EVT_SPIN_DOWN(ID_BANK_SPIN, wxKeyboard::OnBankDown)
    EVT_SPIN_UP(ID_PATCH_SPIN, wxKeyboard::OnPatchUp)
    EVT_SPIN_DOWN(ID_PATCH_SPIN, wxKeyboard::OnPatchDown)
    EVT_COMMAND_SCROLL(ID_MOD_WHEEL, wxKeyboard::OnModWheel)
    EVT_COMMAND_SCROLL(ID_PITCH_WHEEL, wxKeyboard::OnPitchWheel)
    EVT_COMMAND_SCROLL(ID_ZOOM_SLIDER, wxKeyboard::OnZoom)
    EVT_COMMAND_SCROLL(ID_LFO_FREQUENCY, wxKeyboard::OnLfoFrequency)
    EVT_BUTTON(ID_NORMALIZE, wxKeyboard::OnNormalize)
    EVT_BUTTON(ID_EDIT_ATTACK, wxKeyboard::OnEditAttack)
    EVT_BUTTON(ID_EDIT_SUSTAIN, wxKeyboard::OnEditSustain)
    EVT_BUTTON(ID_COPY_SUSTAIN_TO_ATTACK, wxKeyboard::CopySustainToAttack)
    EVT_BUTTON(ID_COPY_ATTACK_TO_SUSTAIN, wxKeyboard::CopyAttackToSustain)
    EVT_CHOICE(ID_LFO_WAVEFORM, wxKeyboard::OnLfoWaveform)
    EVT_LEFT_UP(wxKeyboard::OnMouseRelease)
    EVT_COMMAND_SCROLL(ID_ATTACK_SLIDER, wxKeyboard::OnAttack)
    EVT_COMMAND_SCROLL(ID_DECAY_SLIDER, wxKeyboard::OnDecay)
    EVT_COMMAND_SCROLL(ID_SUSTAIN_SLIDER, wxKeyboard::OnSustain)
    EVT_COMMAND_SCROLL(ID_RELEASE_SLIDER, wxKeyboard::OnRelease)
    EVT_CHOICE(ID_HARMONIC_WAVEFORM, wxKeyboard::OnHarmonicWaveform)
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

void wxKeyboard::SendMidiMessage(uint8_t status, uint8_t data1, uint8_t data2)
{
    const std::vector<uint8_t> message = MidiMessageSize(status) == 2 ? std::vector<uint8_t>{status, data1}
                                                                        : std::vector<uint8_t>{status, data1, data2};
    // No output port exists yet: only a monitor hears the message.
    if (midiMonitor)
        midiMonitor(message);
}

void wxKeyboard::SendMidi(uint8_t status, uint8_t data1, uint8_t data2)
{
    notes.SendOnOutputChannel(status, data1, data2);
}

// ---------------------------------------------------------------------------
// Bank, patch, wheels, panic

namespace {
// One step of a selector, wrapping between 1 and 128.
int StepNumber(const wxString& shown, int step)
{
    long n = 0;
    shown.ToLong(&n);
    n += step;
    if (n > 128)
        return 1;
    if (n < 1)
        return 128;
    return static_cast<int>(n);
}
} // namespace

void wxKeyboard::SetBank(int bank, bool fromMidi)
{
    bankLabel->SetLabel(wxString::Format("%d", bank));
    currentBank = bank;
    if (notes.outputEnabled && !fromMidi)
        SendMidi(0xB0, 0, static_cast<uint8_t>(bank - 1));
}

void wxKeyboard::SetPatch(int patch, bool fromMidi)
{
    patchLabel->SetLabel(wxString::Format("%d", patch));
    currentPatch = patch;
    if (notes.outputEnabled && !fromMidi)
        SendMidi(0xC0, static_cast<uint8_t>(patch - 1));
}

void wxKeyboard::OnBankUp(wxSpinEvent& event)
{
    SetBank(StepNumber(bankLabel->GetLabel(), +1), false);
    // The instrument on the output takes the program again in the new bank.
    SetPatch(currentPatch, false);
    event.Skip();
}

void wxKeyboard::OnBankDown(wxSpinEvent& event)
{
    SetBank(StepNumber(bankLabel->GetLabel(), -1), false);
    SetPatch(currentPatch, false);
    event.Skip();
}

void wxKeyboard::OnPatchUp(wxSpinEvent& event)
{
    SetPatch(StepNumber(patchLabel->GetLabel(), +1), false);
    event.Skip();
}

void wxKeyboard::OnPatchDown(wxSpinEvent& event)
{
    SetPatch(StepNumber(patchLabel->GetLabel(), -1), false);
    event.Skip();
}

int wxKeyboard::ModWheelValue() const
{
    return modWheelSlider ? static_cast<int>(modWheelSlider->GetValue()) : 0;
}

void wxKeyboard::SetPitchWheel(int value)
{
    pitchWheelSlider->SetValue(static_cast<float>(value));
    synth.pitchWheel = pitchWheelSlider->GetValue();
}

void wxKeyboard::OnPitchWheel(wxScrollEvent& event)
{
    int v;
    if (event.GetEventType() == wxEVT_SCROLL_THUMBRELEASE) {
        // Let go, the wheel springs back to the centre.
        SetPitchWheel(PITCH_WHEEL_REST);
        Refresh();
        v = PITCH_WHEEL_REST;
    } else {
        synth.pitchWheel = pitchWheelSlider->GetValue();
        v = static_cast<int>(pitchWheelSlider->GetValue());
    }
    if (notes.outputEnabled)
        SendMidi(0xE0, static_cast<uint8_t>(v % 128), static_cast<uint8_t>(v / 128));
    event.Skip();
}

void wxKeyboard::ApplyModWheel(int v)
{
    if (notes.outputEnabled) {
        SendMidi(0xB0, 1, static_cast<uint8_t>(v / 128));
        SendMidi(0xB0, 33, static_cast<uint8_t>(v % 128));
    }
    synth.modWheelDepth = SynthState::ModWheelDepthFromValue(v);
}

void wxKeyboard::OnModWheel(wxScrollEvent& event)
{
    ApplyModWheel(static_cast<int>(modWheelSlider->GetValue()));
    event.Skip();
}

void wxKeyboard::ResetControllers()
{
    if (notes.outputEnabled)
        SendMidi(0xB0, 121, 0);
    modWheelSlider->SetValue(0.0f);
    // The slider sends nothing when set: the tremolo stops here too.
    synth.modWheelDepth = 0.0f;
    SetPitchWheel(PITCH_WHEEL_REST);
    Refresh();
}

void wxKeyboard::SendAllSoundOff()
{
    if (notes.outputEnabled)
        SendMidi(0xB0, 120, 0);
}

void wxKeyboard::OnPanic(wxCommandEvent& event)
{
    AllNotesOff(false);
    ResetControllers();
    SendAllSoundOff();
    FocusKeyboard();
    event.Skip();
}

// ---------------------------------------------------------------------------
// The buttons of dialogs still to come: the keyboard keeps playing.

void wxKeyboard::OnAbout(wxCommandEvent& event)
{
    FocusKeyboard();
    event.Skip();
}

void wxKeyboard::OnHelp(wxCommandEvent& event)
{
    FocusKeyboard();
    event.Skip();
}

void wxKeyboard::OnMidiSettings(wxCommandEvent& event)
{
    FocusKeyboard();
    event.Skip();
}

void wxKeyboard::OnAudioSettings(wxCommandEvent& event)
{
    FocusKeyboard();
    event.Skip();
}

// ---------------------------------------------------------------------------
// Patches

void wxKeyboard::OnLoadPatch(wxCommandEvent&)
{
    wxFileDialog dialog(this, "Load A Config", ProgramDirectory() + "/patches", "",
                        "Marovane Patches (*.mrvn)|*.mrvn", wxFD_OPEN, wxDefaultPosition, wxDefaultSize,
                        "filedlg");
    if (dialog.ShowModal() != wxID_OK)
        return;
    LoadPatchFile(dialog.GetPath());
}

bool wxKeyboard::LoadPatchFile(const wxString& path)
{
    wxSettingsFile doc;
    bool loaded;
    {
        wxLogNull quiet; // the message below says it in the program's words
        loaded = doc.LoadFile(path);
    }
    if (!loaded) {
        // The sound playing now is kept: a file that cannot be read is no
        // reason to lose it.
        ShowMessage(wxString::Format("Cannot load the patch file \"%s\": it cannot be read or is not a "
                                     "patch.",
                                     path));
        FocusKeyboard();
        return false;
    }
    const Patch patch = ReadPatch(doc);
    ApplyPatch(patch, synth);
    ShowParameters();
    // Only the wheel moves: the tremolo depth (and what MIDI output hears)
    // follows the next time the player moves it.
    modWheelSlider->SetValue(static_cast<float>(patch.modWheel));
    const HarmonicSpectrum attack = synth.Attack();
    const HarmonicSpectrum sustain = synth.Sustain();
    synthParameters->SetSpectra(attack.level, sustain.level);
    FocusKeyboard();
    Refresh();
    return true;
}

void wxKeyboard::ShowParameters()
{
    const auto show = [](wxBitmapSlider* slider, wxStaticText* label, int value) {
        slider->SetValue(static_cast<float>(value));
        label->SetLabel(wxString::Format("%3d", value));
    };
    show(attackSlider, attackLabel, synth.attackMs);
    show(decaySlider, decayLabel, synth.decayMs);
    show(sustainSlider, sustainLabel, synth.sustainPercent);
    show(releaseSlider, releaseLabel, synth.releaseMs);
    lfoFrequencySlider->SetValue(synth.lfoFrequency * 10.0f);
    lfoFrequencyLabel->SetLabel(wxString::Format("%3.1f", static_cast<double>(synth.lfoFrequency)));
    lfoWaveformChoice->SetSelection(synth.LfoWaveform());
}

// ---------------------------------------------------------------------------
// Envelope, LFO, zoom

namespace {
// The slider's value truncated toward zero, shown with "%3d".
int ShowSliderInt(const wxBitmapSlider* slider, wxStaticText* label)
{
    const int v = static_cast<int>(slider->GetValue());
    label->SetLabel(wxString::Format("%3d", v));
    return v;
}
} // namespace

void wxKeyboard::OnAttack(wxScrollEvent& event)
{
    synth.attackMs = ShowSliderInt(attackSlider, attackLabel);
    event.Skip();
}

void wxKeyboard::OnDecay(wxScrollEvent& event)
{
    synth.decayMs = ShowSliderInt(decaySlider, decayLabel);
    event.Skip();
}

void wxKeyboard::OnSustain(wxScrollEvent& event)
{
    synth.sustainPercent = ShowSliderInt(sustainSlider, sustainLabel);
    event.Skip();
}

void wxKeyboard::OnRelease(wxScrollEvent& event)
{
    synth.releaseMs = ShowSliderInt(releaseSlider, releaseLabel);
    event.Skip();
}

void wxKeyboard::OnLfoFrequency(wxScrollEvent& event)
{
    synth.lfoFrequency = lfoFrequencySlider->GetValue() / 10.0f;
    lfoFrequencyLabel->SetLabel(wxString::Format("%3.1f", static_cast<double>(synth.lfoFrequency)));
    event.Skip();
}

void wxKeyboard::OnLfoWaveform(wxCommandEvent& event)
{
    synth.SetLfoWaveform(lfoWaveformChoice->GetSelection());
    // The closed drop-down leaves the window without a focused control.
    FocusKeyboard();
    event.Skip();
}

void wxKeyboard::OnHarmonicWaveform(wxCommandEvent& event)
{
    FocusKeyboard();
    event.Skip();
}

void wxKeyboard::OnZoom(wxScrollEvent& event)
{
    const int zoom = zoomSlider->GetValue();
    synthParameters->GetHarmonicsPanel()->SetDisplayScale(static_cast<float>(zoom));
    zoomLabel->SetLabel(wxString::Format("%4.2f", static_cast<double>(1.0f / static_cast<float>(zoom))));
    event.Skip();
}

void wxKeyboard::OnZoomMouseUp(wxMouseEvent& event)
{
    FocusKeyboard();
    event.Skip();
}

// ---------------------------------------------------------------------------
// Spectra

void wxKeyboard::OnHarmonicsChanged(const float* attack, const float* sustain)
{
    SpectrumOperations::ShowHarmonics(synth, attack, sustain, attackPreview, sustainPreview);
}

void wxKeyboard::OnEditAttack(wxCommandEvent& event)
{
    synthParameters->GetHarmonicsPanel()->SetEditAttack(true);
    attackButton->Disable();
    sustainButton->Enable();
    FocusKeyboard();
    event.Skip();
}

void wxKeyboard::OnEditSustain(wxCommandEvent& event)
{
    synthParameters->GetHarmonicsPanel()->SetEditAttack(false);
    attackButton->Enable();
    sustainButton->Disable();
    FocusKeyboard();
    event.Skip();
}

void wxKeyboard::OnNormalize(wxCommandEvent& event)
{
    synthParameters->NormalizeToTarget();
    FocusKeyboard();
    event.Skip();
}

void wxKeyboard::GenerateHarmonics(wxCommandEvent& event)
{
    // No waveform chosen: nothing happens.
    if (!SpectrumOperations::Generate(*synthParameters, harmonicWaveformChoice->GetSelection()))
        return;
    FocusKeyboard();
    event.Skip();
}

void wxKeyboard::ClearHarmonics(wxCommandEvent& event)
{
    SpectrumOperations::Clear(*synthParameters->GetHarmonicsPanel());
    Refresh();
    FocusKeyboard();
    event.Skip();
}

void wxKeyboard::CopySustainToAttack(wxCommandEvent& event)
{
    SpectrumOperations::CopySustainToAttack(*synthParameters->GetHarmonicsPanel(), synth);
    FocusKeyboard();
    event.Skip();
}

void wxKeyboard::CopyAttackToSustain(wxCommandEvent& event)
{
    SpectrumOperations::CopyAttackToSustain(*synthParameters->GetHarmonicsPanel(), synth);
    FocusKeyboard();
    event.Skip();
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
        // The arrows move the mod wheel slider, and the tremolo and MIDI
        // output follow as when the slider is dragged.
        const int v = ModWheelAfterArrow(ModWheelValue(), 0, WHEEL_MAX, up);
        modWheelSlider->SetValue(static_cast<float>(v));
        ApplyModWheel(v);
        return;
    }
    const int note = NoteOfKey(code, event.GetRawKeyFlags());
    if (note != 0) {
        // Auto-repeat of a key that is down does nothing: neither while its
        // note sounds nor after a click or Panic released it (the key must
        // come up and go down again to play).
        if (!computerKeyDown[note]) {
            computerKeyDown[note] = true;
            if (!synth.IsKeyDown(note))
                NoteOn(note, false);
        }
    }
    event.Skip();
}

void wxKeyboard::OnKeyUp(wxKeyEvent& event)
{
    const int note = NoteOfKey(event.GetKeyCode(), event.GetRawKeyFlags());
    if (note != 0) {
        computerKeyDown[note] = false;
        // A note a click or Panic already let go stays silent: releasing it
        // again would sound a short release tail after the key is up.
        if (synth.IsKeyDown(note))
            NoteOff(note, false);
    }
    event.Skip();
}

void wxKeyboard::RouteKey(wxKeyEvent& event, bool down)
{
    if (down)
        OnKeyDown(event);
    else
        OnKeyUp(event);
    // The child would hand the key to this window a second time.
    event.Skip(false);
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
    if (!event.GetActive()) {
        ReleaseComputerKeys();
    } else {
        // Back from another window (or a closed drop-down): whatever had the
        // focus inside, the computer keyboard plays again.
        wxWindow* focus = FindFocus();
        if (!focus || wxGetTopLevelParent(focus) != this)
            CallAfter([this] { FocusKeyboard(); });
    }
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
