// The catalogue and schedule requests answered by the real server over
// loopback and read by the handheld client, on a clock fixed at Monday
// 2024-03-04 20:00.

#include "media/listing.h"
#include "platform/clock.h"
#include "media/media_info.h"
#include "server/session_state.h"
#include "support/media_files.h"
#include "support/server_fixture.h"

#include <chrono>
#include <filesystem>
#include <sstream>

namespace fs = std::filesystem;

namespace {

constexpr SystemTime kNow{2024, 3, 1, 4, 20, 0, 0, 0};

// Every value printed for key, in order.
std::vector<std::string> Values(const ProcessResult& result, const std::string& key)
{
    std::istringstream lines(result.output);
    std::vector<std::string> values;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind(key + "=", 0) == 0)
            values.push_back(line.substr(key.size() + 1));
    return values;
}

std::vector<ListedEntry> PrintedEntries(const ProcessResult& result)
{
    std::istringstream lines(result.output);
    std::vector<ListedEntry> entries;
    for (std::string line; std::getline(lines, line);)
        if (line.rfind("entry_", 0) == 0 && line.size() > 7 && line[7] == '=')
            entries.push_back({line[6], line.substr(8)});
    return entries;
}

void EnableChannel(int index, const std::string& description)
{
    ChannelRecord& channel = gSettings.channels[index];
    channel.enabled = 1;
    std::memset(channel.description, 0, sizeof channel.description);
    std::memcpy(channel.description, description.data(), std::min(description.size(), sizeof channel.description));
}

SystemTime At(uint16_t day, uint16_t hour, uint16_t minute)
{
    return SystemTime{2024, 3, 0, day, hour, minute, 0, 0};
}

class CatalogueTest : public LoopbackServerTest {
protected:
    void SetUp() override
    {
        LoopbackServerTest::SetUp();
        SetLocalTimeOverride(&kNow);
    }
    void TearDown() override
    {
        SetLocalTimeOverride(nullptr);
        LoopbackServerTest::TearDown();
    }

    // What the server lists for the request, read straight from the library.
    static std::vector<ListedEntry> Listed(const std::string& request, bool subtitleMode, int32_t& length)
    {
        std::vector<uint8_t> listing(kListingSize);
        EXPECT_EQ(0, ListFolder(request, listing.data(), length, subtitleMode));
        return ParseListing(listing.data(), static_cast<size_t>(length));
    }
};

TEST_F(CatalogueTest, ListingsArriveWholeDeflatedOrPlain)
{
    const std::string media = config.Root() + "/media";
    for (int i = 0; i < 300; ++i)
        WriteFileBytes(media + "/episode " + std::to_string(i) + " of the long running show.mkv", "x");
    WriteFileBytes(media + "/talk.srt", "x");
    fs::create_directory(media + "/extras");
    ShareFolder(0, media);
    ShareFolder(5, "/srv/other");

    struct Case {
        const char* subcommand;
        std::string request;
        bool subtitleMode;
        const char* compressed;
    };
    for (const Case& c : {Case{"ls", "/", false, "0"}, Case{"ls", "/" + media, false, "1"},
                          Case{"subs", "/" + media, true, "0"}}) {
        // The client adds the request's leading byte to a plain path.
        ProcessResult result = Handheld({c.subcommand, c.request == "/" ? c.request : c.request.substr(1)});
        ASSERT_EQ(0, result.exitCode) << result.output;
        int32_t length = 0;
        const std::vector<ListedEntry> expected = Listed(c.request, c.subtitleMode, length);
        EXPECT_EQ(expected, PrintedEntries(result)) << c.request;
        EXPECT_EQ(std::to_string(length), result.Value("listing_raw_length"));
        EXPECT_EQ(c.compressed, result.Value("listing_compressed")) << c.request;
    }
    EXPECT_EQ("0xBC", Handheld({"subs", media}).Value("subs_code"));

    ProcessResult failed = Handheld({"ls", "no slash", "ls", "/no/such/folder"});
    EXPECT_EQ((std::vector<std::string>{"0xBF", "0xBF"}), Values(failed, "ls_code")) << failed.output;
    EXPECT_EQ((std::vector<std::string>{"0", "0"}), Values(failed, "listing_raw_length"));
    EXPECT_EQ((std::vector<std::string>{"0", "0"}), Values(failed, "listing_data_length"));
}

