// The engine's block call: blocks of any size with MIDI messages at their
// frames, against the reference render run by the test over the same pieces
// (cut at every message, at every block's end and on the 256-frame grid).
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/EngineTestAccess.h"
#include "synth/Engine.h"
#include "synth/RenderFast.h"

namespace {

// A message at a frame counted from the first frame rendered.
struct Timed {
    uint64_t frame;
    std::vector<uint8_t> bytes;
};

// Attack and sustain spectra differ and the envelope takes 230 ms: the morph
// steps once per piece, so a piece cut anywhere else changes the output.
Sound MorphingSound()
{
    Sound s;
    s.attackMs = 30;
    s.decayMs = 200;
    s.sustainPercent = 60;
    s.releaseMs = 40;
    s.lfoFrequency = 7.5f;
    s.lfoWaveform = 3;
    for (int h = 0; h < NUM_PARTIALS; h += 3) {
        s.attack.level[h] = 0.3f / static_cast<float>(h + 1);
        s.sustain.level[h] = h % 2 ? 0.1f : 0.25f / static_cast<float>(h + 2);
    }
    return s;
}

// Notes on several channels, a chord struck on one frame, two messages on
// neighbouring frames, the wheels, the pedal holding a Note Off, all notes
// off, and a message on the last frame.
std::vector<Timed> Song()
{
    return {
        {0, {0x90, 60, 100}},  {37, {0x93, 64, 80}},   {300, {0x90, 67, 127}}, {301, {0x80, 60, 0}},
        {513, {0xE0, 0, 90}},  {700, {0xB5, 1, 100}},  {1000, {0x9F, 72, 60}}, {1000, {0x90, 76, 61}},
        {1000, {0x90, 79, 62}}, {2000, {0xB0, 64, 127}}, {2100, {0x80, 64, 0}}, {2101, {0x90, 48, 30}},
        {3000, {0xB0, 64, 0}}, {4095, {0x80, 67, 0}},  {4096, {0xE0, 0, 64}},  {5000, {0x90, 62, 110}},
        {6000, {0xB0, 123, 0}}, {6500, {0x90, 69, 127}}, {8191, {0x80, 69, 0}},
    };
}

constexpr uint64_t kSongFrames = 8192;

// Piece boundaries: the grid from `gridOrigin`, the ends of `blocks` and every
// message's frame.
std::set<uint64_t> Cuts(const std::vector<uint32_t>& blocks, uint64_t gridOrigin, const std::vector<Timed>& events)
{
    std::set<uint64_t> cuts{0};
    uint64_t total = 0;
    for (uint32_t b : blocks)
        cuts.insert(total += b);
    for (uint64_t f = gridOrigin; f < total; f += MAX_FRAMES)
        cuts.insert(f);
    for (const Timed& e : events)
        cuts.insert(e.frame);
    return cuts;
}

// The reference render over the given pieces, each message (in time order)
// applied before the piece that starts at its frame. Interleaved stereo.
std::vector<float> Reference(const Sound& sound, const std::vector<Timed>& events, const std::set<uint64_t>& cuts,
                             int32_t rate = SAMPLE_RATE)
{
    auto synth = std::make_unique<SynthState>(false);
    synth->SetSampleRate(rate);
    synth->SetSound(sound);
    EngineMidi midi(*synth);
    std::vector<float> out(2 * *cuts.rbegin());
    size_t next = 0;
    for (auto it = cuts.begin(); std::next(it) != cuts.end(); ++it) {
        while (next < events.size() && events[next].frame == *it) {
            midi.Apply(events[next].bytes.data(), static_cast<uint32_t>(events[next].bytes.size()));
            ++next;
        }
        SynthStateTestAccess::RenderBuffer(*synth, out.data() + 2 * *it, static_cast<unsigned>(*std::next(it) - *it));
    }
    return out;
}

EngineEvent Event(uint32_t frame, const std::vector<uint8_t>& bytes)
{
    EngineEvent e{frame, static_cast<uint32_t>(bytes.size()), {0, 0, 0}};
    std::memcpy(e.bytes, bytes.data(), std::min<size_t>(bytes.size(), 3));
    return e;
}

enum class Form { TwoBuffers, Interleaved };

// Renders blocks of the given sizes, handing each block the messages inside
// it. Interleaved stereo, whichever form the engine wrote.
std::vector<float> EngineRender(Engine& engine, const std::vector<Timed>& events, const std::vector<uint32_t>& blocks,
                                Form form)
{
    std::vector<float> out;
    uint64_t start = 0;
    size_t next = 0;
    for (uint32_t size : blocks) {
        std::vector<EngineEvent> inside;
        for (; next < events.size() && events[next].frame < start + size; ++next)
            inside.push_back(Event(static_cast<uint32_t>(events[next].frame - start), events[next].bytes));
        const size_t at = out.size();
        out.resize(at + 2 * static_cast<size_t>(size));
        if (form == Form::Interleaved) {
            engine.RenderInterleaved(out.data() + at, size, inside.data(), inside.size());
        } else {
            std::vector<float> left(size, -7.0f), right(size, -7.0f);
            engine.Render(left.data(), right.data(), size, inside.data(), inside.size());
            for (uint32_t i = 0; i < size; ++i) {
                out[at + 2 * i] = left[i];
                out[at + 2 * i + 1] = right[i];
            }
        }
        start += size;
    }
    return out;
}

std::vector<uint32_t> Repeat(uint32_t size, uint64_t total)
{
    std::vector<uint32_t> blocks;
    for (uint64_t done = 0; done < total; done += size)
        blocks.push_back(static_cast<uint32_t>(std::min<uint64_t>(size, total - done)));
    return blocks;
}

// The first sample where two renders differ, or -1.
long FirstDifference(const std::vector<float>& a, const std::vector<float>& b)
{
    if (a.size() != b.size())
        return 0;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0)
            return static_cast<long>(i);
    return -1;
}

