#include "Instrument.h"

#include <unistd.h>

#include <algorithm>

#include "audio/AudioDevices.h"
#include "audio/AudioMessages.h"
#include "controls/SliderMath.h"
#include "app/RememberedSettings.h"
#include "midi/KeyMap.h"
#include "patch/Patch.h"
#include "patch/SettingsFile.h"

namespace {

std::string PortAudioText(PaError err)
{
    return Pa_GetErrorText(err);
}

// A wheel position as MIDI carries it: whole, within 0..16383.
int WheelValue(float value) { return std::clamp(SliderEventInt(value), 0, WHEEL_MAX); }

} // namespace

int StepSelector(int number, int step)
{
    const long n = static_cast<long>(number) + step;
    if (n > SELECTOR_MAX)
        return 1;
    if (n < 1)
        return SELECTOR_MAX;
    return static_cast<int>(n);
}

Instrument::Instrument(InstrumentDisplay& display, KeyDisplay& keys)
    : display_(display), keys_(keys), notes_(synth_, keys, *this)
{
    // Output is off until switched on (the window switches it on at start-up
    // when the player left it on).
    SetMidiOutputEnabled(false);
}

Instrument::~Instrument() { Shutdown(); }

// ---------------------------------------------------------------------------
// Audio

std::vector<std::string> Instrument::StartAudio(const std::string& device, const std::string& host)
{
    std::vector<std::string> failures;
    PaError err = audio_.Initialize();
    if (err != paNoError)
        failures.push_back("PortAudio error: " + PortAudioText(err) + "\n");
    // The remembered device when it plays now; when it does not open after
    // all, the default as on any start, and nothing to say about it.
    const int chosen = err == paNoError ? ChooseAudioDevice(device, host, PortAudioDevices()) : -1;
    if (chosen >= 0 && audio_.OpenDevice(chosen) == paNoError)
        return failures;
    // Without a device the open already fails: that error says more than the
    // start's "invalid stream", so it is the one shown.
    err = audio_.OpenDefault();
    if (err != paNoError)
        failures.push_back("PortAudio error: " + PortAudioText(err) + "\n");
    return failures;
}

std::string Instrument::SelectAudioDevice(const PaStreamParameters& params)
{
    // After the audio server died nothing opens in this process.
    const PaError err = audio_.SelectDevice(params);
    if (audio_.IsLost())
        return kAudioLostChoiceText;
    return err == paNoError ? std::string() : PortAudioText(err);
}

void Instrument::Shutdown()
{
    // No callback renders after this; MIDI input is to stop here, before the
    // stream goes.
    audio_.Suspend();
    CloseMidiDevices();
    audio_.Shutdown();
}

// ---------------------------------------------------------------------------
// MIDI output

void Instrument::SendMidiMessage(uint8_t status, uint8_t data1, uint8_t data2)
{
    if (outputPort_ || midiMonitor_) {
        const std::vector<uint8_t> message = MidiMessageSize(status) == 2 ? std::vector<uint8_t>{status, data1}
                                                                            : std::vector<uint8_t>{status, data1, data2};
        if (outputPort_)
            outputPort_->Send(message);
        if (midiMonitor_)
            midiMonitor_(message);
    }
    // The output device is only ever used from the GUI thread: a message from
    // the MIDI input thread waits in the path's queue for the window's timer.
    midiOutput_.SendMidiMessage(status, data1, data2);
}

// ---------------------------------------------------------------------------
// Bank and patch

void Instrument::SetBank(int bank, bool fromMidi)
{
    display_.ShowBank(bank);
    currentBank_ = bank;
    if (notes_.outputEnabled && !fromMidi)
        Send(0xB0, 0, static_cast<uint8_t>(bank - 1));
}

void Instrument::SetPatch(int patch, bool fromMidi)
{
    display_.ShowPatch(patch);
    currentPatch_ = patch;
    if (notes_.outputEnabled && !fromMidi)
        Send(0xC0, static_cast<uint8_t>(patch - 1));
}

void Instrument::StepBank(int step)
{
    SetBank(StepSelector(currentBank_, step), false);
    // The instrument on the output takes the program again in the new bank.
    SetPatch(currentPatch_, false);
}

