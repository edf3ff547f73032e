// The arithmetic of the harmonics editor, the spectrum operations and the
// bitmap slider, without a display.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "controls/SliderMath.h"
#include "controls/SpectrumMath.h"

namespace {

HarmonicSpectrum DefaultSpectrum()
{
    HarmonicSpectrum s{};
    s.level[0] = 0.5f;
    return s;
}

TEST(HarmonicsEditorMath, ClickLevelForRowAndScale)
{
    struct Case {
        int y, height;
        float scale, level;
    } cases[] = {
        {150, 300, 2.0f, 0.25f},          // halfway up at zoom 2
        {0, 300, 2.0f, 0.5f},             // top row: 1 / scale
        {299, 300, 2.0f, 1.0f / 600.0f},  // bottom row: 1 / (h * scale)
        {0, 300, 1.0f, 1.0f},
        {0, 300, 10.0f, 0.1f},
        {75, 300, 1.0f, 0.75f},
        {100, 200, 4.0f, 0.125f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "y " << c.y << " h " << c.height << " scale " << c.scale);
        EXPECT_FLOAT_EQ(HarmonicsClickLevel(c.y, c.height, c.scale), c.level);
    }
    // Exactly the single-precision chain (hf - y) / hf / scale.
    EXPECT_EQ(HarmonicsClickLevel(1, 300, 3.0f), (300.0f - 1.0f) / 300.0f / 3.0f);
}

TEST(HarmonicsEditorMath, BarsAreFivePixelsWideAndOnlyThe128Exist)
{
    const int cases[][2] = {{0, 0}, {4, 0}, {5, 1}, {12, 2}, {35, 7}, {39, 7}, {639, 127},
                            {640, -1}, {1000, -1}, {-1, -1}, {-4, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        EXPECT_EQ(HarmonicsBarAt(c[0]), c[1]);
    }
}

TEST(HarmonicsEditorMath, BarHeights)
{
    EXPECT_EQ(HarmonicsBarHeight(0.25f, 300, 2.0f), 150);
    EXPECT_EQ(HarmonicsBarHeight(0.0f, 300, 2.0f), 0);
    EXPECT_EQ(HarmonicsBarHeight(2.0f, 300, 2.0f), 1200); // taller than the panel: clipped when drawn
    EXPECT_EQ(HarmonicsBarHeight(0.0016f, 300, 2.0f), 0);  // 0.96 truncates
    EXPECT_EQ(HarmonicsBarHeight(1e30f, 300, 2.0f), 1000000);
    EXPECT_EQ(HarmonicsBarHeight(NAN, 300, 2.0f), 0);
}

TEST(HarmonicsEditorMath, AStretchOfAStrokeSetsEveryBarItCrosses)
{
    // Each case starts from bars all at kUntouched; `rows` gives, bar by bar
    // from `first`, the row whose click level the bar must hold (-1: cleared,
    // -2: left alone). Bars outside the list are left alone.
    constexpr float kUntouched = 0.7f;
    const struct {
        const char* name;
        int x0, y0, x1, y1;
        bool set;
        int first;
        std::vector<int> rows;
    } cases[] = {
        {"partial 3 to partial 21 at one height", 17, 150, 107, 150, true, 2,
         {-2, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, 150, -2}},
        // Bar b's centre is x = 5b + 2, a tenth of the way per bar: row 10b.
        {"a slope", 2, 0, 52, 100, true, 0, {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, -2}},
        {"the same slope drawn backwards", 52, 100, 2, 0, true, 0, {0, 10, 20, 30, 40, 50, 60, 70, 80, 90, 100, -2}},
        {"rows between pixels round to the nearest", 2, 0, 17, 10, true, 0, {0, 3, 7, 10, -2}},
        {"the right button clears", 2, 0, 52, 100, false, 0, {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -2}},
        {"within one bar only the end counts", 12, 100, 14, 200, true, 1, {-2, 200, -2}},
        {"bars whose point lies above the editor are left", 2, -50, 52, 250, true, 0,
         {-2, -2, 10, 40, 70, 100, 130, 160, 190, 220, 250, -2}},
        {"and below it", 2, 250, 52, 350, true, 0,
         {250, 260, 270, 280, 290, -2, -2, -2, -2, -2, -2, -2}},
        {"from left of the bars", -100, 150, 12, 150, true, 0, {150, 150, 150, -2}},
        {"to right of the bars", 627, 150, 700, 150, true, 124, {-2, 150, 150, 150}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        HarmonicSpectrum s;
        std::fill(std::begin(s.level), std::end(s.level), kUntouched);
        const bool touched = StrokeHarmonics(s.level, {c.x0, c.y0}, {c.x1, c.y1}, 300, 2.0f, c.set);
        EXPECT_TRUE(touched);
        for (int bar = 0; bar < NUM_PARTIALS; ++bar) {
            const size_t k = static_cast<size_t>(bar - c.first);
            const int row = bar >= c.first && k < c.rows.size() ? c.rows[k] : -2;
            const float expected = row == -2 ? kUntouched : row == -1 ? 0.0f : HarmonicsClickLevel(row, 300, 2.0f);
            EXPECT_EQ(s.level[bar], expected) << "bar " << bar;
        }
    }
    // A stretch wholly outside the editor changes nothing and says so.
    HarmonicSpectrum s{};
    EXPECT_FALSE(StrokeHarmonics(s.level, {20, -10}, {300, -40}, 300, 2.0f, true));
    EXPECT_FALSE(StrokeHarmonics(s.level, {650, 10}, {900, 40}, 300, 2.0f, true));
    for (float v : s.level)
        EXPECT_EQ(v, 0.0f);
}

TEST(SpectrumFigures, TheSumRunsInPartialOrderInAFloat)
{
    HarmonicSpectrum s{};
    s.level[0] = 1.0f;
    for (int h = 1; h < NUM_PARTIALS; ++h)
        s.level[h] = 1e-8f; // each too small to move 1.0f on its own
    EXPECT_EQ(SpectrumSum(s.level), 1.0f);
    EXPECT_EQ(SpectrumSum(DefaultSpectrum().level), 0.5f);
}

TEST(Normalize, Cases)
{
    { // the default spectrum for target 2: d = 1, unchanged but reported
        HarmonicSpectrum s = DefaultSpectrum();
        EXPECT_TRUE(NormalizeLevels(s.level, 2));
        EXPECT_EQ(s.level[0], 0.5f);
    }
    { // target 3: 0.5 / 1.5
        HarmonicSpectrum s = DefaultSpectrum();
        EXPECT_TRUE(NormalizeLevels(s.level, 3));
        EXPECT_EQ(s.level[0], 0.33333334f);
    }
    { // Saw before and after
        HarmonicSpectrum s = WaveformSpectrum(1);
        const float before = SpectrumSum(s.level);
        EXPECT_NEAR(before, 5.4332f, 1e-3f);
        EXPECT_TRUE(NormalizeLevels(s.level, 2));
        EXPECT_NEAR(SpectrumSum(s.level), 0.5f, 1e-6f);
        EXPECT_EQ(s.level[0], 1.0f / static_cast<float>(2.0 * static_cast<double>(before)));
    }
    { // Noise for target 2: every level 1 / 256
        HarmonicSpectrum s = WaveformSpectrum(3);
        EXPECT_TRUE(NormalizeLevels(s.level, 2));
        for (float v : s.level)
            EXPECT_EQ(v, 0.00390625f);
    }
    { // target 0 and below: nothing at all
        HarmonicSpectrum s = WaveformSpectrum(1);
        EXPECT_FALSE(NormalizeLevels(s.level, 0));
        EXPECT_FALSE(NormalizeLevels(s.level, -3));
        EXPECT_EQ(s.level[1], 0.5f);
    }
    { // all zero: d = 0, left at zero, still reported
        HarmonicSpectrum s{};
        EXPECT_TRUE(NormalizeLevels(s.level, 2));
        for (float v : s.level)
            EXPECT_EQ(v, 0.0f);
    }
    { // a negative sum divides by a negative d
        HarmonicSpectrum s{};
        s.level[0] = 0.25f;
        s.level[1] = -0.5f;
        EXPECT_TRUE(NormalizeLevels(s.level, 2));
        EXPECT_EQ(s.level[0], -0.5f);
        EXPECT_EQ(s.level[1], 1.0f);
    }
    { // target 102 (the spin pressed up a hundred times from 2)
        HarmonicSpectrum s = DefaultSpectrum();
        EXPECT_TRUE(NormalizeLevels(s.level, 102));
        EXPECT_FLOAT_EQ(SpectrumSum(s.level), 1.0f / 102.0f);
    }
}

TEST(WaveformSpectrum, EachShape)
{
    EXPECT_STREQ(HarmonicWaveformName(0), "Square");
    EXPECT_STREQ(HarmonicWaveformName(3), "Noise");
    const HarmonicSpectrum square = WaveformSpectrum(0);
    const HarmonicSpectrum saw = WaveformSpectrum(1);
    const HarmonicSpectrum triangle = WaveformSpectrum(2);
    const HarmonicSpectrum noise = WaveformSpectrum(3);
    for (int i = 0; i < NUM_PARTIALS; ++i) {
        SCOPED_TRACE(i);
        const int n = i + 1;
        EXPECT_EQ(square.level[i], n % 2 == 1 ? 1.0f / static_cast<float>(n) : 0.0f);
        EXPECT_EQ(saw.level[i], 1.0f / static_cast<float>(n));
        EXPECT_EQ(triangle.level[i], i % 4 == 0 ? 1.0f / static_cast<float>(n * n) : 0.0f);
        EXPECT_EQ(noise.level[i], 1.0f);
    }
    EXPECT_EQ(square.level[1], 0.0f);
    EXPECT_EQ(square.level[126], 1.0f / 127.0f);
    EXPECT_EQ(triangle.level[2], 0.0f); // partial 3: every fourth, not every odd
    EXPECT_EQ(triangle.level[4], 1.0f / 25.0f);
    EXPECT_EQ(triangle.level[8], 1.0f / 81.0f);
    EXPECT_EQ(triangle.level[124], 1.0f / 15625.0f);
    for (int bad : {-1, 4, 100})
        for (float v : WaveformSpectrum(bad).level)
            EXPECT_EQ(v, 0.0f);
}

SliderGeometry Horizontal()
{
    SliderGeometry g;
    g.width = 211;
    g.height = 24;
    g.thumbWidth = 11;
    g.thumbHeight = 20;
    g.style = SLIDER_HORIZONTAL;
    g.maxValue = 1000.0f;
    return g;
}

SliderGeometry Wheel()
{
    SliderGeometry g;
    g.width = 30;
    g.height = 108;
    g.thumbWidth = 24;
    g.thumbHeight = 10;
    g.style = SLIDER_VERTICAL | SLIDER_INVERSE;
    g.maxValue = 16383.0f;
    return g;
}

TEST(SliderMath, ValueOfAPress)
{
    const SliderGeometry h = Horizontal();
    const SliderGeometry w = Wheel();
    SliderGeometry hInverse = h;
    hInverse.style |= SLIDER_INVERSE;
    SliderGeometry vPlain = w;
    vPlain.thumbWidth = vPlain.thumbHeight = 0;
    vPlain.style = SLIDER_VERTICAL;
    SliderGeometry hPlain = h;
    hPlain.thumbWidth = hPlain.thumbHeight = 0;
    hPlain.width = 200;
    SliderGeometry nonZeroMin = h;
    nonZeroMin.minValue = 100.0f;
    const struct {
        const char* name;
        SliderGeometry g;
        int x, y;
        float value;
    } cases[] = {
        {"h left end", h, 5, 12, 0.0f},
        {"h middle", h, 105, 12, 500.0f},
        {"h right end, clamped from 1025", h, 210, 12, 1000.0f},
        {"h left of the track, clamped", h, 0, 12, 0.0f},
        {"h ignores y", h, 105, -40, 500.0f},
        {"h inverse left end", hInverse, 5, 12, 1000.0f},
        {"h inverse three quarters", hInverse, 155, 12, 250.0f},
        {"wheel top", w, 15, 5, 16383.0f},
        {"wheel bottom", w, 15, 103, 0.0f},
        {"wheel centre", w, 15, 54, 16383.0f - 49.0f / 98.0f * 16383.0f},
        {"wheel above, clamped", w, 15, -30, 16383.0f},
        {"wheel below, clamped", w, 15, 300, 0.0f},
        {"plain vertical", vPlain, 0, 27, 27.0f / 108.0f * 16383.0f},
        {"plain horizontal", hPlain, 100, 0, 500.0f},
        {"minimum holds", nonZeroMin, 10, 12, 100.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FLOAT_EQ(SliderValueAt(c.g, c.x, c.y), c.value);
    }
}

TEST(SliderMath, ThumbAndMarkerPositions)
{
    const SliderGeometry h = Horizontal();
    const SliderGeometry w = Wheel();
    EXPECT_EQ(SliderThumbOffset(w, 16383.0f), 0);
    EXPECT_EQ(SliderThumbOffset(w, 0.0f), 98);
    EXPECT_EQ(SliderThumbOffset(w, 8192.0f), 98 - 49);
    EXPECT_EQ(SliderThumbOffset(h, 0.0f), 0);
    EXPECT_EQ(SliderThumbOffset(h, 500.0f), 100);
    EXPECT_EQ(SliderThumbOffset(h, 1000.0f), 200);
    EXPECT_EQ(SliderThumbOffset(h, 2000.0f), 400); // beyond the track's end, not clamped
    EXPECT_EQ(SliderThumbOffset(h, 1e30f), 1000000);

    SliderGeometry plain = w;
    plain.thumbWidth = plain.thumbHeight = 0;
    // An inverse slider's marker follows the pointer: the top for the maximum.
    EXPECT_EQ(SliderPlainMarkerOffset(plain, 16383.0f), -2);
    EXPECT_EQ(SliderPlainMarkerOffset(plain, 0.0f), 106);
    plain.style = SLIDER_HORIZONTAL;
    plain.width = 211;
    plain.maxValue = 1000.0f;
    EXPECT_EQ(SliderPlainMarkerOffset(plain, 500.0f), 103); // 105.5 - 2 truncated
}

TEST(SliderMath, EventIntegerAndDegenerateSizes)
{
    EXPECT_EQ(SliderEventInt(999.7f), 999);
    EXPECT_EQ(SliderEventInt(-0.5f), 0);
    EXPECT_EQ(SliderEventInt(16383.0f), 16383);
    EXPECT_EQ(SliderEventInt(1e20f), 2000000000);
    // A slider no bigger than its thumb gives an end value, never NaN.
    SliderGeometry tiny = Horizontal();
    tiny.width = 11;
    const float v = SliderValueAt(tiny, 3, 0);
    EXPECT_FALSE(std::isnan(v));
    EXPECT_GE(v, 0.0f);
    EXPECT_LE(v, 1000.0f);
}

} // namespace
