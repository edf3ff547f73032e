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

#include <cstdint>
#include <functional>
#include <vector>

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
class wxBitmapSpinButton;
class wxScrollEvent;
class wxSpinEvent;
class wxCommandEvent;

// Identifiers of the main window and its controls.
constexpr int ID_KEYBOARD = 10000;
constexpr int ID_BANK_SPIN = 10001;
constexpr int ID_PATCH_SPIN = 10003;
constexpr int ID_OCTAVE_FIRST = 10006; // octave controls 10006 to 10012, low to high
constexpr int ID_PATCH_LABEL = 10013;
constexpr int ID_PITCH_WHEEL = 10015;
constexpr int ID_MOD_WHEEL = 10016;
constexpr int ID_PANIC = 10017;
constexpr int ID_ABOUT = 10018;
constexpr int ID_HELP = 10019;
constexpr int ID_LOAD_PATCH = 10022;
constexpr int ID_MIDI_SETTINGS = 10023;
constexpr int ID_BANK_LABEL = 10025;
constexpr int ID_LEFT_METER = 10027;
constexpr int ID_RIGHT_METER = 10028;
constexpr int ID_ATTACK_PREVIEW = 10033;
constexpr int ID_SUSTAIN_PREVIEW = 10034;
constexpr int ID_NORMALIZE = 10035;
constexpr int ID_EDIT_ATTACK = 10036;
constexpr int ID_EDIT_SUSTAIN = 10037;
constexpr int ID_CLEAR = 10038;
constexpr int ID_GENERATE = 10039;
constexpr int ID_HARMONIC_WAVEFORM = 10040;
constexpr int ID_ZOOM_SLIDER = 10041;
constexpr int ID_COPY_SUSTAIN_TO_ATTACK = 10042;
constexpr int ID_COPY_ATTACK_TO_SUSTAIN = 10043;
constexpr int ID_LFO_FREQUENCY = 10044;
constexpr int ID_LFO_WAVEFORM = 10045;
constexpr int ID_LFO_FREQUENCY_LABEL = 10046;
constexpr int ID_ATTACK_SLIDER = 10047;
constexpr int ID_DECAY_SLIDER = 10048;
constexpr int ID_SUSTAIN_SLIDER = 10049;
constexpr int ID_RELEASE_SLIDER = 10050;
constexpr int ID_AUDIO_SETTINGS = 10055;

// The wheels' range: 0 to 16383, the pitch wheel at rest in the centre.
constexpr int WHEEL_MAX = 16383;
constexpr int PITCH_WHEEL_REST = 8192;

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
    // The mod wheel slider's position 0 to 16383, truncated.
    int ModWheelValue() const;
    int CurrentBank() const { return currentBank; }
    int CurrentPatch() const { return currentPatch; }
    SynthParametersDlg* SynthParameters() const { return synthParameters; }

    // The bank and patch selectors: show the number, keep it, and send Bank
    // Select or Program Change when output is on and the number did not come
    // from MIDI input.
    void SetBank(int bank, bool fromMidi);
    void SetPatch(int patch, bool fromMidi);
    // Panic's steps after the notes are released: controllers back to rest
    // (the mod wheel and its tremolo to 0, the pitch wheel to the centre),
    // then All Sound Off.
    void ResetControllers();
    void SendAllSoundOff();

    // Loads a patch file into the synthesis state and the controls (what the
    // Load button does once a file is chosen). An unreadable or malformed file
    // changes nothing and says so in a message box; returns whether it loaded.
    bool LoadPatchFile(const wxString& path);

    // Where the bytes SendMidiMessage would send go as well, in order (one
    // vector per message); empty by default. For tests and monitors; GUI
    // thread, set before notes play.
    void SetMidiMonitor(std::function<void(const std::vector<uint8_t>&)> monitor)
    {
        midiMonitor = std::move(monitor);
    }
    // True while a note's key is down on the computer keyboard.
    bool IsComputerKeyDown(int note) const { return computerKeyDown[note]; }

    // The event handlers, public so that children can be routed to them.
    void OnCloseWindow(wxCloseEvent& event);
    void OnKeyDown(wxKeyEvent& event);
    void OnKeyUp(wxKeyEvent& event);
    void OnMouseRelease(wxMouseEvent& event);
    void OnActivate(wxActivateEvent& event);
    void OnZoomMouseUp(wxMouseEvent& event);

private:
    // ---- Handlers of the event table, in its order ----
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
    void OnLfoFrequency(wxScrollEvent& event);
    void OnNormalize(wxCommandEvent& event);
    void OnEditAttack(wxCommandEvent& event);
    void OnEditSustain(wxCommandEvent& event);
    void CopySustainToAttack(wxCommandEvent& event);
    void CopyAttackToSustain(wxCommandEvent& event);
    void OnLfoWaveform(wxCommandEvent& event);
    void OnAttack(wxScrollEvent& event);
    void OnDecay(wxScrollEvent& event);
    void OnSustain(wxScrollEvent& event);
    void OnRelease(wxScrollEvent& event);

    // The mod wheel at a position: depth, and the controller messages when
    // output is on. Shared by the slider's handler and the arrow keys.
    void ApplyModWheel(int value);
    // The pitch wheel slider and the copy the render reads, together.
    void SetPitchWheel(int value);
    // The envelope and LFO controls show the synthesis state's values.
    void ShowParameters();
    // A message of one or two data bytes (Program Change has one).
    void SendMidi(uint8_t status, uint8_t data1, uint8_t data2 = 0);
    // A key event of a child that would also hand it on by itself: played
    // here once, then stopped.
    void RouteKey(wxKeyEvent& event, bool down);
    // A harmonic waveform was chosen: the drop-down took the focus.
    void OnHarmonicWaveform(wxCommandEvent& event);

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

    std::function<void(const std::vector<uint8_t>&)> midiMonitor;
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
    wxBitmapSpinButton* bankSpin = nullptr;
    wxBitmapSpinButton* patchSpin = nullptr;
    wxBitmapSlider* pitchWheelSlider = nullptr;
    wxBitmapSlider* modWheelSlider = nullptr;

    wxDECLARE_DYNAMIC_CLASS(wxKeyboard);
    wxDECLARE_EVENT_TABLE();
};
