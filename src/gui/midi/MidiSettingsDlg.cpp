#include "MidiSettingsDlg.h"

#include <wx/button.h>
#include <wx/filefn.h>
#include <wx/image.h>
#include <wx/sizer.h>
#include <wx/spinbutt.h>
#include <wx/stattext.h>

#include "controls/BitmapSpinButton.h"
#include "controls/KeylessControls.h"
#include "controls/ResourcePath.h"
#include "controls/Switch.h"
#include "midi/MidiDeviceSettings.h"

wxIMPLEMENT_DYNAMIC_CLASS(wxMidiSettingsDlg, wxDialog);

wxBEGIN_EVENT_TABLE(wxMidiSettingsDlg, wxDialog)
    EVT_CHOICE(ID_MIDI_OUTPUT_DEVICE, wxMidiSettingsDlg::OnOutputDevice)
    EVT_CHOICE(ID_MIDI_INPUT_DEVICE, wxMidiSettingsDlg::OnInputDevice)
    EVT_SPIN_UP(ID_MIDI_INPUT_CHANNEL_SPIN, wxMidiSettingsDlg::OnInputChannelUp)
    EVT_SPIN_DOWN(ID_MIDI_INPUT_CHANNEL_SPIN, wxMidiSettingsDlg::OnInputChannelDown)
    EVT_SPIN_UP(ID_MIDI_OUTPUT_CHANNEL_SPIN, wxMidiSettingsDlg::OnOutputChannelUp)
    EVT_SPIN_DOWN(ID_MIDI_OUTPUT_CHANNEL_SPIN, wxMidiSettingsDlg::OnOutputChannelDown)
    EVT_CHECKBOX(ID_MIDI_OUTPUT_ENABLED, wxMidiSettingsDlg::OnOutputEnabled)
    EVT_BUTTON(ID_MIDI_CLOSE, wxMidiSettingsDlg::OnCloseButton)
    EVT_CLOSE(wxMidiSettingsDlg::OnCloseWindow)
wxEND_EVENT_TABLE()

wxArrayString MidiPortEntries(MidiPortList* list)
{
    wxArrayString entries;
    for (const std::string& name : MidiPortNames(list))
        entries.Add(wxString::FromUTF8(name));
    return entries;
}

wxMidiSettingsDlg::wxMidiSettingsDlg(wxWindow* parent, MidiSettingsInterface* settings_, wxWindowID id,
                                     const wxString& caption, const wxPoint& pos, const wxSize& size, long style)
{
    Create(parent, settings_, id, caption, pos, size, style);
}

bool wxMidiSettingsDlg::Create(wxWindow* parent, MidiSettingsInterface* settings_, wxWindowID id,
                               const wxString& caption, const wxPoint& pos, const wxSize& size, long style)
{
    settings = settings_;
    // The dialog's command events end here, not in the main window.
    SetExtraStyle(GetExtraStyle() | wxWS_EX_BLOCK_EVENTS);
    if (!wxDialog::Create(parent, id, caption, pos, size, style))
        return false;
    CreateControls();
    GetSizer()->Fit(this);
    GetSizer()->SetSizeHints(this);
    Centre(wxBOTH);
    return true;
}

void wxMidiSettingsDlg::CreateControls()
{
    wxImage spinImage;
    const wxString spinFile = ResourcePath("spin.bmp");
    // A missing picture only means plain arrows.
    if (wxFileExists(spinFile))
        spinImage.LoadFile(spinFile, wxBITMAP_TYPE_BMP);

    auto* column = new wxBoxSizer(wxVERTICAL);
    SetSizer(column);
    auto* grid = new wxFlexGridSizer(5, 2, 0, 0);
    column->Add(grid, 0, 0, 0);

    const int textFlags = wxALIGN_CENTER_VERTICAL | wxALL;
    const int centred = wxALIGN_CENTER_HORIZONTAL | wxALIGN_CENTER_VERTICAL | wxALL;
    auto label = [&](int row, const wxString& text) {
        labels[row] = new wxStaticText(this, wxID_STATIC, text, wxDefaultPosition, wxDefaultSize, 0);
        grid->Add(labels[row], 0, textFlags, 5);
    };
    auto channel = [&](int textId, int spinId, wxStaticText*& text, wxBitmapSpinButton*& spin) {
        auto* box = new wxBoxSizer(wxHORIZONTAL);
        text = new wxStaticText(this, textId, "1", wxDefaultPosition, wxSize(22, -1), 0);
        box->Add(text, 0, textFlags, 5);
        spin = new wxBitmapSpinButton(this, spinId, wxDefaultPosition, wxSize(16, 22), wxSP_ARROW_KEYS);
        spin->SetImage(&spinImage);
        box->Add(spin, 0, centred, 5);
        grid->Add(box, 0, centred, 5);
    };

    label(0, "MIDI Out Device:");
    // No entry is chosen until the main window says which port is open.
    const wxArrayString outputs = MidiPortEntries(settings ? settings->midiOut : nullptr);
    outputChoice = new wxKeylessChoice(this, ID_MIDI_OUTPUT_DEVICE, wxDefaultPosition, wxDefaultSize, outputs, 0);
    if (outputs.IsEmpty())
        outputChoice->Disable();
    grid->Add(outputChoice, 0, textFlags, 5);

    label(1, "MIDI In Device:");
    const wxArrayString inputs = MidiPortEntries(settings ? settings->midiIn : nullptr);
    inputChoice = new wxKeylessChoice(this, ID_MIDI_INPUT_DEVICE, wxDefaultPosition, wxDefaultSize, inputs, 0);
    if (inputs.IsEmpty())
        inputChoice->Disable();
    grid->Add(inputChoice, 0, textFlags, 5);

    label(2, "MIDI Input Channel:");
    channel(ID_MIDI_INPUT_CHANNEL, ID_MIDI_INPUT_CHANNEL_SPIN, inputChannelText, inputChannelSpin);
    label(3, "MIDI Output Channel:");
    channel(ID_MIDI_OUTPUT_CHANNEL, ID_MIDI_OUTPUT_CHANNEL_SPIN, outputChannelText, outputChannelSpin);

    label(4, "MIDI Output Enabled:");
    outputSwitch = new wxSwitch(this, ID_MIDI_OUTPUT_ENABLED, wxEmptyString, wxDefaultPosition, wxSize(22, 22));
    const wxBitmap on = SwitchOnBitmap(), off = SwitchOffBitmap();
    if (on.IsOk() && off.IsOk())
        outputSwitch->SetBitmaps(&on, &off);
    grid->Add(outputSwitch, 0, centred, 5);

    closeButton = new wxButton(this, ID_MIDI_CLOSE, "Close", wxDefaultPosition, wxDefaultSize, 0);
    column->Add(closeButton, 0, wxALIGN_CENTER_HORIZONTAL | wxALL, 5);
}

