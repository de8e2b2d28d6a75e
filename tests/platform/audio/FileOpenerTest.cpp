#include "platform/audio/FileOpener.h"
#include "tests/platform/audio/BlockingFile.h"
#include "tests/platform/audio/ManualClock.h"
#include "tests/platform/audio/TestSongs.h"
#include "tests/support/Poll.h"

#include <future>
#include <gtest/gtest.h>

using audio::OpenStatus;

namespace {

constexpr auto kLimit = std::chrono::seconds(2);

TEST(FileOpenerTest, AFileOpensWithinTheLimitOrIsLetGoOfWhenItsReadsReturn) {
    const std::string song = testSong("tone440-stereo-44k");
    struct Case {
        bool readsReturnInTime;
        OpenStatus status;
    };
    for (const Case& c : {Case{true, OpenStatus::Ok}, Case{false, OpenStatus::TimedOut}}) {
        SCOPED_TRACE(c.readsReturnInTime);
        const auto clock = std::make_shared<ManualClock>();
        audio::FileOpener opener(clock);
        BlockingFile file(QString::fromStdString(song));
        opener.setFactory(file.factory());
        OpenStatus status{};
        auto opened =
            std::async(std::launch::async, [&] { return opener.open(song, kLimit, &status); });
        // Its reads block, and the caller has set its deadline.
        ASSERT_TRUE(eventually([&] { return file.heldOpen() && clock->waiters() == 1; }));
        if (c.readsReturnInTime)
            file.release(); // and the clock stands still
        else
            clock->advance(kLimit);
        if (opened.wait_for(std::chrono::milliseconds(kPatienceMs)) != std::future_status::ready) {
            file.release();
            FAIL() << "open waited for the file's reads";
        }
        EXPECT_EQ(opened.get() != nullptr, c.readsReturnInTime);
        EXPECT_EQ(status, c.status);
        file.release();
        EXPECT_TRUE(eventually([&] { return !file.heldOpen(); }));
    }
}

} // namespace
