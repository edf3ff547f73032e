// The window's texts of the harmonics editor's figures and the reading of
// its target polyphony label, without a display.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "controls/SpectrumMath.h"
#include "controls/SpectrumTexts.h"

namespace {

HarmonicSpectrum DefaultSpectrum()
{
    HarmonicSpectrum s{};
    s.level[0] = 0.5f;
    return s;
}

TEST(SpectrumFigures, TextsOfThePeakLevelAndTheSafePolyphony)
{
    EXPECT_EQ(PeakLevelText(0.5f), "Peak Level:  0.500");
    EXPECT_EQ(SafePolyphonyText(0.5f), "Safe Polyphony: 2");
    EXPECT_EQ(PeakLevelText(0.0f), "Peak Level:  0.000");
    EXPECT_EQ(SafePolyphonyText(0.0f), "Safe Polyphony: Inf");
    EXPECT_EQ(SafePolyphonyText(-0.25f), "Safe Polyphony: Inf");
    EXPECT_EQ(PeakLevelText(-0.25f), "Peak Level: -0.250");
    EXPECT_EQ(SafePolyphonyText(0.33333334f), "Safe Polyphony: 3"); // 2.9999999: 3 within rounding
    EXPECT_EQ(SafePolyphonyText(1.5f), "Safe Polyphony: 0");
    EXPECT_EQ(PeakLevelText(128.0f), "Peak Level: 128.000");
    // Saw: a peak above 1 is safe for no note.
    const float saw = SpectrumSum(WaveformSpectrum(1).level);
    EXPECT_EQ(PeakLevelText(saw), "Peak Level:  5.433");
    EXPECT_EQ(SafePolyphonyText(saw), "Safe Polyphony: 0");
    // A count beyond an int reads as unlimited rather than as garbage.
    EXPECT_EQ(SafePolyphonyText(1e-20f), "Safe Polyphony: Inf");
}

TEST(SpectrumFigures, AfterNormalizingTheSafePolyphonyReadsTheTarget)
{
    // Whatever the spectrum, the float sum of the normalised levels may land
    // a little above 1 / target; the figure still shows the target asked for.
    std::vector<std::pair<const char*, HarmonicSpectrum>> spectra = {{"default", DefaultSpectrum()}};
    for (int w = 0; w < NUM_HARMONIC_WAVEFORMS; ++w)
        spectra.emplace_back(HarmonicWaveformName(w), WaveformSpectrum(w));
    HarmonicSpectrum drawn{};
    for (int i = 0; i < NUM_PARTIALS; ++i)
        drawn.level[i] = HarmonicsClickLevel((i * 37) % 300, 300, 2.0f);
    spectra.emplace_back("drawn", drawn);
    for (const auto& [name, spectrum] : spectra)
        for (int target = 1; target <= 128; ++target) {
            HarmonicSpectrum s = spectrum;
            NormalizeLevels(s.level, target);
            EXPECT_EQ(SafePolyphonyText(SpectrumSum(s.level)).ToStdString(),
                      "Safe Polyphony: " + std::to_string(target))
                << name << " for " << target;
        }
    // Beyond rounding a peak above 1 / n is not safe for n notes.
    EXPECT_EQ(SafePolyphonyText(0.2501f), "Safe Polyphony: 3");
    EXPECT_EQ(SafePolyphonyText(0.25f), "Safe Polyphony: 4");
    EXPECT_EQ(SafePolyphonyText(0.2499f), "Safe Polyphony: 4");
    EXPECT_EQ(SafePolyphonyText(1.0001f), "Safe Polyphony: 0");
}

TEST(TargetPolyphony, ReadLikeADecimalInteger)
{
    const struct {
        const char* text;
        int value;
    } cases[] = {{"2", 2}, {"102", 102}, {"  17", 17}, {"17x", 17}, {"-3", -3}, {"+4", 4},
                 {"abc", 0}, {"", 0}, {"0", 0}, {"99999999999", INT_MAX}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ReadTargetPolyphony(c.text), c.value);
    }
}

} // namespace
