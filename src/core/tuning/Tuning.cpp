#include "Tuning.h"

#include <vector>

#include "patch/RegularFile.h"

#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

namespace {

// The text's lines one at a time, with their numbers (from 1), skipping the
// '!' comments; a "\r\n" ending counts as "\n".
class Lines {
public:
    // A UTF-8 byte order mark before the first line is not part of it.
    explicit Lines(const std::string& text) : text_(text)
    {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF")
            position_ = 3;
    }

    // The next line that is not a comment, false at the end of the text.
    bool Next(std::string_view& line, int& number)
    {
        while (position_ < text_.size()) {
            const size_t end = text_.find('\n', position_);
            const size_t stop = end == std::string_view::npos ? text_.size() : end;
            std::string_view current = text_.substr(position_, stop - position_);
            position_ = stop + 1;
            ++number_;
            if (!current.empty() && current.back() == '\r')
                current.remove_suffix(1);
            if (!current.empty() && current.front() == '!')
                continue;
            line = current;
            number = number_;
            return true;
        }
        return false;
    }

    int LastNumber() const { return number_; }

private:
    std::string_view text_;
    size_t position_ = 0;
    int number_ = 0;
};

std::string At(int line, const std::string& what) { return "line " + std::to_string(line) + ": " + what; }

// The first word of a line: leading spaces and tabs skipped, up to the next
// space or tab.
std::string_view FirstWord(std::string_view line)
{
    size_t begin = 0;
    while (begin < line.size() && (line[begin] == ' ' || line[begin] == '\t'))
        ++begin;
    size_t end = begin;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t')
        ++end;
    return line.substr(begin, end - begin);
}

bool AllDigits(std::string_view text)
{
    if (text.empty())
        return false;
    for (char c : text)
        if (c < '0' || c > '9')
            return false;
    return true;
}

// A whole number (an optional sign and digits) within minimum..maximum, or
// the reason it is not.
std::string ReadInteger(std::string_view line, int number, const char* name, long long minimum,
                        long long maximum, long long& value)
{
    std::string_view word = FirstWord(line);
    if (word.empty())
        return At(number, std::string(name) + " is missing");
    std::string_view digits = word;
    if (digits.front() == '+' || digits.front() == '-')
        digits.remove_prefix(1);
    if (!AllDigits(digits))
        return At(number, std::string(name) + " is not a whole number");
    if (word.front() == '+')
        word.remove_prefix(1);
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    if (error != std::errc() || end != word.data() + word.size() || value < minimum || value > maximum)
        return At(number, std::string(name) + " is not in " + std::to_string(minimum) + " to " +
                              std::to_string(maximum));
    return "";
}

// A decimal number with an optional sign, digits and at most one '.', at
// least one digit, no exponent.
bool IsDecimal(std::string_view word, bool needsPoint)
{
    if (!word.empty() && (word.front() == '+' || word.front() == '-'))
        word.remove_prefix(1);
    int digits = 0;
    int points = 0;
    for (char c : word) {
        if (c >= '0' && c <= '9')
            ++digits;
        else if (c == '.')
            ++points;
        else
            return false;
    }
    return digits > 0 && points <= 1 && (points == 1 || !needsPoint);
}

// Parses a word IsDecimal accepted; false when it is beyond the doubles.
bool ParseDecimal(std::string_view word, double& value)
{
    if (word.front() == '+')
        word.remove_prefix(1);
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    return error == std::errc() && end == word.data() + word.size() && std::isfinite(value);
}

std::string ReadPitch(std::string_view line, int number, ScaleDegree& degree)
{
    const std::string_view word = FirstWord(line);
    if (word.empty())
        return At(number, "no pitch");
    if (word.find('.') != std::string_view::npos) {
        if (!IsDecimal(word, true))
            return At(number, "the pitch in cents is not a number");
        if (!ParseDecimal(word, degree.cents))
            return At(number, "the pitch in cents is out of range");
        return "";
    }
    const size_t slash = word.find('/');
    const std::string_view top = word.substr(0, slash);
    const std::string_view bottom = slash == std::string_view::npos ? std::string_view("1") : word.substr(slash + 1);
    for (std::string_view part : {top, bottom}) {
        if (!part.empty() && part.front() == '-' && AllDigits(part.substr(1)))
            return At(number, "a ratio with a negative part");
        if (!AllDigits(part))
            return At(number, "the pitch is neither cents nor a ratio");
    }
    std::uint64_t parts[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        const std::string_view part = i == 0 ? top : bottom;
        const auto [end, error] = std::from_chars(part.data(), part.data() + part.size(), parts[i]);
        if (error != std::errc() || end != part.data() + part.size())
            return At(number, "a ratio with a part too large");
    }
    if (parts[0] == 0 || parts[1] == 0)
        return At(number, "a ratio with a zero part");
    degree.isRatio = true;
    degree.numerator = parts[0];
    degree.denominator = parts[1];
    degree.cents = 1200.0 * std::log2(static_cast<double>(parts[0]) / static_cast<double>(parts[1]));
    return "";
}

long long FloorDivide(long long a, long long b)
{
    const long long q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}

// The pitch of degree d (any integer) in cents above degree 0: whole
// periods plus a degree within the period.
double DegreePitch(const Scale& scale, long long d)
{
    const long long n = static_cast<long long>(scale.degrees.size());
    const long long periods = FloorDivide(d, n);
    const long long within = d - periods * n;
    const double period = scale.degrees.back().cents;
    return static_cast<double>(periods) * period + (within == 0 ? 0.0 : scale.degrees[within - 1].cents);
}

} // namespace

