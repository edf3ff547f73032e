// The waveform previews' arithmetic: one cycle of 120 samples per spectrum.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "controls/SpectrumMath.h"
#include "synth/Preview.h"
#include "synth/WaveTable.h"

namespace {

const WaveTable& Waves()
{
    static const WaveTable table;
    return table;
}

HarmonicSpectrum Single(int partial, float level)
{
    HarmonicSpectrum s{};
    s.level[partial - 1] = level;
    return s;
}

TEST(Preview, DefaultSineCrestsAtRow25AndSinksToTheTroughRow)
{
    const PreviewCycle c = ComputePreviewCycle(Single(1, 0.5f).level, Waves());
    const auto [lo, hi] = std::minmax_element(std::begin(c.sample), std::end(c.sample));
    // 120 steps of 273 positions: the crest is sample 30, the trough sample 90.
    EXPECT_EQ(hi - std::begin(c.sample), 30);
    EXPECT_EQ(lo - std::begin(c.sample), 90);
    EXPECT_NEAR(*hi, 0.5f, 1e-6f);
    EXPECT_NEAR(*lo, -0.5f, 1e-6f);
    EXPECT_EQ(PreviewRow(*hi, 100), 25);
    // The trough sample lies a hair above -0.5 (position 24570, not 24576),
    // so the truncated row is the one just above row 75.
    EXPECT_EQ(PreviewRow(*lo, 100), 74);
    EXPECT_EQ(PreviewRow(-0.5f, 100), 75);
    EXPECT_EQ(c.sample[0], 0.0f);
}

TEST(Preview, Partial15IsASineSampledEightTimesPerCycle)
{
    const PreviewCycle c = ComputePreviewCycle(Single(15, 1.0f).level, Waves());
    for (int i = 0; i < PREVIEW_LENGTH; ++i) {
        SCOPED_TRACE(i);
        const float expected = static_cast<float>(std::sin(2.0 * M_PI * (i % 8) / 8.0));
        EXPECT_NEAR(c.sample[i], expected, 1e-6f);
        if (i % 8 == 0) {
            EXPECT_EQ(c.sample[i], 0.0f);
        }
    }
    EXPECT_EQ(PreviewRow(c.sample[2], 100), 0);
}

TEST(Preview, SumsPastFullScaleAreClampedAndDrawnOnTheEdgeRows)
{
    const HarmonicSpectrum saw = WaveformSpectrum(1);
    const PreviewCycle c = ComputePreviewCycle(saw.level, Waves());
    float lo = 1.0f, hi = -1.0f;
    for (float v : c.sample) {
        EXPECT_LE(v, 1.0f);
        EXPECT_GE(v, -1.0f);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    EXPECT_EQ(hi, 1.0f);
    EXPECT_EQ(lo, -1.0f);
    EXPECT_EQ(PreviewRow(hi, 100), 0);
    EXPECT_EQ(PreviewRow(lo, 100), 100);
    // The spectrum itself is not touched.
    EXPECT_EQ(saw.level[0], 1.0f);
}

TEST(Preview, SumsEveryPartialOnItsOwnStep)
{
    // Partials 1 and 3 together equal the sum of each alone (both under full
    // scale), and partial 120 lands on position 0 at every sample.
    HarmonicSpectrum both{};
    both.level[0] = 0.5f;
    both.level[2] = 0.25f;
    const PreviewCycle sum = ComputePreviewCycle(both.level, Waves());
    const PreviewCycle one = ComputePreviewCycle(Single(1, 0.5f).level, Waves());
    const PreviewCycle three = ComputePreviewCycle(Single(3, 0.25f).level, Waves());
    const PreviewCycle high = ComputePreviewCycle(Single(120, 1.0f).level, Waves());
    const PreviewCycle zero = ComputePreviewCycle(HarmonicSpectrum{}.level, Waves());
    for (int i = 0; i < PREVIEW_LENGTH; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(sum.sample[i], one.sample[i] + three.sample[i]);
        EXPECT_NEAR(three.sample[i], 0.25 * std::sin(2.0 * M_PI * i * 819.0 / 32768.0), 1e-6);
        EXPECT_EQ(high.sample[i], 0.0f);
        EXPECT_EQ(zero.sample[i], 0.0f);
        EXPECT_EQ(PreviewRow(zero.sample[i], 100), 50);
    }
}

} // namespace
