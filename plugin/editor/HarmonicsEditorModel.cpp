#include "HarmonicsEditorModel.h"

namespace marovane_plugin {

namespace {
// The editor's sound holds the spectra only; the rest stays at its defaults
// so that the history's steps differ in the spectra alone.
Sound SpectraOnly()
{
    return Sound{};
}

bool SameLevels(const HarmonicSpectrum& a, const HarmonicSpectrum& b)
{
    Sound x;
    Sound y;
    x.attack = a;
    y.attack = b;
    return SameSound(x, y);
}
} // namespace

HarmonicsEditorModel::HarmonicsEditorModel() : sound_(SpectraOnly()), history_(sound_) {}

void HarmonicsEditorModel::SetDisplayScale(float scale)
{
    if (scale < 1.0f)
        scale = 1.0f;
    if (scale > 10.0f)
        scale = 10.0f;
    displayScale_ = scale;
}

void HarmonicsEditorModel::TargetUp()
{
    if (target_ < NUM_PARTIALS * 1000)
        ++target_;
}

void HarmonicsEditorModel::TargetDown()
{
    if (target_ > 0)
        --target_;
}

float HarmonicsEditorModel::PeakLevel() const
{
    return SpectrumSum(Edited().level);
}

void HarmonicsEditorModel::SetFromHost(bool attack, const HarmonicSpectrum& levels)
{
    (attack ? sound_.attack : sound_.sustain) = levels;
    if (stroking_)
        return;
    if (history_.UndoSteps() == 0 && history_.RedoSteps() == 0)
        history_.Reset(sound_);
    else
        history_.Commit(sound_);
}

void HarmonicsEditorModel::LoadSpectra(const HarmonicSpectrum& attack, const HarmonicSpectrum& sustain)
{
    sound_.attack = attack;
    sound_.sustain = sustain;
    Changed(true);
    Changed(false);
    if (!stroking_)
        history_.Commit(sound_);
}

void HarmonicsEditorModel::Press(HarmonicsPoint p, int height, bool left)
{
    stroking_ = true;
    strokeSets_ = left;
    strokeAt_ = p;
    if (StrokeHarmonics(EditedLevels().level, p, p, height, displayScale_, strokeSets_))
        Changed(editAttack_);
}

void HarmonicsEditorModel::Move(HarmonicsPoint p, int height)
{
    if (!stroking_)
        return;
    if (StrokeHarmonics(EditedLevels().level, strokeAt_, p, height, displayScale_, strokeSets_))
        Changed(editAttack_);
    strokeAt_ = p;
}

void HarmonicsEditorModel::Release(HarmonicsPoint p, int height)
{
    if (!stroking_)
        return;
    Move(p, height);
    stroking_ = false;
    history_.Commit(sound_);
}

void HarmonicsEditorModel::Generate(int waveform)
{
    if (waveform < 0 || waveform >= NUM_HARMONIC_WAVEFORMS)
        return;
    EditedLevels() = WaveformSpectrum(waveform);
    NormalizeLevels(EditedLevels().level, target_);
    Changed(editAttack_);
    history_.Commit(sound_);
}

void HarmonicsEditorModel::Clear()
{
    EditedLevels() = HarmonicSpectrum{};
    Changed(editAttack_);
    history_.Commit(sound_);
}

void HarmonicsEditorModel::Normalize()
{
    if (NormalizeLevels(EditedLevels().level, target_)) {
        Changed(editAttack_);
        history_.Commit(sound_);
    }
}

void HarmonicsEditorModel::CopyAttackToSustain()
{
    sound_.sustain = sound_.attack;
    Changed(false);
    history_.Commit(sound_);
}

void HarmonicsEditorModel::CopySustainToAttack()
{
    sound_.attack = sound_.sustain;
    Changed(true);
    history_.Commit(sound_);
}

void HarmonicsEditorModel::Restore(const Sound& s)
{
    if (!SameLevels(s.attack, sound_.attack))
        Changed(true);
    if (!SameLevels(s.sustain, sound_.sustain))
        Changed(false);
    sound_ = s;
}

bool HarmonicsEditorModel::Undo()
{
    if (stroking_)
        return false;
    const auto s = history_.Undo(sound_);
    if (!s)
        return false;
    Restore(*s);
    return true;
}

bool HarmonicsEditorModel::Redo()
{
    if (stroking_)
        return false;
    const auto s = history_.Redo(sound_);
    if (!s)
        return false;
    Restore(*s);
    return true;
}

bool HarmonicsEditorModel::TakeChanged(bool attack)
{
    bool& flag = attack ? attackChanged_ : sustainChanged_;
    const bool was = flag;
    flag = false;
    return was;
}

} // namespace marovane_plugin
