#include "SettingsFile.h"

wxSettingsFile::wxSettingsFile()
{
    SetRoot(new wxXmlNode(wxXML_ELEMENT_NODE, "Settings"));
}

bool wxSettingsFile::LoadFile(const wxString& filename)
{
    if (Load(filename, "UTF-8"))
        return true;
    if (!GetRoot())
        SetRoot(new wxXmlNode(wxXML_ELEMENT_NODE, "Settings"));
    return false;
}

wxString wxSettingsFile::GetValue(const wxString& key) const
{
    const wxXmlNode* root = GetRoot();
    if (!root)
        return wxString();
    for (const wxXmlNode* node = root->GetChildren(); node; node = node->GetNext()) {
        if (node->GetType() != wxXML_ELEMENT_NODE || node->GetName() != key)
            continue;
        for (const wxXmlAttribute* attr = node->GetAttributes(); attr; attr = attr->GetNext())
            if (attr->GetName() == key)
                return attr->GetValue();
    }
    return wxString();
}
