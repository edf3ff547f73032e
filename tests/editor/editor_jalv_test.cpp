// The plugin's editor in a real host: jalv shows it on a virtual display
// while the plugin plays on a JACK dummy server. A stroke drawn with the
// mouse on the editor's bars (a right click amid it changing nothing), copied
// to the sustain spectrum with its arrow,
// must be heard: the partials drawn sound in the next note and did not in
// the note before, and Ctrl+Z takes them back; a slider dragged
// changes the sound; a double click on a choice picks nothing; the band
// limit's box takes the fold-back out of a high note. A patch the
// plugin cannot play is refused through the file browser, changing nothing;
// a good one loaded is heard, and Save writes it beside the file; a tuning
// loaded through the browser is heard and named. A picture of the
// screen is kept in the build folder.
#include <gtest/gtest.h>

#include <jack/jack.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/TestProcess.h"
#include "e2e/JackMidiClient.h"
#include "e2e/Recording.h"
#include "patch/Patch.h"

namespace {

// The editor's layout (PluginUi.cpp), at scale 1: the bars' top left corner
// and the copy arrow to the sustain spectrum.
constexpr int kBarsX = 20, kBarsY = 52;
constexpr int kCopyToSustainX = 187, kCopyToSustainY = 27;
// The middle of the Sustain slider's track: the third of the parameters'
// slots.
constexpr int kSustainSliderX = 20, kSustainSliderY = 392 + 2 * 40 + 14 + 12;
constexpr int kLoadX = 732, kLoadY = 259;
// The LFO Waveform choice (the sixth parameter: the second slot of the second
// column) and the whole editor.
constexpr int kLfoShapeX = 310 + 100, kLfoShapeY = 392 + 40 + 14 + 12;
constexpr int kEditorW = 900, kEditorH = 560;
constexpr int kSaveX = 832, kSaveY = 259;
// Load Tuning, Equal Tuning and the tuning's name under them.
constexpr int kLoadTuningX = 668, kLoadTuningY = 491;
constexpr int kEqualTuningX = 812, kEqualTuningY = 491;
constexpr int kTuningNameX = 600, kTuningNameY = 510, kTuningNameW = 280, kTuningNameH = 24;
// Generate, and the band limit's box at the end of the top row.
constexpr int kGenerateX = 380, kGenerateY = 27;
constexpr int kBandLimitX = 591, kBandLimitY = 27;
// The window's panel colour: the editor's top left pixel.
constexpr int kPanel[3] = {102, 51, 0};

struct Screen {
    int width = 0, height = 0;
    std::string rgb;
};

Screen ReadRoot()
{
    const std::string ppm = testproc::Output("import -window root -depth 8 ppm:-");
    Screen s;
    int max = 0, used = 0;
    if (std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &s.width, &s.height, &max, &used) != 3 || max != 255)
        return {};
    s.rgb = ppm.substr(static_cast<size_t>(used) + 1);
    if (s.rgb.size() < 3u * static_cast<size_t>(s.width) * static_cast<size_t>(s.height))
        return {};
    return s;
}

// The top left corner of the editor: the first pixel of the panel colour
// with 200 more of it to its right and below it (nothing else on the screen
// is that brown).
bool FindEditor(int& ox, int& oy)
{
    const Screen s = ReadRoot();
    auto is = [&](int x, int y) {
        if (x >= s.width || y >= s.height)
            return false;
        const size_t i = 3 * (static_cast<size_t>(y) * s.width + x);
        return static_cast<unsigned char>(s.rgb[i]) == kPanel[0] &&
               static_cast<unsigned char>(s.rgb[i + 1]) == kPanel[1] &&
               static_cast<unsigned char>(s.rgb[i + 2]) == kPanel[2];
    };
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            if (is(x, y) && is(x + 200, y) && is(x, y + 8)) {
                ox = x;
                oy = y;
                return true;
            }
    return false;
}

// The pixels of a rectangle of the screen, row after row.
std::string Pixels(int x, int y, int w, int h)
{
    const Screen s = ReadRoot();
    std::string out;
    if (x < 0 || y < 0 || x + w > s.width || y + h > s.height)
        return out;
    for (int r = y; r < y + h; ++r)
        out += s.rgb.substr(3 * (static_cast<size_t>(r) * s.width + x), 3 * static_cast<size_t>(w));
    return out;
}

