#include "AudioSettings.h"

#include <cmath>

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#ifdef __WXGTK__
#include <glib-object.h>
#endif

#include "controls/MessageBox.h"
#include "audio/AudioDevices.h"
#include "audio/AudioMessages.h"
#include "audio/AudioSettingsInterface.h"
#include "audio/AudioStream.h"
#include "controls/KeylessControls.h"
#include "controls/Palette.h"
#include "synth/SynthState.h"

namespace {

// An entry's record: the stream parameters of its device. The choice owns it.
class DeviceRecord : public wxClientData {
public:
    explicit DeviceRecord(const PaStreamParameters& p) : params(p) {}
    PaStreamParameters params;
};

wxString Latin1(const std::string& text) { return wxString(text.c_str(), wxConvISO8859_1); }

#ifdef __WXGTK__
void OnPopupShown(GObject* combo, GParamSpec*, gpointer dialog)
{
    gboolean shown = FALSE;
    g_object_get(combo, "popup-shown", &shown, nullptr);
    static_cast<wxAudioSettings*>(dialog)->OnListShown(shown);
}
#endif

} // namespace

wxString AudioDeviceEntryText(const wxString& name, double latencySeconds, const wxString& host, double rate)
{
    const int ms = static_cast<int>(latencySeconds * 1000.0);
    wxString text = ms != 0 ? wxString::Format("%s (%d ms) [%s]", name, ms, host)
                            : wxString::Format("%s [%s]", name, host);
    if (rate != SAMPLE_RATE)
        text += wxString::Format(" %d Hz", static_cast<int>(std::lround(rate)));
    return text;
}

wxBEGIN_EVENT_TABLE(wxAudioSettings, wxDialog)
    EVT_CHOICE(ID_AUDIO_DEVICE_CHOICE, wxAudioSettings::OnDeviceChoice)
    EVT_BUTTON(ID_AUDIO_CLOSE, wxAudioSettings::OnCloseButton)
    EVT_CLOSE(wxAudioSettings::OnCloseWindow)
    EVT_KEY_DOWN(wxAudioSettings::OnKey)
    EVT_KEY_UP(wxAudioSettings::OnKey)
wxEND_EVENT_TABLE()

wxAudioSettings::wxAudioSettings(wxWindow* parent, AudioSettingsInterface* callback, wxWindowID id,
                                 const wxString& caption, const wxPoint& pos, const wxSize& size, long style,
                                 const AudioDevices* devices)
    : callback(callback)
{
    SetExtraStyle(GetExtraStyle() | wxWS_EX_BLOCK_EVENTS);
    wxDialog::Create(parent, id, caption, pos, size, style, "dialog");
    const PortAudioDevices portAudio;
    CreateControls(devices ? *devices : portAudio);
    GetSizer()->Fit(this);
    GetSizer()->SetSizeHints(this);
    Centre(wxBOTH);
}

void wxAudioSettings::CreateControls(const AudioDevices& devices)
{
    // The keyboard's focus: neither the choice nor the button takes it, so a
    // one-pixel window in the corner, first in line for the focus, holds it
    // and hands its keys on.
    keyTarget = new wxWindow(this, wxID_ANY, wxPoint(0, 0), wxSize(1, 1), wxWANTS_CHARS | wxBORDER_NONE);
    keyTarget->Bind(wxEVT_KEY_DOWN, &wxAudioSettings::OnKey, this);
    keyTarget->Bind(wxEVT_KEY_UP, &wxAudioSettings::OnKey, this);
    keyTarget->Bind(wxEVT_CHAR, [](wxKeyEvent&) {});

    auto* box = new wxBoxSizer(wxVERTICAL);
    SetSizer(box);
    auto* grid = new wxFlexGridSizer(5, 2, 0, 0);
    box->Add(grid, 0, 0, 0);

    label = new wxStaticText(this, wxID_STATIC, "Audio Out Device:");
    grid->Add(label, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);
    deviceChoice = new wxKeylessChoice(this, ID_AUDIO_DEVICE_CHOICE, wxDefaultPosition, wxDefaultSize,
                                       wxArrayString(), 0);
    grid->Add(deviceChoice, 0, wxALL | wxALIGN_CENTER_VERTICAL, 5);

    const int n = devices.Count();
    if (n < 0)
        ShowMessage(wxString::Format("ERROR: Pa_CountDevices returned 0x%x.\n", static_cast<unsigned>(n)));
    if (n == 0)
        deviceChoice->Disable();
    for (int i = 0; i < n; ++i) {
        const AudioDeviceInfo info = devices.Info(i);
        if (info.maxOutputChannels < 2)
            continue; // an input, or a mono output: it cannot play the stream
        const double rate = PlayableRate(devices, i);
        if (rate <= 0)
            continue;
        const wxString text =
            AudioDeviceEntryText(Latin1(info.name), info.defaultLowOutputLatency, Latin1(info.hostApi), rate);
        deviceChoice->Insert(text, 0, new DeviceRecord(StreamParameters(i, info)));
    }

#ifdef __WXGTK__
    g_signal_connect(deviceChoice->GetHandle(), "notify::popup-shown", G_CALLBACK(OnPopupShown), this);
#endif

    // A button that leaves the keys to the music, like the choice.
    closeButton = new wxKeylessButton(this, ID_AUDIO_CLOSE, "Close");
    box->Add(closeButton, 0, wxALL | wxALIGN_CENTER_HORIZONTAL, 5);
}

