// The plugin as a CLAP host sees it, in a host of the tests' own: its pitch,
// its output against marovane-render's bit for bit, its saved state, a
// parameter change at its frame, and its parameters as the host lists them.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "PluginParameters.h"
#include "PluginState.h"
#include "clap/ClapHost.h"
#include "midi/MidiFileBytes.h"
#include "patch/Patch.h"
#include "support/RenderToolWav.h"

namespace {

using namespace claphost;
using namespace marovane_plugin;

constexpr double kRate = 44100;

std::string Temp(const std::string& name)
{
    return (std::filesystem::temp_directory_path() / ("clap-test-" + std::to_string(getpid()) + "-" + name)).string();
}

std::string PatchFile(const std::string& name)
{
    return std::string(std::getenv("MAROVANE_SOURCE_DIR")) + "/resources/patches/" + name + ".mrvn";
}

// A song of every kind of message the engine plays: chords, frames off the
// 256 grid and across block edges, the mod wheel, the pitch wheel, a note
// released under the sustain pedal, all notes off. Every note is released.
std::vector<Event> Song()
{
    return {Midi(0, 0x90, 60, 100),     Midi(0, 0x90, 64, 90),      Midi(1000, 0xB0, 1, 64),
            Midi(5000, 0xE0, 0, 80),    Midi(9001, 0x80, 64, 0),    Midi(12345, 0x91, 67, 127),
            Midi(20000, 0xB0, 64, 127), Midi(20100, 0x80, 60, 0),   Midi(30000, 0xE0, 0, 64),
            Midi(33333, 0xB0, 64, 0),   Midi(40000, 0x92, 72, 50),  Midi(50000, 0xB0, 123, 0),
            Midi(52000, 0x90, 48, 110), Midi(70000, 0x80, 48, 0),   Midi(70000, 0x80, 67, 0)};
}

// marovane-render --midi on the song, from a file whose ticks are frames
// (441 ticks a beat at 100 beats a second), with the given patch.
Stereo RenderTool(const std::vector<Event>& song, const std::string& patch, const std::string& options = "")
{
    std::vector<midibytes::Ev> events = {{0, midibytes::Tempo(10000)}};
    uint64_t at = 0;
    for (const Event& e : song) {
        events.push_back({static_cast<uint32_t>(e.frame - at), {e.midi.data[0], e.midi.data[1], e.midi.data[2]}});
        at = e.frame;
    }
    const std::string mid = Temp("song.mid"), wav = Temp("song.wav");
    midibytes::Write(mid, midibytes::File({midibytes::Track(events)}, 1, 441 >> 8, 441 & 0xFF));
    Stereo s;
    marovane_test::RenderToolStereo(mid, "--patch '" + patch + "' " + options, wav, s.left, s.right);
    std::remove(mid.c_str());
    return s;
}

bool Silent(const std::vector<float>& x)
{
    return std::all_of(x.begin(), x.end(), [](float v) { return v == 0.0f; });
}

// The first frame at which two renders differ, or -1.
long FirstDifference(const Stereo& a, const Stereo& b)
{
    if (a.left.size() != b.left.size())
        return 0;
    for (size_t i = 0; i < a.left.size(); ++i)
        if (std::memcmp(&a.left[i], &b.left[i], sizeof(float)) != 0 ||
            std::memcmp(&a.right[i], &b.right[i], sizeof(float)) != 0)
            return static_cast<long>(i);
    return -1;
}

// The plugin's state stream as the framework's CLAP wrapper reads it: pairs
// of strings, each ended by a zero byte, in a state section and a parameter
// section, then a 0xFE byte.
std::vector<uint8_t> FrameworkState(const std::vector<std::pair<std::string, std::string>>& states,
                                    const std::vector<std::pair<std::string, std::string>>& params)
{
    std::string s;
    auto put = [&s](const std::string& text) { s.append(text).push_back('\0'); };
    put("__dpf_state_begin__");
    for (const auto& [key, value] : states) {
        put(key);
        put(value);
    }
    put("__dpf_state_end__");
    put("__dpf_parameters_begin__");
    for (const auto& [key, value] : params) {
        put(key);
        put(value);
    }
    put("__dpf_parameters_end__");
    s.push_back('\xfe');
    s.push_back('\0');
    return {s.begin(), s.end()};
}

void Flush(Instance& plugin, std::vector<Event> events);

// A patch file's sound into an instance, as a host would set it: the
// envelope and the LFO as parameter values (flushed while nothing plays),
// both spectra in a state stream of the spectra alone.
bool SetPatch(Instance& plugin, const std::string& name)
{
    Patch patch;
    if (!ReadPatchFile(PatchFile(name), patch).empty())
        return false;
    const double values[] = {double(patch.attackMs),    double(patch.decayMs),      double(patch.sustainPercent),
                             double(patch.releaseMs),   double(patch.lfoFrequency), double(patch.lfoWaveform)};
    std::vector<Event> events;
    for (clap_id id = 0; id < 6; ++id)
        events.push_back(Param(0, id, values[id]));
    Flush(plugin, events);
    return plugin.LoadState(FrameworkState(
        {{kAttackStateKey, SpectrumText(patch.attack)}, {kSustainStateKey, SpectrumText(patch.sustain)}}, {}));
}

// Parameter values set while nothing plays.
void Flush(Instance& plugin, std::vector<Event> events)
{
    clap_input_events_t in{&events,
                           [](const clap_input_events_t* l) -> uint32_t {
                               return static_cast<uint32_t>(static_cast<std::vector<Event>*>(l->ctx)->size());
                           },
                           [](const clap_input_events_t* l, uint32_t i) -> const clap_event_header_t* {
                               return &(*static_cast<std::vector<Event>*>(l->ctx))[i].header;
                           }};
    plugin.Params()->flush(plugin.Plugin(), &in, nullptr);
}

TEST(ClapPlugin, PlaysA4At440Hertz)
{
    // The start-up sound is partial 1 alone: a sine at the note's frequency.
    Instance plugin;
    ASSERT_TRUE(plugin.Ok()) << "cannot load " << Module::Get().Path();
    const Stereo s = plugin.Play({Note(0, true, 69)}, 56000, 512);
    // Rising zero crossings over one second after the attack, each placed
    // between its two samples.
    double first = -1, last = -1;
    int crossings = 0;
    float peak = 0.0f;
    for (size_t i = 4410; i < 4410 + 44100; ++i) {
        peak = std::max(peak, std::fabs(s.left[i]));
        if (s.left[i - 1] < 0.0f && s.left[i] >= 0.0f) {
            const double at = double(i - 1) + s.left[i - 1] / double(s.left[i - 1] - s.left[i]);
            if (first < 0)
                first = at;
            last = at;
            ++crossings;
        }
    }
    ASSERT_GT(peak, 0.1f);
    ASSERT_GT(crossings, 100);
    const double hertz = (crossings - 1) * kRate / (last - first);
    // A semitone at A4 is 26 Hz.
    EXPECT_NEAR(hertz, 440.0, 0.05);
    EXPECT_TRUE(s.left == s.right) << "left and right differ";
}

TEST(ClapPlugin, PlaysTheSongAsTheRenderToolDoesBitForBit)
{
    // Bell: a morphing sound, whose morph is exact only on the 256 grid.
    const Stereo expected = RenderTool(Song(), PatchFile("Bell"));
    ASSERT_GT(expected.left.size(), 70000u);
    ASSERT_FALSE(Silent(expected.left));
    for (const uint32_t block : {256u, 1024u}) {
        SCOPED_TRACE("blocks of " + std::to_string(block));
        Instance plugin;
        ASSERT_TRUE(plugin.Ok());
        ASSERT_TRUE(SetPatch(plugin, "Bell"));
        const Stereo got = plugin.Play(Song(), expected.left.size(), block);
        EXPECT_EQ(FirstDifference(got, expected), -1);
    }
}

class ClapState : public ::testing::Test {
protected:
    void SetUp() override
    {
        source = std::make_unique<Instance>();
        ASSERT_TRUE(source->Ok());
        ASSERT_TRUE(SetPatch(*source, "Pad"));
        Flush(*source, {Param(0, kModWheelParamIndex, 0.5)}); // the mod wheel half way
        saved = source->SaveState();
        ASSERT_FALSE(saved.empty());
        Instance reference;
        ASSERT_TRUE(SetPatch(reference, "Pad"));
        Flush(reference, {Param(0, kModWheelParamIndex, 0.5)});
        padSound = reference.Play(Song(), 90000, 256);
        ASSERT_FALSE(Silent(padSound.left));
    }
    std::unique_ptr<Instance> source;
    std::vector<uint8_t> saved;
    Stereo padSound;
};

TEST_F(ClapState, ASavedStateGivesAnotherInstanceTheSameSound)
{
    // Saved and loaded whole, and in pieces as a host may hand them over.
    for (const size_t chunk : {size_t(SIZE_MAX), size_t(7), size_t(100), size_t(1000)}) {
        SCOPED_TRACE("pieces of " + std::to_string(chunk) + " bytes");
        EXPECT_EQ(source->SaveState(chunk), saved);
        Instance copy;
        ASSERT_TRUE(copy.Ok());
        ASSERT_TRUE(copy.LoadState(saved, chunk));
        EXPECT_EQ(copy.SaveState(), saved);
        EXPECT_EQ(FirstDifference(copy.Play(Song(), 90000, 256), padSound), -1);
    }
}

TEST_F(ClapState, AMalformedStateIsRefusedAndTheSoundStays)
{
    // Pieces of another sound's state, which would change the sound if
    // any of it were taken.
    Instance bell;
    ASSERT_TRUE(SetPatch(bell, "Bell"));
    const std::vector<uint8_t> other = bell.SaveState();
    const std::string whole(other.begin(), other.end());
    const size_t sustainAt = whole.find(std::string("sustain\0", 8));
    ASSERT_NE(sustainAt, std::string::npos);
    const size_t parametersAt = whole.find("__dpf_parameters_begin__");
    ASSERT_NE(parametersAt, std::string::npos);
    auto cut = [&other](size_t n) { return std::vector<uint8_t>(other.begin(), other.begin() + static_cast<long>(n)); };
    std::vector<uint8_t> unopened = other; // the parameters' section never begun
    unopened.erase(unopened.begin() + static_cast<long>(parametersAt),
                   unopened.begin() + static_cast<long>(parametersAt) + 25);
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"empty", {}},
        {"one byte", cut(1)},
        {"cut in the attack spectrum", cut(200)},
        {"cut after the attack spectrum", cut(sustainAt)},
        {"cut in the parameters", cut(parametersAt + 40)},
        {"without its end mark", cut(other.size() - 2)},
        {"a parameter outside its section", unopened},
        {"garbage", std::vector<uint8_t>(3000, 0x5A)},
        {"zeros", std::vector<uint8_t>(3000, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Instance plugin;
        ASSERT_TRUE(SetPatch(plugin, "Pad"));
        Flush(plugin, {Param(0, kModWheelParamIndex, 0.5)});
        EXPECT_FALSE(plugin.LoadState(c.bytes));
        EXPECT_EQ(FirstDifference(plugin.Play(Song(), 90000, 256), padSound), -1);
    }
}

TEST(ClapPlugin, AParameterValueTakesEffectAtItsFrame)
{
    // The sustain level from 100 % to 40 % at frame 300 of a 1024-frame
    // block, while a note is held at its sustain level (no attack, no decay).
    const uint32_t sustainId = static_cast<uint32_t>(ParamId::Sustain);
    const std::vector<Event> atFrame = {Note(0, true, 69), Param(1324, sustainId, 40)};
    Instance plugin;
    ASSERT_TRUE(plugin.Ok());
    const Stereo got = plugin.Play(atFrame, 4096, 1024);
    // The same change at the start of a block that begins at frame 1324.
    Instance split;
    const std::vector<Event> early = {Note(0, true, 69)};
    Stereo expected = split.Play(early, 1324, 1024);
    const Stereo rest = split.Play({Param(0, sustainId, 40)}, 4096 - 1324, 1024);
    expected.left.insert(expected.left.end(), rest.left.begin(), rest.left.end());
    expected.right.insert(expected.right.end(), rest.right.begin(), rest.right.end());
    Instance unchanged;
    const long changedAt = FirstDifference(expected, unchanged.Play(early, 4096, 1024));
    ASSERT_GE(changedAt, 1324) << "the change was heard before its frame";
    ASSERT_LT(changedAt, 1324 + 256) << "the change was not heard";
    EXPECT_EQ(FirstDifference(got, expected), -1);
}

// The band limit's toggle, from the host: high notes of a bright sound
// played with it on sound as marovane-render --band-limit on renders them,
// bit for bit, and not as with it off; set at a frame while they sound, it
// is heard from that frame's 256-frame buffer on.
TEST(ClapPlugin, BandLimitToggleFromTheHostIsHeard)
{
    const uint32_t bandLimitId = PluginParamIndex(ParamId::BandLimit);
    const std::vector<Event> high = {Midi(0, 0x90, 96, 100), Midi(0, 0x90, 108, 100), Midi(300, 0x90, 120, 90),
                                     Midi(30000, 0x80, 96, 0), Midi(30000, 0x80, 108, 0), Midi(30000, 0x80, 120, 0)};
    const std::string patch = PatchFile("Square Lead");
    const Stereo on = RenderTool(high, patch, "--band-limit on");
    const Stereo off = RenderTool(high, patch);
    ASSERT_GT(on.left.size(), 30000u);
    ASSERT_GE(FirstDifference(on, off), 0) << "the band limit changes nothing of these notes";

    Instance limited;
    ASSERT_TRUE(SetPatch(limited, "Square Lead"));
    Flush(limited, {Param(0, bandLimitId, 1)});
    double value = -1;
    ASSERT_TRUE(limited.Params()->get_value(limited.Plugin(), bandLimitId, &value));
    EXPECT_EQ(value, 1.0);
    EXPECT_EQ(FirstDifference(limited.Play(high, on.left.size(), 512), on), -1);

    Instance toggled, plain;
    ASSERT_TRUE(SetPatch(toggled, "Square Lead"));
    ASSERT_TRUE(SetPatch(plain, "Square Lead"));
    std::vector<Event> withToggle = high;
    withToggle.push_back(Param(5000, bandLimitId, 1));
    std::stable_sort(withToggle.begin(), withToggle.end(),
              [](const Event& a, const Event& b) { return a.frame < b.frame; });
    const long changedAt = FirstDifference(toggled.Play(withToggle, 20000, 1024), plain.Play(high, 20000, 1024));
    EXPECT_GE(changedAt, 5000) << "heard before its frame";
    EXPECT_LT(changedAt, 5000 + 256) << "not heard";
}

TEST(ClapPlugin, AValueForAParameterItNeverListedChangesNothing)
{
    // Ids past the list, at a block's start and within it, from a careless
    // host: the sound plays on as without them.
    const std::vector<Event> notes = {Note(0, true, 69), Note(3000, false, 69)};
    std::vector<Event> careless = {Note(0, true, 69), Param(0, kPluginParamCount, 0.5), Param(700, 100000, 1),
                                   Param(1500, UINT32_MAX - 1, 0), Note(3000, false, 69)};
    Instance plugin, reference;
    ASSERT_TRUE(plugin.Ok());
    EXPECT_EQ(FirstDifference(plugin.Play(careless, 4096, 1024), reference.Play(notes, 4096, 1024)), -1);
    EXPECT_EQ(plugin.processStatus_, CLAP_PROCESS_CONTINUE);
}

TEST(ClapPlugin, TheHostSeesTheParametersOfTheEngine)
{
    Instance plugin;
    ASSERT_TRUE(plugin.Ok());
    const clap_plugin_params_t* params = plugin.Params();
    // Nothing but the plugin's own: no controller parameters.
    ASSERT_EQ(params->count(plugin.Plugin()), kPluginParamCount);
    for (uint32_t i = 0; i < kPluginParamCount; ++i) {
        clap_param_info_t info{};
        ASSERT_TRUE(params->get_info(plugin.Plugin(), i, &info));
        const PluginParam& p = kPluginParams[i];
        std::string name = kModWheelLabel, symbol = kModWheelSymbol;
        double minimum = 0, maximum = 1, def = 0;
        bool stepped = false;
        if (p.kind == PluginParamKind::Sound) {
            const ParameterInfo& e = Parameter(p.sound);
            name = e.label;
            symbol = e.symbol;
            minimum = e.minimum;
            maximum = e.maximum;
            def = e.defaultValue;
            stepped = e.integer;
        }
        SCOPED_TRACE(symbol);
        EXPECT_EQ(info.id, i);
        EXPECT_EQ(std::string(info.name), name);
        EXPECT_EQ(std::string(info.module), symbol);
        EXPECT_EQ(info.min_value, minimum);
        EXPECT_EQ(info.max_value, maximum);
        EXPECT_EQ(info.default_value, def);
        EXPECT_EQ((info.flags & CLAP_PARAM_IS_STEPPED) != 0, stepped);
        EXPECT_NE(info.flags & CLAP_PARAM_IS_AUTOMATABLE, 0u);
        double value = -1;
        ASSERT_TRUE(params->get_value(plugin.Plugin(), i, &value));
        EXPECT_EQ(value, def);
    }
    // The six sound parameters by their published symbols, order and ranges.
    struct Published {
        const char* symbol;
        double minimum, maximum, def;
    };
    const Published published[] = {{"attack", 0, 1000, 0},  {"decay", 0, 1000, 0},   {"sustain", 0, 100, 100},
                                   {"release", 0, 1000, 10}, {"lfo_rate", 0, 20, 5}, {"lfo_shape", 0, 6, 0}};
    for (uint32_t i = 0; i < 6; ++i) {
        clap_param_info_t info{};
        ASSERT_TRUE(params->get_info(plugin.Plugin(), i, &info));
        EXPECT_EQ(std::string(info.module), published[i].symbol);
        EXPECT_EQ(info.min_value, published[i].minimum) << published[i].symbol;
        EXPECT_EQ(info.max_value, published[i].maximum) << published[i].symbol;
        EXPECT_EQ(info.default_value, published[i].def) << published[i].symbol;
    }
    // Then the mod wheel, and the band limit appended after it, a toggle.
    clap_param_info_t wheel{}, band{};
    ASSERT_TRUE(params->get_info(plugin.Plugin(), 7, &wheel));
    EXPECT_EQ(std::string(wheel.module), "mod_wheel");
    ASSERT_TRUE(params->get_info(plugin.Plugin(), 8, &band));
    EXPECT_EQ(std::string(band.module), "band_limit");
    EXPECT_EQ(std::string(band.name), "Band Limit");
    EXPECT_EQ(band.min_value, 0.0);
    EXPECT_EQ(band.max_value, 1.0);
    EXPECT_EQ(band.default_value, 0.0);
    EXPECT_NE(band.flags & CLAP_PARAM_IS_STEPPED, 0u);
}

} // namespace

