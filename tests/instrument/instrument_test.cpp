// The instrument without a window or a sound server: the bytes it sends for
// Panic, the bank and patch selectors and the wheels, what it shows, and
// patch loading.
#include <gtest/gtest.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "app/Instrument.h"

namespace {

using Message = std::vector<uint8_t>;

// Records what the instrument shows, in order.
struct RecordingDisplay : InstrumentDisplay, KeyDisplay {
    std::vector<std::string> shown;
    void ShowModWheel(int v) override { shown.push_back("mod " + std::to_string(v)); }
    void ShowPitchWheel(int v) override { shown.push_back("pitch " + std::to_string(v)); }
    void ShowBank(int b) override { shown.push_back("bank " + std::to_string(b)); }
    void ShowPatch(int p) override { shown.push_back("patch " + std::to_string(p)); }
    void ShowSound() override { shown.push_back("sound"); }
    void ShowKeyDown(int note) override { shown.push_back("down " + std::to_string(note)); }
    void ShowKeyUp(int note) override { shown.push_back("up " + std::to_string(note)); }
    void ClearAllKeys() override { shown.push_back("clear"); }
};

struct RecordingPort : MidiOutputPort {
    std::vector<Message> sent;
    void Send(const Message& m) override { sent.push_back(m); }
};

class InstrumentTest : public testing::Test {
protected:
    RecordingDisplay display;
    RecordingPort port;
    std::unique_ptr<Instrument> instrument = std::make_unique<Instrument>(display, display);
    std::vector<Message> monitored;

