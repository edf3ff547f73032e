#pragma once
// A key/value store held as an XML document: the root holds one element per
// key, and the value is the attribute of that element named like the key:
//   <Settings><Attack Attack="250"/></Settings>
// Used on the GUI thread (patch loading and saving) and by the command-line
// renderer. Needs wxBase and the XML library only, no display.

#include <cstddef>

#include <wx/string.h>
#include <wx/xml/xml.h>

class wxSettingsFile : public wxXmlDocument {
public:
    // What a file must stay within before a tree is built from it. A patch is
    // about 10 KB and two levels deep; these leave room to spare while keeping
    // out files whose tree would take the memory, the time or (when it is
    // torn down, one level of recursion per level of nesting) the stack of
    // the program.
    static constexpr size_t kMaxFileBytes = 1024 * 1024;
    static constexpr int kMaxDepth = 64;

    // An empty document whose root is an element "Settings".
    wxSettingsFile();

    // Loads a file in place of the empty root. On failure the document keeps
    // the empty root, every key reads as the empty string, and `error` (when
    // given) says why in a few words: "it cannot be read (...)", "it is a
    // named pipe, not a regular file" (a pipe or a device is refused before
    // it is read, without waiting on it), "it is larger than 1 MB ...", "its elements are nested deeper than 64 levels ...",
    // "it declares entities ...", "it is not well-formed XML (line n: ...)".
    // Nothing goes to the toolkit's log.
    bool LoadFile(const wxString& filename, wxString* error = nullptr);
    // The same checks and parse for a document held in memory.
    bool LoadText(const char* data, size_t size, wxString* error = nullptr);

    // The value of the first element named `key` that carries an attribute
    // named `key`, or the empty string.
    wxString GetValue(const wxString& key) const;
    // Whether such an element exists, even with an empty value.
    bool HasValue(const wxString& key) const;

    // Adds an entry at the end of the root: an element named `key` carrying
    // the attribute `key` = `value`. Keys are element names, so they must be
    // XML names (the patch keys are).
    void SetValue(const wxString& key, const wxString& value);

    // The document as the text of a file: UTF-8, one entry a line.
    bool SaveText(wxString& text, wxString* error = nullptr) const;

private:
    const wxXmlAttribute* Find(const wxString& key) const;
};
