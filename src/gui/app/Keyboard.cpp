#include "Keyboard.h"

#include <cstdio>
#include <cstdlib>

#include <wx/choice.h>
#include <wx/filedlg.h>
#include <wx/log.h>
#include <wx/slider.h>
#include <wx/stattext.h>
#include <wx/thread.h>
#include <wx/utils.h>

#include "controls/MessageBox.h"
#include "audio/AudioDevices.h"
#include "audio/AudioSettings.h"
#include "app/XKeyState.h"
#include "controls/BitmapSlider.h"
#include "controls/BitmapSpinButton.h"
#include "controls/KeylessControls.h"
#include "controls/OctaveCtrl.h"
#include "controls/Palette.h"
#include "controls/ResourcePath.h"
#include "controls/SliderMath.h"
#include "controls/SpectrumOperations.h"
#include "controls/Switch.h"
#include "controls/SynthParametersDlg.h"

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
    EVT_COMMAND_SCROLL(ID_LFO_FREQUENCY, wxKeyboard::OnParameterSlider)
    EVT_BUTTON(ID_NORMALIZE, wxKeyboard::OnNormalize)
    EVT_BUTTON(ID_EDIT_ATTACK, wxKeyboard::OnEditAttack)
    EVT_BUTTON(ID_EDIT_SUSTAIN, wxKeyboard::OnEditSustain)
    EVT_BUTTON(ID_COPY_SUSTAIN_TO_ATTACK, wxKeyboard::CopySustainToAttack)
    EVT_BUTTON(ID_COPY_ATTACK_TO_SUSTAIN, wxKeyboard::CopyAttackToSustain)
    EVT_CHOICE(ID_LFO_WAVEFORM, wxKeyboard::OnLfoWaveform)
    EVT_CHECKBOX(ID_BAND_LIMIT, wxKeyboard::OnBandLimit)
    EVT_LEFT_UP(wxKeyboard::OnMouseRelease)
    EVT_COMMAND_SCROLL(ID_ATTACK_SLIDER, wxKeyboard::OnParameterSlider)
    EVT_COMMAND_SCROLL(ID_DECAY_SLIDER, wxKeyboard::OnParameterSlider)
    EVT_COMMAND_SCROLL(ID_SUSTAIN_SLIDER, wxKeyboard::OnParameterSlider)
    EVT_COMMAND_SCROLL(ID_RELEASE_SLIDER, wxKeyboard::OnParameterSlider)
    EVT_COMMAND_SCROLL(ID_VOLUME_SLIDER, wxKeyboard::OnParameterSlider)
    EVT_CHOICE(ID_HARMONIC_WAVEFORM, wxKeyboard::OnHarmonicWaveform)
    EVT_ACTIVATE(wxKeyboard::OnActivate)
    EVT_ICONIZE(wxKeyboard::OnIconize)
    EVT_TIMER(wxID_ANY, wxKeyboard::OnMidiTimer)
wxEND_EVENT_TABLE()

wxKeyboard::wxKeyboard()
    : octaveControls{}, textColour(TextColour()), backgroundColour(BackgroundColour())
{
}

wxKeyboard::wxKeyboard(wxWindow* parent, wxWindowID id, const wxString& caption,
                       const wxPoint& pos, const wxSize& size, long style)
    : octaveControls{}, textColour(TextColour()), backgroundColour(BackgroundColour())
{
    // The MIDI objects first; the instrument already has its sound and its
    // MIDI defaults (output off). The window itself comes next.
    instrument.CreateMidiDevices();
    midiIn = instrument.MidiInputPorts();
    midiOut = instrument.MidiOutputPorts();
    // What the player chose last time.
    settingsMemory = std::make_unique<SettingsMemory>(RememberedSettingsPath());
    SetExtraStyle(GetExtraStyle() | wxWS_EX_BLOCK_EVENTS);
    wxDialog::Create(parent, id, caption, pos, size, style, "dialog");
    // Escape plays nothing and must not close the instrument.
    SetEscapeId(wxID_NONE);
    CreateControls();
    Centre(wxBOTH);
    FocusKeyboard();
    // The help book; a missing one is the first message of the start.
    help.Load(ResourcePath("marovane.htb"));
    {
        wxLogNull quiet; // a missing icon is not worth a message
        if (programIcon.LoadFile(ResourcePath("marovane.ico"), wxBITMAP_TYPE_ICO))
            SetIcon(programIcon);
    }
    // The remembered channels and switch (a channel change redraws the keys,
    // so the window exists by now); nothing is sent, no port is open yet.
    const RememberedSettings& remembered = settingsMemory->Remembered();
    instrument.SetMidiInputChannel(remembered.midiInputChannel);
    instrument.SetMidiOutputChannel(remembered.midiOutputChannel);
    instrument.SetMidiOutputEnabled(remembered.midiOutputEnabled);
    OpenMidiDevices();
    RestoreTuning();
    // Sound starts last, once the controls the render is read from exist.
    InitAudio();
}