    void SetUp() override
    {
        instrument->SetMidiOutputPort(&port);
        instrument->SetMidiMonitor([this](const Message& m) { monitored.push_back(m); });
    }
    void OutputOn(int channel)
    {
        instrument->SetMidiOutputEnabled(true);
        instrument->SetMidiOutputChannel(channel);
    }
    void Clear()
    {
        port.sent.clear();
        monitored.clear();
        display.shown.clear();
    }
};

TEST_F(InstrumentTest, StartsWithOutputOffAndTheSelectorsAtOne)
{
    EXPECT_FALSE(instrument->MidiOutputEnabled());
    EXPECT_EQ(instrument->MidiOutputChannel(), 1);
    EXPECT_EQ(instrument->MidiInputChannel(), 1);
    EXPECT_EQ(instrument->CurrentBank(), 1);
    EXPECT_EQ(instrument->CurrentPatch(), 1);
    instrument->NoteOn(60, false);
    instrument->Panic();
    EXPECT_TRUE(port.sent.empty());
}

TEST_F(InstrumentTest, PanicReleasesNotesThenResetsControllersThenSoundOff)
{
    // The channel first: a channel change releases the notes held.
    OutputOn(2);
    instrument->NoteOn(60, false);
    instrument->NoteOn(64, true);
    instrument->MoveModWheel(9000.0f);
    instrument->MovePitchWheel(3000.0f);
    Clear();
    instrument->Panic();
    const std::vector<Message> expected = {
        {0x81, 60, 0}, {0x81, 64, 0}, {0xB1, 123, 0}, {0xB1, 121, 0}, {0xB1, 120, 0}};
    EXPECT_EQ(port.sent, expected);
    EXPECT_EQ(monitored, expected) << "the monitor hears the same";
    EXPECT_FALSE(instrument->Synth().IsKeyDown(60));
    EXPECT_FALSE(instrument->Synth().IsKeyDown(64));
    EXPECT_EQ(instrument->Synth().modWheelDepth, 0.0f);
    EXPECT_EQ(instrument->Synth().pitchWheel, 8192.0f);
    const std::vector<std::string> shown = {"up 60", "up 64", "clear", "mod 0", "pitch 8192"};
    EXPECT_EQ(display.shown, shown);

    // Output off: the same reset, and nothing sent.
    instrument->SetMidiOutputEnabled(false);
    instrument->NoteOn(70, false);
    instrument->MoveModWheel(500.0f);
    Clear();
    instrument->Panic();
    EXPECT_TRUE(port.sent.empty());
    EXPECT_FALSE(instrument->Synth().IsKeyDown(70));
    EXPECT_EQ(instrument->Synth().modWheelDepth, 0.0f);
}

TEST_F(InstrumentTest, BankAndPatchStepsWrapBetween1And128)
{
    struct Case {
        const char* what;
        bool bank;
        int from, step, shown;
        std::vector<Message> sent; // output on channel 3, patch 5 current
    };
    const Case cases[] = {
        {"bank up from 128", true, 128, +1, 1, {{0xB2, 0, 0}, {0xC2, 4}}},
        {"bank down from 1", true, 1, -1, 128, {{0xB2, 0, 127}, {0xC2, 4}}},
        {"bank up from 7", true, 7, +1, 8, {{0xB2, 0, 7}, {0xC2, 4}}},
        {"patch down from 1", false, 1, -1, 128, {{0xC2, 127}}},
        {"patch up from 128", false, 128, +1, 1, {{0xC2, 0}}},
        {"patch up from 64", false, 64, +1, 65, {{0xC2, 64}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        instrument->SetMidiOutputEnabled(false);
        instrument->SetPatch(5, false);
        if (c.bank)
            instrument->SetBank(c.from, false);
        else
            instrument->SetPatch(c.from, false);
        OutputOn(3);
        Clear();
        if (c.bank)
            instrument->StepBank(c.step);
        else
            instrument->StepPatch(c.step);
        EXPECT_EQ(port.sent, c.sent);
        EXPECT_EQ(c.bank ? instrument->CurrentBank() : instrument->CurrentPatch(), c.shown);
        ASSERT_FALSE(display.shown.empty());
        EXPECT_EQ(display.shown.front(), (c.bank ? "bank " : "patch ") + std::to_string(c.shown));
    }
    // A number from MIDI input is shown and kept, not sent back.
    Clear();
    instrument->SetBank(9, true);
    instrument->SetPatch(10, true);
    EXPECT_TRUE(port.sent.empty());
    EXPECT_EQ(instrument->CurrentBank(), 9);
    EXPECT_EQ(instrument->CurrentPatch(), 10);
    EXPECT_EQ(display.shown, (std::vector<std::string>{"bank 9", "patch 10"}));
}

TEST_F(InstrumentTest, WheelsSendTheirBytes)
{
    OutputOn(1);
    struct Case {
        float value;
        Message bend;             // Pitch Bend: v % 128, v / 128
        Message coarse, fine;     // controller 1: v / 128, controller 33: v % 128
        float depth;
    };
    const Case cases[] = {
        {0.0f, {0xE0, 0, 0}, {0xB0, 1, 0}, {0xB0, 33, 0}, 0.0f},
        {8192.0f, {0xE0, 0, 64}, {0xB0, 1, 64}, {0xB0, 33, 0}, 8192.0f / 16383.0f},
        {16383.0f, {0xE0, 127, 127}, {0xB0, 1, 127}, {0xB0, 33, 127}, 1.0f},
        {1000.9f, {0xE0, 104, 7}, {0xB0, 1, 7}, {0xB0, 33, 104}, 1000.0f / 16383.0f},
        // Beyond the wheel: held at its ends, never a byte above 127.
        {99999999999.0f, {0xE0, 127, 127}, {0xB0, 1, 127}, {0xB0, 33, 127}, 1.0f},
        {-5.0f, {0xE0, 0, 0}, {0xB0, 1, 0}, {0xB0, 33, 0}, 0.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        Clear();
        instrument->MovePitchWheel(c.value);
        EXPECT_EQ(instrument->Synth().pitchWheel, c.value) << "the render bends by the exact position";
        instrument->MoveModWheel(c.value);
        EXPECT_EQ(port.sent, (std::vector<Message>{c.bend, c.coarse, c.fine}));
        EXPECT_EQ(instrument->Synth().modWheelDepth, c.depth);
    }
    Clear();
    instrument->ReleasePitchWheel();
    EXPECT_EQ(port.sent, (std::vector<Message>{{0xE0, 0, 64}}));
    EXPECT_EQ(display.shown, (std::vector<std::string>{"pitch 8192"}));
    EXPECT_EQ(instrument->Synth().pitchWheel, 8192.0f);

    // Output off: the depth still follows.
    instrument->SetMidiOutputEnabled(false);
    Clear();
    instrument->MoveModWheel(16383.0f);
    EXPECT_TRUE(port.sent.empty());
    EXPECT_EQ(instrument->Synth().modWheelDepth, 1.0f);
}

TEST_F(InstrumentTest, AnArrowStepMovesTheModWheelATenthOfItsMaximum)
{
    OutputOn(1);
    struct Case {
        int from;
        bool up;
        int to;
    } cases[] = {
        {0, true, 1638},      {1638, true, 3276},     {16000, true, 16383}, {1000, false, 0},
        {16383, false, 14744}, {INT_MAX, true, 16383}, {INT_MIN, false, 0},  {-5, true, 1633},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.from) + (c.up ? " up" : " down"));
        Clear();
        instrument->StepModWheel(c.from, c.up);
        EXPECT_EQ(display.shown, (std::vector<std::string>{"mod " + std::to_string(c.to)}));
        EXPECT_EQ(instrument->Synth().modWheelDepth, c.to / 16383.0f);
        ASSERT_EQ(port.sent.size(), 2u);
        EXPECT_EQ(port.sent[0], (Message{0xB0, 1, static_cast<uint8_t>(c.to / 128)}));
    }
}

class PatchFile {
public:
    explicit PatchFile(const std::string& text)
        : path_(testing::TempDir() + "instrument-" + std::to_string(counter_++) + ".mrvn")
    {
        std::ofstream(path_) << text;
    }
    ~PatchFile() { std::remove(path_.c_str()); }
    const std::string& Path() const { return path_; }

private:
    static inline int counter_ = 0;
    std::string path_;
};

TEST_F(InstrumentTest, APatchSetsTheSoundAndShowsTheWheelButNotItsDepth)
{
    const PatchFile file("<?xml version=\"1.0\"?><Settings><Attack Attack=\"250\"/>"
                         "<ModWheel ModWheel=\"99999999999\"/><SustainHarmonic2 SustainHarmonic2=\"0.25\"/>"
                         "</Settings>");
    const PatchLoadResult r = instrument->LoadPatch(file.Path());
    ASSERT_TRUE(r.Loaded()) << r.message;
    EXPECT_TRUE(r.message.empty());
    EXPECT_EQ(instrument->Synth().attackMs, 250);
    EXPECT_EQ(instrument->Synth().SustainLevel(2), 0.25f);
    EXPECT_EQ(instrument->Synth().modWheelDepth, 0.0f);
    EXPECT_EQ(display.shown, (std::vector<std::string>{"mod " + std::to_string(INT_MAX), "sound"}));
}

TEST_F(InstrumentTest, AFileThatCannotBeLoadedKeepsTheSound)
{
    instrument->Synth().SetParameter(ParamId::Attack, 77);
    const PatchFile broken("not xml <");
    struct Case {
        std::string path;
        PatchLoadResult::Status status;
    } cases[] = {
        {broken.Path(), PatchLoadResult::Status::NotAPatch},
        {testing::TempDir() + "no-such-patch.mrvn", PatchLoadResult::Status::CannotRead},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const PatchLoadResult r = instrument->LoadPatch(c.path);
        EXPECT_EQ(r.status, c.status);
        EXPECT_NE(r.message.find(c.path), std::string::npos) << r.message;
        EXPECT_EQ(instrument->Synth().attackMs, 77);
        EXPECT_TRUE(display.shown.empty());
    }
}

// Load in the window names a named pipe: it is refused at once with the
// window's message, not waited on. Were it waited on, an alarm after 3 seconds
// breaks the wait (no restart), and the message says something else.
TEST_F(InstrumentTest, APipeIsRefusedWithoutWaiting)
{
    const std::string fifo = testing::TempDir() + "instrument-fifo.mrvn";
    std::remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    struct sigaction wake = {}, old = {};
    wake.sa_handler = [](int) {};
    sigaction(SIGALRM, &wake, &old);
    alarm(3);
    const PatchLoadResult r = instrument->LoadPatch(fifo);
    alarm(0);
    sigaction(SIGALRM, &old, nullptr);
    std::remove(fifo.c_str());
    EXPECT_EQ(r.status, PatchLoadResult::Status::NotAPatch);
    EXPECT_EQ(r.message, "Cannot load the patch file \"" + fifo +
                             "\": it is a named pipe, not a regular file. The sound is unchanged.");
    EXPECT_TRUE(display.shown.empty());
}

TEST(StepSelector, WrapsAtBothEnds)
{
    struct Case {
        int from, step, to;
    } cases[] = {{1, -1, 128}, {128, 1, 1}, {1, 1, 2}, {128, -1, 127}, {64, 1, 65}};
    for (const Case& c : cases)
        EXPECT_EQ(StepSelector(c.from, c.step), c.to) << c.from << " " << c.step;
}

} // namespace
