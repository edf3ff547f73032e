// The plugin's editor, drawn with Cairo inside the host's window: the 128
// bars of the attack or sustain spectrum with the operations beside them, the
// sound's parameters as the window's bitmap sliders, and a patch menu. It
// talks to the sound processor only through parameters and state, so every
// editor open on one instance, and the host's automation, agree.
//
// Everything is laid out in a 900 x 560 grid and scaled as a whole by the
// host's scale factor. Editor thread only.

#include "DistrhoUI.hpp"

#include "Cairo.hpp"

#include <cairo.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "EditorTuning.h"
#include "EditorSwitch.h"
#include "EmbeddedFiles.h"
#include "HarmonicsEditorModel.h"
#include "PatchBridge.h"
#include "PluginParameters.h"
#include "PluginState.h"
#include "SentSpectra.h"
#include "controls/SliderMath.h"
#include "controls/SpectrumFigures.h"
#include "controls/SpectrumMath.h"
#include "patch/Patch.h"

START_NAMESPACE_DISTRHO

using namespace marovane_plugin;

namespace {

constexpr double kWidth = DISTRHO_UI_DEFAULT_WIDTH;
constexpr double kHeight = DISTRHO_UI_DEFAULT_HEIGHT;

// The window's colours.
struct Rgb {
    double r, g, b;
};
constexpr Rgb kPanel{102 / 255.0, 51 / 255.0, 0.0};
constexpr Rgb kPanelText{1.0, 204 / 255.0, 102 / 255.0};
constexpr Rgb kEditorGround{34 / 255.0, 17 / 255.0, 0.0};
constexpr Rgb kBarOutline{204 / 255.0, 102 / 255.0, 0.0};
constexpr Rgb kBarFill{224 / 255.0, 224 / 255.0, 0.0};
constexpr Rgb kButton{68 / 255.0, 34 / 255.0, 0.0};
constexpr Rgb kButtonOn{150 / 255.0, 85 / 255.0, 20 / 255.0};

void SetColour(cairo_t* cr, Rgb c)
{
    cairo_set_source_rgb(cr, c.r, c.g, c.b);
}

struct Box {
    double x, y, w, h;
    bool Contains(double px, double py) const { return px >= x && px < x + w && py >= y && py < y + h; }
};

// The harmonics editor: 640 x 300, as in the window.
constexpr int kBarsHeight = 300;
constexpr Box kBars{20, 52, HARMONICS_EDITOR_WIDTH, kBarsHeight};

// The top row.
constexpr Box kAttackButton{20, 14, 70, 26};
constexpr Box kSustainButton{94, 14, 70, 26};
constexpr Box kCopyToSustain{176, 16, 22, 22};
constexpr Box kCopyToAttack{202, 16, 22, 22};
constexpr Box kWaveformChoice{236, 14, 100, 26};
constexpr Box kGenerateButton{340, 14, 80, 26};
constexpr Box kClearButton{424, 14, 60, 26};
constexpr Box kNormalizeButton{488, 14, 90, 26};
// The band limit's check box, the last of the row: a switch on the sound,
// beside the waveform controls.
constexpr Box kBandLimitToggle{584, 14, 80, 26};

// The figures under the editor.
constexpr double kFiguresY = 372;
constexpr Box kTargetSpin{446, 358, 16, 22};

// The right column: zoom and the vertical sliders, then the patches.
constexpr Box kZoomSlider{684, 76, 30, 108};
constexpr double kVerticalSlidersX = 744; // the mod wheel and any other vertical slider
constexpr Box kPatchMenuButton{684, 214, 196, 26};
constexpr Box kLoadButton{684, 246, 96, 26};
constexpr Box kSaveButton{784, 246, 96, 26};
constexpr double kPatchNameY = 296;
// The tuning, in the right column's lower slots: load a Scala file, go back
// to twelve equal steps, and its name.
constexpr Box kTuningLoadButton{600, 478, 136, 26};
constexpr Box kEqualTuningButton{744, 478, 136, 26};
constexpr double kTuningNameY = 524;
constexpr double kMessageY = 316;

// The parameters' slots: three columns of four, under the figures.
constexpr double kSlotsX[] = {20, 310, 600};
constexpr double kSlotsY = 392;
constexpr double kSlotHeight = 40;
constexpr int kSlotsPerColumn = 4;
constexpr double kSliderWidth = 211;
constexpr double kSliderHeight = 24;

// How a parameter is shown.
struct ParamView {
    const char* label;
    const char* unit;
    float minimum;
    float maximum;
    bool integer;
    const char* const* choices;
    size_t choiceCount;
    bool vertical; // the wheel's slider, upright and inverse
};

ParamView ViewOf(uint32_t index)
{
    const PluginParam& p = kPluginParams[index];
    if (p.kind == PluginParamKind::ModWheel)
        return {kModWheelLabel, "", 0.0f, 1.0f, false, nullptr, 0, true};
    const ParameterInfo& info = Parameter(p.sound);
    return {info.label, info.unit, info.minimum, info.maximum, info.integer, info.choices, info.choiceCount, false};
}

float HeldValue(const ParamView& v, float value)
{
    if (value < v.minimum)
        value = v.minimum;
    if (value > v.maximum)
        value = v.maximum;
    return v.integer ? std::round(value) : value;
}

std::string ValueText(const ParamView& v, float value)
{
    char text[64];
    if (v.choices) {
        const int i = static_cast<int>(std::lround(value));
        return i >= 0 && static_cast<size_t>(i) < v.choiceCount ? v.choices[i] : "?";
    }
    if (v.integer)
        std::snprintf(text, sizeof text, "%d %s", static_cast<int>(std::lround(value)), v.unit);
    else
        std::snprintf(text, sizeof text, "%.2f %s", static_cast<double>(value), v.unit);
    return text;
}

cairo_surface_t* LoadPicture(const char* name)
{
    const EmbeddedFile* f = FindEditorPicture(name);
    if (!f)
        return nullptr;
    struct Reader {
        const EmbeddedFile* file;
        size_t at;
    } reader{f, 0};
    cairo_surface_t* s = cairo_image_surface_create_from_png_stream(
        [](void* closure, unsigned char* data, unsigned int length) {
            Reader* r = static_cast<Reader*>(closure);
            if (r->file->size - r->at < length)
                return CAIRO_STATUS_READ_ERROR;
            std::memcpy(data, r->file->data + r->at, length);
            r->at += length;
            return CAIRO_STATUS_SUCCESS;
        },
        &reader);
    if (cairo_surface_status(s) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(s);
        return nullptr;
    }
    return s;
}

int PictureWidth(cairo_surface_t* s)
{
    return s ? cairo_image_surface_get_width(s) : 0;
}

int PictureHeight(cairo_surface_t* s)
{
    return s ? cairo_image_surface_get_height(s) : 0;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string BaseName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

} // namespace

class PluginUi final : public UI {
public:
    PluginUi() : UI()
    {
        hTrack_ = LoadPicture("hsliderbk");
        hThumb_ = LoadPicture("hsliderind");
        vTrack_ = LoadPicture("sliderbk");
        vThumb_ = LoadPicture("sliderind");
        spin_ = LoadPicture("spin");
        for (uint32_t i = 0; i < kPluginParamCount; ++i) {
            const ParamView v = ViewOf(i);
            values_[i] = v.vertical ? 0.0f : v.minimum;
            if (kPluginParams[i].kind == PluginParamKind::Sound)
                values_[i] = Parameter(kPluginParams[i].sound).defaultValue;
        }
        LayOutParameters();
        // The framework sizes the window for the host's scale only when the
        // host gave one; a scale of the display's own (DPF_SCALE_FACTOR, say)
        // is applied here.
        const double scale = getScaleFactor();
        if (scale != 1.0)
            setSize(static_cast<uint>(kWidth * scale + 0.5), static_cast<uint>(kHeight * scale + 0.5));
    }

