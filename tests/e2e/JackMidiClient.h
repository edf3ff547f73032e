#pragma once
// The end-to-end tests' own JACK client: a MIDI keyboard and a recorder in
// one. Its MIDI output "keys" plays the program, its MIDI input "echo" hears
// what the program sends, and its two audio inputs record the program's
// output, every sample and message stamped with JACK's frame count, so that
// the time from a Note On to its first sample is exact.
//
// Threads: the Send*/Take*/flood calls from the test's thread; the process
// callback on JACK's thread reads the queued messages with a try-lock (a
// busy cycle only defers them) and writes received messages and samples into
// memory reserved up front.
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

struct TimedMessage {
    uint64_t frame = 0; // JACK's frame count when it was sent or received
    std::vector<uint8_t> bytes;
};

class JackMidiClient {
public:
    explicit JackMidiClient(const std::string& name, double recordSeconds = 40.0)
        : capacity_(static_cast<size_t>(recordSeconds * 44100.0))
    {
        left_.resize(capacity_);
        right_.resize(capacity_);
        received_.resize(kMaxReceived);
        client_ = jack_client_open(name.c_str(), JackNoStartServer, nullptr);
        if (!client_)
            return;
        keys_ = jack_port_register(client_, "keys", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        echo_ = jack_port_register(client_, "echo", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        in_[0] = jack_port_register(client_, "in_0", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        in_[1] = jack_port_register(client_, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(client_, &JackMidiClient::Process, this);
        ok_ = keys_ && echo_ && in_[0] && in_[1] && jack_activate(client_) == 0;
    }
    ~JackMidiClient()
    {
        if (client_)
            jack_client_close(client_);
    }
    JackMidiClient(const JackMidiClient&) = delete;
    JackMidiClient& operator=(const JackMidiClient&) = delete;

    bool Ok() const { return ok_; }
    std::string Name() const { return client_ ? jack_get_client_name(client_) : ""; }

    // Connects the program's audio output to the recorder.
    bool ConnectAudio(const std::string& left, const std::string& right)
    {
        return jack_connect(client_, left.c_str(), jack_port_name(in_[0])) == 0 &&
               jack_connect(client_, right.c_str(), jack_port_name(in_[1])) == 0;
    }

    // Queues a message for the next cycle, `offset` frames into it. Returns
    // a ticket whose SentFrame() is known once it went out.
    size_t Send(std::vector<uint8_t> bytes, uint32_t offset = 0)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const size_t ticket = sentFrames_.size();
        sentFrames_.push_back(0);
        outgoing_.push_back({std::move(bytes), offset, ticket, 0});
        return ticket;
    }
    // Queues a message for JACK frame `frame` exactly (sent at the first
    // frame of the next cycle if that frame has passed). Messages queued
    // this way go out in order.
    size_t SendAt(std::vector<uint8_t> bytes, uint64_t frame)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const size_t ticket = sentFrames_.size();
        sentFrames_.push_back(0);
        outgoing_.push_back({std::move(bytes), 0, ticket, frame});
        return ticket;
    }
    // The frame a queued message went out at, or 0 while it has not.
    uint64_t SentFrame(size_t ticket)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return sentFrames_[ticket];
    }
    bool AllSent()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return outgoing_.empty();
    }

    // Recording of both audio inputs from now on.
    void Record() { recording_ = true; }
    void StopRecording() { recording_ = false; }
    size_t Recorded() const { return recorded_.load(); }
    // The frame of recorded sample 0. Sample i is frame FirstRecordedFrame() + i
    // also across a cycle this client missed (its samples stay 0).
    uint64_t FirstRecordedFrame() const { return firstFrame_.load(); }
    // Whether recorded samples [from, to) came from cycles this client ran:
    // no missed cycle left zeros anywhere in them.
    bool Whole(size_t from, size_t to) const
    {
        const size_t n = holeCount_.load(std::memory_order_acquire);
        for (size_t i = 0; i < n; ++i)
            if (holes_[i].first < to && from < holes_[i].second)
                return false;
        return n < kMaxHoles; // past that, holes are no longer noted
    }
    const std::vector<float>& Left() const { return left_; }
    const std::vector<float>& Right() const { return right_; }
    // The recorded samples of [from, to) in frames since the first.
    std::vector<float> Samples(size_t from, size_t to) const
    {
        to = std::min(to, Recorded());
        return from < to ? std::vector<float>(left_.begin() + from, left_.begin() + to) : std::vector<float>{};
    }

    // Every message the "echo" input received so far, in order.
    std::vector<TimedMessage> Received() const
    {
        const size_t n = receivedCount_.load(std::memory_order_acquire);
        return std::vector<TimedMessage>(received_.begin(), received_.begin() + n);
    }

