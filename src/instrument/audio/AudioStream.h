#pragma once
// The one PortAudio output stream: stereo, interleaved float, 256 frames per
// buffer (on JACK the server's period, one callback a cycle), its callback
// rendering the Engine with MIDI input's operations at their frames
// (MidiSchedule.h). The stream plays at 44100 Hz, or
// at the device's own default rate when the device refuses 44100 Hz (a JACK
// server at 48000 Hz); the engine then runs at that rate. The Instrument owns
// one AudioStream and drives it through Initialize, OpenDefault, SelectDevice
// and Shutdown, and the window polls CheckHealth on a GUI timer; this class
// only talks to PortAudio (and to JACK to see a lost server come back) and
// reports, the window shows messages.
//
// Threads: every member function on the GUI thread, except Callback, which
// PortAudio runs on its own audio thread, and Schedule and TakesTimedMidi,
// which MIDI input uses on its thread. The two meet in atomic words: the
// callback counts itself in and out of the render and ticks a heartbeat.
// Suspend sets the suspended bit and then waits until no callback is inside
// the render, so a stream is never aborted or replaced under a buffer being
// rendered. The callback never waits.
//
// A lost stream: when the audio server dies (or the device goes away) the
// callback stops for good. CheckHealth notices it within a second; from then
// on nothing calls PortAudio's stop, close or terminate (on a dead JACK server
// these wait for minutes, then abort the process), no device can be opened,
// and Shutdown returns at once.

#include <atomic>
#include <cstdint>
#include <memory>

#include <portaudio.h>

#include "audio/MidiSchedule.h"

class Engine;
class SynthState;
class AudioDevices;

class AudioStream {
public:
    static constexpr int kChannels = 2;
    static constexpr unsigned long kFramesPerBuffer = 256;
    // How often the owner should call CheckHealth.
    static constexpr int kHealthPollMs = 200;

    explicit AudioStream(Engine& engine);
    ~AudioStream();
    AudioStream(const AudioStream&) = delete;
    AudioStream& operator=(const AudioStream&) = delete;

    // Keeps the audio libraries' own console chatter (ALSA probing every card
    // it knows of) off the terminal, then Pa_Initialize. Returns its result.
    PaError Initialize();
    // Opens the stream on the default output device and starts it. When the
    // default device cannot be opened or started and a JACK server runs, the
    // JACK host API's output is used instead. Returns the first error, or
    // paNoError once a stream runs.
    PaError OpenDefault();
    // Opens the stream on `device` and starts it (the remembered device at
    // start-up). Returns the first error; no stream runs after one.
    PaError OpenDevice(PaDeviceIndex device);
    // Replaces the stream by one on the device of `params` (the audio
    // settings' choice). The render stays suspended if the open fails, so no
    // stream runs until a later choice succeeds; held notes are not touched
    // and sound again on the new stream. Returns the open's result; a failure
    // to start is not reported, as before. After the stream was lost nothing
    // is touched and paDeviceUnavailable comes back (see IsLost).
    PaError SelectDevice(const PaStreamParameters& params);
    // Suspends the render, waits for the callback, aborts and closes the
    // stream and terminates PortAudio; after a loss only suspends. Safe to
    // call twice.
    void Shutdown();

    // Sets the suspended bit (and SynthState::renderSuspended), then waits
    // until no callback is rendering (at most half a second: a callback that
    // never comes back belongs to a lost stream). Afterwards the callback only
    // writes silence.
    void Suspend();
    void Resume();
    bool IsSuspended() const;

    PaStream* Stream() const { return stream_; }
    bool IsRunning() const;
    // The index of the device the stream was opened on, or paNoDevice.
    PaDeviceIndex Device() const { return device_; }
    // The rate of the open stream in Hz (0 without one).
    double SampleRate() const { return rate_; }

    // ---- Losing the stream ----
    enum class Health {
        Fine,       // running, or not running by choice or failure
        Lost,       // this poll found the running stream dead (reported once)
        ServerBack, // after a loss, this poll found the JACK server running again (once)
    };
    // Called every kHealthPollMs on the GUI thread. A started stream whose
    // host says it is no longer active, or whose callback has not run for
    // four polls in a row, is lost.
    Health CheckHealth();
    bool IsLost() const { return lost_; }
    // True while buffers are being rendered: a stream started, not lost and
    // not suspended. The meters show nothing otherwise.
    bool Rendering() const;
    // The peaks the meters show: the largest the render reached since the
    // last call (taken, so an overload between two reads still shows), or 0
    // while no stream renders (lost, suspended or none), so the meters fall
    // instead of freezing.
    float TakeLeftPeak();
    float TakeRightPeak();
    // ---- MIDI input's timed operations ----
    // Where MIDI input leaves its synth operations with their times; the
    // callback plays each at its frame (MidiSchedule.h). The MIDI input
    // thread pushes.
    MidiSchedule& Schedule() { return schedule_; }
    // True while the callback renders and so takes the schedule's messages:
    // a stream started and neither suspended nor lost. Otherwise MIDI input
    // plays at once, as nothing renders to place it in. Any thread.
    bool TakesTimedMidi() const { return timedMidi_.load(std::memory_order_acquire); }

    // The callback's heartbeat: how many times PortAudio has called it.
    uint32_t Callbacks() const { return heartbeat_.load(std::memory_order_relaxed); }

    // The PortAudio callback; userData is the AudioStream.
    static int Callback(const void* input, void* output, unsigned long frameCount,
                        const PaStreamCallbackTimeInfo* timeInfo,
                        PaStreamCallbackFlags statusFlags, void* userData);

private:
    PaError Open(const PaStreamParameters& params);
    PaError Start();
    void CloseStream();
    void UpdateTimedMidi();

    static constexpr uint32_t kSuspended = 0x80000000u;

    Engine& engine_;
    SynthState& synth_;
    PaStream* stream_ = nullptr;
    PaDeviceIndex device_ = paNoDevice;
    double rate_ = 0.0;
    bool initialized_ = false;
    bool started_ = false;
    bool lost_ = false;
    bool lostOnJack_ = false;
    // The suspended bit and the number of callbacks inside the render.
    std::atomic<uint32_t> gate_{0};
    std::atomic<uint32_t> heartbeat_{0};
    uint32_t lastHeartbeat_ = 0;
    int stalePolls_ = 0;
    // After a loss on a JACK server: a thread that watches for the server's
    // return (shared with it, so it can outlive this object at exit).
    struct ServerWatch;
    std::shared_ptr<ServerWatch> watch_;

    // MIDI input's operations and the buffers' place on their clocks. On a
    // JACK device a client of the program's own without ports reads the
    // server's frame count for the cycle the callback runs in (PortAudio's
    // own client is not reachable); it is opened with the stream and closed
    // after it.
    MidiSchedule schedule_;
    AudioClock audioClock_;   // audio thread
    EngineEvent events_[MidiSchedule::kRoom] = {};
    void* jackClock_ = nullptr; // jack_client_t*
    std::atomic<bool> timedMidi_{false};
};