    ~PluginUi() override
    {
        for (cairo_surface_t* s : {hTrack_, hThumb_, vTrack_, vThumb_, spin_})
            if (s)
                cairo_surface_destroy(s);
    }

protected:
    // From the sound processor and the host.
    void parameterChanged(uint32_t index, float value) override
    {
        if (index >= kPluginParamCount)
            return;
        values_[index] = value;
        repaint();
    }

    void stateChanged(const char* key, const char* value) override
    {
        if (std::strcmp(key, kScaleStateKey) == 0 || std::strcmp(key, kKeymapStateKey) == 0) {
            tuning_.Take(std::strcmp(key, kScaleStateKey) == 0, value ? value : "");
            repaint();
            return;
        }
        const bool attack = std::strcmp(key, kAttackStateKey) == 0;
        if (!attack && std::strcmp(key, kSustainStateKey) != 0)
            return;
        // Our own spectrum coming back changes nothing; another editor's (or
        // the host's) is taken, but not into the spectrum a stroke here is
        // drawing, which the stroke's end sends whole.
        HarmonicSpectrum levels;
        if (sent_.OwnEcho(attack ? kAttackState : kSustainState, value) ||
            (model_.Stroking() && attack == model_.EditingAttack()) || !ReadSpectrumText(value, levels))
            return;
        model_.SetFromHost(attack, levels);
        repaint();
    }