// The first port of the client `client` of this type and direction.
std::string Port(jack_client_t* c, const std::string& client, const char* type, unsigned long flags)
{
    const char** ports = jack_get_ports(c, ("^" + client + ":").c_str(), type, flags);
    std::string name = ports && ports[0] ? ports[0] : "";
    jack_free(ports);
    return name;
}

std::vector<std::string> Ports(jack_client_t* c, const std::string& client, const char* type, unsigned long flags)
{
    std::vector<std::string> names;
    const char** ports = jack_get_ports(c, ("^" + client + ":").c_str(), type, flags);
    for (size_t i = 0; ports && ports[i]; ++i)
        names.emplace_back(ports[i]);
    jack_free(ports);
    return names;
}

constexpr int kNote = 45; // A2, 110 Hz
constexpr double kFundamental = 110.0;

// Plays one note and returns its amplitude at each of `hertz` in its steady
// middle.
std::vector<double> PlayAndMeasureAt(e2e::JackMidiClient& keys, const std::vector<double>& hertz)
{
    const size_t start = keys.Recorded();
    keys.Send({0x90, kNote, 100});
    std::this_thread::sleep_for(1200ms);
    keys.Send({0x80, kNote, 0});
    std::this_thread::sleep_for(400ms);
    std::vector<double> amps;
    const size_t from = start + static_cast<size_t>(0.5 * kRate);
    const size_t to = from + static_cast<size_t>(0.5 * kRate);
    const std::vector<float> x = keys.Samples(0, to);
    for (double f : hertz)
        amps.push_back(x.size() >= to ? Amplitude(x, from, to, f) : -1.0);
    return amps;
}

// The amplitude of each of the first `partials` partials of the note in
// twelve equal steps.
std::vector<double> PlayAndMeasure(e2e::JackMidiClient& keys, int partials)
{
    std::vector<double> hertz;
    for (int n = 1; n <= partials; ++n)
        hertz.push_back(n * kFundamental);
    return PlayAndMeasureAt(keys, hertz);
}

void Xdo(const std::string& args)
{
    ASSERT_EQ(testproc::Run("xdotool " + args), 0) << args;
    std::this_thread::sleep_for(60ms);
}

// jalv showing the editor and playing on a JACK server of its own, its MIDI
// input fed and its output recorded by the test's client; started in
// `folder` (where the file browser opens).
struct Session {
    testproc::JackServer server{"editor"};
    testproc::Child host;
    std::unique_ptr<e2e::JackMidiClient> keys;
    int ox = 0, oy = 0;

    void Start(const std::string& folder)
    {
        ASSERT_TRUE(server.Ready());
        setenv("LV2_PATH", MAROVANE_PLUGIN_LV2_DIR, 1);
        char here[4096];
        ASSERT_NE(getcwd(here, sizeof here), nullptr);
        ASSERT_EQ(chdir(folder.c_str()), 0);
        host = testproc::Child({"jalv.gtk3", "urn:marovane:synth"});
        ASSERT_EQ(chdir(here), 0);
        ASSERT_TRUE(host.Running());

        keys = std::make_unique<e2e::JackMidiClient>("editor-test-keys");
        ASSERT_TRUE(keys->Ok());
        jack_client_t* probe = jack_client_open("editor-test-probe", JackNoStartServer, nullptr);
        ASSERT_NE(probe, nullptr);
        std::vector<std::string> outs;
        std::string midiIn;
        const bool found = Eventually(
            [&] {
                outs = Ports(probe, "Marovane", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
                midiIn = Port(probe, "Marovane", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput);
                return outs.size() == 2 && !midiIn.empty();
            },
            20s);
        const int connected = found ? jack_connect(probe, (keys->Name() + ":keys").c_str(), midiIn.c_str()) : -1;
        jack_client_close(probe);
        ASSERT_TRUE(found) << testproc::Output("jack_lsp");
        ASSERT_EQ(connected, 0);
        ASSERT_TRUE(keys->ConnectAudio(outs[0], outs[1]));
        ASSERT_TRUE(Eventually([&] { return FindEditor(ox, oy); }, 20s)) << "the editor never showed";
        std::this_thread::sleep_for(500ms);
        keys->Record();
    }

    // Moves the pointer to the editor's (x, y).
    void MoveTo(int x, int y) { Xdo("mousemove " + std::to_string(ox + x) + " " + std::to_string(oy + y)); }

    // Clicks the button at the editor's (x, y), which opens the framework's
    // file browser in the host's folder, and takes its first entry.
    void OpenFirstFileFrom(int x, int y)
    {
        MoveTo(x, y);
        Xdo("click 1");
        std::this_thread::sleep_for(1500ms);
        Xdo("key Down");
        Xdo("key Return");
        std::this_thread::sleep_for(1000ms);
    }
};

TEST(EditorInJalv, AStrokeDrawnWithTheMouseIsHeard)
{
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.Start("/"));
    const std::vector<double> before = PlayAndMeasure(*s.keys, 5);

