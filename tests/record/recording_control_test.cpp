// The start and stop handlers on the virtual TV card: real capture, real
// encoders, a real AVI in the recording folder.

#include "shared/resources.h"
#include "shared/server_state.h"
#include "capture/capture_fixture.h"
#include "capture/tuner.h"
#include "config/settings.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "guide/recording_rules.h"
#include "record/recorder.h"
#include "record/recording_control.h"
#include "support/process.h"
#include "support/test_application.h"

#include <QCoreApplication>

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

class RecordingControlTest : public CaptureTest {
protected:
    void SetUp() override
    {
        Application();
        CaptureTest::SetUp();
        ChannelRecord& channel = gSettings.channels[5];
        channel.enabled = 1;
        channel.videoDevice = VideoSlot("Virtual TV Tuner");
        channel.audioDevice = AudioSlot("Virtual TV Tuner");
        channel.videoCrossbarIn = 0;
        channel.tunerChannel = 5;
        gSettings.record.currentChannel = 5;
        std::snprintf(gSettings.record.recordingFolder, sizeof gSettings.record.recordingFolder, "%s",
                      config.Root().c_str());
        SetLocalTimeOverride(&kStart);
        SetMessageHandler(MessageTarget::Recorder, [this](unsigned message, uintptr_t, intptr_t) {
            if (message == kMsgStopRecording)
                StopRecording(tuner);
        });
    }

    void TearDown() override
    {
        StopRecording(tuner);
        SetMessageHandler(MessageTarget::Recorder, {});
        SetLocalTimeOverride(nullptr);
        CaptureTest::TearDown();
    }