wxKeyboard::~wxKeyboard()
{
    midiTimer.Stop();
    // After the audio server died, its client libraries wait for minutes or
    // crash when asked to close anything on it, and there is nothing left to
    // save: the program ends here, at once and cleanly.
    if (instrument.Audio().IsLost()) {
        std::fflush(nullptr);
        std::_Exit(0);
    }
    // MIDI input ends before the stream, and both before the controls go.
    instrument.Shutdown();
    midiIn = midiOut = nullptr;
}

// ---------------------------------------------------------------------------
// Audio

void wxKeyboard::InitAudio()
{
    const RememberedSettings& remembered = settingsMemory->Remembered();
    for (const std::string& failure : instrument.StartAudio(remembered.audioDevice, remembered.audioHost))
        ShowMessage(wxString(failure.c_str(), wxConvISO8859_1)); // PortAudio's texts are 8-bit
    audioWatch = std::make_unique<AudioWatch>(instrument.Audio());
}

void wxKeyboard::OnAudioDeviceSelected(const PaStreamParameters* params)
{
    if (!params)
        return;
    const std::string failure = instrument.SelectAudioDevice(*params);
    if (!failure.empty()) {
        ShowMessage(wxString(failure.c_str(), wxConvISO8859_1));
        return;
    }
    const AudioDeviceInfo device = PortAudioDevices().Info(params->device);
    Remember([&](RememberedSettings& r) {
        r.audioDevice = device.name;
        r.audioHost = device.hostApi;
    });
}

void wxKeyboard::Remember(const std::function<void(RememberedSettings&)>& change)
{
    if (!settingsMemory)
        return;
    RememberedSettings settings = settingsMemory->Remembered();
    change(settings);
    const std::string failure = settingsMemory->Keep(settings);
    if (!failure.empty())
        ShowMessage(wxString::FromUTF8(failure.c_str()));
}

// ---------------------------------------------------------------------------
// What the instrument shows

void wxKeyboard::OnGuiThread(std::function<void()> show)
{
    if (wxThread::IsMain())
        show();
    else
        CallAfter(std::move(show));
}

void wxKeyboard::ShowModWheel(int value)
{
    OnGuiThread([this, value] {
        if (modWheelSlider)
            modWheelSlider->SetValue(static_cast<float>(value));
    });
}

void wxKeyboard::ShowPitchWheel(int value)
{
    OnGuiThread([this, value] {
        if (pitchWheelSlider)
            pitchWheelSlider->SetValue(static_cast<float>(value));
        Refresh();
    });
}

void wxKeyboard::ShowBank(int bank)
{
    OnGuiThread([this, bank] { bankLabel->SetLabel(wxString::Format("%d", bank)); });
}

void wxKeyboard::ShowPatch(int patch)
{
    OnGuiThread([this, patch] { patchLabel->SetLabel(wxString::Format("%d", patch)); });
}

void wxKeyboard::ShowSound()
{
    OnGuiThread([this] {
        const SynthState& synth = instrument.Synth();
        for (int row = 0; row < NUM_PARAMETER_SLIDERS; ++row) {
            parameterSliders[row].slider->SetValue(PARAMETER_SLIDERS[row].position(synth));
            parameterSliders[row].label->SetLabel(PARAMETER_SLIDERS[row].text(synth));
        }
        lfoWaveformChoice->SetSelection(synth.LfoWaveform());
        bandLimitSwitch->SetValue(synth.bandLimit);
        const HarmonicSpectrum attack = synth.Attack();
        const HarmonicSpectrum sustain = synth.Sustain();
        synthParameters->SetSpectra(attack.level, sustain.level);
        Refresh();
    });
}

void wxKeyboard::SetKeyLit(int octave, int key, bool lit)
{
    if (!octaveControls[octave])
        return;
    if (lit)
        octaveControls[octave]->SetKeyDown(key);
    else
        octaveControls[octave]->SetKeyUp(key);
}

void wxKeyboard::ClearKeys()
{
    for (wxOctaveCtrl* octave : octaveControls)
        if (octave)
            octave->ClearKeys();
    // All Notes Off redraws the window; from MIDI input, where a burst may
    // ask for it at every poll, the keys redraw themselves and that is enough.
    if (!replayingMidi)
        Refresh();
}

// ---------------------------------------------------------------------------
// Bank, patch, wheels, panic