void wxMidiSettingsDlg::SetOutputEnabled(bool enabled) { outputSwitch->SetValue(enabled); }

namespace {
void ShowEntry(wxChoice* choice, int index)
{
    if (index == wxNOT_FOUND || (index >= 0 && static_cast<unsigned>(index) < choice->GetCount()))
        choice->SetSelection(index);
}

// After a pick: an entry whose port did not open is not shown as chosen, so
// that picking it again tries again.
void ShowWhetherOpened(wxChoice* choice, MidiPortList* list)
{
    if (!list || !list->IsOpen())
        choice->SetSelection(wxNOT_FOUND);
}
} // namespace

void wxMidiSettingsDlg::SetInputDevice(int index) { ShowEntry(inputChoice, index); }

void wxMidiSettingsDlg::SetOutputDevice(int index) { ShowEntry(outputChoice, index); }

void wxMidiSettingsDlg::SetInputChannel(int channel)
{
    if (channel >= 1 && channel <= 16)
        inputChannelText->SetLabel(wxString::Format("%d", channel));
}

void wxMidiSettingsDlg::SetOutputChannel(int channel)
{
    if (channel >= 1 && channel <= 16)
        outputChannelText->SetLabel(wxString::Format("%d", channel));
}

bool wxMidiSettingsDlg::SetForegroundColour(const wxColour& colour)
{
    foregroundColour = colour;
    if (outputChoice) {
        for (wxWindow* w : std::initializer_list<wxWindow*>{outputChoice, inputChoice, inputChannelText,
                                                           outputChannelText, outputSwitch, closeButton})
            w->SetForegroundColour(colour);
        for (wxStaticText* l : labels)
            l->SetForegroundColour(colour);
    }
    const bool changed = wxDialog::SetForegroundColour(colour);
    Refresh();
    return changed;
}

bool wxMidiSettingsDlg::SetBackgroundColour(const wxColour& colour)
{
    backgroundColour = colour;
    if (outputChoice)
        for (wxWindow* w : std::initializer_list<wxWindow*>{outputChoice, inputChoice, closeButton})
            w->SetBackgroundColour(colour);
    const bool changed = wxDialog::SetBackgroundColour(colour);
    Refresh();
    return changed;
}

void wxMidiSettingsDlg::OnOutputDevice(wxCommandEvent&)
{
    if (!settings || outputChoice->GetSelection() == wxNOT_FOUND)
        return;
    settings->SelectMidiOutputDevice(outputChoice->GetSelection());
    ShowWhetherOpened(outputChoice, settings->midiOut);
}

void wxMidiSettingsDlg::OnInputDevice(wxCommandEvent&)
{
    if (!settings || inputChoice->GetSelection() == wxNOT_FOUND)
        return;
    settings->SelectMidiInputDevice(inputChoice->GetSelection());
    ShowWhetherOpened(inputChoice, settings->midiIn);
}

int wxMidiSettingsDlg::StepChannel(wxStaticText* text, int step)
{
    long channel = 0;
    text->GetLabel().ToLong(&channel);
    channel += step;
    if (channel > 16)
        channel = 1;
    if (channel < 1)
        channel = 16;
    text->SetLabel(wxString::Format("%d", static_cast<int>(channel)));
    return static_cast<int>(channel);
}

void wxMidiSettingsDlg::OnInputChannelUp(wxSpinEvent&)
{
    const int channel = StepChannel(inputChannelText, +1);
    if (settings)
        settings->SetMidiInputChannel(channel);
}

void wxMidiSettingsDlg::OnInputChannelDown(wxSpinEvent&)
{
    const int channel = StepChannel(inputChannelText, -1);
    if (settings)
        settings->SetMidiInputChannel(channel);
}

void wxMidiSettingsDlg::OnOutputChannelUp(wxSpinEvent&)
{
    const int channel = StepChannel(outputChannelText, +1);
    if (settings)
        settings->SetMidiOutputChannel(channel);
}

void wxMidiSettingsDlg::OnOutputChannelDown(wxSpinEvent&)
{
    const int channel = StepChannel(outputChannelText, -1);
    if (settings)
        settings->SetMidiOutputChannel(channel);
}

void wxMidiSettingsDlg::OnOutputEnabled(wxCommandEvent&)
{
    if (settings)
        settings->SetMidiOutputEnabled(outputSwitch->GetValue());
}

void wxMidiSettingsDlg::OnCloseButton(wxCommandEvent&)
{
    if (IsModal())
        EndModal(0);
    else
        Hide();
}

void wxMidiSettingsDlg::OnCloseWindow(wxCloseEvent&)
{
    if (IsModal())
        EndModal(0);
    else
        Hide();
}