    // A left stroke across bars 2 to 4 (partials 3 to 5) at half the height,
    // in one fast move, then the arrow that copies it to the sustain.
    // A right click in the middle of it (a careless hand) does not end it.
    s.MoveTo(kBarsX + 12, kBarsY + 150);
    Xdo("mousedown 1");
    s.MoveTo(kBarsX + 17, kBarsY + 150);
    Xdo("click 3");
    s.MoveTo(kBarsX + 22, kBarsY + 150);
    s.MoveTo(kBarsX + 23, kBarsY + 150);
    Xdo("mouseup 1");
    s.MoveTo(kCopyToSustainX, kCopyToSustainY);
    Xdo("click 1");
    std::this_thread::sleep_for(500ms);
    testproc::Run("import -window root " + std::string(MAROVANE_EDITOR_SHOT));

    const std::vector<double> after = PlayAndMeasure(*s.keys, 5);
    for (int n = 0; n < 5; ++n)
        std::printf("partial %d: before %.5f after %.5f\n", n + 1, before[n], after[n]);
    ASSERT_GT(before[0], 0.001) << "the note sounds before the stroke";
    for (int n = 2; n < 5; ++n) {
        EXPECT_LT(before[n], before[0] * 0.01) << "partial " << n + 1 << " was not drawn yet";
        EXPECT_GT(after[n], before[0] * 0.1) << "partial " << n + 1 << " was drawn";
    }
    EXPECT_LT(after[1], after[2] * 0.01) << "partial 2 was not drawn";

    // Ctrl+Z takes back the copy and then the stroke: the partials are gone.
    Xdo("key ctrl+z");
    Xdo("key ctrl+z");
    std::this_thread::sleep_for(300ms);
    const std::vector<double> undone = PlayAndMeasure(*s.keys, 5);
    for (int n = 2; n < 5; ++n)
        EXPECT_LT(undone[n], before[0] * 0.01) << "partial " << n + 1 << " after undo";

    // A double click on the LFO Waveform choice opens its list and closes
    // it, picking nothing: the editor looks as before.
    const std::string shown = Pixels(s.ox, s.oy, kEditorW, kEditorH);
    s.MoveTo(kLfoShapeX, kLfoShapeY);
    Xdo("click --repeat 2 --delay 40 1");
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(Pixels(s.ox, s.oy, kEditorW, kEditorH) == shown) << "a double click changed the LFO shape";

    // The Sustain slider dragged from its thumb (100 %) to its left end: with
    // no decay the held note falls silent at once.
    s.MoveTo(kSustainSliderX + 205, kSustainSliderY);
    Xdo("mousedown 1");
    s.MoveTo(kSustainSliderX + 100, kSustainSliderY);
    s.MoveTo(kSustainSliderX - 30, kSustainSliderY);
    Xdo("mouseup 1");
    std::this_thread::sleep_for(300ms);
    const std::vector<double> silent = PlayAndMeasure(*s.keys, 1);
    EXPECT_LT(silent[0], before[0] * 0.001) << "sustain 0 holds no sound";
}

// Plays `note` for a second and returns the amplitude at each of `hz` in
// its steady middle.
std::vector<double> PlayAndMeasureAt(e2e::JackMidiClient& keys, int note, const std::vector<double>& hz)
{
    const size_t start = keys.Recorded();
    keys.Send({0x90, static_cast<uint8_t>(note), 100});
    std::this_thread::sleep_for(1200ms);
    keys.Send({0x80, static_cast<uint8_t>(note), 0});
    std::this_thread::sleep_for(400ms);
    const size_t from = start + static_cast<size_t>(0.5 * kRate);
    const size_t to = from + static_cast<size_t>(0.5 * kRate);
    const std::vector<float> x = keys.Samples(0, to);
    std::vector<double> amps;
    for (double f : hz)
        amps.push_back(x.size() >= to ? Amplitude(x, from, to, f) : -1.0);
    return amps;
}

