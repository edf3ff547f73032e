// The names a patchbay shows for the real program's MIDI clients and ports,
// under a JACK dummy server with another program's MIDI ports to open: two
// programs at once, each with its own client names, none of them the MIDI
// library's defaults.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/TestProcess.h"
#include "e2e/Recording.h"

namespace {

using testproc::Child;
using testproc::Output;

bool Listed(const std::string& ports, const std::string& port)
{
    return ("\n" + ports).find("\n" + port + "\n") != std::string::npos;
}

TEST(MidiNames, TwoProgramsShowTheirOwnClientAndPortNames)
{
    const char* binDir = std::getenv("MAROVANE_BIN_DIR");
    ASSERT_NE(binDir, nullptr);
    testproc::JackServer jack("e2e-names");
    ASSERT_TRUE(jack.Ready());
    testproc::OtherMidiPorts other;
    ASSERT_TRUE(other.Ready());

    Child first({std::string(binDir) + "/marovane"});
    ASSERT_TRUE(Eventually([] { return Listed(Output("jack_lsp"), "Marovane out:MIDI out"); }, 20s))
        << Output("jack_lsp");
    Child second({std::string(binDir) + "/marovane"});
    ASSERT_TRUE(Eventually([] { return Listed(Output("jack_lsp"), "Marovane out-01:MIDI out"); }, 20s))
        << Output("jack_lsp");

    const std::string ports = Output("jack_lsp");
    for (const char* port : {"Marovane in:MIDI in", "Marovane out:MIDI out", "Marovane in-01:MIDI in",
                             "Marovane out-01:MIDI out"})
        EXPECT_TRUE(Listed(ports, port)) << port << " missing from\n" << ports;
    EXPECT_EQ(ports.find("RtMidi"), std::string::npos) << ports;
    // The first program opened the other program's ports under its own names.
    EXPECT_TRUE(Listed(Output("jack_lsp -c other-midi:out"), "   Marovane in:MIDI in"))
        << Output("jack_lsp -c");
    EXPECT_TRUE(Listed(Output("jack_lsp -c other-midi:in"), "   Marovane out:MIDI out"))
        << Output("jack_lsp -c");
}

} // namespace
