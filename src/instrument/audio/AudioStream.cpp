#include "AudioStream.h"

#include <chrono>
#include <cstdarg>
#include <cstring>
#include <thread>

#include <alsa/asoundlib.h>
#include <jack/jack.h>
#include <pa_jack.h>

#include "synth/OutputGuard.h"
#include "synth/Engine.h"
#include "synth/SynthState.h"

namespace {

// ALSA's library prints every failed lookup while PortAudio probes the
// devices it knows of (some sixty lines on a machine without a sound card);
// none of it is the user's business. What matters reaches the user as
// PortAudio's error code, in a message box.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

PaStreamParameters OutputParameters(PaDeviceIndex device)
{
    PaStreamParameters p;
    std::memset(&p, 0, sizeof p);
    p.device = device;
    p.channelCount = AudioStream::kChannels;
    p.sampleFormat = paFloat32;
    const PaDeviceInfo* info = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
    p.suggestedLatency = info ? info->defaultLowOutputLatency : 0.0;
    p.hostApiSpecificStreamInfo = nullptr;
    return p;
}

// The JACK host API's output device, if PortAudio found a JACK server.
PaDeviceIndex JackOutputDevice()
{
    PaHostApiIndex api = Pa_HostApiTypeIdToHostApiIndex(paJACK);
    if (api < 0)
        return paNoDevice;
    const PaHostApiInfo* info = Pa_GetHostApiInfo(api);
    return info ? info->defaultOutputDevice : paNoDevice;
}

bool IsJackDevice(PaDeviceIndex device)
{
    const PaDeviceInfo* info = device >= 0 ? Pa_GetDeviceInfo(device) : nullptr;
    const PaHostApiInfo* api = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
    return api && api->type == paJACK;
}

// True when a JACK server (the one JACK_DEFAULT_SERVER names, or the
// default) accepts a client. Never starts one.
bool JackServerRunning()
{
    jack_status_t status;
    jack_client_t* client = jack_client_open("marovane-probe", JackNoStartServer, &status);
    if (!client)
        return false;
    jack_client_close(client);
    return true;
}

} // namespace

// The watch for a lost JACK server's return: a detached thread that tries a
// client every half second until the server answers or the owner goes.
struct AudioStream::ServerWatch {
    std::atomic<bool> stop{false};
    std::atomic<bool> back{false};
    bool reported = false; // GUI thread
};

AudioStream::AudioStream(Engine& engine) : engine_(engine), synth_(engine.Synth())
{
    // From the start: the MIDI ports' probing goes through ALSA as well.
    snd_lib_error_set_handler(&QuietAlsa);
}

AudioStream::~AudioStream()
{
    Shutdown();
    if (watch_)
        watch_->stop = true;
}

PaError AudioStream::Initialize()
{
    snd_lib_error_set_handler(&QuietAlsa);
    // Under JACK the program's ports carry its name.
    PaJack_SetClientName("marovane");
    PaError err = Pa_Initialize();
    initialized_ = err == paNoError;
    return err;
}

PaError AudioStream::Open(const PaStreamParameters& params)
{
    // 44100 Hz where the device takes it; a device that refuses it (a JACK
    // server runs at one rate only) is played at its own rate, and the engine
    // follows.
    double rate = SAMPLE_RATE;
    PaStream* s = nullptr;
    // On JACK one callback is one cycle, whatever the server's period: with
    // a fixed size PortAudio would re-buffer (several callbacks a cycle at
    // 1024, one every few cycles at 64), and a buffer would no longer start
    // at the cycle's frame that MIDI input's timing counts from.
    const bool jack = IsJackDevice(params.device);
    const unsigned long framesPerBuffer = jack ? paFramesPerBufferUnspecified : kFramesPerBuffer;
    PaError err = Pa_OpenStream(&s, nullptr, &params, rate, framesPerBuffer, paNoFlag,
                                &AudioStream::Callback, this);
    if (err == paInvalidSampleRate) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(params.device);
        if (info && info->defaultSampleRate > 0 && info->defaultSampleRate != rate) {
            rate = info->defaultSampleRate;
            err = Pa_OpenStream(&s, nullptr, &params, rate, framesPerBuffer, paNoFlag,
                                &AudioStream::Callback, this);
        }
    }
    if (err != paNoError)
        return err;
    stream_ = s;
    device_ = params.device;
    rate_ = rate;
    if (jack && !jackClock_)
        jackClock_ = jack_client_open("Marovane clock", JackNoStartServer, nullptr);
    audioClock_.Reset();
    // No callback renders yet (the stream has not started, or the render is
    // suspended around a device change).
    synth_.SetSampleRate(static_cast<int32_t>(rate));
    return paNoError;
}

