#include "RememberedSettings.h"

#include <iconv.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <system_error>
#include <vector>

#include "audio/AudioDevices.h"
#include "patch/RegularFile.h"
#include "patch/ReplaceFile.h"

namespace {

namespace fs = std::filesystem;

// The file's groups and keys, in the order they are written.
const char* const kMidi = "MIDI";
const char* const kMidiInput = "Input";
const char* const kMidiOutput = "Output";
const char* const kMidiInputChannel = "InputChannel";
const char* const kMidiOutputChannel = "OutputChannel";
const char* const kMidiOutputEnabled = "OutputEnabled";
const char* const kAudio = "Audio";
const char* const kAudioDevice = "Device";
const char* const kAudioHost = "Host";
const char* const kTuning = "Tuning";
const char* const kTuningScale = "Scale";
const char* const kTuningKeymap = "Keymap";

// More than any settings file of ours; a larger one is not ours.
constexpr std::uintmax_t kLargestFile = 64 * 1024;

// The file's bytes; empty when it is missing, not a plain file (a FIFO would
// block the start), too large or unreadable.
std::string ReadFileBytes(const std::string& path)
{
    std::vector<char> data;
    if (path.empty() || !ReadRegularFile(path, kLargestFile + 1, data).empty() || data.size() > kLargestFile)
        return {};
    return std::string(data.begin(), data.end());
}

// Whether `text` is UTF-8 throughout, as the C library's converter judges it.
bool IsUtf8(const std::string& text)
{
    const iconv_t conv = iconv_open("UTF-8", "UTF-8");
    if (conv == reinterpret_cast<iconv_t>(-1))
        return false;
    std::string in = text;
    char* from = in.data();
    size_t fromLeft = in.size();
    std::vector<char> out(in.size() + 4);
    char* to = out.data();
    size_t toLeft = out.size();
    const bool ok = iconv(conv, &from, &fromLeft, &to, &toLeft) != static_cast<size_t>(-1) && fromLeft == 0;
    iconv_close(conv);
    return ok;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsName(const std::string& text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')))
            return false;
    return true;
}

std::string Trimmed(const std::string& text)
{
    const size_t from = text.find_first_not_of(" \t\r");
    if (from == std::string::npos)
        return {};
    return text.substr(from, text.find_last_not_of(" \t\r") - from + 1);
}

// Only the lines a settings file of ours has: "[Group]" and "Key=value",
// names in plain letters.
std::string OurLines(const std::string& bytes)
{
    std::string kept;
    size_t at = 0;
    while (at < bytes.size()) {
        size_t end = bytes.find('\n', at);
        if (end == std::string::npos)
            end = bytes.size();
        const std::string line = bytes.substr(at, end - at);
        at = end + 1;
        const std::string trimmed = Trimmed(line);
        const size_t equals = line.find('=');
        const bool group = trimmed.size() > 2 && trimmed.front() == '[' && trimmed.back() == ']' &&
                           IsName(trimmed.substr(1, trimmed.size() - 2));
        const bool entry = equals != std::string::npos && IsName(Trimmed(line.substr(0, equals)));
        if (group || entry)
            kept += line + "\n";
    }
    return kept;
}

// Names compare without regard to case, as the file has always been read.
std::string Lower(std::string name)
{
    for (char& c : name)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return name;
}

// A name with its escapes undone: a backslash keeps the next character.
std::string UnescapedName(const std::string& text)
{
    std::string name;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size())
            ++i;
        name += text[i];
    }
    return name;
}

// A value as written: a value that starts with a double quote runs to the
// closing one; \n, \r, \t, \\ and \" stand for those characters, a backslash
// before any other character is dropped with it, and a lone one at the end
// is dropped. Nothing else is special: a "$" is a dollar sign.
std::string UnescapedValue(const std::string& text)
{
    std::string value;
    const bool quoted = !text.empty() && text[0] == '"';
    for (size_t i = quoted ? 1 : 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            if (++i == text.size())
                break;
            switch (text[i]) {
            case 'n': value += '\n'; break;
            case 'r': value += '\r'; break;
            case 't': value += '\t'; break;
            case '\\': value += '\\'; break;
            case '"': value += '"'; break;
            default: break;
            }
        } else if (c != '"' || !quoted) {
            value += c;
        }
    }
    return value;
}

// The value written so that UnescapedValue gives it back: quoted when it
// starts with white space or a double quote (the reader skips white space
// before a value), with line breaks, tabs and backslashes escaped (and
// double quotes, inside quotes).
std::string EscapedValue(const std::string& value)
{
    if (value.empty())
        return value;
    const bool quoted = IsSpace(value[0]) || value[0] == '"';
    std::string text = quoted ? "\"" : "";
    for (char c : value) {
        switch (c) {
        case '\n': text += "\\n"; break;
        case '\r': text += "\\r"; break;
        case '\t': text += "\\t"; break;
        case '\\': text += "\\\\"; break;
        case '"': text += quoted ? "\\\"" : "\""; break;
        default: text += c; break;
        }
    }
    return quoted ? text + "\"" : text;
}

