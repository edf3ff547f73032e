#pragma once
// The instrument beneath the window: the synthesis state, the audio stream,
// the note events and everything the program sends to MIDI output. The main
// window and the tests drive it (marovane-render and the plugin drive the
// Engine beneath it directly); it knows nothing of any window. What the player must see change (wheel positions, bank and patch
// numbers, the sound's parameters after a patch load) goes out through an
// InstrumentDisplay, key highlights through the KeyDisplay given at
// construction.
//
// Threads, per operation below:
//   GUI       the toolkit's main loop (window handlers, start-up, shutdown);
//   MIDI      the MIDI input thread, decoding incoming messages;
//   any       either of them; the audio thread never calls in here.
// Operations marked "GUI or MIDI" never block: the note table and the
// parameters are lock-free, and display changes are reported to the display,
// whose implementation carries calls made off the GUI thread over to it.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/KeyHighlights.h"
#include "audio/AudioStream.h"
#include "midi/MidiDecoder.h"
#include "midi/MidiDeviceSettings.h"
#include "midi/MidiOutput.h"
#include "midi/MidiPorts.h"
#include "midi/NoteEvents.h"
#include "midi/TimedMidiInput.h"
#include "util/Relaxed.h"
#include "controls/UndoHistory.h"
#include "synth/Engine.h"
#include "synth/SynthState.h"

// The wheels' range: 0 to 16383, the pitch wheel at rest in the centre.
constexpr int WHEEL_MAX = 16383;
constexpr int PITCH_WHEEL_REST = 8192;
// The bank and patch selectors count 1 to 128 and wrap at both ends.
constexpr int SELECTOR_MAX = 128;

// What the window shows of the instrument besides the keys. Called on the
// thread that changed the instrument (GUI or MIDI); an implementation that
// touches windows carries calls made off the GUI thread over to it.
class InstrumentDisplay {
public:
    virtual ~InstrumentDisplay() = default;
    virtual void ShowModWheel(int value) = 0;
    virtual void ShowPitchWheel(int value) = 0;
    virtual void ShowBank(int bank) = 0;
    virtual void ShowPatch(int patch) = 0;
    // The envelope, the LFO and both spectra changed together (a patch).
    virtual void ShowSound() = 0;
};

// Where MIDI output goes: one whole message. Sends come from the GUI thread
// and, for Note Offs that MIDI input asks for, from the MIDI input thread.
class MidiOutputPort {
public:
    virtual ~MidiOutputPort() = default;
    virtual void Send(const std::vector<uint8_t>& message) = 0;
};

// The outcome of reading a patch file, for the window to show.
struct PatchLoadResult {
    enum class Status { Loaded, CannotRead, NotAPatch };
    Status status = Status::Loaded;
    // The player's words for a failure; empty when loaded.
    std::string message;
    bool Loaded() const { return status == Status::Loaded; }
};

// An instrument that reports nothing to any display: the command-line
// renderer's and the tests' default.
class NoDisplay : public InstrumentDisplay, public KeyDisplay {
public:
    void ShowModWheel(int) override {}
    void ShowPitchWheel(int) override {}
    void ShowBank(int) override {}
    void ShowPatch(int) override {}
    void ShowSound() override {}
    void ShowKeyDown(int) override {}
    void ShowKeyUp(int) override {}
    void ClearAllKeys() override {}
};

class Instrument : public OctaveCallback, private MidiTarget, private MidiSender {
public:
    // Both displays must outlive the instrument. The synthesis state has its
    // start-up defaults; no audio runs until StartAudio.
    Instrument(InstrumentDisplay& display, KeyDisplay& keys);
    ~Instrument() override;
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    SynthState& Synth() { return synth_; }
    const SynthState& Synth() const { return synth_; }
    AudioStream& Audio() { return audio_; }

