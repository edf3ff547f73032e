#pragma once
// The spectra an editor sent to the sound processor and has not yet heard
// back. The host hands every spectrum the sound processor takes back to each
// open editor, this one included, in the order it took them (and may skip
// one that a later value of the same spectrum replaced). An editor that drew
// on since must not be put back to its own older texts when they return;
// another editor's value, or the host's, is taken. Display-free; the editor's
// thread.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "PluginParameters.h"

namespace marovane_plugin {

class SentSpectra {
public:
    // The most texts kept for one spectrum: the oldest is forgotten first.
    static constexpr size_t kMaxRemembered = 64;

    // `text` was just sent as the attack (kAttackState) or sustain
    // (kSustainState) spectrum.
    void Sent(uint32_t which, std::string text);

    // Whether `value`, just handed back for that spectrum, is to be passed
    // over: one of this editor's own texts that it has sent a newer one
    // after, or its newest one while nothing else came between. It and every
    // text sent before it are then answered and forgotten. False for a value
    // this editor does not know (another editor's, the host's): the caller
    // shows it. False, too, for the editor's newest text when another value
    // came back after it was sent: the sound processor took that one later,
    // so it is what the sound is now.
    bool OwnEcho(uint32_t which, const char* value);

    // How many texts of that spectrum wait to be heard back.
    size_t Unanswered(uint32_t which) const { return which < kStateCount ? spectra_[which].sent.size() : 0; }

private:
    struct Spectrum {
        std::deque<std::string> sent;
        bool overtaken = false; // another value came back since the last text was sent
    };
    Spectrum spectra_[kStateCount];
};

} // namespace marovane_plugin
