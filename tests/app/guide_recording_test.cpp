// A programme of the guide recorded by a rule, by the real program on the
// virtual TV card, at the night summer time begins in Berlin: the program
// runs under libfaketime from a minute before (its wall clock only), the
// programme crosses the change, and the recording is named after it, has
// its .nfo and plays. The guide was imported months before, so the program
// refreshes it at its start, and the programme has moved since.

#include "support/loopback.h"
#include "support/program_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace {

constexpr const char* kFaketimeLibrary = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";

class GuideRecordingTest : public RunningProgramTest {
protected:
    // The guide and the rule come first: the program plans at its start.
    void SetUp() override
    {
        port = FreePortTriple();
        WriteGuide("20270328031000 +0200", "20270328040000 +0200");
        ASSERT_EQ(0, Setup({"guide", "import", config.Root() + "/guide.xml"}).exitCode);
        ASSERT_EQ(0, Setup({"guide", "map", "five.example", "5"}).exitCode);
        const ProcessResult rule = Setup({"record", "The News", "--early", "0", "--late", "1"});
        ASSERT_EQ(0, rule.exitCode) << rule.output;
        // Moved to 01:59:40 CET - 03:00:00 CEST: twenty seconds of programme.
        WriteGuide("20270328015940 +0100", "20270328030000 +0200");
        const char* sanitizer = std::getenv("ASAN_OPTIONS");
        // libfaketime preloaded by hand rather than by the faketime tool,
        // which would stand between the test and the program's stop.
        launcher = {"/usr/bin/env", "TZ=Europe/Berlin", "FAKETIME=@2027-03-28 01:59:10",
                    "FAKETIME_DONT_FAKE_MONOTONIC=1", "LD_PRELOAD=" + std::string(kFaketimeLibrary),
                    // It comes ahead of the sanitizer's runtime.
                    std::string("ASAN_OPTIONS=") + (sanitizer ? sanitizer : "") + ":verify_asan_link_order=0"};
        started = std::chrono::steady_clock::now();
        ASSERT_TRUE(StartProgram());
    }

    void WriteGuide(const std::string& start, const std::string& stop)
    {
        WriteFileBytes(config.Root() + "/guide.xml",
                       "<tv><channel id=\"five.example\"><display-name>Five</display-name></channel>"
                       "<programme channel=\"five.example\" start=\"" + start + "\" stop=\"" + stop +
                           "\"><title>The News</title><desc>Spring forward.</desc></programme></tv>");
    }

    ProcessResult Setup(const std::vector<std::string>& arguments)
    {
        std::vector<std::string> argv = {"/usr/bin/env", "TZ=Europe/Berlin", BinPath("orvandel-setup")};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return RunProcess(argv, 60000, true);
    }

    std::chrono::steady_clock::time_point started;
};

TEST_F(GuideRecordingTest, ARuleRecordsAProgrammeAcrossTheSpringChangeUnderItsName)
{
    // The recording runs from 01:59:40 CET to 03:01:00 CEST: 80 s.
    std::this_thread::sleep_until(started + std::chrono::seconds(45));
    EXPECT_EQ("1", Handheld({"status"}).Value("recording")) << "the programme records";
    std::this_thread::sleep_until(started + std::chrono::seconds(120));
    EXPECT_EQ("0", Handheld({"status"}).Value("recording")) << "its end, with a minute's margin, stopped it";

    const std::string stem = config.Root() + "/The News - 2027-03-28 01-59";
    ASSERT_TRUE(std::filesystem::exists(stem + ".avi"));
    EXPECT_EQ("wmv2", ProbeFile(stem + ".avi", "v:0").codec);
    EXPECT_NEAR(80, DurationSeconds(stem + ".avi"), 5);
    EXPECT_NE(std::string::npos, ReadFileBytes(stem + ".nfo").find("<plot>Spring forward.</plot>"));
}

} // namespace