std::unique_ptr<Engine> NewEngine(bool helper, const Sound& sound, int32_t rate = SAMPLE_RATE)
{
    auto engine = std::make_unique<Engine>(EngineOptions{rate, helper});
    engine->Synth().SetSound(sound);
    return engine;
}

TEST(EngineBlocks, AnyBlockSizeEqualsTheReferenceOverTheSamePieces)
{
    struct Case {
        const char* name;
        std::vector<uint32_t> blocks;
        bool helper;
        Form form;
        int32_t rate = SAMPLE_RATE;
    };
    const Case cases[] = {
        {"1", Repeat(1, kSongFrames), false, Form::TwoBuffers},
        {"100", Repeat(100, kSongFrames), true, Form::Interleaved},
        {"256", Repeat(256, kSongFrames), true, Form::TwoBuffers},
        {"1000", Repeat(1000, kSongFrames), false, Form::Interleaved},
        {"8192", {8192}, true, Form::TwoBuffers},
        {"8192 interleaved, one thread", {8192}, false, Form::Interleaved},
        {"mixed", {1000, 1, 255, 256, 100, 512, 3, 4065, 2000}, true, Form::TwoBuffers},
        {"1000 at 48000 Hz", Repeat(1000, kSongFrames), true, Form::TwoBuffers, 48000},
        {"100 at 96000 Hz, one thread", Repeat(100, kSongFrames), false, Form::Interleaved, 96000},
    };
    const Sound sound = MorphingSound();
    const std::vector<Timed> song = Song();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto engine = NewEngine(c.helper, sound, c.rate);
        EXPECT_EQ(engine->Synth().SampleRate(), c.rate);
        const std::vector<float> got = EngineRender(*engine, song, c.blocks, c.form);
        const std::vector<float> expected = Reference(sound, song, Cuts(c.blocks, 0, song), c.rate);
        EXPECT_EQ(FirstDifference(got, expected), -1);
        if (c.rate != SAMPLE_RATE) { // the rate is heard: the same song at 44100 Hz differs
            EXPECT_NE(FirstDifference(got, Reference(sound, song, Cuts(c.blocks, 0, song))), -1);
        }
    }
}

