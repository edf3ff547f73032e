// The main of every GUI test: a wxApp whose run is the GoogleTest run, under
// the virtual display that with-xvfb.sh provides.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/image.h>

#include "support/GuiTest.h"

#include <wx/evtloop.h>
#include <wx/stopwatch.h>
#include <wx/utils.h>

void PumpEvents(int milliseconds)
{
    wxStopWatch sw;
    do {
        wxYield();
        wxMilliSleep(1);
    } while (sw.Time() < milliseconds);
}

bool WaitFor(const std::function<bool()>& cond, int milliseconds)
{
    wxStopWatch sw;
    while (!cond()) {
        if (sw.Time() > milliseconds)
            return false;
        PumpEvents(5);
    }
    return true;
}

namespace {

class GuiTestApp : public wxApp {
public:
    bool OnInit() override
    {
        wxInitAllImageHandlers();
        return true;
    }
    int OnRun() override
    {
        // A running loop, so that wxYield and simulated input behave as in the
        // program.
        wxEventLoop loop;
        wxEventLoopActivator activate(&loop);
        return RUN_ALL_TESTS();
    }
};

} // namespace

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    wxApp::SetInstance(new GuiTestApp);
    return wxEntry(argc, argv);
}
