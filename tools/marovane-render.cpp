// marovane-render: plays notes on the engine without a window or a sound card
// and writes what it rendered to a WAV file, so a sound can be bounced to disk
// and the engine checked from outside.

#include <getopt.h>
#include <sndfile.h>
#include <unistd.h>

#include <wx/init.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "instrument/Instrument.h"
#include "synth/SynthState.h"

namespace {

const char* const kUsage =
    "usage: marovane-render [--patch FILE.mrvn] [--hold SECONDS] [--velocity 1..127]\n"
    "                       [--pitch-wheel 0..16383] [--mod-wheel 0..16383] -o OUT.wav NOTE...\n";

struct Options {
    std::string patch;
    double hold = 1.0;
    int velocity = 0; // 0: keep each note's stored velocity
    int pitchWheel = 8192;
    int modWheel = 0;
    std::string output;
    std::vector<int> notes;
};

int Fail(const std::string& message)
{
    std::fprintf(stderr, "marovane-render: %s\n", message.c_str());
    return 2;
}

// A whole decimal number within [lo, hi], or false.
bool ParseInt(const char* text, long lo, long hi, int& out)
{
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || v < lo || v > hi)
        return false;
    out = static_cast<int>(v);
    return true;
}

// Returns an empty string when the options are good, else the problem.
std::string ParseOptions(int argc, char** argv, Options& o)
{
    static const option longOptions[] = {
        {"patch", required_argument, nullptr, 'p'},
        {"hold", required_argument, nullptr, 'h'},
        {"velocity", required_argument, nullptr, 'v'},
        {"pitch-wheel", required_argument, nullptr, 'b'},
        {"mod-wheel", required_argument, nullptr, 'm'},
        {"output", required_argument, nullptr, 'o'},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, "+o:", longOptions, nullptr)) != -1) {
        switch (c) {
        case 'p': o.patch = optarg; break;
        case 'h': {
            char* end = nullptr;
            o.hold = std::strtod(optarg, &end);
            if (end == optarg || *end != '\0' || !(o.hold >= 0.0 && o.hold <= 3600.0))
                return std::string("--hold must be a number of seconds from 0 to 3600, not '") + optarg + "'";
            break;
        }
        case 'v':
            if (!ParseInt(optarg, 1, 127, o.velocity))
                return std::string("--velocity must be 1 to 127, not '") + optarg + "'";
            break;
        case 'b':
            if (!ParseInt(optarg, 0, 16383, o.pitchWheel))
                return std::string("--pitch-wheel must be 0 to 16383, not '") + optarg + "'";
            break;
        case 'm':
            if (!ParseInt(optarg, 0, 16383, o.modWheel))
                return std::string("--mod-wheel must be 0 to 16383, not '") + optarg + "'";
            break;
        case 'o': o.output = optarg; break;
        case ':': return std::string("option ") + argv[optind - 1] + " needs a value";
        default: return std::string("unknown option ") + argv[optind - 1];
        }
    }
    if (o.output.empty())
        return "no output file: give -o OUT.wav";
    for (int i = optind; i < argc; ++i) {
        int note;
        if (!ParseInt(argv[i], 0, 127, note))
            return std::string("note must be a MIDI note number 0 to 127, not '") + argv[i] + "'";
        o.notes.push_back(note);
    }
    if (o.notes.empty())
        return "no notes to play";
    return {};
}

struct SndfileCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};

} // namespace

int main(int argc, char** argv)
{
    Options o;
    if (argc <= 1) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (std::string problem = ParseOptions(argc, argv, o); !problem.empty())
        return Fail(problem);

    wxInitializer wx;
    if (!wx.IsOk())
        return Fail("cannot initialise the toolkit's base library");

    // The instrument the window plays, without a display and without audio.
    NoDisplay noDisplay;
    auto instrument = std::make_unique<Instrument>(noDisplay, noDisplay);
    SynthState* state = &instrument->Synth();
    if (!o.patch.empty()) {
        const PatchLoadResult loaded = instrument->LoadPatch(o.patch);
        if (loaded.status == PatchLoadResult::Status::CannotRead)
            return Fail("cannot read patch file '" + o.patch + "'");
        if (!loaded.Loaded())
            return Fail("patch file '" + o.patch + "' is not well-formed XML");
    }
    state->pitchWheel = static_cast<float>(o.pitchWheel);
    state->modWheelDepth = SynthState::ModWheelDepthFromValue(o.modWheel);

    SF_INFO info = {};
    info.samplerate = SAMPLE_RATE;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    std::unique_ptr<SNDFILE, SndfileCloser> file(sf_open(o.output.c_str(), SFM_WRITE, &info));
    if (!file)
        return Fail("cannot write '" + o.output + "': " + sf_strerror(nullptr));

    float buffer[2 * MAX_FRAMES];
    sf_count_t framesWritten = 0;
    bool writeFailed = false;
    auto render = [&] {
        state->Render(buffer, MAX_FRAMES);
        if (sf_writef_float(file.get(), buffer, MAX_FRAMES) != MAX_FRAMES)
            writeFailed = true;
        framesWritten += MAX_FRAMES;
    };

    const auto start = std::chrono::steady_clock::now();
    for (int note : o.notes) {
        if (o.velocity)
            state->SetNoteVelocity(note, SynthState::VelocityFromMidi(o.velocity));
        state->StartNote(note);
    }
    const long holdBuffers = static_cast<long>(std::ceil(o.hold * SAMPLE_RATE / MAX_FRAMES));
    for (long b = 0; b < holdBuffers && !writeFailed; ++b)
        render();
    for (int note : o.notes)
        state->ReleaseNote(note);
    const long tailLimit = static_cast<long>(std::ceil(60.0 * SAMPLE_RATE / MAX_FRAMES));
    for (long b = 0; b < tailLimit && state->AnyNoteActive() && !writeFailed; ++b)
        render();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    if (writeFailed || sf_close(file.release()) != 0) {
        std::remove(o.output.c_str());
        return Fail("writing '" + o.output + "' failed");
    }
    const double seconds = static_cast<double>(framesWritten) / SAMPLE_RATE;
    std::printf("wrote %lld frames (%.3f s of audio) to %s, %.1fx faster than real time\n",
                static_cast<long long>(framesWritten), seconds, o.output.c_str(),
                elapsed > 0 ? seconds / elapsed : 0.0);
    return 0;
}