// Blocks that are multiples of 256 frames cut nowhere but at the messages and
// the grid: every such host hears the same samples.
TEST(EngineBlocks, BlocksOnTheGridSoundAlike)
{
    const Sound sound = MorphingSound();
    const std::vector<Timed> song = Song();
    const std::vector<float> by256 = EngineRender(*NewEngine(false, sound), song, Repeat(256, kSongFrames), Form::Interleaved);
    for (const std::vector<uint32_t>& blocks : {Repeat(512, kSongFrames), std::vector<uint32_t>{2048, 256, 5888}})
        EXPECT_EQ(FirstDifference(EngineRender(*NewEngine(true, sound), song, blocks, Form::TwoBuffers), by256), -1);
    // A block cut elsewhere does change a morphing sound: the comparisons
    // above can fail.
    EXPECT_NE(FirstDifference(EngineRender(*NewEngine(false, sound), song, Repeat(100, kSongFrames), Form::Interleaved), by256), -1);
}

// Messages out of order take effect at the frame reached so far; those at or
// past the block's end at the next block's first frame, after the messages
// of the block itself and before the next block's own.
TEST(EngineBlocks, LateAndPastTheEndMessages)
{
    const Sound sound = MorphingSound();
    auto scrambled = NewEngine(false, sound);
    auto ordered = NewEngine(false, sound);
    std::vector<float> a(2 * 512), b(2 * 512);

    const EngineEvent first[] = {Event(100, {0x90, 60, 100}), Event(40, {0x90, 64, 90}), Event(256, {0xB0, 1, 127}),
                                 Event(70000, {0x90, 67, 80}), Event(10, {0x80, 60, 0})};
    const EngineEvent firstOrdered[] = {Event(100, {0x90, 60, 100}), Event(100, {0x90, 64, 90})};
    const EngineEvent second[] = {Event(0, {0x90, 72, 70}), Event(128, {0xE0, 0, 100})};
    const EngineEvent secondOrdered[] = {Event(0, {0xB0, 1, 127}), Event(0, {0x90, 67, 80}), Event(0, {0x80, 60, 0}),
                                         Event(0, {0x90, 72, 70}), Event(128, {0xE0, 0, 100})};
    scrambled->RenderInterleaved(a.data(), 256, first, std::size(first));
    scrambled->RenderInterleaved(a.data() + 512, 256, second, std::size(second));
    ordered->RenderInterleaved(b.data(), 256, firstOrdered, std::size(firstOrdered));
    ordered->RenderInterleaved(b.data() + 512, 256, secondOrdered, std::size(secondOrdered));
    EXPECT_EQ(FirstDifference(a, b), -1);
    EXPECT_TRUE(scrambled->Synth().IsNoteHeld(67));
    EXPECT_FALSE(scrambled->Synth().IsNoteHeld(60));

    // The ordered form is the reference's, piece by piece.
    const std::vector<Timed> asTimed = {{100, {0x90, 60, 100}}, {100, {0x90, 64, 90}}, {256, {0xB0, 1, 127}},
                                        {256, {0x90, 67, 80}},  {256, {0x80, 60, 0}},  {256, {0x90, 72, 70}},
                                        {384, {0xE0, 0, 100}}};
    EXPECT_EQ(FirstDifference(b, Reference(sound, asTimed, Cuts({256, 256}, 0, asTimed))), -1);
}

