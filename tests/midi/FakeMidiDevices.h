#pragma once
// Port lists and ports that record what is done with them, for the device
// settings, the output path and the settings dialog.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "midi/MidiPorts.h"

namespace fake {

// One log shared by the ports of a test, so the order across them shows.
using Log = std::vector<std::string>;

template <typename Base>
class Port : public Base {
public:
    Port(std::string name, std::vector<std::string> ports, Log* log) : name_(std::move(name)), ports_(std::move(ports)), log_(log) {}

    int PortCount() override { return static_cast<int>(ports_.size()); }
    std::string PortName(int i) override
    {
        return i >= 0 && i < PortCount() ? ports_[static_cast<size_t>(i)] : std::string();
    }
    std::string Open(int index) override
    {
        if (open_ >= 0 && log_)
            log_->push_back(name_ + " close " + std::to_string(open_));
        open_ = -1;
        if (log_)
            log_->push_back(name_ + " open " + std::to_string(index));
        if (!openError.empty())
            return openError;
        if (index < 0 || index >= PortCount())
            return "no port " + std::to_string(index);
        open_ = index;
        return {};
    }
    bool IsOpen() const override { return open_ >= 0; }
    int OpenIndex() const { return open_; }

    std::string openError;

protected:
    std::string name_;
    std::vector<std::string> ports_;
    Log* log_;
    int open_ = -1;
};

using InputDevice = Port<MidiInputDevice>;

class OutputDevice : public Port<MidiOutputDevice> {
public:
    using Port::Port;
    size_t Room() override { return room; }
    std::string Send(const uint8_t* bytes, size_t size) override
    {
        ++sends;
        if (size > room)
            overran = true; // the real port would have made the sender wait
        sent.emplace_back(bytes, bytes + size);
        if (room != SIZE_MAX)
            room -= size;
        return sendError;
    }
    bool Vanished() override { return vanished; }

    size_t room = SIZE_MAX;
    bool vanished = false;
    bool overran = false;
    int sends = 0;
    std::string sendError;
    std::vector<std::vector<uint8_t>> sent;
};

} // namespace fake
