#pragma once
// The two figures beside the harmonics editor, as numbers and as plain
// (untranslated) texts, and the reading of a target polyphony typed or shown
// as text. The window's translated texts (controls/SpectrumTexts.h in the
// window's library) and the plugin's editor both build on these. Any thread.

#include <string>

// How many notes of a spectrum summing to `sum` fit under full scale: 1 / sum
// truncated, except that a count falling short of the next whole number by
// no more than the rounding of a float sum of 128 levels is that number (a
// spectrum normalised for n notes sums to 1 / n only up to that rounding).
// False when the count is unlimited: a sum of zero or below, or a count
// beyond an int.
bool SafePolyphonyCount(float sum, int& notes);

// "Peak Level: %6.3f" of the sum.
std::string PeakLevelString(float sum);
// "Safe Polyphony: %d", or "Safe Polyphony: Inf" when the count is unlimited.
std::string SafePolyphonyString(float sum);

// Reads a target polyphony like a decimal integer: leading blanks, an
// optional sign, digits up to the first other character; no digits read as 0,
// and values beyond an int are held at its limits.
int ParseTargetPolyphony(const std::string& text);
