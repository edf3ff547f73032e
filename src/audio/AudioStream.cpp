#include "AudioStream.h"

#include <algorithm>
#include <cstring>

#include <pa_jack.h>
#include <wx/utils.h>

#include "synth/SynthState.h"

AudioStream::AudioStream(SynthState& synth) : synth_(synth) {}

AudioStream::~AudioStream() { Shutdown(); }

PaError AudioStream::Initialize()
{
    // Under JACK the program's ports carry its name.
    PaJack_SetClientName("marovane");
    PaError err = Pa_Initialize();
    initialized_ = err == paNoError;
    return err;
}

namespace {

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

} // namespace

PaError AudioStream::Open(const PaStreamParameters& params)
{
    PaStream* s = nullptr;
    PaError err = Pa_OpenStream(&s, nullptr, &params, SAMPLE_RATE, kFramesPerBuffer, paNoFlag,
                                &AudioStream::Callback, this);
    if (err != paNoError)
        return err;
    stream_ = s;
    device_ = params.device;
    return paNoError;
}

PaError AudioStream::OpenDefault()
{
    PaDeviceIndex preferred = Pa_GetDefaultOutputDevice();
    PaError err = preferred == paNoDevice ? paDeviceUnavailable : Open(OutputParameters(preferred));
    if (err == paNoError) {
        err = Pa_StartStream(stream_);
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
    if (Pa_StartStream(stream_) != paNoError) {
        CloseStream();
        return err;
    }
    return paNoError;
}

void AudioStream::CloseStream()
{
    if (!stream_)
        return;
    Pa_AbortStream(stream_);
    Pa_CloseStream(stream_);
    stream_ = nullptr;
    device_ = paNoDevice;
}

void AudioStream::Suspend()
{
    synth_.renderSuspended = true;
    gate_.fetch_or(kSuspended, std::memory_order_acq_rel);
    // A callback that entered before the bit was set finishes its buffer
    // (about 6 ms); none enters the render afterwards.
    while ((gate_.load(std::memory_order_acquire) & ~kSuspended) != 0)
        wxMilliSleep(1);
}

void AudioStream::Resume()
{
    gate_.fetch_and(~kSuspended, std::memory_order_acq_rel);
    synth_.renderSuspended = false;
}

bool AudioStream::IsSuspended() const
{
    return (gate_.load(std::memory_order_acquire) & kSuspended) != 0;
}

bool AudioStream::IsRunning() const
{
    return stream_ && Pa_IsStreamActive(stream_) == 1;
}

PaError AudioStream::SelectDevice(const PaStreamParameters& params)
{
    Suspend();
    CloseStream();
    PaError err = Open(params);
    if (err != paNoError)
        return err; // stays suspended: no stream runs
    Pa_StartStream(stream_);
    Resume();
    return paNoError;
}

void AudioStream::Shutdown()
{
    Suspend();
    CloseStream();
    if (initialized_) {
        Pa_Terminate();
        initialized_ = false;
    }
}

int AudioStream::Callback(const void*, void* output, unsigned long frameCount,
                          const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* userData)
{
    auto* self = static_cast<AudioStream*>(userData);
    float* out = static_cast<float*>(output);
    uint32_t gate = self->gate_.fetch_add(1, std::memory_order_acq_rel);
    int result = paContinue;
    if ((gate & kSuspended) || self->synth_.renderSuspended) {
        std::memset(out, 0, frameCount * kChannels * sizeof(float));
    } else {
        // The stream asks for 256 frames; a host that hands out larger buffers
        // gets them rendered 256 frames at a time.
        for (unsigned long done = 0; done < frameCount; done += kFramesPerBuffer) {
            const unsigned long n = std::min(kFramesPerBuffer, frameCount - done);
            result = self->synth_.Render(out + done * kChannels, static_cast<unsigned>(n));
        }
    }
    self->gate_.fetch_sub(1, std::memory_order_acq_rel);
    (void)result;
    return paContinue; // the stream is only ever stopped from the GUI thread
}
