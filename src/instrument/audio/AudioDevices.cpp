#include "AudioDevices.h"

#include <cstring>

#include "synth/SynthState.h"

int PortAudioDevices::Count() const { return Pa_GetDeviceCount(); }

AudioDeviceInfo PortAudioDevices::Info(int index) const
{
    AudioDeviceInfo out;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
    if (!info)
        return out;
    out.name = info->name ? info->name : "";
    const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
    out.hostApi = api && api->name ? api->name : "";
    out.maxOutputChannels = info->maxOutputChannels;
    out.defaultLowOutputLatency = info->defaultLowOutputLatency;
    out.defaultSampleRate = info->defaultSampleRate;
    return out;
}

bool PortAudioDevices::Plays(const PaStreamParameters& params, double rate) const
{
    return Pa_IsFormatSupported(nullptr, &params, rate) == paFormatIsSupported;
}

PaStreamParameters StreamParameters(int index, const AudioDeviceInfo& info)
{
    PaStreamParameters p;
    std::memset(&p, 0, sizeof p);
    p.device = index;
    p.channelCount = 2;
    p.sampleFormat = paFloat32;
    p.suggestedLatency = info.defaultLowOutputLatency;
    p.hostApiSpecificStreamInfo = nullptr;
    return p;
}

double PlayableRate(const AudioDevices& devices, int index)
{
    const AudioDeviceInfo info = devices.Info(index);
    const PaStreamParameters params = StreamParameters(index, info);
    if (devices.Plays(params, SAMPLE_RATE))
        return SAMPLE_RATE;
    const double own = info.defaultSampleRate;
    if (own > 0 && own != SAMPLE_RATE && devices.Plays(params, own))
        return own;
    return 0.0;
}
