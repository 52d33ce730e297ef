#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "platform/recording_sink.h"
#include "platform/sync.h"
#include "platform/thread.h"
#include "support/temp_config.h"

#include <QCoreApplication>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

namespace {

TEST(AutoResetEvent, OneSetReleasesOneWaitAndThenResets)
{
    AutoResetEvent event;
    EXPECT_FALSE(event.Wait(0));
    event.Set();
    EXPECT_TRUE(event.Wait(0));
    EXPECT_FALSE(event.Wait(10));
    event.Set();
    event.Reset();
    EXPECT_FALSE(event.Wait(0));
}

TEST(AutoResetEvent, WakesAWaiterOnAnotherThread)
{
    AutoResetEvent event;
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        event.Set();
    });
    EXPECT_TRUE(event.Wait(kInfinite));
    setter.join();
}

TEST(RecursiveTimedMutex, OwnerMayReenterOthersTimeOut)
{
    RecursiveTimedMutex mutex;
    mutex.lock();
    EXPECT_TRUE(mutex.try_lock());
    bool otherGotIt = true;
    std::thread other([&] { otherGotIt = mutex.try_lock_for(std::chrono::milliseconds(20)); });
    other.join();
    EXPECT_FALSE(otherGotIt);
    mutex.unlock();
    mutex.unlock();
}

TEST(WorkerThread, KeepsIdBookkeepingAndTimedWaits)
{
    WorkerThread worker;
    EXPECT_EQ(-1, worker.Id());
    AutoResetEvent release;
    ASSERT_TRUE(worker.Start([&] {
        release.Wait(kInfinite);
        return 7;
    }));
    EXPECT_NE(-1, worker.Id());
    EXPECT_FALSE(worker.Start([] { return 0; }));
    EXPECT_FALSE(worker.Wait(20));
    EXPECT_TRUE(worker.Registered());
    release.Set();
    EXPECT_TRUE(worker.Wait(kInfinite));
    EXPECT_EQ(7, worker.Result());
    EXPECT_EQ(-1, worker.Id());
    EXPECT_TRUE(worker.Start([] { return 1; }));
    EXPECT_TRUE(worker.Wait(2000));
}

TEST(StopRequest, WakesAPauseAtOnceAndStaysAskedUntilCleared)
{
    StopRequest stop;
    EXPECT_FALSE(stop.PauseFor(10));
    std::thread asker([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        stop.Ask();
    });
    const auto paused = std::chrono::steady_clock::now();
    EXPECT_TRUE(stop.PauseFor(10000));
    EXPECT_LT(std::chrono::steady_clock::now() - paused, std::chrono::seconds(5));
    asker.join();
    EXPECT_TRUE(stop.Asked());
    EXPECT_TRUE(stop.PauseFor(10000)) << "asked before the pause";
    stop.Clear();
    EXPECT_FALSE(stop.Asked());
}

TEST(Clock, CalendarTimesConvertAndCompare)
{
    SystemTime leapDay{2024, 2, 0, 29, 23, 59, 59, 999};
    SystemTime nextDay{2024, 3, 0, 1, 0, 0, 0, 0};
    EXPECT_EQ(1, SystemTimeToLinear(nextDay) - SystemTimeToLinear(leapDay));
    EXPECT_EQ(-1, CompareSystemTime(leapDay, nextDay));
    EXPECT_EQ(1, CompareSystemTime(nextDay, leapDay));
    SystemTime back = LinearToSystemTime(SystemTimeToLinear(leapDay));
    EXPECT_EQ(2024, back.year);
    EXPECT_EQ(2, back.month);
    EXPECT_EQ(29, back.day);
    EXPECT_EQ(4, back.dayOfWeek);  // a Thursday
    EXPECT_EQ(999, back.milliseconds);
    EXPECT_EQ(0, CompareSystemTime(back, leapDay));
}

TEST(Clock, LocalTimeCanBeFixedForTests)
{
    SystemTime fixed{2026, 12, 1, 7, 20, 30, 0, 0};
    SetLocalTimeOverride(&fixed);
    EXPECT_EQ(0, CompareSystemTime(fixed, GetLocalTime()));
    SetLocalTimeOverride(nullptr);
    EXPECT_NE(0, CompareSystemTime(fixed, GetLocalTime()));
}

