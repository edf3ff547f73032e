#pragma once
// The one PortAudio output stream: stereo, interleaved float, 44100 Hz, 256
// frames per buffer, its callback rendering SynthState. The Instrument owns
// one AudioStream and drives it through StartAudio, SelectAudioDevice and
// Shutdown; this class only talks to PortAudio and reports error codes,
// the window shows them.
//
// Threads: every member function on the GUI thread, except Callback, which
// PortAudio runs on its own audio thread. The two meet in one atomic word:
// the callback counts itself in and out of the render, and Suspend sets the
// suspended bit and then waits until no callback is inside the render, so a
// stream is never aborted or replaced under a buffer being rendered. The
// callback never waits.

#include <atomic>
#include <cstdint>

#include <portaudio.h>

class SynthState;

class AudioStream {
public:
    static constexpr int kChannels = 2;
    static constexpr unsigned long kFramesPerBuffer = 256;

    explicit AudioStream(SynthState& synth);
    ~AudioStream();
    AudioStream(const AudioStream&) = delete;
    AudioStream& operator=(const AudioStream&) = delete;

    // Pa_Initialize. Returns its result.
    PaError Initialize();
    // Opens the stream on the default output device and starts it. When the
    // default device cannot be opened or started and a JACK server runs, the
    // JACK host API's output is used instead. Returns the first error, or
    // paNoError once a stream runs.
    PaError OpenDefault();
    // Replaces the stream by one on the device of `params` (the audio
    // settings' choice). The render stays suspended if the open fails, so no
    // stream runs until a later choice succeeds; held notes are not touched
    // and sound again on the new stream. Returns the open's result; a failure
    // to start is not reported, as before.
    PaError SelectDevice(const PaStreamParameters& params);
    // Suspends the render, waits for the callback, aborts and closes the
    // stream and terminates PortAudio. Safe to call twice.
    void Shutdown();

    // Sets the suspended bit (and SynthState::renderSuspended), then waits
    // until no callback is rendering. Afterwards the callback only writes
    // silence.
    void Suspend();
    void Resume();
    bool IsSuspended() const;

    PaStream* Stream() const { return stream_; }
    bool IsRunning() const;
    // The index of the device the stream was opened on, or paNoDevice.
    PaDeviceIndex Device() const { return device_; }

    // The PortAudio callback; userData is the AudioStream.
    static int Callback(const void* input, void* output, unsigned long frameCount,
                        const PaStreamCallbackTimeInfo* timeInfo,
                        PaStreamCallbackFlags statusFlags, void* userData);

private:
    PaError Open(const PaStreamParameters& params);
    void CloseStream();

    static constexpr uint32_t kSuspended = 0x80000000u;

    SynthState& synth_;
    PaStream* stream_ = nullptr;
    PaDeviceIndex device_ = paNoDevice;
    bool initialized_ = false;
    // The suspended bit and the number of callbacks inside the render.
    std::atomic<uint32_t> gate_{0};
};
