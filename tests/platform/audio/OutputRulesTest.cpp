#include "platform/audio/Engine.h"
#include "platform/mci/Mci.h"
#include "tests/platform/audio/FakeOutput.h"
#include "tests/platform/audio/ManualClock.h"
#include "tests/platform/audio/PcmHelpers.h"
#include "tests/platform/audio/TestSongs.h"
#include "tests/support/Poll.h"

#include <future>
#include <gtest/gtest.h>

using audio::CommandResult;
using audio::Engine;

namespace {

std::uint32_t send(const std::string& command) {
    return mciSendStringA(command.c_str(), nullptr, 0, nullptr);
}

// The commands the player sends for a song, then a wait for its end.
void playSongToEnd(const std::string& name) {
    char shortPath[255] = {};
    ASSERT_GT(GetShortPathNameA(testSong(name).c_str(), shortPath, 255), 0u) << name;
    send("stop mp3play");
    send("close mp3play");
    ASSERT_EQ(send(std::string("open ") + shortPath + " type mpegvideo alias mp3play"), 0u);
    ASSERT_EQ(send("play mp3play"), 0u);
    ASSERT_TRUE(eventually([] { return !Engine::instance().playing(); })) << name;
}

long long referenceSamples(const std::string& name) {
    return static_cast<long long>(referenceDecode(testSong(name)).samples.size());
}

// The engine on fake outputs (by default the automatic choice's three, see useFakes()), on a
// clock that moves only when told.
class OutputRulesTest : public ::testing::Test {
protected:
    static constexpr long long kSongFrames = 3 * 44100; // tone440-stereo-44k

    void SetUp() override { Engine::instance().setClock(m_clock); }
    void TearDown() override {
        Engine::instance().closeAll();
        Engine::instance().setOutputs({});
        Engine::instance().setClock(nullptr);
    }

    // Gives the engine three fresh fakes, closing every song first.
    void useFakes() {
        Engine::instance().closeAll();
        Engine::Outputs outputs;
        m_fakes.clear();
        for (const char* name : {"pulse", "alsa", "null"}) {
            outputs.push_back(std::make_unique<FakeOutput>(name));
            m_fakes.push_back(static_cast<FakeOutput*>(outputs.back().get()));
        }
        Engine::instance().setOutputs(std::move(outputs));
    }

    FakeOutput& pulse() { return *m_fakes[0]; }
    FakeOutput& alsa() { return *m_fakes[1]; }
    FakeOutput& null() { return *m_fakes[2]; }

    audio::StreamId play(const std::string& name) {
        audio::OpenStatus status{};
        const auto id = Engine::instance().open(testSong(name), &status);
        EXPECT_NE(id, 0);
        Engine::instance().play(id);
        return id;
    }
    void advanceClockTo(std::chrono::milliseconds sinceStart) {
        m_clock->set(ManualClock::kStart + sinceStart);
    }

