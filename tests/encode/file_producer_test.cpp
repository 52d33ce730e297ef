// The file producer's hand-shake with its consumer, with bodies that stand
// in for the transcoder.

#include "encode/file_producer.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

TEST(FileProducer, ReportsLetsGoAndStopsAtEveryStage)
{
    FileProducer producer;
    EXPECT_TRUE(producer.Stop(0)) << "a producer that never started stops at once";

    // A body that gives up reports why; one that ends silently has opened nothing.
    ASSERT_TRUE(producer.Start([](FileProducer& self) { self.ReportOpened(StartResult::Failed("no such file")); }));
    EXPECT_EQ("no such file", producer.WaitUntilOpened(5000).Reason());
    ASSERT_TRUE(producer.WaitForEnd(5000));
    ASSERT_TRUE(producer.Start([](FileProducer&) {}));
    const StartResult silent = producer.WaitUntilOpened(5000);
    EXPECT_FALSE(silent.Succeeded());
    EXPECT_EQ("The file transcoder ended before its file was open.", silent.Reason());
    ASSERT_TRUE(producer.WaitForEnd(5000));

    // Opened and waiting to be let go, without a limit: only a stop that
    // wakes the wait ends it within the stop's limit.
    std::atomic<int> produced{-1};
    auto body = [&produced](FileProducer& self) {
        self.ReportOpened(StartResult::Started());
        produced = self.WaitUntilLetGo() ? 1 : 0;
    };
    ASSERT_TRUE(producer.Start(body));
    EXPECT_TRUE(producer.WaitUntilOpened(5000).Succeeded());
    EXPECT_FALSE(producer.Start(body)) << "one body at a time";
    EXPECT_TRUE(producer.Stop(5000));
    EXPECT_EQ(0, produced.load());

    // A new start clears the last one's cancel and report.
    ASSERT_TRUE(producer.Start(body));
    EXPECT_TRUE(producer.WaitUntilOpened(5000).Succeeded());
    producer.LetGo();
    ASSERT_TRUE(producer.WaitForEnd(5000));
    EXPECT_EQ(1, produced.load());
}

} // namespace