void wxAudioSettings::OnListShown(bool shown)
{
    // GTK's drop-down reports a choice only when it differs from the entry
    // already chosen, yet choosing the device in use must reopen it (the way
    // back after its server restarted, say). So nothing is chosen while the
    // list is open, and a list closed without a choice gets its entry back.
    // (The list closes before the clicked entry is chosen: look afterwards.)
    if (shown) {
        entryBeforeList = deviceChoice->GetSelection();
        deviceChoice->SetSelection(wxNOT_FOUND);
    } else {
        CallAfter([this] {
            if (deviceChoice->GetSelection() == wxNOT_FOUND)
                SetSelectedDevice(entryBeforeList);
        });
    }
}

void wxAudioSettings::SetSelectedDevice(int index)
{
    if (static_cast<unsigned>(index) < deviceChoice->GetCount())
        deviceChoice->SetSelection(index);
}

int wxAudioSettings::EntryOfDevice(PaDeviceIndex device) const
{
    for (unsigned i = 0; i < deviceChoice->GetCount(); ++i) {
        auto* record = static_cast<DeviceRecord*>(deviceChoice->GetClientObject(i));
        if (record && record->params.device == device)
            return static_cast<int>(i);
    }
    return -1;
}

bool wxAudioSettings::SetForegroundColour(const wxColour& colour)
{
    foreground = colour;
    if (deviceChoice)
        deviceChoice->SetForegroundColour(colour);
    if (label)
        label->SetForegroundColour(colour);
    if (closeButton)
        closeButton->SetForegroundColour(colour);
    const bool changed = wxDialog::SetForegroundColour(colour);
    Refresh();
    return changed;
}

bool wxAudioSettings::SetBackgroundColour(const wxColour& colour)
{
    background = colour;
    if (deviceChoice)
        deviceChoice->SetBackgroundColour(colour);
    if (closeButton)
        closeButton->SetBackgroundColour(colour);
    if (keyTarget)
        keyTarget->SetBackgroundColour(colour);
    const bool changed = wxDialog::SetBackgroundColour(colour);
    Refresh();
    return changed;
}

void wxAudioSettings::OnDeviceChoice(wxCommandEvent&)
{
    const int selection = deviceChoice->GetSelection();
    if (selection == wxNOT_FOUND || !callback)
        return;
    auto* record = static_cast<DeviceRecord*>(deviceChoice->GetClientObject(selection));
    if (record)
        callback->OnAudioDeviceSelected(&record->params);
}

void wxAudioSettings::OnCloseButton(wxCommandEvent& event)
{
    EndModal(0);
    event.Skip();
}

void wxAudioSettings::OnCloseWindow(wxCloseEvent& event)
{
    EndModal(0);
    event.Skip();
}

void wxAudioSettings::OnKey(wxKeyEvent& event)
{
    // The main window plays the note keys (and the mod wheel's arrows).
    if (wxWindow* parent = GetParent())
        parent->GetEventHandler()->ProcessEvent(event);
}

void ShowAudioSettings(wxWindow* parent, AudioSettingsInterface* callback, const AudioStream& audio)
{
    // With its server gone no device plays, and none can be opened in this
    // process: say so rather than show an empty list.
    if (audio.IsLost()) {
        ShowMessage(kAudioLostChoiceText);
        return;
    }
    wxAudioSettings dialog(parent, callback);
    dialog.SetForegroundColour(TextColour());
    dialog.SetBackgroundColour(BackgroundColour());
    dialog.SetSelectedDevice(dialog.EntryOfDevice(audio.Device()));
    dialog.ShowModal();
}
