// The engine at another sample rate (a device that only plays 48000 Hz): the
// note frequencies, the envelope times and the LFO keep their meaning in Hz
// and milliseconds, and marovane-render writes a file at the rate asked for.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "synth/SynthState.h"
#include "support/EngineTestAccess.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Renders note 69 held for `held` buffers, then released, until silent;
// returns the left channel.
std::vector<float> PlayA440(SynthState& s, int held)
{
    std::vector<float> left;
    float buf[2 * MAX_FRAMES];
    s.StartNote(69);
    for (int b = 0; b < held + 40; ++b) {
        if (b == held)
            s.ReleaseNote(69);
        SynthStateTestAccess::Render(s, buf, MAX_FRAMES);
        for (int i = 0; i < MAX_FRAMES; ++i)
            left.push_back(buf[2 * i]);
    }
    return left;
}

TEST(SampleRate, PitchEnvelopeAndLfoFollowTheRate)
{
    for (int rate : {44100, 48000, 96000, 22050}) {
        SCOPED_TRACE(rate);
        auto s = std::make_unique<SynthState>();
        s->SetSampleRate(rate);
        EXPECT_EQ(s->SampleRate(), rate);
        EXPECT_EQ(SynthStateTestAccess::MsPerSample(*s), 1000.0f / static_cast<float>(rate));

        const int held = 8;
        const std::vector<float> x = PlayA440(*s, held);
        // 440 Hz at this rate, peak 0.5, from the second frame on.
        for (int i = 1; i < held * MAX_FRAMES; ++i)
            ASSERT_NEAR(x[i], 0.5 * std::sin(2 * kPi * 440.0 * i / rate), 2e-4) << "frame " << i;
        // The default 10 ms release lasts rate / 100 frames, wherever it starts.
        size_t last = 0;
        for (size_t i = 0; i < x.size(); ++i)
            if (x[i] != 0.0f)
                last = i;
        const double releaseFrames = static_cast<double>(last + 1) - held * MAX_FRAMES;
        EXPECT_NEAR(releaseFrames, rate / 100.0, 1.0);

        // An LFO of rate / 512 Hz takes 512 frames a cycle: half a cycle a buffer.
        auto t = std::make_unique<SynthState>();
        t->SetSampleRate(rate);
        ChangeSound(*t, [rate](Sound& sound) { sound.lfoFrequency = static_cast<float>(rate) / 512; });
        float buf[2 * MAX_FRAMES];
        SynthStateTestAccess::Render(*t, buf, MAX_FRAMES);
        EXPECT_NEAR(SynthStateTestAccess::LfoPhase(*t), 0.5f, 1e-5f);
    }
}

TEST(SampleRate, RatesNoDeviceHasAreIgnored)
{
    auto s = std::make_unique<SynthState>();
    EXPECT_EQ(s->SampleRate(), 44100);
    s->SetSampleRate(48000);
    for (int bad : {0, -48000, 999, 10000000}) {
        s->SetSampleRate(bad);
        EXPECT_EQ(s->SampleRate(), 48000) << bad;
        EXPECT_EQ(SynthStateTestAccess::MsPerSample(*s), 1000.0f / 48000.0f) << bad;
    }
}

struct ToolRun {
    int status;
    std::string out;
};

ToolRun Render(const std::string& args)
{
    const std::string tool = std::string(std::getenv("MAROVANE_BIN_DIR")) + "/marovane-render";
    FILE* p = popen((tool + " " + args + " 2>&1").c_str(), "r");
    ToolRun r{};
    char buf[512];
    while (fgets(buf, sizeof buf, p))
        r.out += buf;
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

TEST(SampleRate, RenderToolWritesTheRateAskedFor)
{
    const std::string wav = ::testing::TempDir() + "rate48k.wav";
    const ToolRun r = Render("--rate 48000 --hold 0.5 -o " + wav + " 60");
    ASSERT_EQ(r.status, 0) << r.out;
    SF_INFO info{};
    SNDFILE* f = sf_open(wav.c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    std::vector<float> data(static_cast<size_t>(info.frames) * info.channels);
    sf_readf_float(f, data.data(), info.frames);
    sf_close(f);
    EXPECT_EQ(info.samplerate, 48000);
    // Half a second held: ceil(0.5 * 48000 / 256) = 94 buffers, then the 10 ms
    // (480-frame) release in two more.
    EXPECT_EQ(info.frames, (94 + 2) * 256);
    for (int i = 1; i < 94 * 256; ++i)
        ASSERT_NEAR(data[2 * i], 0.5 * std::sin(2 * kPi * 261.626 * i / 48000), 5e-4) << i;

    for (const char* bad : {"0", "7999", "192001", "48k", ""}) {
        const ToolRun b = Render(std::string("--rate '") + bad + "' -o " + wav + " 60");
        EXPECT_NE(b.status, 0) << bad;
        EXPECT_NE(b.out.find("--rate"), std::string::npos) << b.out;
    }
}

} // namespace
