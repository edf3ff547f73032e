// The bitmap slider and the small controls, driven with the real mouse under
// a virtual display.
#include "ControlsTestFrame.h"

#include <atomic>
#include <cstdlib>

#include <wx/log.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "controls/BitmapSlider.h"
#include "controls/BitmapSpinButton.h"
#include "controls/KeylessControls.h"
#include "controls/MiniWavePanel.h"
#include "controls/OctaveCtrl.h"
#include "controls/ResourcePath.h"
#include "controls/SpectrumMath.h"
#include "controls/Switch.h"
#include "controls/SynthParametersDlg.h"
#include "controls/VolumeMeter.h"
#include "synth/SynthState.h"
#include "support/EngineTestAccess.h"

namespace {

constexpr int ID_SLIDER = 10047;
constexpr int ID_WHEEL = 10015;

class SliderTest : public ControlsGuiTest {
protected:
    void SetUp() override
    {
        ControlsGuiTest::SetUp();
        const wxImage track = LoadResource("hsliderbk.bmp");
        const wxImage thumb = LoadResource("hsliderind.bmp");
        const wxImage wheelTrack = LoadResource("sliderbk.bmp");
        const wxImage wheelThumb = LoadResource("sliderind.bmp");
        slider = new wxBitmapSlider(frame, ID_SLIDER, 0.0f, 0.0f, 1000.0f, wxPoint(100, 100), wxSize(211, 24),
                                    wxSL_HORIZONTAL);
        slider->SetImages(&track, &thumb);
        wheel = new wxBitmapSlider(frame, ID_WHEEL, 8192.0f, 0.0f, 16383.0f, wxPoint(400, 100), wxSize(30, 108),
                                   wxSL_VERTICAL | wxSL_INVERSE);
        wheel->SetImages(&wheelTrack, &wheelThumb);
        ShowFrame();
    }
    std::vector<wxEventType> Types() const
    {
        std::vector<wxEventType> t;
        for (const RecordedEvent& e : frame->events)
            t.push_back(e.type);
        return t;
    }
    wxBitmapSlider* slider = nullptr;
    wxBitmapSlider* wheel = nullptr;
};

TEST_F(SliderTest, PicturesAreTheInstrumentsOwnAtTheirSizes)
{
    const struct {
        const char* name;
        int w, h;
    } pictures[] = {{"hsliderbk.bmp", 211, 24}, {"hsliderind.bmp", 11, 20}, {"sliderbk.bmp", 30, 108},
                    {"sliderind.bmp", 24, 10},  {"spin.bmp", 16, 22}};
    for (const auto& p : pictures) {
        SCOPED_TRACE(p.name);
        const wxImage image = LoadResource(p.name);
        ASSERT_TRUE(image.IsOk());
        EXPECT_EQ(image.GetWidth(), p.w);
        EXPECT_EQ(image.GetHeight(), p.h);
    }
    // The tracks are the window's brown where nothing is drawn on them.
    const wxImage track = LoadResource("hsliderbk.bmp");
    EXPECT_EQ(wxColour(track.GetRed(0, 0), track.GetGreen(0, 0), track.GetBlue(0, 0)), BackgroundColour());
    EXPECT_TRUE(slider->IsImageMode());
    EXPECT_TRUE(wheel->IsImageMode());
}

TEST_F(SliderTest, PressAndReleaseInPlaceSendChangedChangedThumbRelease)
{
    ClickAt(slider, 105, 12);
    EXPECT_FLOAT_EQ(slider->GetValue(), 500.0f);
    ASSERT_EQ(Types(), (std::vector<wxEventType>{wxEVT_SCROLL_CHANGED, wxEVT_SCROLL_CHANGED,
                                                 wxEVT_SCROLL_THUMBRELEASE}));
    for (const RecordedEvent& e : frame->events) {
        EXPECT_EQ(e.id, ID_SLIDER);
        EXPECT_EQ(e.intValue, 500);
    }
    EXPECT_FALSE(slider->IsDragging());
}

TEST_F(SliderTest, DraggingFollowsThePointerAndEndsWithOneThumbRelease)
{
    MoveTo(slider, 5, 12);
    Press();
    for (int x = 25; x <= 155; x += 10)
        MoveTo(slider, x, 12, 20);
    Release();
    EXPECT_FLOAT_EQ(slider->GetValue(), 750.0f);
    const std::vector<wxEventType> types = Types();
    ASSERT_GE(types.size(), 4u);
    EXPECT_EQ(types.back(), wxEVT_SCROLL_THUMBRELEASE);
    EXPECT_EQ(frame->Count(wxEVT_SCROLL_THUMBRELEASE), 1);
    for (size_t i = 0; i + 1 < types.size(); ++i)
        EXPECT_EQ(types[i], wxEVT_SCROLL_CHANGED);
    // The values arrive in the order the pointer moved.
    for (size_t i = 1; i < frame->events.size(); ++i)
        EXPECT_GE(frame->events[i].intValue, frame->events[i - 1].intValue);
    EXPECT_EQ(frame->events.back().intValue, 750);
}

TEST_F(SliderTest, LeavingEndsTheDragAndComingBackResumesIt)
{
    MoveTo(slider, 55, 12);
    Press();
    MoveTo(slider, 55, -30); // out of the slider, button held
    EXPECT_FALSE(slider->IsDragging());
    EXPECT_EQ(frame->Count(wxEVT_SCROLL_THUMBRELEASE), 1);
    EXPECT_FLOAT_EQ(slider->GetValue(), 250.0f);
    MoveTo(slider, 130, -30);
    EXPECT_FLOAT_EQ(slider->GetValue(), 250.0f);
    const size_t before = frame->events.size();
    MoveTo(slider, 130, 12); // back in, still held
    MoveTo(slider, 135, 12);
    EXPECT_TRUE(slider->IsDragging());
    EXPECT_GT(frame->events.size(), before);
    EXPECT_FLOAT_EQ(slider->GetValue(), 650.0f);
    Release();
    EXPECT_EQ(frame->Count(wxEVT_SCROLL_THUMBRELEASE), 2);
    EXPECT_EQ(frame->events.back().type, wxEVT_SCROLL_THUMBRELEASE);
}

TEST_F(SliderTest, InverseWheelHasItsMaximumAtTheTop)
{
    ClickAt(wheel, 15, 5);
    EXPECT_FLOAT_EQ(wheel->GetValue(), 16383.0f);
    ClickAt(wheel, 15, 103);
    EXPECT_FLOAT_EQ(wheel->GetValue(), 0.0f);
    for (const RecordedEvent& e : frame->events)
        EXPECT_EQ(e.id, ID_WHEEL);
}

TEST_F(SliderTest, SetValueSendsNothingAndStoresUnclamped)
{
    slider->SetValue(2000.0f);
    slider->SetValue(2000.0f);
    PumpEvents(50);
    EXPECT_EQ(slider->GetValue(), 2000.0f);
    EXPECT_TRUE(frame->events.empty());
}

TEST_F(SliderTest, NeverTakesTheFocusAndHandsKeysToTheParent)
{
    ASSERT_EQ(wxWindow::FindFocus(), frame->focusTarget);
    ClickAt(slider, 100, 12);
    ClickAt(wheel, 15, 50);
    EXPECT_EQ(wxWindow::FindFocus(), frame->focusTarget);
    // A key typed after the click still goes to the keyboard.
    sim.Char('z');
    PumpEvents(80);
    ASSERT_FALSE(frame->focusTarget->keys.empty());
    EXPECT_EQ(frame->focusTarget->keys.back(), 'Z');

    // Keys that reach a slider go on to its parent, and the slider keeps none.
    wxKeyEvent down(wxEVT_KEY_DOWN);
    down.m_keyCode = 'Q';
    down.SetEventObject(slider);
    slider->GetEventHandler()->ProcessEvent(down);
    wxKeyEvent up(wxEVT_KEY_UP);
    up.m_keyCode = 'Q';
    up.SetEventObject(wheel);
    wheel->GetEventHandler()->ProcessEvent(up);
    EXPECT_EQ(frame->keyDowns, std::vector<int>{'Q'});
    EXPECT_EQ(frame->keyUps, std::vector<int>{'Q'});
    EXPECT_FALSE(down.GetSkipped());
}

TEST_F(SliderTest, PlainModeWithoutPictures)
{
    auto* plain = new wxBitmapSlider(frame, 10049, 0.0f, 0.0f, 100.0f, wxPoint(100, 200), wxSize(200, 24),
                                     wxSL_HORIZONTAL);
    wxImage broken;
    plain->SetImages(&broken, nullptr); // a null pointer keeps the old (none)
    EXPECT_FALSE(plain->IsImageMode());
    PumpEvents(50);
    ClickAt(plain, 50, 12);
    EXPECT_FLOAT_EQ(plain->GetValue(), 25.0f); // whole width, no thumb offset
}

class SmallControlsTest : public ControlsGuiTest {};

TEST_F(SmallControlsTest, KeylessButtonsDoNotKeepTheKeyboard)
{
    wxBitmap face(18, 18);
    auto* text = new wxKeylessButton(frame, 10039, "Generate", wxPoint(100, 300), wxSize(70, 20), wxBU_AUTODRAW);
    auto* picture = new wxKeylessBitmapButton(frame, 10017, face, wxPoint(200, 300), wxSize(22, 22),
                                              wxBU_AUTODRAW | wxWANTS_CHARS);
    int generated = 0;
    bool giveBack = true;
    // The main window's button handlers give the keyboard back.
    text->Bind(wxEVT_BUTTON, [&](wxCommandEvent& e) {
        ++generated;
        if (giveBack)
            frame->focusTarget->SetFocus();
        e.Skip();
    });
    ShowFrame();
    ASSERT_EQ(wxWindow::FindFocus(), frame->focusTarget);

    ClickAt(picture, 11, 11);
    EXPECT_EQ(frame->Count(wxEVT_BUTTON), 1);
    EXPECT_EQ(wxWindow::FindFocus(), frame->focusTarget); // never took it

    ClickAt(text, 35, 10);
    EXPECT_EQ(generated, 1);
    PumpEvents(50);
    sim.Char('a');
    PumpEvents(80);
    ASSERT_FALSE(frame->focusTarget->keys.empty());
    EXPECT_EQ(frame->focusTarget->keys.back(), 'A');

    // The button never took the keyboard, even without the handler's help.
    frame->focusTarget->keys.clear();
    giveBack = false;
    ClickAt(text, 35, 10);
    EXPECT_EQ(wxWindow::FindFocus(), frame->focusTarget);

    // Keys that do reach a keyless button belong to its parent.
    wxKeyEvent down(wxEVT_KEY_DOWN);
    down.m_keyCode = 'S';
    text->GetEventHandler()->ProcessEvent(down);
    wxKeyEvent up(wxEVT_KEY_UP);
    up.m_keyCode = 'S';
    picture->GetEventHandler()->ProcessEvent(up);
    EXPECT_EQ(frame->keyDowns, std::vector<int>{'S'});
    EXPECT_EQ(frame->keyUps, std::vector<int>{'S'});

    EXPECT_FALSE(text->AcceptsFocusFromKeyboard());
    EXPECT_FALSE(picture->AcceptsFocus());
}

TEST_F(SmallControlsTest, KeylessChoiceIgnoresTypingAndForwardsKeys)
{
    wxArrayString items;
    for (const char* name : {"Square", "Saw", "Triangle", "Noise"})
        items.Add(name);
    auto* choice = new wxKeylessChoice(frame, 10040, wxPoint(100, 350), wxSize(90, -1), items, wxNO_BORDER);
    choice->SetSelection(0);
    ShowFrame();
    // Opening and closing the list; the main window then gives the keyboard back.
    ClickAt(choice, 45, 10);
    sim.Char(WXK_ESCAPE);
    PumpEvents(150);
    frame->Raise();
    frame->focusTarget->SetFocus();
    PumpEvents(150);
    ASSERT_EQ(wxWindow::FindFocus(), frame->focusTarget);
    choice->SetFocus();
    PumpEvents(80);
    sim.Char('s'); // would select "Saw" in a plain choice
    sim.Char(WXK_DOWN);
    PumpEvents(120);
    EXPECT_EQ(choice->GetSelection(), 0);
    EXPECT_EQ(frame->Count(wxEVT_CHOICE), 0);
    EXPECT_NE(std::find(frame->focusTarget->keys.begin(), frame->focusTarget->keys.end(), 'S'),
              frame->focusTarget->keys.end());

    // Characters that reach the choice are swallowed; key presses go on.
    wxKeyEvent ch(wxEVT_CHAR);
    ch.m_keyCode = 'n';
    choice->GetEventHandler()->ProcessEvent(ch);
    EXPECT_EQ(choice->GetSelection(), 0);
    EXPECT_FALSE(ch.GetSkipped());
    wxKeyEvent down(wxEVT_KEY_DOWN);
    down.m_keyCode = 'N';
    choice->GetEventHandler()->ProcessEvent(down);
    EXPECT_EQ(frame->keyDowns.back(), 'N');
    EXPECT_FALSE(choice->AcceptsFocusFromKeyboard());
}

TEST_F(SmallControlsTest, SpinArrowsSendTheirEventsHoweverOftenPressed)
{
    const wxImage image = LoadResource("spin.bmp");
    auto* spin = new wxBitmapSpinButton(frame, 10001, wxPoint(100, 400), wxSize(16, 22),
                                        wxSP_VERTICAL | wxSP_ARROW_KEYS);
    spin->SetImage(&image);
    spin->SetRange(0, 3); // the position plays no part: the events go on past its end
    ShowFrame();
    for (int i = 0; i < 8; ++i)
        ClickAt(spin, 8, 4);
    EXPECT_EQ(frame->Count(wxEVT_SCROLL_LINEUP), 8);
    for (int i = 0; i < 5; ++i)
        ClickAt(spin, 8, 18);
    EXPECT_EQ(frame->Count(wxEVT_SCROLL_LINEDOWN), 5);
    EXPECT_EQ(frame->Count(wxEVT_SCROLL_LINEUP), 8);
    for (const RecordedEvent& e : frame->events)
        EXPECT_EQ(e.id, 10001);
    EXPECT_EQ(wxWindow::FindFocus(), frame->focusTarget);
    EXPECT_TRUE(spin->HasImage());
}

TEST_F(SmallControlsTest, HoldingAnArrowRepeats)
{
    auto* spin = new wxBitmapSpinButton(frame, 10003, wxPoint(100, 400), wxSize(16, 22),
                                        wxSP_VERTICAL | wxSP_ARROW_KEYS);
    ShowFrame();
    MoveTo(spin, 8, 4);
    Press();
    PumpEvents(900);
    Release();
    EXPECT_GE(frame->Count(wxEVT_SCROLL_LINEUP), 2);
    const int afterRelease = frame->Count(wxEVT_SCROLL_LINEUP);
    PumpEvents(300);
    EXPECT_EQ(frame->Count(wxEVT_SCROLL_LINEUP), afterRelease);
}

TEST_F(SmallControlsTest, SwitchShowsItsStateAndSendsOneEventPerClick)
{
    auto* sw = new wxSwitch(frame, 14005, "", wxPoint(100, 450), wxSize(22, 22));
    const wxBitmap on = SwitchOnBitmap();
    const wxBitmap off = SwitchOffBitmap();
    ASSERT_TRUE(on.IsOk());
    ASSERT_TRUE(off.IsOk());
    EXPECT_EQ(on.GetWidth(), 20);
    EXPECT_EQ(on.GetHeight(), 21);
    EXPECT_EQ(off.GetHeight(), 20);
    sw->SetBitmaps(&on, nullptr);
    EXPECT_FALSE(sw->HasImages());
    sw->SetBitmaps(&on, &off);
    EXPECT_TRUE(sw->HasImages());
    // The lit lamp is green, the unlit one grey.
    const wxImage onImage = on.ConvertToImage();
    const wxImage offImage = off.ConvertToImage();
    EXPECT_GT(onImage.GetGreen(10, 10), onImage.GetRed(10, 10) + 40);
    EXPECT_EQ(offImage.GetRed(10, 10), offImage.GetGreen(10, 10));
    sw->SetValue(true);
    ShowFrame();
    ClickAt(sw, 11, 11);
    EXPECT_FALSE(sw->GetValue());
    ASSERT_EQ(frame->Count(wxEVT_CHECKBOX), 1);
    EXPECT_EQ(frame->events.back().intValue, 0);
    ClickAt(sw, 11, 11);
    EXPECT_TRUE(sw->GetValue());
    EXPECT_EQ(frame->Count(wxEVT_CHECKBOX), 2);
}

TEST_F(SmallControlsTest, VolumeMeterLevels)
{
    auto* meter = new wxVolumeMeter(frame, 10027, 100, wxPoint(100, 500), wxSize(100, 10), wxBORDER_NONE);
    ShowFrame();
    const struct {
        float level;
        int value, shown;
    } cases[] = {{0.5f, 50, 50}, {0.999f, 99, 99}, {1.7f, 170, 100}, {0.0f, 0, 0}, {-0.5f, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.level);
        meter->SetLevel(c.level);
        EXPECT_EQ(meter->GetLevelValue(), c.value);
        EXPECT_EQ(meter->GetValue(), c.shown);
    }
    EXPECT_TRUE(meter->HasFlag(wxGA_HORIZONTAL));
}

TEST_F(SmallControlsTest, MeterFollowsTheRendersPeakOnTheGuiThread)
{
    auto* meter = new wxVolumeMeter(frame, 10028, 100, wxPoint(100, 520), wxSize(100, 10), wxBORDER_NONE);
    ShowFrame();
    static SynthState synth; // large: keep it off the stack
    meter->FollowLevel([] { return synth.LeftPeak(); }, 20);
    synth.StartNote(60);
    float buffer[2 * MAX_FRAMES];
    for (int i = 0; i < 8; ++i)
        SynthStateTestAccess::Render(synth, buffer, MAX_FRAMES);
    ASSERT_GT(synth.LeftPeak(), 0.3f);
    PumpEvents(120);
    EXPECT_EQ(meter->GetValue(), static_cast<int>(100.0f * synth.LeftPeak()));
    synth.ReleaseNote(60);
    for (int i = 0; i < 40; ++i)
        SynthStateTestAccess::Render(synth, buffer, MAX_FRAMES);
    PumpEvents(120);
    EXPECT_EQ(meter->GetValue(), 0);
    meter->FollowLevel(nullptr);
}

// The key under a point of an octave control, at every boundary of both
// zones: each bound's last pixel and the next key's first.
TEST(OctaveKeyAt, EveryBoundaryOfBothZones)
{
    struct Case {
        int x, y, key;
    };
    const Case cases[] = {
        // Lower zone (y 56 and below): white keys only.
        {-50, 80, 0}, {0, 56, 0}, {19, 80, 0}, {20, 80, 2}, {38, 80, 2}, {39, 80, 4}, {58, 80, 4},
        {59, 80, 5}, {77, 80, 5}, {78, 80, 7}, {97, 80, 7}, {98, 80, 9}, {116, 80, 9}, {117, 80, 11},
        {136, 98, 11}, {500, 80, 11},
        // Upper zone (y below 56): black keys between narrow white tops.
        {-50, 10, 0}, {11, 55, 0}, {12, 55, 1}, {24, 10, 1}, {25, 10, 2}, {35, 10, 2}, {36, 10, 3},
        {47, 10, 3}, {48, 10, 4}, {58, 10, 4}, {59, 10, 5}, {69, 10, 5}, {70, 10, 6}, {82, 10, 6},
        {83, 10, 7}, {91, 10, 7}, {92, 10, 8}, {103, 10, 8}, {104, 10, 9}, {113, 10, 9}, {114, 10, 10},
        {125, 10, 10}, {126, 10, 11}, {500, -20, 11},
        // The zone line itself: 55 is upper, 56 lower.
        {15, 55, 1}, {15, 56, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(wxOctaveCtrl::KeyAt(wxPoint(c.x, c.y)), c.key) << "(" << c.x << ", " << c.y << ")";
}

// Every picture of the program is loaded one way: a file that cannot be
// opened is reported by the toolkit, and the picture is simply empty.
TEST(Pictures, AFileThatCannotBeOpenedIsReportedAndLeavesAnEmptyPicture)
{
    struct Recorder : wxLog {
        wxString texts;
        void DoLogTextAtLevel(wxLogLevel, const wxString& text) override { texts += text + "\n"; }
    };
    auto* recorder = new Recorder;
    wxLog* previous = wxLog::SetActiveTarget(recorder);
    const wxImage missing = LoadPicture("no-such-picture.bmp");
    wxLog::FlushActive();
    wxLog::SetActiveTarget(previous);
    EXPECT_FALSE(missing.IsOk());
    EXPECT_NE(recorder->texts.Find("no-such-picture.bmp"), wxNOT_FOUND) << recorder->texts;
    delete recorder;
    for (const char* name : {"spin.bmp", "sliderbk.bmp", "sliderind.bmp", "hsliderbk.bmp", "hsliderind.bmp",
                             "octave.bmp"})
        EXPECT_TRUE(LoadPicture(name).IsOk()) << name;
}

} // namespace