    // ---- Notes (GUI or MIDI) ----
    // The window's and the computer keyboard's notes play at once. MIDI
    // input's (fromMidi, from the decoder) go to the audio stream's schedule
    // with their message's time while the stream renders, and play at their
    // own frames a buffer later (audio/MidiSchedule.h); their keys light and
    // their echoes go out at once. Without a rendering stream they play at
    // once too.
    void NoteOn(int note, bool fromMidi) override;
    void NoteOff(int note, bool fromMidi) override;
    void AllNotesOff(bool fromMidi) override;
    void ReleaseKey(int note) override { NoteOff(note, false); }
    // The notes MIDI input holds as its thread decided (any thread).
    const HeldKeys& MidiKeys() const { return midiKeys_; }
    // MIDI input's operations dropped for want of room in the schedule (a
    // flood while the audio stalls).
    uint64_t DroppedMidi() { return audio_.Schedule().Dropped(); }

    // ---- Audio (GUI) ----
    // Initialises PortAudio and starts the stream on the device named
    // `device` of the host API named `host` when it is there and plays (see
    // ChooseAudioDevice), else on the default device. Returns the texts of
    // the failures to show, in order (none when sound runs).
    std::vector<std::string> StartAudio(const std::string& device = {}, const std::string& host = {});
    // Replaces the stream by one on the chosen device; returns the failure's
    // text (after the audio server died, that a restart is needed) or an
    // empty string.
    std::string SelectAudioDevice(const PaStreamParameters& params);
    // Suspends the render, then closes the stream and PortAudio (MIDI input,
    // once its port exists here, closes in between). No callback renders
    // after it returns. Safe to call twice.
    void Shutdown();

    // ---- MIDI settings (GUI) ----
    // Channels 1 to 16, a value above 16 being 1. A change releases the held
    // notes first (their Note Offs go out on the output channel still in
    // force); MIDI input then decodes only the new input channel.
    void SetMidiInputChannel(int channel);
    int MidiInputChannel() const { return decoder_.inputChannel; }
    void SetMidiOutputChannel(int channel);
    int MidiOutputChannel() const { return notes_.outputChannel; }
    // Only the switch: nothing is sent.
    void SetMidiOutputEnabled(bool enabled) { notes_.outputEnabled = enabled; }
    bool MidiOutputEnabled() const { return notes_.outputEnabled; }
    int MidiInputDevice() const { return midiDevices_.InputDevice(); }
    int MidiOutputDevice() const { return midiDevices_.OutputDevice(); }
    // The open ports' names; empty while none is open.
    const std::string& MidiInputPortName() const { return midiDevices_.InputPortName(); }
    const std::string& MidiOutputPortName() const { return midiDevices_.OutputPortName(); }
    // The open ports' entries in the lists as they are now; -1 for none.
    int OpenMidiInputEntry() const { return midiDevices_.OpenInputEntry(); }
    int OpenMidiOutputEntry() const { return midiDevices_.OpenOutputEntry(); }

    // ---- MIDI devices (GUI; InstrumentMidi.cpp) ----
    // Makes the MIDI input and output objects on the MIDI library, the first
    // step of the program's start-up. An instrument without them (the
    // renderer, most tests) has no MIDI ports; either may stay null when the
    // library cannot be used at all.
    void CreateMidiDevices();
    // Uses these devices instead (tests: fake port lists). The input device
    // must deliver to MidiInput().
    void SetMidiDevices(std::unique_ptr<::MidiInputDevice> in, std::unique_ptr<::MidiOutputDevice> out);
    // Where the input device delivers (MIDI input thread): the message's
    // time noted, then the decoder. A message without a time came now.
    TimedMidiInputHandler& MidiInput() { return input_; }
    // The port lists the settings dialog shows; null without a device.
    MidiPortList* MidiInputPorts() const { return midiIn_.get(); }
    MidiPortList* MidiOutputPorts() const { return midiOut_.get(); }
    // Start-up: the input port named `input` opened when it is there, else
    // port 0 when there is one (see ChooseMidiPort), else the message that
    // MIDI input is disabled; then the same for output. Returns the messages
    // to show, in order.
    std::vector<std::string> OpenMidiDevicesAtStart(const std::string& input = {}, const std::string& output = {});
    // Keeps the index and opens that port, the open one closed first. Returns
    // the library's error text to show, or an empty string.
    std::string SelectMidiInputDevice(int index);
    std::string SelectMidiOutputDevice(int index);
    // Deletes the input object (its thread has stopped when this returns),
    // then the output object. Shutdown does it before the stream goes.
    void CloseMidiDevices();

