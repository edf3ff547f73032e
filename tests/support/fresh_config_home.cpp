// Every test of every test program runs with a configuration folder of its
// own (XDG_CONFIG_HOME), made empty before it starts and removed after it:
// the windows it builds and the programs it starts keep their settings there,
// never in the user's folder, and no test finds what another one left.
// Code that runs outside a test (a suite's set-up) gets a folder of the
// program's own. Linked into every test program.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

std::string NewFolder()
{
    char name[] = "/tmp/marovane-config-XXXXXX";
    return mkdtemp(name) ? std::string(name) : std::string();
}

void Remove(const std::string& folder)
{
    std::error_code ignored;
    if (!folder.empty())
        std::filesystem::remove_all(folder, ignored);
}

class FreshConfigHome : public testing::EmptyTestEventListener {
public:
    FreshConfigHome() : programFolder_(NewFolder()) { setenv("XDG_CONFIG_HOME", programFolder_.c_str(), 1); }
    ~FreshConfigHome() override { Remove(programFolder_); }

    void OnTestStart(const testing::TestInfo&) override
    {
        testFolder_ = NewFolder();
        setenv("XDG_CONFIG_HOME", testFolder_.c_str(), 1);
    }
    void OnTestEnd(const testing::TestInfo&) override
    {
        Remove(testFolder_);
        testFolder_.clear();
        setenv("XDG_CONFIG_HOME", programFolder_.c_str(), 1);
    }

private:
    std::string programFolder_;
    std::string testFolder_;
};

// GoogleTest owns the listener and deletes it at exit.
const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new FreshConfigHome);
    return true;
}();

} // namespace
