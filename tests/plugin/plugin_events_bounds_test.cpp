// The plugin's LV2 events input read no further than the sequence's declared
// size: a last event cut short by the size (its header or its MIDI bytes
// beyond it) is dropped, and nothing past the size is touched. The sequence
// is placed so that its declared end abuts a page with no access, so a read
// past it ends the process; each case runs in a child process of its own.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "PluginParameters.h"
#include "plugin/DpfLv2Host.h"

using namespace marovane_test;

namespace {

constexpr uint32_t kBlock = 256;
constexpr int kBlocks = 8;

std::vector<float> DefaultControls()
{
    std::vector<float> v;
    for (const auto& p : marovane_plugin::kPluginParams)
        v.push_back(p.kind == marovane_plugin::PluginParamKind::Sound ? ::Parameter(p.sound).defaultValue : 0.0f);
    return v;
}

// The left output of kBlocks blocks; the first one fed from the sequence
// `place` makes (with the plugin's URIDs), or else a note-on of 60.
template <typename Place>
std::vector<float> Play(Place place)
{
    Lv2Module module(MAROVANE_PLUGIN_LV2_MODULE);
    UridMap urids;
    DpfLv2Instance plugin(module.Descriptor(), urids, 44100, kBlock, marovane_plugin::kPluginParamCount);
    const std::vector<float> controls = DefaultControls();
    for (uint32_t i = 0; i < controls.size(); ++i)
        plugin.Control(i) = controls[i];
    plugin.Activate();
    if (LV2_Atom_Sequence* seq = place(urids))
        plugin.ConnectEventsIn(seq);
    else
        plugin.AddMidi(0, 0x90, 60, 100);
    std::vector<float> out;
    for (int b = 0; b < kBlocks; ++b) {
        plugin.Run(kBlock);
        if (b == 0) {
            plugin.ConnectOwnEventsIn();
            plugin.ClearEvents();
        }
        out.insert(out.end(), plugin.Left(), plugin.Left() + kBlock);
    }
    return out;
}

struct Case {
    const char* name;
    uint32_t secondEventBytes; // of the second event's 24 (header 16, MIDI 3, padding 5) inside the size
    bool secondHeard;          // whether the second note sounds
};
const Case kCases[] = {
    {"whole", 24, true},
    {"midi bytes cut", 17, false},
    {"midi bytes outside", 16, false},
    {"header cut", 8, false},
};

// Two note-ons (60 at frame 0, 72 at frame 100), the sequence's declared end
// `secondEventBytes` into the second event, right at a page with no access.
LV2_Atom_Sequence* PlaceAtGuardPage(UridMap& urids, uint32_t secondEventBytes)
{
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    auto* base = static_cast<uint8_t*>(
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (base == MAP_FAILED || mprotect(base + page, page, PROT_NONE) != 0)
        std::abort();
    const uint32_t bodySize = sizeof(LV2_Atom_Sequence_Body) + 24 + secondEventBytes;
    auto* seq = reinterpret_cast<LV2_Atom_Sequence*>(base + page - bodySize - sizeof(LV2_Atom));
    seq->atom = {bodySize, urids.Id(LV2_ATOM__Sequence)};
    seq->body = {0, 0};
    uint8_t* at = reinterpret_cast<uint8_t*>(&seq->body + 1);
    const LV2_URID midi = urids.Id(LV2_MIDI__MidiEvent);
    const uint8_t notes[2][3] = {{0x90, 60, 100}, {0x90, 72, 100}};
    const int64_t frames[2] = {0, 100};
    for (int e = 0; e < 2; ++e) {
        uint8_t event[24] = {};
        const LV2_Atom_Event header{{frames[e]}, {3, midi}};
        std::memcpy(event, &header, sizeof header);
        std::memcpy(event + sizeof header, notes[e], 3);
        std::memcpy(at, event, e == 0 ? 24 : secondEventBytes);
        at += 24;
    }
    return seq;
}

} // namespace

TEST(PluginEventsBounds, ReadsNothingPastTheDeclaredSize)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::vector<float> firstOnly = Play([](UridMap&) -> LV2_Atom_Sequence* { return nullptr; });
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        // exit code 0: as expected; 1: the second note heard or not against
        // the case; a signal: read past the size.
        EXPECT_EXIT(
            {
                const std::vector<float> out =
                    Play([&](UridMap& urids) { return PlaceAtGuardPage(urids, c.secondEventBytes); });
                const bool same = out == firstOnly;
                std::_Exit(same == !c.secondHeard ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), "");
    }
}