    // A flood: `count` messages made by `make(i, bytes)` (which returns the
    // length, at most 8), as many each cycle as the port's buffer takes,
    // until all are out.
    using MakeMessage = size_t (*)(uint64_t, uint8_t*);
    void Flood(uint64_t count, MakeMessage make)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        floodMake_ = std::move(make);
        floodCount_ = count;
        floodSent_ = 0;
        flooding_ = true;
    }
    uint64_t FloodSent() const { return floodSent_.load(); }
    bool Flooding() const { return flooding_.load(); }

    jack_nframes_t Frame() const { return jack_last_frame_time(client_); }

private:
    struct Outgoing {
        std::vector<uint8_t> bytes;
        uint32_t offset;
        size_t ticket;
        uint64_t at; // an exact frame, or 0 for `offset` into the next cycle
    };
    static constexpr size_t kMaxReceived = 1 << 20;
    static constexpr size_t kMaxHoles = 4096;

    static int Process(jack_nframes_t frames, void* arg)
    {
        static_cast<JackMidiClient*>(arg)->Cycle(frames);
        return 0;
    }

    void Cycle(jack_nframes_t frames)
    {
        const uint64_t start = jack_last_frame_time(client_);
        void* out = jack_port_get_buffer(keys_, frames);
        jack_midi_clear_buffer(out);
        if (mutex_.try_lock()) {
            while (!outgoing_.empty()) {
                Outgoing& m = outgoing_.front();
                if (m.at != 0 && m.at >= start + frames)
                    break; // in a later cycle
                const uint32_t offset = m.at != 0 ? static_cast<uint32_t>(m.at > start ? m.at - start : 0)
                                                  : std::min<uint32_t>(m.offset, frames - 1);
                if (jack_midi_event_write(out, offset, m.bytes.data(), m.bytes.size()) != 0)
                    break;
                sentFrames_[m.ticket] = start + offset;
                outgoing_.pop_front();
            }
            if (flooding_) {
                const uint32_t last = frames - 1;
                while (floodSent_ < floodCount_) {
                    uint8_t m[8];
                    const size_t size = floodMake_(floodSent_, m);
                    // Room for the event and its header, with some to spare.
                    if (jack_midi_max_event_size(out) < size + 16 || jack_midi_event_write(out, last, m, size) != 0)
                        break;
                    ++floodSent_;
                }
                if (floodSent_ >= floodCount_)
                    flooding_ = false;
            }
            mutex_.unlock();
        }

        void* in = jack_port_get_buffer(echo_, frames);
        const uint32_t events = jack_midi_get_event_count(in);
        for (uint32_t e = 0; e < events; ++e) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, in, e) != 0)
                continue;
            const size_t n = receivedCount_.load(std::memory_order_relaxed);
            if (n >= kMaxReceived)
                break;
            received_[n].frame = start + event.time;
            received_[n].bytes.assign(event.buffer, event.buffer + event.size);
            receivedCount_.store(n + 1, std::memory_order_release);
        }

        if (recording_) {
            const auto* l = static_cast<const float*>(jack_port_get_buffer(in_[0], frames));
            const auto* r = static_cast<const float*>(jack_port_get_buffer(in_[1], frames));
            if (!started_) {
                started_ = true;
                firstFrame_ = start;
            }
            const size_t at = std::min<size_t>(static_cast<size_t>(start - firstFrame_), capacity_);
            const size_t before = recorded_.load(std::memory_order_relaxed);
            if (at > before) {
                const size_t n = holeCount_.load(std::memory_order_relaxed);
                if (n < kMaxHoles) {
                    holes_[n] = {before, at};
                    holeCount_.store(n + 1, std::memory_order_release);
                }
            }
            const size_t n = std::min<size_t>(frames, capacity_ - at);
            std::copy(l, l + n, left_.begin() + at);
            std::copy(r, r + n, right_.begin() + at);
            recorded_.store(at + n, std::memory_order_release);
        }
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* keys_ = nullptr;
    jack_port_t* echo_ = nullptr;
    jack_port_t* in_[2] = {nullptr, nullptr};
    bool ok_ = false;

    std::mutex mutex_;
    std::deque<Outgoing> outgoing_;
    std::vector<uint64_t> sentFrames_;
    MakeMessage floodMake_ = nullptr;
    uint64_t floodCount_ = 0;
    std::atomic<uint64_t> floodSent_{0};
    std::atomic<bool> flooding_{false};

    std::vector<TimedMessage> received_;
    std::atomic<size_t> receivedCount_{0};

    const size_t capacity_;
    std::vector<float> left_, right_;
    std::atomic<bool> recording_{false};
    std::atomic<size_t> recorded_{0};
    std::atomic<uint64_t> firstFrame_{0};
    bool started_ = false;
    std::vector<std::pair<size_t, size_t>> holes_ = std::vector<std::pair<size_t, size_t>>(kMaxHoles);
    std::atomic<size_t> holeCount_{0};
};

} // namespace e2e