    // A stroke's spectrum goes to the sound processor at most once a tick.
    void uiIdle() override { SendSpectra(); }

    void uiScaleFactorChanged(double scaleFactor) override
    {
        setSize(static_cast<uint>(kWidth * scaleFactor + 0.5), static_cast<uint>(kHeight * scaleFactor + 0.5));
        repaint();
    }

    void uiFileBrowserSelected(const char* filename) override
    {
        if (!filename)
            return;
        if (browsingTuning_) {
            LoadTuningFile(filename);
            repaint();
            return;
        }
        // A patch the plugin cannot play as written changes nothing here:
        // the sound processor would not take all of it.
        Patch patch;
        const std::string error = LoadPatchForPlugin(filename, patch);
        if (!error.empty()) {
            message_ = error;
        } else {
            ApplyPatch(patch);
            patchName_ = BaseName(filename);
            lastFolder_ = FolderOf(filename);
            message_ = "Loaded " + std::string(filename);
        }
        repaint();
    }

    void onCairoDisplay(const CairoGraphicsContext& context) override
    {
        cairo_t* cr = context.handle;
        cairo_save(cr);
        const double scale = getScaleFactor();
        cairo_scale(cr, scale, scale);
        SetColour(cr, kPanel);
        cairo_paint(cr);
        cairo_select_font_face(cr, "Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, 12.0);

        DrawBars(cr);
        DrawButton(cr, kAttackButton, "Attack", model_.EditingAttack());
        DrawButton(cr, kSustainButton, "Sustain", !model_.EditingAttack());
        DrawCopyArrow(cr, kCopyToSustain, true);
        DrawCopyArrow(cr, kCopyToAttack, false);
        DrawChoice(cr, kWaveformChoice, HarmonicWaveformName(waveform_));
        DrawButton(cr, kGenerateButton, "Generate", false);
        DrawButton(cr, kClearButton, "Clear", false);
        DrawButton(cr, kNormalizeButton, "Normalize", false);

        const float sum = model_.PeakLevel();
        DrawText(cr, 25, kFiguresY, PeakLevelString(sum));
        DrawText(cr, 150, kFiguresY, SafePolyphonyString(sum));
        DrawText(cr, 290, kFiguresY, "Target Polyphony:");
        DrawText(cr, 404, kFiguresY, std::to_string(model_.TargetPolyphony()));
        DrawPicture(cr, spin_, kTargetSpin.x, kTargetSpin.y);

        DrawText(cr, kZoomSlider.x - 4, kZoomSlider.y - 10, "Zoom " + std::to_string(ZoomWhole()));
        DrawVertical(cr, kZoomSlider, static_cast<float>(ZoomWhole() - 1), 9.0f);
        for (uint32_t i = 0; i < kPluginParamCount; ++i)
            DrawParameter(cr, i);

        DrawButton(cr, kPatchMenuButton, "Patches \u25be", false);
        DrawButton(cr, kLoadButton, "Load\u2026", false);
        DrawButton(cr, kSaveButton, "Save", false);
        DrawText(cr, kPatchMenuButton.x, kPatchNameY, "Patch: " + (patchName_.empty() ? "-" : patchName_));
        DrawWrapped(cr, kPatchMenuButton.x, kMessageY, 200, message_);
        DrawButton(cr, kTuningLoadButton, "Load Tuning\u2026", false);
        DrawButton(cr, kEqualTuningButton, "Equal Tuning", false);
        DrawWrapped(cr, kTuningLoadButton.x, kTuningNameY, 280, "Tuning: " + tuning_.Name());

        DrawPopup(cr);
        cairo_restore(cr);
    }

    bool onMouse(const MouseEvent& ev) override
    {
        const double scale = getScaleFactor();
        const double x = ev.pos.getX() / scale;
        const double y = ev.pos.getY() / scale;
        if (ev.press)
            Press(ev.button, x, y);
        else
            Release(ev.button, x, y);
        repaint();
        return true;
    }

    bool onMotion(const MotionEvent& ev) override
    {
        const double scale = getScaleFactor();
        Move(ev.pos.getX() / scale, ev.pos.getY() / scale);
        return true;
    }

    bool onKeyboard(const KeyboardEvent& ev) override
    {
        if (ev.press && ev.key == kKeyEscape && popup_.open) {
            popup_.open = false;
            repaint();
            return true;
        }
        if (!ev.press || !(ev.mod & kModifierControl) || (ev.key != 'z' && ev.key != 'Z' && ev.key != 26))
            return false;
        const bool redo = (ev.mod & kModifierShift) != 0;
        if (redo ? model_.Redo() : model_.Undo()) {
            SendSpectra();
            repaint();
        }
        return true;
    }

private:
    enum class Grab { None, Bars, Param, Zoom };

    struct Popup {
        Box anchor{};
        std::vector<std::string> items;
        std::function<void(size_t)> pick;
        bool open = false;
        Box ListBox() const
        {
            // Below its button, or above it where there is no room below:
            // never over the button, where the second press of a double
            // click would pick an item.
            const double h = 20.0 * static_cast<double>(items.size());
            double y = anchor.y + anchor.h;
            if (y + h > kHeight)
                y = anchor.y - h >= 0.0 ? anchor.y - h : std::max(0.0, kHeight - h);
            return {anchor.x, y, std::max(anchor.w, 140.0), h};
        }
    };

    // ---- layout of the parameters

    void LayOutParameters()
    {
        int slot = 0;
        int vertical = 0;
        for (uint32_t i = 0; i < kPluginParamCount; ++i) {
            const ParamView v = ViewOf(i);
            if (IsPluginSwitch(i)) {
                // The one switch, the band limit: a check box in the top row.
                boxes_[i] = kBandLimitToggle;
            } else if (v.vertical) {
                boxes_[i] = {kVerticalSlidersX + 60.0 * vertical++, kZoomSlider.y, 30, 108};
            } else {
                const int column = slot / kSlotsPerColumn;
                const int row = slot % kSlotsPerColumn;
                ++slot;
                boxes_[i] = {kSlotsX[column % 3], kSlotsY + row * kSlotHeight + 14, kSliderWidth, kSliderHeight};
            }
        }
    }

    SliderGeometry Geometry(const Box& b, bool vertical, float range) const
    {
        SliderGeometry g;
        g.width = static_cast<int>(b.w);
        g.height = static_cast<int>(b.h);
        cairo_surface_t* thumb = vertical ? vThumb_ : hThumb_;
        g.thumbWidth = PictureWidth(thumb);
        g.thumbHeight = PictureHeight(thumb);
        g.style = vertical ? (SLIDER_VERTICAL | SLIDER_INVERSE) : SLIDER_HORIZONTAL;
        g.minValue = 0.0f;
        g.maxValue = range;
        return g;
    }

    int ZoomWhole() const { return static_cast<int>(std::lround(model_.DisplayScale())); }

    // ---- drawing

    void DrawText(cairo_t* cr, double x, double y, const std::string& text) const
    {
        SetColour(cr, kPanelText);
        cairo_move_to(cr, x, y);
        cairo_show_text(cr, text.c_str());
    }

    // The text in lines of at most `width`, broken at spaces, and within a
    // word too long for a line (a deep folder's path) between characters;
    // lines that would run off the bottom of the window are left out.
    void DrawWrapped(cairo_t* cr, double x, double y, double width, const std::string& text) const
    {
        auto wide = [cr](const std::string& t) {
            cairo_text_extents_t e;
            cairo_text_extents(cr, t.c_str(), &e);
            return e.x_advance;
        };
        std::vector<std::string> lines;
        std::string line;
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find(' ', at);
            if (end == std::string::npos)
                end = text.size();
            std::string word = text.substr(at, end - at);
            at = end + 1;
            const std::string tryLine = line.empty() ? word : line + " " + word;
            if (wide(tryLine) <= width) {
                line = tryLine;
                continue;
            }
            if (!line.empty())
                lines.push_back(line);
            line.clear();
            // The word alone, in pieces that fit (never inside a character's
            // UTF-8 bytes, and at least one character a piece).
            while (wide(word) > width) {
                size_t cut = 0;
                for (size_t k = 1; k <= word.size(); ++k) {
                    if (k < word.size() && (static_cast<unsigned char>(word[k]) & 0xC0) == 0x80)
                        continue;
                    if (cut != 0 && wide(word.substr(0, k)) > width)
                        break;
                    cut = k;
                }
                lines.push_back(word.substr(0, cut));
                word.erase(0, cut);
            }
            line = word;
        }
        if (!line.empty())
            lines.push_back(line);
        for (const std::string& l : lines) {
            if (y > kHeight - 4)
                break;
            DrawText(cr, x, y, l);
            y += 15;
        }
    }

