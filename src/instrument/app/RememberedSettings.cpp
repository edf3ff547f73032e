#include "RememberedSettings.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#include <wx/fileconf.h>
#include <wx/file.h>
#include <wx/log.h>
#include <wx/sstream.h>
#include <wx/utils.h>

#include "audio/AudioDevices.h"
#include "patch/RegularFile.h"
#include "patch/ReplaceFile.h"

namespace {

namespace fs = std::filesystem;

// The keys of the file, one group per device kind.
const char* const kMidiInput = "/MIDI/Input";
const char* const kMidiOutput = "/MIDI/Output";
const char* const kMidiInputChannel = "/MIDI/InputChannel";
const char* const kMidiOutputChannel = "/MIDI/OutputChannel";
const char* const kMidiOutputEnabled = "/MIDI/OutputEnabled";
const char* const kAudioDevice = "/Audio/Device";
const char* const kAudioHost = "/Audio/Host";

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

std::string ReadText(const wxFileConfig& config, const char* key)
{
    wxString value;
    config.Read(key, &value);
    return value.utf8_string();
}

// A channel 1 to 16 written as a plain number; 1 for anything else.
int ReadChannel(const wxFileConfig& config, const char* key)
{
    wxString value;
    long channel = 0;
    if (!config.Read(key, &value) || !value.ToLong(&channel) || channel < 1 || channel > 16)
        return 1;
    return static_cast<int>(channel);
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
// names in plain letters. The configuration class stops the program with an
// assertion on some damaged lines (an empty key), so the others never reach it.
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

RememberedSettings ReadSettings(const std::string& path)
{
    RememberedSettings s;
    // Text that is not UTF-8 is no file of ours: nothing is read from it.
    const wxString text = wxString::FromUTF8(OurLines(ReadFileBytes(path)));
    if (text.empty())
        return s;
    wxLogNull quiet; // lines the parser does not understand are skipped, silently
    wxStringInputStream in(text);
    const wxFileConfig config(in);
    s.midiInput = ReadText(config, kMidiInput);
    s.midiOutput = ReadText(config, kMidiOutput);
    s.midiInputChannel = ReadChannel(config, kMidiInputChannel);
    s.midiOutputChannel = ReadChannel(config, kMidiOutputChannel);
    wxString enabled;
    s.midiOutputEnabled = config.Read(kMidiOutputEnabled, &enabled) && enabled == "1";
    s.audioDevice = ReadText(config, kAudioDevice);
    s.audioHost = ReadText(config, kAudioHost);
    return s;
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

    wxLogNull quiet;
    wxStringInputStream nothing(wxString{});
    wxFileConfig config(nothing);
    config.Write(kMidiInput, wxString::FromUTF8(s.midiInput));
    config.Write(kMidiOutput, wxString::FromUTF8(s.midiOutput));
    config.Write(kMidiInputChannel, static_cast<long>(s.midiInputChannel));
    config.Write(kMidiOutputChannel, static_cast<long>(s.midiOutputChannel));
    config.Write(kMidiOutputEnabled, s.midiOutputEnabled ? "1" : "0");
    config.Write(kAudioDevice, wxString::FromUTF8(s.audioDevice));
    config.Write(kAudioHost, wxString::FromUTF8(s.audioHost));
    wxStringOutputStream text;
    config.Save(text);

    // Beside the file first, then in its place: a write cut short leaves the
    // old file whole.
    if (const std::string problem = ReplaceFileContents(path, text.GetString().utf8_string()); !problem.empty())
        return "The settings cannot be kept (" + problem + ").";
    return {};
}

} // namespace

std::string RememberedSettingsPath()
{
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    const std::string base =
        configHome && configHome[0] == '/' ? std::string(configHome) : wxGetHomeDir().utf8_string() + "/.config";
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
