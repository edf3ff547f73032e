// The two-thread render: see RenderSplit.h for the scheme and its handshake.

#include "RenderSplit.h"

#include "FloatEnvironment.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <new>
#include <system_error>

namespace {

using marovane_fast::NoteKernelArgs;
using marovane_fast::NoteKernels;

constexpr uint64_t kTakenOver = uint64_t{1} << 31;
constexpr uint64_t kDoneMask = kTakenOver - 1;
constexpr uint32_t kLastReady = uint32_t{1} << 31; // the last notes' inputs are ready

constexpr uint64_t Progress(uint32_t generation, int done)
{
    return uint64_t{generation} << 32 | static_cast<uint64_t>(done);
}

// Stores `fresh` to `shared` where it differs, 64-byte line by line, judged
// against `mine`, the audio thread's own copy of what `shared` holds (and
// kept so): reading the shared lines back, which the helper has read since,
// cost several times as much.
void StoreChanged(void* shared, void* mine, const void* fresh, size_t bytes)
{
    auto* d = static_cast<char*>(shared);
    auto* m = static_cast<char*>(mine);
    auto* f = static_cast<const char*>(fresh);
    if (std::memcmp(m, f, bytes) == 0)
        return;
    for (size_t off = 0; off < bytes; off += 64) {
        const size_t n = bytes - off < 64 ? bytes - off : 64;
        if (std::memcmp(m + off, f + off, n) != 0) {
            std::memcpy(m + off, f + off, n);
            std::memcpy(d + off, f + off, n);
        }
    }
}

int Padded(int partials)
{
    return (partials + 15) / 16 * 16;
}

// The calling thread's id, read once per thread.
int ThreadId()
{
    thread_local const int id = static_cast<int>(gettid());
    return id;
}

} // namespace

