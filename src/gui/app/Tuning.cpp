// The window's tuning: a button whose menu loads a Scala scale, a keyboard
// mapping for it, or goes back to twelve equal steps; a label with the
// tuning's name; the files remembered between starts.
#include "Keyboard.h"

#include <wx/filedlg.h>
#include <wx/menu.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "controls/KeylessControls.h"
#include "controls/MessageBox.h"
#include "tuning/Tuning.h"

namespace {

constexpr int ID_LOAD_TUNING = 10072;
constexpr int ID_LOAD_KEYMAP = 10073;
constexpr int ID_EQUAL_TUNING = 10074;

// A file's name without its folder.
std::string FileName(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

void wxKeyboard::CreateTuningControls(wxSizer* top)
{
    auto* row = new wxBoxSizer(wxHORIZONTAL);
    top->Add(row, 0, wxLEFT | wxRIGHT | wxBOTTOM, 5);
    tuningButton = new wxKeylessButton(this, ID_TUNING_BUTTON, wxString::FromUTF8("Tuning \u25be"),
                                       wxDefaultPosition, wxSize(80, 20), wxBU_AUTODRAW);
    tuningButton->SetToolTip("Load a Scala tuning or keyboard mapping, or go back to twelve equal steps");
    row->Add(tuningButton, 0, wxALIGN_CENTER_VERTICAL | wxALL, 3);
    tuningLabel = new wxStaticText(this, ID_TUNING_LABEL, "", wxDefaultPosition, wxSize(600, -1),
                                   wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_END, "staticText");
    tuningLabel->SetForegroundColour(textColour);
    row->Add(tuningLabel, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
    tuningButton->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) {
        wxMenu menu;
        menu.Append(ID_LOAD_TUNING, "Load Tuning...");
        menu.Append(ID_LOAD_KEYMAP, "Load Keyboard Mapping...")->Enable(!tuningScale.empty());
        menu.Append(ID_EQUAL_TUNING, "Equal Tuning")->Enable(!tuningScale.empty());
        PopupMenu(&menu, tuningButton->GetPosition() + wxPoint(0, tuningButton->GetSize().y));
        FocusKeyboard();
    });
    Bind(wxEVT_MENU, [this](wxCommandEvent&) {
        wxFileDialog dialog(this, "Load a Tuning", "", "", "Scala scales (*.scl)|*.scl|All files|*", wxFD_OPEN);
        if (dialog.ShowModal() == wxID_OK)
            LoadTuning(dialog.GetPath(), "");
    }, ID_LOAD_TUNING);
    Bind(wxEVT_MENU, [this](wxCommandEvent&) {
        wxFileDialog dialog(this, "Load a Keyboard Mapping", "", "",
                            "Scala keyboard mappings (*.kbm)|*.kbm|All files|*", wxFD_OPEN);
        if (dialog.ShowModal() == wxID_OK)
            LoadTuning(PathText(tuningScale), dialog.GetPath());
    }, ID_LOAD_KEYMAP);
    Bind(wxEVT_MENU, [this](wxCommandEvent&) { UseEqualTuning(); }, ID_EQUAL_TUNING);
    ShowTuningName();
}

std::string wxKeyboard::ApplyTuningFiles(const std::string& scl, const std::string& kbm)
{
    std::string sclText, kbmText;
    if (std::string reason = ReadTuningFile(scl, sclText); !reason.empty())
        return "the scale file " + reason;
    if (!kbm.empty())
        if (std::string reason = ReadTuningFile(kbm, kbmText); !reason.empty())
            return "the keyboard mapping file " + reason;
    TuningTable table;
    std::string description;
    if (std::string reason = TuningFromTexts(sclText, kbmText, table, description); !reason.empty())
        return (reason.rfind("scale: ", 0) == 0 ? "'" + scl + "', " : "'" + kbm + "', ") + reason;
    instrument.Synth().SetTuning(table.frequency.data(), table.sounds.data());
    tuningScale = scl;
    tuningKeymap = kbm;
    tuningName = TuningName(description, scl);
    ShowTuningName();
    return {};
}

bool wxKeyboard::LoadTuning(const wxString& sclPath, const wxString& kbmPath)
{
    const std::string scl = PathBytes(sclPath);
    const std::string kbm = kbmPath.empty() ? std::string() : PathBytes(kbmPath);
    const std::string problem = ApplyTuningFiles(scl, kbm);
    if (!problem.empty()) {
        ShowMessage("Cannot load the tuning: " + TextFromBelow(problem) + ". The tuning is unchanged.");
        FocusKeyboard();
        return false;
    }
    // A path that is not UTF-8 would make the settings file unreadable: such
    // a tuning plays but is not remembered.
    if (wxString::FromUTF8(scl.c_str()).utf8_string() == scl && wxString::FromUTF8(kbm.c_str()).utf8_string() == kbm)
        Remember([&](RememberedSettings& r) {
            r.tuningScale = scl;
            r.tuningKeymap = kbm;
        });
    FocusKeyboard();
    return true;
}

void wxKeyboard::UseEqualTuning()
{
    instrument.Synth().SetEqualTuning();
    tuningScale.clear();
    tuningKeymap.clear();
    tuningName.clear();
    ShowTuningName();
    Remember([](RememberedSettings& r) {
        r.tuningScale.clear();
        r.tuningKeymap.clear();
    });
}

void wxKeyboard::RestoreTuning()
{
    const RememberedSettings& remembered = settingsMemory->Remembered();
    if (remembered.tuningScale.empty())
        return;
    const std::string problem = ApplyTuningFiles(remembered.tuningScale, remembered.tuningKeymap);
    if (problem.empty())
        return;
    ShowMessage("The tuning used last time cannot be loaded: " + TextFromBelow(problem) +
                ". Twelve equal steps are played.");
    UseEqualTuning();
}

wxString wxKeyboard::TuningLabel() const
{
    return tuningLabel ? tuningLabel->GetLabel() : wxString();
}

void wxKeyboard::ShowTuningName()
{
    if (!tuningLabel)
        return;
    wxString label = "Tuning: ";
    if (tuningScale.empty())
        label += "twelve equal steps";
    else
        label += TextFromBelow(tuningName) +
                 (tuningKeymap.empty() ? wxString() : " (mapping " + TextFromBelow(FileName(tuningKeymap)) + ")");
    tuningLabel->SetLabel(label);
    tuningLabel->SetToolTip(tuningScale.empty() ? wxString()
                                                : TextFromBelow(tuningScale) +
                                                      (tuningKeymap.empty() ? "" : "\n" + TextFromBelow(tuningKeymap)));
}
