// marovane-stream-check: holds all 128 notes at 128 partials on the
// program's own audio path (AudioStream, its callback and the render it runs)
// for a while under a JACK server, and reports what the stream suffered:
// JACK xruns, PortAudio output underflows, and the callback's duration as a
// share of the buffer (median, 99th percentile, maximum).
//
// The stream is opened like AudioStream opens it (stereo float, 44100 Hz, 256
// frames, JACK's output device, the device's low latency), with a thin
// callback in front of AudioStream::Callback that reads the clock around it
// and keeps the status flags. Exit status 0 when no xrun and no underflow
// occurred, 1 otherwise, 2 when the stream could not run.
//
// usage: marovane-stream-check [SECONDS]   (default 60; JACK_DEFAULT_SERVER
// names the server)

#include <jack/jack.h>
#include <portaudio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "audio/AudioStream.h"
#include "synth/RenderFast.h"
#include "synth/RenderSplit.h"
#include "synth/Engine.h"
#include "synth/SynthState.h"

namespace {

struct Probe {
    AudioStream* audio = nullptr;
    std::vector<double> seconds; // allocated before the stream starts
    std::atomic<size_t> count{0};
    std::atomic<unsigned> underflows{0};
    std::atomic<unsigned> overflowedLog{0};
};

double Now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

int TimedCallback(const void* input, void* output, unsigned long frames, const PaStreamCallbackTimeInfo* time,
                  PaStreamCallbackFlags flags, void* user)
{
    auto* probe = static_cast<Probe*>(user);
    if (flags & (paOutputUnderflow | paOutputOverflow))
        probe->underflows.fetch_add(1, std::memory_order_relaxed);
    const double start = Now();
    const int result = AudioStream::Callback(input, output, frames, time, flags, probe->audio);
    const double took = Now() - start;
    const size_t i = probe->count.load(std::memory_order_relaxed);
    if (i < probe->seconds.size()) {
        probe->seconds[i] = took;
        probe->count.store(i + 1, std::memory_order_release);
    } else {
        probe->overflowedLog.fetch_add(1, std::memory_order_relaxed);
    }
    return result;
}

std::atomic<unsigned> jackXruns{0};

int OnXrun(void*)
{
    jackXruns.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

double Percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(q * static_cast<double>(v.size() - 1) + 0.5));
    return v[i];
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 60;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: marovane-stream-check [SECONDS]\n");
        return 2;
    }

    auto engine = std::make_unique<Engine>();
    SynthState* synth = &engine->Synth();
    float levels[NUM_PARTIALS];
    for (int h = 0; h < NUM_PARTIALS; ++h)
        levels[h] = 0.5f / static_cast<float>(h + 1) / NUM_NOTES;
    synth->SetSpectra(levels, levels);
    for (int n = 0; n < NUM_NOTES; ++n)
        synth->StartNote(n);

    // A JACK client of its own, only to count the server's xruns.
    jack_status_t status;
    jack_client_t* watcher = jack_client_open("marovane-xrun-watch", JackNoStartServer, &status);
    if (!watcher) {
        std::fprintf(stderr, "marovane-stream-check: no JACK server (status 0x%x)\n", static_cast<unsigned>(status));
        return 2;
    }
    jack_set_xrun_callback(watcher, OnXrun, nullptr);
    jack_activate(watcher);

    AudioStream audio(*engine);
    if (audio.Initialize() != paNoError) {
        std::fprintf(stderr, "marovane-stream-check: PortAudio did not initialise\n");
        return 2;
    }
    const PaHostApiIndex api = Pa_HostApiTypeIdToHostApiIndex(paJACK);
    const PaHostApiInfo* apiInfo = api >= 0 ? Pa_GetHostApiInfo(api) : nullptr;
    if (!apiInfo || apiInfo->defaultOutputDevice == paNoDevice) {
        std::fprintf(stderr, "marovane-stream-check: PortAudio found no JACK output\n");
        return 2;
    }
    PaStreamParameters params{};
    params.device = apiInfo->defaultOutputDevice;
    params.channelCount = AudioStream::kChannels;
    params.sampleFormat = paFloat32;
    params.suggestedLatency = Pa_GetDeviceInfo(params.device)->defaultLowOutputLatency;

    Probe probe;
    probe.audio = &audio;
    probe.seconds.assign(static_cast<size_t>(seconds + 10) * SAMPLE_RATE / AudioStream::kFramesPerBuffer + 64, 0.0);
    PaStream* stream = nullptr;
    PaError err = Pa_OpenStream(&stream, nullptr, &params, SAMPLE_RATE, AudioStream::kFramesPerBuffer, paNoFlag,
                                TimedCallback, &probe);
    if (err == paNoError)
        err = Pa_StartStream(stream);
    if (err != paNoError) {
        std::fprintf(stderr, "marovane-stream-check: %s\n", Pa_GetErrorText(err));
        return 2;
    }
    const unsigned xrunsAtStart = jackXruns.load();
    sleep(static_cast<unsigned>(seconds));
    const unsigned xruns = jackXruns.load() - xrunsAtStart;
    Pa_AbortStream(stream);
    Pa_CloseStream(stream);
    jack_client_close(watcher);

    int held = 0;
    for (int n = 0; n < NUM_NOTES; ++n)
        held += synth->IsNoteHeld(n);
    const size_t count = probe.count.load(std::memory_order_acquire);
    std::vector<double> took(probe.seconds.begin(), probe.seconds.begin() + static_cast<long>(count));
    const double buffer = static_cast<double>(AudioStream::kFramesPerBuffer) / SAMPLE_RATE;
    std::printf("render: %s (kernel %s); notes held at the end: %d of 128, 128 partials each\n",
                RenderVariantName(ChosenRenderVariant()), RenderVariantName(FastestRenderVariant()), held);
    if (synth->HasHelperThread()) {
        const RenderSplitStats split = synth->SplitStats();
        std::printf("two threads: helper finished %llu buffers, %llu taken over (%.1f notes each on average), "
                    "%llu rendered alone\n",
                    static_cast<unsigned long long>(split.helperFinished),
                    static_cast<unsigned long long>(split.takenOver),
                    split.takenOver ? static_cast<double>(split.notesTakenOver) / static_cast<double>(split.takenOver) : 0.0,
                    static_cast<unsigned long long>(split.alone));
    }
    std::printf("buffers: %zu in %d s (%.1f ms each)\n", count, seconds, buffer * 1e3);
    std::printf("JACK xruns: %u\nPortAudio underflows: %u\n", xruns, probe.underflows.load());
    std::printf("callback: median %.1f%%, 99th percentile %.1f%%, max %.1f%% of the buffer\n",
                100.0 * Percentile(took, 0.5) / buffer, 100.0 * Percentile(took, 0.99) / buffer,
                100.0 * Percentile(took, 1.0) / buffer);
    unsigned late = 0;
    std::printf("callbacks longer than the buffer:");
    for (size_t i = 0; i < took.size(); ++i)
        if (took[i] > buffer && ++late <= 10)
            std::printf(" #%zu (%.1f%%)", i, 100.0 * took[i] / buffer);
    std::printf(late ? " (%u in all)\n" : " none\n", late);
    audio.Shutdown();
    return xruns == 0 && probe.underflows.load() == 0 && held == NUM_NOTES ? 0 : 1;
}
