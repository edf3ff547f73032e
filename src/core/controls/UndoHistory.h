#pragma once
// The undo history of the sound: every change the player makes to the
// envelope, the LFO or the spectra is one step (a whole stroke in the editor,
// a whole slider drag, one button, one choice, one patch load), and the
// player can walk back and forth through the last kHistorySteps of them. The
// wheels, the zoom, the selectors and MIDI input are not part of a sound and
// make no step. The history is not saved.
//
// The history keeps the sound as it stood after the last step. Whoever
// changes the sound calls Commit once its step has ended; a change made and
// not yet committed (a stroke still under way) becomes a step of its own when
// the player undoes. GUI thread only (or whoever owns the instrument).

#include <cstddef>
#include <deque>
#include <optional>

#include "synth/SynthState.h"

class UndoHistory {
public:
    // The number of steps kept; older ones are forgotten.
    static constexpr size_t kHistorySteps = 200;

    explicit UndoHistory(const Sound& start) : current_(start) {}

    // A step ended with the sound `now`. A sound equal to the last one makes
    // no step (a click that changed nothing). A step clears what could be
    // redone. Returns whether it made a step.
    bool Commit(const Sound& now);
    // The sound to go back to, or nothing when there is no step to undo.
    // `now` is the sound as it is, committed first if it differs.
    std::optional<Sound> Undo(const Sound& now);
    // The sound of the step last undone, or nothing. A change since the undo
    // (`now` differing) is committed first, which leaves nothing to redo.
    std::optional<Sound> Redo(const Sound& now);
    // Forgets every step; `start` is the sound from now on.
    void Reset(const Sound& start);

    size_t UndoSteps() const { return undo_.size(); }
    size_t RedoSteps() const { return redo_.size(); }

private:
    Sound current_;
    std::deque<Sound> undo_;
    std::deque<Sound> redo_;
};
