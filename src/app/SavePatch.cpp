// Saving the sound and the steps of its undo history, as the main window
// handles them; the file format is src/patch's, the history the instrument's.
#include "SavePatch.h"

#include <cstdlib>

#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/utils.h>

#include "app/Keyboard.h"
#include "app/MessageBox.h"
#include "controls/SynthParametersDlg.h"
#include "patch/Patch.h"

wxString UserPatchFolder()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    wxString base;
    if (dataHome && dataHome[0] == '/')
        base = wxString::FromUTF8(dataHome);
    else
        base = wxGetHomeDir() + "/.local/share";
    return base + "/marovane/patches";
}

bool MakeUserPatchFolder(const wxString& folder)
{
    if (wxFileName::DirExists(folder))
        return true;
    return wxFileName::Mkdir(folder, wxS_DIR_DEFAULT, wxPATH_MKDIR_FULL);
}

wxString PatchPathWithExtension(const wxString& path)
{
    wxFileName name(path);
    if (!name.HasExt())
        name.SetExt("mrvn");
    return name.GetFullPath();
}

wxString PatchPathToWrite(const wxString& chosen)
{
    const wxString path = PatchPathWithExtension(chosen);
    if (path == chosen || !wxFileName::Exists(path))
        return path;
    const bool replace = AskYesNo(
        wxString::Format("A file named \"%s\" already exists. Replace it?", wxFileName(path).GetFullName()));
    return replace ? path : wxString();
}

// ---------------------------------------------------------------------------
// The window's side

void wxKeyboard::SaveSound()
{
    const wxString folder = UserPatchFolder();
    // Without the folder the dialog starts in its own default place.
    MakeUserPatchFolder(folder);
    wxFileDialog dialog(this, "Save A Config", folder, "", "Marovane Patches (*.mrvn)|*.mrvn",
                        wxFD_SAVE | wxFD_OVERWRITE_PROMPT, wxDefaultPosition, wxDefaultSize, "filedlg");
    if (dialog.ShowModal() == wxID_OK) {
        const wxString path = PatchPathToWrite(dialog.GetPath());
        if (!path.empty())
            SavePatchFile(path);
    }
    saveDialogDue = false;
    FocusKeyboard();
}

bool wxKeyboard::SavePatchFile(const wxString& path)
{
    const wxString failure = WritePatchFile(path, PatchFromState(instrument.Synth(), ModWheelValue()));
    if (!failure.empty())
        ShowMessage(failure);
    return failure.empty();
}

void wxKeyboard::ConnectUndoSteps()
{
    // A stroke in the editor is one step, from its button-down to its
    // button-up; the editor's own handler draws the last bar first.
    wxWindow* editor = synthParameters->GetHarmonicsPanel();
    const auto strokeEnds = [this](wxMouseEvent& event) {
        event.Skip();
        CallAfter([this] { instrument.CommitSound(); });
    };
    editor->Bind(wxEVT_LEFT_UP, strokeEnds);
    editor->Bind(wxEVT_RIGHT_UP, strokeEnds);
}
