// Breaking a message into lines for a box of a given width, measured here in
// characters.
#include <gtest/gtest.h>

#include <wx/arrstr.h>

#include "controls/TextWrap.h"

namespace {

int Chars(const wxString& s) { return static_cast<int>(s.length()); }

TEST(TextWrap, LinesFitTheWidthAndKeepEveryCharacter)
{
    const struct {
        const char* name;
        const char* text;
        int width;
        const char* wrapped;
    } cases[] = {
        {"short text is left alone", "Cannot save.", 20, "Cannot save."},
        {"between words", "one two three four", 9, "one two\nthree\nfour"},
        {"a word exactly as wide as a line", "abcdefghi jk", 9, "abcdefghi\njk"},
        {"a long path after its slashes", "Cannot write \"/home/me/patches/sound.mrvn\": disk full.", 16,
         "Cannot write\n\"/home/me/\npatches/\nsound.mrvn\":\ndisk full."},
        {"a long word without a slash", "abcdefghijklmnopqrstuvwxyz.", 10, "abcdefghij\nklmnopqrst\nuvwxyz."},
        {"line breaks stay", "first line\n\nlast", 20, "first line\n\nlast"},
        {"blanks at a break go", "aaaa   bbbb", 5, "aaaa\nbbbb"},
        {"a width of one still ends", "ab c", 1, "a\nb\nc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const wxString wrapped = WrapText(c.text, c.width, Chars);
        EXPECT_EQ(wrapped.ToStdString(), std::string(c.wrapped));
        for (const wxString& line : wxSplit(wrapped, '\n', '\0'))
            EXPECT_LE(Chars(line), c.width) << line;
    }
}

TEST(TextWrap, ASaveErrorOfAFileNameNearTheLimitShowsItsReason)
{
    const wxString path = "/home/player/.local/share/marovane/patches/" + wxString('x', 240) + ".mrvn";
    const wxString text = "Cannot save the patch file \"" + path + "\": cannot create a temporary file beside \"" + path +
                          "\": File name too long.";
    const wxString wrapped = WrapText(text, 60, Chars);
    const wxArrayString lines = wxSplit(wrapped, '\n', '\0');
    EXPECT_GT(lines.size(), 8u);
    for (const wxString& line : lines)
        EXPECT_LE(Chars(line), 60) << line;
    EXPECT_TRUE(lines.Last().EndsWith("File name too long.")) << lines.Last();
    wxString joined = wrapped;
    joined.Replace("\n", "");
    wxString unbroken = text;
    unbroken.Replace(" ", "");
    joined.Replace(" ", "");
    EXPECT_EQ(joined, unbroken);
}

} // namespace
