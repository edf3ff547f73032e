#pragma once
// The main window's whole-spectrum operations, run by its buttons: generate
// the spectrum of a classic waveform, clear, copy one spectrum into the other,
// and the receiving end of the editor's reports (the synthesis state takes the
// new spectra, the previews show one cycle of each). Each acts through the
// editor's setters, so every change is reported back through
// HarmonicsCallback. The caller (a button handler) gives the keyboard focus
// back and skips its event afterwards. GUI thread.

#include "synth/SynthState.h"

class SynthParametersDlg;
class wxHarmonicsPanel;
class wxMiniWavePanel;

namespace SpectrumOperations {

// Puts the spectrum of harmonic waveform `selection` (0 "Square", 1 "Saw",
// 2 "Triangle", 3 "Noise") into the edited spectrum, then normalises it for
// the panel's target polyphony. Returns false, changing nothing, for any
// other selection (no selection is -1).
bool Generate(SynthParametersDlg& panel, int selection);
// Puts 128 zeros into the edited spectrum; no normalising.
void Clear(wxHarmonicsPanel& editor);
// Copies the synthesis state's sustain spectrum into the attack spectrum
// (and the reverse); the edited spectrum stays the one shown.
void CopySustainToAttack(wxHarmonicsPanel& editor, const SynthState& state);
void CopyAttackToSustain(wxHarmonicsPanel& editor, const SynthState& state);

// The body of HarmonicsCallback::OnHarmonicsChanged in the main window: copies
// both spectra into the synthesis state, then shows one cycle of each in the
// previews (either may be null).
void ShowHarmonics(SynthState& state, const float* attack, const float* sustain, wxMiniWavePanel* attackPreview,
                   wxMiniWavePanel* sustainPreview);

} // namespace SpectrumOperations
