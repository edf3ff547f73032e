// Runs the real marovane-render and reads back the file it wrote.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

std::string Tool() { return std::string(std::getenv("MAROVANE_BIN_DIR")) + "/marovane-render"; }
std::string Temp(const std::string& name) { return ::testing::TempDir() + name; }
bool Exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

struct ToolRun {
    int status;
    std::string out, err;
};

ToolRun Exec(const std::string& args)
{
    const std::string err = Temp("render_stderr.txt");
    FILE* p = popen((Tool() + " " + args + " 2>" + err).c_str(), "r");
    ToolRun r{};
    char buf[512];
    while (fgets(buf, sizeof buf, p))
        r.out += buf;
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    std::ifstream e(err);
    r.err.assign(std::istreambuf_iterator<char>(e), {});
    return r;
}

std::vector<float> ReadWav(const std::string& path, SF_INFO& info)
{
    info = {};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
    if (!f)
        return {};
    std::vector<float> data(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(f, data.data(), info.frames);
    sf_close(f);
    return data;
}

TEST(RenderTool, DefaultNote69IsA440SineOfHalfScale)
{
    const std::string wav = Temp("render_a440.wav");
    const ToolRun r = Exec("-o " + wav + " 69");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("44800 frames"), std::string::npos) << r.out;

    SF_INFO info;
    const std::vector<float> data = ReadWav(wav, info);
    EXPECT_EQ(info.samplerate, 44100);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    // One second: ceil(44100 / 256) = 173 held buffers, then the 10 ms release
    // (441 frames) ends in the second buffer after it.
    EXPECT_EQ(info.frames, (173 + 2) * 256);
    float peak = 0;
    for (sf_count_t i = 1; i < 173 * 256; ++i) {
        ASSERT_EQ(data[2 * i], data[2 * i + 1]);
        ASSERT_NEAR(data[2 * i], 0.5 * std::sin(2 * kPi * 440.0 * static_cast<double>(i) / 44100), 1e-3) << i;
        peak = std::max(peak, std::fabs(data[2 * i]));
    }
    EXPECT_NEAR(peak, 0.5f, 1e-4f);
    EXPECT_EQ(data[2 * (info.frames - 1)], 0.0f);
    std::remove(wav.c_str());
}

TEST(RenderTool, TimelineFollowsHoldVelocityAndPatch)
{
    const std::string patch = Temp("render_patch.mrvn");
    std::ofstream(patch) << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Settings><Sustain Sustain=\"100\"/>"
                            "<Release Release=\"100\"/><SustainHarmonic1 SustainHarmonic1=\"0.5\"/></Settings>\n";
    const std::string wav = Temp("render_patch.wav");
    const ToolRun r = Exec("--patch " + patch + " --hold 0.5 --velocity 127 --pitch-wheel 0 -o " + wav + " 81");
    ASSERT_EQ(r.status, 0) << r.err;
    SF_INFO info;
    const std::vector<float> data = ReadWav(wav, info);
    // ceil(0.5 * 44100 / 256) = 87 held buffers; 100 ms of release is 4410
    // frames, ending in the 18th buffer after the release.
    EXPECT_EQ(info.frames, (87 + 18) * 256);
    // Partial 2 of note 81 (880 Hz) bent down two semitones: 1568 Hz, near 0.5.
    const double hz = 2 * 880.0 * 0.8908987181403393;
    for (int i = 1000; i < 1100; ++i)
        ASSERT_NEAR(data[2 * i], 0.5 * std::sin(2 * kPi * hz * i / 44100), 5e-4) << i;
    std::remove(wav.c_str());
    std::remove(patch.c_str());
}

TEST(RenderTool, BadInputLeavesNoFile)
{
    const std::string broken = Temp("render_broken.mrvn");
    std::ofstream(broken) << "<Settings><Attack Attack=\"5\"></Settings>";
    const std::string wav = Temp("render_bad.wav");
    const std::pair<std::string, std::string> cases[] = {
        {"--frobnicate -o " + wav + " 60", "unknown option"},
        {"-o " + wav + " 128", "note"},
        {"-o " + wav + " -1", "unknown option"},
        {"-o " + wav + " C4", "note"},
        {"--velocity 0 -o " + wav + " 60", "--velocity"},
        {"--velocity 128 -o " + wav + " 60", "--velocity"},
        {"--pitch-wheel 16384 -o " + wav + " 60", "--pitch-wheel"},
        {"--mod-wheel -1 -o " + wav + " 60", "--mod-wheel"},
        {"--hold -1 -o " + wav + " 60", "--hold"},
        {"--hold abc -o " + wav + " 60", "--hold"},
        {"--patch /nonexistent.mrvn -o " + wav + " 60", "/nonexistent.mrvn"},
        {"--patch " + broken + " -o " + wav + " 60", "well-formed"},
        {"-o /nonexistent-dir/out.wav 60", "/nonexistent-dir/out.wav"},
        {wav + " 60", "-o"},
        {"-o " + wav, "no notes"},
    };
    for (const auto& [args, word] : cases) {
        const ToolRun r = Exec(args);
        EXPECT_NE(r.status, 0) << args;
        EXPECT_NE(r.err.find(word), std::string::npos) << args << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << args << ": " << r.err;
        EXPECT_TRUE(r.out.empty()) << args;
        EXPECT_FALSE(Exists(wav)) << args;
        EXPECT_FALSE(Exists("/nonexistent-dir/out.wav"));
    }
    std::remove(broken.c_str());
}

} // namespace
