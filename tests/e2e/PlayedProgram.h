#pragma once
// The real program started on a running JACK server and played by the test's
// own JACK client (e2e/JackMidiClient.h): its window shown, its output
// recorded by the client and the client's "keys" port opened as its MIDI
// input (the program opens the first source it lists at start).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "app/TestProcess.h"
#include "e2e/JackMidiClient.h"
#include "e2e/Recording.h"

namespace e2e {

inline std::string ProgramPath()
{
    const char* binDir = std::getenv("MAROVANE_BIN_DIR");
    return binDir ? std::string(binDir) + "/marovane" : std::string();
}

// Starts the program into `program`, its window's X id into `window`, and
// the client's recording. A fatal failure of the test when any of it does
// not come: call it under ASSERT_NO_FATAL_FAILURE. `clientName` is the name
// `keys` was made with.
inline void StartProgramPlayedBy(JackMidiClient& keys, const std::string& clientName, testproc::Child& program,
                                 std::string& window)
{
    ASSERT_FALSE(ProgramPath().empty());
    program = testproc::Child({ProgramPath()});
    window = WaitForProgramWindow();
    ASSERT_FALSE(window.empty()) << "no window: a MIDI message box in the way?";
    ASSERT_TRUE(keys.ConnectAudio("marovane:out_0", "marovane:out_1"));
    ASSERT_NE(testproc::Output("jack_lsp -c " + clientName + ":keys").find("Marovane in:MIDI in"), std::string::npos)
        << "the program did not open the client's port as its input port 0";
    keys.Record();
}

} // namespace e2e