// A block of no frames writes nothing (its buffers may be null) and moves no
// grid, but its messages are played from the next frame rendered.
TEST(EngineBlocks, ZeroFrames)
{
    const Sound sound = MorphingSound();
    auto engine = NewEngine(false, sound);
    const EngineEvent events[] = {Event(0, {0x90, 60, 100}), Event(5, {0xB0, 1, 90})};
    engine->Render(nullptr, nullptr, 0, events, std::size(events));
    engine->RenderInterleaved(nullptr, 0, nullptr, 0);
    std::vector<float> out(2 * 612);
    engine->RenderInterleaved(out.data(), 100, nullptr, 0);
    engine->Render(nullptr, nullptr, 0, nullptr, 0);
    engine->RenderInterleaved(out.data() + 200, 512, nullptr, 0);
    const std::vector<Timed> asTimed = {{0, {0x90, 60, 100}}, {0, {0xB0, 1, 90}}};
    EXPECT_EQ(FirstDifference(out, Reference(sound, asTimed, Cuts({100, 512}, 0, asTimed))), -1);
}

// After ResetGrid the grid counts from the next frame rendered.
TEST(EngineBlocks, ResetGridRestartsTheGrid)
{
    const Sound sound = MorphingSound();
    const std::vector<Timed> notes = {{0, {0x90, 60, 100}}, {0, {0x90, 67, 100}}};
    auto engine = NewEngine(true, sound);
    std::vector<float> out(2 * 868);
    const EngineEvent start[] = {Event(0, {0x90, 60, 100}), Event(0, {0x90, 67, 100})};
    engine->RenderInterleaved(out.data(), 100, start, std::size(start));
    engine->ResetGrid();
    engine->RenderInterleaved(out.data() + 200, 512, nullptr, 0);
    engine->RenderInterleaved(out.data() + 1224, 256, nullptr, 0);
    std::set<uint64_t> cuts = Cuts({100, 512, 256}, 100, notes);
    EXPECT_EQ(FirstDifference(out, Reference(sound, notes, cuts)), -1);
    // Without the reset the pieces would be cut at 256, 512 and 768.
    EXPECT_NE(FirstDifference(out, Reference(sound, notes, Cuts({100, 512, 256}, 0, notes))), -1);
}

