#include "RtMidiDevices.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
#include <iostream>
#include <map>
#include <mutex>

#include <RtMidi.h>

// ---------------------------------------------------------------------------
// The program's own JACK clients.
//
// On JACK the library lists every MIDI port of the server, the program's own
// among them: with no other MIDI client, output port 0 would be the program's
// own input and every echo would play twice. Client names do not tell whose a
// client is, since JACK renames the clients of a second instance, and the
// library does not tell the name JACK gave its client. So a device opens its
// JACK port under a name no other port can have (the port's name, the process
// id and a count), finds that port among the server's ports with a client of
// its own, which gives the full name of the library's client, and then
// renames the port to its usual name. Each device keeps the name for as long
// as it lives; the port lists leave out the ports of those clients alone.

namespace {

// What a patchbay shows: the program's name on both clients (JACK gives a
// second program's clients a "-01" after it), the direction on each port.
const char* const kInputClient = "Marovane in";
const char* const kOutputClient = "Marovane out";
const char* const kInputPort = "MIDI in";
const char* const kOutputPort = "MIDI out";

std::mutex& OwnMutex()
{
    static std::mutex m;
    return m;
}

// The library client's name of every device that has opened a JACK port.
std::map<const void*, std::string>& OwnClients()
{
    static std::map<const void*, std::string> clients;
    return clients;
}

bool IsOwnJackPort(const std::string& fullName)
{
    const std::string client = fullName.substr(0, fullName.find(':'));
    std::lock_guard<std::mutex> lock(OwnMutex());
    return std::any_of(OwnClients().begin(), OwnClients().end(), [&](const auto& c) { return c.second == client; });
}

// A port name that no other port on the server has: JACK's port names are
// unique per client, and the process id and the count make this one unique
// among the clients of every process of this machine.
std::string UniquePortName(const std::string& portName)
{
    static std::atomic<unsigned> count{0};
    return portName + " " + std::to_string(getpid()) + "." + std::to_string(++count);
}

// The client of the JACK port whose short name is `portName`, or "".
std::string ClientOfPort(jack_client_t* probe, const std::string& portName)
{
    std::string client;
    const char** ports = jack_get_ports(probe, nullptr, JACK_DEFAULT_MIDI_TYPE, 0);
    for (size_t i = 0; ports && ports[i]; ++i) {
        const std::string name = ports[i];
        const size_t colon = name.find(':');
        if (colon != std::string::npos && name.compare(colon + 1, std::string::npos, portName) == 0)
            client = name.substr(0, colon);
    }
    if (ports)
        jack_free(ports);
    return client;
}

// The process's own JACK client without ports ("Marovane probe"), shared by
// the devices on JACK: opened when the first of them is made (before any of
// their ports), or at the first port opened where the server came later, and
// closed with the last of them. GUI thread only.
struct Probe {
    jack_client_t* client = nullptr;
    int users = 0;
};

Probe& SharedProbe()
{
    static Probe probe;
    return probe;
}

jack_client_t* ProbeClient()
{
    Probe& p = SharedProbe();
    if (!p.client && p.users > 0)
        p.client = jack_client_open("Marovane probe", JackNoStartServer, nullptr);
    return p.client;
}

} // namespace

std::vector<std::string> OwnJackClients()
{
    std::lock_guard<std::mutex> lock(OwnMutex());
    std::vector<std::string> names;
    for (const auto& c : OwnClients())
        names.push_back(c.second);
    return names;
}

namespace {

// Makes a library object on the default back end, else on the first other
// back end that can be made; null when none can.
template <typename T>
std::unique_ptr<T> Make(const char* clientName)
{
    // A back end that cannot be made (ALSA without its sequencer device)
    // prints its error to the terminal before it throws; the fallback below
    // makes that noise. Start-up only, on the GUI thread.
    struct QuietErrors {
        std::streambuf* saved = std::cerr.rdbuf(nullptr);
        ~QuietErrors()
        {
            std::cerr.rdbuf(saved);
            std::cerr.clear();
        }
    } quiet;
    try {
        return std::make_unique<T>(RtMidi::UNSPECIFIED, clientName);
    } catch (const RtMidiError&) {
    }
    std::vector<RtMidi::Api> apis;
    RtMidi::getCompiledApi(apis);
    for (RtMidi::Api api : apis) {
        try {
            return std::make_unique<T>(api, clientName);
        } catch (const RtMidiError&) {
        }
    }
    return nullptr;
}

} // namespace