    // ---- What MIDI input changed, for the window (GUI) ----
    // The kinds of change (MidiDisplayChanges) since the last call; the
    // window then shows ModWheelPosition(), PitchWheelPosition() and
    // CurrentPatch(). A timer of the window polls it, so a burst of any
    // length costs one update per poll.
    uint32_t TakeMidiDisplayChanges() { return midiDisplay_.Take(); }
    // Where the mod wheel was last put, by the window or by MIDI input.
    int ModWheelPosition() const { return modWheelPosition_; }
    // Where the pitch wheel was last put (MIDI input's bend reaches the
    // render a buffer later, at its own frame).
    float PitchWheelPosition() const { return pitchWheelPosition_; }

    // ---- MIDI output (GUI) ----
    // Passes what MIDI input asked to send, and what waited for room, to the
    // output port. Polled by the window's timer.
    void PumpMidiOutput() { midiOutput_.Pump(); }
    // A refused send to tell the user about, once until another output port
    // opens; empty when there is nothing new.
    std::string TakeMidiOutputNotice() { return midiOutput_.TakeNotice(); }

    // Where sent messages go as well as to the output device (not owned; null:
    // nowhere). For tests; GUI thread, while MIDI input is stopped.
    void SetMidiOutputPort(MidiOutputPort* port) { outputPort_ = port; }
    // Also hears every sent message, in order: for tests and monitors. GUI
    // thread, set before notes play.
    void SetMidiMonitor(std::function<void(const std::vector<uint8_t>&)> monitor)
    {
        midiMonitor_ = std::move(monitor);
    }

    // ---- Bank and patch selectors (GUI or MIDI) ----
    // Shows and keeps the number; sends Bank Select (controller 0, bank - 1)
    // or Program Change (patch - 1) when output is on and the number did not
    // come from MIDI input.
    void SetBank(int bank, bool fromMidi);
    void SetPatch(int patch, bool fromMidi);
    int CurrentBank() const { return currentBank_; }
    int CurrentPatch() const { return currentPatch_; }
    // The spin buttons (GUI): one step with the wrap between 1 and 128. A bank
    // step sends the program again, for the instrument on the output.
    void StepBank(int step);
    void StepPatch(int step);

    // ---- Wheels (GUI; MIDI for the mod wheel's controller) ----
    // The pitch wheel moved to `value`: the render bends at once, and output
    // hears Pitch Bend (value % 128, value / 128).
    void MovePitchWheel(float value);
    // The pitch wheel let go: back to the centre, shown, and sent.
    void ReleasePitchWheel();
    // The mod wheel moved to `value` (truncated, held within 0..16383): the
    // tremolo depth follows, output hears controller 1 (value / 128) then
    // controller 33 (value % 128).
    void MoveModWheel(float value);
    // One arrow-key step of the mod wheel from the position shown, `from`:
    // shown and applied as a move.
    void StepModWheel(int from, bool up);

    // ---- Panic (GUI) ----
    // Every held note released (with its Note Off and All Notes Off), then
    // Reset All Controllers with both wheels at rest, then All Sound Off.
    void Panic();
    // Panic's two later steps, on their own.
    void ResetControllers();
    void SendAllSoundOff();

    // ---- Patches (GUI; the renderer's own thread) ----
    // Reads a patch file and puts its sound into the synthesis state and its
    // mod wheel position on the display (the tremolo depth follows the wheel's
    // next move). A file that cannot be read or is not a patch changes
    // nothing; the result says why.
    // A loaded patch is one step of the undo history.
    PatchLoadResult LoadPatch(const std::string& path);

