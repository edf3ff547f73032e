// The instrument's MIDI: its two devices, their ports and channels, and what
// MIDI input does to it.
#include "Instrument.h"

#include "midi/RtMidiDevices.h"

void Instrument::CreateMidiDevices()
{
    RtMidiDevices devices = CreateRtMidiDevices(decoder_);
    SetMidiDevices(std::move(devices.in), std::move(devices.out));
}

void Instrument::SetMidiDevices(std::unique_ptr<::MidiInputDevice> in, std::unique_ptr<::MidiOutputDevice> out)
{
    CloseMidiDevices();
    midiIn_ = std::move(in);
    midiOut_ = std::move(out);
    midiDevices_.SetDevices(midiIn_.get(), midiOut_.get());
    midiOutput_.SetPort(midiOut_.get());
}

void Instrument::CloseMidiDevices()
{
    midiDevices_.SetDevices(nullptr, nullptr);
    midiOutput_.SetPort(nullptr);
    // Input first: once its object is gone no message arrives, so nothing
    // more is queued for the output.
    midiIn_.reset();
    midiOut_.reset();
}

std::vector<std::string> Instrument::OpenMidiDevicesAtStart(const std::string& input, const std::string& output)
{
    midiMessages_.clear();
    midiDevices_.OpenAtStart(input, output);
    if (midiOut_ && midiOut_->IsOpen())
        midiOutput_.Rearm();
    return std::move(midiMessages_);
}

std::string Instrument::SelectMidiInputDevice(int index)
{
    midiMessages_.clear();
    midiDevices_.SelectInputDevice(index);
    return midiMessages_.empty() ? std::string() : midiMessages_.front();
}

std::string Instrument::SelectMidiOutputDevice(int index)
{
    midiMessages_.clear();
    midiDevices_.SelectOutputDevice(index);
    if (midiMessages_.empty()) {
        // A port is open again: a refused send is worth telling once more.
        midiOutput_.Rearm();
        return {};
    }
    return midiMessages_.front();
}

void Instrument::SetMidiInputChannel(int channel)
{
    channel = MidiChannelSetting(channel);
    // The old channel's pedal holds nothing on the new one.
    decoder_.LiftPedal();
    AllNotesOff(false);
    decoder_.inputChannel = channel;
}

void Instrument::SetMidiOutputChannel(int channel)
{
    channel = MidiChannelSetting(channel);
    // Released on the channel the notes were echoed on.
    AllNotesOff(false);
    notes_.outputChannel = channel;
}

void Instrument::SetModWheelFromMidi(int value)
{
    modWheelPosition_ = value;
    synth_.SetModWheelDepth(SynthState::ModWheelDepthFromValue(value));
}

void Instrument::SetPitchWheelFromMidi(int value) { synth_.SetPitchWheel(static_cast<float>(value)); }

void Instrument::SetPatchFromMidi(int patch) { currentPatch_ = patch; }
