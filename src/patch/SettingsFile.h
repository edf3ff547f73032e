#pragma once
// A key/value store held as an XML document: the root holds one element per
// key, and the value is the attribute of that element named like the key:
//   <Settings><Attack Attack="250"/></Settings>
// Used on the GUI thread (patch loading) and by the command-line renderer.
// Needs wxBase and the XML library only, no display.

#include <wx/string.h>
#include <wx/xml/xml.h>

class wxSettingsFile : public wxXmlDocument {
public:
    // An empty document whose root is an element "Settings".
    wxSettingsFile();

    // Loads a file in place of the empty root. On failure (missing file, not
    // well-formed XML) the document keeps the empty root and every key reads
    // as the empty string. The toolkit reports the failure through its log
    // unless the caller silences it.
    bool LoadFile(const wxString& filename);

    // The value of the first element named `key` that carries an attribute
    // named `key`, or the empty string.
    wxString GetValue(const wxString& key) const;
};
