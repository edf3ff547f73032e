#include "SettingsFile.h"

#include <expat.h>

#include <memory>
#include <vector>

#include <wx/log.h>
#include <wx/mstream.h>
#include <wx/sstream.h>
#include <wx/strconv.h>

#include "RegularFile.h"

namespace {

// A first pass over the text with the same parser the toolkit uses, which
// builds nothing: it measures the nesting as it goes and stops at the first
// element too deep, so a hostile file costs no more than reading it.
struct Scan {
    XML_Parser parser = nullptr;
    int depth = 0;
    bool tooDeep = false;
    bool entities = false;
};

void XMLCALL OnStart(void* data, const XML_Char*, const XML_Char**)
{
    auto* scan = static_cast<Scan*>(data);
    if (++scan->depth > wxSettingsFile::kMaxDepth) {
        scan->tooDeep = true;
        XML_StopParser(scan->parser, XML_FALSE);
    }
}

void XMLCALL OnEnd(void* data, const XML_Char*)
{
    --static_cast<Scan*>(data)->depth;
}

// No patch declares entities, and entities that expand into each other are
// the way to make a small file into a huge one.
void XMLCALL OnEntity(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*, const XML_Char*,
                      const XML_Char*, const XML_Char*)
{
    auto* scan = static_cast<Scan*>(data);
    scan->entities = true;
    XML_StopParser(scan->parser, XML_FALSE);
}

// Single-byte encodings that the parser does not know itself (windows-1252,
// say), mapped through the toolkit's converters as the toolkit's own load
// does, so that this pass accepts what the real parse accepts.
int XMLCALL OnUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info)
{
    wxCSConv conv{wxString::FromUTF8(name)};
    if (!conv.IsOk())
        return XML_STATUS_ERROR;
    for (int i = 0; i < 256; ++i) {
        const char byte[2] = {static_cast<char>(i), 0};
        wchar_t wide[2] = {0, 0};
        info->map[i] = conv.ToWChar(wide, 2, byte, 1) == 1 ? static_cast<int>(wide[0]) : -1;
    }
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
}

// Empty when the text may be parsed into a tree, else the reason it may not.
wxString Check(const char* data, size_t size)
{
    if (size > wxSettingsFile::kMaxFileBytes)
        return "it is larger than 1 MB, far more than a patch";
    Scan scan;
    std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate(nullptr), XML_ParserFree);
    if (!parser)
        return "there is not enough memory to read it";
    scan.parser = parser.get();
    XML_SetUserData(scan.parser, &scan);
    XML_SetElementHandler(scan.parser, OnStart, OnEnd);
    XML_SetEntityDeclHandler(scan.parser, OnEntity);
    XML_SetUnknownEncodingHandler(scan.parser, OnUnknownEncoding, nullptr);
    const XML_Status status = XML_Parse(scan.parser, data, static_cast<int>(size), XML_TRUE);
    if (scan.tooDeep)
        return wxString::Format("its elements are nested deeper than %d levels, far more than a patch",
                                wxSettingsFile::kMaxDepth);
    if (scan.entities)
        return "it declares entities, which a patch does not";
    if (status != XML_STATUS_OK)
        return wxString::Format("it is not well-formed XML (line %lu: %s)",
                                static_cast<unsigned long>(XML_GetCurrentLineNumber(scan.parser)),
                                wxString::FromUTF8(XML_ErrorString(XML_GetErrorCode(scan.parser))));
    return {};
}

void SetError(wxString* error, const wxString& text)
{
    if (error)
        *error = text;
}

} // namespace

wxSettingsFile::wxSettingsFile()
{
    SetRoot(new wxXmlNode(wxXML_ELEMENT_NODE, "Settings"));
}

bool wxSettingsFile::LoadFile(const wxString& filename, wxString* error)
{
    // Read at most one byte beyond the limit: a longer file is refused
    // without reading the rest. A pipe or a device is refused unread.
    std::vector<char> data;
    const std::string problem = ReadRegularFile(std::string(filename.utf8_str()), kMaxFileBytes + 1, data);
    if (!problem.empty()) {
        SetError(error, wxString::FromUTF8(problem));
        return false;
    }
    return LoadText(data.data(), data.size(), error);
}

bool wxSettingsFile::LoadText(const char* data, size_t size, wxString* error)
{
    const wxString problem = Check(data, size);
    bool loaded = false;
    if (problem.empty()) {
        wxLogNull quiet; // the caller tells the user, in the program's words
        wxMemoryInputStream stream(data, size);
        loaded = Load(stream, "UTF-8");
    }
    if (loaded)
        return true;
    SetRoot(new wxXmlNode(wxXML_ELEMENT_NODE, "Settings"));
    SetError(error, problem.empty() ? wxString("it is not well-formed XML") : problem);
    return false;
}

const wxXmlAttribute* wxSettingsFile::Find(const wxString& key) const
{
    const wxXmlNode* root = GetRoot();
    if (!root)
        return nullptr;
    for (const wxXmlNode* node = root->GetChildren(); node; node = node->GetNext()) {
        if (node->GetType() != wxXML_ELEMENT_NODE || node->GetName() != key)
            continue;
        for (const wxXmlAttribute* attr = node->GetAttributes(); attr; attr = attr->GetNext())
            if (attr->GetName() == key)
                return attr;
    }
    return nullptr;
}

wxString wxSettingsFile::GetValue(const wxString& key) const
{
    const wxXmlAttribute* attr = Find(key);
    return attr ? attr->GetValue() : wxString();
}

bool wxSettingsFile::HasValue(const wxString& key) const
{
    return Find(key) != nullptr;
}

void wxSettingsFile::SetValue(const wxString& key, const wxString& value)
{
    wxXmlNode* root = GetRoot();
    auto* node = new wxXmlNode(wxXML_ELEMENT_NODE, key);
    node->AddAttribute(key, value);
    // Appending walks the children once per entry; 263 entries do not notice.
    root->AddChild(node);
}

bool wxSettingsFile::SaveText(wxString& text, wxString* error) const
{
    wxStringOutputStream stream(&text, wxConvUTF8);
    wxLogNull quiet;
    if (Save(stream, 2))
        return true;
    SetError(error, "the document cannot be written out");
    return false;
}
