// The main window's controls and their layout.
#include "Keyboard.h"

#include <wx/sizer.h>
#include <wx/slider.h>
#include <wx/stattext.h>

#include "app/ButtonFaces.h"
#include "controls/BitmapSlider.h"
#include "controls/BitmapSpinButton.h"
#include "controls/KeylessControls.h"
#include "controls/MiniWavePanel.h"
#include "controls/OctaveCtrl.h"
#include "controls/ResourcePath.h"
#include "controls/Switch.h"
#include "controls/SynthParametersDlg.h"
#include "controls/VolumeMeter.h"
#include "synth/Parameters.h"

wxBitmap wxKeyboard::GetBitmapResource(const wxString& name)
{
    if (name == "octave.bmp")
        return wxBitmap(LoadPicture(name));
    return wxNullBitmap;
}

void wxKeyboard::CreateControls()
{
    // The pictures of the sliders and spin buttons.
    const wxImage spinImage = LoadPicture("spin.bmp");
    const wxImage wheelTrack = LoadPicture("sliderbk.bmp");
    const wxImage wheelThumb = LoadPicture("sliderind.bmp");
    const wxImage sliderTrack = LoadPicture("hsliderbk.bmp");
    const wxImage sliderThumb = LoadPicture("hsliderind.bmp");

    // The window's colour and its sizer tree, row A on top: the harmonics
    // editor, the zoom, the envelope and LFO, the previews.
    SetBackgroundColour(backgroundColour);
    auto* top = new wxBoxSizer(wxVERTICAL);
    SetSizer(top);
    auto* rowA = new wxBoxSizer(wxHORIZONTAL);
    top->Add(rowA, 0, 0, 0);

    const auto text = [this](wxWindowID id, const wxString& label, const wxSize& size = wxDefaultSize) {
        auto* t = new wxStaticText(this, id, label, wxDefaultPosition, size, 0, "staticText");
        t->SetForegroundColour(textColour);
        return t;
    };

    // The harmonics editor's panel.
    synthParameters = new SynthParametersDlg(this, SynthParametersDlg::ID_SYNTH_PARAMETERS, wxDefaultPosition,
                                             wxSize(500, 540), wxNO_BORDER | wxWANTS_CHARS);
    synthParameters->SetHarmonicsCallback(this);
    rowA->Add(synthParameters, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);

    // The zoom column, the grid of envelope and LFO controls, the previews.
    auto* zoomColumn = new wxBoxSizer(wxVERTICAL);
    rowA->Add(zoomColumn, 0, 0, 0);
    zoomLabel = text(wxID_STATIC, "0.50");
    zoomColumn->Add(zoomLabel, 0, wxALIGN_CENTER_HORIZONTAL | wxALL, 7);
    zoomSlider = new wxSlider(this, ID_ZOOM_SLIDER, 2, 1, 10, wxDefaultPosition, wxSize(-1, 290), wxSL_VERTICAL,
                              wxDefaultValidator, "slider");
    zoomSlider->SetBackgroundColour(backgroundColour);
    zoomSlider->SetForegroundColour(textColour);
    zoomColumn->Add(zoomSlider, 0, wxALIGN_CENTER_HORIZONTAL | wxALL, 2);
    // A plain slider takes the focus: its release gives it back, and the keys
    // pressed meanwhile still play.
    zoomSlider->Bind(wxEVT_LEFT_UP, &wxKeyboard::OnZoomMouseUp, this);
    zoomSlider->Bind(wxEVT_KEY_DOWN, &wxKeyboard::OnKeyDown, this);
    zoomSlider->Bind(wxEVT_KEY_UP, &wxKeyboard::OnKeyUp, this);

    auto* rightColumn = new wxBoxSizer(wxVERTICAL);
    rowA->Add(rightColumn, 0, 0, 0);
    // Three columns (caption, control, value); as many rows as it takes.
    auto* grid = new wxFlexGridSizer(3, 0, 0);
    rightColumn->Add(grid, 0, 0, 0);

    // The envelope and LFO sliders, one row of the table each.
    const SynthState& synth = instrument.Synth();
    for (int row = 0; row < NUM_PARAMETER_SLIDERS; ++row) {
        const ParameterSlider& p = PARAMETER_SLIDERS[row];
        grid->Add(text(wxID_STATIC, p.caption), 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
        auto* slider = new wxBitmapSlider(this, p.sliderId, 0.0f, 0.0f, p.maximum, wxDefaultPosition,
                                          wxSize(211, 24), wxSL_HORIZONTAL);
        slider->SetImages(&sliderTrack, &sliderThumb);
        slider->SetValue(p.position(synth));
        grid->Add(slider, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
        wxStaticText* label = text(p.labelId, p.text(synth), wxSize(32, -1));
        grid->Add(label, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
        parameterSliders[row] = {slider, label};
    }

    const ParameterInfo& lfoShape = Parameter(ParamId::LfoWaveform);
    grid->Add(text(wxID_STATIC, wxString(lfoShape.label) + ":"), 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
    wxArrayString shapes;
    for (size_t shape = 0; shape < lfoShape.choiceCount; ++shape)
        shapes.Add(lfoShape.choices[shape]);
    lfoWaveformChoice =
        new wxKeylessChoice(this, ID_LFO_WAVEFORM, wxDefaultPosition, wxSize(200, -1), shapes, wxNO_BORDER);
    lfoWaveformChoice->SetSelection(synth.LfoWaveform());
    grid->Add(lfoWaveformChoice, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);

    auto* previews = new wxFlexGridSizer(2, 2, 0, 0);
    rightColumn->Add(previews, 0, wxALIGN_CENTER_HORIZONTAL, 0);
    attackPreview = new wxMiniWavePanel(this, ID_ATTACK_PREVIEW, wxDefaultPosition, wxSize(120, 100));
    previews->Add(attackPreview, 0, wxALIGN_CENTER_VERTICAL | wxALL, 7);
    sustainPreview = new wxMiniWavePanel(this, ID_SUSTAIN_PREVIEW, wxDefaultPosition, wxSize(120, 100));
    previews->Add(sustainPreview, 0, wxALIGN_CENTER_VERTICAL | wxALL, 7);
    previews->Add(text(wxID_STATIC, "Attack"), 0, wxALIGN_CENTER | wxALL, 3);
    previews->Add(text(wxID_STATIC, "Sustain"), 0, wxALIGN_CENTER | wxALL, 3);

    // Row B: the spectrum buttons, the program's buttons, the meters and the
    // bank and patch selectors.
    auto* rowB = new wxBoxSizer(wxHORIZONTAL);
    top->Add(rowB, 0, wxALIGN_CENTER_HORIZONTAL, 0);
    rowB->Add(text(wxID_STATIC, "Waveform:"), 0, wxALIGN_CENTER_VERTICAL | wxALL, 3);
    wxArrayString harmonicShapes;
    for (const char* name : {"Square", "Saw", "Triangle", "Noise"})
        harmonicShapes.Add(name);
    harmonicWaveformChoice = new wxKeylessChoice(this, ID_HARMONIC_WAVEFORM, wxDefaultPosition, wxSize(90, -1),
                                                 harmonicShapes, wxNO_BORDER);
    harmonicWaveformChoice->SetSelection(0);
    harmonicWaveformChoice->SetForegroundColour(textColour);
    harmonicWaveformChoice->SetBackgroundColour(backgroundColour);
    rowB->Add(harmonicWaveformChoice, 0, wxALIGN_CENTER_VERTICAL | wxALL, 3);

    const auto textButton = [&](wxWindowID id, const wxString& label, const wxString& tip) {
        auto* b = new wxKeylessButton(this, id, label, wxDefaultPosition, wxSize(70, 20), wxBU_AUTODRAW);
        b->SetToolTip(tip);
        rowB->Add(b, 0, wxALIGN_CENTER_VERTICAL | wxALL, 3);
        return b;
    };
    // The window hears the left-button releases of these (which release
    // every note); their keys reach it as they forward them.
    const auto routeRelease = [this](wxWindow* child) {
        child->Bind(wxEVT_LEFT_UP, &wxKeyboard::OnMouseRelease, this);
    };
    const auto pictureButton = [&](wxWindowID id, const char* const* face, const wxString& tip) {
        auto* b = new wxKeylessBitmapButton(this, id, wxBitmap(face), wxDefaultPosition, wxSize(22, 22),
                                            wxBU_AUTODRAW | wxWANTS_CHARS);
        b->SetToolTip(tip);
        rowB->Add(b, 0, wxALIGN_CENTER_VERTICAL | wxALL, 1);
        routeRelease(b);
        return b;
    };

    textButton(ID_GENERATE, "Generate", "Generate harmonics for the selected waveform");
    // The band limit, a switch on the sound, beside the waveform it keeps
    // from folding back.
    bandLimitSwitch = new wxKeylessSwitch(this, ID_BAND_LIMIT, wxEmptyString, wxDefaultPosition, wxSize(22, 22));
    const wxBitmap switchOn = SwitchOnBitmap(), switchOff = SwitchOffBitmap();
    if (switchOn.IsOk() && switchOff.IsOk())
        bandLimitSwitch->SetBitmaps(&switchOn, &switchOff);
    bandLimitSwitch->SetValue(instrument.Synth().bandLimit);
    const wxString bandLimitTip = "Band limit: leave out the partials at and above half the sample rate, "
                                  "which would fold back as false tones";
    bandLimitSwitch->SetToolTip(bandLimitTip);
    rowB->Add(bandLimitSwitch, 0, wxALIGN_CENTER_VERTICAL | wxLEFT | wxTOP | wxBOTTOM, 3);
    wxStaticText* bandLimitText = text(wxID_STATIC, "Band limit");
    bandLimitText->SetToolTip(bandLimitTip);
    rowB->Add(bandLimitText, 0, wxALIGN_CENTER_VERTICAL | wxRIGHT | wxTOP | wxBOTTOM, 3);
    routeRelease(bandLimitSwitch);
    routeRelease(bandLimitText);
    textButton(ID_CLEAR, "Clear", "Clear harmonic levels");
    textButton(ID_NORMALIZE, "Normalize", "Normalize harmonic levels for target polyphony");
    attackButton = textButton(ID_EDIT_ATTACK, "Attack", "Edit attack harmonics");
    pictureButton(ID_COPY_SUSTAIN_TO_ATTACK, copy_left_xpm, "Copy final harmonics into initial harmonics");
    pictureButton(ID_COPY_ATTACK_TO_SUSTAIN, copy_right_xpm, "Copy initial harmonics into final harmonics");
    sustainButton = textButton(ID_EDIT_SUSTAIN, "Sustain", "Edit sustain harmonics");
    // At start the sustain spectrum is the one being edited.
    sustainButton->Disable();
    synthParameters->GetHarmonicsPanel()->SetEditAttack(false);
    pictureButton(ID_PANIC, panic_xpm, "Panic: Send all notes off MIDI message");
    pictureButton(ID_ABOUT, about_xpm, "About Marovane");
    pictureButton(ID_HELP, help_xpm, "Help");
    pictureButton(ID_MIDI_SETTINGS, midi_xpm, "Change MIDI settings");
    pictureButton(ID_AUDIO_SETTINGS, audio_xpm, "Change audio settings");
    pictureButton(ID_LOAD_PATCH, folder_xpm, "Load Synthesizer Configuration from Disk");

    auto* meters = new wxBoxSizer(wxVERTICAL);
    rowB->Add(meters, 0, wxALIGN_CENTER_VERTICAL | wxALL, 1);
    leftMeter = new wxVolumeMeter(this, ID_LEFT_METER, 100, wxDefaultPosition, wxSize(100, 10), wxBORDER_NONE);
    meters->Add(leftMeter, 0, wxALIGN_CENTER_HORIZONTAL | wxALL, 1);
    rightMeter = new wxVolumeMeter(this, ID_RIGHT_METER, 100, wxDefaultPosition, wxSize(100, 10), wxBORDER_NONE);
    meters->Add(rightMeter, 0, wxALIGN_CENTER_HORIZONTAL | wxALL, 1);
    // The render keeps its largest peaks; the meters take them on a timer
    // here, so an overload between two ticks still shows. Zero while no
    // stream renders, so a lost stream's meters fall.
    leftMeter->FollowLevel([this] { return instrument.Audio().TakeLeftPeak(); });
    rightMeter->FollowLevel([this] { return instrument.Audio().TakeRightPeak(); });
    routeRelease(leftMeter);
    routeRelease(rightMeter);

    const auto selector = [&](const wxString& caption, wxWindowID labelId, wxWindowID spinId, const wxString& tip,
                              wxStaticText*& label, wxBitmapSpinButton*& spin) {
        wxStaticText* captionText = text(wxID_STATIC, caption);
        rowB->Add(captionText, 0, wxALIGN_CENTER_VERTICAL | wxALL, 5);
        label = text(labelId, "1", wxSize(22, -1));
        rowB->Add(label, 0, wxALIGN_CENTER_VERTICAL | wxALL, 3);
        spin = new wxBitmapSpinButton(this, spinId, wxDefaultPosition, wxSize(16, 22),
                                      wxSP_VERTICAL | wxSP_ARROW_KEYS);
        spin->SetImage(&spinImage);
        spin->SetToolTip(tip);
        rowB->Add(spin, 0, wxALIGN_CENTER_VERTICAL | wxALL, 2);
        routeRelease(captionText);
        routeRelease(label);
        routeRelease(spin);
    };
    selector("Bank", ID_BANK_LABEL, ID_BANK_SPIN, "Change patch bank", bankLabel, bankSpin);
    selector("Patch", ID_PATCH_LABEL, ID_PATCH_SPIN, "Change patch number", patchLabel, patchSpin);

    // Row C: the two wheels and the seven octave controls, low to high.
    auto* rowC = new wxBoxSizer(wxHORIZONTAL);
    top->Add(rowC, 0, wxALIGN_CENTER_HORIZONTAL | wxALL, 5);
    pitchWheelSlider = new wxBitmapSlider(this, ID_PITCH_WHEEL, PITCH_WHEEL_REST, 0, WHEEL_MAX, wxDefaultPosition,
                                          wxSize(30, 108), wxSL_VERTICAL | wxSL_INVERSE);
    pitchWheelSlider->SetImages(&wheelTrack, &wheelThumb);
    rowC->Add(pitchWheelSlider, 0, wxALL, 5);
    modWheelSlider = new wxBitmapSlider(this, ID_MOD_WHEEL, 0, 0, WHEEL_MAX, wxDefaultPosition, wxSize(30, 108),
                                        wxSL_VERTICAL | wxSL_INVERSE);
    modWheelSlider->SetImages(&wheelTrack, &wheelThumb);
    rowC->Add(modWheelSlider, 0, wxALL, 5);
    instrument.Synth().SetPitchWheel(pitchWheelSlider->GetValue());

    blackKeyMarker = wxOctaveCtrl::BlackKeyMarkerBitmap();
    whiteKeyMarker = wxOctaveCtrl::WhiteKeyMarkerBitmap();
    const wxBitmap octavePicture = GetBitmapResource("octave.bmp");
    for (int k = 0; k < NUM_OCTAVES; ++k) {
        auto* octave = new wxOctaveCtrl(this, ID_OCTAVE_FIRST + k, octavePicture,
                                        FIRST_OCTAVE_NOTE + KEYS_PER_OCTAVE * k, this, wxDefaultPosition,
                                        wxSize(wxOctaveCtrl::kWidth, wxOctaveCtrl::kHeight), wxNO_BORDER);
        octave->SetMarkerBitmaps(&blackKeyMarker, &whiteKeyMarker);
        octaveControls[k] = octave;
        rowC->Add(octave, 0, wxALIGN_CENTER_VERTICAL | wxALL, 0);
        // Keys pressed while an octave control has the focus play notes.
        octave->Bind(wxEVT_KEY_DOWN, &wxKeyboard::OnKeyDown, this);
        octave->Bind(wxEVT_KEY_UP, &wxKeyboard::OnKeyUp, this);
    }

    // Row D: the tuning.
    CreateTuningControls(top);

    // The editor takes the synthesis state's spectra and reports them back,
    // which draws the previews.
    const HarmonicSpectrum attack = synth.Attack();
    const HarmonicSpectrum sustain = synth.Sustain();
    synthParameters->SetSpectra(attack.level, sustain.level);
    ConnectUndoSteps();

    // The window is as large as its controls and cannot be resized, so the
    // window manager offers no maximise button either.
    top->Fit(this);
    top->SetSizeHints(this);
    SetMaxSize(GetSize());
    SetMaxClientSize(GetClientSize());
}