    void DrawButton(cairo_t* cr, const Box& b, const char* label, bool on) const
    {
        SetColour(cr, on ? kButtonOn : kButton);
        cairo_rectangle(cr, b.x, b.y, b.w, b.h);
        cairo_fill_preserve(cr);
        SetColour(cr, kBarOutline);
        cairo_set_line_width(cr, 1.0);
        cairo_stroke(cr);
        cairo_text_extents_t e;
        cairo_text_extents(cr, label, &e);
        DrawText(cr, b.x + (b.w - e.x_advance) / 2, b.y + b.h / 2 + 4.5, label);
    }

    void DrawChoice(cairo_t* cr, const Box& b, const std::string& text) const
    {
        DrawButton(cr, b, "", false);
        DrawText(cr, b.x + 6, b.y + b.h / 2 + 4.5, text);
        DrawText(cr, b.x + b.w - 14, b.y + b.h / 2 + 4.5, "\u25be");
    }

    // The copy buttons: an arrow from the attack side (A) to the sustain
    // side (S), or back.
    void DrawCopyArrow(cairo_t* cr, const Box& b, bool toSustain) const
    {
        DrawButton(cr, b, "", false);
        SetColour(cr, kBarFill);
        cairo_set_line_width(cr, 2.0);
        const double y = b.y + b.h / 2;
        const double from = toSustain ? b.x + 4 : b.x + b.w - 4;
        const double to = toSustain ? b.x + b.w - 4 : b.x + 4;
        const double head = toSustain ? -5 : 5;
        cairo_move_to(cr, from, y);
        cairo_line_to(cr, to, y);
        cairo_move_to(cr, to + head, y - 5);
        cairo_line_to(cr, to, y);
        cairo_line_to(cr, to + head, y + 5);
        cairo_stroke(cr);
        cairo_set_font_size(cr, 9.0);
        DrawText(cr, b.x + 1, b.y - 2, toSustain ? "A\u2192S" : "S\u2192A");
        cairo_set_font_size(cr, 12.0);
    }

