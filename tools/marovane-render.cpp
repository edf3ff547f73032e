// marovane-render: plays notes on the engine without a window or a sound card
// and writes what it rendered to a WAV file, so a sound can be bounced to disk
// and the engine checked from outside.

#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <wx/init.h>

#include <algorithm>
#include <bitset>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "instrument/Instrument.h"
#include "midi/MidiFile.h"
#include "patch/Patch.h"
#include "patch/ReplaceFile.h"
#include "render/RenderReport.h"
#include "render/SoundFileOutput.h"
#include "synth/OutputGuard.h"
#include "synth/SynthState.h"

namespace {

const char* const kUsage =
    "usage: marovane-render [--patch FILE.mrvn] [--hold SECONDS] [--velocity 1..127]\n"
    "                       [--pitch-wheel 0..16383] [--mod-wheel 0..16383] [--rate HZ] -o OUT.wav NOTE...\n"
    "       marovane-render --midi FILE.mid [--channel 1..16] [--patch FILE.mrvn] [--rate HZ] -o OUT.wav\n";

// The longest MIDI file rendered, in seconds.
constexpr double kMaxMidiSeconds = 3600.0;

const char* const kHelp =
    "\n"
    "Starts every NOTE (MIDI note numbers 0 to 127) together, holds them for SECONDS\n"
    "(default 1.0, rounded up to whole buffers of 256 frames), releases them and renders\n"
    "until the last release tail has ended, at most 60 seconds more. Writes a stereo\n"
    "32-bit float WAV file at 44100 Hz, or at the rate --rate gives (RF64 when the\n"
    "sound may pass the 4 GiB a WAV file holds). Prints a line of summary, on\n"
    "standard error when the sound goes to standard output, and warns of a sound\n"
    "over full scale.\n"
    "\n"
    "  --patch FILE.mrvn      the sound (default: a sine of amplitude 0.5); a regular\n"
    "                         file, not a pipe or a device\n"
    "  --hold SECONDS         how long the notes are held, 0 to 3600\n"
    "  --velocity 1..127      the notes' MIDI velocity (default: full)\n"
    "  --pitch-wheel 0..16383 the pitch wheel (8192 is centre, two semitones each way)\n"
    "  --mod-wheel 0..16383   the tremolo depth (value / 16383)\n"
    "  --midi FILE.mid        play a Standard MIDI File (format 0 or 1) instead of\n"
    "                         NOTEs: its notes, velocities, pitch bend, modulation\n"
    "                         wheel (controller 1), sustain pedal (64) and\n"
    "                         all-notes-off (123), each at its own frame as the\n"
    "                         file's tempo map places it; a note still on at the\n"
    "                         end of the file is released there; a file may last\n"
    "                         up to an hour\n"
    "  --channel 1..16        play only that channel of the file (default: all\n"
    "                         channels, into the one instrument)\n"
    "  --rate HZ              the sample rate of the engine and the file, 8000 to 192000\n"
    "  -o, --output OUT.wav   the file to write; '-' or a pipe is written directly,\n"
    "                         a file only replaced once the render is complete\n"
    "  -h, --help             this text\n";

struct Options {
    bool help = false;
    std::string patch;
    double hold = 1.0;
    int velocity = 0; // 0: keep each note's stored velocity
    int pitchWheel = 8192;
    int modWheel = 0;
    int rate = SAMPLE_RATE; // the engine's and the file's sample rate
    std::string output;
    std::vector<int> notes;
    std::string midi;
    int channel = 0; // 0: every channel of the MIDI file
};

int Fail(const std::string& message)
{
    std::fprintf(stderr, "marovane-render: %s\n", message.c_str());
    return 2;
}

void Warn(const std::string& message)
{
    std::fprintf(stderr, "marovane-render: warning: %s\n", message.c_str());
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
        {"hold", required_argument, nullptr, 'H'},
        {"velocity", required_argument, nullptr, 'v'},
        {"pitch-wheel", required_argument, nullptr, 'b'},
        {"mod-wheel", required_argument, nullptr, 'm'},
        {"rate", required_argument, nullptr, 'r'},
        {"output", required_argument, nullptr, 'o'},
        {"midi", required_argument, nullptr, 'M'},
        {"channel", required_argument, nullptr, 'c'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    int c;
    // '+': options end at the first note; ':': a missing value is told apart
    // from an unknown option.
    while ((c = getopt_long(argc, argv, "+:o:h", longOptions, nullptr)) != -1) {
        switch (c) {
        case 'h': o.help = true; return {};
        case 'p': o.patch = optarg; break;
        case 'H': {
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
        case 'r':
            if (!ParseInt(optarg, 8000, 192000, o.rate))
                return std::string("--rate must be 8000 to 192000 Hz, not '") + optarg + "'";
            break;
        case 'o': o.output = optarg; break;
        case 'M': o.midi = optarg; break;
        case 'c':
            if (!ParseInt(optarg, 1, 16, o.channel))
                return std::string("--channel must be 1 to 16, not '") + optarg + "'";
            break;
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
    if (!o.midi.empty() && !o.notes.empty())
        return "give either --midi FILE.mid or NOTEs, not both";
    if (o.channel && o.midi.empty())
        return "--channel needs --midi FILE.mid";
    if (o.notes.empty() && o.midi.empty())
        return "no notes to play";
    return {};
}

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Where the sound goes: standard output (under any name), a pipe or a device
// directly; a regular file through a temporary file beside it, renamed over
// it only when the whole render has been written.
struct Destination {
    bool standardOutput = false; // descriptor 1; the summary goes to stderr
    bool direct = false;         // written as a stream, from a spool
    bool exists = false;         // the name is taken, by `st`
    struct stat st = {};
};

// Fills `to` for the output name, or says why there is nowhere to write.
// Afterwards descriptors 0 to 2 are all open (a closed one on /dev/null), so
// no file opened later takes the number of a standard stream.
std::string ChooseDestination(const std::string& output, Destination& to)
{
    struct stat out = {};
    const bool stdoutOpen = fcntl(STDOUT_FILENO, F_GETFD) != -1 && fstat(STDOUT_FILENO, &out) == 0;
    to.exists = output != "-" && stat(output.c_str(), &to.st) == 0;
    to.standardOutput = output == "-" || (to.exists && stdoutOpen && to.st.st_dev == out.st_dev &&
                                          to.st.st_ino == out.st_ino);
    if (output == "-" && !stdoutOpen)
        return "cannot write to standard output: it is closed";
    // A name for a descriptor that is not open (/dev/stdout with standard
    // output closed) names nothing to write to; the link must not be
    // replaced by a file.
    if (!to.exists) {
        char link[4096];
        const ssize_t n = readlink(output.c_str(), link, sizeof link - 1);
        const std::string named = n > 0 ? std::string(link, static_cast<size_t>(n)) : output;
        if (named.rfind("/proc/", 0) == 0 || named.rfind("/dev/fd/", 0) == 0) {
            const bool one = named.size() >= 5 && named.compare(named.size() - 5, 5, "/fd/1") == 0;
            return "cannot write '" + output + "': " +
                   (one ? "standard output is closed" : "it names a descriptor that is not open");
        }
    }
    if (to.exists && S_ISDIR(to.st.st_mode))
        return "cannot write '" + output + "': it is a directory";
    to.direct = to.standardOutput || (to.exists && !S_ISREG(to.st.st_mode));
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) != fd)
            return "cannot open /dev/null in place of a closed standard stream";
    return {};
}

// Ctrl-C or a kill in the middle of a long render: stop, and leave no
// temporary file behind.
volatile std::sig_atomic_t interrupted = 0;
void OnInterrupt(int) { interrupted = 1; }

// One channel message of the file, at the frame its time rounds to.
struct TimedMessage {
    long long frame;
    uint8_t bytes[3];
    size_t size;
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
    if (o.help) {
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return 0;
    }

    // Where the sound goes, decided before anything opens a file: with
    // standard output closed, the first file opened would take its number.
    Destination to;
    if (const std::string problem = ChooseDestination(o.output, to); !problem.empty())
        return Fail(problem);
    const bool toStdout = to.standardOutput;
    const bool direct = to.direct;
    const bool targetExists = to.exists;
    const struct stat& target = to.st;

    wxInitializer wx;
    if (!wx.IsOk())
        return Fail("cannot initialise the toolkit's base library");

    // The instrument the window plays, without a display and without audio.
    NoDisplay noDisplay;
    auto instrument = std::make_unique<Instrument>(noDisplay, noDisplay);
    SynthState* state = &instrument->Synth();
    if (!o.patch.empty()) {
        struct stat patch;
        if (targetExists && stat(o.patch.c_str(), &patch) == 0 && patch.st_dev == target.st_dev &&
            patch.st_ino == target.st_ino)
            return Fail("the output '" + o.output + "' is the patch file '" + o.patch + "'; it would be overwritten");
        Patch p;
        const wxString reason = ReadPatchFile(wxString::FromUTF8(o.patch.c_str()), p);
        if (!reason.empty())
            return Fail("cannot load patch file '" + o.patch + "': " + std::string(reason.utf8_str()));
        ApplyPatch(p, *state);
    }
    std::vector<TimedMessage> events;
    long long lastFrame = 0;
    if (!o.midi.empty()) {
        struct stat midi;
        if (targetExists && stat(o.midi.c_str(), &midi) == 0 && midi.st_dev == target.st_dev &&
            midi.st_ino == target.st_ino)
            return Fail("the output '" + o.output + "' is the MIDI file '" + o.midi + "'; it would be overwritten");
        MidiFile song;
        if (const std::string reason = LoadMidiFile(o.midi, song); !reason.empty())
            return Fail("cannot read MIDI file '" + o.midi + "': " + reason);
        // The file lasts until its last event of any kind, at most an hour
        // (the longest --hold too) rather than days of disk.
        if (!(song.endSeconds <= kMaxMidiSeconds))
            return Fail("the MIDI file '" + o.midi + "' lasts more than " +
                        std::to_string(static_cast<int>(kMaxMidiSeconds)) + " seconds (an event at " +
                        std::to_string(std::llround(song.endSeconds)) + " s); it is not rendered");
        lastFrame = std::llround(song.endSeconds * o.rate);
        // Every channel plays into the one instrument: the decoder listens on
        // channel 1 and each message is moved there.
        events.reserve(song.messages.size());
        for (const MidiFileMessage& e : song.messages) {
            const uint8_t status = e.bytes[0];
            if (o.channel && (status & 0x0F) != o.channel - 1)
                continue;
            TimedMessage m{std::llround(e.seconds * o.rate), {static_cast<uint8_t>(status & 0xF0), e.bytes[1], e.bytes[2]},
                           e.size};
            events.push_back(m);
        }
    }

    state->SetSampleRate(o.rate);
    state->pitchWheel = static_cast<float>(o.pitchWheel);
    state->modWheelDepth = SynthState::ModWheelDepthFromValue(o.modWheel);

    // A file size limit must show up as a failed write, not kill the program
    // before it can clean up.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);

    // A WAV header carries the length, which is known only at the end, so a
    // pipe gets the file from a spool in the temporary folder once complete.
    std::optional<ReplaceFile> replace;
    int directFd = -1;
    std::unique_ptr<FILE, int (*)(FILE*)> spool(nullptr, std::fclose);
    int fd;
    if (direct) {
        directFd = toStdout ? STDOUT_FILENO : open(o.output.c_str(), O_WRONLY | O_CLOEXEC);
        if (directFd < 0)
            return Fail("cannot write '" + o.output + "': " + std::strerror(errno));
        spool.reset(std::tmpfile());
        if (!spool)
            return Fail(std::string("cannot create a temporary file: ") + std::strerror(errno));
        fd = fileno(spool.get());
    } else {
        replace.emplace(o.output);
        if (!replace->Open())
            return Fail(replace->Error());
        fd = replace->Descriptor();
    }
    SoundFileOutput file;
    // The longest the sound can be: the notes held or the file played, then
    // the release tails, at most a minute, in whole buffers.
    const long holdBuffers = static_cast<long>(std::ceil(o.hold * o.rate / MAX_FRAMES));
    const long tailLimit = static_cast<long>(std::ceil(60.0 * o.rate / MAX_FRAMES));
    const long long maxFrames =
        (o.midi.empty() ? static_cast<long long>(holdBuffers) * MAX_FRAMES : lastFrame) + (tailLimit + 1) * MAX_FRAMES;
    if (!file.Open(fd, o.rate, maxFrames))
        return Fail("cannot write '" + o.output + "': " + file.Error());

    float buffer[2 * MAX_FRAMES];
    sf_count_t framesWritten = 0;
    size_t nonFinite = 0;
    float peak = 0.0f;
    bool writeFailed = false;
    std::string writeError;
    auto render = [&](unsigned frames) {
        state->Render(buffer, frames);
        nonFinite += SilenceNonFinite(buffer, 2 * frames);
        peak = Peak(buffer, 2 * frames, peak);
        if (!writeFailed && !file.Write(buffer, frames)) {
            writeFailed = true;
            writeError = file.Error();
        }
        framesWritten += frames;
        if (interrupted) {
            writeFailed = true;
            writeError = "interrupted";
        }
    };

    const auto start = std::chrono::steady_clock::now();
    size_t notesLeftOn = 0;
    if (o.midi.empty()) {
        for (int note : o.notes) {
            if (o.velocity)
                state->SetNoteVelocity(note, SynthState::VelocityFromMidi(o.velocity));
            state->StartNote(note);
        }
        for (long b = 0; b < holdBuffers && !writeFailed; ++b)
            render(MAX_FRAMES);
        for (int note : o.notes)
            state->ReleaseNote(note);
    } else {
        // The buffers keep their 256-frame grid; an event inside one splits
        // it, so that it takes effect at its own frame.
        MidiInputHandler& decoder = instrument->MidiInput();
        instrument->SetMidiInputChannel(1);
        std::bitset<128> keysDown;
        for (const TimedMessage& m : events) {
            while (framesWritten < m.frame && !writeFailed) {
                const long long toGridEnd = MAX_FRAMES - framesWritten % MAX_FRAMES;
                render(static_cast<unsigned>(std::min(m.frame - framesWritten, toGridEnd)));
            }
            if (writeFailed)
                break;
            decoder.OnMidiMessage(m.bytes, m.size);
            const uint8_t kind = m.bytes[0] & 0xF0;
            if (kind == 0x90 && m.size == 3 && m.bytes[2] > 0 && m.bytes[1] < 128)
                keysDown.set(m.bytes[1]);
            else if ((kind == 0x80 || kind == 0x90) && m.size >= 2 && m.bytes[1] < 128)
                keysDown.reset(m.bytes[1]);
            else if (kind == 0xB0 && m.size == 3 && m.bytes[1] == 123 && m.bytes[2] == 0)
                keysDown.reset();
        }
        while (framesWritten < lastFrame && !writeFailed) {
            const long long toGridEnd = MAX_FRAMES - framesWritten % MAX_FRAMES;
            render(static_cast<unsigned>(std::min(lastFrame - framesWritten, toGridEnd)));
        }
        // The file has ended: the pedal comes up and the keys still down are
        // let go.
        const uint8_t pedalUp[] = {0xB0, 64, 0};
        decoder.OnMidiMessage(pedalUp, 3);
        notesLeftOn = keysDown.count();
        for (int note = 0; note < 128; ++note)
            if (keysDown.test(static_cast<size_t>(note))) {
                const uint8_t off[] = {0x80, static_cast<uint8_t>(note), 0};
                decoder.OnMidiMessage(off, 3);
            }
    }
    for (long b = 0; b < tailLimit && state->AnyNoteActive() && !writeFailed; ++b)
        render(static_cast<unsigned>(MAX_FRAMES - framesWritten % MAX_FRAMES));
    const bool tailCut = !writeFailed && state->AnyNoteActive();
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    // Closing writes the header's final sizes, so it can fail too.
    if (!file.Close() && !writeFailed) {
        writeFailed = true;
        writeError = file.Error();
    }
    if (writeFailed)
        return Fail("writing '" + o.output + "' failed: " + writeError +
                    (replace ? "; the file is left as it was" : ""));
    if (replace && !replace->Commit())
        return Fail(replace->Error());
    if (direct) {
        std::signal(SIGPIPE, SIG_IGN); // a reader that went away is a failed write
        char chunk[1 << 16];
        if (lseek(fd, 0, SEEK_SET) != 0)
            return Fail("writing '" + o.output + "' failed: " + std::strerror(errno));
        for (;;) {
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n == 0)
                break;
            if (n < 0 || !WriteAll(directFd, chunk, static_cast<size_t>(n)) || interrupted)
                return Fail("writing '" + o.output + "' failed: " +
                            (interrupted ? std::string("interrupted") : std::strerror(errno)));
        }
        if (directFd != STDOUT_FILENO)
            close(directFd);
    }

    if (notesLeftOn)
        Warn(std::to_string(notesLeftOn) + " note(s) still on at the end of the MIDI file were released there");
    if (tailCut)
        Warn("the release tail was cut at the 60-second limit");
    if (nonFinite)
        Warn(std::to_string(nonFinite) + " samples overflowed to values that are not finite numbers and were "
             "written as 0");
    if (const std::string overload = FullScaleWarning(peak); !overload.empty())
        Warn(overload);
    const double seconds = static_cast<double>(framesWritten) / o.rate;
    // With the sound on standard output, the summary goes to standard error.
    std::fprintf(toStdout ? stderr : stdout, "wrote %lld frames (%.3f s of audio) to %s, %s\n",
                 static_cast<long long>(framesWritten), seconds, o.output.c_str(), PaceText(seconds, elapsed).c_str());
    return 0;
}
