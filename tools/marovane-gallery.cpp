// marovane-gallery: every one of the program's own controls in one window,
// with its pictures, for a look at the artwork (and a screenshot). Not a
// test: it checks nothing.
//
//   build/bin/marovane-gallery [SECONDS]
//
// Without SECONDS the window stays until it is closed.

#include <cstdlib>

#include <wx/app.h>
#include <wx/frame.h>
#include <wx/image.h>
#include <wx/timer.h>

#include "controls/BitmapSlider.h"
#include "controls/BitmapSpinButton.h"
#include "controls/KeylessControls.h"
#include "controls/MiniWavePanel.h"
#include "controls/Palette.h"
#include "controls/ResourcePath.h"
#include "controls/SpectrumMath.h"
#include "controls/Switch.h"
#include "controls/SynthParametersDlg.h"
#include "controls/VolumeMeter.h"
#include "synth/Preview.h"
#include "synth/SynthState.h"

namespace {

class GalleryFrame : public wxFrame {
public:
    GalleryFrame() : wxFrame(nullptr, wxID_ANY, "Marovane controls", wxDefaultPosition, wxSize(720, 990))
    {
        SetBackgroundColour(BackgroundColour());
        const wxImage track = LoadPicture("hsliderbk.bmp"), thumb = LoadPicture("hsliderind.bmp");
        const wxImage wheelTrack = LoadPicture("sliderbk.bmp"), wheelThumb = LoadPicture("sliderind.bmp");
        const wxImage spinImage = LoadPicture("spin.bmp");

        // Horizontal sliders with and without pictures, the two wheels.
        for (int i = 0; i < 3; ++i) {
            auto* s = new wxBitmapSlider(this, wxID_ANY, 250.0f * i, 0.0f, 1000.0f, wxPoint(60, 80 + 34 * i),
                                         wxSize(211, 24), wxSL_HORIZONTAL);
            s->SetImages(&track, &thumb);
        }
        new wxBitmapSlider(this, wxID_ANY, 300.0f, 0.0f, 1000.0f, wxPoint(60, 190), wxSize(211, 24),
                           wxSL_HORIZONTAL);
        auto* pitch = new wxBitmapSlider(this, wxID_ANY, 8192.0f, 0.0f, 16383.0f, wxPoint(300, 80),
                                         wxSize(30, 108), wxSL_VERTICAL | wxSL_INVERSE);
        pitch->SetImages(&wheelTrack, &wheelThumb);
        new wxBitmapSlider(this, wxID_ANY, 4000.0f, 0.0f, 16383.0f, wxPoint(340, 80), wxSize(30, 108),
                           wxSL_VERTICAL | wxSL_INVERSE);

        // Spin buttons, switches, meters.
        auto* spin = new wxBitmapSpinButton(this, wxID_ANY, wxPoint(400, 80), wxSize(16, 22));
        spin->SetImage(&spinImage);
        new wxBitmapSpinButton(this, wxID_ANY, wxPoint(430, 80), wxSize(16, 22));
        const wxBitmap on = SwitchOnBitmap(), off = SwitchOffBitmap();
        auto* switchOn = new wxSwitch(this, wxID_ANY, "", wxPoint(400, 120), wxSize(22, 22));
        switchOn->SetBitmaps(&on, &off);
        switchOn->SetValue(true);
        auto* switchOff = new wxSwitch(this, wxID_ANY, "", wxPoint(430, 120), wxSize(22, 22));
        switchOff->SetBitmaps(&on, &off);
        auto* meter = new wxVolumeMeter(this, wxID_ANY, 100, wxPoint(400, 160), wxSize(100, 10));
        meter->SetLevel(0.7f);
        auto* quieter = new wxVolumeMeter(this, wxID_ANY, 100, wxPoint(400, 172), wxSize(100, 10));
        quieter->SetLevel(0.3f);

        // A keyless choice and button.
        wxArrayString items;
        items.Add("Square");
        items.Add("Saw");
        auto* choice = new wxKeylessChoice(this, wxID_ANY, wxPoint(60, 240), wxSize(90, -1), items, wxNO_BORDER);
        choice->SetSelection(0);
        new wxKeylessButton(this, wxID_ANY, "Generate", wxPoint(160, 240), wxSize(70, 20), wxBU_AUTODRAW);

        // Two previews and the harmonics editor's panel.
        HarmonicSpectrum square{};
        square.level[0] = 0.5f;
        square.level[2] = 0.25f;
        auto* preview = new wxMiniWavePanel(this, wxID_ANY, wxPoint(60, 290), wxSize(120, 100));
        preview->SetWaveData(ComputePreviewCycle(square.level, synth_.Waves()).sample);
        auto* sawPreview = new wxMiniWavePanel(this, wxID_ANY, wxPoint(200, 290), wxSize(120, 100));
        const HarmonicSpectrum saw = WaveformSpectrum(1);
        sawPreview->SetWaveData(ComputePreviewCycle(saw.level, synth_.Waves()).sample);
        auto* parameters = new SynthParametersDlg(this, 13000, wxDefaultPosition, wxSize(500, 540),
                                                  wxNO_BORDER | wxWANTS_CHARS);
        parameters->Move(0, 400);
        parameters->GetHarmonicsPanel()->SetEditAttack(false);
        HarmonicSpectrum drawn = WaveformSpectrum(2);
        drawn.level[1] = 0.3f;
        drawn.level[20] = 0.12f;
        parameters->SetSpectra(square.level, drawn.level);
    }

private:
    SynthState synth_; // for its wave table
};

class GalleryApp : public wxApp {
public:
    bool OnInit() override
    {
        wxInitAllImageHandlers();
        auto* frame = new GalleryFrame;
        frame->Show();
        if (argc > 1) {
            const int seconds = std::atoi(argv[1].c_str());
            closeTimer_.Bind(wxEVT_TIMER, [frame](wxTimerEvent&) { frame->Close(); });
            closeTimer_.StartOnce(1000 * (seconds > 0 ? seconds : 1));
        }
        return true;
    }

private:
    wxTimer closeTimer_;
};

} // namespace

wxIMPLEMENT_APP(GalleryApp);
