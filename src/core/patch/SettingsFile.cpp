#include "SettingsFile.h"

#include <expat.h>
#include <iconv.h>

#include <cstring>
#include <memory>

#include "RegularFile.h"

namespace {

// One pass over the text that keeps only the entries: it measures the
// nesting as it goes and stops at the first element too deep or the first
// entity declared, so a hostile file costs no more than reading it.
struct Parse {
    XML_Parser parser = nullptr;
    int depth = 0;
    bool tooDeep = false;
    bool entities = false;
    std::string root;
    std::vector<SettingsFile::Entry> entries;
};

void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** attributes)
{
    auto* parse = static_cast<Parse*>(data);
    if (++parse->depth > SettingsFile::kMaxDepth) {
        parse->tooDeep = true;
        XML_StopParser(parse->parser, XML_FALSE);
        return;
    }
    if (parse->depth == 1) {
        parse->root = name;
    } else if (parse->depth == 2) {
        for (const XML_Char** a = attributes; a[0]; a += 2) {
            if (std::strcmp(a[0], name) == 0) {
                parse->entries.push_back({name, a[1]});
                break;
            }
        }
    }
}

void XMLCALL OnEnd(void* data, const XML_Char*)
{
    --static_cast<Parse*>(data)->depth;
}

// No patch declares entities, and entities that expand into each other are
// the way to make a small file into a huge one.
void XMLCALL OnEntity(void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*, const XML_Char*,
                      const XML_Char*, const XML_Char*)
{
    auto* parse = static_cast<Parse*>(data);
    parse->entities = true;
    XML_StopParser(parse->parser, XML_FALSE);
}

// The converter for an encoding's name as documents give it: the name
// itself, else the code page its family and number say, read as loosely as
// patches have always been read ("windows1252" or "CP-1252" for CP1252,
// "ISO8859-2" for ISO-8859-2; what follows the number does not count).
iconv_t OpenConverter(const char* name)
{
    iconv_t conv = iconv_open("UTF-32LE", name);
    if (conv != reinterpret_cast<iconv_t>(-1))
        return conv;
    std::string upper(name);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    const auto number = [&upper](size_t at, const char* family) {
        if (at < upper.size() && upper[at] == '-')
            ++at;
        size_t end = at;
        while (end < upper.size() && end - at < 6 && upper[end] >= '0' && upper[end] <= '9')
            ++end;
        return end == at ? std::string() : family + upper.substr(at, end - at);
    };
    std::string known;
    if (upper.rfind("WINDOWS", 0) == 0)
        known = number(7, "CP");
    else if (upper.rfind("CP", 0) == 0)
        known = number(2, "CP");
    else if (upper.rfind("ISO-8859-", 0) == 0 || upper.rfind("ISO8859-", 0) == 0)
        known = number(upper.find('-', 4) + 1, "ISO-8859-");
    if (known.empty())
        return reinterpret_cast<iconv_t>(-1);
    return iconv_open("UTF-32LE", known.c_str());
}

// Single-byte encodings that the parser does not know itself (windows-1252,
// say), each byte mapped through the C library's converter; a byte that
// stands for no character (or starts a longer sequence) is an error where it
// appears.
int XMLCALL OnUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info)
{
    const iconv_t conv = OpenConverter(name);
    if (conv == reinterpret_cast<iconv_t>(-1))
        return XML_STATUS_ERROR;
    for (int i = 0; i < 256; ++i) {
        char byte = static_cast<char>(i);
        unsigned char wide[8] = {};
        char* in = &byte;
        char* out = reinterpret_cast<char*>(wide);
        size_t inLeft = 1, outLeft = sizeof wide;
        iconv(conv, nullptr, nullptr, nullptr, nullptr);
        const size_t done = iconv(conv, &in, &inLeft, &out, &outLeft);
        if (done == static_cast<size_t>(-1) || inLeft != 0 || sizeof wide - outLeft != 4)
            info->map[i] = -1;
        else
            info->map[i] = static_cast<int>(wide[0] | wide[1] << 8 | wide[2] << 16 | wide[3] << 24);
    }
    iconv_close(conv);
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
}

void SetError(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
}

// Characters that cannot stand as they are in a double-quoted attribute, or
// that a reader would change (a line break in an attribute reads as a space).
void AppendEscaped(std::string& out, const std::string& value)
{
    for (char c : value) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        case '\t': out += "&#x9;"; break;
        case '\n': out += "&#xA;"; break;
        case '\r': out += "&#xD;"; break;
        default: out += c; break;
        }
    }
}

} // namespace

bool SettingsFile::LoadFile(const std::string& path, std::string* error)
{
    // Read at most one byte beyond the limit: a longer file is refused
    // without reading the rest. A pipe or a device is refused unread.
    std::vector<char> data;
    const std::string problem = ReadRegularFile(path, kMaxFileBytes + 1, data);
    if (!problem.empty()) {
        *this = SettingsFile();
        SetError(error, problem);
        return false;
    }
    return LoadText(data.data(), data.size(), error);
}

bool SettingsFile::LoadText(const char* data, size_t size, std::string* error)
{
    *this = SettingsFile();
    if (size > kMaxFileBytes) {
        SetError(error, "it is larger than 1 MB, far more than a patch");
        return false;
    }
    Parse parse;
    std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate(nullptr), XML_ParserFree);
    if (!parser) {
        SetError(error, "there is not enough memory to read it");
        return false;
    }
    parse.parser = parser.get();
    XML_SetUserData(parse.parser, &parse);
    XML_SetElementHandler(parse.parser, OnStart, OnEnd);
    XML_SetEntityDeclHandler(parse.parser, OnEntity);
    XML_SetUnknownEncodingHandler(parse.parser, OnUnknownEncoding, nullptr);
    const XML_Status status = XML_Parse(parse.parser, data, static_cast<int>(size), XML_TRUE);
    if (parse.tooDeep) {
        SetError(error, "its elements are nested deeper than " + std::to_string(kMaxDepth) +
                            " levels, far more than a patch");
        return false;
    }
    if (parse.entities) {
        SetError(error, "it declares entities, which a patch does not");
        return false;
    }
    if (status != XML_STATUS_OK) {
        SetError(error, "it is not well-formed XML (line " +
                            std::to_string(static_cast<unsigned long>(XML_GetCurrentLineNumber(parse.parser))) +
                            ": " + XML_ErrorString(XML_GetErrorCode(parse.parser)) + ")");
        return false;
    }
    root_ = std::move(parse.root);
    entries_ = std::move(parse.entries);
    return true;
}

const SettingsFile::Entry* SettingsFile::Find(std::string_view key) const
{
    for (const Entry& e : entries_)
        if (e.key == key)
            return &e;
    return nullptr;
}

std::string SettingsFile::GetValue(std::string_view key) const
{
    const Entry* e = Find(key);
    return e ? e->value : std::string();
}

bool SettingsFile::HasValue(std::string_view key) const
{
    return Find(key) != nullptr;
}

void SettingsFile::SetValue(std::string key, std::string value)
{
    entries_.push_back({std::move(key), std::move(value)});
}

std::string SettingsFile::SaveText() const
{
    std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<" + root_;
    if (entries_.empty())
        return text + "/>\n";
    text += ">\n";
    for (const Entry& e : entries_) {
        text += "  <" + e.key + " " + e.key + "=\"";
        AppendEscaped(text, e.value);
        text += "\"/>\n";
    }
    return text + "</" + root_ + ">\n";
}