TEST_F(CatalogueTest, FileInformationFollowsEveryReply)
{
    const std::string clip = config.Root() + "/clip.avi";
    ASSERT_TRUE(MakeClip({"-f", "lavfi", "-i", "testsrc=size=64x48:rate=25:duration=1", "-c:v", "mpeg4", clip}));
    WriteFileBytes(config.Root() + "/clip.srt", "1\n00:00:00,000 --> 00:00:01,000\nHi\n");
    ShareFolder(0, config.Root());
    EnableChannel(0, "News");

    ProcessResult result = Handheld({"--keep-going", "info", "/no/such/file.avi", "channel0", "info", clip});
    EXPECT_EQ((std::vector<std::string>{"0xFF", "0xBE"}), Values(result, "info_code")) << result.output;
    EXPECT_EQ((std::vector<std::string>{"0", std::to_string(fs::file_size(clip))}), Values(result, "file_size"));
    EXPECT_EQ("0xCD", result.Value("channel0_code"));
    EXPECT_EQ(0u, result.Value("stream_0").rfind("Video: mpeg4", 0)) << result.output;
    EXPECT_EQ("25.000", result.Value("stream_0_frame_rate"));
    EXPECT_EQ(("Subtitle: srt: " + config.Root() + "/clip.srt").substr(0, 63), result.Value("stream_1"));
    EXPECT_EQ(config.Root() + "/clip.srt", gMediaSelection.subtitleFilePath);

    // Paths that fill the whole field without a terminator.
    const std::string unterminated(512, '6');
    ProcessResult raw = Handheld({"raw", "AABE" + unterminated, "raw", "AABF" + unterminated, "channel0"});
    const std::vector<std::string> received = Values(raw, "raw_received");
    EXPECT_EQ((std::vector<std::string>{"626", "42"}), received) << raw.output;
    EXPECT_EQ("AAFF", Values(raw, "raw_hex").at(0).substr(0, 4));
    EXPECT_EQ("AABF" + std::string(80, '0'), Values(raw, "raw_hex").at(1));
    EXPECT_EQ("0xCD", raw.Value("channel0_code"));
}

TEST_F(CatalogueTest, ChannelListAndChannelZero)
{
    ProcessResult none = Handheld({"--keep-going", "channels", "channel0"});
    EXPECT_EQ("0xC3", none.Value("channels_code")) << none.output;
    EXPECT_EQ("0", none.Value("channels_count"));
    EXPECT_EQ("0", none.Value("channels_length"));
    EXPECT_EQ("0xFF", none.Value("channel0_code"));

    // Entries that deflating would not make smaller go plain.
    const std::string mixed = "Qx7!pL9#zR2$kT5%wY8&bN3*hJ6(mV0)";
    EnableChannel(0, mixed);
    ProcessResult plain = Handheld({"channels"});
    EXPECT_EQ("1", plain.Value("channels_count")) << plain.output;
    EXPECT_EQ("36", plain.Value("channels_length"));
    EXPECT_EQ(mixed, plain.Value("channel_0"));

    EnableChannel(0, "News");
    EnableChannel(3, "Movies");
    EnableChannel(999, std::string(32, 'D'));
    gSettings.record.schedules[2] = {1, 0, 3, 0, At(5, 21, 0), At(5, 22, 0)};
    gSettings.record.schedules[4] = {0, 0, 0, 0, At(5, 21, 0), At(5, 22, 0)};
    ProcessResult three = Handheld({"channels", "channel0"});
    ASSERT_EQ(0, three.exitCode) << three.output;
    EXPECT_EQ("3", three.Value("channels_count"));
    EXPECT_EQ("News", three.Value("channel_0"));
    EXPECT_EQ("0", three.Value("channel_0_scheduled"));
    EXPECT_EQ("Movies", three.Value("channel_3"));
    EXPECT_EQ("1", three.Value("channel_3_scheduled"));
    EXPECT_EQ(std::string(32, 'D'), three.Value("channel_999"));
    EXPECT_EQ("0xCD", three.Value("channel0_code"));
    EXPECT_EQ("News", three.Value("channel0_description"));
    EXPECT_EQ("0", three.Value("channel0_scheduled"));

    for (int index = 0; index < 200; ++index)
        EnableChannel(index, "Channel " + std::to_string(index));
    ProcessResult many = Handheld({"channels"});
    EXPECT_EQ("201", many.Value("channels_count")) << many.output;
    EXPECT_LT(std::stoi("0" + many.Value("channels_length")), 201 * 36);
    EXPECT_EQ("Channel 150", many.Value("channel_150"));
    EXPECT_EQ("1", many.Value("channel_3_scheduled"));
}