PaError AudioStream::Start()
{
    PaError err = Pa_StartStream(stream_);
    started_ = err == paNoError;
    lastHeartbeat_ = heartbeat_.load(std::memory_order_relaxed);
    stalePolls_ = 0;
    UpdateTimedMidi();
    return err;
}

PaError AudioStream::OpenDefault()
{
    PaDeviceIndex preferred = Pa_GetDefaultOutputDevice();
    PaError err = preferred == paNoDevice ? paDeviceUnavailable : Open(OutputParameters(preferred));
    if (err == paNoError) {
        err = Start();
        if (err != paNoError)
            CloseStream();
    }
    if (err == paNoError)
        return paNoError;

    // A machine whose default device is unusable (no sound card behind ALSA)
    // may still have a JACK server.
    PaDeviceIndex jack = JackOutputDevice();
    if (jack == paNoDevice || jack == preferred)
        return err;
    if (Open(OutputParameters(jack)) != paNoError)
        return err;
    if (Start() != paNoError) {
        CloseStream();
        return err;
    }
    return paNoError;
}

PaError AudioStream::OpenDevice(PaDeviceIndex device)
{
    PaError err = Open(OutputParameters(device));
    if (err == paNoError) {
        err = Start();
        if (err != paNoError)
            CloseStream();
    }
    return err;
}

void AudioStream::CloseStream()
{
    if (!stream_)
        return;
    timedMidi_.store(false, std::memory_order_release);
    if (!lost_) {
        Pa_AbortStream(stream_);
        Pa_CloseStream(stream_);
        // No callback runs now: the clock can go. (After a loss it stays,
        // as PortAudio's own client does: its server is gone.)
        if (jackClock_)
            jack_client_close(static_cast<jack_client_t*>(jackClock_));
    }
    jackClock_ = nullptr;
    stream_ = nullptr;
    device_ = paNoDevice;
    rate_ = 0.0;
    started_ = false;
}

