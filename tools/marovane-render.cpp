// marovane-render: plays notes on the engine without a window or a sound card
// and writes what it rendered to a WAV file, so a sound can be bounced to disk
// and the engine checked from outside.

#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bitset>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "midi/MidiFile.h"
#include "patch/Patch.h"
#include "patch/ReplaceFile.h"
#include "render/RenderReport.h"
#include "render/SoundFileOutput.h"
#include "synth/Engine.h"
#include "synth/OutputGuard.h"
#include "synth/SynthState.h"
#include "tuning/Tuning.h"

namespace {

const char* const kUsage =
    "usage: marovane-render [--patch FILE.mrvn] [--band-limit on|off] [--hold SECONDS] [--velocity 1..127]\n"
    "                       [--pitch-wheel 0..16383] [--mod-wheel 0..16383] [--rate HZ] -o OUT.wav NOTE...\n"
    "       marovane-render --midi FILE.mid [--channel 1..16] [--patch FILE.mrvn] [--band-limit on|off]\n"
    "                       [--rate HZ] -o OUT.wav\n"
    "       (either form also takes [--tuning FILE.scl [--keymap FILE.kbm]])\n";

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
    "  --band-limit on|off    the band limit, whatever the patch holds: on, no partial\n"
    "                         at or above half the sample rate is rendered and those\n"
    "                         just below it fade out; off, every partial is rendered\n"
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
    "  --tuning FILE.scl      play in the tuning of a Scala scale (default: twelve equal\n"
    "                         steps, A above middle C at 440 Hz); its degree 0 on note\n"
    "                         60, 440 Hz 900 cents above it, unless --keymap says\n"
    "  --keymap FILE.kbm      a Scala keyboard mapping for --tuning's scale: which keys\n"
    "                         play which degrees, the reference note and frequency;\n"
    "                         keys it leaves unmapped are silent (needs --tuning)\n"
    "  -o, --output OUT.wav   the file to write, replaced only once the render is\n"
    "                         complete (through a symbolic link: the file it\n"
    "                         names, made if missing); '-' (standard output), a\n"
    "                         pipe or a device gets the sound once it is complete,\n"
    "                         from a spool file as large as the sound in the\n"
    "                         folder TMPDIR names (else /tmp)\n"
    "  -h, --help             this text\n"
    "\n"
    "Exit status: 0 done, 2 a mistake in the options, bad input or a failed\n"
    "write (the summary's too); a signal stops the render and leaves any file\n"
    "as it was.\n";

struct Options {
    bool help = false;
    std::string patch;
    int bandLimit = -1; // -1: as the patch holds it; 0 off, 1 on
    double hold = 1.0;
    int velocity = 0; // 0: keep each note's stored velocity
    int pitchWheel = 8192;
    int modWheel = 0;
    int rate = SAMPLE_RATE; // the engine's and the file's sample rate
    std::string output;
    std::vector<int> notes;
    std::string midi;
    int channel = 0; // 0: every channel of the MIDI file
    // The tuning: a Scala scale and its optional keyboard mapping (empty:
    // twelve equal steps).
    std::string tuning;
    std::string keymap;
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
        {"band-limit", required_argument, nullptr, 'B'},
        {"hold", required_argument, nullptr, 'H'},
        {"velocity", required_argument, nullptr, 'v'},
        {"pitch-wheel", required_argument, nullptr, 'b'},
        {"mod-wheel", required_argument, nullptr, 'm'},
        {"rate", required_argument, nullptr, 'r'},
        {"output", required_argument, nullptr, 'o'},
        {"midi", required_argument, nullptr, 'M'},
        {"channel", required_argument, nullptr, 'c'},
        {"tuning", required_argument, nullptr, 'T'},
        {"keymap", required_argument, nullptr, 'K'},
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
        case 'p':
            if (!*optarg)
                return "--patch needs a value: an empty one names no file";
            o.patch = optarg;
            break;
        case 'B':
            if (std::strcmp(optarg, "on") == 0)
                o.bandLimit = 1;
            else if (std::strcmp(optarg, "off") == 0)
                o.bandLimit = 0;
            else
                return std::string("--band-limit must be on or off, not '") + optarg + "'";
            break;
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
        case 'o':
            if (!*optarg)
                return "-o, --output needs a value: an empty one names no file";
            o.output = optarg;
            break;
        case 'M':
            if (!*optarg)
                return "--midi needs a value: an empty one names no file";
            o.midi = optarg;
            break;
        case 'c':
            if (!ParseInt(optarg, 1, 16, o.channel))
                return std::string("--channel must be 1 to 16, not '") + optarg + "'";
            break;
        case 'T':
            o.tuning = optarg;
            if (o.tuning.empty())
                return "--tuning needs a value: an empty one names no file";
            break;
        case 'K':
            o.keymap = optarg;
            if (o.keymap.empty())
                return "--keymap needs a value: an empty one names no file";
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
    if (!o.keymap.empty() && o.tuning.empty())
        return "--keymap needs --tuning FILE.scl: a keyboard mapping maps a scale's degrees";
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
    // A file is replaced (or made) where the name leads, through any link:
    // a name that cannot be written fails now, not after the render.
    if (!to.direct) {
        int err = 0;
        if (ReplaceTarget(output, err).empty())
            return "cannot write '" + output + "': " + std::strerror(err);
    }
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) != fd)
            return "cannot open /dev/null in place of a closed standard stream";
    return {};
}