TEST_F(CatalogueTest, SchedulesAreListedByStartAfterAPause)
{
    // The server reads the next request only after its pause.
    const auto started = std::chrono::steady_clock::now();
    ProcessResult empty = Handheld({"schedules", "channel0"});
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1000));
    EXPECT_EQ("0xFF", empty.Value("channel0_code"));
    EXPECT_EQ("0x84", empty.Value("schedules_code")) << empty.output;
    EXPECT_EQ("0", empty.Value("schedules_length"));
    EXPECT_EQ("0", empty.Value("schedule_count"));

    EnableChannel(3, "Movies");
    EnableChannel(12, "Sports");
    ScheduleSlot* schedules = gSettings.record.schedules;
    schedules[0] = {1, 0, 3, 0, At(4, 18, 0), At(4, 19, 59)};  // ended a minute ago
    schedules[1] = {1, 0, 12, 0, At(6, 8, 0), At(6, 9, 30)};
    schedules[2] = {1, 0, 3, 0, At(5, 21, 0), At(5, 22, 15)};
    ProcessResult listed = Handheld({"schedules", "modify-schedule", "1", "12", "2024-03-07T08:00", "2024-03-07T09:00",
                                     "delete-schedule", "0", "schedules"});
    ASSERT_EQ(0, listed.exitCode) << listed.output;
    EXPECT_EQ((std::vector<std::string>{"76", "38"}), Values(listed, "schedules_length"));
    EXPECT_EQ((std::vector<std::string>{"Ch003>03/05/24(21:00)-03/05/24(22:15)", "Ch012>03/07/24(08:00)-03/07/24(09:00)"}),
              Values(listed, "schedule_0"));
    EXPECT_EQ("Ch012>03/06/24(08:00)-03/06/24(09:30)", Values(listed, "schedule_1").at(0));
    EXPECT_EQ(0, schedules[2].used);
    EXPECT_EQ(1, schedules[0].used);

    ProcessResult refused = Handheld({"delete-schedule", "20"});
    EXPECT_EQ("0xFF", refused.Value("delete_schedule_code")) << refused.output;
}

TEST_F(CatalogueTest, EveryScheduleResultCode)
{
    EnableChannel(3, "Movies");
    ProcessResult result = Handheld({"--keep-going",
                                     "add-schedule", "3", "2024-03-05T21:00", "2024-03-05T22:00",
                                     "add-schedule", "3", "2024-03-05T21:30", "2024-03-05T23:00",
                                     "add-schedule", "3", "2024-03-04T19:59", "2024-03-04T21:00",
                                     "add-schedule", "3", "2024-03-06T10:00", "2024-03-06T10:00",
                                     "add-schedule", "4", "2024-03-06T10:00", "2024-03-06T11:00",
                                     "add-schedule", "1000", "2024-03-06T10:00", "2024-03-06T11:00",
                                     "add-schedule", "3", "2024-13-06T10:00", "2024-03-06T11:00",
                                     "add-schedule", "3", "2008-03-06T10:00", "2024-03-06T11:00",
                                     "add-schedule", "3", "2024-03-06T10:61", "2024-03-06T11:00",
                                     "add-schedule", "3", "2024-03-06T10:00", "2024-03-06T25:00",
                                     "add-schedule", "3", "2024-03-06T24:00", "2024-03-07T01:00",
                                     "add-schedule", "3", "2024-03-06T23:60", "2024-03-07T00:30",
                                     "modify-schedule", "20", "3", "2024-03-08T10:00", "2024-03-08T11:00",
                                     "modify-schedule", "65535", "3", "2024-03-08T10:00", "2024-03-08T11:00"});
    const std::vector<std::string> results = {"0", "-5", "-3", "-4", "-6", "-6", "-8",
                                              "-8", "-8", "-8", "0", "-5", "-7", "-7"};
    EXPECT_EQ(results, Values(result, "schedule_result")) << result.output;
    std::vector<std::string> codes = Values(result, "add_schedule_code");
    EXPECT_EQ((std::vector<std::string>{"0x83", "0xFF", "0xFF", "0xFF", "0xFF", "0xFF", "0xFF", "0xFF", "0xFF", "0xFF",
                                        "0x83", "0xFF"}),
              codes);
    EXPECT_EQ((std::vector<std::string>{"0xFF", "0xFF"}), Values(result, "modify_schedule_code"));

    // Stored as sent, with the weekday of the date (0 = Sunday).
    const ScheduleSlot& midnight = gSettings.record.schedules[1];
    EXPECT_EQ(24, midnight.start.hour);
    EXPECT_EQ(6, midnight.start.day);
    EXPECT_EQ(3, midnight.start.dayOfWeek);
    EXPECT_EQ(2, gSettings.record.schedules[0].start.dayOfWeek);

    for (int slot = 2; slot < kScheduleSlots; ++slot)
        gSettings.record.schedules[slot] = {1, 0, 3, 0, At(10 + slot, 8, 0), At(10 + slot, 9, 0)};
    ProcessResult full = Handheld({"add-schedule", "3", "2024-03-08T10:00", "2024-03-08T11:00"});
    EXPECT_EQ("-2", full.Value("schedule_result")) << full.output;
    EXPECT_EQ("0xFF", full.Value("add_schedule_code"));
    EXPECT_TRUE(sink.Entries().empty());
}

} // namespace
