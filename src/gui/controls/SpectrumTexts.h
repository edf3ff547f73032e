#pragma once
// The texts of the harmonics editor's two figures and the reading of its
// target polyphony label: window texts, translated where a catalogue is
// loaded. The arithmetic is in controls/SpectrumMath.h, the counting and the
// reading in controls/SpectrumFigures.h. GUI thread.

#include <wx/string.h>

#include "controls/SpectrumFigures.h"

// "Peak Level: %6.3f" of the sum.
wxString PeakLevelText(float sum);
// "Safe Polyphony: %d" with 1 / sum truncated: how many such notes fit under
// full scale; "Safe Polyphony: Inf" when the sum is zero or negative (or so
// small that the count would not fit an int).
wxString SafePolyphonyText(float sum);

// Reads a target polyphony from the text of its label like a decimal integer:
// leading blanks, an optional sign, digits up to the first other character;
// no digits read as 0, and values beyond an int are held at its limits.
int ReadTargetPolyphony(const wxString& text);
