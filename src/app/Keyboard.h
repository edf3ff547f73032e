#pragma once
// wxKeyboard, the program's one window. It owns the synthesis state, the
// audio stream and (through MidiSettingsInterface) the MIDI ports, builds the
// controls, and is the receiver of every note event: the octave controls, the
// computer keyboard and MIDI input all play through its OctaveCallback.
//
// Threads: everything here runs on the GUI thread, except the OctaveCallback
// operations, which MIDI input also calls on its own thread. Those change the
// note table at once and carry the key highlights over to the GUI thread with
// CallAfter; nothing touches a window from another thread.

#include <wx/bitmap.h>
#include <wx/dialog.h>
#include <wx/icon.h>

#include "controls/HarmonicsCallback.h"
#include "audio/AudioSettingsInterface.h"
#include "audio/AudioStream.h"
#include "midi/MidiSettingsInterface.h"
#include "midi/NoteEvents.h"
#include "synth/SynthState.h"

class wxOctaveCtrl;
class wxStaticText;
class wxSlider;
class wxButton;
class SynthParametersDlg;
class wxBitmapSlider;
class wxKeylessChoice;
class wxKeylessButton;
class wxMiniWavePanel;
class wxVolumeMeter;

// Identifiers of the main window and of the controls that exist so far.
constexpr int ID_KEYBOARD = 10000;
constexpr int ID_OCTAVE_FIRST = 10006; // octave controls 10006 to 10012, low to high
constexpr int ID_PITCH_WHEEL = 10015;
constexpr int ID_MOD_WHEEL = 10016;

constexpr long KEYBOARD_STYLE =
    wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX | wxMINIMIZE_BOX | wxWANTS_CHARS;

class wxKeyboard : public wxDialog,
                   public OctaveCallback,
                   public MidiSettingsInterface,
                   public HarmonicsCallback,
                   public AudioSettingsInterface,
                   private KeyDisplay,
                   private MidiSender {
public:
    wxKeyboard();
    wxKeyboard(wxWindow* parent, wxWindowID id = ID_KEYBOARD, const wxString& caption = "Marovane",
               const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxSize(400, 300),
               long style = KEYBOARD_STYLE);
    ~wxKeyboard() override;

    // ---- OctaveCallback (GUI and MIDI input threads) ----
    void NoteOn(int note, bool fromMidi) override;
    void NoteOff(int note, bool fromMidi) override;
    void AllNotesOff(bool fromMidi) override;
    void ReleaseKey(int note) override;

    // ---- MidiSettingsInterface ----
    void SelectMidiInputDevice(int index) override;
    void SelectMidiOutputDevice(int index) override;
    void SetMidiInputChannel(int channel) override;
    void SetMidiOutputChannel(int channel) override;
    void SetMidiOutputEnabled(bool enabled) override;

    // ---- HarmonicsCallback ----
    void OnHarmonicsChanged(const float* attack, const float* sustain) override;

    // ---- AudioSettingsInterface ----
    void OnAudioDeviceChanged(int deviceIndex) override;
    void OnAudioDeviceSelected(const PaStreamParameters* params) override;

    // Gives the keyboard focus to the first octave control, so the computer
    // keyboard plays.
    void FocusKeyboard();

    // The seven octave controls, entry k showing notes 24 + 12k to 35 + 12k.
    wxOctaveCtrl* octaveControls[NUM_OCTAVES];

    SynthState& Synth() { return synth; }
    AudioStream& Audio() { return audio; }
    // The mod wheel position 0 to 16383, moved by the arrow keys (and later
    // by the wheel slider and MIDI controller 1).
    int ModWheelValue() const { return modWheelValue; }
    // True while a note's key is down on the computer keyboard.
    bool IsComputerKeyDown(int note) const { return computerKeyDown[note]; }

    // The event handlers, public so that children can be routed to them.
    void OnCloseWindow(wxCloseEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void OnKeyUp(wxKeyEvent& event);
    void OnMouseRelease(wxMouseEvent& event);
    void OnActivate(wxActivateEvent& event);

private:
    // Start-up and shutdown steps, in their order.
    void OpenMidiDevices();   // MIDI ports: opened here once MIDI exists
    void CloseMidiDevices();  // ... and closed here, between suspend and abort
    void CreateControls();    // CreateControls.cpp
    wxBitmap GetBitmapResource(const wxString& name);
    void InitAudio();
    void ShutdownAudio();

    // Notes whose key is down on the computer keyboard all go up: the window
    // lost the focus and will not see their key-up.
    void ReleaseComputerKeys();

    // ---- KeyDisplay: the key highlights, carried to the GUI thread ----
    void ShowKeyDown(int octave, int key) override;
    void ShowKeyUp(int octave, int key) override;
    void ClearAllKeys() override;
    // ---- MidiSender ----
    void SendMidiMessage(uint8_t status, uint8_t data1, uint8_t data2) override;

    SynthState synth;
    AudioStream audio{synth};
    NoteEvents notes{synth, *this, *this};

    wxColour textColour;
    wxColour backgroundColour;
    wxIcon programIcon;
    // The red ball markers shared by all seven octave controls.
    wxBitmap blackKeyMarker;
    wxBitmap whiteKeyMarker;

    // MIDI settings, the same at every start.
    // The output channel and the echo switch live in `notes`, which reads
    // them on the MIDI input thread too.
    int midiInputChannel = 1;
    int midiInputDevice = 0;
    int midiOutputDevice = 0;
    int currentBank = 1;
    int currentPatch = 1;

    int modWheelValue = 0;
    bool computerKeyDown[NUM_NOTES] = {};

    // The window's other controls; null until they are created.
    SynthParametersDlg* synthParameters = nullptr;
    wxStaticText* zoomLabel = nullptr;
    wxSlider* zoomSlider = nullptr;
    wxBitmapSlider* attackSlider = nullptr;
    wxStaticText* attackLabel = nullptr;
    wxBitmapSlider* decaySlider = nullptr;
    wxStaticText* decayLabel = nullptr;
    wxBitmapSlider* sustainSlider = nullptr;
    wxStaticText* sustainLabel = nullptr;
    wxBitmapSlider* releaseSlider = nullptr;
    wxStaticText* releaseLabel = nullptr;
    wxBitmapSlider* lfoFrequencySlider = nullptr;
    wxStaticText* lfoFrequencyLabel = nullptr;
    wxKeylessChoice* lfoWaveformChoice = nullptr;
    wxMiniWavePanel* attackPreview = nullptr;
    wxMiniWavePanel* sustainPreview = nullptr;
    wxKeylessChoice* harmonicWaveformChoice = nullptr;
    wxKeylessButton* attackButton = nullptr;
    wxKeylessButton* sustainButton = nullptr;
    wxVolumeMeter* leftMeter = nullptr;
    wxVolumeMeter* rightMeter = nullptr;
    wxStaticText* bankLabel = nullptr;
    wxStaticText* patchLabel = nullptr;
    wxBitmapSlider* pitchWheelSlider = nullptr;
    wxBitmapSlider* modWheelSlider = nullptr;

    wxDECLARE_DYNAMIC_CLASS(wxKeyboard);
    wxDECLARE_EVENT_TABLE();
};