    // ---- Undo (GUI) ----
    // A step that changed the sound has ended: it becomes one step of the
    // history (nothing when the sound is unchanged). The player's edits call
    // it when they end: a stroke at its button-up, a slider at its release.
    void CommitSound() { history_.Commit(synth_.CurrentSound()); }
    // Goes one step back or forward: the sound is replaced whole (the render
    // takes it at a buffer's start) and shown. Returns false, changing
    // nothing, when there is no such step.
    bool Undo();
    bool Redo();
    const UndoHistory& History() const { return history_; }

private:
    // ---- MidiTarget: what MIDI input does (MIDI input thread) ----
    // NoteOn, NoteOff and AllNotesOff are the OctaveCallback's.
    void SetNoteVelocity(int note, float velocity) override;
    // The wheel where MIDI put it, with its tremolo depth (value / 16383), as
    // a drag of the slider does; nothing is sent.
    void SetModWheelFromMidi(int value) override;
    void SetPitchWheelFromMidi(int value) override;
    // The patch number; nothing is sent, the sound stays.
    void SetPatchFromMidi(int patch) override;
    // Puts a sound from the history into the synthesis state and the display.
    void RestoreSound(const Sound& sound);

    void SendMidiMessage(uint8_t status, uint8_t data1, uint8_t data2) override;

    // MIDI input thread: one message with its time, decoded.
    void OnMidiInput(const uint8_t* bytes, size_t size, const MidiStamp& stamp);
    // MIDI input thread: one synth operation as channel 1's bytes, with the
    // time of the message being decoded, into the schedule.
    void Schedule(uint8_t status, uint8_t data1, uint8_t data2);
    struct Input final : TimedMidiInputHandler {
        explicit Input(Instrument& instrument) : self(instrument) {}
        void OnTimedMidiMessage(const uint8_t* bytes, size_t size, const MidiStamp& stamp) override
        {
            self.OnMidiInput(bytes, size, stamp);
        }
        Instrument& self;
    };
    void Send(uint8_t base, uint8_t data1, uint8_t data2 = 0) { notes_.SendOnOutputChannel(base, data1, data2); }

    InstrumentDisplay& display_;
    KeyDisplay& keys_;
    // The engine the audio stream renders; its sound and note table are what
    // every note source and control changes.
    Engine engine_;
    SynthState& synth_ = engine_.Synth();
    AudioStream audio_{engine_};
    NoteEvents notes_;

    // MIDI settings. The output channel and the echo switch live in notes_,
    // the input channel in the decoder: both are read on the MIDI input thread
    // too. Bank and patch start at 1 every time.
    Relaxed<int> currentBank_{1};
    Relaxed<int> currentPatch_{1};

    Relaxed<int> modWheelPosition_{0};
    Relaxed<float> pitchWheelPosition_{static_cast<float>(PITCH_WHEEL_REST)};

    // MIDI: everything sent goes through midiOutput_ to the output device; the
    // input device delivers to decoder_, which plays this instrument and
    // marks midiDisplay_. The devices are made last and deleted first.
    MidiDisplayChanges midiDisplay_;
    MidiDecoder decoder_{*this, &midiDisplay_};
    Input input_{*this};
    // MIDI input thread: the message being decoded, whether its operations
    // go to the schedule, and the velocity of the Note On that follows.
    MidiStamp stamp_;
    bool timed_ = false;
    float velocity_[128] = {};
    HeldKeys midiKeys_;
    HeldKeys windowKeys_; // the notes the window and the computer keyboard hold
    MidiOutputPath midiOutput_;
    std::vector<std::string> midiMessages_; // what the device settings tell
    MidiDeviceSettings midiDevices_{nullptr, nullptr,
                                    [this](const std::string& text) { midiMessages_.push_back(text); }};
    std::unique_ptr<::MidiInputDevice> midiIn_;
    std::unique_ptr<::MidiOutputDevice> midiOut_;
    UndoHistory history_{synth_.CurrentSound()};

    MidiOutputPort* outputPort_ = nullptr;
    std::function<void(const std::vector<uint8_t>&)> midiMonitor_;
};

// One step of a selector number, wrapping between 1 and 128.
int StepSelector(int number, int step);
