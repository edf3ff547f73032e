#pragma once
// wxAudioSettings, the modal dialog "Audio Settings" in which the user picks
// the audio output device. It lists every device that plays the program's
// stream (stereo float at 44100 Hz, or at the device's own rate), the last
// usable device first; picking an entry reopens the stream on it at once
// through AudioSettingsInterface::OnAudioDeviceSelected, and the dialog stays
// open until closed. Note keys typed while it is open go on to the main
// window, so a device can be tried by ear. GUI thread.

#include <wx/dialog.h>

#include <portaudio.h>

class AudioDevices;
class AudioSettingsInterface;
class AudioStream;
class wxButton;
class wxKeylessChoice;
class wxStaticText;

constexpr int ID_AUDIO_SETTINGS_DIALOG = 14000;
constexpr int ID_AUDIO_CLOSE = 14001;
constexpr int ID_AUDIO_DEVICE_CHOICE = 14004;

constexpr long AUDIO_SETTINGS_STYLE = wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX;

class wxAudioSettings : public wxDialog {
public:
    // `devices` is where the list comes from: PortAudio's devices when null.
    wxAudioSettings(wxWindow* parent, AudioSettingsInterface* callback, wxWindowID id = ID_AUDIO_SETTINGS_DIALOG,
                    const wxString& caption = "Audio Settings", const wxPoint& pos = wxDefaultPosition,
                    const wxSize& size = wxSize(400, 300), long style = AUDIO_SETTINGS_STYLE,
                    const AudioDevices* devices = nullptr);
    ~wxAudioSettings() override = default;

    // Selects entry `index` (no selection event); an index beyond the list
    // does nothing.
    void SetSelectedDevice(int index);
    // The entry of device `device`, or -1 when it is not listed.
    int EntryOfDevice(PaDeviceIndex device) const;

    bool SetForegroundColour(const wxColour& colour) override;
    bool SetBackgroundColour(const wxColour& colour) override;

    wxKeylessChoice* DeviceChoice() const { return deviceChoice; }
    // The drop-down list opened (true) or closed.
    void OnListShown(bool shown);

private:
    void CreateControls(const AudioDevices& devices);
    void OnDeviceChoice(wxCommandEvent& event);
    void OnCloseButton(wxCommandEvent& event);
    void OnCloseWindow(wxCloseEvent& event);
    void OnKey(wxKeyEvent& event);

    AudioSettingsInterface* callback;
    wxKeylessChoice* deviceChoice = nullptr;
    wxButton* closeButton = nullptr;
    wxStaticText* label = nullptr;
    wxWindow* keyTarget = nullptr;
    wxColour foreground;
    wxColour background;
    int entryBeforeList = wxNOT_FOUND;

    wxDECLARE_EVENT_TABLE();
};

// The text of a device's entry: "name (12 ms) [host]", or "name [host]" when
// the latency is under a millisecond; a rate other than 44100 Hz follows as
// " 48000 Hz".
wxString AudioDeviceEntryText(const wxString& name, double latencySeconds, const wxString& host, double rate);

// What the main window's audio settings button does: the dialog in the
// window's colours with the device in use preselected, shown modally; after
// the audio server died, a message that a restart is needed instead.
void ShowAudioSettings(wxWindow* parent, AudioSettingsInterface* callback, const AudioStream& audio);
