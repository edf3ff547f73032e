#include "MidiDeviceSettings.h"

const char* const MidiDeviceSettings::kNoInputText = "No MIDI input devices detected.  MIDI input is disabled.";
const char* const MidiDeviceSettings::kNoOutputText = "No MIDI output devices detected.  MIDI output is disabled.";

MidiDeviceSettings::MidiDeviceSettings(MidiInputDevice* in, MidiOutputDevice* out, std::function<void(const std::string&)> tell)
    : in_(in), out_(out), tell_(std::move(tell))
{
}

void MidiDeviceSettings::OpenAtStart()
{
    if (in_ && in_->PortCount() > 0)
        SelectInputDevice(inputDevice_);
    else
        tell_(kNoInputText);
    if (out_ && out_->PortCount() > 0)
        SelectOutputDevice(outputDevice_);
    else
        tell_(kNoOutputText);
}

void MidiDeviceSettings::SelectInputDevice(int index)
{
    inputDevice_ = index;
    if (!in_)
        return;
    const std::string error = in_->Open(index);
    if (!error.empty())
        tell_(error);
}

void MidiDeviceSettings::SelectOutputDevice(int index)
{
    outputDevice_ = index;
    if (!out_)
        return;
    const std::string error = out_->Open(index);
    if (!error.empty())
        tell_(error);
    else if (onOutputOpened)
        onOutputOpened();
}

int MidiChannelSetting(int channel)
{
    return channel > 16 || channel < 1 ? 1 : channel;
}
