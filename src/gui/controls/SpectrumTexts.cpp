#include "SpectrumTexts.h"

#include <wx/intl.h>

#include "controls/SpectrumFigures.h"

wxString PeakLevelText(float sum)
{
    return wxString::Format(_("Peak Level: %6.3f"), static_cast<double>(sum));
}

wxString SafePolyphonyText(float sum)
{
    int notes = 0;
    if (SafePolyphonyCount(sum, notes))
        return wxString::Format(_("Safe Polyphony: %d"), notes);
    return _("Safe Polyphony: Inf");
}

int ReadTargetPolyphony(const wxString& text)
{
    return ParseTargetPolyphony(text.ToStdString());
}
