#include "TextWrap.h"

#include <wx/arrstr.h>

namespace {

using WidthOf = std::function<int(const wxString&)>;

// How much of `word` goes on a line of its own: after the last '/' among the
// characters that fit, else all that fit, at least one.
size_t CutPoint(const wxString& word, int maxWidth, const WidthOf& widthOf)
{
    size_t fit = 1;
    while (fit < word.length() && widthOf(word.Left(fit + 1)) <= maxWidth)
        ++fit;
    const size_t slash = word.Left(fit).find_last_of('/');
    return slash != wxString::npos && slash > 0 ? slash + 1 : fit;
}

void WrapParagraph(const wxString& paragraph, int maxWidth, const WidthOf& widthOf, wxString& out)
{
    wxString line;
    bool lineHasWord = false;
    const size_t n = paragraph.length();
    size_t i = 0;
    while (i < n) {
        // The blanks before the next word, then the word.
        size_t start = i;
        while (i < n && paragraph[i] == ' ')
            ++i;
        const wxString gap = paragraph.Mid(start, i - start);
        start = i;
        while (i < n && paragraph[i] != ' ')
            ++i;
        wxString word = paragraph.Mid(start, i - start);
        const wxString candidate = line + gap + word;
        if (widthOf(candidate) <= maxWidth) {
            line = candidate;
            lineHasWord = lineHasWord || !word.empty();
            continue;
        }
        // A new line; the blanks at the break go.
        if (lineHasWord)
            out += line + "\n";
        while (widthOf(word) > maxWidth) {
            const size_t cut = CutPoint(word, maxWidth, widthOf);
            out += word.Left(cut) + "\n";
            word = word.Mid(cut);
        }
        line = word;
        lineHasWord = !word.empty();
    }
    out += line;
}

} // namespace

wxString WrapText(const wxString& text, int maxWidth, const WidthOf& widthOf)
{
    wxString out;
    const wxArrayString paragraphs = wxSplit(text, '\n', '\0');
    for (size_t p = 0; p < paragraphs.size(); ++p) {
        if (p > 0)
            out += "\n";
        WrapParagraph(paragraphs[p], maxWidth, widthOf, out);
    }
    return out;
}