// Ctrl-C, a hang-up, a kill or any other signal that would end the program
// in the middle of a long render: stop, and leave no temporary file behind.
// The signal's number, or 0.
volatile std::sig_atomic_t interrupted = 0;

// The temporary file beside the output while it is written, for the handler
// to remove when the program cannot go on (a fault, an abort).
char temporaryName[PATH_MAX + 1];
volatile std::sig_atomic_t temporaryNamed = 0;

void OnSignal(int sig, siginfo_t* info, void*)
{
    // A fault of the program's own (si_code > 0: from the kernel, not from
    // kill) or an abort cannot be returned from: remove the temporary file
    // and end as the signal would have.
    const bool fault = sig == SIGSEGV || sig == SIGBUS || sig == SIGFPE || sig == SIGILL || sig == SIGTRAP ||
                       sig == SIGSYS;
    if (sig != SIGABRT && !(fault && info && info->si_code > 0)) {
        interrupted = sig;
        return;
    }
    if (temporaryNamed)
        unlink(temporaryName);
    std::signal(sig, SIG_DFL);
    raise(sig); // delivered as the handler returns
}

// Every signal whose default action ends the program but SIGKILL and SIGSTOP
// (which nothing catches) and SIGXFSZ (ignored: a file size limit is a
// failed write), handled by OnSignal. A signal ignored when the program
// started stays ignored, as nohup and a shell's background jobs expect.
void HandleEndingSignals()
{
    std::signal(SIGXFSZ, SIG_IGN);
    std::vector<int> signals = {SIGHUP,  SIGINT,    SIGQUIT, SIGILL,  SIGTRAP, SIGABRT, SIGBUS,  SIGFPE,
                                SIGUSR1, SIGSEGV,   SIGUSR2, SIGPIPE, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM,
                                SIGPROF, SIGSTKFLT, SIGIO,   SIGPWR,  SIGSYS};
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
        signals.push_back(sig);
    struct sigaction action = {};
    action.sa_sigaction = OnSignal;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    for (int sig : signals) {
        struct sigaction old = {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            sigaction(sig, &action, nullptr);
    }
}

// What stopped a render that a signal interrupted.
std::string Interruption()
{
    const int sig = interrupted;
    return std::string("interrupted (") + strsignal(sig) + ")";
}

// Refuses an input that is the output file: writing would destroy it.
std::string NotTheOutput(const std::string& input, const char* kind, const Options& o, const Destination& to)
{
    struct stat st;
    if (to.exists && stat(input.c_str(), &st) == 0 && st.st_dev == to.st.st_dev && st.st_ino == to.st.st_ino)
        return "the output '" + o.output + "' is the " + kind + " file '" + input + "'; it would be overwritten";
    return {};
}

// Loads --patch into `synth`; empty, or the problem.
std::string LoadPatch(const Options& o, const Destination& to, SynthState& synth)
{
    if (o.patch.empty())
        return {};
    if (std::string problem = NotTheOutput(o.patch, "patch", o, to); !problem.empty())
        return problem;
    Patch p;
    const std::string reason = ReadPatchFile(o.patch, p);
    if (!reason.empty())
        return "cannot load patch file '" + o.patch + "': " + reason;
    ApplyPatch(p, synth);
    return {};
}

// Sets --tuning (and --keymap) in `engine`; empty, or the problem.
std::string LoadTuning(const Options& o, const Destination& to, Engine& engine)
{
    if (o.tuning.empty())
        return {};
    std::string scl, kbm;
    const std::tuple<const std::string*, const char*, std::string*> files[] = {
        {&o.tuning, "scale", &scl}, {&o.keymap, "keyboard mapping", &kbm}};
    for (const auto& [path, kind, text] : files) {
        if (path->empty())
            continue;
        if (std::string problem = NotTheOutput(*path, kind, o, to); !problem.empty())
            return problem;
        if (std::string reason = ReadTuningFile(*path, *text); !reason.empty())
            return std::string("cannot read ") + kind + " file " + reason;
    }
    TuningTable table;
    std::string description;
    if (std::string reason = TuningFromTexts(scl, kbm, table, description); !reason.empty())
        return "cannot use tuning '" + o.tuning + "'" + (o.keymap.empty() ? "" : " with '" + o.keymap + "'") + ": " +
               reason;
    engine.SetTuning(table.frequency.data(), table.sounds.data());
    return {};
}

// What a MIDI file plays: its messages (of the chosen channel) at the frames
// their times round to, and the frame where the file ends.
struct Song {
    std::vector<EngineEvent> events;
    long long lastFrame = 0;
};

// Reads --midi; empty, or the problem.
std::string LoadSong(const Options& o, const Destination& to, Song& song)
{
    if (std::string problem = NotTheOutput(o.midi, "MIDI", o, to); !problem.empty())
        return problem;
    MidiFile file;
    if (const std::string reason = LoadMidiFile(o.midi, file); !reason.empty())
        return "cannot read MIDI file '" + o.midi + "': " + reason;
    // The file lasts until its last event of any kind, at most an hour (the
    // longest --hold too) rather than days of disk; its frames fit the
    // engine's 32 bits at any rate.
    if (!(file.endSeconds <= kMaxMidiSeconds))
        return "the MIDI file '" + o.midi + "' lasts more than " + std::to_string(static_cast<int>(kMaxMidiSeconds)) +
               " seconds (an event at " + std::to_string(std::llround(file.endSeconds)) + " s); it is not rendered";
    song.lastFrame = std::llround(file.endSeconds * o.rate);
    // Every channel plays into the one instrument, unless one is chosen.
    song.events.reserve(file.messages.size());
    for (const MidiFileMessage& m : file.messages)
        if (!o.channel || (m.bytes[0] & 0x0F) == o.channel - 1)
            song.events.push_back({static_cast<uint32_t>(std::llround(m.seconds * o.rate)), m.size,
                                   {m.bytes[0], m.bytes[1], m.bytes[2]}});
    return {};
}

// The same message for every note: `status` and `value` as the second byte.
std::vector<EngineEvent> ForEachNote(const std::vector<int>& notes, uint8_t status, uint8_t value)
{
    std::vector<EngineEvent> events;
    for (int note : notes)
        events.push_back({0, 3, {status, static_cast<uint8_t>(note), value}});
    return events;
}

// What follows the end of a song: the pedal comes up and the keys still down
// are let go.
std::vector<EngineEvent> SongEnd(const std::vector<EngineEvent>& song)
{
    std::bitset<128> keysDown;
    for (const EngineEvent& e : song) {
        const uint8_t kind = e.bytes[0] & 0xF0;
        if (kind == 0x90 && e.size == 3 && e.bytes[2] > 0 && e.bytes[1] < 128)
            keysDown.set(e.bytes[1]);
        else if ((kind == 0x80 || kind == 0x90) && e.size >= 2 && e.bytes[1] < 128)
            keysDown.reset(e.bytes[1]);
        else if (kind == 0xB0 && e.size == 3 && e.bytes[1] == 123 && e.bytes[2] == 0)
            keysDown.reset();
    }
    std::vector<EngineEvent> end{{0, 3, {0xB0, 64, 0}}};
    for (int note = 0; note < 128; ++note)
        if (keysDown.test(static_cast<size_t>(note)))
            end.push_back({0, 3, {0x80, static_cast<uint8_t>(note), 0}});
    return end;
}

// A file of no name in the folder TMPDIR names (else /tmp) that is gone once
// closed, or why there is none.
std::string OpenSpool(std::unique_ptr<FILE, int (*)(FILE*)>& spool)
{
    const char* tmpdir = std::getenv("TMPDIR");
    const std::string folder = tmpdir && *tmpdir ? tmpdir : "/tmp";
    // A file that never has a name where the folder's file system allows
    // it, else one whose name goes at once.
    int fd = open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && errno != ENOENT && errno != ENOTDIR && errno != EACCES) {
        std::string pattern = folder + "/.marovane-spool-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0)
            unlink(name.data());
    }
    if (fd < 0)
        return "cannot make a spool file in '" + folder + "' (TMPDIR, else /tmp): " + std::strerror(errno);
    spool.reset(fdopen(fd, "w+"));
    if (!spool) {
        close(fd);
        return std::string("cannot make a spool file: ") + std::strerror(errno);
    }
    return {};
}

