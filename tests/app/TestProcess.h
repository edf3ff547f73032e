#pragma once
// Helpers for tests that start other programs (a JACK dummy server, the
// program itself, jack_rec, xdotool): each child is killed when its owner
// goes out of scope, so a failing test leaves nothing running.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace testproc {

// A running child process.
class Child {
public:
    Child() = default;
    explicit Child(const std::vector<std::string>& argv, bool quiet = true)
    {
        // Through setpriv, the child is sent SIGTERM when the test dies (a
        // crash, or ctest's timeout): a JACK server left running would keep
        // one of the eight places in JACK's registry of servers.
        static const bool setpriv = access("/usr/bin/setpriv", X_OK) == 0;
        std::vector<std::string> command;
        if (setpriv)
            command = {"/usr/bin/setpriv", "--pdeathsig", "TERM", "--"};
        command.insert(command.end(), argv.begin(), argv.end());
        std::vector<char*> args;
        for (const std::string& a : command)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (quiet) {
            posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
            posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        }
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    Child(Child&& o) noexcept : pid_(o.pid_) { o.pid_ = -1; }
    Child& operator=(Child&& o) noexcept
    {
        Stop();
        pid_ = o.pid_;
        o.pid_ = -1;
        return *this;
    }
    ~Child() { Stop(); }

    pid_t Pid() const { return pid_; }
    bool Running() const { return pid_ > 0; }

    // The exit code once the child ends within the time, or nothing (a
    // signal death gives 128 + signal).
    std::optional<int> Wait(std::chrono::milliseconds timeout)
    {
        if (pid_ <= 0)
            return std::nullopt;
        auto end = std::chrono::steady_clock::now() + timeout;
        do {
            int status = 0;
            pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                if (WIFEXITED(status))
                    return WEXITSTATUS(status);
                return 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        } while (std::chrono::steady_clock::now() < end);
        return std::nullopt;
    }

    // Terminates the child (TERM, then KILL) and reaps it.
    void Stop()
    {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGTERM);
        if (!Wait(std::chrono::milliseconds(3000)) && pid_ > 0) {
            std::fprintf(stderr, "[test] pid %d ignored SIGTERM for 3 s: killed\n", static_cast<int>(pid_));
            kill(pid_, SIGKILL);
            Wait(std::chrono::milliseconds(3000));
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// Runs a shell command to its end; returns its standard output.
inline std::string Output(const std::string& command)
{
    std::string out;
    if (FILE* p = popen((command + " 2>/dev/null").c_str(), "r")) {
        char buf[512];
        size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        pclose(p);
    }
    return out;
}

inline int Run(const std::string& command)
{
    return std::system((command + " >/dev/null 2>&1").c_str());
}

// The name of a test's JACK server: the tag and the test program's name, the
// same at every run. JACK keeps eight places for servers in a registry that
// outlives them, and takes back the place of a server that died without
// giving it up (killed, or its machine's test timed out) only when a server
// of the same name starts; a name that changed with every run would use up a
// place for good each time.
inline std::string ServerName(const std::string& tag)
{
    return "mrv-" + tag + "-" + program_invocation_short_name;
}

// A JACK server with the dummy driver (44100 Hz, 256 frames unless a test
// asks for another period) under a name
// of its own, made the default server of this process, so that parallel
// tests never share one. The server is synchronous: it waits for every
// client each cycle, so a client that runs late on a busy machine delays the
// cycle instead of leaving a hole in what the others hear. A realtime server
// also runs its clients' cycles ahead of everything else, for tests that time
// samples to the frame.
class JackServer {
public:
    explicit JackServer(const std::string& tag, bool realtime = false, int period = 256)
        : name_(ServerName(tag))
    {
        const std::string frames = std::to_string(period);
        setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
        setenv("JACK_NO_AUDIO_RESERVATION", "1", 1);
        server_ = Child({"jackd", "-S", realtime ? "-R" : "-r", "-n", name_, "-d", "dummy", "-r", "44100", "-p", frames});
        ready_ = Run("jack_wait -w -t 10") == 0;
        if (!ready_ && realtime) {
            // No realtime scheduling to be had: an ordinary server, under a
            // name of its own (the first may have left its files behind).
            server_.Stop();
            name_ += "-plain";
            setenv("JACK_DEFAULT_SERVER", name_.c_str(), 1);
            server_ = Child({"jackd", "-S", "-r", "-n", name_, "-d", "dummy", "-r", "44100", "-p", frames});
            ready_ = Run("jack_wait -w -t 10") == 0;
        }
    }
    ~JackServer() { server_.Stop(); }
    bool Ready() const { return ready_; }
    const std::string& Name() const { return name_; }
    // For a test that stops its own server (with SIGTERM: a server killed
    // harder keeps its slot in JACK's registry) and waits for it to go.
    pid_t Pid() const { return server_.Pid(); }
    bool WaitForExit(std::chrono::milliseconds timeout) { return server_.Wait(timeout).has_value(); }

private:
    std::string name_;
    Child server_;
    bool ready_ = false;
};

// Another program's MIDI ports on the current JACK server (one output "out",
// one input "in", both silent), there until this object goes: a window
// started now finds MIDI devices and opens them.
class OtherMidiPorts {
public:
    explicit OtherMidiPorts(const std::string& name = "other-midi")
    {
        const char* binDir = std::getenv("MAROVANE_BIN_DIR");
        program_ = Child({std::string(binDir ? binDir : ".") + "/marovane-test-midi-ports", name});
        for (int i = 0; i < 200 && !ready_; ++i) {
            ready_ = Output("jack_lsp").find(name + ":in\n") != std::string::npos;
            if (!ready_)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    bool Ready() const { return ready_; }

private:
    Child program_;
    bool ready_ = false;
};

} // namespace testproc
