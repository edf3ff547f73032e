#include "MidiDeviceSettings.h"

const char* const MidiDeviceSettings::kNoInputText = "No MIDI input devices detected.  MIDI input is disabled.";
const char* const MidiDeviceSettings::kNoOutputText = "No MIDI output devices detected.  MIDI output is disabled.";

MidiDeviceSettings::MidiDeviceSettings(MidiInputDevice* in, MidiOutputDevice* out, std::function<void(const std::string&)> tell)
    : in_(in), out_(out), tell_(std::move(tell))
{
}

void MidiDeviceSettings::OpenAtStart(const std::string& inputName, const std::string& outputName)
{
    const int input = ChooseMidiPort(inputName, MidiPortNames(in_));
    if (input >= 0)
        SelectInputDevice(input);
    else
        tell_(kNoInputText);
    const int output = ChooseMidiPort(outputName, MidiPortNames(out_));
    if (output >= 0)
        SelectOutputDevice(output);
    else
        tell_(kNoOutputText);
}

void MidiDeviceSettings::SelectInputDevice(int index)
{
    inputDevice_ = index;
    inputPort_.clear();
    if (!in_)
        return;
    const std::string name = in_->PortName(index);
    const std::string error = in_->Open(index);
    if (!error.empty())
        tell_(error);
    else
        inputPort_ = name;
}

void MidiDeviceSettings::SelectOutputDevice(int index)
{
    outputDevice_ = index;
    outputPort_.clear();
    if (!out_)
        return;
    const std::string name = out_->PortName(index);
    const std::string error = out_->Open(index);
    if (!error.empty()) {
        tell_(error);
        return;
    }
    outputPort_ = name;
    if (onOutputOpened)
        onOutputOpened();
}

namespace {
int EntryOf(MidiPortList* list, const std::string& name)
{
    if (!list || name.empty() || !list->IsOpen())
        return -1;
    const std::vector<std::string> names = MidiPortNames(list);
    for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == name)
            return static_cast<int>(i);
    return -1;
}

// A name without ALSA's trailing " client:port" numbers; the name itself
// when it has none.
std::string WithoutAlsaNumbers(const std::string& name)
{
    const size_t space = name.rfind(' ');
    if (space == std::string::npos)
        return name;
    const std::string tail = name.substr(space + 1);
    const size_t colon = tail.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == tail.size())
        return name;
    for (size_t i = 0; i < tail.size(); ++i)
        if (i != colon && (tail[i] < '0' || tail[i] > '9'))
            return name;
    return name.substr(0, space);
}
} // namespace

int MidiDeviceSettings::OpenInputEntry() const { return EntryOf(in_, inputPort_); }

int MidiDeviceSettings::OpenOutputEntry() const { return EntryOf(out_, outputPort_); }

std::vector<std::string> MidiPortNames(MidiPortList* list)
{
    std::vector<std::string> names;
    const int count = list ? list->PortCount() : 0;
    for (int i = 0; i < count; ++i)
        names.push_back(list->PortName(i));
    return names;
}

int ChooseMidiPort(const std::string& name, const std::vector<std::string>& present)
{
    if (present.empty())
        return -1;
    if (name.empty())
        return 0;
    for (size_t i = 0; i < present.size(); ++i)
        if (present[i] == name)
            return static_cast<int>(i);
    const std::string bare = WithoutAlsaNumbers(name);
    if (bare != name)
        for (size_t i = 0; i < present.size(); ++i)
            if (WithoutAlsaNumbers(present[i]) == bare)
                return static_cast<int>(i);
    return 0;
}

int MidiChannelSetting(int channel)
{
    return channel > 16 || channel < 1 ? 1 : channel;
}
