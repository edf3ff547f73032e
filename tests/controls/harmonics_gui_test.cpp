// The harmonics editor inside the synth parameters panel, the spectrum
// operations and the previews, driven with the real mouse under a virtual
// display, down to the sound the synthesis state then makes.
#include "ControlsTestFrame.h"

#include <cmath>
#include <memory>

#include "controls/HarmonicsPanel.h"
#include "controls/MiniWavePanel.h"
#include "controls/SpectrumOperations.h"
#include "controls/SynthParametersDlg.h"
#include "synth/Preview.h"
#include "synth/SynthState.h"
#include "support/EngineTestAccess.h"

namespace {

// What the main window does with every report of the editor, counted.
class RecordingCallback : public HarmonicsCallback {
public:
    RecordingCallback(SynthState& synth_, wxMiniWavePanel* a, wxMiniWavePanel* s)
        : synth(synth_), attackPreview(a), sustainPreview(s)
    {
    }
    void OnHarmonicsChanged(const float* attack, const float* sustain) override
    {
        ++calls;
        std::copy(attack, attack + NUM_PARTIALS, lastAttack.level);
        std::copy(sustain, sustain + NUM_PARTIALS, lastSustain.level);
        history.push_back(lastSustain);
        SpectrumOperations::ShowHarmonics(synth, attack, sustain, attackPreview, sustainPreview);
    }
    SynthState& synth;
    wxMiniWavePanel* attackPreview;
    wxMiniWavePanel* sustainPreview;
    int calls = 0;
    HarmonicSpectrum lastAttack{};
    HarmonicSpectrum lastSustain{};
    std::vector<HarmonicSpectrum> history;
};

class HarmonicsTest : public ControlsGuiTest {
protected:
    void SetUp() override
    {
        ControlsGuiTest::SetUp();
        synth = std::make_unique<SynthState>();
        panel = new SynthParametersDlg(frame, SynthParametersDlg::ID_SYNTH_PARAMETERS, wxPoint(0, 0),
                                       wxSize(500, 540), wxNO_BORDER | wxWANTS_CHARS);
        panel->Move(60, 10);
        attackPreview = new wxMiniWavePanel(frame, 10033, wxPoint(60, 420), wxSize(120, 100));
        sustainPreview = new wxMiniWavePanel(frame, 10034, wxPoint(200, 420), wxSize(120, 100));
        callback = std::make_unique<RecordingCallback>(*synth, attackPreview, sustainPreview);
        // The main window's start-up: its callback, the state's spectra, the
        // sustain spectrum edited.
        panel->SetHarmonicsCallback(callback.get());
        editor = panel->GetHarmonicsPanel();
        editor->SetEditAttack(false);
        const HarmonicSpectrum a = synth->Attack(), s = synth->Sustain();
        panel->SetSpectra(a.level, s.level);
        ShowFrame();
    }
    void TearDown() override
    {
        ControlsGuiTest::TearDown();
        callback.reset();
        synth.reset();
    }
    float Sustain(int i) const { return editor->GetSustainLevels()[i]; }