RtMidiDevices CreateRtMidiDevices(TimedMidiInputHandler& handler)
{
    RtMidiDevices ports;
    if (auto in = Make<RtMidiIn>(kInputClient)) {
        if (in->getCurrentApi() == RtMidi::UNIX_JACK) {
            // Gone before ours comes, so that ours has the usual name.
            in.reset();
            ports.in = std::make_unique<JackMidiInputDevice>(handler);
        } else {
            ports.in = std::make_unique<RtMidiInputDevice>(std::move(in), handler);
        }
    }
    if (auto out = Make<RtMidiOut>(kOutputClient))
        ports.out = std::make_unique<RtMidiOutputDevice>(std::move(out));
    return ports;
}

// ---------------------------------------------------------------------------

namespace {
void LibraryError(RtMidiError::Type type, const std::string& text, void* self)
{
    // Warnings (no ports yet, a port number out of range) are not worth the
    // terminal; errors are kept for the user.
    static_cast<RtMidiDeviceBase*>(self)->OnLibraryError(
        type == RtMidiError::WARNING || type == RtMidiError::DEBUG_WARNING, text);
}
} // namespace

RtMidiDeviceBase::RtMidiDeviceBase(RtMidi& midi, int api, std::string portName)
    : midi_(midi), api_(api), portName_(std::move(portName))
{
    midi_.setErrorCallback(&LibraryError, this);
    if (IsJack()) {
        ++SharedProbe().users;
        ProbeClient();
    }
}

RtMidiDeviceBase::~RtMidiDeviceBase()
{
    {
        std::lock_guard<std::mutex> lock(OwnMutex());
        OwnClients().erase(this);
    }
    if (IsJack() && --SharedProbe().users == 0 && SharedProbe().client) {
        jack_client_close(SharedProbe().client);
        SharedProbe().client = nullptr;
    }
}

void RtMidiDeviceBase::OnLibraryError(bool warning, const std::string& text)
{
    if (!warning)
        error_ = text;
}

std::string RtMidiDeviceBase::ApiName() const { return RtMidi::getApiName(static_cast<RtMidi::Api>(api_)); }

bool RtMidiDeviceBase::IsJack() const { return api_ == RtMidi::UNIX_JACK; }

std::vector<unsigned> RtMidiDeviceBase::Offered()
{
    std::vector<unsigned> offered;
    const unsigned n = midi_.getPortCount();
    for (unsigned i = 0; i < n; ++i)
        if (!IsJack() || !IsOwnJackPort(midi_.getPortName(i)))
            offered.push_back(i);
    return offered;
}

int RtMidiDeviceBase::Count() { return static_cast<int>(Offered().size()); }

std::string RtMidiDeviceBase::Name(int index)
{
    const std::vector<unsigned> offered = Offered();
    if (index < 0 || static_cast<size_t>(index) >= offered.size())
        return {};
    return midi_.getPortName(offered[static_cast<size_t>(index)]);
}

bool RtMidiDeviceBase::PortOpen() const { return midi_.isPortOpen(); }

std::string RtMidiDeviceBase::OpenOffered(int index)
{
    error_.clear();
    try {
        midi_.closePort();
        const std::vector<unsigned> offered = Offered();
        if (index < 0 || static_cast<size_t>(index) >= offered.size())
            return "There is no MIDI port number " + std::to_string(index + 1) + ".";
        // On JACK under a name of its own first, by which the port's client
        // is found; then under its usual name.
        const std::string unique = IsJack() ? UniquePortName(portName_) : portName_;
        midi_.openPort(offered[static_cast<size_t>(index)], unique);
        if (IsJack() && midi_.isPortOpen()) {
            LearnOwnClient(unique);
            midi_.setPortName(portName_);
        }
    } catch (const RtMidiError& e) {
        return e.getMessage();
    }
    if (!error_.empty())
        return error_;
    if (!midi_.isPortOpen())
        return "The MIDI port could not be opened.";
    return {};
}

void RtMidiDeviceBase::LearnOwnClient(const std::string& uniquePortName)
{
    // The library's client is on the default server (JACK_DEFAULT_SERVER),
    // and so is the probe.
    jack_client_t* probe = ProbeClient();
    if (!probe)
        return;
    ownClient_ = ClientOfPort(probe, uniquePortName);
    std::lock_guard<std::mutex> lock(OwnMutex());
    if (ownClient_.empty())
        OwnClients().erase(this);
    else
        OwnClients()[this] = ownClient_;
}

// ---------------------------------------------------------------------------

