#include "SpectrumTexts.h"

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>

#include <wx/intl.h>

#include "synth/SynthState.h"

wxString PeakLevelText(float sum)
{
    return wxString::Format(_("Peak Level: %6.3f"), static_cast<double>(sum));
}

namespace {
// The relative rounding of a float sum of 128 levels, each divided once:
// 128 roundings of half a float step, with room to spare.
constexpr double kSumRounding = NUM_PARTIALS * static_cast<double>(FLT_EPSILON);
} // namespace

wxString SafePolyphonyText(float sum)
{
    if (sum > 0.0f) {
        double notes = 1.0 / static_cast<double>(sum);
        // A spectrum normalised for n notes sums to 1 / n only up to the
        // rounding of 128 float divisions and additions, often just above
        // it, where truncation would show n - 1. A count that falls short of
        // the next whole number by no more than that rounding is that number.
        const double whole = std::ceil(notes);
        if (whole - notes <= notes * kSumRounding)
            notes = whole;
        if (notes < static_cast<double>(INT_MAX))
            return wxString::Format(_("Safe Polyphony: %d"), static_cast<int>(notes));
    }
    return _("Safe Polyphony: Inf");
}


int ReadTargetPolyphony(const wxString& text)
{
    const std::string narrow = text.ToStdString();
    errno = 0;
    const long n = std::strtol(narrow.c_str(), nullptr, 10);
    if (n > INT_MAX)
        return INT_MAX;
    if (n < INT_MIN)
        return INT_MIN;
    return static_cast<int>(n);
}