// What each message does to the note table and the wheels; all channels
// play.
TEST(EngineBlocks, MessagesPlayOnEveryChannel)
{
    struct Case {
        const char* name;
        std::vector<std::vector<uint8_t>> messages;
        std::function<bool(const SynthState&)> holds;
    };
    const Case cases[] = {
        {"Note On, channel 6", {{0x95, 60, 100}},
         [](const SynthState& s) { return s.IsNoteHeld(60) && s.NoteVelocity(60) == 100.0f / 127.0f; }},
        {"messages short of their data bytes", {{0x90, 61}, {0x90, 60, 100}, {0x80, 60}, {0xE0, 0}},
         [](const SynthState& s) {
             return s.IsNoteHeld(60) && !s.IsNoteSounding(61) && s.pitchWheel == PITCH_WHEEL_CENTRE;
         }},
        {"Note On velocity 0 ends it", {{0x90, 60, 100}, {0x9A, 60, 0}},
         [](const SynthState& s) { return !s.IsNoteHeld(60) && s.IsNoteReleasing(60); }},
        {"Note Off, another channel", {{0x90, 60, 100}, {0x8C, 60, 5}},
         [](const SynthState& s) { return s.IsNoteReleasing(60); }},
        {"pitch bend, channel 4", {{0xE3, 0, 127}}, [](const SynthState& s) { return s.pitchWheel == 16256.0f; }},
        {"mod wheel, channel 8", {{0xB7, 1, 64}},
         [](const SynthState& s) { return s.modWheelDepth == 8192.0f / 16383.0f; }},
        {"the pedal holds a Note Off", {{0x90, 60, 100}, {0xB2, 64, 127}, {0x80, 60, 0}},
         [](const SynthState& s) { return s.IsNoteHeld(60); }},
        {"the pedal comes up", {{0x90, 60, 100}, {0xB2, 64, 127}, {0x80, 60, 0}, {0xB9, 64, 0}},
         [](const SynthState& s) { return s.IsNoteReleasing(60); }},
        {"all notes off, under the pedal", {{0x90, 60, 100}, {0x91, 62, 100}, {0xB0, 64, 127}, {0xBE, 123, 0}},
         [](const SynthState& s) { return s.IsNoteReleasing(60) && s.IsNoteReleasing(62); }},
        {"ignored: program change, pressure, other controllers, SysEx, a data byte above 127",
         {{0xC0, 5}, {0xD0, 100}, {0xB0, 7, 0}, {0xB0, 11, 127}, {0xF0, 0x7E, 0x7F}, {0x90, 200, 100}, {0xE0, 0, 200}},
         [](const SynthState& s) {
             return !s.AnyNoteActive() && s.pitchWheel == PITCH_WHEEL_CENTRE && s.modWheelDepth == 0.0f;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Engine engine({SAMPLE_RATE, false});
        std::vector<EngineEvent> events;
        for (const auto& m : c.messages)
            events.push_back(Event(0, m));
        float left[8], right[8];
        engine.Render(left, right, 8, events.data(), events.size());
        EXPECT_TRUE(c.holds(engine.Synth()));
    }
    // Sizes other than 1 to 3 are ignored.
    Engine engine({SAMPLE_RATE, false});
    EngineEvent events[] = {Event(0, {0x90, 60, 100}), Event(0, {0x90, 61, 100})};
    events[0].size = 0;
    events[1].size = 4;
    float out[16];
    engine.RenderInterleaved(out, 8, events, 2);
    EXPECT_FALSE(engine.Synth().AnyNoteActive());
}

// The threads of this process, as the kernel lists them.
int ThreadCount()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++count;
    return count;
}

// A host that renders on its own threads (a plugin) asks for no helper: none
// is started, then or later.
TEST(EngineOptions, HelperThreadOnlyWhenAskedFor)
{
    const int before = ThreadCount();
    {
        auto alone = NewEngine(false, MorphingSound());
        EXPECT_FALSE(alone->Synth().HasHelperThread());
        std::vector<float> out(2 * 4096);
        const EngineEvent chord[] = {Event(0, {0x90, 60, 100}), Event(0, {0x90, 64, 100}), Event(9, {0x90, 67, 100})};
        alone->RenderInterleaved(out.data(), 4096, chord, std::size(chord));
        EXPECT_EQ(ThreadCount(), before);
    }
    auto shared = NewEngine(true, MorphingSound());
    EXPECT_EQ(shared->Synth().HasHelperThread(), RenderVariantSupported(RenderVariant::Split));
    EXPECT_EQ(ThreadCount(), before + (shared->Synth().HasHelperThread() ? 1 : 0));
}

// A sound's value for a parameter, as a patch load stores it.
void SetSoundValue(Sound& sound, ParamId id, float value)
{
    switch (id) {
    case ParamId::Attack: sound.attackMs = static_cast<int32_t>(value); break;
    case ParamId::Decay: sound.decayMs = static_cast<int32_t>(value); break;
    case ParamId::Sustain: sound.sustainPercent = static_cast<int32_t>(value); break;
    case ParamId::Release: sound.releaseMs = static_cast<int32_t>(value); break;
    case ParamId::LfoFrequency: sound.lfoFrequency = value; break;
    case ParamId::LfoWaveform: sound.lfoWaveform = static_cast<int32_t>(value); break;
    case ParamId::Volume: sound.volumeDb = value; break;
    case ParamId::BandLimit: sound.bandLimit = value != 0.0f; break;
    }
}

// What a host hears: a note struck and let go, with the wheel moving the
// tremolo, so that every parameter reaches the output.
std::vector<float> HostRender(Engine& engine)
{
    std::vector<float> out(2 * 2048);
    const EngineEvent song[] = {Event(0, {0xB0, 1, 127}), Event(0, {0x90, 69, 127}), Event(1500, {0x80, 69, 0})};
    engine.RenderInterleaved(out.data(), 2048, song, std::size(song));
    return out;
}

// A host's value (a plugin port, a slider, a command line) goes through the
// engine, which holds it to the parameter's range, rounds it to a whole
// number where the parameter takes only those (halves away from zero) and
// keeps the last value for a NaN. The engine then plays exactly what it
// plays with the held value loaded as a sound.
TEST(EngineParameters, HostValuesAreHeldTheOneDocumentedWay)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case {
        ParamId id;
        float before; // the value the host set last
        float given;
        float held;
    };
    const Case cases[] = {
        {ParamId::Attack, 0.0f, 250.4f, 250.0f},
        {ParamId::Attack, 0.0f, 250.5f, 251.0f},
        {ParamId::Attack, 0.0f, 0.49999997f, 0.0f},
        {ParamId::Attack, 10.0f, -0.5f, 0.0f},
        {ParamId::Attack, 10.0f, 1000.6f, 1000.0f},
        {ParamId::Attack, 10.0f, 1e30f, 1000.0f},
        {ParamId::Attack, 10.0f, -inf, 0.0f},
        {ParamId::Attack, 123.0f, nan, 123.0f},
        {ParamId::Decay, 0.0f, 99.5f, 100.0f},
        {ParamId::Decay, 0.0f, inf, 1000.0f},
        {ParamId::Sustain, 50.0f, 100.49f, 100.0f},
        {ParamId::Sustain, 50.0f, 12.5f, 13.0f},
        {ParamId::Sustain, 50.0f, -7.0f, 0.0f},
        {ParamId::Sustain, 37.0f, nan, 37.0f},
        {ParamId::Release, 10.0f, 2000.0f, 1000.0f},
        {ParamId::Release, 10.0f, 33.7f, 34.0f},
        {ParamId::LfoFrequency, 5.0f, 7.25f, 7.25f}, // not rounded
        {ParamId::LfoFrequency, 5.0f, 20.5f, 20.0f},
        {ParamId::LfoFrequency, 5.0f, -1.0f, 0.0f},
        {ParamId::LfoFrequency, 3.5f, nan, 3.5f},
        {ParamId::LfoFrequency, 5.0f, inf, 20.0f},
        {ParamId::LfoWaveform, 0.0f, 2.5f, 3.0f},
        {ParamId::LfoWaveform, 0.0f, 6.4f, 6.0f},
        {ParamId::LfoWaveform, 0.0f, 7.0f, 6.0f},
        {ParamId::LfoWaveform, 4.0f, -3.0f, 0.0f},
        {ParamId::LfoWaveform, 4.0f, nan, 4.0f},
        {ParamId::Volume, 0.0f, -3.25f, -3.25f}, // not rounded
        {ParamId::Volume, 0.0f, -60.5f, -60.0f},
        {ParamId::Volume, 0.0f, 6.01f, 6.0f},
        {ParamId::Volume, 0.0f, -inf, -60.0f},
        {ParamId::Volume, 0.0f, inf, 6.0f},
        {ParamId::Volume, -12.0f, nan, -12.0f},
        {ParamId::Volume, -12.0f, 1.78814e-06f, 0.0f}, // a VST3 host's 0 dB: unity, exactly
        {ParamId::Volume, -12.0f, -9e-5f, 0.0f},
        {ParamId::Volume, 0.0f, 1.5e-4f, 1.5e-4f},
        {ParamId::BandLimit, 0.0f, 0.5f, 1.0f}, // a switch: a half and more is on
        {ParamId::BandLimit, 1.0f, 0.49f, 0.0f},
        {ParamId::BandLimit, 0.0f, 7.0f, 1.0f},
        {ParamId::BandLimit, 1.0f, -inf, 0.0f},
        {ParamId::BandLimit, 1.0f, nan, 1.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(Parameter(c.id).symbol) + " " + std::to_string(c.given));
        auto host = std::make_unique<Engine>(EngineOptions{SAMPLE_RATE, false});
        host->SetParameter(c.id, c.before);
        host->SetParameter(c.id, c.given);
        EXPECT_EQ(host->Parameter(c.id), c.held);

        auto loaded = std::make_unique<Engine>(EngineOptions{SAMPLE_RATE, false});
        ChangeSound(loaded->Synth(), [&c](Sound& sound) { SetSoundValue(sound, c.id, c.held); });
        const std::vector<float> heard = HostRender(*host);
        const std::vector<float> expected = HostRender(*loaded);
        EXPECT_EQ(std::memcmp(heard.data(), expected.data(), heard.size() * sizeof(float)), 0);
    }
}

