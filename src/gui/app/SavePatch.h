#pragma once
// Where the player's own patches go: $XDG_DATA_HOME/marovane/patches, or
// ~/.local/share/marovane/patches where XDG_DATA_HOME is unset, empty or not
// an absolute path (the desktop's rule). The folder beside the program may not
// be writable once the program is installed, so saving starts here; loading
// keeps starting in the shipped patches. GUI thread.

#include <wx/string.h>

// The folder, from the environment as it is now.
wxString UserPatchFolder();
// The folder in the player's home, ~/.local/share/marovane/patches: where
// patches go when XDG_DATA_HOME is unusable.
wxString HomePatchFolder();
// Makes the folder and its parents where they are missing; returns whether
// it exists afterwards. When it does not, `reason` (if given) says why: a
// part of the path that is a file ("\"/x/y\" is not a folder") or the
// system's word for it.
bool MakeUserPatchFolder(const wxString& folder, wxString* reason = nullptr);

// Where a save starts, made where missing: the player's patch folder, or the
// one in the home folder when that cannot be made, or nothing (the dialog's
// own default place) when neither can. `problem` is the one message the
// player gets about it, empty when the patch folder is fine.
struct SaveFolder {
    wxString folder;
    wxString problem;
};
SaveFolder PrepareSaveFolder();
// The path a save dialog's answer stands for: a name typed without an
// extension gets ".mrvn".
wxString PatchPathWithExtension(const wxString& path);
// The file to write for the save dialog's answer `chosen`, or an empty string
// when there is none: the dialog asked before replacing the name as typed,
// and the extension added here may name another file, which is replaced only
// when the user says yes.
wxString PatchPathToWrite(const wxString& chosen);
