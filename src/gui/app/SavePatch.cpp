// Saving the sound and the steps of its undo history, as the main window
// handles them; the file format is the core's (src/core/patch), the history the instrument's.
#include "SavePatch.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/utils.h>

#include "app/Keyboard.h"
#include "controls/MessageBox.h"
#include "controls/SynthParametersDlg.h"
#include "patch/Patch.h"

wxString HomePatchFolder() { return wxGetHomeDir() + "/.local/share/marovane/patches"; }

wxString UserPatchFolder()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/')
        return wxString::FromUTF8(dataHome) + "/marovane/patches";
    return HomePatchFolder();
}

bool MakeUserPatchFolder(const wxString& folder, wxString* reason)
{
    // The standard library rather than the toolkit: the toolkit reports a
    // failure in boxes of its own, and the program says it once, in its own.
    namespace fs = std::filesystem;
    const fs::path path(PathBytes(folder));
    std::error_code error;
    if (fs::is_directory(path, error))
        return true;
    fs::create_directories(path, error);
    std::error_code ignored;
    if (fs::is_directory(path, ignored))
        return true;
    if (reason) {
        // The nearest part of the path that exists, if it is no folder.
        fs::path existing = path;
        while (existing.has_parent_path() && existing != existing.parent_path() && !fs::exists(existing, ignored))
            existing = existing.parent_path();
        if (fs::exists(existing, ignored) && !fs::is_directory(existing, ignored))
            *reason = wxString::Format("\"%s\" is not a folder", PathText(existing.string()));
        else
            *reason = wxString::FromUTF8(error ? error.message() : std::string("it is not a folder"));
    }
    return false;
}

SaveFolder PrepareSaveFolder()
{
    const wxString wanted = UserPatchFolder();
    wxString reason;
    if (MakeUserPatchFolder(wanted, &reason))
        return {wanted, {}};
    const wxString fallback = HomePatchFolder();
    if (fallback != wanted && MakeUserPatchFolder(fallback))
        return {fallback, wxString::Format("Cannot make the patch folder \"%s\": %s. Patches are saved in \"%s\" "
                                           "instead.",
                                           wanted, reason, fallback)};
    return {wxString(), wxString::Format("Cannot make the patch folder \"%s\": %s.", wanted, reason)};
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
    const SaveFolder start = PrepareSaveFolder();
    if (!start.problem.empty())
        ShowMessage(start.problem);
    // Without a folder the dialog starts in its own default place.
    wxFileDialog dialog(this, "Save A Config", start.folder, "", "Marovane Patches (*.mrvn)|*.mrvn",
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
    const wxString failure =
        TextFromBelow(WritePatchFile(PathBytes(path), PatchFromState(instrument.Synth(), ModWheelValue())));
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