RenderSplit* NewRenderSplit(const float* sine)
{
    if (!RenderSplit::Worthwhile())
        return nullptr;
    try {
        return new RenderSplit(sine);
    } catch (const std::system_error&) {
        return nullptr; // no thread to be had: the engine renders on one
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void DeleteRenderSplit(RenderSplit* split)
{
    delete split;
}

bool RenderSplit::Worthwhile()
{
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0)
        return CPU_COUNT(&cpus) > 1;
    return std::thread::hardware_concurrency() > 1;
}

RenderSplit::RenderSplit(const float* sine) : helperSine_(new float[WAVE_TABLE_LENGTH])
{
    std::memcpy(helperSine_.get(), sine, sizeof(float) * WAVE_TABLE_LENGTH);
    helperSineMirrored_ = IsHalfMirrored(helperSine_.get());
    // The shared inputs and the audio thread's copies of them start alike.
    for (int j = 0; j < NUM_NOTES; ++j) {
        std::memset(input_[j].gain, 0, sizeof input_[j].gain);
        std::memset(input_[j].level, 0, sizeof input_[j].level);
    }
    std::memset(ownGain_, 0, sizeof ownGain_);
    std::memset(ownLevel_, 0, sizeof ownLevel_);
    thread_ = std::thread([this] { HelperLoop(); });
}

RenderSplit::~RenderSplit()
{
    stop_.store(true, std::memory_order_release);
    holdHelper.store(false, std::memory_order_relaxed);
    posted_.fetch_add(1, std::memory_order_release);
    posted_.notify_one();
    thread_.join();
}

RenderSplitStats RenderSplit::Stats() const
{
    RenderSplitStats s;
    s.helperFinished = helperFinished_.load(std::memory_order_relaxed);
    s.takenOver = takenOver_.load(std::memory_order_relaxed);
    s.notesTakenOver = notesTakenOver_.load(std::memory_order_relaxed);
    s.alone = alone_.load(std::memory_order_relaxed);
    return s;
}

RenderSplitStats SynthState::SplitStats() const
{
    return renderSplit ? renderSplit->Stats() : RenderSplitStats{};
}

int RenderSplit::HelperNotesDone() const
{
    return static_cast<int>(progress_.load(std::memory_order_relaxed) & kDoneMask);
}

bool RenderSplit::HelperIdle() const
{
    return finished_.load(std::memory_order_acquire) == posted_.load(std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// The audio thread.

bool RenderSplit::RenderMix(SynthState& s, const NoteKernels& kernel, const int* rendered, const float* settled,
                            int partials, float* mix, unsigned frames)
{
    if (frames < kMinFrames || partials == 0)
        return false;
    // The helper may still be reading the inputs of an earlier buffer or
    // writing its results: leave everything to it and render alone.
    if (finished_.load(std::memory_order_acquire) != generation_) {
        alone_.store(alone_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        return false;
    }
    // Preparing a note never changes whether another note sounds: these are
    // the notes rendered below, slot j holding the j-th in ascending order.
    int count = 0;
    for (int n = 0; n < NUM_NOTES; ++n)
        if (s.IsNoteSounding(n))
            notes_[count++] = n;
    if (count == 0)
        return true; // the mix stays silent

    // Wake the helper first: it starts while the last notes are prepared.
    // The audio thread's share, a multiple of 4 frames.
    unsigned split = frames * static_cast<unsigned>(share_) / kShareSteps / 4 * 4;
    split = split < 16 ? 16 : split;
    kernel_ = kernel;
    const float* sine = s.Waves().Shape(0);
    const bool mirrored = s.Waves().SineHalfMirrored();
    // Any change to the rendered partials, the rate or the band limit makes
    // every note's increments stale.
    const bool bandLimit = s.Snapshot().bandLimit;
    if (partials != incPartials_ || s.sampleRate != incRate_ || bandLimit != incBandLimit_ ||
        std::memcmp(rendered, incRendered_, sizeof(int) * static_cast<size_t>(partials)) != 0) {
        std::memcpy(incRendered_, rendered, sizeof(int) * static_cast<size_t>(partials));
        incPartials_ = partials;
        incRate_ = s.sampleRate;
        incBandLimit_ = bandLimit;
        if (++incVersion_ == 0)
            incVersion_ = 1;
    }
    // The last notes (a quarter of them, 1 to kEarlyMax) go to the helper
    // with their start phases, before any other (see the header).
    const int early = std::clamp(count / 4, 1, kEarlyMax);
    const int firstEarly = count - early;
    frames_ = frames;
    split_ = split;
    count_ = count;
    firstEarly_ = firstEarly;
    posterTid_ = ThreadId();
    ++generation_;
    ready_.store(0, std::memory_order_relaxed);
    progress_.store(Progress(generation_, 0), std::memory_order_relaxed);
    posted_.store(generation_, std::memory_order_release);
    posted_.notify_one();

    // The lanes of note j's arrays: its own partials (the band limit may
    // leave it fewer than the buffer's), padded to whole blocks.
    const auto lanes = [this](int j) { return static_cast<size_t>(Padded(input_[j].partials)); };
    // A note's inputs, prepared and stored where they changed only: a held
    // note's gains and levels are the same from buffer to buffer, and a line
    // left alone stays in the helper's cache.
    auto prepare = [&](int j) {
        NoteInput& in = input_[j];
        alignas(64) float gain[kGainPadded];
        alignas(64) float level[kPadded];
        const PreparedNote note = PrepareNote(s, notes_[j], frames, rendered, partials, settled, gain, level, in.phase);
        in.partials = note.partials;
        StoreChanged(in.gain, ownGain_[j], gain, sizeof gain);
        StoreChanged(in.level, ownLevel_[j], level, sizeof(float) * lanes(j));
        // The same frequency, rate, partials and band limit give the same
        // increments (and count): a held note's are computed once, not every
        // buffer.
        const double f = note.frequency;
        if (std::memcmp(&in.frequency, &f, sizeof f) != 0 || in.incVersion != incVersion_) {
            PartialIncrements(s, f, rendered, note.partials, in.inc);
            in.frequency = f;
            in.incVersion = incVersion_;
        }
    };
    for (int j = firstEarly; j < count; ++j) {
        prepare(j);
        std::memcpy(ownPhase_[j - firstEarly], input_[j].phase, sizeof(float) * lanes(j));
    }
    ready_.store(kLastReady, std::memory_order_release);
    // The other notes are prepared before any is rendered: the helper takes
    // about as long to wake, and then finds notes published at the pace it
    // renders them, not behind a note's preparation each.
    for (int j = 0; j < firstEarly; ++j)
        prepare(j);
    // Note by note: render frames 0 to split, publish; the last notes' own
    // frames from their start phases. The kernel starts on each note while it
    // finishes the one before.
    const auto head = [&](int j) {
        NoteInput& in = input_[j];
        float* phase = j < firstEarly ? in.phase : ownPhase_[j - firstEarly];
        return NoteKernelArgs{sine, mirrored, phase, in.inc, in.level, in.gain, mix, in.partials, split};
    };
    carry_.primed = false;
    for (int j = 0; j < count; ++j) {
        if (j == firstEarly && beforeLastFrames)
            beforeLastFrames(*this, beforeTakeOverContext);
        const NoteKernelArgs next = j + 1 < count ? head(j + 1) : NoteKernelArgs{};
        RenderNote(kernel, head(j), j + 1 < count ? &next : nullptr, carry_);
        if (j < firstEarly)
            ready_.store(static_cast<uint32_t>(j + 1) | kLastReady, std::memory_order_release);
    }

    // Take what the helper has published and finish the rest.
    if (beforeTakeOver)
        beforeTakeOver(*this, beforeTakeOverContext);
    uint64_t progress = progress_.load(std::memory_order_acquire);
    if ((progress & kDoneMask) < static_cast<uint64_t>(count))
        progress = progress_.fetch_or(kTakenOver, std::memory_order_acq_rel);
    const int done = static_cast<int>(progress & kDoneMask);
    Balance(done == count, done > 0);

    const float* tail;
    if (done == count) {
        tail = helperMix_[(count - 1) & 1];
        helperFinished_.store(helperFinished_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    } else {
        if (done == 0)
            std::memset(tail_ + split, 0, sizeof(float) * (frames - split));
        else
            std::memcpy(tail_ + split, helperMix_[(done - 1) & 1] + split, sizeof(float) * (frames - split));
        for (int j = done; j < count; ++j) {
            // The helper may be reading this note's inputs still: work on a
            // copy of its phases at frame split (a last note's are the audio
            // thread's own).
            const NoteInput& in = input_[j];
            std::memcpy(takePhase_, j < firstEarly ? in.phase : ownPhase_[j - firstEarly], sizeof(float) * lanes(j));
            kernel.render(NoteKernelArgs{sine, mirrored, takePhase_, in.inc, in.level, in.gain + split, tail_ + split,
                                         in.partials, frames - split});
            StoreNotePhases(s.partialPhase[notes_[j]], takePhase_, rendered, in.partials);
        }
        tail = tail_;
        takenOver_.store(takenOver_.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
        notesTakenOver_.store(notesTakenOver_.load(std::memory_order_relaxed) + static_cast<uint64_t>(count - done),
                              std::memory_order_relaxed);
    }
    std::memcpy(mix + split, tail + split, sizeof(float) * (frames - split));
    for (int j = 0; j < done; ++j)
        StoreNotePhases(s.partialPhase[notes_[j]], helperPhase_[j], rendered, input_[j].partials);
    return true;
}

void RenderSplit::Balance(bool finished, bool started)
{
    if (finished) {
        // Try 4 more frames for the helper after a run of finished buffers,
        // a longer run the more often such a try has failed lately.
        if (++finishedRun_ >= patience_ && share_ > kShareMin) {
            --share_;
            finishedRun_ = 0;
            tried_ = true;
        } else if (tried_ && finishedRun_ == 1) {
            tried_ = false; // the try held
            patience_ = std::max(kPatienceMin, patience_ / 2);
        }
    } else if (started) {
        // Taken over: back by 4 frames, and wait longer before the next try.
        // A helper that did not even start was not scheduled, which says
        // nothing about the balance.
        if (share_ < kShareMax)
            ++share_;
        if (tried_)
            patience_ = std::min(kPatienceMax, patience_ * 2);
        tried_ = false;
        finishedRun_ = 0;
    }
}

// ---------------------------------------------------------------------------
// The helper thread.

void RenderSplit::HelperLoop()
{
    // The render's floating-point environment (RenderFast.h): the default
    // state, whatever the creating thread had.
    marovane_fp::UseDefault();
    // posted_ was 0 when the thread was made; a destructor (or a buffer)
    // that came before this line has moved it on already.
    uint32_t seen = 0;
    for (;;) {
        posted_.wait(seen, std::memory_order_acquire);
        if (stop_.load(std::memory_order_acquire))
            return;
        const uint32_t generation = posted_.load(std::memory_order_acquire);
        seen = generation;
        FollowPosterScheduling();
        while (holdHelper.load(std::memory_order_relaxed) && !stop_.load(std::memory_order_relaxed))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        HelperBuffer(generation);
        finished_.store(generation, std::memory_order_release);
    }
}

void RenderSplit::HelperBuffer(uint32_t generation)
{
    const unsigned split = split_;
    const unsigned frames = frames_ - split;
    const int count = count_;
    const int firstEarly = firstEarly_;
    // Each note's own partials (PreparedNote), published with its inputs.
    const auto lanes = [this](int j) { return static_cast<size_t>(Padded(input_[j].partials)); };
    const int limit = helperNoteLimit.load(std::memory_order_relaxed);
    // The last notes whose phases have been moved to frame split, in order.
    int advanced = firstEarly;
    const auto advanceNext = [&] {
        const NoteInput& in = input_[advanced];
        float* phase = helperPhase_[advanced];
        std::memcpy(phase, in.phase, sizeof(float) * lanes(advanced));
        kernel_.advance(NoteKernelArgs{nullptr, false, phase, in.inc, in.level, in.gain, nullptr, in.partials, split});
        ++advanced;
    };
    // Note j's frames from split on, added to the mix of the notes before it.
    const auto tail = [&](int j) {
        const NoteInput& in = input_[j];
        return NoteKernelArgs{helperSine_.get(), helperSineMirrored_, helperPhase_[j], in.inc, in.level,
                              in.gain + split, helperMix_[j & 1] + split, in.partials, frames};
    };
    helperCarry_.primed = false;
    bool phaseIn = false; // note j's phases at split are in helperPhase_[j] already
    for (int j = 0; j < count; ++j) {
        uint64_t expected = Progress(generation, j);
        // Wait for note j, moving the last notes' phases on meanwhile. The
        // audio thread publishes the last notes first and then a note every
        // few microseconds, and ends every buffer either with all notes
        // published or with the taken-over flag set, so this wait ends within
        // the buffer.
        for (unsigned spins = 0;; ++spins) {
            const uint32_t ready = ready_.load(std::memory_order_acquire);
            if (j >= firstEarly ? (ready & kLastReady) != 0 : (ready & ~kLastReady) > static_cast<uint32_t>(j))
                break;
            if (progress_.load(std::memory_order_relaxed) != expected)
                return; // taken over
            if ((ready & kLastReady) != 0 && advanced < count) {
                advanceNext();
                spins = 0;
            } else if (spins < 4096) {
                marovane_fp::Relax();
            } else {
                std::this_thread::yield();
            }
        }
        if (progress_.load(std::memory_order_relaxed) != expected || (limit >= 0 && j >= limit))
            return;
        // Note j's phases at frame split, unless they came in with note j - 1.
        if (!phaseIn) {
            if (j < firstEarly)
                std::memcpy(helperPhase_[j], input_[j].phase, sizeof(float) * lanes(j));
            else if (j == advanced)
                advanceNext();
        }
        // The kernel starts on note j + 1 while it finishes j when that
        // note's phases at split are to hand: published, or a last note's.
        phaseIn = false;
        const int k = j + 1;
        if (k < count && (limit < 0 || k < limit)) {
            if (k >= firstEarly) {
                if (k == advanced)
                    advanceNext();
                phaseIn = true;
            } else if ((ready_.load(std::memory_order_acquire) & ~kLastReady) > static_cast<uint32_t>(k)) {
                std::memcpy(helperPhase_[k], input_[k].phase, sizeof(float) * lanes(k));
                phaseIn = true;
            }
        }
        float* mix = helperMix_[j & 1];
        if (j == 0)
            std::memset(mix + split, 0, sizeof(float) * frames);
        else
            std::memcpy(mix + split, helperMix_[(j - 1) & 1] + split, sizeof(float) * frames);
        const NoteKernelArgs next = phaseIn ? tail(k) : NoteKernelArgs{};
        RenderNote(kernel_, tail(j), phaseIn ? &next : nullptr, helperCarry_);
        if (!progress_.compare_exchange_strong(expected, Progress(generation, j + 1), std::memory_order_release,
                                               std::memory_order_relaxed))
            return;
    }
}

// Runs the helper with the scheduling policy and priority of the thread that
// gives it work, checked whenever that thread changes. The audio thread is
// often a real-time thread; a helper at normal priority would lose the core to
// every build and browser, and the audio thread would end up doing its work.
void RenderSplit::FollowPosterScheduling()
{
    static thread_local int followed = 0;
    const int poster = posterTid_;
    if (poster == followed)
        return;
    followed = poster;
    const int policy = sched_getscheduler(poster);
    sched_param param{};
    if (policy < 0 || sched_getparam(poster, &param) != 0)
        return;
    if (policy == SCHED_FIFO || policy == SCHED_RR)
        pthread_setschedparam(pthread_self(), policy, &param);
    else {
        sched_param normal{};
        pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal);
    }
}