    void DrawPicture(cairo_t* cr, cairo_surface_t* s, double x, double y) const
    {
        if (!s)
            return;
        cairo_set_source_surface(cr, s, x, y);
        cairo_paint(cr);
    }

    void DrawBars(cairo_t* cr) const
    {
        SetColour(cr, kEditorGround);
        cairo_rectangle(cr, kBars.x, kBars.y, kBars.w, kBars.h);
        cairo_fill(cr);
        cairo_save(cr);
        cairo_rectangle(cr, kBars.x, kBars.y, kBars.w, kBars.h);
        cairo_clip(cr);
        cairo_set_line_width(cr, 1.0);
        const HarmonicSpectrum& levels = model_.Edited();
        for (int i = 0; i < NUM_PARTIALS; ++i) {
            int b = HarmonicsBarHeight(levels.level[i], kBarsHeight, model_.DisplayScale());
            if (b <= 0)
                continue;
            if (b > kBarsHeight + 2)
                b = kBarsHeight + 2;
            const double x = kBars.x + HARMONICS_BAR_WIDTH * i;
            const double y = kBars.y + kBarsHeight - b;
            SetColour(cr, kBarFill);
            cairo_rectangle(cr, x, y, HARMONICS_BAR_WIDTH, b);
            cairo_fill(cr);
            SetColour(cr, kBarOutline);
            cairo_rectangle(cr, x + 0.5, y + 0.5, HARMONICS_BAR_WIDTH - 1, b - 1);
            cairo_stroke(cr);
        }
        cairo_restore(cr);
        DrawText(cr, kBars.x + 4, kBars.y + 14, model_.EditingAttack() ? "Attack spectrum" : "Sustain spectrum");
    }

    void DrawVertical(cairo_t* cr, const Box& b, float value, float range) const
    {
        if (vTrack_ && vThumb_) {
            DrawPicture(cr, vTrack_, b.x, b.y);
            const SliderGeometry g = Geometry(b, true, range);
            DrawPicture(cr, vThumb_, b.x + b.w / 2 - g.thumbWidth / 2, b.y + SliderThumbOffset(g, value));
        }
    }