void Instrument::StepPatch(int step) { SetPatch(StepSelector(currentPatch_, step), false); }

// ---------------------------------------------------------------------------
// Wheels

void Instrument::MovePitchWheel(float value)
{
    // The render bends by the wheel's exact position; MIDI by its whole value.
    synth_.SetPitchWheel(value);
    pitchWheelPosition_ = value;
    const int v = WheelValue(value);
    if (notes_.outputEnabled)
        Send(0xE0, static_cast<uint8_t>(v % 128), static_cast<uint8_t>(v / 128));
}

void Instrument::ReleasePitchWheel()
{
    display_.ShowPitchWheel(PITCH_WHEEL_REST);
    MovePitchWheel(static_cast<float>(PITCH_WHEEL_REST));
}

void Instrument::MoveModWheel(float value)
{
    const int v = WheelValue(value);
    modWheelPosition_ = v;
    if (notes_.outputEnabled) {
        Send(0xB0, 1, static_cast<uint8_t>(v / 128));
        Send(0xB0, 33, static_cast<uint8_t>(v % 128));
    }
    synth_.SetModWheelDepth(SynthState::ModWheelDepthFromValue(v));
}

void Instrument::StepModWheel(int from, bool up)
{
    // The arrows move the wheel, and the tremolo and MIDI output follow as
    // when the slider is dragged.
    const int v = ModWheelAfterArrow(from, 0, WHEEL_MAX, up);
    display_.ShowModWheel(v);
    MoveModWheel(static_cast<float>(v));
}

// ---------------------------------------------------------------------------
// Panic

void Instrument::ResetControllers()
{
    if (notes_.outputEnabled)
        Send(0xB0, 121, 0);
    display_.ShowModWheel(0);
    modWheelPosition_ = 0;
    // Setting the slider sends nothing: the tremolo stops here too.
    synth_.SetModWheelDepth(0.0f);
    synth_.SetPitchWheel(static_cast<float>(PITCH_WHEEL_REST));
    pitchWheelPosition_ = static_cast<float>(PITCH_WHEEL_REST);
    display_.ShowPitchWheel(PITCH_WHEEL_REST);
}

void Instrument::SendAllSoundOff()
{
    if (notes_.outputEnabled)
        Send(0xB0, 120, 0);
}

void Instrument::Panic()
{
    decoder_.LiftPedal();
    AllNotesOff(false);
    ResetControllers();
    SendAllSoundOff();
}

// ---------------------------------------------------------------------------
// Patches

PatchLoadResult Instrument::LoadPatch(const std::string& path)
{
    PatchLoadResult result;
    if (access(path.c_str(), R_OK) != 0)
        return {PatchLoadResult::Status::CannotRead,
                PatchLoadMessage(path, "it cannot be read")};
    // The sound playing now is kept: a file that cannot be read or is no
    // patch is no reason to lose it.
    Patch patch;
    const std::string reason = ReadPatchFile(path, patch);
    if (!reason.empty())
        return {PatchLoadResult::Status::NotAPatch,
                PatchLoadMessage(path, reason)};
    ApplyPatch(patch, synth_);
    // Only the wheel moves: the tremolo depth (and what MIDI output hears)
    // follows the next time the player moves it.
    display_.ShowModWheel(patch.modWheel);
    modWheelPosition_ = WheelValue(static_cast<float>(patch.modWheel));
    display_.ShowSound();
    CommitSound();
    return result;
}

// ---------------------------------------------------------------------------
// Undo

void Instrument::RestoreSound(const Sound& sound)
{
    synth_.SetSound(sound);
    display_.ShowSound();
}

bool Instrument::Undo()
{
    const std::optional<Sound> sound = history_.Undo(synth_.CurrentSound());
    if (sound)
        RestoreSound(*sound);
    return sound.has_value();
}

bool Instrument::Redo()
{
    const std::optional<Sound> sound = history_.Redo(synth_.CurrentSound());
    if (sound)
        RestoreSound(*sound);
    return sound.has_value();
}
