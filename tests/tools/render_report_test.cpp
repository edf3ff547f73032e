// The words of the renderer's summary and warnings.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "render/RenderReport.h"

namespace {

TEST(RenderReport, PaceSaysFasterOrSlower)
{
    const struct Case {
        double audio, elapsed;
        const char* text;
    } cases[] = {
        {10.0, 1.0, "10.0x faster than real time"}, {1.0, 1.0, "1.0x faster than real time"},
        {1.0, 2.0, "2.0x slower than real time"},   {0.5, 3.0, "6.0x slower than real time"},
        {1.0, 0.0, "faster than the clock can tell"}, {0.0, 1.0, "no audio to time"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PaceText(c.audio, c.elapsed), c.text) << c.audio << " / " << c.elapsed;
}

TEST(RenderReport, FullScaleWarningNamesThePeak)
{
    EXPECT_EQ(FullScaleWarning(0.0f), "");
    EXPECT_EQ(FullScaleWarning(1.0f), "") << "full scale itself is not over it";
    EXPECT_EQ(FullScaleWarning(1.0001f), "the sound went over full scale: its peak is 1.000 (+0.0 dB); a player will clip it");
    EXPECT_EQ(FullScaleWarning(4.0f), "the sound went over full scale: its peak is 4.000 (+12.0 dB); a player will clip it");
    EXPECT_EQ(FullScaleWarning(3.0e38f),
              "the sound went over full scale: its peak is 3e+38 (+769.5 dB); a player will clip it");
}

TEST(RenderReport, PeakIsTheLargestMagnitude)
{
    const std::vector<float> samples = {0.25f, -1.5f, 1.25f, 0.0f};
    EXPECT_EQ(Peak(samples.data(), samples.size(), 0.0f), 1.5f);
    EXPECT_EQ(Peak(samples.data(), samples.size(), 2.0f), 2.0f) << "the peak so far, when larger";
    EXPECT_EQ(Peak(samples.data(), 0, 0.5f), 0.5f);
}

} // namespace
