// The plugin's editor, drawn with Cairo inside the host's window.

#include "DistrhoUI.hpp"

#include "Cairo.hpp"
#include "PluginParameters.h"

START_NAMESPACE_DISTRHO

class PluginUi final : public UI {
public:
    PluginUi() : UI(DISTRHO_UI_DEFAULT_WIDTH, DISTRHO_UI_DEFAULT_HEIGHT) {}

protected:
    void parameterChanged(uint32_t, float) override {}
    void stateChanged(const char*, const char*) override {}

    void onCairoDisplay(const CairoGraphicsContext& context) override
    {
        cairo_t* cr = context.handle;
        cairo_set_source_rgb(cr, 0.0, 0.0, 0.0);
        cairo_paint(cr);
    }

private:
    DISTRHO_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(PluginUi)
};

UI* createUI()
{
    return new PluginUi();
}

END_NAMESPACE_DISTRHO