    std::shared_ptr<ManualClock> m_clock = std::make_shared<ManualClock>();
    std::vector<FakeOutput*> m_fakes;
};

TEST_F(OutputRulesTest, EverySampleOfASongAfterAnotherIsHeard) {
    // The fake holds back what is written below its start threshold (1.5 s of the engine's
    // default 2 s buffer), as a sound server does.
    const std::pair<const char*, const char*> cases[] = {
        {"tone440-stereo-44k", "tone770-stereo-44k-short"},
        {"tone440-stereo-44k", "tone990-stereo-44k-1s"},
        {"tone770-stereo-44k-short", "tone770-stereo-44k-short"},
        {"tone330-mono-8k", "format-change-44k-stereo-22k-mono"},
    };
    for (const auto& [first, second] : cases) {
        SCOPED_TRACE(std::string(first) + " then " + second);
        auto output = std::make_unique<FakeOutput>("fake");
        FakeOutput* fake = output.get();
        Engine::instance().setOutput(std::move(output));
        playSongToEnd(first);
        EXPECT_EQ(fake->samplesHeard(), referenceSamples(first));
        const long long before = fake->samplesHeard();
        playSongToEnd(second);
        EXPECT_EQ(fake->samplesHeard() - before, referenceSamples(second));
        send("close all");
    }
    Engine::instance().setOutput(nullptr);
}

TEST_F(OutputRulesTest, TheFirstOutputThatOpensPlaysInTheOrderGiven) {
    std::vector<std::string> automatic;
    for (const auto& output : Engine::automaticOutputs())
        automatic.push_back(output->name());
    EXPECT_EQ(automatic, (std::vector<std::string>{"pulse", "alsa", "null"}));

    struct Case {
        std::size_t failing; // the first `failing` outputs cannot open
        const char* chosen;
    };
    for (const Case& c : {Case{0, "pulse"}, Case{1, "alsa"}, Case{2, "null"}, Case{3, ""}}) {
        SCOPED_TRACE(c.failing);
        useFakes();
        for (std::size_t i = 0; i < 3; ++i) {
            m_fakes[i]->failOpens(i < c.failing);
            m_fakes[i]->setFrameBudget(0); // holds the song at its first write
        }
        const auto id = play("tone440-stereo-44k");
        if (c.failing < 3) {
            ASSERT_TRUE(eventually([&] { return Engine::instance().outputName() == c.chosen; }));
        } else { // no output: the song ends silently
            EXPECT_TRUE(eventually(
                [&] { return Engine::instance().mode(id) == audio::StreamMode::Stopped; }));
        }
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_EQ(m_fakes[i]->openAttempts(), i <= c.failing ? 1 : 0) << i;
    }
}

TEST_F(OutputRulesTest, OnTheFallbackTheBetterOutputsAreTriedOnceASecond) {
    useFakes();
    pulse().failOpens(true);
    alsa().failOpens(true);
    long long nullBudget = 1000;
    null().setFrameBudget(nullBudget);
    play("tone440-stereo-44k");
    ASSERT_TRUE(null().waitForFrames(nullBudget));

    struct Step {
        std::chrono::milliseconds at; // since the song started
        bool pulseOpens;
        int pulseAttempts;
        int alsaAttempts;
    };
    constexpr std::chrono::milliseconds kInterval = Engine::kRetryInterval;
    constexpr std::chrono::milliseconds kJustBefore = kInterval - std::chrono::milliseconds(1);
    for (const Step& step :
         {Step{kJustBefore, false, 1, 1}, Step{kInterval, false, 2, 2},
          Step{kInterval + kJustBefore, false, 2, 2}, Step{2 * kInterval, true, 3, 2}}) {
        SCOPED_TRACE(step.at.count());
        advanceClockTo(step.at);
        pulse().failOpens(!step.pulseOpens);
        // The engine may be held in a write that began before the clock moved: let it take two
        // more steps on the null output (or leave it for pulse).
        for (int i = 0; i < 2 && !pulse().isOpen(); ++i) {
            nullBudget += 1000;
            null().setFrameBudget(nullBudget);
            ASSERT_TRUE(eventually([&] {
                return null().framesWritten() == nullBudget || pulse().framesWritten() > 0;
            }));
        }
        EXPECT_EQ(pulse().openAttempts(), step.pulseAttempts);
        EXPECT_EQ(alsa().openAttempts(), step.alsaAttempts);
    }
    ASSERT_TRUE(eventually([] { return !Engine::instance().playing(); }));
    EXPECT_FALSE(null().isOpen());
    // What the null output held when pulse came back is dropped; no sample is written twice.
    EXPECT_EQ(null().framesWritten() + pulse().framesWritten(), kSongFrames);
}

TEST_F(OutputRulesTest, AnOutputThatBreaksInAWriteIsReopenedFromTheTopOfTheList) {
    struct Case {
        bool pulseComesBack;
        int pulseAttempts;
        long long nullFrames; // of the song: the rest is on pulse
    };
    for (const Case& c : {Case{true, 2, 0}, Case{false, 2, -1}}) {
        SCOPED_TRACE(c.pulseComesBack);
        useFakes();
        alsa().failOpens(true);
        pulse().failWriteAt(3, !c.pulseComesBack);
        play("tone440-stereo-44k");
        ASSERT_TRUE(eventually([] { return !Engine::instance().playing(); }));
        EXPECT_EQ(pulse().openAttempts(), c.pulseAttempts);
        if (c.nullFrames == 0)
            EXPECT_EQ(null().framesWritten(), 0);
        else
            EXPECT_GT(null().framesWritten(), 0);
        // The block the broken write failed to take goes to the output opened after it.
        EXPECT_EQ(pulse().framesWritten() + null().framesWritten(), kSongFrames);
    }
}

TEST_F(OutputRulesTest, ThePositionIsWhatWasHeardCarriedOnAtTheSongsRateWhileItSounds) {
    // 2 s given, 0.5 s of it still on its way: 1.5 s heard. The clock carries it on, a pause
    // holds it, a resume never takes it back, and it never passes what was given.
    useFakes();
    pulse().setFrameBudget(88200);
    pulse().setLatency(22050);
    const auto id = play("tone440-stereo-44k");
    const auto heard = [] { return Engine::instance().currentStream()->heardFrames; };
    ASSERT_TRUE(eventually([&] { return heard() == 66150; })) << heard();
    struct Step {
        int atMs;
        CommandResult (Engine::*command)(audio::StreamId);
        long long heard;
    };
    for (const Step& step :
         {Step{250, nullptr, 77175}, Step{250, &Engine::pause, 77175}, Step{2000, nullptr, 77175},
          Step{2000, &Engine::resume, 77175}, Step{2100, nullptr, 77175},
          Step{2400, nullptr, 83790}, Step{5000, nullptr, 88200}}) {
        SCOPED_TRACE(step.atMs);
        advanceClockTo(std::chrono::milliseconds(step.atMs));
        if (step.command) {
            ASSERT_EQ((Engine::instance().*step.command)(id), CommandResult::Done);
        }
        EXPECT_EQ(heard(), step.heard);
    }
}

TEST_F(OutputRulesTest, ACommandTheEngineCannotTakeUpFailsInTimeAndNeverRuns) {
    auto output = std::make_unique<FakeOutput>("stuck");
    FakeOutput* stuck = output.get();
    Engine::instance().setOutput(std::move(output));
    char shortPath[255] = {};
    ASSERT_GT(GetShortPathNameA(testSong("tone440-stereo-44k").c_str(), shortPath, 255), 0u);
    ASSERT_EQ(send(std::string("open ") + shortPath + " type mpegvideo alias mp3play"), 0u);
    stuck->hang(true);
    ASSERT_EQ(send("play mp3play"), 0u);
    ASSERT_TRUE(stuck->waitUntilHanging());

    // The first waits for the engine; the others fail at once while it has not come back.
    auto paused = std::async(std::launch::async, [] { return send("pause mp3play"); });
    ASSERT_TRUE(eventually([&] { return m_clock->waiters() == 1; }));
    m_clock->advance(Engine::kCommandWait);
    EXPECT_EQ(paused.get(), MCIERR_DEVICE_NOT_READY);
    for (const char* command : {"close all", "stop mp3play"})
        EXPECT_EQ(send(command), MCIERR_DEVICE_NOT_READY) << command;
    stuck->hang(false);
    EXPECT_TRUE(stuck->waitForFrames(3 * 44100)) << "a withdrawn pause or stop ran";
    ASSERT_TRUE(eventually([] { return !Engine::instance().playing(); }));
    EXPECT_EQ(send("close mp3play"), 0u) << "a withdrawn close ran";
    Engine::instance().setOutput(nullptr);
}

} // namespace