// A square wave generated in the editor, played at C8 (4186 Hz): its
// partials 7 and 9 lie above half the rate (44100 Hz) and fold back to
// 14798 and 6426 Hz. A click on the band limit's box takes them out, the
// fundamental staying as it was; a second click brings them back.
TEST(EditorInJalv, TheBandLimitBoxTakesOutTheFoldBack)
{
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.Start("/"));
    // The editor shows the attack spectrum at first: Generate fills it, the
    // arrow copies it to the sustain spectrum, which the note holds.
    s.MoveTo(kGenerateX, kGenerateY);
    Xdo("click 1");
    std::this_thread::sleep_for(300ms);
    s.MoveTo(kCopyToSustainX, kCopyToSustainY);
    Xdo("click 1");
    std::this_thread::sleep_for(500ms);
    const int note = 108;
    const double f = 4186.009;
    const std::vector<double> hz = {f, kRate - 7 * f, kRate - 9 * f};
    const std::vector<double> off = PlayAndMeasureAt(*s.keys, note, hz);

    s.MoveTo(kBandLimitX, kBandLimitY);
    Xdo("click 1");
    std::this_thread::sleep_for(500ms);
    testproc::Run("import -window root " + std::string(MAROVANE_EDITOR_SHOT) + ".band-limit.png");
    const std::vector<double> on = PlayAndMeasureAt(*s.keys, note, hz);

    s.MoveTo(kBandLimitX, kBandLimitY);
    Xdo("click 1");
    std::this_thread::sleep_for(500ms);
    const std::vector<double> again = PlayAndMeasureAt(*s.keys, note, hz);
    for (size_t k = 0; k < hz.size(); ++k)
        std::printf("%.0f Hz: off %.5f on %.5f off again %.5f\n", hz[k], off[k], on[k], again[k]);
    ASSERT_GT(off[0], 0.01) << "the note sounds";
    EXPECT_NEAR(on[0], off[0], off[0] * 0.01) << "the fundamental is as it was";
    for (size_t k = 1; k < hz.size(); ++k) {
        EXPECT_GT(off[k], off[0] * 0.05) << hz[k] << " Hz: the fold-back is there with the box off";
        EXPECT_LT(on[k], off[k] * 0.01) << hz[k] << " Hz: the box took it out";
        EXPECT_NEAR(again[k], off[k], off[k] * 0.05) << hz[k] << " Hz: back with the box off again";
    }
}

// A patch with partial 7 alone, attack 5 ms.
void WriteSeventh(const std::string& path)
{
    Patch p;
    p.attackMs = 5;
    p.sustainPercent = 100;
    p.releaseMs = 10;
    p.lfoFrequency = 5.0f;
    p.attack.level[6] = 0.25f;
    p.sustain.level[6] = 0.25f;
    ASSERT_EQ(WritePatchFile(path, p), "");
}

TEST(EditorInJalv, LoadThroughTheFileBrowserAndSaveBesideIt)
{
    char folder[] = "/tmp/marovane-editor-load-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string seventh = std::string(folder) + "/Seventh.mrvn";
    // First a patch the plugin cannot play (a level of 5: the sound processor
    // would refuse the spectrum), alone in the folder.
    const std::string loud = std::string(folder) + "/Loud.mrvn";
    {
        Patch p;
        p.sustainPercent = 100;
        p.attack.level[6] = 5.0f;
        ASSERT_EQ(WritePatchFile(loud, p), "");
    }
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.Start(folder));

    // Load...: the browser opens in the host's folder, which holds the one
    // file; the first entry, then Return. Refused: the bars and the
    // parameters are as they were, the status line says why, and the sound
    // is the default's still.
    const std::string bars = Pixels(s.ox, s.oy, 660, 560);
    const std::string status = Pixels(s.ox + 680, s.oy + 300, 220, 100);
    s.OpenFirstFileFrom(kLoadX, kLoadY);
    EXPECT_TRUE(Pixels(s.ox, s.oy, 660, 560) == bars) << "a refused patch changed the editor";
    EXPECT_FALSE(Pixels(s.ox + 680, s.oy + 300, 220, 100) == status) << "no message";
    const std::vector<double> kept = PlayAndMeasure(*s.keys, 7);
    EXPECT_GT(kept[0], 0.01) << "the default partial 1 still sounds";
    EXPECT_LT(kept[6], kept[0] * 0.01) << "partial 7 of the refused patch does not";

    std::remove(loud.c_str());
    ASSERT_NO_FATAL_FAILURE(WriteSeventh(seventh));
    s.OpenFirstFileFrom(kLoadX, kLoadY);
    const std::vector<double> loaded = PlayAndMeasure(*s.keys, 7);
    EXPECT_LT(loaded[0], loaded[6] * 0.01) << "the default partial 1 is gone";
    EXPECT_GT(loaded[6], 0.01) << "partial 7 sounds";

    // Save, pressed three times in quick succession: three new files beside
    // the one loaded, none written over another, each the same sound.
    s.MoveTo(kSaveX, kSaveY);
    Xdo("click --repeat 3 --delay 30 1");
    for (int n = 1; n <= 3; ++n) {
        const std::string saved = std::string(folder) + "/Patch " + std::to_string(n) + ".mrvn";
        Patch back;
        ASSERT_TRUE(Eventually([&] { return ReadPatchFile(saved, back).empty(); }, 5s)) << saved;
        EXPECT_EQ(back.attackMs, 5);
        EXPECT_EQ(back.attack.level[6], 0.25f);
        EXPECT_EQ(back.sustain.level[6], 0.25f);
        EXPECT_EQ(back.attack.level[0], 0.0f);
        std::remove(saved.c_str());
    }
    EXPECT_NE(access((std::string(folder) + "/Patch 4.mrvn").c_str(), F_OK), 0) << "one file a press";
    std::remove(seventh.c_str());
    rmdir(folder);
}