// What a host and its saved sessions know the plugin by: its id, fixed once
// published, its name, its maker and what it is.
TEST(ClapPlugin, KnownByItsPublishedIdNameMakerAndFeatures)
{
    const clap_plugin_factory_t* factory = Module::Get().Factory();
    ASSERT_NE(factory, nullptr);
    ASSERT_EQ(factory->get_plugin_count(factory), 1u);
    const clap_plugin_descriptor_t* d = factory->get_plugin_descriptor(factory, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->id, "org.marovane.synth");
    EXPECT_STREQ(d->name, "Marovane");
    EXPECT_STREQ(d->vendor, "Marovane");
    std::vector<std::string> features;
    for (const char* const* f = d->features; f && *f; ++f)
        features.push_back(*f);
    for (const char* wanted : {CLAP_PLUGIN_FEATURE_INSTRUMENT, CLAP_PLUGIN_FEATURE_SYNTHESIZER})
        EXPECT_NE(std::find(features.begin(), features.end(), wanted), features.end()) << wanted;
}

// ---- The tuning in the plugin's state ----

namespace {

std::string TuningPath(const std::string& name)
{
    return std::string(std::getenv("MAROVANE_SOURCE_DIR")) + "/tests/tuning/" + name;
}

std::string FileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << path;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The Bell patch and a tuning (a scale's and a mapping's file names, the
// mapping's possibly empty) as a host's state sets them.
bool SetTunedBell(Instance& plugin, const std::string& scl, const std::string& kbm)
{
    return SetPatch(plugin, "Bell") &&
           plugin.LoadState(FrameworkState({{kScaleStateKey, FileText(TuningPath(scl))},
                                            {kKeymapStateKey, kbm.empty() ? "" : FileText(TuningPath(kbm))}},
                                           {}));
}

std::string TuningOptions(const std::string& scl, const std::string& kbm)
{
    return "--tuning '" + TuningPath(scl) + "'" + (kbm.empty() ? "" : " --keymap '" + TuningPath(kbm) + "'");
}

} // namespace

// A tuning set through the state plays the song as marovane-render plays it
// with the same files, bit for bit; the tuning is saved with the state and
// another instance given that state plays the same.
TEST(ClapTuning, PlaysAsTheRenderToolAndTravelsWithTheState)
{
    const Stereo untuned = RenderTool(Song(), PatchFile("Bell"));
    struct Case {
        const char* scl;
        const char* kbm;
    };
    for (const Case& c : {Case{"edo19.scl", ""}, Case{"just12.scl", "just12-d.kbm"}}) {
        SCOPED_TRACE(c.scl);
        const Stereo expected = RenderTool(Song(), PatchFile("Bell"), TuningOptions(c.scl, c.kbm));
        ASSERT_GT(expected.left.size(), 70000u);
        ASSERT_NE(FirstDifference(expected, untuned), -1) << "the tuning changes nothing";
        Instance plugin;
        ASSERT_TRUE(plugin.Ok());
        ASSERT_TRUE(SetTunedBell(plugin, c.scl, c.kbm));
        // Saved before the song moves the mod wheel, which the state keeps.
        const std::vector<uint8_t> saved = plugin.SaveState();
        EXPECT_EQ(FirstDifference(plugin.Play(Song(), expected.left.size(), 1024), expected), -1);

        const std::string text(saved.begin(), saved.end());
        EXPECT_NE(text.find(std::string(kScaleStateKey) + '\0' + FileText(TuningPath(c.scl)) + '\0'),
                  std::string::npos);
        Instance copy;
        ASSERT_TRUE(copy.LoadState(saved));
        EXPECT_EQ(FirstDifference(copy.Play(Song(), expected.left.size(), 256), expected), -1);
    }
}

// A state whose scale or mapping cannot be read keeps the tuning in use; an
// empty scale is twelve equal steps again.
TEST(ClapTuning, AnUnreadableTuningKeepsTheTuningAndAnEmptyScaleIsEqual)
{
    const Stereo tuned = RenderTool(Song(), PatchFile("Bell"), TuningOptions("edo19.scl", ""));
    const Stereo untuned = RenderTool(Song(), PatchFile("Bell"));
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> states;
        const Stereo* sound;
    };
    const Case cases[] = {
        {"a scale cut short", {{kScaleStateKey, "Cut\n5\n100.0\n"}}, &tuned},
        {"a mapping that is not one", {{kKeymapStateKey, "12\n0\n"}}, &tuned},
        {"no scale", {{kScaleStateKey, ""}}, &untuned},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Instance plugin;
        ASSERT_TRUE(plugin.Ok());
        ASSERT_TRUE(SetTunedBell(plugin, "edo19.scl", ""));
        plugin.LoadState(FrameworkState(c.states, {}));
        EXPECT_EQ(FirstDifference(plugin.Play(Song(), c.sound->left.size(), 256), *c.sound), -1);
    }
}
