#pragma once
// wxKeyboard, the program's one window: the front of the instrument. It builds
// the controls (CreateControls.cpp), binds their events in one table, and
// hands every action to the pieces that do the work:
//   the Instrument (src/instrument)    sound, audio, notes, MIDI bytes, patches;
//   the ComputerKeyboard               which keys are down, what a key means;
//   the KeyHighlights                  the lit keys and their thread hop;
//   the ParameterSliders table         the envelope and LFO sliders;
//   the MIDI glue (KeyboardMidi.cpp)    start-up ports, the settings dialog,
//                                       and a timer that shows what MIDI
//                                       input changed.
// The four interfaces the window implements are one-line forwards to them.
//
// Threads: everything here runs on the GUI thread, except the OctaveCallback
// operations and the display reports (InstrumentDisplay, KeyLights via the
// highlights), which MIDI input also reaches on its own thread; those carry
// their window changes over to the GUI thread. Nothing touches a window from
// another thread.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <wx/bitmap.h>
#include <wx/dialog.h>
#include <wx/icon.h>
#include <wx/timer.h>

#include "app/AboutHelp.h"
#include "app/ControlIds.h"
#include "app/ParameterSliders.h"
#include "audio/AudioSettingsInterface.h"
#include "audio/AudioWatch.h"
#include "controls/HarmonicsCallback.h"
#include "app/ComputerKeyboard.h"
#include "app/Instrument.h"
#include "app/KeyHighlights.h"
#include "app/RememberedSettings.h"
#include "midi/MidiSettingsInterface.h"

class wxOctaveCtrl;
class wxStaticText;
class wxSlider;
class SynthParametersDlg;
class wxBitmapSlider;
class wxKeylessChoice;
class wxKeylessSwitch;
class wxKeylessButton;
class wxMiniWavePanel;
class wxVolumeMeter;
class wxBitmapSpinButton;
class wxScrollEvent;
class wxSpinEvent;
class wxCommandEvent;
class wxSizer;
class wxIconizeEvent;

constexpr long KEYBOARD_STYLE =
    wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX | wxWANTS_CHARS;