std::string ReadScl(const std::string& text, Scale& scale)
{
    scale = Scale();
    Lines lines(text);
    std::string_view line;
    int number = 0;
    if (!lines.Next(line, number))
        return "no description line: the text holds only comments";
    Scale read;
    read.description = std::string(line);
    if (!lines.Next(line, number))
        return At(lines.LastNumber() + 1, "no number of notes after the description");
    long long count = 0;
    if (std::string reason = ReadInteger(line, number, "the number of notes", 1, MAX_SCALE_NOTES, count);
        !reason.empty())
        return reason;
    for (long long i = 0; i < count; ++i) {
        if (!lines.Next(line, number))
            return At(lines.LastNumber() + 1, "the text ends after " + std::to_string(i) + " of " +
                                              std::to_string(count) + " pitches");
        ScaleDegree degree;
        if (std::string reason = ReadPitch(line, number, degree); !reason.empty())
            return reason;
        read.degrees.push_back(degree);
    }
    scale = std::move(read);
    return "";
}

std::string ReadKbm(const std::string& text, KeyMap& map)
{
    map = KeyMap();
    Lines lines(text);
    std::string_view line;
    int number = 0;
    KeyMap read;
    struct Field {
        const char* name;
        long long minimum;
        long long maximum;
        int* value;
    };
    const Field head[] = {
        {"the size of the pattern", 0, MAX_KEY_MAP_SIZE, &read.size},
        {"the first note", 0, 127, &read.firstNote},
        {"the last note", 0, 127, &read.lastNote},
        {"the middle note", 0, 127, &read.middleNote},
        {"the reference note", 0, 127, &read.referenceNote},
    };
    for (const Field& field : head) {
        if (!lines.Next(line, number))
            return At(lines.LastNumber() + 1, std::string("the text ends before ") + field.name);
        long long value = 0;
        if (std::string reason = ReadInteger(line, number, field.name, field.minimum, field.maximum, value);
            !reason.empty())
            return reason;
        *field.value = static_cast<int>(value);
        if (field.value == &read.lastNote && read.lastNote < read.firstNote)
            return At(number, "the last note is below the first");
    }
    if (!lines.Next(line, number))
        return At(lines.LastNumber() + 1, "the text ends before the reference frequency");
    const std::string_view frequency = FirstWord(line);
    if (!IsDecimal(frequency, false))
        return At(number, "the reference frequency is not a number");
    if (!ParseDecimal(frequency, read.referenceFrequency) || !(read.referenceFrequency > 0.0))
        return At(number, "the reference frequency is not a positive number of Hz");
    if (!lines.Next(line, number))
        return At(lines.LastNumber() + 1, "the text ends before the formal octave's degree");
    long long octave = 0;
    if (std::string reason = ReadInteger(line, number, "the formal octave's degree", 0, MAX_KEY_MAP_DEGREE, octave);
        !reason.empty())
        return reason;
    read.octaveDegree = static_cast<int>(octave);
    for (int i = 0; i < read.size; ++i) {
        if (!lines.Next(line, number))
            return At(lines.LastNumber() + 1, "the text ends after " + std::to_string(i) + " of " +
                                              std::to_string(read.size) + " keys of the pattern");
        const std::string_view word = FirstWord(line);
        if (word == "x" || word == "X") {
            read.mapping.push_back(UNMAPPED_KEY);
            continue;
        }
        long long degree = 0;
        if (std::string reason = ReadInteger(line, number, "the key's degree", 0, MAX_KEY_MAP_DEGREE, degree);
            !reason.empty())
            return reason;
        read.mapping.push_back(static_cast<int>(degree));
    }
    if (read.size > 0) {
        const long long offset = read.referenceNote - read.middleNote;
        const long long index = offset - FloorDivide(offset, read.size) * read.size;
        if (read.mapping[index] == UNMAPPED_KEY)
            return "the reference note " + std::to_string(read.referenceNote) + " falls on an unmapped key";
    }
    map = std::move(read);
    return "";
}