TEST(Paths, FollowTheXdgFolders)
{
    TempConfig config;
    EXPECT_EQ(config.ConfigHome() + "/orvandel", ConfigDir());
    EXPECT_EQ(config.Root() + "/home/Videos", VideosDir());
    EXPECT_TRUE(std::filesystem::is_directory(config.Root() + "/home/Videos"));
    WriteFileBytes(config.ConfigHome() + "/user-dirs.dirs", "# comment\nXDG_VIDEOS_DIR=\"$HOME/Filme\"\n");
    EXPECT_EQ(config.Root() + "/home/Filme", VideosDir());
}

TEST(Paths, AutostartEntryCarriesTheCommand)
{
    TempConfig config;
    EXPECT_FALSE(AutostartEntryExists());
    ASSERT_EQ(0, WriteAutostartEntry("/opt/orvandel/bin/orvandel /u"));
    EXPECT_EQ(config.ConfigHome() + "/autostart/orvandel.desktop", AutostartEntryPath());
    std::string entry = ReadFileBytes(AutostartEntryPath());
    EXPECT_NE(std::string::npos, entry.find("\nExec=/opt/orvandel/bin/orvandel /u\n"));
    EXPECT_EQ("/usr/bin/orvandel", DesktopExecProgram("/usr/bin/orvandel"));
    EXPECT_EQ("\"/home/me/My Programs/100%% \\$orvandel\"", DesktopExecProgram("/home/me/My Programs/100% $orvandel"));
    EXPECT_NE(std::string::npos, entry.find("[Desktop Entry]"));
    EXPECT_EQ(0, RemoveAutostartEntry());
    EXPECT_FALSE(AutostartEntryExists());
}

TEST(Messages, PostedMessagesArriveOnTheGuiThreadInOrder)
{
    int argc = 1;
    char name[] = "platform_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    std::vector<unsigned> seen;
    std::thread::id handlerThread;
    SetMessageHandler(MessageTarget::View, [&](unsigned message, uintptr_t wParam, intptr_t lParam) {
        handlerThread = std::this_thread::get_id();
        seen.push_back(message + static_cast<unsigned>(wParam + lParam));
        if (seen.size() == 2)
            app.quit();
    });
    std::thread worker([] {
        PostAppMessage(MessageTarget::View, kMsgRefresh, 1, 0);
        PostAppMessage(MessageTarget::Frame, kMsgStatusText);  // no handler: dropped
        PostAppMessage(MessageTarget::View, kMsgStartRecording, 0, 2);
    });
    worker.join();
    QTimer::singleShot(5000, &app, &QCoreApplication::quit);
    app.exec();
    SetMessageHandler(MessageTarget::View, {});
    EXPECT_EQ((std::vector<unsigned>{kMsgRefresh + 1, kMsgStartRecording + 2}), seen);
    EXPECT_EQ(std::this_thread::get_id(), handlerThread);
}

TEST(Messages, SinkHonoursTheShowSwitchAndCutsLongTexts)
{
    RecordingMessageSink sink;
    SetMessageSink(&sink);
    ShowMessage("hidden", 0, 1);
    ShowInfo("hidden too", 0);
    ShowMessage(std::string(2000, 'x').c_str(), 1, 0);
    ShowMessage(std::string(2000, 'y').c_str(), 1, 1);
    sink.ScriptAnswers({false});
    EXPECT_EQ(IDCANCEL, AskConfirm("Sure?"));
    EXPECT_EQ(IDOK, AskConfirm("Sure again?"));
    SetMessageSink(nullptr);
    auto entries = sink.Entries();
    ASSERT_EQ(4u, entries.size());
    EXPECT_EQ(1023u, entries[0].text.size());
    EXPECT_FALSE(entries[0].blocking);
    EXPECT_EQ(2000u, entries[1].text.size());
    EXPECT_TRUE(entries[1].blocking);
    EXPECT_EQ("confirm", entries[2].kind);
}

} // namespace