// A whole sound (a patch) keeps its values however far outside the
// controls' ranges, and a host's NaN afterwards leaves them so.
TEST(EngineParameters, ASoundKeepsValuesOutsideTheRanges)
{
    Engine engine(EngineOptions{SAMPLE_RATE, false});
    ChangeSound(engine.Synth(), [](Sound& sound) {
        sound.attackMs = 5000;
        sound.sustainPercent = -20;
        sound.lfoFrequency = 441.0f;
        sound.lfoWaveform = 9; // a sound holds it to its range
        sound.volumeDb = 40.0f; // and this one too
    });
    EXPECT_EQ(engine.Parameter(ParamId::Attack), 5000.0f);
    EXPECT_EQ(engine.Parameter(ParamId::Volume), 6.0f);
    EXPECT_EQ(engine.Parameter(ParamId::Sustain), -20.0f);
    EXPECT_EQ(engine.Parameter(ParamId::LfoFrequency), 441.0f);
    EXPECT_EQ(engine.Parameter(ParamId::LfoWaveform), 6.0f);
    engine.SetParameter(ParamId::Attack, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(engine.Synth().attackMs, 5000);
    engine.SetParameter(ParamId::Attack, 5000.0f);
    EXPECT_EQ(engine.Synth().attackMs, 1000) << "a host's value is held to the range";
}

// The gain of a volume, as the engine documents it: 10^(dB/20) as a float.
float Gain(float dB)
{
    return static_cast<float>(std::pow(10.0, static_cast<double>(dB) / 20.0));
}

// Two notes of the start-up sound (a sine each) held from the first frame,
// in blocks of `block` frames; the volume is `startDb` from the start and
// changes to `changeDb` before the block that starts at `changeAt`.
std::vector<float> VolumeRender(uint32_t block, bool helper, Form form, float startDb, uint64_t changeAt,
                                float changeDb)
{
    Engine engine(EngineOptions{SAMPLE_RATE, helper});
    engine.SetParameter(ParamId::Volume, startDb);
    const std::vector<Timed> chord = {{0, {0x90, 60, 100}}, {0, {0x90, 67, 90}}};
    std::vector<float> out;
    for (uint64_t start = 0; start < kSongFrames; start += block) {
        if (start == changeAt)
            engine.SetParameter(ParamId::Volume, changeDb);
        const auto size = static_cast<uint32_t>(std::min<uint64_t>(block, kSongFrames - start));
        const std::vector<float> piece =
            EngineRender(engine, start == 0 ? chord : std::vector<Timed>{}, {size}, form);
        out.insert(out.end(), piece.begin(), piece.end());
    }
    return out;
}

// The volume is one gain over the render's output: from the first frame
// the volume it was set to before (nothing to glide from), after a change a
// straight glide of exactly 256 frames to the new gain, which then holds.
// Each frame's step stays within the steps of the sound itself, where a
// jump of the gain would click. Hosts of any block size, one thread or two,
// either form, hear the same samples; and at 0 dB the output is the render's
// bit for bit.
TEST(EngineVolume, AChangeGlidesOver256FramesAlikeInEveryHost)
{
    constexpr uint64_t kChange = 1100; // off the grid, in the middle of a piece
    const struct {
        float startDb, changeDb;
    } cases[] = {{0.0f, -20.0f}, {0.0f, -60.0f}, {0.0f, 6.0f}, {-6.0206f, 0.0f}, {-60.0f, -59.5f}};
    const std::vector<float> ref = VolumeRender(kSongFrames, false, Form::Interleaved, 0.0f, kSongFrames, 0.0f);
    float refStep = 0.0f, refPeak = 0.0f;
    for (size_t i = 2; i < ref.size(); i += 2) {
        refStep = std::max(refStep, std::fabs(ref[i] - ref[i - 2]));
        refPeak = std::max(refPeak, std::fabs(ref[i]));
    }
    ASSERT_GT(refPeak, 0.5f);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.startDb) + " dB to " + std::to_string(c.changeDb) + " dB");
        const std::vector<float> got = VolumeRender(100, true, Form::Interleaved, c.startDb, kChange, c.changeDb);
        EXPECT_EQ(FirstDifference(VolumeRender(50, false, Form::TwoBuffers, c.startDb, kChange, c.changeDb), got), -1);
        EXPECT_EQ(FirstDifference(VolumeRender(275, true, Form::TwoBuffers, c.startDb, kChange, c.changeDb), got), -1);
        const float from = Gain(c.startDb), to = Gain(c.changeDb);
        const auto scaledBy = [&](size_t frame, float gain) {
            return got[2 * frame] == ref[2 * frame] * gain && got[2 * frame + 1] == ref[2 * frame + 1] * gain;
        };
        for (size_t f = 0; f < kChange; ++f)
            ASSERT_TRUE(c.startDb == 0.0f ? std::memcmp(&got[2 * f], &ref[2 * f], 2 * sizeof(float)) == 0
                                          : scaledBy(f, from))
                << "frame " << f;
        // The glide: frames kChange to kChange + 255, moving one way only.
        float last = from, biggestStep = 0.0f;
        for (size_t f = kChange; f < kChange + 256; ++f) {
            biggestStep = std::max(biggestStep, std::fabs(got[2 * f] - got[2 * f - 2]));
            if (std::fabs(ref[2 * f]) < 0.05f)
                continue;
            const float gain = got[2 * f] / ref[2 * f];
            EXPECT_GE((gain - last) * (to > from ? 1.0f : -1.0f), -1e-6f * std::max(from, to)) << "frame " << f;
            EXPECT_NEAR(gain, from + (to - from) * static_cast<float>(f - kChange + 1) / 256.0f,
                        1e-5f * std::max(from, to));
            last = gain;
        }
        EXPECT_FALSE(scaledBy(kChange + 254, to)) << "still gliding one frame before its end";
        EXPECT_LE(biggestStep, std::max(from, to) * refStep + std::fabs(to - from) * refPeak / 200.0f);
        for (size_t f = kChange + 255; f < kSongFrames; ++f)
            ASSERT_TRUE(c.changeDb == 0.0f ? std::memcmp(&got[2 * f], &ref[2 * f], 2 * sizeof(float)) == 0
                                           : scaledBy(f, to))
                << "frame " << f;
    }
}