    std::unique_ptr<SynthState> synth;
    std::unique_ptr<RecordingCallback> callback;
    SynthParametersDlg* panel = nullptr;
    wxHarmonicsPanel* editor = nullptr;
    wxMiniWavePanel* attackPreview = nullptr;
    wxMiniWavePanel* sustainPreview = nullptr;
};

TEST_F(HarmonicsTest, StartsWithTheStatesSpectraAndTheirFigures)
{
    EXPECT_EQ(editor->GetSize(), wxSize(640, 300));
    EXPECT_EQ(editor->GetId(), 13009);
    EXPECT_EQ(panel->GetTargetPolyphonyLabel()->GetLabel(), "2");
    EXPECT_EQ(panel->GetPeakLevelLabel()->GetLabel(), "Peak Level:  0.500");
    EXPECT_EQ(panel->GetSafePolyphonyLabel()->GetLabel(), "Safe Polyphony: 2");
    EXPECT_FALSE(editor->IsEditingAttack());
    EXPECT_EQ(callback->calls, 1);
    // Both previews hold the default sine.
    const PreviewCycle sine = ComputePreviewCycle(synth->Sustain().level, synth->Waves());
    for (int i = 0; i < PREVIEW_LENGTH; ++i) {
        EXPECT_EQ(attackPreview->GetWaveData()[i], sine.sample[i]);
        EXPECT_EQ(sustainPreview->GetWaveData()[i], sine.sample[i]);
    }
    EXPECT_TRUE(panel->GetTargetSpin()->HasImage());
}

TEST_F(HarmonicsTest, AClickHalfwayUpBar2SetsPartial3AndTheSoundFollows)
{
    ClickAt(editor, 12, 150);
    EXPECT_EQ(Sustain(2), 0.25f);
    EXPECT_EQ(Sustain(0), 0.5f);
    EXPECT_EQ(editor->GetAttackLevels()[2], 0.0f);
    EXPECT_EQ(synth->SustainLevel(2), 0.25f);
    EXPECT_EQ(panel->GetPeakLevelLabel()->GetLabel(), "Peak Level:  0.750");
    EXPECT_EQ(panel->GetSafePolyphonyLabel()->GetLabel(), "Safe Polyphony: 1");
    // The sustain preview shows that waveform; the attack preview is unchanged.
    const PreviewCycle expected = ComputePreviewCycle(callback->lastSustain.level, synth->Waves());
    for (int i = 0; i < PREVIEW_LENGTH; ++i)
        EXPECT_EQ(sustainPreview->GetWaveData()[i], expected.sample[i]);
    EXPECT_NEAR(attackPreview->GetWaveData()[30], 0.5f, 1e-6f);

    // The next note sounds partial 3 at 0.25 beside the fundamental at 0.5.
    synth->StartNote(60);
    constexpr int kBuffers = 64;
    std::vector<float> out(2 * MAX_FRAMES * kBuffers);
    for (int b = 0; b < kBuffers; ++b)
        SynthStateTestAccess::Render(*synth, out.data() + 2 * MAX_FRAMES * b, MAX_FRAMES);
    const double f = NoteFrequency(60);
    auto amplitude = [&](int partial) {
        double re = 0.0, im = 0.0;
        const int n = MAX_FRAMES * kBuffers;
        for (int i = 0; i < n; ++i) {
            const double w = 2.0 * M_PI * f * partial * i / SAMPLE_RATE;
            re += out[2 * i] * std::cos(w);
            im += out[2 * i] * std::sin(w);
        }
        return 2.0 * std::hypot(re, im) / n;
    };
    EXPECT_NEAR(amplitude(1), 0.5, 0.01);
    EXPECT_NEAR(amplitude(3), 0.25, 0.01);
    EXPECT_LT(amplitude(2), 0.01);
}

TEST_F(HarmonicsTest, DraggingPaintsAcrossBarsAndRightButtonClears)
{
    MoveTo(editor, 2, 150);
    Press();
    for (int x = 7; x <= 52; x += 5)
        MoveTo(editor, x, 150, 20);
    Release();
    for (int i = 0; i <= 10; ++i)
        EXPECT_EQ(Sustain(i), 0.25f) << "bar " << i;
    EXPECT_EQ(Sustain(11), 0.0f);
    EXPECT_FALSE(editor->IsLeftDragging());

    ClickAt(editor, 37, 10, wxMOUSE_BTN_RIGHT);
    EXPECT_EQ(Sustain(7), 0.0f);
    MoveTo(editor, 17, 100);
    Press(wxMOUSE_BTN_RIGHT);
    MoveTo(editor, 22, 280, 20);
    MoveTo(editor, 27, 5, 20);
    Release(wxMOUSE_BTN_RIGHT);
    for (int i = 3; i <= 5; ++i)
        EXPECT_EQ(Sustain(i), 0.0f) << "bar " << i;
    EXPECT_EQ(Sustain(2), 0.25f);
    EXPECT_EQ(Sustain(6), 0.25f);
    EXPECT_EQ(callback->lastSustain.level[6], 0.25f);
    EXPECT_EQ(callback->lastSustain.level[4], 0.0f);
}

// The pointer jumps from partial 3 to partial 21 in one move: every bar in
// between is drawn on the straight line from the press to the move, not
// only the two ends. The right button clears the same way, and a stroke
// backwards fills too.
TEST_F(HarmonicsTest, AQuickStrokeFillsEveryBarAlongTheLine)
{
    const auto level = [](int row) { return HarmonicsClickLevel(row, 300, 2.0f); };
    MoveTo(editor, 12, 240);
    Press();
    const int calls = callback->calls;
    MoveTo(editor, 102, 60, 60); // bar 2 to bar 20 in one jump
    Release();
    EXPECT_EQ(Sustain(1), 0.0f);
    EXPECT_EQ(Sustain(2), level(240));
    for (int bar = 3; bar <= 19; ++bar) // centre 5b + 2: 10 rows up per bar
        EXPECT_EQ(Sustain(bar), level(240 - 10 * (bar - 2))) << "bar " << bar;
    EXPECT_EQ(Sustain(20), level(60));
    EXPECT_EQ(Sustain(21), 0.0f);
    EXPECT_EQ(synth->SustainLevel(11), level(150));
    // One report for the move and one for the release, whatever the bars.
    EXPECT_EQ(callback->calls, calls + 2);

    MoveTo(editor, 87, 100);
    Press(wxMOUSE_BTN_RIGHT);
    MoveTo(editor, 27, 280, 60); // bar 17 back to bar 5
    Release(wxMOUSE_BTN_RIGHT);
    for (int bar = 5; bar <= 17; ++bar)
        EXPECT_EQ(Sustain(bar), 0.0f) << "bar " << bar;
    EXPECT_EQ(Sustain(4), level(220));
    EXPECT_EQ(Sustain(18), level(80));

    MoveTo(editor, 62, 150);
    Press();
    MoveTo(editor, 32, 0, 60); // bar 12 back to bar 6, up to the top row
    Release();
    for (int bar = 6; bar <= 12; ++bar)
        EXPECT_EQ(Sustain(bar), level(150 - 25 * (12 - bar))) << "bar " << bar;
}

// A quick stroke out of the editor across its right edge still sets every
// bar up to the edge on its way out, and nothing after.
TEST_F(HarmonicsTest, AQuickStrokeOutOfTheEditorFillsUpToItsEdge)
{
    MoveTo(editor, 562, 200);
    Press();
    MoveTo(editor, 700, 200, 60); // bar 112 to beyond bar 127 in one jump
    EXPECT_FALSE(editor->IsLeftDragging());
    MoveTo(editor, 700, 100, 30);
    Release();
    for (int bar = 112; bar < NUM_PARTIALS; ++bar)
        EXPECT_EQ(Sustain(bar), HarmonicsClickLevel(200, 300, 2.0f)) << "bar " << bar;
    EXPECT_EQ(Sustain(111), 0.0f);
}

TEST_F(HarmonicsTest, LeavingStopsEditingAndReenteringWithTheButtonHeldResumes)
{
    const float level = (300.0f - 200.0f) / 300.0f / 2.0f;
    MoveTo(editor, 2, 200);
    Press();
    for (int x = 7; x <= 27; x += 5)
        MoveTo(editor, x, 200, 20);
    MoveTo(editor, 27, -20); // out over the top, button held
    EXPECT_FALSE(editor->IsLeftDragging());
    for (int x = 32; x <= 72; x += 5)
        MoveTo(editor, x, -20, 15);
    MoveTo(editor, 77, 200); // back in at bar 15
    EXPECT_TRUE(editor->IsLeftDragging());
    for (int x = 82; x <= 102; x += 5)
        MoveTo(editor, x, 200, 20);
    Release();
    for (int i = 0; i <= 5; ++i)
        EXPECT_EQ(Sustain(i), level) << "bar " << i;
    for (int i = 6; i <= 14; ++i)
        EXPECT_EQ(Sustain(i), 0.0f) << "bar " << i;
    for (int i = 16; i <= 20; ++i)
        EXPECT_EQ(Sustain(i), level) << "bar " << i;
}

TEST_F(HarmonicsTest, ReleasingOutsideTheBarsChangesNothing)
{
    MoveTo(editor, 62, 100);
    Press();
    MoveTo(editor, 62, 330); // below the editor: the pointer left it
    Release();
    EXPECT_EQ(Sustain(12), (300.0f - 100.0f) / 300.0f / 2.0f);
    for (int i = 0; i < NUM_PARTIALS; ++i)
        EXPECT_GE(Sustain(i), 0.0f);
}

TEST_F(HarmonicsTest, SwitchingTheEditedSpectrumReportsNothing)
{
    ClickAt(editor, 12, 150);
    const int calls = callback->calls;
    editor->SetEditAttack(true);
    EXPECT_EQ(callback->calls, calls);
    EXPECT_EQ(panel->GetPeakLevelLabel()->GetLabel(), "Peak Level:  0.500");
    ClickAt(editor, 22, 0); // top row at zoom 2: 0.5, into the attack spectrum
    EXPECT_EQ(editor->GetAttackLevels()[4], 0.5f);
    EXPECT_EQ(Sustain(4), 0.0f);
    EXPECT_EQ(synth->AttackLevel(4), 0.5f);
    editor->SetEditAttack(true);
    EXPECT_EQ(callback->calls, calls + 2); // press and release, nothing for the repeat

    editor->SetDisplayScale(10.0f);
    ClickAt(editor, 32, 0);
    EXPECT_FLOAT_EQ(editor->GetAttackLevels()[6], 0.1f);
}

TEST_F(HarmonicsTest, KeysOverTheEditorReachTheMainWindow)
{
    ClickAt(editor, 300, 299);
    editor->SetFocus();
    PumpEvents(80);
    sim.Char('q');
    PumpEvents(100);
    EXPECT_NE(std::find(frame->keyDowns.begin(), frame->keyDowns.end(), 'Q'), frame->keyDowns.end());
    EXPECT_NE(std::find(frame->keyUps.begin(), frame->keyUps.end(), 'Q'), frame->keyUps.end());
    // And those that reach the panel itself.
    wxKeyEvent down(wxEVT_KEY_DOWN);
    down.m_keyCode = 'W';
    panel->GetEventHandler()->ProcessEvent(down);
    EXPECT_EQ(frame->keyDowns.back(), 'W');
}

TEST_F(HarmonicsTest, TargetSpinStepsTheLabelAndStopsAtZero)
{
    wxBitmapSpinButton* spin = panel->GetTargetSpin();
    std::vector<wxString> seen;
    for (int i = 0; i < 3; ++i) {
        ClickAt(spin, 8, 17);
        seen.push_back(panel->GetTargetPolyphonyLabel()->GetLabel());
    }
    EXPECT_EQ(seen, (std::vector<wxString>{"1", "0", "0"}));
    // Normalising for 0 changes and reports nothing.
    const int calls = callback->calls;
    panel->NormalizeToTarget();
    EXPECT_EQ(callback->calls, calls);
    for (int i = 0; i < 5; ++i)
        ClickAt(spin, 8, 4);
    EXPECT_EQ(panel->GetTargetPolyphonyLabel()->GetLabel(), "5");
    EXPECT_EQ(panel->GetTargetPolyphony(), 5);
    // The spin's command events stop at the panel.
    EXPECT_EQ(frame->Count(wxEVT_SCROLL_LINEUP), 0);
    EXPECT_EQ(frame->Count(wxEVT_SCROLL_LINEDOWN), 0);
    panel->NormalizeToTarget();
    EXPECT_EQ(callback->calls, calls + 1);
    EXPECT_FLOAT_EQ(Sustain(0), 0.2f);
    // 1 / 0.2f is 4.9999999, within rounding of the target asked for.
    EXPECT_EQ(panel->GetSafePolyphonyLabel()->GetLabel(), "Safe Polyphony: 5");
}

TEST_F(HarmonicsTest, TargetOf102AfterAHundredPresses)
{
    // Quick clicks, many of them double clicks to the toolkit: each one counts.
    MoveTo(panel->GetTargetSpin(), 8, 4);
    for (int i = 0; i < 100; ++i) {
        sim.MouseDown();
        PumpEvents(4);
        sim.MouseUp();
        PumpEvents(4);
    }
    PumpEvents(200);
    EXPECT_EQ(panel->GetTargetPolyphonyLabel()->GetLabel(), "102");
    panel->NormalizeToTarget();
    EXPECT_FLOAT_EQ(SpectrumSum(editor->GetSustainLevels()), 1.0f / 102.0f);
}

TEST_F(HarmonicsTest, GenerateReplacesTheEditedSpectrumAndNormalises)
{
    const int calls = callback->calls;
    EXPECT_FALSE(SpectrumOperations::Generate(*panel, -1));
    EXPECT_EQ(callback->calls, calls);

    EXPECT_TRUE(SpectrumOperations::Generate(*panel, 1)); // Saw, sustain edited
    ASSERT_EQ(callback->calls, calls + 2);
    const HarmonicSpectrum raw = callback->history[callback->history.size() - 2];
    EXPECT_EQ(raw.level[1], 0.5f); // first report: the raw saw
    EXPECT_NEAR(SpectrumSum(editor->GetSustainLevels()), 0.5f, 1e-6f);
    EXPECT_EQ(panel->GetSafePolyphonyLabel()->GetLabel(), "Safe Polyphony: 2");
    EXPECT_EQ(editor->GetAttackLevels()[0], 0.5f); // attack untouched
    EXPECT_EQ(editor->GetAttackLevels()[1], 0.0f);
    EXPECT_EQ(synth->SustainLevel(1), Sustain(1));
}

TEST_F(HarmonicsTest, ClearAndCopies)
{
    SpectrumOperations::Clear(*editor);
    for (int i = 0; i < NUM_PARTIALS; ++i)
        EXPECT_EQ(Sustain(i), 0.0f);
    EXPECT_EQ(panel->GetPeakLevelLabel()->GetLabel(), "Peak Level:  0.000");
    EXPECT_EQ(panel->GetSafePolyphonyLabel()->GetLabel(), "Safe Polyphony: Inf");
    EXPECT_EQ(editor->GetAttackLevels()[0], 0.5f);

    // Copy attack into sustain while the attack spectrum is edited: the
    // display and the figures stay with the attack spectrum.
    editor->SetEditAttack(true);
    const HarmonicSpectrum triangle = WaveformSpectrum(2);
    editor->SetAttackSpectrum(triangle.level);
    const wxString peak = panel->GetPeakLevelLabel()->GetLabel();
    SpectrumOperations::CopyAttackToSustain(*editor, *synth);
    EXPECT_TRUE(editor->IsEditingAttack());
    EXPECT_EQ(panel->GetPeakLevelLabel()->GetLabel(), peak);
    for (int i = 0; i < NUM_PARTIALS; ++i)
        EXPECT_EQ(Sustain(i), triangle.level[i]);
    EXPECT_EQ(synth->SustainLevel(4), 1.0f / 25.0f);

    SpectrumOperations::Clear(*editor); // clears the attack spectrum now
    SpectrumOperations::CopySustainToAttack(*editor, *synth);
    EXPECT_EQ(editor->GetAttackLevels()[8], 1.0f / 81.0f);
    EXPECT_EQ(synth->AttackLevel(8), 1.0f / 81.0f);
}

} // namespace