// A scale loaded through Load Tuning's file browser is heard (the note at
// its tuned frequency, nothing at its twelve-equal one) and named; Equal
// Tuning brings back twelve equal steps.
TEST(EditorInJalv, ATuningLoadedThroughTheFileBrowserIsHeardAndNamed)
{
    char folder[] = "/tmp/marovane-editor-tuning-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    // Quarter tones: note 45 lies 30 steps of 50 cents below note 60, which
    // is 900 cents below 440 Hz: 440 x 2^(-(900 + 750) / 1200) Hz.
    const std::string scl = std::string(folder) + "/quarter.scl";
    {
        std::FILE* f = std::fopen(scl.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("Quarter tones\n24\n", f);
        for (int step = 1; step <= 24; ++step)
            std::fprintf(f, "%d.0\n", 50 * step);
        std::fclose(f);
    }
    const double tuned = 440.0 * std::pow(2.0, -(900.0 + 750.0) / 1200.0);
    Session s;
    ASSERT_NO_FATAL_FAILURE(s.Start(folder));
    const std::string equalName = Pixels(s.ox + kTuningNameX, s.oy + kTuningNameY, kTuningNameW, kTuningNameH);
    const std::vector<double> before = PlayAndMeasureAt(*s.keys, {kFundamental, tuned});
    ASSERT_GT(before[0], 0.01) << "the note sounds in twelve equal steps";
    EXPECT_LT(before[1], before[0] * 0.01);

    s.OpenFirstFileFrom(kLoadTuningX, kLoadTuningY);
    testproc::Run("import -window root " + std::string(MAROVANE_EDITOR_SHOT).insert(
                      std::string(MAROVANE_EDITOR_SHOT).size() - 4, "-tuning"));
    const std::vector<double> after = PlayAndMeasureAt(*s.keys, {kFundamental, tuned});
    std::printf("at %.3f Hz: before %.5f after %.5f; at %.3f Hz: before %.5f after %.5f\n", kFundamental, before[0],
                after[0], tuned, before[1], after[1]);
    EXPECT_GT(after[1], before[0] * 0.5) << "the note sounds at its tuned frequency";
    EXPECT_LT(after[0], after[1] * 0.01) << "and no longer in twelve equal steps";
    EXPECT_FALSE(Pixels(s.ox + kTuningNameX, s.oy + kTuningNameY, kTuningNameW, kTuningNameH) == equalName)
        << "the name did not change";

    s.MoveTo(kEqualTuningX, kEqualTuningY);
    Xdo("click 1");
    std::this_thread::sleep_for(500ms);
    const std::vector<double> back = PlayAndMeasureAt(*s.keys, {kFundamental, tuned});
    EXPECT_GT(back[0], before[0] * 0.5) << "twelve equal steps again";
    EXPECT_LT(back[1], back[0] * 0.01);
    EXPECT_TRUE(Pixels(s.ox + kTuningNameX, s.oy + kTuningNameY, kTuningNameW, kTuningNameH) == equalName);
    std::remove(scl.c_str());
    rmdir(folder);
}

} // namespace
