// How long the MIDI file reader takes for a file of N running-status notes,
// all at one tick, for N of 10^5 and 10^6: the time per event should not grow
// with N (it did, tenfold, with the library read before).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "midi/MidiFile.h"

namespace {

std::vector<uint8_t> RunningStatusNotes(int64_t notes)
{
    std::vector<uint8_t> track = {0x00, 0x90, 60, 100};
    for (int64_t i = 1; i < notes; ++i)
        track.insert(track.end(), {0x00, 60, static_cast<uint8_t>(i % 2 ? 0 : 100)});
    track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
    const auto n = static_cast<uint32_t>(track.size());
    std::vector<uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k',
                                 static_cast<uint8_t>(n >> 24), static_cast<uint8_t>(n >> 16),
                                 static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)};
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

void BenchReadMidiFile(benchmark::State& state)
{
    const std::vector<uint8_t> bytes = RunningStatusNotes(state.range(0));
    for (auto _ : state) {
        MidiFile file;
        if (!ReadMidiFile(bytes.data(), bytes.size(), file).empty() ||
            file.messages.size() != static_cast<size_t>(state.range(0)))
            state.SkipWithError("the file was not read");
        benchmark::DoNotOptimize(file.messages.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

BENCHMARK(BenchReadMidiFile)->Name("MidiFile/Read")->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();