void wxKeyboard::OnBankUp(wxSpinEvent& event)
{
    instrument.StepBank(+1);
    event.Skip();
}

void wxKeyboard::OnBankDown(wxSpinEvent& event)
{
    instrument.StepBank(-1);
    event.Skip();
}

void wxKeyboard::OnPatchUp(wxSpinEvent& event)
{
    instrument.StepPatch(+1);
    event.Skip();
}

void wxKeyboard::OnPatchDown(wxSpinEvent& event)
{
    instrument.StepPatch(-1);
    event.Skip();
}

int wxKeyboard::ModWheelValue() const
{
    return modWheelSlider ? SliderEventInt(modWheelSlider->GetValue()) : 0;
}

void wxKeyboard::OnPitchWheel(wxScrollEvent& event)
{
    // Let go, the wheel springs back to the centre.
    if (event.GetEventType() == wxEVT_SCROLL_THUMBRELEASE)
        instrument.ReleasePitchWheel();
    else
        instrument.MovePitchWheel(pitchWheelSlider->GetValue());
    event.Skip();
}

void wxKeyboard::OnModWheel(wxScrollEvent& event)
{
    instrument.MoveModWheel(modWheelSlider->GetValue());
    event.Skip();
}

void wxKeyboard::OnPanic(wxCommandEvent& event)
{
    instrument.Panic();
    FocusKeyboard();
    event.Skip();
}

// ---------------------------------------------------------------------------
// About and help

void wxKeyboard::OnAbout(wxCommandEvent& event)
{
    // Modal: back here once it is closed.
    ShowAboutBox(this, programIcon);
    FocusKeyboard();
    event.Skip();
}

void wxKeyboard::OnHelp(wxCommandEvent& event)
{
    // Not modal: the instrument plays on while the help is read, and the
    // keyboard has the focus when this window is active again.
    help.ShowContents(programIcon);
    FocusKeyboard();
    event.Skip();
}

void wxKeyboard::OnAudioSettings(wxCommandEvent& event)
{
    ShowAudioSettings(this, this, instrument.Audio());
    FocusKeyboard();
    event.Skip();
}

// ---------------------------------------------------------------------------
// Patches

void wxKeyboard::OnLoadPatch(wxCommandEvent&)
{
    wxFileDialog dialog(this, "Load A Config", ResourcePath("patches"), "",
                        "Marovane Patches (*.mrvn)|*.mrvn", wxFD_OPEN, wxDefaultPosition, wxDefaultSize,
                        "filedlg");
    if (dialog.ShowModal() != wxID_OK)
        return;
    LoadPatchFile(dialog.GetPath());
}

bool wxKeyboard::LoadPatchFile(const wxString& path)
{
    const PatchLoadResult result = instrument.LoadPatch(PathBytes(path));
    if (!result.Loaded())
        ShowMessage(TextFromBelow(result.message));
    FocusKeyboard();
    return result.Loaded();
}

// ---------------------------------------------------------------------------
// Envelope, LFO, zoom

void wxKeyboard::OnParameterSlider(wxScrollEvent& event)
{
    for (int row = 0; row < NUM_PARAMETER_SLIDERS; ++row) {
        const ParameterSliderControls& controls = parameterSliders[row];
        if (controls.slider && controls.slider->GetId() == event.GetId()) {
            SynthState& synth = instrument.Synth();
            PARAMETER_SLIDERS[row].store(synth, controls.slider->GetValue());
            controls.label->SetLabel(PARAMETER_SLIDERS[row].text(synth));
        }
    }
    // A drag is one step of the undo history, ended when the slider lets go.
    if (event.GetEventType() == wxEVT_SCROLL_THUMBRELEASE)
        instrument.CommitSound();
    event.Skip();
}

void wxKeyboard::OnLfoWaveform(wxCommandEvent& event)
{
    instrument.Synth().SetLfoWaveform(lfoWaveformChoice->GetSelection());
    instrument.CommitSound();
    // The closed drop-down leaves the window without a focused control.
    FocusKeyboard();
    event.Skip();
}

void wxKeyboard::OnBandLimit(wxCommandEvent& event)
{
    instrument.Synth().SetParameter(ParamId::BandLimit, bandLimitSwitch->GetValue() ? 1.0f : 0.0f);
    instrument.CommitSound();
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
    // The toolkit slider kept the keyboard while the button was down, and with
    // it the key-ups of that time.
    ReleaseNotesNoLongerHeld();
    FocusKeyboard();
    event.Skip();
}

// ---------------------------------------------------------------------------
// Spectra

