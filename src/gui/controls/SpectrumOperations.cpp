#include "SpectrumOperations.h"

#include "HarmonicsPanel.h"
#include "MiniWavePanel.h"
#include "controls/SpectrumMath.h"
#include "SynthParametersDlg.h"
#include "synth/Preview.h"

namespace SpectrumOperations {

namespace {

void SetEdited(wxHarmonicsPanel& editor, const HarmonicSpectrum& spectrum)
{
    if (editor.IsEditingAttack())
        editor.SetAttackSpectrum(spectrum.level);
    else
        editor.SetSustainSpectrum(spectrum.level);
}

} // namespace

bool Generate(SynthParametersDlg& panel, int selection)
{
    if (selection < 0 || selection >= NUM_HARMONIC_WAVEFORMS)
        return false;
    SetEdited(*panel.GetHarmonicsPanel(), WaveformSpectrum(selection));
    panel.NormalizeToTarget();
    return true;
}

void Clear(wxHarmonicsPanel& editor)
{
    SetEdited(editor, HarmonicSpectrum{});
}

void CopySustainToAttack(wxHarmonicsPanel& editor, const SynthState& state)
{
    const HarmonicSpectrum sustain = state.Sustain();
    editor.SetAttackSpectrum(sustain.level);
}

void CopyAttackToSustain(wxHarmonicsPanel& editor, const SynthState& state)
{
    const HarmonicSpectrum attack = state.Attack();
    editor.SetSustainSpectrum(attack.level);
}

void ShowHarmonics(SynthState& state, const float* attack, const float* sustain, wxMiniWavePanel* attackPreview,
                   wxMiniWavePanel* sustainPreview)
{
    state.SetSpectra(attack, sustain);
    // The previews are computed from the state's copies, as the render sees them.
    const HarmonicSpectrum a = state.Attack();
    const HarmonicSpectrum s = state.Sustain();
    const PreviewCycle attackCycle = ComputePreviewCycle(a.level, state.Waves());
    const PreviewCycle sustainCycle = ComputePreviewCycle(s.level, state.Waves());
    if (attackPreview)
        attackPreview->SetWaveData(attackCycle.sample);
    if (sustainPreview)
        sustainPreview->SetWaveData(sustainCycle.sample);
}

} // namespace SpectrumOperations