// At -6.0206 dB every sample is half of what the render gives at 0 dB, from
// the first frame on; and at 0 dB the engine's output is the reference
// render's, bit for bit, in every host.
TEST(EngineVolume, MinusSixDecibelsHalvesEverySample)
{
    const Sound sound = MorphingSound();
    const std::vector<Timed> song = Song();
    const std::vector<uint32_t> blocks = Repeat(300, kSongFrames);
    const std::vector<float> expected = Reference(sound, song, Cuts(blocks, 0, song));
    for (const bool helper : {false, true}) {
        auto plain = NewEngine(helper, sound);
        EXPECT_EQ(FirstDifference(EngineRender(*plain, song, blocks, Form::TwoBuffers), expected), -1);
        auto half = NewEngine(helper, sound);
        half->SetParameter(ParamId::Volume, -6.0206f);
        const std::vector<float> got = EngineRender(*half, song, blocks, Form::Interleaved);
        ASSERT_EQ(got.size(), expected.size());
        float loudest = 0.0f;
        for (size_t i = 0; i < got.size(); ++i) {
            ASSERT_NEAR(got[i], 0.5f * expected[i], 2e-6f * std::fabs(expected[i])) << "sample " << i;
            loudest = std::max(loudest, std::fabs(got[i]));
        }
        EXPECT_GT(loudest, 0.1f);
    }
}

} // namespace
