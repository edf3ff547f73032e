#include "MidiDecoder.h"

MidiDecoder::MidiDecoder(MidiTarget& target, MidiDisplayChanges* display) : target_(target), display_(display) {}

void MidiDecoder::Decode(const uint8_t* bytes, size_t size)
{
    uint8_t b[4] = {0, 0, 0, 0};
    if (size >= 1 && size <= 4)
        for (size_t i = 0; i < size; ++i)
            b[i] = bytes[i];
    ProcessMidiMessage(b[0], b[1], b[2], b[3]);
}

void MidiDecoder::NoteOff(int note)
{
    if (pedalDown_)
        heldByPedal_.set(static_cast<size_t>(note));
    else
        target_.NoteOff(note, true);
}

void MidiDecoder::PedalUp()
{
    pedalDown_ = false;
    for (int note = 0; note < 128; ++note)
        if (heldByPedal_.test(static_cast<size_t>(note)))
            target_.NoteOff(note, true);
    heldByPedal_.reset();
}

void MidiDecoder::ProcessMidiMessage(uint8_t status, uint8_t data1, uint8_t data2, uint8_t)
{
    if (liftPedal_.exchange(false, std::memory_order_acquire)) {
        pedalDown_ = false;
        heldByPedal_.reset();
    }
    // Timing clock and active sensing: the library drops them already.
    if (status == 0xF8 || status == 0xFE)
        return;
    // Only channel messages on the input channel are acted on.
    if (status < 0x80 || status >= 0xF0 || (status & 0x0F) != inputChannel - 1)
        return;
    // A data byte with its top bit set is no MIDI: it would name a note or a
    // wheel position outside the instrument.
    if (data1 > 127 || data2 > 127)
        return;
    const int note = data1;
    switch (status & 0xF0) {
    case 0x90:
        if (data2 > 0) {
            // Struck again while the pedal holds it: it ends and starts
            // afresh, and its key holds it now.
            if (heldByPedal_.test(static_cast<size_t>(note))) {
                heldByPedal_.reset(static_cast<size_t>(note));
                target_.NoteOff(note, true);
            }
            target_.SetNoteVelocity(note, static_cast<float>(data2) / 127.0f);
            target_.NoteOn(note, true);
        } else {
            NoteOff(note);
        }
        break;
    case 0x80:
        NoteOff(note);
        break;
    case 0xC0:
        target_.SetPatchFromMidi(data1 + 1);
        if (display_)
            display_->Mark(MidiDisplayChanges::kPatch);
        break;
    case 0xB0:
        if (data1 == 123 && data2 == 0) {
            pedalDown_ = false;
            heldByPedal_.reset();
            target_.AllNotesOff(true);
        } else if (data1 == 64) {
            if (data2 >= 64)
                pedalDown_ = true;
            else if (pedalDown_)
                PedalUp();
        } else if (data1 == 1) {
            target_.SetModWheelFromMidi(data2 * 128);
            if (display_)
                display_->Mark(MidiDisplayChanges::kModWheel);
        }
        break;
    case 0xE0:
        // Only the coarse 7 bits of the bend: the centre 64 gives 8192, the
        // top 127 gives 16256.
        target_.SetPitchWheelFromMidi(data2 * 128);
        if (display_)
            display_->Mark(MidiDisplayChanges::kPitchWheel);
        break;
    default:
        break;
    }
}
