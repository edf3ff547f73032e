#include "MidiOutput.h"

const char* const MidiOutputPath::kNoPortText =
    "MIDI output is on, but no MIDI output port is open.  Choose a port in MIDI Settings.";
const char* const MidiOutputPath::kGoneText =
    "The MIDI output port no longer takes messages.  Choose a port in MIDI Settings.";
const char* const MidiOutputPath::kBehindText =
    "MIDI output could not keep up, and some messages were not sent.";

MidiOutputPath::MidiOutputPath(MidiOutputDevice* port) : port_(port), owner_(std::this_thread::get_id()) {}

void MidiOutputPath::SendMidiMessage(uint8_t status, uint8_t data1, uint8_t data2)
{
    MidiMessage m;
    m.size = static_cast<uint8_t>(MidiMessageSize(status));
    m.bytes[0] = status;
    m.bytes[1] = data1;
    m.bytes[2] = data2;
    if (std::this_thread::get_id() != owner_) {
        if (!queued_.Push(m))
            queueOverflowed_.store(true, std::memory_order_relaxed);
        return;
    }
    // Messages another thread queued before this one go first.
    TakeQueued();
    backlog_.push_back(m);
    Flush();
}

void MidiOutputPath::Pump()
{
    TakeQueued();
    Flush();
}

void MidiOutputPath::TakeQueued()
{
    MidiMessage m;
    while (queued_.Pop(m))
        backlog_.push_back(m);
    if (queueOverflowed_.exchange(false, std::memory_order_relaxed))
        Tell(kBehindText);
    if (backlog_.size() > kMaxBacklog) {
        backlog_.erase(backlog_.begin(), backlog_.begin() + static_cast<long>(backlog_.size() - kMaxBacklog));
        Tell(kBehindText);
    }
}

void MidiOutputPath::Flush()
{
    while (!backlog_.empty()) {
        if (!port_ || !port_->IsOpen()) {
            Tell(kNoPortText);
            backlog_.clear();
            break;
        }
        if (port_->Vanished()) {
            Tell(kGoneText);
            backlog_.clear();
            break;
        }
        const MidiMessage& m = backlog_.front();
        if (port_->Room() < m.size) {
            // Full: wait for the port to drain, but not for ever.
            const auto now = std::chrono::steady_clock::now();
            if (!waiting_) {
                waiting_ = true;
                waitingSince_ = now;
            } else if (now - waitingSince_ > kStallLimit) {
                Tell(kGoneText);
                backlog_.clear();
                waiting_ = false;
            }
            return;
        }
        waiting_ = false;
        const std::string error = port_->Send(m.bytes, m.size);
        if (!error.empty())
            Tell(error);
        backlog_.pop_front();
    }
    waiting_ = false;
}

void MidiOutputPath::Tell(const std::string& text)
{
    if (told_)
        return;
    told_ = true;
    notice_ = text;
}

void MidiOutputPath::Rearm()
{
    told_ = false;
}

std::string MidiOutputPath::TakeNotice()
{
    std::string n;
    n.swap(notice_);
    return n;
}
