// The instrument's MIDI: its two devices, their ports and channels, and what
// MIDI input does to it.
#include "Instrument.h"

#include <algorithm>
#include <cmath>

#include "midi/RtMidiDevices.h"

void Instrument::CreateMidiDevices()
{
    RtMidiDevices devices = CreateRtMidiDevices(input_);
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

void Instrument::OnMidiInput(const uint8_t* bytes, size_t size, const MidiStamp& stamp)
{
    stamp_ = stamp;
    timed_ = audio_.TakesTimedMidi();
    decoder_.Decode(bytes, size);
    timed_ = false;
}

void Instrument::Schedule(uint8_t status, uint8_t data1, uint8_t data2)
{
    TimedMidiMessage m;
    m.nanoseconds = stamp_.nanoseconds;
    m.jackFrame = stamp_.jackFrame;
    m.hasJackFrame = stamp_.hasJackFrame;
    m.size = static_cast<uint8_t>(MidiMessageSize(status));
    m.bytes[0] = status;
    m.bytes[1] = data1;
    m.bytes[2] = data2;
    // A full schedule drops the operation and counts it (MidiSchedule.h).
    audio_.Schedule().Push(m);
}

// The decoder's operations. Their bytes are played by the engine's own MIDI
// decoder at their frames: Note On with the velocity stored before it, Note
// Off, All Notes Off, controller 1 (the wheel's coarse value, all the decoder
// keeps) and the bend's coarse value. The sustain pedal, the input channel
// and the patch number stay here.

void Instrument::SetNoteVelocity(int note, float velocity)
{
    if (timed_ && note >= 0 && note < 128)
        velocity_[note] = velocity;
    else
        synth_.SetNoteVelocity(note, velocity);
}

void Instrument::NoteOn(int note, bool fromMidi)
{
    if (!(fromMidi && timed_)) {
        notes_.NoteOn(note, fromMidi);
        if (!fromMidi && note >= 0 && note < NUM_NOTES)
            windowKeys_.Set(note);
        return;
    }
    if (note < 0 || note >= NUM_NOTES)
        return;
    const long velocity = std::lround(velocity_[note] * 127.0f);
    midiKeys_.Set(note);
    Schedule(0x90, static_cast<uint8_t>(note), static_cast<uint8_t>(std::clamp(velocity, 1L, 127L)));
    keys_.ShowKeyDown(note);
}

void Instrument::NoteOff(int note, bool fromMidi)
{
    if (!(fromMidi && timed_)) {
        notes_.NoteOff(note, fromMidi);
        if (!fromMidi && note >= 0 && note < NUM_NOTES)
            windowKeys_.Reset(note);
        return;
    }
    if (note < 0 || note >= NUM_NOTES)
        return;
    keys_.ShowKeyUp(note);
    midiKeys_.Reset(note);
    Schedule(0x80, static_cast<uint8_t>(note), 0);
}

void Instrument::AllNotesOff(bool fromMidi)
{
    if (!(fromMidi && timed_)) {
        notes_.AllNotesOff(fromMidi);
        midiKeys_.Clear();
        windowKeys_.Clear();
        return;
    }
    // As at once: every key down goes up and is echoed as a Note Off of its
    // own, the window's and MIDI's as this thread decided them (the note
    // table, a buffer behind, may still hold notes already released); the
    // note table releases them at the message's frame.
    for (int note = 0; note < NUM_NOTES; ++note) {
        if (windowKeys_.Test(note) || midiKeys_.Test(note)) {
            keys_.ShowKeyUp(note);
            if (notes_.outputEnabled)
                Send(0x80, static_cast<uint8_t>(note), 0);
        }
    }
    midiKeys_.Clear();
    windowKeys_.Clear();
    keys_.ClearAllKeys();
    Schedule(0xB0, 123, 0);
}

void Instrument::SetModWheelFromMidi(int value)
{
    modWheelPosition_ = value;
    if (timed_)
        Schedule(0xB0, 1, static_cast<uint8_t>(std::clamp(value, 0, WHEEL_MAX) / 128));
    else
        synth_.SetModWheelDepth(SynthState::ModWheelDepthFromValue(value));
}

void Instrument::SetPitchWheelFromMidi(int value)
{
    pitchWheelPosition_ = static_cast<float>(value);
    if (timed_)
        Schedule(0xE0, 0, static_cast<uint8_t>(std::clamp(value, 0, WHEEL_MAX) / 128));
    else
        synth_.SetPitchWheel(static_cast<float>(value));
}

void Instrument::SetPatchFromMidi(int patch) { currentPatch_ = patch; }
