// The plugin editor's logic without a display: strokes, the copy arrows, the
// operations, undo and redo, what is reported for sending, and the bridge
// between patch files and the plugin's parameters.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <string>

#include "EditorSwitch.h"
#include "EmbeddedFiles.h"
#include "HarmonicsEditorModel.h"
#include "PatchBridge.h"
#include "PluginParameters.h"
#include "SentSpectra.h"
#include "controls/SpectrumFigures.h"

using namespace marovane_plugin;

namespace {

constexpr int kHeight = 300;

// The bars that hold a level above zero.
std::string SetBars(const HarmonicSpectrum& s)
{
    std::string out;
    for (int i = 0; i < NUM_PARTIALS; ++i)
        if (s.level[i] > 0.0f)
            out += std::to_string(i) + " ";
    return out;
}

TEST(EditorModel, AStrokeFillsEveryBarItCrosses)
{
    struct Case {
        HarmonicsPoint from, to;
        std::string bars;
    };
    const Case cases[] = {
        {{2, 150}, {2, 150}, "0 "},                // a click
        {{12, 150}, {61, 100}, "2 3 4 5 6 7 8 9 10 11 12 "}, // one fast move left to right
        {{61, 100}, {12, 150}, "2 3 4 5 6 7 8 9 10 11 12 "}, // and right to left
        {{0, 10}, {639, 10}, ""},                  // all 128 (checked below)
    };
    for (const Case& c : cases) {
        HarmonicsEditorModel m;
        m.Press(c.from, kHeight, true);
        m.Release(c.to, kHeight);
        if (c.bars.empty()) {
            for (int i = 0; i < NUM_PARTIALS; ++i)
                EXPECT_GT(m.Attack().level[i], 0.0f) << i;
        } else {
            EXPECT_EQ(SetBars(m.Attack()), c.bars);
        }
        EXPECT_EQ(SetBars(m.Sustain()), "") << "only the shown spectrum is drawn";
    }
    // The levels: the press point's row (the program's click level) and the
    // line's rows in between.
    HarmonicsEditorModel m;
    m.Press({12, 150}, kHeight, true);
    EXPECT_EQ(m.Attack().level[2], 0.25f);
    m.Move({47, 150}, kHeight);
    for (int i = 2; i <= 9; ++i)
        EXPECT_EQ(m.Attack().level[i], 0.25f) << i;
    EXPECT_TRUE(m.Stroking());
    m.Release({47, 150}, kHeight);
    EXPECT_FALSE(m.Stroking());
}

TEST(EditorModel, ARightStrokeClearsAndMovesWithoutAPressDoNothing)
{
    HarmonicsEditorModel m;
    m.Press({0, 0}, kHeight, true);
    m.Release({639, 0}, kHeight);
    m.Move({300, 0}, kHeight); // no button held
    m.Press({50, 200}, kHeight, false);
    m.Move({70, 10}, kHeight);
    m.Release({99, 299}, kHeight);
    for (int i = 0; i < NUM_PARTIALS; ++i)
        EXPECT_EQ(m.Attack().level[i] == 0.0f, i >= 10 && i <= 19) << i;
}

TEST(EditorModel, TheShownSpectrumTheCopyArrowsAndTheChangesToSend)
{
    HarmonicsEditorModel m;
    EXPECT_FALSE(m.TakeChanged(true));
    m.SetEditAttack(false);
    m.Press({7, 0}, kHeight, true); // bar 1 of the sustain spectrum
    m.Release({7, 0}, kHeight);
    EXPECT_EQ(SetBars(m.Sustain()), "1 ");
    EXPECT_EQ(SetBars(m.Attack()), "");
    EXPECT_FALSE(m.TakeChanged(true));
    EXPECT_TRUE(m.TakeChanged(false));
    EXPECT_FALSE(m.TakeChanged(false)) << "reported once";

    m.CopySustainToAttack();
    EXPECT_EQ(SetBars(m.Attack()), "1 ");
    EXPECT_FALSE(m.EditingAttack()) << "copying keeps the spectrum shown";
    EXPECT_TRUE(m.TakeChanged(true));
    EXPECT_FALSE(m.TakeChanged(false));

    m.SetEditAttack(true);
    m.Clear();
    m.CopyAttackToSustain();
    EXPECT_EQ(SetBars(m.Sustain()), "");
    EXPECT_TRUE(m.TakeChanged(false));

    // A spectrum from the sound processor is not sent back.
    HarmonicSpectrum s{};
    s.level[5] = 0.5f;
    m.SetFromHost(false, s);
    EXPECT_FALSE(m.TakeChanged(false));
    EXPECT_EQ(SetBars(m.Sustain()), "5 ");
}

TEST(EditorModel, GenerateNormalizeAndTheFigures)
{
    HarmonicsEditorModel m;
    m.Generate(1); // Saw, normalised for the target 2
    EXPECT_EQ(SafePolyphonyString(m.PeakLevel()), "Safe Polyphony: 2");
    EXPECT_EQ(PeakLevelString(m.PeakLevel()), "Peak Level:  0.500");
    for (int i = 0; i < 5; ++i)
        m.TargetUp();
    EXPECT_EQ(m.TargetPolyphony(), 7);
    m.Normalize();
    EXPECT_EQ(SafePolyphonyString(m.PeakLevel()), "Safe Polyphony: 7");
    for (int i = 0; i < 10; ++i)
        m.TargetDown();
    EXPECT_EQ(m.TargetPolyphony(), 0);
    const HarmonicSpectrum before = m.Attack();
    m.Normalize(); // target 0 changes nothing
    for (int i = 0; i < NUM_PARTIALS; ++i)
        EXPECT_EQ(m.Attack().level[i], before.level[i]);
    m.Clear();
    EXPECT_EQ(SafePolyphonyString(m.PeakLevel()), "Safe Polyphony: Inf");
    EXPECT_EQ(ParseTargetPolyphony("  12x"), 12);
    EXPECT_EQ(ParseTargetPolyphony("x"), 0);
}

TEST(EditorModel, UndoAndRedoWalkTheStrokesAndOperations)
{
    HarmonicsEditorModel m;
    m.Press({0, 150}, kHeight, true);
    m.Release({24, 150}, kHeight); // bars 0..4: one step
    m.Press({100, 150}, kHeight, true);
    m.Release({100, 150}, kHeight); // bar 20
    m.CopyAttackToSustain();
    (void)m.TakeChanged(true);
    (void)m.TakeChanged(false);

    EXPECT_TRUE(m.Undo()); // the copy
    EXPECT_EQ(SetBars(m.Sustain()), "");
    EXPECT_TRUE(m.TakeChanged(false));
    EXPECT_FALSE(m.TakeChanged(true));
    EXPECT_TRUE(m.Undo()); // bar 20
    EXPECT_EQ(SetBars(m.Attack()), "0 1 2 3 4 ");
    EXPECT_TRUE(m.Undo()); // the whole first stroke at once
    EXPECT_EQ(SetBars(m.Attack()), "");
    EXPECT_FALSE(m.Undo());
    EXPECT_TRUE(m.Redo());
    EXPECT_EQ(SetBars(m.Attack()), "0 1 2 3 4 ");
    EXPECT_TRUE(m.Redo());
    EXPECT_TRUE(m.Redo());
    EXPECT_EQ(SetBars(m.Sustain()), "0 1 2 3 4 20 ");
    EXPECT_FALSE(m.Redo());

    // A new step forgets what could be redone; nothing while a stroke is open.
    EXPECT_TRUE(m.Undo());
    m.Press({0, 150}, kHeight, false); // clears bar 0
    EXPECT_FALSE(m.Undo());
    m.Release({0, 150}, kHeight);
    EXPECT_FALSE(m.Redo());
    EXPECT_TRUE(m.Undo());
    EXPECT_EQ(SetBars(m.Attack()), "0 1 2 3 4 20 ");
}

TEST(EditorModel, TheSoundAtOpeningIsWhereTheHistoryStartsAndAPatchIsOneStep)
{
    HarmonicsEditorModel m;
    HarmonicSpectrum a{}, s{};
    a.level[0] = 0.5f;
    s.level[1] = 0.5f;
    m.SetFromHost(true, a);
    m.SetFromHost(false, s);
    EXPECT_FALSE(m.Undo()) << "nothing to take back right after opening";
    EXPECT_EQ(SetBars(m.Attack()), "0 ");

    HarmonicSpectrum pa{}, ps{};
    pa.level[6] = 0.25f;
    ps.level[7] = 0.25f;
    m.LoadSpectra(pa, ps);
    EXPECT_TRUE(m.TakeChanged(true));
    EXPECT_TRUE(m.TakeChanged(false));
    EXPECT_TRUE(m.Undo());
    EXPECT_EQ(SetBars(m.Attack()), "0 ");
    EXPECT_EQ(SetBars(m.Sustain()), "1 ");
    EXPECT_FALSE(m.Undo()) << "the patch's two spectra were one step";

    // Another editor's change after a step of our own is a step too.
    m.Redo();
    HarmonicSpectrum other{};
    other.level[9] = 0.1f;
    m.SetFromHost(true, other);
    EXPECT_TRUE(m.Undo());
    EXPECT_EQ(SetBars(m.Attack()), "6 ");
}

// What an editor does with a spectrum handed back to it: true passes it over,
// false shows it.
TEST(SentSpectra, OwnTextsComingBackArePassedOverAndOthersAreTaken)
{
    SentSpectra sent;
    // Two strokes sent, heard back in order: neither is shown again (the
    // first would put the older picture back).
    sent.Sent(kAttackState, "a1");
    sent.Sent(kAttackState, "a2");
    EXPECT_TRUE(sent.OwnEcho(kAttackState, "a1")) << "own, older than the one shown";
    EXPECT_TRUE(sent.OwnEcho(kAttackState, "a2")) << "own, the one shown";
    EXPECT_EQ(sent.Unanswered(kAttackState), 0u);
    // The spectra are kept apart: the sustain never sent a1.
    EXPECT_FALSE(sent.OwnEcho(kSustainState, "a1"));

    // The host skipped the older one (a later value of the same key replaced
    // it before it was handed back): the newer one answers both, and the
    // older text, coming later from someone else, is what the sound now is.
    sent.Sent(kAttackState, "b1");
    sent.Sent(kAttackState, "b2");
    EXPECT_TRUE(sent.OwnEcho(kAttackState, "b2"));
    EXPECT_EQ(sent.Unanswered(kAttackState), 0u);
    EXPECT_FALSE(sent.OwnEcho(kAttackState, "b1"));

    // Another editor's value is taken; its own older text that the sound
    // processor took before it is passed over, but its newest one, taken
    // after the other editor's, is the sound and is shown.
    sent.Sent(kSustainState, "c1");
    sent.Sent(kSustainState, "c2");
    EXPECT_FALSE(sent.OwnEcho(kSustainState, "other"));
    EXPECT_TRUE(sent.OwnEcho(kSustainState, "c1"));
    EXPECT_FALSE(sent.OwnEcho(kSustainState, "c2"));
    // Once answered, the same text from elsewhere is someone else's.
    EXPECT_FALSE(sent.OwnEcho(kSustainState, "c2"));
    // A new text of its own after that is passed over again.
    sent.Sent(kSustainState, "c3");
    EXPECT_TRUE(sent.OwnEcho(kSustainState, "c3"));

    EXPECT_FALSE(sent.OwnEcho(kStateCount, "c3")) << "no such spectrum";
    EXPECT_FALSE(sent.OwnEcho(kAttackState, nullptr));
}

TEST(SentSpectra, AtMostSoManyTextsAreRemembered)
{
    SentSpectra sent;
    const size_t n = SentSpectra::kMaxRemembered;
    for (size_t i = 0; i <= n; ++i) // one more than are kept
        sent.Sent(kAttackState, "t" + std::to_string(i));
    EXPECT_EQ(sent.Unanswered(kAttackState), n);
    EXPECT_FALSE(sent.OwnEcho(kAttackState, "t0")) << "the oldest was forgotten";
    EXPECT_TRUE(sent.OwnEcho(kAttackState, "t1"));
    EXPECT_EQ(sent.Unanswered(kAttackState), n - 1);
    // The newest is still known (all are answered), but came back after t0,
    // which was taken as someone else's: it is the sound now, and shown.
    EXPECT_FALSE(sent.OwnEcho(kAttackState, ("t" + std::to_string(n)).c_str()));
    EXPECT_EQ(sent.Unanswered(kAttackState), 0u);
}

TEST(PatchBridge, ParametersShippedPatchesAndTheSavePath)
{
    Patch p;
    p.attackMs = 12;
    p.decayMs = 340;
    p.sustainPercent = 55;
    p.releaseMs = 900;
    p.lfoFrequency = 3.5f;
    p.lfoWaveform = 4;
    p.modWheel = 16383;
    p.bandLimit = 1;
    Patch back;
    for (uint32_t i = 0; i < kPluginParamCount; ++i) {
        float v = -1.0f;
        ASSERT_TRUE(PatchParameterValue(p, i, v)) << i;
        ASSERT_TRUE(SetPatchParameter(back, i, v)) << i;
    }
    EXPECT_EQ(back.attackMs, 12);
    EXPECT_EQ(back.decayMs, 340);
    EXPECT_EQ(back.sustainPercent, 55);
    EXPECT_EQ(back.releaseMs, 900);
    EXPECT_EQ(back.lfoFrequency, 3.5f);
    EXPECT_EQ(back.lfoWaveform, 4);
    EXPECT_EQ(back.modWheel, 16383);
    EXPECT_EQ(back.bandLimit, 1);
    float v = 0.0f;
    EXPECT_FALSE(PatchParameterValue(p, kPluginParamCount, v));

    ASSERT_GE(kShippedPatchCount, 1u);
    for (size_t k = 0; k < kShippedPatchCount; ++k) {
        Patch shipped;
        EXPECT_EQ(ReadShippedPatch(kShippedPatches[k], shipped), "") << kShippedPatches[k].name;
        EXPECT_GT(SpectrumSum(shipped.attack.level) + SpectrumSum(shipped.sustain.level), 0.0f);
        if (k > 0) {
            EXPECT_LT(std::string(kShippedPatches[k - 1].name), kShippedPatches[k].name);
        }
    }
    for (const char* name : {"hsliderbk", "hsliderind", "sliderbk", "sliderind", "spin"}) {
        const EmbeddedFile* f = FindEditorPicture(name);
        ASSERT_NE(f, nullptr) << name;
        ASSERT_GT(f->size, 8u);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(f->data) + 1, 3), "PNG") << name;
    }

    char folder[] = "/tmp/marovane-editor-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string first = NewPatchPath(folder);
    EXPECT_EQ(first, std::string(folder) + "/Patch 1.mrvn");
    ASSERT_EQ(WritePatchFile(first, p), "");
    EXPECT_EQ(NewPatchPath(std::string(folder) + "/"), std::string(folder) + "/Patch 2.mrvn");
    Patch read;
    EXPECT_EQ(ReadPatchFile(first, read), "");
    EXPECT_EQ(read.decayMs, 340);
    std::remove(first.c_str());
    rmdir(folder);
}