    // A check box and its label, the box ticked when on.
    void DrawToggle(cairo_t* cr, const Box& b, const char* label, bool on) const
    {
        const double side = 14;
        const double y = b.y + (b.h - side) / 2;
        SetColour(cr, on ? kButtonOn : kButton);
        cairo_rectangle(cr, b.x + 0.5, y + 0.5, side, side);
        cairo_fill_preserve(cr);
        SetColour(cr, kBarOutline);
        cairo_set_line_width(cr, 1.0);
        cairo_stroke(cr);
        if (on) {
            SetColour(cr, kBarFill);
            cairo_set_line_width(cr, 2.0);
            cairo_move_to(cr, b.x + 3.5, y + 7.5);
            cairo_line_to(cr, b.x + 6.5, y + 11);
            cairo_line_to(cr, b.x + 12, y + 3.5);
            cairo_stroke(cr);
        }
        DrawText(cr, b.x + side + 6, b.y + b.h / 2 + 4.5, label);
    }

    void DrawParameter(cairo_t* cr, uint32_t i) const
    {
        const ParamView v = ViewOf(i);
        const Box& b = boxes_[i];
        const float value = values_[i];
        if (IsPluginSwitch(i)) {
            DrawToggle(cr, b, v.label, SwitchOn(value));
            return;
        }
        if (v.vertical) {
            DrawText(cr, b.x - 8, b.y - 10, v.label);
            DrawVertical(cr, b, value - v.minimum, v.maximum - v.minimum);
            DrawText(cr, b.x, b.y + b.h + 14, ValueText(v, value));
            return;
        }
        DrawText(cr, b.x, b.y - 4, std::string(v.label) + (v.choices ? "" : ": " + ValueText(v, value)));
        if (v.choices) {
            DrawChoice(cr, b, ValueText(v, value));
            return;
        }
        if (hTrack_ && hThumb_) {
            DrawPicture(cr, hTrack_, b.x, b.y);
            const SliderGeometry g = Geometry(b, false, v.maximum - v.minimum);
            DrawPicture(cr, hThumb_, b.x + SliderThumbOffset(g, value - v.minimum), b.y + b.h / 2 - g.thumbHeight / 2);
        }
    }

    void DrawPopup(cairo_t* cr) const
    {
        if (!popup_.open)
            return;
        const Box list = popup_.ListBox();
        SetColour(cr, kEditorGround);
        cairo_rectangle(cr, list.x, list.y, list.w, list.h);
        cairo_fill_preserve(cr);
        SetColour(cr, kBarOutline);
        cairo_stroke(cr);
        for (size_t k = 0; k < popup_.items.size(); ++k)
            DrawText(cr, list.x + 6, list.y + 20.0 * static_cast<double>(k) + 14, popup_.items[k]);
    }

    // ---- the mouse

    HarmonicsPoint BarPoint(double x, double y) const
    {
        return {static_cast<int>(std::floor(x - kBars.x)), static_cast<int>(std::floor(y - kBars.y))};
    }

    void Press(uint button, double x, double y)
    {
        if (popup_.open) {
            const Box list = popup_.ListBox();
            popup_.open = false;
            if (button == kMouseButtonLeft && list.Contains(x, y)) {
                const size_t k = static_cast<size_t>((y - list.y) / 20.0);
                if (k < popup_.items.size())
                    popup_.pick(k);
            }
            return;
        }
        if (grab_ != Grab::None)
            return;
        grabButton_ = button;
        if (kBars.Contains(x, y) && (button == kMouseButtonLeft || button == kMouseButtonRight)) {
            grab_ = Grab::Bars;
            model_.Press(BarPoint(x, y), kBarsHeight, button == kMouseButtonLeft);
            return;
        }
        if (button != kMouseButtonLeft)
            return;
        if (kZoomSlider.Contains(x, y)) {
            grab_ = Grab::Zoom;
            MoveZoom(x, y);
            return;
        }
        for (uint32_t i = 0; i < kPluginParamCount; ++i) {
            if (!boxes_[i].Contains(x, y))
                continue;
            const ParamView v = ViewOf(i);
            if (IsPluginSwitch(i)) {
                const float value = ClickedSwitchValue(values_[i]);
                values_[i] = value;
                editParameter(i, true);
                setParameterValue(i, value);
                editParameter(i, false);
                return;
            }
            if (v.choices) {
                OpenChoice(i, v);
                return;
            }
            grab_ = Grab::Param;
            grabbed_ = i;
            editParameter(i, true);
            MoveParameter(x, y);
            return;
        }
        Click(x, y);
    }