class wxKeyboard : public wxDialog,
                   public OctaveCallback,
                   public MidiSettingsInterface,
                   public HarmonicsCallback,
                   public AudioSettingsInterface,
                   private InstrumentDisplay,
                   private KeyLights {
public:
    wxKeyboard();
    wxKeyboard(wxWindow* parent, wxWindowID id = ID_KEYBOARD, const wxString& caption = "Marovane",
               const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxSize(400, 300),
               long style = KEYBOARD_STYLE);
    ~wxKeyboard() override;

    // ---- OctaveCallback (GUI and MIDI input threads) ----
    void NoteOn(int note, bool fromMidi) override { instrument.NoteOn(note, fromMidi); }
    void NoteOff(int note, bool fromMidi) override { instrument.NoteOff(note, fromMidi); }
    void AllNotesOff(bool fromMidi) override { instrument.AllNotesOff(fromMidi); }
    void ReleaseKey(int note) override { instrument.ReleaseKey(note); }

    // ---- MidiSettingsInterface (KeyboardMidi.cpp) ----
    // A port that cannot be opened is told in a message box.
    void SelectMidiInputDevice(int index) override;
    void SelectMidiOutputDevice(int index) override;
    // Each change is also remembered for the next start.
    void SetMidiInputChannel(int channel) override;
    void SetMidiOutputChannel(int channel) override;
    void SetMidiOutputEnabled(bool enabled) override;

    // ---- HarmonicsCallback ----
    void OnHarmonicsChanged(const float* attack, const float* sustain) override;

    // ---- AudioSettingsInterface ----
    void OnAudioDeviceChanged(int) override {}
    // A device that opens is remembered for the next start.
    void OnAudioDeviceSelected(const PaStreamParameters* params) override;

    // Gives the keyboard focus to the first octave control, so the computer
    // keyboard plays.
    void FocusKeyboard();

    // The seven octave controls, entry k showing notes 24 + 12k to 35 + 12k.
    wxOctaveCtrl* octaveControls[NUM_OCTAVES];

    Instrument& GetInstrument() { return instrument; }
    SynthState& Synth() { return instrument.Synth(); }
    AudioStream& Audio() { return instrument.Audio(); }
    // The mod wheel slider's position, truncated and held within an int.
    int ModWheelValue() const;
    int CurrentBank() const { return instrument.CurrentBank(); }
    int CurrentPatch() const { return instrument.CurrentPatch(); }
    SynthParametersDlg* SynthParameters() const { return synthParameters; }
    void SetBank(int bank, bool fromMidi) { instrument.SetBank(bank, fromMidi); }
    void SetPatch(int patch, bool fromMidi) { instrument.SetPatch(patch, fromMidi); }
    void SetMidiMonitor(std::function<void(const std::vector<uint8_t>&)> monitor)
    {
        instrument.SetMidiMonitor(std::move(monitor));
    }
    bool IsComputerKeyDown(int note) const { return computerKeyboard.IsDown(note); }

    // Loads a patch file into the sound and the controls (what the Load
    // button does once a file is chosen). A file that cannot be read or is
    // not a patch changes nothing and says so in a message box; returns
    // whether it loaded.
    bool LoadPatchFile(const wxString& path);
    // Saves the sound as a patch file (what Ctrl+S does once a name is
    // chosen); a failure is said in a message box. Returns whether it saved.
    bool SavePatchFile(const wxString& path); // SavePatch.cpp

    // ---- The tuning (Tuning.cpp) ----
    // Plays in the tuning of a Scala scale file and, when `kbmPath` is not
    // empty, a keyboard mapping file for it (what the Tuning button's menu
    // does once files are chosen): the name shows under the keyboard and the
    // files are remembered for the next start. A file that cannot be read,
    // or is no scale or mapping, changes nothing and says so, with the
    // reader's reason and the file's name, in one message box; returns
    // whether it loaded.
    bool LoadTuning(const wxString& sclPath, const wxString& kbmPath);
    // Twelve equal steps again, remembered.
    void UseEqualTuning();
    // The label that names the tuning ("Tuning: twelve equal steps").
    wxString TuningLabel() const;

private:
    // ---- The event table's handlers, in its order ----
    void OnCloseWindow(wxCloseEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void OnKeyUp(wxKeyEvent& event);
    void OnPanic(wxCommandEvent& event);
    void OnAbout(wxCommandEvent& event);
    void OnHelp(wxCommandEvent& event);
    void OnMidiSettings(wxCommandEvent& event);
    void OnLoadPatch(wxCommandEvent& event);
    void ClearHarmonics(wxCommandEvent& event);
    void GenerateHarmonics(wxCommandEvent& event);
    void OnAudioSettings(wxCommandEvent& event);
    void OnBankUp(wxSpinEvent& event);
    void OnBankDown(wxSpinEvent& event);
    void OnPatchUp(wxSpinEvent& event);
    void OnPatchDown(wxSpinEvent& event);
    void OnModWheel(wxScrollEvent& event);
    void OnPitchWheel(wxScrollEvent& event);
    void OnZoom(wxScrollEvent& event);
    void OnNormalize(wxCommandEvent& event);
    void OnEditAttack(wxCommandEvent& event);
    void OnEditSustain(wxCommandEvent& event);
    void CopySustainToAttack(wxCommandEvent& event);
    void CopyAttackToSustain(wxCommandEvent& event);
    void OnLfoWaveform(wxCommandEvent& event);
    // The band limit's switch: a step of the undo history.
    void OnBandLimit(wxCommandEvent& event);
    void OnMouseRelease(wxMouseEvent& event);
    // The attack, decay, sustain, release and LFO frequency sliders.
    void OnParameterSlider(wxScrollEvent& event);
    void OnHarmonicWaveform(wxCommandEvent& event);
    void OnActivate(wxActivateEvent& event);
    void OnIconize(wxIconizeEvent& event);
    // Connected to the zoom slider, a toolkit slider that takes the focus.
    void OnZoomMouseUp(wxMouseEvent& event);

    // ---- MIDI (KeyboardMidi.cpp) ----
    // Opens the remembered MIDI input and output ports, else port 0, or says
    // there are none.
    void OpenMidiDevices();
    // Shows what MIDI input changed (wheels, patch number, key highlights)
    // and passes on what waits to be sent; every few milliseconds.
    void OnMidiTimer(wxTimerEvent& event);
    void ShowMidiMessage(const std::string& text);

    void CreateControls(); // CreateControls.cpp
    // Ctrl+S: the save dialog in the player's patch folder (SavePatch.cpp).
    void SaveSound();
    // A save dialog is on its way or open.
    bool saveDialogDue = false;
    // The steps of the undo history that end in a child's events.
    void ConnectUndoSteps(); // SavePatch.cpp
    wxBitmap GetBitmapResource(const wxString& name);
    // Starts the sound on the remembered device, else the default one; shows
    // every failure of the audio start in its own message box.
    void InitAudio();

    // ---- Settings kept between starts ----
    // Applies `change` to what is remembered and writes it; the first write
    // that fails in a run is told in a message box, later ones are not.
    void Remember(const std::function<void(RememberedSettings&)>& change);
    // Read when the window is made (the default constructor reads nothing).
    std::unique_ptr<SettingsMemory> settingsMemory;
    // Notes started by the computer keyboard or the mouse that no key and no
    // button holds any more go up: the window will not see their release.
    void ReleaseNotesNoLongerHeld();

    // ---- InstrumentDisplay (GUI and MIDI threads) ----
    void ShowModWheel(int value) override;
    void ShowPitchWheel(int value) override;
    void ShowBank(int bank) override;
    void ShowPatch(int patch) override;
    void ShowSound() override;
    // Runs `show` now on the GUI thread, or later there from another thread.
    void OnGuiThread(std::function<void()> show);

    // ---- KeyLights (GUI thread, from the highlights) ----
    void SetKeyLit(int octave, int key, bool lit) override;
    void ClearKeys() override;

    // The instrument reports its notes' keys to the highlights, which are
    // built right after it (they read its note table).
    Instrument instrument{*this, highlights};
    // Changes from MIDI input wait in the highlights' queue for the MIDI
    // timer, so the MIDI input thread never posts to the toolkit.
    KeyHighlights highlights{instrument.Synth(), *this, [](std::function<void()>) {}, &instrument.MidiKeys()};
    wxTimer midiTimer{this};
    bool replayingMidi = false; // the MIDI timer is showing MIDI input's keys
    ComputerKeyboard computerKeyboard{instrument};

    wxColour textColour;
    wxColour backgroundColour;
    wxIcon programIcon;
    // The help book and its window, for the whole life of the window.
    HelpBook help;
    // The red ball markers shared by all seven octave controls.
    wxBitmap blackKeyMarker;
    wxBitmap whiteKeyMarker;

    // The window's other controls; null until they are created.
    SynthParametersDlg* synthParameters = nullptr;
    wxStaticText* zoomLabel = nullptr;
    wxSlider* zoomSlider = nullptr;
    std::array<ParameterSliderControls, NUM_PARAMETER_SLIDERS> parameterSliders{};
    wxKeylessChoice* lfoWaveformChoice = nullptr;
    wxMiniWavePanel* attackPreview = nullptr;
    wxMiniWavePanel* sustainPreview = nullptr;
    wxKeylessChoice* harmonicWaveformChoice = nullptr;
    wxKeylessSwitch* bandLimitSwitch = nullptr;
    wxKeylessButton* attackButton = nullptr;
    wxKeylessButton* sustainButton = nullptr;
    wxVolumeMeter* leftMeter = nullptr;
    wxVolumeMeter* rightMeter = nullptr;
    wxStaticText* bankLabel = nullptr;
    wxStaticText* patchLabel = nullptr;
    wxBitmapSpinButton* bankSpin = nullptr;
    wxBitmapSpinButton* patchSpin = nullptr;
    wxBitmapSlider* pitchWheelSlider = nullptr;
    wxBitmapSlider* modWheelSlider = nullptr;

    // ---- The tuning (Tuning.cpp) ----
    // The Tuning button and the label under the keyboard, in `top`.
    void CreateTuningControls(wxSizer* top);
    // At start: the remembered tuning, or one message and twelve equal steps.
    void RestoreTuning();
    // Reads both files and hands the table to the sound; empty, or why not.
    std::string ApplyTuningFiles(const std::string& scl, const std::string& kbm);
    void ShowTuningName();
    wxKeylessButton* tuningButton = nullptr;
    wxStaticText* tuningLabel = nullptr;
    // The files in use (empty: twelve equal steps) and the tuning's name.
    std::string tuningScale;
    std::string tuningKeymap;
    std::string tuningName;

    // Tells the player when the sound is lost and when its server is back.
    std::unique_ptr<AudioWatch> audioWatch;

    wxDECLARE_DYNAMIC_CLASS(wxKeyboard);
    wxDECLARE_EVENT_TABLE();
};
