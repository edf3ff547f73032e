// The plugin's LV2 state: a session saved by the earlier, hand-written LV2
// plugin (tests/plugin/data/old-session.lv2, written by that plugin through
// lilv) opens with its sound; old states that are not whole change nothing;
// a spectrum the editor sends (patch:Set on the events input) reaches the
// sound through the worker, is saved, and goes back to an editor that asks;
// a tuning is saved and restored, and a bad one refused.
#include <gtest/gtest.h>
#include <lilv/lilv.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "PluginParameters.h"
#include "PluginState.h"
#include "plugin/DpfLv2Host.h"
#include "support/PatchSetAtom.h"
#include "synth/Engine.h"
#include "tuning/Tuning.h"

using namespace marovane_test;
using namespace marovane_plugin;

namespace {

constexpr uint32_t kBlock = 256;
constexpr double kRate = 44100;
const std::string kOldSession = std::string(MAROVANE_SOURCE_DIR) + "/tests/plugin/data/old-session.lv2/state.ttl";

struct Stored {
    LV2_URID type;
    std::vector<uint8_t> bytes;
};
using StoredState = std::map<LV2_URID, Stored>;

LV2_State_Status Store(LV2_State_Handle h, uint32_t key, const void* value, size_t size, uint32_t type, uint32_t)
{
    const auto* bytes = static_cast<const uint8_t*>(value);
    (*static_cast<StoredState*>(h))[key] = {type, std::vector<uint8_t>(bytes, bytes + size)};
    return LV2_STATE_SUCCESS;
}
const void* Retrieve(LV2_State_Handle h, uint32_t key, size_t* size, uint32_t* type, uint32_t* flags)
{
    auto& state = *static_cast<StoredState*>(h);
    auto it = state.find(key);
    if (it == state.end())
        return nullptr;
    *size = it->second.bytes.size();
    *type = it->second.type;
    *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
    return it->second.bytes.data();
}

StoredState Save(DpfLv2Instance& plugin)
{
    StoredState state;
    EXPECT_EQ(plugin.State()->save(plugin.Handle(), &Store, &state, 0, nullptr), LV2_STATE_SUCCESS);
    return state;
}

// The spectrum the plugin saves under `key` (a text state).
HarmonicSpectrum SavedSpectrum(DpfLv2Instance& plugin, UridMap& urids, const char* key)
{
    StoredState state = Save(plugin);
    HarmonicSpectrum s{};
    auto it = state.find(urids.Id((std::string("urn:marovane:synth#") + key).c_str()));
    EXPECT_NE(it, state.end()) << key;
    if (it != state.end()) {
        EXPECT_EQ(it->second.type, urids.Id(LV2_ATOM__String));
        EXPECT_TRUE(ReadSpectrumText(reinterpret_cast<const char*>(it->second.bytes.data()), s)) << key;
    }
    return s;
}

bool SameBits(const HarmonicSpectrum& a, const HarmonicSpectrum& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Old {
    LV2_Atom_Vector_Body body;
    float levels[NUM_PARTIALS];
};

// What a host's retrieve hands a plugin for a state file: caught by a
// stand-in instance whose restore keeps it (the old plugin's format).
struct CaughtState {
    UridMap* urids;
    HarmonicSpectrum attack{}, sustain{};
    int32_t version = 0;
    static const void* ExtensionData(const char* uri);
    static LV2_State_Status Restore(LV2_Handle h, LV2_State_Retrieve_Function retrieve, LV2_State_Handle handle,
                                    uint32_t, const LV2_Feature* const*)
    {
        auto* self = static_cast<CaughtState*>(h);
        size_t size = 0;
        uint32_t type = 0, flags = 0;
        if (const void* v = retrieve(handle, self->urids->Id("urn:marovane:synth#state-version"), &size, &type, &flags))
            std::memcpy(&self->version, v, sizeof self->version);
        const char* keys[2] = {"urn:marovane:synth#attack-spectrum", "urn:marovane:synth#sustain-spectrum"};
        HarmonicSpectrum* out[2] = {&self->attack, &self->sustain};
        for (int s = 0; s < 2; ++s)
            if (const void* v = retrieve(handle, self->urids->Id(keys[s]), &size, &type, &flags))
                if (size == sizeof(Old))
                    std::memcpy(out[s]->level, static_cast<const char*>(v) + sizeof(LV2_Atom_Vector_Body),
                                sizeof out[s]->level);
        return LV2_STATE_SUCCESS;
    }
};
const void* CaughtState::ExtensionData(const char* uri)
{
    static const LV2_State_Interface state{nullptr, &CaughtState::Restore};
    return std::strcmp(uri, LV2_STATE__interface) == 0 ? &state : nullptr;
}

// The file's state restored into `handle` of `descriptor`; the controls it
// holds set through `controls` (symbol -> value).
void RestoreFile(UridMap& urids, const LV2_Descriptor* descriptor, LV2_Handle handle,
                 std::map<std::string, float>* controls)
{
    LilvWorld* world = lilv_world_new();
    LilvState* state = lilv_state_new_from_file(world, &urids.map, nullptr, kOldSession.c_str());
    ASSERT_NE(state, nullptr) << kOldSession;
    LilvInstance instance{descriptor, handle, nullptr};
    lilv_state_restore(
        state, &instance,
        [](const char* symbol, void* user, const void* value, uint32_t size, uint32_t) {
            if (user && size == sizeof(float))
                std::memcpy(&(*static_cast<std::map<std::string, float>*>(user))[symbol], value, sizeof(float));
        },
        controls, 0, nullptr);
    lilv_state_free(state);
    lilv_world_free(world);
}

uint32_t ControlIndex(const std::string& symbol)
{
    for (uint32_t i = 0; i < kPluginParamCount; ++i) {
        const PluginParam& p = kPluginParams[i];
        if (symbol == (p.kind == PluginParamKind::ModWheel ? kModWheelSymbol : ::Parameter(p.sound).symbol))
            return i;
    }
    return kPluginParamCount;
}

} // namespace

TEST(PluginState, OldSessionOpensWithItsSound)
{
    Lv2Module module(MAROVANE_PLUGIN_LV2_MODULE);
    UridMap urids;

    // What the file holds, as any host hands it over.
    CaughtState caught{&urids};
    const LV2_Descriptor catcher{"urn:marovane:synth", nullptr, nullptr, nullptr, nullptr,
                                 nullptr,              nullptr, &CaughtState::ExtensionData};
    RestoreFile(urids, &catcher, &caught, nullptr);
    ASSERT_EQ(caught.version, 1);

    DpfLv2Instance plugin(module.Descriptor(), urids, kRate, kBlock, kPluginParamCount);
    std::map<std::string, float> controls;
    RestoreFile(urids, module.Descriptor(), plugin.Handle(), &controls);
    ASSERT_EQ(controls.size(), 6u);
    for (const auto& [symbol, value] : controls) {
        ASSERT_LT(ControlIndex(symbol), kPluginParamCount) << symbol;
        plugin.Control(ControlIndex(symbol)) = value;
    }
    EXPECT_TRUE(SameBits(SavedSpectrum(plugin, urids, kAttackStateKey), caught.attack));
    EXPECT_TRUE(SameBits(SavedSpectrum(plugin, urids, kSustainStateKey), caught.sustain));

    // And it sounds so: a note against the engine given that sound.
    Engine engine(EngineOptions{static_cast<int32_t>(kRate), false});
    engine.Synth().SetSpectra(caught.attack.level, caught.sustain.level);
    for (const auto& [symbol, value] : controls)
        engine.SetParameter(kPluginParams[ControlIndex(symbol)].sound, value);
    plugin.Activate();
    std::vector<float> want(kBlock), wantRight(kBlock);
    bool heard = false;
    for (int b = 0; b < 16; ++b) {
        const EngineEvent on{10, 3, {0x90, 64, 100}};
        if (b == 0)
            plugin.AddMidi(10, 0x90, 64, 100);
        plugin.Run(kBlock);
        plugin.ClearEvents();
        engine.Render(want.data(), wantRight.data(), kBlock, &on, b == 0 ? 1 : 0);
        ASSERT_EQ(std::memcmp(plugin.Left(), want.data(), kBlock * sizeof(float)), 0) << "block " << b;
        for (float v : want)
            heard = heard || v != 0.0f;
    }
    EXPECT_TRUE(heard);
}

// Old states that are not whole, or beside this plugin's own text, are not
// converted: the text is taken, or the state is refused and the start-up
// sound stays.
TEST(PluginState, OnlyAWholeOldStateIsConverted)
{
    Lv2Module module(MAROVANE_PLUGIN_LV2_MODULE);
    UridMap urids;
    HarmonicSpectrum oldAttack{}, oldSustain{}, text{};
    for (int h = 0; h < NUM_PARTIALS; ++h) {
        oldAttack.level[h] = 0.5f / static_cast<float>(h + 1);
        oldSustain.level[h] = 0.25f;
        text.level[h] = h == 0 ? 1.0f : 0.0f;
    }
    struct Case {
        const char* name;
        int32_t version;
        bool nan, dropSustain, withText;
        const HarmonicSpectrum* attack; // what the plugin then holds; nullptr: the start-up sound
        LV2_State_Status status;
    };
    const Case cases[] = {
        {"whole old state", 1, false, false, false, &oldAttack, LV2_STATE_SUCCESS},
        {"another version", 2, false, false, false, nullptr, LV2_STATE_ERR_NO_PROPERTY},
        {"a level not a number", 1, true, false, false, nullptr, LV2_STATE_ERR_BAD_TYPE},
        {"one spectrum missing", 1, false, true, false, nullptr, LV2_STATE_ERR_BAD_TYPE},
        {"this plugin's text beside it", 1, false, false, true, &text, LV2_STATE_SUCCESS},
    };
    HarmonicSpectrum startUp;
    {
        DpfLv2Instance fresh(module.Descriptor(), urids, kRate, kBlock, kPluginParamCount);
        startUp = SavedSpectrum(fresh, urids, kAttackStateKey);
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StoredState state;
        const int32_t version = c.version;
        Store(&state, urids.Id("urn:marovane:synth#state-version"), &version, sizeof version, urids.Id(LV2_ATOM__Int),
              0);
        Old a{{sizeof(float), urids.Id(LV2_ATOM__Float)}, {}}, s = a;
        std::memcpy(a.levels, oldAttack.level, sizeof a.levels);
        std::memcpy(s.levels, oldSustain.level, sizeof s.levels);
        if (c.nan)
            s.levels[7] = NAN;
        Store(&state, urids.Id("urn:marovane:synth#attack-spectrum"), &a, sizeof a, urids.Id(LV2_ATOM__Vector), 0);
        if (!c.dropSustain)
            Store(&state, urids.Id("urn:marovane:synth#sustain-spectrum"), &s, sizeof s, urids.Id(LV2_ATOM__Vector),
                  0);
        if (c.withText) {
            const std::string t = SpectrumText(text);
            for (const char* key : {"urn:marovane:synth#attack", "urn:marovane:synth#sustain"})
                Store(&state, urids.Id(key), t.c_str(), t.size() + 1, urids.Id(LV2_ATOM__String), 0);
        }
        DpfLv2Instance plugin(module.Descriptor(), urids, kRate, kBlock, kPluginParamCount);
        EXPECT_EQ(plugin.State()->restore(plugin.Handle(), &Retrieve, &state, 0, nullptr), c.status);
        EXPECT_TRUE(SameBits(SavedSpectrum(plugin, urids, kAttackStateKey), c.attack ? *c.attack : startUp));
        if (c.attack == &oldAttack) {
            EXPECT_TRUE(SameBits(SavedSpectrum(plugin, urids, kSustainStateKey), oldSustain));
        }
    }
}

// The editor's path: patch:Set with the text on the events input, the work
// done off the audio thread, the new value saved and sent back to an editor
// that asks for every state; a property that is no state is refused.
TEST(PluginState, SpectrumFromTheEditorGoesThroughTheWorker)
{
    Lv2Module module(MAROVANE_PLUGIN_LV2_MODULE);
    UridMap urids;
    DpfLv2Instance plugin(module.Descriptor(), urids, kRate, kBlock, kPluginParamCount);
    plugin.Activate();
    HarmonicSpectrum wanted{};
    for (int h = 0; h < NUM_PARTIALS; h += 3)
        wanted.level[h] = 0.1f * static_cast<float>(h % 7);
    const std::string text = SpectrumText(wanted);

    auto patchSet = [&](const char* property) {
        const std::vector<uint8_t> buffer = PatchSetAtom(&urids.map, property, text);
        const auto* atom = reinterpret_cast<const LV2_Atom*>(buffer.data());
        plugin.AddEvent(0, atom->type, atom + 1, atom->size);
    };
    patchSet("urn:marovane:synth#sustain");
    plugin.Run(kBlock);
    plugin.ClearEvents();
    ASSERT_EQ(plugin.PendingJobs(), 1u);
    EXPECT_EQ(plugin.RunWorker(), std::vector<LV2_Worker_Status>{LV2_WORKER_SUCCESS});
    EXPECT_TRUE(SameBits(SavedSpectrum(plugin, urids, kSustainStateKey), wanted));

    // The editor asks for every state; the events output answers with it.
    const char request[] = "__dpf_ui_data__";
    plugin.AddEvent(0, urids.Id("urn:marovane:synth#KeyValueState"), request, sizeof request);
    plugin.Run(kBlock);
    plugin.ClearEvents();
    const std::string out = plugin.EventsOutBytes();
    EXPECT_NE(out.find(text), std::string::npos);

    patchSet("urn:marovane:synth#no-such-state");
    plugin.Run(kBlock);
    plugin.ClearEvents();
    EXPECT_EQ(plugin.RunWorker(), std::vector<LV2_Worker_Status>{LV2_WORKER_ERR_UNKNOWN});
    EXPECT_TRUE(SameBits(SavedSpectrum(plugin, urids, kSustainStateKey), wanted));
}

// Two editors open on one instance agree: a spectrum one of them sends (the
// framework's key-value message) goes back out on the events output to every
// editor, without their asking for the whole state again.
TEST(PluginState, AnEditorsSpectrumReachesEveryOpenEditor)
{
    Lv2Module module(MAROVANE_PLUGIN_LV2_MODULE);
    UridMap urids;
    DpfLv2Instance plugin(module.Descriptor(), urids, kRate, kBlock, kPluginParamCount);
    plugin.Activate();
    HarmonicSpectrum wanted{};
    for (int h = 1; h < NUM_PARTIALS; h += 5)
        wanted.level[h] = 0.03125f * static_cast<float>(h % 9);
    const std::string text = SpectrumText(wanted);

    std::string message = std::string(kAttackStateKey) + '\0' + text + '\0';
    plugin.AddEvent(0, urids.Id("urn:marovane:synth#KeyValueState"), message.data(),
                    static_cast<uint32_t>(message.size()));
    plugin.Run(kBlock);
    plugin.ClearEvents();
    ASSERT_EQ(plugin.RunWorker(), std::vector<LV2_Worker_Status>{LV2_WORKER_SUCCESS});
    EXPECT_TRUE(SameBits(SavedSpectrum(plugin, urids, kAttackStateKey), wanted));
    EXPECT_EQ(plugin.EventsOutBytes().find(text), std::string::npos) << "sent before the work was done";

    plugin.Run(kBlock);
    EXPECT_NE(plugin.EventsOutBytes().find(text), std::string::npos) << "the editors were not told";
    plugin.Run(kBlock);
    EXPECT_EQ(plugin.EventsOutBytes().find(text), std::string::npos) << "told more than once";
}

// ---- The tuning ----

namespace {

std::string TuningText(const std::string& name)
{
    std::ifstream in(std::string(MAROVANE_SOURCE_DIR) + "/tests/tuning/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string SavedText(const StoredState& state, UridMap& urids, const char* key)
{
    auto it = state.find(urids.Id((std::string("urn:marovane:synth#") + key).c_str()));
    if (it == state.end())
        return "(none)";
    return std::string(reinterpret_cast<const char*>(it->second.bytes.data()), it->second.bytes.size()).c_str();
}

} // namespace

// A scale and a keyboard mapping the editor sends (patch:Set, through the
// worker) are saved as the files' texts; another instance restored from
// that state plays in the tuning, bit for bit as the engine given the same
// table; a scale that cannot be read, sent after, keeps the tuning.
TEST(PluginState, TheTuningIsSavedRestoredAndKeptAgainstABadText)
{
    Lv2Module module(MAROVANE_PLUGIN_LV2_MODULE);
    UridMap urids;
    const std::string scl = TuningText("just12.scl"), kbm = TuningText("just12-d.kbm");
    auto patchSet = [&urids](DpfLv2Instance& plugin, const char* key, const std::string& text) {
        const std::vector<uint8_t> buffer =
            PatchSetAtom(&urids.map, (std::string("urn:marovane:synth#") + key).c_str(), text);
        const auto* atom = reinterpret_cast<const LV2_Atom*>(buffer.data());
        plugin.AddEvent(0, atom->type, atom + 1, atom->size);
        plugin.Run(kBlock);
        plugin.ClearEvents();
        EXPECT_EQ(plugin.RunWorker(), std::vector<LV2_Worker_Status>{LV2_WORKER_SUCCESS}) << key;
    };

    DpfLv2Instance editorSide(module.Descriptor(), urids, kRate, kBlock, kPluginParamCount);
    editorSide.Activate();
    StoredState saved = Save(editorSide);
    EXPECT_EQ(SavedText(saved, urids, kScaleStateKey), "");
    EXPECT_EQ(SavedText(saved, urids, kKeymapStateKey), "");
    patchSet(editorSide, kKeymapStateKey, kbm);
    patchSet(editorSide, kScaleStateKey, scl);
    saved = Save(editorSide);
    EXPECT_EQ(SavedText(saved, urids, kScaleStateKey), scl);
    EXPECT_EQ(SavedText(saved, urids, kKeymapStateKey), kbm);

    DpfLv2Instance plugin(module.Descriptor(), urids, kRate, kBlock, kPluginParamCount);
    ASSERT_EQ(plugin.State()->restore(plugin.Handle(), &Retrieve, &saved, 0, nullptr), LV2_STATE_SUCCESS);
    // The controls at the engine's start-up values (the mod wheel at 0).
    for (uint32_t i = 0; i + 1 < kPluginParamCount; ++i)
        plugin.Control(i) = ::Parameter(kPluginParams[i].sound).defaultValue;
    plugin.Activate();

    TuningTable table;
    std::string description;
    ASSERT_EQ(TuningFromTexts(scl, kbm, table, description), "");
    Engine engine(EngineOptions{static_cast<int32_t>(kRate), false});
    engine.SetTuning(table.frequency.data(), table.sounds.data());
    Engine untuned(EngineOptions{static_cast<int32_t>(kRate), false});
    std::vector<float> want(kBlock), wantRight(kBlock), plain(kBlock), plainRight(kBlock);
    bool differs = false;
    for (int b = 0; b < 24; ++b) {
        // A note at block 0; at block 8 a bad scale arrives; a second note at block 12.
        const EngineEvent on{10, 3, {static_cast<uint8_t>(0x90), static_cast<uint8_t>(b == 0 ? 66 : 71), 100}};
        const bool noteNow = b == 0 || b == 12;
        const std::vector<uint8_t> bad =
            PatchSetAtom(&urids.map, "urn:marovane:synth#scale", std::string("A scale\n3\n100.0\n"));
        if (b == 8) {
            const auto* atom = reinterpret_cast<const LV2_Atom*>(bad.data());
            plugin.AddEvent(0, atom->type, atom + 1, atom->size);
        }
        if (noteNow)
            plugin.AddMidi(10, 0x90, on.bytes[1], 100);
        plugin.Run(kBlock);
        plugin.ClearEvents();
        if (b == 8) {
            EXPECT_EQ(plugin.RunWorker(), std::vector<LV2_Worker_Status>{LV2_WORKER_SUCCESS});
        }
        engine.Render(want.data(), wantRight.data(), kBlock, &on, noteNow ? 1 : 0);
        untuned.Render(plain.data(), plainRight.data(), kBlock, &on, noteNow ? 1 : 0);
        ASSERT_EQ(std::memcmp(plugin.Left(), want.data(), kBlock * sizeof(float)), 0) << "block " << b;
        differs = differs || std::memcmp(plain.data(), want.data(), kBlock * sizeof(float)) != 0;
    }
    EXPECT_TRUE(differs) << "the tuning changes nothing";
}