    static bool RecordingEndsWithin(std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (IsRecording() && std::chrono::steady_clock::now() < deadline) {
            Application().processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return !IsRecording();
    }

    int FilesInFolder() const
    {
        int count = 0;
        for (const auto& entry : std::filesystem::directory_iterator(config.Root()))
            count += entry.path().extension() == ".avi";
        return count;
    }

    std::string Probe() const
    {
        return RunProcess({"/usr/bin/ffprobe", "-v", "error", "-count_frames", "-show_entries",
                           "stream=codec_name,nb_read_frames", "-of", "default=noprint_wrappers=1",
                           config.Root() + "/Rec_ch5_6Dec2026_09_05_03.avi"},
                          60000)
            .output;
    }

    static constexpr SystemTime kStart{2026, 12, 0, 6, 9, 5, 3, 0};
    Tuner tuner;
};

TEST_F(RecordingControlTest, RecordsTheChannelIntoANamedAvi)
{
    ASSERT_TRUE(StartRecording(tuner, 5).Succeeded());
    EXPECT_TRUE(IsRecording());
    EXPECT_NE(std::string::npos, StatusText().find(", Recording"));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(0, StopRecording(tuner));
    EXPECT_FALSE(IsCaptureRunning()) << "nothing else needs the capture";
    EXPECT_EQ(std::string::npos, StatusText().find(", Recording"));

    const std::string probe = Probe();
    EXPECT_NE(std::string::npos, probe.find("codec_name=wmv2")) << probe;
    EXPECT_NE(std::string::npos, probe.find("codec_name=wmav2")) << probe;
    const size_t frames = probe.find("nb_read_frames=");
    ASSERT_NE(std::string::npos, frames);
    EXPECT_GE(std::atoi(probe.c_str() + frames + 15), 50);
    EXPECT_EQ(-1, StopRecording(tuner)) << "a second stop finds nothing to stop";
}

TEST_F(RecordingControlTest, AGuideProgrammeIsRecordedUnderItsNameWithItsNfo)
{
    setenv("TZ", "UTC", 1);
    tzset();
    GuideRecording guided;
    GuideProgramme& programme = guided.programme;
    programme.title = "The News: Late";
    programme.episode = "S01E02";
    programme.description = "Headlines & weather";
    programme.start = 1799179200;  // 2027-01-05 20:00 UTC
    programme.stop = programme.start + 1800;
    ASSERT_TRUE(StartRecording(tuner, 5, &guided).Succeeded());
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_EQ(0, StopRecording(tuner));
    unsetenv("TZ");
    tzset();
    const std::string stem = config.Root() + "/The News_ Late - S01E02 - 2027-01-05 20-00";
    EXPECT_GT(std::filesystem::file_size(stem + ".avi"), 10000u);
    // Its picture for lists, beside it.
    const std::string picture = RunProcess({"/usr/bin/ffprobe", "-v", "error", "-show_entries",
                                            "stream=codec_name,width", "-of", "default=noprint_wrappers=1",
                                            stem + ".jpg"},
                                           60000)
                                    .output;
    EXPECT_EQ("codec_name=mjpeg\nwidth=320\n", picture);
    const std::string nfo = ReadFileBytes(stem + ".nfo");
    for (const char* part : {"<showtitle>The News: Late</showtitle>", "<season>1</season>", "<episode>2</episode>",
                             "<plot>Headlines &amp; weather</plot>", "<aired>2027-01-05</aired>",
                             "<studio>Channel 5</studio>"})
        EXPECT_NE(std::string::npos, nfo.find(part)) << nfo;
}

// A series rule that keeps two: its oldest recording goes, with its .nfo,
// once a third has ended; one the person deleted does not count, and a
// recording of no rule stays.
TEST_F(RecordingControlTest, ARuleKeepsItsNewestRecordings)
{
    std::string error;
    const std::unique_ptr<GuideStore> store = GuideStore::Open(GuideDatabasePath(), error);
    ASSERT_TRUE(store) << error;
    RecordingRule series;
    series.title = "Quiz";
    series.series = true;
    series.keep = 2;
    GuideRecording guided;
    guided.ruleId = RecordingRules(*store).Add(series);
    guided.programme.title = "Quiz";
    ASSERT_EQ(0, StartRecording(tuner, 5).Succeeded() ? StopRecording(tuner) : -1) << "one of no rule";
    std::vector<std::string> stems;
    for (int episode = 0; episode <= 3; ++episode) {
        guided.programme.episode = "S01E0" + std::to_string(episode);
        guided.programme.start = 1799179200 + episode * 86400;
        ASSERT_TRUE(StartRecording(tuner, 5, &guided).Succeeded());
        stems.push_back(std::filesystem::path(RecordingPath()).replace_extension().string());
        EXPECT_EQ(0, StopRecording(tuner));
        // The person deletes the first: it no longer counts among the two.
        if (episode == 0)
            std::filesystem::remove(RecordingPath());
    }
    EXPECT_FALSE(std::filesystem::exists(stems[1] + ".avi"));
    EXPECT_FALSE(std::filesystem::exists(stems[1] + ".nfo"));
    EXPECT_FALSE(std::filesystem::exists(stems[1] + ".jpg"));
    for (const std::string& kept : {stems[2], stems[3]})
        EXPECT_TRUE(std::filesystem::exists(kept + ".avi") && std::filesystem::exists(kept + ".nfo")) << kept;
    EXPECT_EQ(3, FilesInFolder()) << "the recording of no rule stays";

    // A one-off rule is done once its showing records.
    RecordingRule once;
    once.title = "Quiz";
    guided.ruleId = RecordingRules(*store).Add(once);
    guided.programme.start += 86400;
    ASSERT_TRUE(StartRecording(tuner, 5, &guided).Succeeded());
    EXPECT_EQ(0, StopRecording(tuner));
    EXPECT_EQ(1u, RecordingRules(*store).All().size()) << "only the series is left";
}

TEST_F(RecordingControlTest, TheTimeLimitStopsTheRecordingByItself)
{
    gSettings.record.limitRecordingTime = 1;
    gSettings.record.recordingTimeLimit = 1;
    ASSERT_TRUE(StartRecording(tuner, 5).Succeeded());
    ASSERT_TRUE(RecordingEndsWithin(std::chrono::seconds(8)));
    EXPECT_GE(gRecorder.elapsedSeconds.load(), 2u) << "more than one whole second";
    EXPECT_LE(gRecorder.elapsedSeconds.load(), 3u);
    EXPECT_FALSE(IsCaptureRunning());
    EXPECT_NE(std::string::npos, Probe().find("codec_name=wmv2"));
}

TEST_F(RecordingControlTest, AStartWhileRecordingIsRefused)
{
    ASSERT_TRUE(StartRecording(tuner, 5).Succeeded());
    const StartResult second = StartRecording(tuner, 5);
    EXPECT_FALSE(second.Succeeded());
    EXPECT_EQ("A recording runs already.", second.Reason());
    EXPECT_TRUE(IsRecording());
    EXPECT_EQ(1, FilesInFolder());
    EXPECT_EQ(0, StopRecording(tuner));
}

TEST_F(RecordingControlTest, AChannelWithoutDevicesRecordsNothing)
{
    gSettings.channels[5].videoDevice = gSettings.channels[5].audioDevice = kNoDevice;
    EXPECT_FALSE(StartRecording(tuner, 5).Succeeded());
    EXPECT_TRUE(messages.Saw("Please select a video and/or audio device for the current channel."));
    EXPECT_FALSE(IsRecording());
    EXPECT_EQ(0, FilesInFolder());
}

TEST_F(RecordingControlTest, ADisabledChannelIsNotSetUp)
{
    gSettings.channels[5].enabled = 0;
    EXPECT_FALSE(StartRecording(tuner, 5).Succeeded());
    EXPECT_TRUE(messages.Saw("This channel is not setup."));
    EXPECT_EQ(0, FilesInFolder());
}

} // namespace