    void Move(double x, double y)
    {
        switch (grab_) {
        case Grab::Bars:
            model_.Move(BarPoint(x, y), kBarsHeight);
            repaint();
            break;
        case Grab::Param: MoveParameter(x, y); break;
        case Grab::Zoom: MoveZoom(x, y); break;
        case Grab::None: break;
        }
    }

    // Only the release of the button that started a drag ends it: another
    // button pressed and let go meanwhile changes nothing.
    void Release(uint button, double x, double y)
    {
        if (grab_ == Grab::None || button != grabButton_)
            return;
        switch (grab_) {
        case Grab::Bars:
            model_.Release(BarPoint(x, y), kBarsHeight);
            SendSpectra();
            break;
        case Grab::Param:
            MoveParameter(x, y);
            editParameter(grabbed_, false);
            break;
        case Grab::Zoom:
            MoveZoom(x, y);
            break;
        case Grab::None: return;
        }
        grab_ = Grab::None;
    }

    void MoveParameter(double x, double y)
    {
        const ParamView v = ViewOf(grabbed_);
        const Box& b = boxes_[grabbed_];
        const SliderGeometry g = Geometry(b, v.vertical, v.maximum - v.minimum);
        const float value = HeldValue(v, v.minimum + SliderValueAt(g, static_cast<int>(std::floor(x - b.x)),
                                                                   static_cast<int>(std::floor(y - b.y))));
        if (value != values_[grabbed_]) {
            values_[grabbed_] = value;
            setParameterValue(grabbed_, value);
            repaint();
        }
    }

    void MoveZoom(double x, double y)
    {
        const SliderGeometry g = Geometry(kZoomSlider, true, 9.0f);
        const float v = SliderValueAt(g, static_cast<int>(std::floor(x - kZoomSlider.x)),
                                      static_cast<int>(std::floor(y - kZoomSlider.y)));
        model_.SetDisplayScale(1.0f + std::round(v));
        repaint();
    }

    void OpenChoice(uint32_t index, const ParamView& v)
    {
        popup_.anchor = boxes_[index];
        popup_.items.assign(v.choices, v.choices + v.choiceCount);
        popup_.pick = [this, index, v](size_t k) {
            const float value = HeldValue(v, v.minimum + static_cast<float>(k));
            values_[index] = value;
            editParameter(index, true);
            setParameterValue(index, value);
            editParameter(index, false);
        };
        popup_.open = true;
    }

    void Click(double x, double y)
    {
        if (kAttackButton.Contains(x, y)) {
            model_.SetEditAttack(true);
        } else if (kSustainButton.Contains(x, y)) {
            model_.SetEditAttack(false);
        } else if (kCopyToSustain.Contains(x, y)) {
            model_.CopyAttackToSustain();
        } else if (kCopyToAttack.Contains(x, y)) {
            model_.CopySustainToAttack();
        } else if (kWaveformChoice.Contains(x, y)) {
            popup_.anchor = kWaveformChoice;
            popup_.items.clear();
            for (int w = 0; w < NUM_HARMONIC_WAVEFORMS; ++w)
                popup_.items.emplace_back(HarmonicWaveformName(w));
            popup_.pick = [this](size_t k) { waveform_ = static_cast<int>(k); };
            popup_.open = true;
        } else if (kGenerateButton.Contains(x, y)) {
            model_.Generate(waveform_);
        } else if (kClearButton.Contains(x, y)) {
            model_.Clear();
        } else if (kNormalizeButton.Contains(x, y)) {
            model_.Normalize();
        } else if (kTargetSpin.Contains(x, y)) {
            if (y < kTargetSpin.y + kTargetSpin.h / 2)
                model_.TargetUp();
            else
                model_.TargetDown();
        } else if (kPatchMenuButton.Contains(x, y)) {
            popup_.anchor = kPatchMenuButton;
            popup_.items.clear();
            for (size_t k = 0; k < kShippedPatchCount; ++k)
                popup_.items.emplace_back(kShippedPatches[k].name);
            popup_.pick = [this](size_t k) { LoadShipped(k); };
            popup_.open = true;
        } else if (kTuningLoadButton.Contains(x, y)) {
            FileBrowserOptions options;
            options.title = "Load a Scala scale (.scl) or keyboard mapping (.kbm)";
            if (!lastFolder_.empty())
                options.startDir = lastFolder_.c_str();
            browsingTuning_ = openFileBrowser(options);
            if (!browsingTuning_)
                message_ = "The file browser could not be opened.";
        } else if (kEqualTuningButton.Contains(x, y)) {
            SendTuning({});
            message_.clear();
        } else if (kLoadButton.Contains(x, y)) {
            browsingTuning_ = false;
            FileBrowserOptions options;
            options.title = "Load a Marovane patch";
            if (!lastFolder_.empty())
                options.startDir = lastFolder_.c_str();
            if (!openFileBrowser(options))
                message_ = "The file browser could not be opened.";
        } else if (kSaveButton.Contains(x, y)) {
            Save();
        }
        SendSpectra();
    }

