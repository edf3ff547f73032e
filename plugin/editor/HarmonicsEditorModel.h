#pragma once
// What the plugin's harmonics editor knows and does, without a display: both
// spectra, which one is shown, the zoom, the target polyphony, the strokes of
// the mouse, the whole-spectrum operations and their undo history. The
// editor's window draws from it and sends the DSP whatever it reports as
// changed; the tests drive it directly. The arithmetic is the core's
// (controls/SpectrumMath.h, controls/SpectrumFigures.h). Editor thread only.

#include "controls/SpectrumMath.h"
#include "controls/UndoHistory.h"
#include "synth/SynthState.h"

namespace marovane_plugin {

class HarmonicsEditorModel {
public:
    HarmonicsEditorModel();

    const HarmonicSpectrum& Attack() const { return sound_.attack; }
    const HarmonicSpectrum& Sustain() const { return sound_.sustain; }
    // The spectrum shown and edited.
    const HarmonicSpectrum& Edited() const { return editAttack_ ? sound_.attack : sound_.sustain; }

    bool EditingAttack() const { return editAttack_; }
    // Shows the attack (true) or the sustain spectrum. Changes no sound.
    void SetEditAttack(bool attack) { editAttack_ = attack; }

    // The vertical zoom, 1 to 10 (2 at first): a bar of level 1 / zoom fills
    // the editor's height.
    float DisplayScale() const { return displayScale_; }
    void SetDisplayScale(float scale);

    // The target polyphony of Normalize and Generate, 2 at first; stepped
    // down it stops at 0 (where normalising changes nothing).
    int TargetPolyphony() const { return target_; }
    void TargetUp();
    void TargetDown();

    // The figures of the edited spectrum: "Peak Level: ..." and
    // "Safe Polyphony: ...".
    float PeakLevel() const;

    // A spectrum that came from the DSP (another editor, the host, a preset):
    // taken as it is and not reported back as a change. The spectra that
    // arrive before the first step (those of the sound when the editor
    // opens) become where the history starts; later ones are steps of their
    // own, unless a stroke is under way.
    void SetFromHost(bool attack, const HarmonicSpectrum& levels);
    // Both spectra of a patch the player chose: one step, reported as a
    // change of both.
    void LoadSpectra(const HarmonicSpectrum& attack, const HarmonicSpectrum& sustain);

    // The mouse, in editor pixels, with the editor `height` pixels high. A
    // press starts a stroke (left: draws, right: clears) and sets the bar
    // under it; each move with the button held draws or clears every bar
    // the pointer crossed since the last position; the release ends the
    // stroke (its point counts too) and makes it one step of the history.
    void Press(HarmonicsPoint p, int height, bool left);
    void Move(HarmonicsPoint p, int height);
    void Release(HarmonicsPoint p, int height);
    bool Stroking() const { return stroking_; }

    // The whole-spectrum operations, each one step of the history. Generate
    // replaces the edited spectrum by a waveform's (SpectrumMath.h) and
    // normalises it for the target; the copies act whatever is shown.
    void Generate(int waveform);
    void Clear();
    void Normalize();
    void CopyAttackToSustain();
    void CopySustainToAttack();

    // Undo and redo of the steps above; false when there is nothing to go
    // back or forward to. Not while a stroke is under way.
    bool Undo();
    bool Redo();

    // Whether the attack or the sustain spectrum changed since the last call
    // that asked about it: what the window must still send to the DSP.
    bool TakeChanged(bool attack);

private:
    HarmonicSpectrum& EditedLevels() { return editAttack_ ? sound_.attack : sound_.sustain; }
    void Changed(bool attack) { (attack ? attackChanged_ : sustainChanged_) = true; }
    void Restore(const Sound& s);

    Sound sound_;
    UndoHistory history_;
    bool editAttack_ = true;
    float displayScale_ = 2.0f;
    int target_ = 2;
    bool stroking_ = false;
    bool strokeSets_ = true;
    HarmonicsPoint strokeAt_;
    bool attackChanged_ = false;
    bool sustainChanged_ = false;
};

} // namespace marovane_plugin