RtMidiInputDevice::RtMidiInputDevice(std::unique_ptr<RtMidiIn> midi, MidiInputHandler& handler)
    : RtMidiDeviceBase(*midi, midi->getCurrentApi(), kInputPort), in_(std::move(midi)),
      handler_(handler)
{
}

RtMidiInputDevice::~RtMidiInputDevice()
{
    // Closing the library object stops its input thread before the handler
    // can go away.
    in_.reset();
}

std::string RtMidiInputDevice::Open(int index)
{
    std::string error = OpenOffered(index);
    if (!error.empty())
        return error;
    if (!callbackInstalled_) {
        error_.clear();
        try {
            in_->setCallback(&RtMidiInputDevice::OnMessage, this);
        } catch (const RtMidiError& e) {
            return e.getMessage();
        }
        if (!error_.empty())
            return error_;
        callbackInstalled_ = true;
    }
    return {};
}

void RtMidiInputDevice::OnMessage(double, std::vector<unsigned char>* message, void* self)
{
    if (message)
        static_cast<RtMidiInputDevice*>(self)->handler_.OnMidiMessage(message->data(), message->size());
}

// ---------------------------------------------------------------------------

namespace {
// The library's ring on JACK holds 16384 bytes, each message with a length
// word before it. Half of it is the most ever counted as in flight.
constexpr size_t kJackRingBudget = 8192;
constexpr size_t kJackHeader = sizeof(int);
} // namespace

RtMidiOutputDevice::RtMidiOutputDevice(std::unique_ptr<RtMidiOut> midi)
    : RtMidiDeviceBase(*midi, midi->getCurrentApi(), kOutputPort), out_(std::move(midi))
{
}

RtMidiOutputDevice::~RtMidiOutputDevice() { out_.reset(); }

std::string RtMidiOutputDevice::Open(int index)
{
    jackPort_.clear();
    std::string error = OpenOffered(index);
    if (error.empty() && IsJack()) {
        // The cycle count and the buffer size are the server's, asked
        // through the probe client; the port is the library's.
        jackClient_ = ownClient_.empty() ? nullptr : ProbeClient();
        if (jackClient_) {
            jackPort_ = ownClient_ + ":" + portName_;
            period_ = std::max<uint32_t>(1, jack_get_buffer_size(static_cast<jack_client_t*>(jackClient_)));
        }
        for (Cycle& c : cycles_)
            c = Cycle{};
    }
    return error;
}

size_t RtMidiOutputDevice::BytesInRing(uint32_t now) const
{
    // A message handed over during the cycle that began at frame f is out of
    // the ring once the cycle after next has run, also where JACK runs its
    // clients a cycle behind the driver.
    size_t bytes = 0;
    for (const Cycle& c : cycles_)
        if (c.bytes && now - c.frame < 4 * period_)
            bytes += c.bytes;
    return bytes;
}

size_t RtMidiOutputDevice::Room()
{
    if (!PortOpen())
        return 0;
    if (!IsJack())
        return SIZE_MAX; // the other back ends refuse, they do not wait
    if (!jackClient_)
        return 0;
    const size_t used = BytesInRing(jack_last_frame_time(static_cast<jack_client_t*>(jackClient_)));
    return used + kJackHeader < kJackRingBudget ? kJackRingBudget - used - kJackHeader : 0;
}

std::string RtMidiOutputDevice::Send(const uint8_t* bytes, size_t size)
{
    if (IsJack() && jackClient_) {
        const uint32_t now = jack_last_frame_time(static_cast<jack_client_t*>(jackClient_));
        Cycle* slot = nullptr;
        for (Cycle& c : cycles_)
            if (c.bytes && c.frame == now)
                slot = &c;
        if (!slot) {
            // The oldest cycle makes room.
            slot = &cycles_[0];
            for (Cycle& c : cycles_)
                if (!c.bytes || now - c.frame > now - slot->frame)
                    slot = &c;
            if (slot->bytes && now - slot->frame < 4 * period_)
                return "MIDI output is behind."; // cannot happen with Room() respected
            *slot = Cycle{now, 0};
        }
        slot->bytes += size + kJackHeader;
    }
    error_.clear();
    try {
        out_->sendMessage(bytes, size);
    } catch (const RtMidiError& e) {
        return e.getMessage();
    }
    return error_;
}

bool RtMidiOutputDevice::Vanished()
{
    if (!IsJack() || !PortOpen() || !jackClient_ || jackPort_.empty())
        return false;
    return jack_port_by_name(static_cast<jack_client_t*>(jackClient_), jackPort_.c_str()) == nullptr;
}