// The sound file on its way to the destination: a regular file through a
// temporary file beside it, anything else (a pipe, a device, standard
// output) from a spool in the temporary folder (TMPDIR) once complete,
// because a WAV header carries the length, known only at the end, and
// libsndfile writes a WAV file only where it can go back to its header.
class Output {
public:
    // Starts the file for at most `maxFrames` frames; empty, or the problem.
    std::string Open(const std::string& name, const Destination& to, int rate, long long maxFrames)
    {
        name_ = name;
        int fd;
        if (to.direct) {
            directFd_ = to.standardOutput ? STDOUT_FILENO : open(name.c_str(), O_WRONLY | O_CLOEXEC);
            if (directFd_ < 0)
                return "cannot write '" + name + "': " + std::strerror(errno);
            if (std::string problem = OpenSpool(spool_); !problem.empty())
                return problem;
            fd = fileno(spool_.get());
        } else {
            replace_.emplace(name);
            if (!replace_->Open())
                return replace_->Error();
            fd = replace_->Descriptor();
            const std::string& temporary = replace_->TemporaryName();
            if (temporary.size() < sizeof temporaryName) {
                std::memcpy(temporaryName, temporary.c_str(), temporary.size() + 1);
                temporaryNamed = 1;
            }
        }
        if (!file_.Open(fd, rate, maxFrames))
            return "cannot write '" + name + "': " + file_.Error();
        return {};
    }