    // ---- patches

    void LoadShipped(size_t k)
    {
        Patch patch;
        const std::string error = ReadShippedPatch(kShippedPatches[k], patch);
        if (!error.empty()) {
            message_ = "Cannot load the patch \"" + std::string(kShippedPatches[k].name) + "\": " + error +
                       ". The sound is unchanged.";
            return;
        }
        ApplyPatch(patch);
        patchName_ = kShippedPatches[k].name;
        message_.clear();
    }

    void ApplyPatch(const Patch& patch)
    {
        for (uint32_t i = 0; i < kPluginParamCount; ++i) {
            float value = 0.0f;
            if (!PatchParameterValue(patch, i, value))
                continue;
            value = HeldValue(ViewOf(i), value);
            values_[i] = value;
            editParameter(i, true);
            setParameterValue(i, value);
            editParameter(i, false);
        }
        model_.LoadSpectra(patch.attack, patch.sustain);
        SendSpectra();
    }

    // The file browser has no save mode here: a new file beside the last
    // patch loaded, or in the home folder.
    void Save()
    {
        Patch patch;
        for (uint32_t i = 0; i < kPluginParamCount; ++i)
            SetPatchParameter(patch, i, values_[i]);
        patch.attack = model_.Attack();
        patch.sustain = model_.Sustain();
        std::string folder = lastFolder_;
        if (folder.empty()) {
            const char* home = std::getenv("HOME");
            folder = home && *home ? home : "/tmp";
        }
        const std::string path = NewPatchPath(folder);
        const std::string error = WritePatchFile(path, patch);
        message_ = error.empty() ? "Saved " + path : error;
        if (error.empty())
            patchName_ = BaseName(path);
    }

    // ---- the tuning

    void LoadTuningFile(const std::string& path)
    {
        EditorTuning::Texts texts;
        const std::string error = tuning_.Load(path, texts);
        if (!error.empty()) {
            message_ = error;
            return;
        }
        lastFolder_ = FolderOf(path);
        SendTuning(texts);
        message_ = "Loaded " + path;
    }

    // Both texts as the plugin's state, the mapping first: the sound
    // processor then reads the scale with its own mapping.
    void SendTuning(const EditorTuning::Texts& texts)
    {
        setState(kKeymapStateKey, texts.keymap.c_str());
        setState(kScaleStateKey, texts.scale.c_str());
        tuning_.Take(false, texts.keymap);
        tuning_.Take(true, texts.scale);
    }

    void SendSpectra()
    {
        if (model_.TakeChanged(true))
            SendSpectrum(kAttackState, kAttackStateKey, model_.Attack());
        if (model_.TakeChanged(false))
            SendSpectrum(kSustainState, kSustainStateKey, model_.Sustain());
    }

    void SendSpectrum(uint32_t which, const char* key, const HarmonicSpectrum& levels)
    {
        std::string text = SpectrumText(levels);
        setState(key, text.c_str());
        sent_.Sent(which, std::move(text));
    }

    SentSpectra sent_;
    EditorTuning tuning_;
    // The file browser open was asked for by Load Tuning, not Load.
    bool browsingTuning_ = false;
    HarmonicsEditorModel model_;
    float values_[kPluginParamCount] = {};
    Box boxes_[kPluginParamCount] = {};
    Grab grab_ = Grab::None;
    uint grabButton_ = 0; // the button that started the drag
    uint32_t grabbed_ = 0;
    int waveform_ = 0;
    Popup popup_;
    std::string patchName_;
    std::string lastFolder_;
    std::string message_;
    cairo_surface_t* hTrack_ = nullptr;
    cairo_surface_t* hThumb_ = nullptr;
    cairo_surface_t* vTrack_ = nullptr;
    cairo_surface_t* vThumb_ = nullptr;
    cairo_surface_t* spin_ = nullptr;

    DISTRHO_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(PluginUi)
};

UI* createUI()
{
    return new PluginUi();
}

END_NAMESPACE_DISTRHO