// ---------------------------------------------------------------------------
// MIDI input on JACK, with each event's frame.

JackMidiInputDevice::JackMidiInputDevice(TimedMidiInputHandler& handler) : handler_(handler) { Connect(); }

JackMidiInputDevice::~JackMidiInputDevice()
{
    if (client_)
        jack_client_close(static_cast<jack_client_t*>(client_));
    std::lock_guard<std::mutex> lock(OwnMutex());
    OwnClients().erase(this);
}

bool JackMidiInputDevice::Connect()
{
    if (gone_.load())
        return false;
    if (client_)
        return true;
    jack_client_t* client = jack_client_open(kInputClient, JackNoStartServer, nullptr);
    if (!client)
        return false;
    jack_set_process_callback(client, &JackMidiInputDevice::Process, this);
    jack_on_shutdown(client, &JackMidiInputDevice::ServerGone, this);
    rate_ = jack_get_sample_rate(client);
    if (jack_activate(client) != 0) {
        jack_client_close(client);
        return false;
    }
    client_ = client;
    return true;
}

std::vector<std::string> JackMidiInputDevice::Offered()
{
    std::vector<std::string> offered;
    if (!Connect())
        return offered;
    const char** ports = jack_get_ports(static_cast<jack_client_t*>(client_), nullptr, JACK_DEFAULT_MIDI_TYPE,
                                        JackPortIsOutput);
    for (size_t i = 0; ports && ports[i]; ++i)
        if (!IsOwnJackPort(ports[i]))
            offered.emplace_back(ports[i]);
    if (ports)
        jack_free(ports);
    return offered;
}

std::string JackMidiInputDevice::PortName(int index)
{
    const std::vector<std::string> offered = Offered();
    if (index < 0 || static_cast<size_t>(index) >= offered.size())
        return {};
    return offered[static_cast<size_t>(index)];
}

std::string JackMidiInputDevice::Open(int index)
{
    if (!Connect())
        return gone_.load() ? "The JACK server has shut down." : "The JACK server cannot be reached.";
    auto* client = static_cast<jack_client_t*>(client_);
    const std::vector<std::string> offered = Offered();
    // The old source goes first, as when a port closes.
    auto* port = static_cast<jack_port_t*>(port_.load());
    if (port && !source_.empty())
        jack_disconnect(client, source_.c_str(), jack_port_name(port));
    source_.clear();
    if (index < 0 || static_cast<size_t>(index) >= offered.size())
        return "There is no MIDI port number " + std::to_string(index + 1) + ".";
    if (!port) {
        port = jack_port_register(client, kInputPort, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        if (!port)
            return "The JACK MIDI port could not be made.";
        port_.store(port, std::memory_order_release);
        std::lock_guard<std::mutex> lock(OwnMutex());
        OwnClients()[this] = jack_get_client_name(client);
    }
    const std::string& source = offered[static_cast<size_t>(index)];
    const int err = jack_connect(client, source.c_str(), jack_port_name(port));
    if (err != 0 && err != EEXIST)
        return "The MIDI port " + source + " could not be connected.";
    source_ = source;
    return {};
}

int JackMidiInputDevice::Process(uint32_t frames, void* arg)
{
    auto* self = static_cast<JackMidiInputDevice*>(arg);
    auto* port = static_cast<jack_port_t*>(self->port_.load(std::memory_order_acquire));
    if (!port)
        return 0;
    auto* client = static_cast<jack_client_t*>(self->client_);
    void* buffer = jack_port_get_buffer(port, frames);
    const uint32_t count = jack_midi_get_event_count(buffer);
    if (count == 0)
        return 0;
    // The cycle's first frame, and where it lay on the monotonic clock (for
    // an audio device that is not on this server).
    const jack_nframes_t start = jack_last_frame_time(client);
    const double nsPerFrame = 1e9 / self->rate_;
    const int64_t startNs = MidiStamp::NowNanoseconds() -
                            static_cast<int64_t>(jack_frames_since_cycle_start(client) * nsPerFrame);
    for (uint32_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0)
            continue;
        MidiStamp stamp;
        stamp.hasJackFrame = true;
        stamp.jackFrame = start + event.time;
        stamp.nanoseconds = startNs + static_cast<int64_t>(event.time * nsPerFrame);
        self->handler_.OnTimedMidiMessage(event.buffer, event.size, stamp);
    }
    return 0;
}

void JackMidiInputDevice::ServerGone(void* arg) { static_cast<JackMidiInputDevice*>(arg)->gone_.store(true); }