// The entries of the file by "group/key" in lower case; a key given twice
// keeps its last value. The format is that of the toolkit's configuration
// files, which wrote these files first: "[Group]" lines, "Key=value" lines
// (white space around the key and before the value skipped), comments
// starting with ";" or "#", lines ending at a line feed or a carriage return.
std::map<std::string, std::string> ParseEntries(const std::string& text)
{
    std::map<std::string, std::string> entries;
    std::string group;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        size_t p = 0;
        while (p < line.size() && IsSpace(line[p]))
            ++p;
        if (p == line.size() || line[p] == ';' || line[p] == '#')
            continue;
        if (line[p] == '[') {
            size_t close = p + 1;
            while (close < line.size() && line[close] != ']')
                close += line[close] == '\\' ? 2 : 1;
            if (close >= line.size())
                continue; // no closing bracket: the line is skipped
            group = Lower(UnescapedName(line.substr(p + 1, close - p - 1)));
            continue;
        }
        size_t equals = p;
        while (equals < line.size() && line[equals] != '=')
            equals += line[equals] == '\\' ? 2 : 1;
        if (equals >= line.size())
            continue; // no "=": the line is skipped
        size_t keyEnd = equals;
        while (keyEnd > p && IsSpace(line[keyEnd - 1]))
            --keyEnd;
        const std::string key = Lower(UnescapedName(line.substr(p, keyEnd - p)));
        size_t value = equals + 1;
        while (value < line.size() && IsSpace(line[value]))
            ++value;
        entries[group + "/" + key] = UnescapedValue(line.substr(value));
    }
    return entries;
}

std::string ReadText(const std::map<std::string, std::string>& entries, const char* group, const char* key)
{
    const auto it = entries.find(Lower(std::string(group) + "/" + key));
    return it == entries.end() ? std::string() : it->second;
}

// A channel 1 to 16 written as a plain number (white space before it, a
// sign, leading zeros allowed); 1 for anything else.
int ReadChannel(const std::map<std::string, std::string>& entries, const char* group, const char* key)
{
    const std::string text = ReadText(entries, group, key);
    char* end = nullptr;
    errno = 0;
    const long channel = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || end == text.c_str() || *end != '\0' || errno == ERANGE || channel < 1 || channel > 16)
        return 1;
    return static_cast<int>(channel);
}

RememberedSettings ReadSettings(const std::string& path)
{
    RememberedSettings s;
    // Text that is not UTF-8 is no file of ours: nothing is read from it.
    const std::string text = OurLines(ReadFileBytes(path));
    if (!IsUtf8(text))
        return s;
    // A NUL ends the text.
    const auto entries = ParseEntries(text.substr(0, text.find('\0')));
    s.midiInput = ReadText(entries, kMidi, kMidiInput);
    s.midiOutput = ReadText(entries, kMidi, kMidiOutput);
    s.midiInputChannel = ReadChannel(entries, kMidi, kMidiInputChannel);
    s.midiOutputChannel = ReadChannel(entries, kMidi, kMidiOutputChannel);
    s.midiOutputEnabled = ReadText(entries, kMidi, kMidiOutputEnabled) == "1";
    s.audioDevice = ReadText(entries, kAudio, kAudioDevice);
    s.audioHost = ReadText(entries, kAudio, kAudioHost);
    s.tuningScale = ReadText(entries, kTuning, kTuningScale);
    s.tuningKeymap = ReadText(entries, kTuning, kTuningKeymap);
    return s;
}

// The whole file's text.
std::string SettingsText(const RememberedSettings& s)
{
    std::string text;
    const auto group = [&text](const char* name) { text += "[" + std::string(name) + "]\n"; };
    const auto entry = [&text](const char* key, const std::string& value) {
        text += std::string(key) + "=" + EscapedValue(value) + "\n";
    };
    group(kMidi);
    entry(kMidiInput, s.midiInput);
    entry(kMidiOutput, s.midiOutput);
    entry(kMidiInputChannel, std::to_string(s.midiInputChannel));
    entry(kMidiOutputChannel, std::to_string(s.midiOutputChannel));
    entry(kMidiOutputEnabled, s.midiOutputEnabled ? "1" : "0");
    group(kAudio);
    entry(kAudioDevice, s.audioDevice);
    entry(kAudioHost, s.audioHost);
    // Only with a tuning: a file without one reads as it always did.
    if (!s.tuningScale.empty() || !s.tuningKeymap.empty()) {
        group(kTuning);
        entry(kTuningScale, s.tuningScale);
        entry(kTuningKeymap, s.tuningKeymap);
    }
    return text;
}

// Writes the whole file anew (a damaged one is replaced); returns why that
// failed, or an empty string.
std::string WriteSettings(const std::string& path, const RememberedSettings& s)
{
    if (path.empty())
        return "There is no folder to keep the settings in.";
    const fs::path folder = fs::path(path).parent_path();
    std::error_code error;
    fs::create_directories(folder, error);
    if (error)
        return "The settings cannot be kept: the folder " + folder.string() + " cannot be made (" +
               error.message() + ").";

    // Beside the file first, then in its place: a write cut short leaves the
    // old file whole.
    if (const std::string problem = ReplaceFileContents(path, SettingsText(s)); !problem.empty())
        return "The settings cannot be kept (" + problem + ").";
    return {};
}

// The user's home folder: $HOME, else the password database's entry.
std::string HomeFolder()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir)
        return entry->pw_dir;
    return "/";
}

} // namespace

std::string RememberedSettingsPath()
{
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const std::string base =
        configHome && configHome[0] == '/' ? std::string(configHome) : HomeFolder() + "/.config";
    return base + "/marovane/settings.ini";
}

SettingsMemory::SettingsMemory(std::string path) : path_(std::move(path)), remembered_(ReadSettings(path_)) {}

std::string SettingsMemory::Keep(const RememberedSettings& settings)
{
    remembered_ = settings;
    const std::string failure = WriteSettings(path_, remembered_);
    if (failure.empty() || failureTold_)
        return {};
    failureTold_ = true;
    return failure;
}

int ChooseAudioDevice(const std::string& name, const std::string& host, const AudioDevices& devices)
{
    if (name.empty())
        return -1;
    const int count = devices.Count();
    for (int i = 0; i < count; ++i) {
        const AudioDeviceInfo info = devices.Info(i);
        if (info.name == name && info.hostApi == host && PlayableRate(devices, i) > 0)
            return i;
    }
    return -1;
}