    SoundFileOutput& File() { return file_; }

    // Completes the file after a render that failed with `error` (empty: it
    // did not) and puts it in place; empty, or what went wrong.
    std::string Finish(std::string error)
    {
        // Closing writes the header's final sizes, so it can fail too.
        if (!file_.Close() && error.empty())
            error = file_.Error();
        if (!error.empty())
            return "writing '" + name_ + "' failed: " + error + (replace_ ? "; the file is left as it was" : "");
        if (replace_) {
            const bool done = replace_->Commit();
            temporaryNamed = 0;
            return done ? std::string() : replace_->Error();
        }
        std::signal(SIGPIPE, SIG_IGN); // a reader that went away is a failed write
        const int fd = fileno(spool_.get());
        if (lseek(fd, 0, SEEK_SET) != 0)
            return "writing '" + name_ + "' failed: " + std::strerror(errno);
        char chunk[1 << 16];
        for (;;) {
            const ssize_t n = read(fd, chunk, sizeof chunk);
            if (n == 0)
                break;
            if (n < 0 || !WriteAll(directFd_, chunk, static_cast<size_t>(n)) || interrupted)
                return "writing '" + name_ + "' failed: " + (interrupted ? Interruption() : std::strerror(errno));
        }
        if (directFd_ != STDOUT_FILENO)
            close(directFd_);
        return {};
    }

private:
    std::string name_;
    std::optional<ReplaceFile> replace_;
    int directFd_ = -1;
    std::unique_ptr<FILE, int (*)(FILE*)> spool_{nullptr, std::fclose};
    SoundFileOutput file_; // last: closed before the file under it
};

// The engine's block call run for the file: chunks of whole buffers, each
// with the messages that fall in it, written out as they come.
class Renderer {
public:
    Renderer(Engine& engine, SoundFileOutput& file) : engine_(engine), file_(file), buffer_(2 * kChunk) {}

    // Renders `frames` frames, playing `events` (in order, their frames
    // counted from here) each at its frame; those at or past the end take
    // effect after the last frame. Stops after a failure.
    void Play(long long frames, const std::vector<EngineEvent>& events)
    {
        size_t next = 0;
        for (long long done = 0; done < frames && error_.empty();) {
            const uint32_t n = static_cast<uint32_t>(std::min<long long>(kChunk, frames - done));
            const bool last = done + n == frames;
            chunk_.clear();
            for (; next < events.size() && (last || events[next].frame < done + n); ++next) {
                chunk_.push_back(events[next]);
                chunk_.back().frame -= static_cast<uint32_t>(done);
            }
            engine_.RenderInterleaved(buffer_.data(), n, chunk_.data(), chunk_.size());
            Written(n);
            done += n;
        }
        if (error_.empty() && next < events.size())
            engine_.RenderInterleaved(buffer_.data(), 0, events.data() + next, events.size() - next);
    }

    // The release tails, buffer by buffer up to the 256-frame grid, while a
    // note sounds and for at most `buffers` buffers; true when they were cut
    // there.
    bool Tail(long buffers)
    {
        for (long b = 0; b < buffers && engine_.Synth().AnyNoteActive() && error_.empty(); ++b)
            Play(MAX_FRAMES - frames_ % MAX_FRAMES, {});
        return error_.empty() && engine_.Synth().AnyNoteActive();
    }

