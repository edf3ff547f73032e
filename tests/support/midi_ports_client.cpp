// Another program with MIDI ports: one JACK MIDI output and one input that
// send and hear nothing. Tests that start the main window or the program run
// it first, so that MIDI ports exist as on a musician's machine and start-up
// opens them instead of saying there are none. Runs until it is stopped.
#include <jack/jack.h>
#include <jack/midiport.h>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t stop = 0;
void Stop(int) { stop = 1; }

jack_port_t* out = nullptr;

// Every cycle: an empty output. A client without a process callback is
// triggered once its ports are connected yet never finishes, and holds up
// every client after it in the graph.
int Process(jack_nframes_t frames, void*)
{
    jack_midi_clear_buffer(jack_port_get_buffer(out, frames));
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    const char* name = argc > 1 ? argv[1] : "other-midi";
    jack_client_t* client = jack_client_open(name, JackNoStartServer, nullptr);
    if (!client) {
        std::fprintf(stderr, "%s: no JACK server\n", name);
        return 1;
    }
    out = jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    if (!out || jack_set_process_callback(client, Process, nullptr) != 0 || jack_activate(client) != 0)
        return 1;
    std::signal(SIGTERM, Stop);
    std::signal(SIGINT, Stop);
    while (!stop)
        pause();
    jack_client_close(client);
    return 0;
}