// Files the editor's Load must refuse, each with one message and without
// touching the patch it would fill.
TEST(PatchBridge, AFileThePluginCannotPlayIsRefusedWithOneMessage)
{
    char folder[] = "/tmp/marovane-editor-bad-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string dir = folder;
    auto write = [](const std::string& path, const std::string& bytes) {
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        std::fclose(f);
    };
    auto patchFile = [&](const std::string& name, void (*spoil)(Patch&)) {
        Patch p;
        p.sustainPercent = 100;
        p.attack.level[0] = 0.5f;
        spoil(p);
        const std::string path = dir + "/" + name + ".mrvn";
        EXPECT_EQ(WritePatchFile(path, p), "") << name;
        return path;
    };
    struct Case {
        std::string path;
        std::string reason; // what the message must say after the path
    };
    const Case cases[] = {
        {patchFile("loud", [](Patch& p) { p.attack.level[3] = 5.0f; }),
         "the value 5 of AttackHarmonic3 is outside -1 to 1"},
        {patchFile("negative", [](Patch& p) { p.sustain.level[127] = -1.5f; }),
         "the value -1.5 of SustainHarmonic127 is outside -1 to 1"},
        {patchFile("slow", [](Patch& p) { p.attackMs = 5000; }), "the value 5000 of Attack is outside 0 to 1000"},
        {patchFile("below", [](Patch& p) { p.releaseMs = -3; }), "the value -3 of Release is outside 0 to 1000"},
        {patchFile("sustain", [](Patch& p) { p.sustainPercent = 101; }),
         "the value 101 of Sustain is outside 0 to 100"},
        {patchFile("shape", [](Patch& p) { p.lfoWaveform = 7; }), "the value 7 of LFOWaveform is outside 0 to 6"},
        {patchFile("volume", [](Patch& p) { p.volumeDb = 12.0f; }), "the value 12 of Volume is outside -60 to 6"},
        {patchFile("wheel", [](Patch& p) { p.modWheel = 16384; }),
         "the value 16384 of ModWheel is outside 0 to 16383"},
        {dir + "/empty.mrvn", ""},
        {dir, ""},
        {dir + "/huge.mrvn", ""},
        {dir + "/text.mrvn", ""},
        {dir + "/other.xml", "it holds none of the patch settings"},
        {dir + "/missing.mrvn", ""},
    };
    write(dir + "/empty.mrvn", "");
    write(dir + "/huge.mrvn", "<Marovane>" + std::string(3 * 1024 * 1024, ' ') + "</Marovane>");
    write(dir + "/text.mrvn", "Attack=10\nnot a patch \x01\x02\xff\n");
    write(dir + "/other.xml", "<?xml version=\"1.0\"?><svg><g/></svg>");

    for (const Case& c : cases) {
        Patch p;
        p.attackMs = 77;
        p.attack.level[9] = 0.125f;
        const std::string message = LoadPatchForPlugin(c.path, p);
        const std::string start = "Cannot load the patch file \"" + c.path + "\": ";
        EXPECT_EQ(message.rfind(start, 0), 0u) << message;
        EXPECT_GT(message.size(), start.size() + 30) << "a reason: " << message;
        if (!c.reason.empty()) {
            EXPECT_EQ(message, start + c.reason + ". The sound is unchanged.");
        }
        EXPECT_EQ(message.find('\n'), std::string::npos) << "one line: " << message;
        EXPECT_EQ(p.attackMs, 77) << c.path;
        EXPECT_EQ(p.attack.level[9], 0.125f) << c.path;
        EXPECT_EQ(p.attack.level[0], 0.0f) << c.path;
    }

    // At the very ends of every range the plugin takes the patch.
    Patch edge;
    edge.attackMs = 1000;
    edge.sustainPercent = 0;
    edge.lfoWaveform = 6;
    edge.volumeDb = -60.0f;
    edge.modWheel = 16383;
    edge.attack.level[0] = 1.0f;
    edge.sustain.level[127] = -1.0f;
    EXPECT_EQ(PatchOutsidePlugin(edge), "");
    const std::string edgePath = dir + "/edge.mrvn";
    ASSERT_EQ(WritePatchFile(edgePath, edge), "");
    Patch read;
    EXPECT_EQ(LoadPatchForPlugin(edgePath, read), "");
    EXPECT_EQ(read.attack.level[0], 1.0f);
    EXPECT_EQ(read.modWheel, 16383);

    // The shipped patches pass through the same gate (checked above), and one
    // that failed it would be refused too.
    const char bad[] = "<Settings><AttackHarmonic0 AttackHarmonic0=\"2\"/></Settings>";
    const EmbeddedFile spoilt{"spoilt", reinterpret_cast<const unsigned char*>(bad), sizeof bad - 1};
    Patch untouched;
    untouched.decayMs = 5;
    EXPECT_EQ(ReadShippedPatch(spoilt, untouched), "the value 2 of AttackHarmonic0 is outside -1 to 1");
    EXPECT_EQ(untouched.decayMs, 5);

    for (const char* name :
         {"loud", "negative", "slow", "below", "sustain", "shape", "volume", "wheel", "empty", "huge", "text", "edge"})
        std::remove((dir + "/" + name + ".mrvn").c_str());
    std::remove((dir + "/other.xml").c_str());
    EXPECT_EQ(rmdir(folder), 0) << "every file made here was removed";
}

} // namespace

// The band limit is the editor's one switch, a check box: a click sets the
// other value, whatever value the host had set.
TEST(EditorSwitch, TheBandLimitIsTheOneSwitchAndAClickFlipsIt)
{
    for (uint32_t i = 0; i < kPluginParamCount; ++i)
        EXPECT_EQ(IsPluginSwitch(i), i == PluginParamIndex(ParamId::BandLimit)) << i;
    EXPECT_FALSE(IsPluginSwitch(kPluginParamCount));
    const struct {
        float shown;
        float clicked;
    } cases[] = {{0.0f, 1.0f}, {1.0f, 0.0f}, {0.4f, 1.0f}, {0.5f, 0.0f}, {0.9999f, 0.0f}};
    for (const auto& c : cases) {
        EXPECT_EQ(SwitchOn(c.shown), c.clicked == 0.0f) << c.shown;
        EXPECT_EQ(ClickedSwitchValue(c.shown), c.clicked) << c.shown;
    }
}