void wxKeyboard::OnHarmonicsChanged(const float* attack, const float* sustain)
{
    SpectrumOperations::ShowHarmonics(instrument.Synth(), attack, sustain, attackPreview, sustainPreview);
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
    instrument.CommitSound();
    FocusKeyboard();
    event.Skip();
}

void wxKeyboard::GenerateHarmonics(wxCommandEvent& event)
{
    // No waveform chosen: nothing happens.
    if (!SpectrumOperations::Generate(*synthParameters, harmonicWaveformChoice->GetSelection()))
        return;
    instrument.CommitSound();
    FocusKeyboard();
    event.Skip();
}

void wxKeyboard::ClearHarmonics(wxCommandEvent& event)
{
    SpectrumOperations::Clear(*synthParameters->GetHarmonicsPanel());
    instrument.CommitSound();
    Refresh();
    FocusKeyboard();
    event.Skip();
}

void wxKeyboard::CopySustainToAttack(wxCommandEvent& event)
{
    SpectrumOperations::CopySustainToAttack(*synthParameters->GetHarmonicsPanel(), instrument.Synth());
    instrument.CommitSound();
    FocusKeyboard();
    event.Skip();
}

void wxKeyboard::CopyAttackToSustain(wxCommandEvent& event)
{
    SpectrumOperations::CopyAttackToSustain(*synthParameters->GetHarmonicsPanel(), instrument.Synth());
    instrument.CommitSound();
    FocusKeyboard();
    event.Skip();
}

// ---------------------------------------------------------------------------
// Keys, mouse, focus

void wxKeyboard::FocusKeyboard()
{
    if (octaveControls[0])
        octaveControls[0]->SetFocus();
}

void wxKeyboard::OnCloseWindow(wxCloseEvent& event)
{
    // Deleted at the next idle time; the destructor stops the sound and
    // closes an open help window.
    Destroy();
    event.Skip();
}

void wxKeyboard::OnKeyDown(wxKeyEvent& event)
{
    const unsigned modifiers = (event.ControlDown() ? ComputerKeyboard::kCtrl : 0u) |
                               (event.ShiftDown() ? ComputerKeyboard::kShift : 0u);
    const auto action = computerKeyboard.KeyDown(event.GetKeyCode(), event.GetRawKeyFlags(), modifiers);
    if (action == ComputerKeyboard::Action::FocusKeyboard) {
        FocusKeyboard();
    } else if (action == ComputerKeyboard::Action::Save) {
        // The dialog once the key event is done; a second Ctrl+S before it is
        // up (a quick double press, a key repeating) opens no second one.
        if (!saveDialogDue) {
            saveDialogDue = true;
            CallAfter([this] { SaveSound(); });
        }
    } else if (action == ComputerKeyboard::Action::Undo) {
        instrument.Undo();
    } else if (action == ComputerKeyboard::Action::Redo) {
        instrument.Redo();
    } else if (action == ComputerKeyboard::Action::ModWheelUp || action == ComputerKeyboard::Action::ModWheelDown) {
        instrument.StepModWheel(ModWheelValue(), action == ComputerKeyboard::Action::ModWheelUp);
    }
    // Note keys go on to the focused control as well; Tab and the arrows stop.
    if (!ComputerKeyboard::Consumes(action))
        event.Skip();
}

void wxKeyboard::OnKeyUp(wxKeyEvent& event)
{
    computerKeyboard.KeyUp(event.GetKeyCode(), event.GetRawKeyFlags());
    event.Skip();
}

void wxKeyboard::OnMouseRelease(wxMouseEvent& event)
{
    AllNotesOff(false);
    event.Skip();
}

void wxKeyboard::OnActivate(wxActivateEvent& event)
{
    if (!event.GetActive()) {
        // A key held while the focus goes to another window never reports
        // its release here: let its note go now rather than have it stick.
        computerKeyboard.ReleaseAll();
    } else {
        // Back from another window (or a closed drop-down): whatever had the
        // focus inside, the computer keyboard plays again.
        wxWindow* focus = FindFocus();
        if (!focus || wxGetTopLevelParent(focus) != this)
            CallAfter([this] { FocusKeyboard(); });
    }
    event.Skip();
}

void wxKeyboard::OnIconize(wxIconizeEvent& event)
{
    // Minimised: no key and no button of this window can be released here
    // any more.
    if (event.IsIconized()) {
        computerKeyboard.ReleaseAll();
        for (wxOctaveCtrl* octave : octaveControls)
            if (octave)
                octave->LetGoOfMouse();
    }
    event.Skip();
}


void wxKeyboard::ReleaseNotesNoLongerHeld()
{
    computerKeyboard.ReleaseKeysNotPressed(IsHardwareKeyPressed);
}
