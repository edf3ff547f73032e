// MIDI input on time: the real program on a JACK dummy server at periods of
// 64, 256 and 1024 frames, played by a JACK client of the test's own that
// sends each Note On at an exact frame (spacings of 22,050 frames and odd
// ones), recorded by the same client on the same frame count. Each note's
// onset in the recording must keep its distance from the note before to
// within 1 ms (44 frames): the program plays every message at its own frame,
// a constant latency after it came.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#include "app/TestProcess.h"
#include "e2e/JackMidiClient.h"
#include "e2e/PlayedProgram.h"
#include "e2e/Recording.h"
#include "support/GuiTest.h"

namespace {

using testproc::Child;
using testproc::Output;

using e2e::ProgramPath;

// 1 ms at 44.1 kHz.
constexpr long kTolerance = 44;
// The spacings between successive Note Ons, in frames.
const std::vector<uint64_t> kSpacings{22050, 10001, 22050, 7919, 13313, 22050, 10001, 8191, 22050, 9973};

class MidiTiming : public testing::TestWithParam<int> {};

TEST_P(MidiTiming, NotesKeepTheirSpacingToTheMillisecond)
{
    const int period = GetParam();
    ASSERT_FALSE(ProgramPath().empty());
    testproc::JackServer jack("e2e-timing-" + std::to_string(period), true, period);
    ASSERT_TRUE(jack.Ready());
    e2e::JackMidiClient keys("mrv-keys", 30.0);
    ASSERT_TRUE(keys.Ok());
    Child marovane;
    std::string window;
    ASSERT_NO_FATAL_FAILURE(e2e::StartProgramPlayedBy(keys, "mrv-keys", marovane, window));
    ASSERT_TRUE(Eventually([&] { return keys.Recorded() > 22050; }, 10s));

    // Each note held for 50 ms, the next starting from silence. The first
    // comes 6 frames before the end of a cycle (and of a 256-frame block),
    // so that a note put off to a buffer's start would be heard late by
    // almost a period, the next ones by other amounts.
    const uint64_t cycle = keys.FirstRecordedFrame() + keys.Recorded(); // recorded whole cycles
    const uint64_t block = std::max<uint64_t>(static_cast<uint64_t>(period), 256);
    const uint64_t first = cycle + 22050 - 22050 % block + block - 6;
    std::vector<size_t> tickets;
    uint64_t at = first;
    for (size_t k = 0; k <= kSpacings.size(); ++k) {
        tickets.push_back(keys.SendAt({0x90, 69, 100}, at));
        keys.SendAt({0x80, 69, 0}, at + 2205);
        if (k < kSpacings.size())
            at += kSpacings[k];
    }
    ASSERT_TRUE(Eventually([&] { return keys.AllSent(); }, 30s));
    const size_t end = static_cast<size_t>(at - keys.FirstRecordedFrame()) + 22050;
    ASSERT_TRUE(Eventually([&] { return keys.Recorded() >= end; }, 30s));

    // Each note's onset: the sine starts at phase 0, so the sample before
    // the first non-zero one. A note whose start fell into a cycle the
    // recorder missed is not judged, nor the spacing on either side of it.
    // The spacings are judged against the frames the notes went out at
    // (the planned ones, unless the test's client missed the cycle of one).
    const std::vector<float>& x = keys.Left();
    std::vector<long> onset;
    std::vector<uint64_t> sentAt;
    for (size_t k = 0; k < tickets.size(); ++k) {
        const uint64_t sent = keys.SentFrame(tickets[k]);
        sentAt.push_back(sent);
        if (sent != first + std::accumulate(kSpacings.begin(), kSpacings.begin() + static_cast<long>(k), 0ull))
            std::printf("Period %d: note %zu went out at frame %llu, not at its planned frame\n", period, k,
                        static_cast<unsigned long long>(sent));
        size_t from = static_cast<size_t>(sent - keys.FirstRecordedFrame());
        const size_t until = from + 7000;
        if (!keys.Whole(from, until)) {
            onset.push_back(-1);
            continue;
        }
        size_t i = from;
        while (i < until && x[i] == 0.0f)
            ++i;
        ASSERT_LT(i, until) << "note " << k << " never sounded";
        onset.push_back(static_cast<long>(i) - 1);
    }
    long worst = 0;
    int judged = 0;
    for (size_t k = 0; k < kSpacings.size(); ++k) {
        if (onset[k] < 0 || onset[k + 1] < 0)
            continue;
        ++judged;
        const auto spacing = static_cast<long>(sentAt[k + 1] - sentAt[k]);
        const long error = onset[k + 1] - onset[k] - spacing;
        worst = std::max(worst, std::labs(error));
        EXPECT_LE(std::labs(error), kTolerance)
            << "at a period of " << period << ": notes sent " << spacing << " frames apart sounded "
            << onset[k + 1] - onset[k] << " frames apart";
    }
    std::printf("Period %d: the largest onset spacing error over %d spacings is %ld frames\n", period, judged,
                worst);
    RecordProperty("max_spacing_error_frames", static_cast<int>(worst));
    EXPECT_GE(judged, static_cast<int>(kSpacings.size()) / 2) << "the recorder missed too many cycles to judge";

    Output("xdotool windowactivate --sync " + window + " key alt+F4");
    EXPECT_EQ(marovane.Wait(15s), std::optional<int>(0));
}

INSTANTIATE_TEST_SUITE_P(Periods, MidiTiming, testing::Values(64, 256, 1024),
                         [](const testing::TestParamInfo<int>& info) {
                             return "Period" + std::to_string(info.param);
                         });

} // namespace
