#pragma once
// The MIDI Settings dialog: the input and output ports, the two channels and
// the output switch. Every change is applied at once through the main
// window's MidiSettingsInterface; there is no OK or Cancel, and Close (or the
// close box) only ends the dialog. The port lists are read once, when the
// dialog is built. The dialog keeps no copy of the settings: the channel
// numbers live in their texts while it is open.
// GUI thread.

#include <wx/dialog.h>

#include "midi/MidiSettingsInterface.h"

class wxKeylessChoice;
class wxBitmapSpinButton;
class wxButton;
class wxSwitch;
class wxStaticText;
class wxSpinEvent;

constexpr int ID_MIDI_SETTINGS_DIALOG = 14000;
constexpr int ID_MIDI_CLOSE = 14001;
constexpr int ID_MIDI_OUTPUT_ENABLED = 14002;
constexpr int ID_MIDI_INPUT_DEVICE = 14003;
constexpr int ID_MIDI_OUTPUT_DEVICE = 14004;
constexpr int ID_MIDI_INPUT_CHANNEL_SPIN = 14005;
constexpr int ID_MIDI_OUTPUT_CHANNEL_SPIN = 14006;
constexpr int ID_MIDI_INPUT_CHANNEL = 14008;
constexpr int ID_MIDI_OUTPUT_CHANNEL = 14009;

constexpr long MIDI_SETTINGS_STYLE = wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX;

class wxMidiSettingsDlg : public wxDialog {
public:
    wxMidiSettingsDlg() = default;
    wxMidiSettingsDlg(wxWindow* parent, MidiSettingsInterface* settings, wxWindowID id = ID_MIDI_SETTINGS_DIALOG,
                      const wxString& caption = "MIDI Settings", const wxPoint& pos = wxDefaultPosition,
                      const wxSize& size = wxSize(400, 300), long style = MIDI_SETTINGS_STYLE);
    bool Create(wxWindow* parent, MidiSettingsInterface* settings, wxWindowID id = ID_MIDI_SETTINGS_DIALOG,
                const wxString& caption = "MIDI Settings", const wxPoint& pos = wxDefaultPosition,
                const wxSize& size = wxSize(400, 300), long style = MIDI_SETTINGS_STYLE);
    ~wxMidiSettingsDlg() override = default;

    // The values the main window hands in before showing the dialog. A device
    // list starts with no entry chosen; the main window chooses the entry of
    // the port that is open, and wxNOT_FOUND (no port open) chooses none, so
    // that picking any entry opens it. A device index beyond the list, or a
    // channel outside 1 to 16, changes nothing.
    void SetOutputEnabled(bool enabled);
    void SetInputDevice(int index);
    void SetOutputDevice(int index);
    void SetInputChannel(int channel);
    void SetOutputChannel(int channel);

    // Colour the dialog and the controls that show text.
    bool SetForegroundColour(const wxColour& colour) override;
    bool SetBackgroundColour(const wxColour& colour) override;

private:
    void CreateControls();

    void OnOutputDevice(wxCommandEvent& event);
    void OnInputDevice(wxCommandEvent& event);
    void OnInputChannelUp(wxSpinEvent& event);
    void OnInputChannelDown(wxSpinEvent& event);
    void OnOutputChannelUp(wxSpinEvent& event);
    void OnOutputChannelDown(wxSpinEvent& event);
    void OnOutputEnabled(wxCommandEvent& event);
    void OnCloseButton(wxCommandEvent& event);
    void OnCloseWindow(wxCloseEvent& event);

    // The number in a channel text stepped by one, wrapping 16 -> 1 and
    // 1 -> 16; shown, and returned.
    int StepChannel(wxStaticText* text, int step);

    wxKeylessChoice* outputChoice = nullptr;
    wxKeylessChoice* inputChoice = nullptr;
    wxBitmapSpinButton* inputChannelSpin = nullptr;
    wxBitmapSpinButton* outputChannelSpin = nullptr;
    wxButton* closeButton = nullptr;
    wxColour backgroundColour;
    wxColour foregroundColour;
    wxSwitch* outputSwitch = nullptr;
    MidiSettingsInterface* settings = nullptr;
    wxStaticText* inputChannelText = nullptr;
    wxStaticText* outputChannelText = nullptr;
    wxStaticText* labels[5] = {};

    wxDECLARE_DYNAMIC_CLASS(wxMidiSettingsDlg);
    wxDECLARE_EVENT_TABLE();
};

// The port names of a list as the dialog lists them, entry 0 first; empty for
// a null list.
wxArrayString MidiPortEntries(MidiPortList* list);