TuningTable TuningFrequencies(const Scale& scale, const KeyMap* map)
{
    TuningTable table;
    if (scale.degrees.empty())
        return table;
    if (map != nullptr && (map->size < 0 || map->mapping.size() != static_cast<size_t>(map->size)))
        return table; // not a map ReadKbm makes
    // The pitch of a key in cents above the middle note's degree 0; false for
    // a key that does not sound.
    auto keyPitch = [&](int key, double& cents) {
        if (map == nullptr) {
            cents = DegreePitch(scale, key - 60);
            return true;
        }
        const long long offset = key - map->middleNote;
        if (map->size == 0) {
            cents = DegreePitch(scale, offset);
            return true;
        }
        const long long repeats = FloorDivide(offset, map->size);
        const int entry = map->mapping[static_cast<size_t>(offset - repeats * map->size)];
        if (entry == UNMAPPED_KEY)
            return false;
        cents = DegreePitch(scale, entry) + static_cast<double>(repeats) * DegreePitch(scale, map->octaveDegree);
        return true;
    };
    // Without a mapping: 440 Hz lies 900 cents above degree 0.
    double referenceCents = 900.0;
    double referenceFrequency = 440.0;
    if (map != nullptr) {
        if (!keyPitch(map->referenceNote, referenceCents))
            return table; // refused by ReadKbm; a hand-made map sounds nothing
        referenceFrequency = map->referenceFrequency;
    }
    for (int key = 0; key < 128; ++key) {
        if (map != nullptr && (key < map->firstNote || key > map->lastNote))
            continue;
        double cents = 0.0;
        if (!keyPitch(key, cents))
            continue;
        const double frequency = referenceFrequency * std::exp2((cents - referenceCents) / 1200.0);
        if (std::isfinite(frequency) && frequency > 0.0) {
            table.frequency[key] = frequency;
            table.sounds[key] = true;
        }
    }
    return table;
}

std::string ReadTuningFile(const std::string& path, std::string& text)
{
    std::vector<char> data;
    if (std::string reason = ReadRegularFile(path, MAX_TUNING_FILE_BYTES + 1, data); !reason.empty())
        return "'" + path + "': " + reason;
    if (data.size() > MAX_TUNING_FILE_BYTES)
        return "'" + path + "': it is larger than " + std::to_string(MAX_TUNING_FILE_BYTES) + " bytes";
    text.assign(data.begin(), data.end());
    return {};
}

std::string TuningFromTexts(const std::string& sclText, const std::string& kbmText, TuningTable& table,
                            std::string& description)
{
    if (sclText.empty())
        return "scale: the text is empty";
    Scale scale;
    if (std::string reason = ReadScl(sclText, scale); !reason.empty())
        return "scale: " + reason;
    KeyMap map;
    const bool mapped = !kbmText.empty();
    if (mapped)
        if (std::string reason = ReadKbm(kbmText, map); !reason.empty())
            return "keyboard mapping: " + reason;
    table = TuningFrequencies(scale, mapped ? &map : nullptr);
    description = scale.description;
    return {};
}

std::string TuningName(const std::string& description, const std::string& sclPath)
{
    if (!description.empty())
        return description;
    const size_t slash = sclPath.find_last_of('/');
    return slash == std::string::npos ? sclPath : sclPath.substr(slash + 1);
}
