#pragma once
// Tunings from Scala files: a scale (.scl) and, optionally, a keyboard
// mapping (.kbm), read into plain values and turned into the frequency of
// every MIDI note. Pure functions with no shared state and no toolkit: any
// thread but the audio thread (the readers allocate).
//
// The scale (.scl): lines starting with '!' are comments, wherever they are.
// The first other line is the description (it may be empty); the next holds
// the number of notes N (1 to 1024); then N pitch lines. A pitch is either
// cents, written with a '.' ("100.0", "-13.5", ".5"; no exponent), or a
// ratio "a/b" or a whole number "a" (a/1) of positive integers that fit in
// 64 bits. Leading spaces and tabs are skipped; anything after the value
// (after a space or a tab) is ignored, and so are lines after the N-th pitch.
// Degree 0 is the unison and is not written; the last pitch is the period,
// the interval at which the scale repeats (2/1 for most scales, any interval
// for the others; zero or negative periods are taken as they are). A scale
// of zero notes has no period and is refused.
//
// The keyboard mapping (.kbm), after its '!' comments: the size of the
// pattern (0 to 1024), the first and the last MIDI note retuned, the middle
// note (where degree 0 of the pattern lies), the reference note and its
// frequency in Hz (a positive decimal number), the scale degree that is the
// pattern's formal octave, then `size` entries, each a scale degree (0 to
// 100000) or 'x' for a key that does not sound. Notes are 0 to 127 and the
// first is not above the last. Size 0 is the linear mapping: key
// middle + d plays degree d. The reference note must not fall on an 'x'.
//
// Both texts may end their lines with "\r\n" and begin with a UTF-8 byte
// order mark. Every refusal is one line naming the line of the text it is
// about.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One degree of a scale above the unison: always its size in cents, and for
// a ratio the exact numerator and denominator too (1/1 for cents).
struct ScaleDegree {
    double cents = 0.0;
    bool isRatio = false;
    std::uint64_t numerator = 1;
    std::uint64_t denominator = 1;
};

struct Scale {
    std::string description;
    // Degrees 1 to N; the last one is the period. Never empty once read.
    std::vector<ScaleDegree> degrees;
};

struct KeyMap {
    // Entries of the pattern; 0 is the linear mapping.
    int size = 0;
    int firstNote = 0;
    int lastNote = 127;
    int middleNote = 60;
    int referenceNote = 69;
    double referenceFrequency = 440.0;
    // The degree whose pitch separates one repetition of the pattern from
    // the next (unused by the linear mapping).
    int octaveDegree = 0;
    // `size` scale degrees, UNMAPPED_KEY for a key that does not sound.
    std::vector<int> mapping;
};

constexpr int UNMAPPED_KEY = -1;
constexpr int MAX_SCALE_NOTES = 1024;
constexpr int MAX_KEY_MAP_SIZE = 1024;
constexpr int MAX_KEY_MAP_DEGREE = 100000;

// Reads a .scl text into `scale`: "" on success, else the reason (and
// `scale` is left empty).
std::string ReadScl(const std::string& text, Scale& scale);

// Reads a .kbm text into `map`: "" on success, else the reason (and `map` is
// left as a default KeyMap).
std::string ReadKbm(const std::string& text, KeyMap& map);

// The frequency of each MIDI note and whether it sounds. A key that does not
// sound has frequency 0: outside the mapping's first..last notes, on an 'x',
// or where the arithmetic leaves the doubles (a frequency that is not finite
// and positive).
struct TuningTable {
    std::array<double, 128> frequency{};
    std::array<bool, 128> sounds{};
};

// Without a mapping (`map` null), every key sounds, degree 0 lies on note 60
// and note 60 is tuned 900 cents below 440 Hz (the twelve-equal middle C):
// the twelve-equal scale then gives 440 x 2^((n - 69) / 12) for every note n,
// computed as exp2 of the same double. With a mapping, the reference note
// sounds at the reference frequency and every key at its pitch relative to
// it.
TuningTable TuningFrequencies(const Scale& scale, const KeyMap* map);

// ---- A tuning as the program, the renderer and the plugin load it ----

// The largest .scl or .kbm file read (a scale of 1024 degrees with long
// comments is far smaller).
constexpr size_t MAX_TUNING_FILE_BYTES = 1 << 20;

// Reads the text of a .scl or .kbm file the user named (a regular file of at
// most MAX_TUNING_FILE_BYTES): "" and `text` set, else why not, naming the
// file.
std::string ReadTuningFile(const std::string& path, std::string& text);

// A tuning from the text of a scale and that of a keyboard mapping (empty:
// none, the scale's degree 0 on note 60 as TuningFrequencies places it).
// Returns "" with `table` and `description` (the scale's) set, else the
// reason, beginning "scale: " or "keyboard mapping: ", and changes nothing.
// An empty scale text is refused: twelve equal steps are no tuning at all.
std::string TuningFromTexts(const std::string& sclText, const std::string& kbmText, TuningTable& table,
                            std::string& description);

// What a tuning is called where it is shown: the scale's description, or
// the file's name (without its folder) when that is empty.
std::string TuningName(const std::string& description, const std::string& sclPath);
