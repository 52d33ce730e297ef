// The Encode File window's logic, driven without clicks: what choosing an
// input fills in, the checks of "Start Encoding" in their order, and a
// whole encoding to "Done".

#include "config/settings.h"
#include "encode/stream_buffers.h"
#include "platform/recording_sink.h"
#include "server/encode_file_dialog.h"
#include "server/net_state.h"
#include "shared/live_params.h"
#include "shared/resources.h"
#include "support/media_files.h"
#include "support/large_buffers.h"
#include "support/temp_config.h"
#include "support/test_application.h"

#include <QLabel>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

namespace {

class EncodeFileDialogTest : public LargeBuffersTest {
protected:
    void SetUp() override
    {
        SetDefaultSettings();
        SetDefaultEncoderParams();
        SetMessageSink(&sink);
        clip = config.Root() + "/clip.avi";
        ASSERT_TRUE(MakeClip({"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25", "-f", "lavfi", "-i",
                              "sine=frequency=440:sample_rate=44100", "-t", "3", "-c:v", "mpeg4", "-c:a",
                              "libmp3lame", clip}));
    }
    void TearDown() override { SetMessageSink(nullptr); }

    TempConfig config;
    RecordingMessageSink sink;
    std::string clip;
};

TEST_F(EncodeFileDialogTest, ChoosingAnInputDescribesIt)
{
    EncodeFileForm form;
    form.start = {0, 1, 2};
    std::string information;
    ASSERT_TRUE(ChooseInput(form, clip, information));
    EXPECT_EQ(0, form.start.Seconds());
    EXPECT_EQ(3, form.end.Seconds());
    EXPECT_EQ(0u, information.find("Bitrate: ")) << information;
    EXPECT_NE(std::string::npos, information.find("\nStream #0:\nCodec: "));
    EXPECT_NE(std::string::npos, information.find("Framerate: 25.00 fps\n"));
    EXPECT_NE(std::string::npos, information.find("\nStream #1:\nCodec: "));
    EXPECT_FALSE(ChooseInput(form, config.Root() + "/missing.avi", information));
}

TEST_F(EncodeFileDialogTest, StartEncodingChecksInOrderAndRunsToDone)
{
    auto* dialog = new CFileOutput;
    auto start = [&](const EncodeFileForm& wanted) {
        const size_t before = sink.Texts().size();
        dialog->StartEncoding(wanted);
        const std::vector<std::string> texts = sink.Texts();
        return std::vector<std::string>(texts.begin() + static_cast<std::ptrdiff_t>(before), texts.end());
    };
    using Texts = std::vector<std::string>;
    EncodeFileForm wanted;
    EXPECT_EQ(Texts{kNoInputText}, start(wanted));
    wanted.input = clip;
    EXPECT_EQ(Texts{kNoOutputText}, start(wanted));
    wanted.output = config.Root() + "/taken";
    WriteFileBytes(wanted.output + ".tvs", "old");
    sink.ScriptAnswers({false});
    EXPECT_EQ(Texts{kOverwriteText}, start(wanted)) << "declined: nothing else is said";
    wanted.start = {0, 0, 10};
    wanted.end = {0, 0, 3};
    EXPECT_EQ((Texts{kOverwriteText, kStartPastEndText}), start(wanted));
    wanted.start = {};
    wanted.end = {};
    EXPECT_EQ((Texts{kOverwriteText, kZeroDurationText}), start(wanted));
    EXPECT_EQ("old", ReadFileBytes(config.Root() + "/taken.tvs"));
    wanted.end = {0, 0, 3};
    wanted.output = config.Root() + "/no such folder/film";
    EXPECT_EQ(Texts{kCannotOpenOutputText}, start(wanted));

    wanted.output = config.Root() + "/film";
    EXPECT_EQ(Texts{}, start(wanted));
    EXPECT_TRUE(dialog->Encoding().Running());
    // A handheld that comes or goes meanwhile ends its own session only.
    EndSession();
    QLabel* progressText = nullptr;
    for (QLabel* label : dialog->findChildren<QLabel*>())
        if (label->text().endsWith('%'))
            progressText = label;
    ASSERT_NE(nullptr, progressText);
    EXPECT_TRUE(WaitUntil(
        [&] {
            dialog->UpdateProgress();
            return progressText->text() == "Done";
        },
        60000));
    const std::string written = ReadFileBytes(config.Root() + "/film.tvs");
    ASSERT_GT(written.size(), 48u);
    EXPECT_EQ(3, written[0]);
    uint32_t lastTime = 0;
    std::memcpy(&lastTime, written.data() + 28, sizeof lastTime);
    EXPECT_GE(lastTime, 2800u) << "the whole clip was written";
    dialog->close();
}

} // namespace