    long long Frames() const { return frames_; }
    size_t NonFinite() const { return nonFinite_; }
    float PeakSample() const { return peak_; }
    // Why the render stopped early; empty when it did not.
    const std::string& Error() const { return error_; }

private:
    static constexpr uint32_t kChunk = 32 * MAX_FRAMES;

    void Written(uint32_t frames)
    {
        nonFinite_ += SilenceNonFinite(buffer_.data(), 2 * frames);
        peak_ = Peak(buffer_.data(), 2 * frames, peak_);
        if (error_.empty() && !file_.Write(buffer_.data(), frames))
            error_ = file_.Error();
        frames_ += frames;
        if (interrupted)
            error_ = Interruption();
    }

    Engine& engine_;
    SoundFileOutput& file_;
    std::vector<float> buffer_;
    std::vector<EngineEvent> chunk_;
    long long frames_ = 0;
    size_t nonFinite_ = 0;
    float peak_ = 0.0f;
    std::string error_;
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
    auto engine = std::make_unique<Engine>(EngineOptions{o.rate, true});
    Song song;
    if (std::string problem = LoadPatch(o, to, engine->Synth()); !problem.empty())
        return Fail(problem);
    if (std::string problem = o.midi.empty() ? std::string() : LoadSong(o, to, song); !problem.empty())
        return Fail(problem);
    if (std::string problem = LoadTuning(o, to, *engine); !problem.empty())
        return Fail(problem);
    if (o.bandLimit >= 0)
        engine->SetParameter(ParamId::BandLimit, static_cast<float>(o.bandLimit));
    engine->Synth().SetPitchWheel(static_cast<float>(o.pitchWheel));
    engine->Synth().SetModWheelDepth(SynthState::ModWheelDepthFromValue(o.modWheel));

    HandleEndingSignals();

    // The longest the sound can be: the notes held or the file played, then
    // the release tails, at most a minute, in whole buffers.
    const long long holdFrames = static_cast<long long>(std::ceil(o.hold * o.rate / MAX_FRAMES)) * MAX_FRAMES;
    const long tailLimit = static_cast<long>(std::ceil(60.0 * o.rate / MAX_FRAMES));
    Output output;
    if (std::string problem = output.Open(o.output, to, o.rate,
                                          (o.midi.empty() ? holdFrames : song.lastFrame) + (tailLimit + 1) * MAX_FRAMES);
        !problem.empty())
        return Fail(problem);

    const auto start = std::chrono::steady_clock::now();
    Renderer render(*engine, output.File());
    size_t notesLeftOn = 0;
    if (o.midi.empty()) {
        // Without --velocity each note keeps its stored velocity, full at start.
        render.Play(holdFrames, ForEachNote(o.notes, 0x90, static_cast<uint8_t>(o.velocity ? o.velocity : 127)));
        render.Play(0, ForEachNote(o.notes, 0x80, 0));
    } else {
        render.Play(song.lastFrame, song.events);
        const std::vector<EngineEvent> end = SongEnd(song.events);
        notesLeftOn = end.size() - 1;
        render.Play(0, end);
    }
    const bool tailCut = render.Tail(tailLimit);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (std::string problem = output.Finish(render.Error()); !problem.empty())
        return Fail(problem);

    if (notesLeftOn)
        Warn(std::to_string(notesLeftOn) + " note(s) still on at the end of the MIDI file were released there");
    if (tailCut)
        Warn("the release tail was cut at the 60-second limit");
    if (render.NonFinite())
        Warn(std::to_string(render.NonFinite()) + " samples overflowed to values that are not finite numbers and "
             "were written as 0");
    if (const std::string overload = FullScaleWarning(render.PeakSample()); !overload.empty())
        Warn(overload);
    const double seconds = static_cast<double>(render.Frames()) / o.rate;
    // With the sound on standard output, the summary goes to standard error.
    FILE* summary = to.standardOutput ? stderr : stdout;
    std::fprintf(summary, "wrote %lld frames (%.3f s of audio) to %s, %s\n", render.Frames(), seconds,
                 o.output.c_str(), PaceText(seconds, elapsed).c_str());
    // A summary that did not arrive (a full disk, a closed pipe) is a failure
    // the caller must hear of, though the sound is written.
    errno = 0;
    if (std::fflush(summary) != 0 || std::ferror(summary))
        return Fail(std::string("cannot write the summary: ") + (errno ? std::strerror(errno) : "write error"));
    return 0;
}
