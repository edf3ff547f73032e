#include "MidiDevices.h"

const char* const MidiDevices::kNoInputText = "No MIDI input devices detected.  MIDI input is disabled.";
const char* const MidiDevices::kNoOutputText = "No MIDI output devices detected.  MIDI output is disabled.";

MidiDevices::MidiDevices(MidiInputPort* in, MidiOutputPort* out, std::function<void(const std::string&)> tell)
    : in_(in), out_(out), tell_(std::move(tell))
{
}

void MidiDevices::OpenAtStart()
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

void MidiDevices::SelectInputDevice(int index)
{
    inputDevice_ = index;
    if (!in_)
        return;
    const std::string error = in_->Open(index);
    if (!error.empty())
        tell_(error);
}

void MidiDevices::SelectOutputDevice(int index)
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