void AudioStream::Suspend()
{
    timedMidi_.store(false, std::memory_order_release);
    synth_.SetRenderSuspended(true);
    gate_.fetch_or(kSuspended, std::memory_order_acq_rel);
    // A callback that entered before the bit was set finishes its buffer
    // (about 6 ms); none enters the render afterwards. One that never leaves
    // is stuck in a stream that is gone.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
    while ((gate_.load(std::memory_order_acquire) & ~kSuspended) != 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            lost_ = stream_ != nullptr;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void AudioStream::Resume()
{
    gate_.fetch_and(~kSuspended, std::memory_order_acq_rel);
    synth_.SetRenderSuspended(false);
    UpdateTimedMidi();
}

void AudioStream::UpdateTimedMidi()
{
    timedMidi_.store(stream_ && started_ && !lost_ && !IsSuspended(), std::memory_order_release);
}

bool AudioStream::IsSuspended() const
{
    return (gate_.load(std::memory_order_acquire) & kSuspended) != 0;
}

bool AudioStream::IsRunning() const
{
    return stream_ && !lost_ && Pa_IsStreamActive(stream_) == 1;
}

PaError AudioStream::SelectDevice(const PaStreamParameters& params)
{
    // PortAudio's JACK host keeps its one client to the dead server: nothing
    // opens again in this process, and stopping the old stream would hang.
    if (lost_)
        return paDeviceUnavailable;
    Suspend();
    if (lost_)
        return paDeviceUnavailable;
    CloseStream();
    PaError err = Open(params);
    if (err != paNoError)
        return err; // stays suspended: no stream runs
    Start();
    Resume();
    return paNoError;
}

void AudioStream::Shutdown()
{
    Suspend();
    CloseStream();
    if (initialized_ && !lost_)
        Pa_Terminate();
    initialized_ = false;
}

AudioStream::Health AudioStream::CheckHealth()
{
    if (lost_) {
        if (watch_ && !watch_->reported && watch_->back.load()) {
            watch_->reported = true;
            return Health::ServerBack;
        }
        return Health::Fine;
    }
    if (!stream_ || !started_)
        return Health::Fine;
    const uint32_t beat = heartbeat_.load(std::memory_order_relaxed);
    stalePolls_ = beat == lastHeartbeat_ ? stalePolls_ + 1 : 0;
    lastHeartbeat_ = beat;
    // PortAudio's JACK host marks its streams inactive as soon as the server
    // shuts down; any other host shows it by a callback that stops coming.
    // (Polls, not wall time, so a machine waking from sleep is not a loss.)
    if (Pa_IsStreamActive(stream_) == 1 && stalePolls_ < 4)
        return Health::Fine;

    lost_ = true;
    timedMidi_.store(false, std::memory_order_release);
    synth_.SetRenderSuspended(true);
    lostOnJack_ = IsJackDevice(device_);
    if (lostOnJack_) {
        watch_ = std::make_shared<ServerWatch>();
        std::thread([w = watch_] {
            while (!w->stop.load()) {
                if (JackServerRunning()) {
                    w->back = true;
                    return;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
            }
        }).detach();
    }
    return Health::Lost;
}

bool AudioStream::Rendering() const { return stream_ && started_ && !lost_ && !IsSuspended(); }

float AudioStream::TakeLeftPeak()
{
    const float peak = synth_.TakeLeftMaxPeak();
    return Rendering() ? peak : 0.0f;
}

float AudioStream::TakeRightPeak()
{
    const float peak = synth_.TakeRightMaxPeak();
    return Rendering() ? peak : 0.0f;
}

int AudioStream::Callback(const void*, void* output, unsigned long frameCount,
                          const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* userData)
{
    auto* self = static_cast<AudioStream*>(userData);
    float* out = static_cast<float*>(output);
    self->heartbeat_.fetch_add(1, std::memory_order_relaxed);
    uint32_t gate = self->gate_.fetch_add(1, std::memory_order_acq_rel);
    if ((gate & kSuspended) || self->synth_.renderSuspended) {
        std::memset(out, 0, frameCount * kChannels * sizeof(float));
    } else {
        // The stream asks for 256 frames (on JACK, the cycle's); a host that
        // hands out other sizes gets them cut on the engine's own grid. MIDI
        // input's operations play at their own frames, one buffer after
        // they came (MidiSchedule.h).
        const auto frames = static_cast<uint32_t>(frameCount);
        BufferClock clock;
        clock.frames = frames;
        clock.sampleRate = self->rate_;
        const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count();
        clock.startNanoseconds = self->audioClock_.Update(now, frames, self->rate_);
        auto* jack = static_cast<jack_client_t*>(self->jackClock_);
        // Inside JACK's cycle, and that cycle is this buffer (no re-buffering).
        if (jack && jack_get_buffer_size(jack) == frames) {
            clock.hasJackFrame = true;
            clock.jackFrame = jack_last_frame_time(jack);
        }
        const size_t count = self->schedule_.Take(clock, self->events_, MidiSchedule::kRoom);
        self->engine_.RenderInterleaved(out, frames, self->events_, count);
        // A sample that overflowed to inf or NaN would silence the device
        // (and the render's peaks have already counted it as an overload).
        SilenceNonFinite(out, frameCount * kChannels);
    }
    self->gate_.fetch_sub(1, std::memory_order_acq_rel);
    return paContinue; // the stream is only ever stopped from the GUI thread
}
