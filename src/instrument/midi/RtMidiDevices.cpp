#include "RtMidiDevices.h"

#include <dlfcn.h>
#include <jack/jack.h>

#include <algorithm>
#include <iostream>
#include <atomic>
#include <cstdarg>
#include <mutex>

#include <RtMidi.h>

// ---------------------------------------------------------------------------
// The program's own JACK clients.
//
// On JACK the library lists every MIDI port of the server, the program's own
// among them: with no other MIDI client, output port 0 would be the program's
// own input and every echo would play twice. Client names do not tell whose a
// client is, since JACK renames the clients of a second instance. So every
// JACK client this process opens is noted as JACK hands it out: this
// definition of jack_client_open stands in front of JACK's own (the program
// is linked before the JACK library) and calls it.

namespace {

struct OwnClient {
    std::string requested;
    std::string name;
    jack_client_t* client;
};

std::mutex& OwnMutex()
{
    static std::mutex m;
    return m;
}

std::vector<OwnClient>& OwnClients()
{
    static std::vector<OwnClient> clients;
    return clients;
}

jack_client_t* LatestOwnClient(const std::string& requested)
{
    std::lock_guard<std::mutex> lock(OwnMutex());
    for (auto it = OwnClients().rbegin(); it != OwnClients().rend(); ++it)
        if (it->requested == requested)
            return it->client;
    return nullptr;
}

} // namespace

extern "C" jack_client_t* jack_client_open(const char* name, jack_options_t options, jack_status_t* status, ...)
{
    using Open = jack_client_t* (*)(const char*, jack_options_t, jack_status_t*, ...);
    static const Open real = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "jack_client_open"));
    if (!real)
        return nullptr;
    jack_client_t* client;
    if (options & JackServerName) {
        va_list args;
        va_start(args, status);
        const char* server = va_arg(args, const char*);
        va_end(args);
        client = real(name, options, status, server);
    } else {
        client = real(name, options, status);
    }
    if (client) {
        std::lock_guard<std::mutex> lock(OwnMutex());
        OwnClients().push_back({name ? name : "", jack_get_client_name(client), client});
    }
    return client;
}

std::vector<std::string> OwnJackClients()
{
    std::lock_guard<std::mutex> lock(OwnMutex());
    std::vector<std::string> names;
    for (const OwnClient& c : OwnClients())
        names.push_back(c.name);
    return names;
}

namespace {

// What a patchbay shows: the program's name on both clients (JACK gives a
// second program's clients a "-01" after it), the direction on each port.
const char* const kInputClient = "Marovane in";
const char* const kOutputClient = "Marovane out";
const char* const kInputPort = "MIDI in";
const char* const kOutputPort = "MIDI out";

bool IsOwnJackPort(const std::string& fullName)
{
    const std::string client = fullName.substr(0, fullName.find(':'));
    std::lock_guard<std::mutex> lock(OwnMutex());
    return std::any_of(OwnClients().begin(), OwnClients().end(),
                       [&](const OwnClient& c) { return c.name == client; });
}

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

RtMidiDevices CreateRtMidiDevices(MidiInputHandler& handler)
{
    RtMidiDevices ports;
    if (auto in = Make<RtMidiIn>(kInputClient))
        ports.in = std::make_unique<RtMidiInputDevice>(std::move(in), handler);
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
        midi_.openPort(offered[static_cast<size_t>(index)], portName_);
    } catch (const RtMidiError& e) {
        return e.getMessage();
    }
    if (!error_.empty())
        return error_;
    if (!midi_.isPortOpen())
        return "The MIDI port could not be opened.";
    return {};
}

// ---------------------------------------------------------------------------

RtMidiInputDevice::RtMidiInputDevice(std::unique_ptr<RtMidiIn> midi, MidiInputHandler& handler)
    : RtMidiDeviceBase(*midi, midi->getCurrentApi(), kInputPort), in_(std::move(midi)), handler_(handler)
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
        // The library's client may have been opened late (the server started
        // after the program); the latest one of ours with that name is it.
        jackClient_ = LatestOwnClient(kOutputClient);
        if (jackClient_) {
            auto* client = static_cast<jack_client_t*>(jackClient_);
            jackPort_ = std::string(jack_get_client_name(client)) + ":" + portName_;
            period_ = std::max<uint32_t>(1, jack_get_buffer_size(client));
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
