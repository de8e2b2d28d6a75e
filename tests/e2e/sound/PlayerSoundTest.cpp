#include "tests/support/PlayerProcess.h"
#include "tests/support/Poll.h"
#include "tests/support/PulseServer.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

namespace {

// What a stretch of the sink's monitor sounded like.
struct Sound {
    double level = 0;       // RMS of the left channel
    double frequencyHz = 0; // of the tone, when there is one
};

constexpr int kWindowFrames = PulseServer::kRateHz / 10; // 100 ms
// The test songs are sines at half scale (RMS about 11600 at full volume); the silent sink
// records exact zeros, so anything under this is silence.
constexpr double kSilence = 100;
constexpr double kTone = 2000;
constexpr int kRightOfText = 250; // a column of the playlist that no short title reaches

std::string songFile(const char* name) {
    return buildDir().toStdString() + "/test-mp3s/" + name + ".mp3";
}

bool isTone(const Sound& s, double hz) {
    return s.level > kTone && std::abs(s.frequencyHz - hz) < hz * 0.03;
}

class PlayerSoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pulse.running()) << "cannot start a private PulseAudio server";
        pulse.exportAddress(); // the player inherits PULSE_SERVER
        ASSERT_TRUE(registerVolumeControl()) << "cannot register the volume control";
        const QString music = fillMusicFolder();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(recorder.running()) << "cannot record the sink's monitor";
        windowId = player.start(settingsText(music));
        ASSERT_FALSE(windowId.isEmpty()) << "the player never showed";
        ASSERT_EQ(player.geometry(windowId).height(), kPanelHeightPx);
        // parecord may take a while to deliver its first frames on a busy machine.
        ASSERT_TRUE(recorder.waitForFrames(0, kWindowFrames, 10000))
            << "the monitor records nothing";
    }

    // The folder the player lists, with its songs in it.
    virtual QString fillMusicFolder() {
        // Listed by name: "high" (1000 Hz, 20 s) is row 0, "low" (440 Hz, 3 s) is row 1, "mid"
        // (880 Hz, 3 s) is row 2, "short" (770 Hz, 0.3 s) is row 3.
        copySong("tone1000-stereo-192k", "music/high.mp3");
        copySong("tone440-stereo-44k", "music/low.mp3");
        copySong("tone880-stereo-44k", "music/mid.mp3");
        copySong("tone770-stereo-44k-short", "music/short.mp3");
        return tree.path("music");
    }

    // Copies a made song to `as`, a path in the tree.
    void copySong(const char* made, const QString& as) {
        tree.folder(QFileInfo(as).path());
        ASSERT_TRUE(QFile::copy(QString::fromStdString(songFile(made)), tree.path(as)))
            << songFile(made) << " to " << as.toStdString();
    }

    static int rowY(int row) { return PlayerProcess::entryY(row); }
    // The rows the playlist shows.
    static int listRows() {
        return layout::pixels(layout::lstPls).height() / PlayerProcess::entryHeight();
    }
    void clickRemove() { player.clickAt(layout::Image8); }
    void clickNext() { player.clickAt(layout::Image17); }

    // Has the window manager activate the window, as it does when it maps one; the playlist
    // takes the focus.
    void giveFocus() {
        player.xdotool({"windowactivate", "--sync", windowId});
        ASSERT_TRUE(eventually([&] { return player.xdotool({"getwindowfocus"}) == windowId; }))
            << "the window does not get the focus";
    }

    // The window as the X server shows it.
    QImage screenshot() { return player.x().screen().copy(player.geometry(windowId)); }

    // The playlist rows shown in `highlight`, judged right of their text.
    std::vector<int> rowsIn(const QColor& highlight) {
        const QImage shot = screenshot();
        std::vector<int> rows;
        for (int row = 0; row < listRows(); ++row)
            if (shot.pixelColor(kRightOfText, rowY(row)) == highlight)
                rows.push_back(row);
        return rows;
    }

    // The last 100 ms recorded.
    Sound latest() const {
        const long long end = recorder.frames();
        if (end < kWindowFrames) // nothing to judge yet: neither silence nor a tone
            return {std::nan(""), 0};
        const auto samples = recorder.left(std::max(0LL, end - kWindowFrames), kWindowFrames);
        return {rms(samples), toneFrequencyHz(samples, PulseServer::kRateHz)};
    }

    // Waits up to timeoutMs for the monitor to sound as `wanted` says; the sound heard last.
    template <typename Wanted> std::optional<Sound> waitFor(Wanted wanted, int timeoutMs) {
        Sound heard;
        if (eventually([&] { return wanted(heard = latest()); }, timeoutMs))
            return heard;
        return std::nullopt;
    }

    // Returns once the monitor has recorded `ms` more: a check that something is not heard waits
    // for that much sound on the server's own clock, which a loaded machine cannot outrun.
    void listenFor(int ms) {
        ASSERT_TRUE(recorder.waitForFrames(recorder.frames(), PulseServer::kRateHz * ms / 1000,
                                           ms + kPatienceMs));
    }

    // The level over the next half second, once the monitor has recorded it.
    double levelOverHalfASecond() {
        const long long from = recorder.frames();
        const int frames = PulseServer::kRateHz / 2;
        if (!recorder.waitForFrames(from, frames, 3000))
            return -1;
        return rms(recorder.left(from, frames));
    }

    static auto toneOf(double hz) {
        return [hz](const Sound& s) { return isTone(s, hz); };
    }
    static bool silent(const Sound& s) { return s.level < kSilence; }

    PulseServer pulse;
    MonitorRecorder recorder{pulse};
    TempTree tree;
    PlayerProcess player{tree};
    QString windowId;
};

TEST_F(PlayerSoundTest, DoubleClickPlaysPauseResumesAndStopSilences) {
    EXPECT_TRUE(waitFor(silent, 1000)) << "the sink is not silent before anything plays";

    player.doubleClickEntry(1);
    EXPECT_TRUE(waitFor(toneOf(440), 5000)) << "the 440 Hz song is not heard";

    player.doubleClickEntry(0);
    ASSERT_TRUE(waitFor(toneOf(1000), 5000)) << "the 1000 Hz song does not replace it";

    player.clickAt(layout::Image15); // pause
    EXPECT_TRUE(waitFor(silent, 1000)) << "pause does not silence the song";
    listenFor(300);
    EXPECT_TRUE(silent(latest())) << "the paused song is heard again";

    player.clickAt(layout::Image15); // resume
    EXPECT_TRUE(waitFor(toneOf(1000), 2000)) << "the paused song does not resume";

    player.clickAt(layout::Image16); // stop
    EXPECT_TRUE(waitFor(silent, 1000)) << "stop does not silence the song";
    listenFor(300);
    EXPECT_TRUE(silent(latest())) << "the stopped song is heard again";
}

// By keyboard alone, with the keys as the X server sends them.
TEST_F(PlayerSoundTest, KeyboardAlonePlaysPausesStepsAndStops) {
    giveFocus();
    const struct {
        QStringList keys;
        std::function<bool(const Sound&)> heard;
    } steps[] = {{{"Return"}, toneOf(1000)}, {{"Tab", "c"}, silent},      {{"c"}, toneOf(1000)},
                 {{"b"}, toneOf(440)},       {{"XF86AudioStop"}, silent}, {{"x"}, toneOf(440)}};
    for (const auto& step : steps) {
        player.xdotool(QStringList{"key", "--delay", "50"} + step.keys);
        EXPECT_TRUE(waitFor(step.heard, 5000)) << step.keys.join(' ').toStdString();
    }
}

// Timed in recorded frames, so a slow machine does not matter: the 3 s song paused after at
// least 1.5 s has at most about 1.5 s left when it resumes, where a restart would play 3 s.
TEST_F(PlayerSoundTest, ResumeContinuesWhereThePauseStopped) {
    constexpr long long kSecond = PulseServer::kRateHz;
    player.doubleClickEntry(1);
    ASSERT_TRUE(waitFor(toneOf(440), 5000)) << "the 440 Hz song is not heard";
    ASSERT_TRUE(recorder.waitForFrames(recorder.frames(), kSecond * 3 / 2, 5000));
    player.clickAt(layout::Image15); // pause
    ASSERT_TRUE(waitFor(silent, 1000)) << "pause does not silence the song";

    player.clickAt(layout::Image15); // resume
    ASSERT_TRUE(waitFor(toneOf(440), 2000)) << "the paused song does not resume";
    const long long resumedAt = recorder.frames();
    ASSERT_TRUE(waitFor(silent, 5000)) << "the song does not end";
    const long long played = recorder.frames() - resumedAt;
    EXPECT_LT(played, kSecond * 22 / 10) << "the song started again from its beginning";
}

// The pause button only toggles its own word: a song started while "paused" plays, the next
// press resumes (nothing to hear) and only the press after that pauses. Previous and next walk
// the list; previous from the first entry selects nothing and so plays nothing.
TEST_F(PlayerSoundTest, PauseWordAndPreviousNextFollowTheList) {
    player.doubleClickEntry(1);
    ASSERT_TRUE(waitFor(toneOf(440), 5000)) << "the 440 Hz song is not heard";
    player.clickAt(layout::Image15); // pause
    ASSERT_TRUE(waitFor(silent, 1000)) << "pause does not silence the song";

    player.doubleClickEntry(0);
    ASSERT_TRUE(waitFor(toneOf(1000), 5000)) << "a song started while paused is not heard";
    player.clickAt(layout::Image15); // resume: the song already plays
    listenFor(400);
    EXPECT_TRUE(isTone(latest(), 1000)) << "the press after a paused switch pauses";
    player.clickAt(layout::Image15); // pause
    EXPECT_TRUE(waitFor(silent, 1000)) << "the second press does not pause";

    player.clickAt(layout::Image17); // next: the second entry
    EXPECT_TRUE(waitFor(toneOf(440), 3000)) << "next does not play the second entry";
    player.clickAt(layout::Image13); // previous: the first entry
    EXPECT_TRUE(waitFor(toneOf(1000), 3000)) << "previous does not play the first entry";
    player.clickAt(layout::Image13); // previous on the first entry: no entry, no song
    EXPECT_TRUE(waitFor(silent, 1000)) << "previous on the first entry keeps playing";
    listenFor(300);
    EXPECT_TRUE(silent(latest())) << "previous on the first entry plays something";
}

// A song shorter than the sound server's start threshold, played after another one.
TEST_F(PlayerSoundTest, ShortSongAfterAnotherIsHeardWhole) {
    player.doubleClickEntry(1);
    ASSERT_TRUE(waitFor(toneOf(440), 5000)) << "the 440 Hz song is not heard";
    ASSERT_TRUE(waitFor(silent, 5000)) << "the 440 Hz song does not end";

    const long long from = recorder.frames();
    player.doubleClickEntry(3);
    ASSERT_TRUE(recorder.waitForFrames(from, 3 * PulseServer::kRateHz, 10000));
    const auto heard = recorder.left(from, recorder.frames() - from);
    const auto loud = [](std::int16_t sample) { return std::abs(sample) > kTone; };
    const auto first = std::find_if(heard.begin(), heard.end(), loud);
    ASSERT_TRUE(first != heard.end()) << "the short song is not heard";
    const auto last = std::find_if(heard.rbegin(), heard.rend(), loud).base();
    const std::vector<std::int16_t> song(first, last);
    // The sink's monitor may miss some milliseconds where a stream starts.
    EXPECT_NEAR(static_cast<double>(song.size()) / PulseServer::kRateHz, 0.3, 0.04);
    EXPECT_NEAR(toneFrequencyHz(song, PulseServer::kRateHz), 770, 20);
}

// Focused by the window manager, the playlist has a caret on its first entry but nothing
// selected: REMOVE has nothing to take, and next starts the first entry.
TEST_F(PlayerSoundTest, WithFocusAndNothingSelectedRemoveTakesNothingAndNextPlaysTheFirst) {
    giveFocus();
    clickRemove();
    clickNext();
    EXPECT_TRUE(waitFor(toneOf(1000), 5000)) << "next does not play the first entry";
}

// Neither a click on the empty area below the entries nor a right click moves the selection.
// REMOVE takes exactly the entry chosen and leaves nothing highlighted, so a second REMOVE takes
// nothing and next starts from the first entry again.
TEST_F(PlayerSoundTest, OneRemoveTakesExactlyTheSelectedEntryAndHighlightsNothing) {
    giveFocus();
    player.clickAt(PlayerProcess::entryPoint(1)); // "low"
    const QImage chosen = screenshot();
    const QColor highlight = chosen.pixelColor(kRightOfText, rowY(1));
    ASSERT_NE(highlight, chosen.pixelColor(kRightOfText, rowY(listRows() - 1)))
        << "the chosen entry is not highlighted";
    player.clickAt(PlayerProcess::entryPoint(listRows() - 2)); // the empty area below the entries
    player.clickAt(PlayerProcess::entryPoint(0), 1, 3);        // a right click on "high"
    EXPECT_EQ(rowsIn(highlight), std::vector<int>{1}) << "the highlight moved";

    clickRemove();
    EXPECT_TRUE(eventually([&] { return rowsIn(highlight).empty(); }))
        << "an entry is still highlighted after REMOVE";
    clickRemove();
    clickNext();
    EXPECT_TRUE(waitFor(toneOf(1000), 5000)) << "next does not play the first entry";
    clickNext();
    EXPECT_TRUE(waitFor(toneOf(880), 5000)) << "the entry after the removed one is gone";
}

TEST_F(PlayerSoundTest, VolumeSliderSetsTheLevelOfThePlayingSong) {
    player.doubleClickEntry(0);
    ASSERT_TRUE(waitFor(toneOf(1000), 5000)) << "the 1000 Hz song is not heard";
    const double full = levelOverHalfASecond();
    ASSERT_GT(full, kTone);

    // Focus the slider by clicking its thumb (at the right end, so the value stays 100).
    player.xdotool({"windowfocus", "--sync", windowId});
    player.clickAt(PlayerProcess::volumeThumbAtFull());
    player.xdotool({"key", "--delay", "50", "Next", "Next", "Next", "Next", "Next", "Next", "Next",
                    "Next", "Next", "Next"}); // ten pages of 5: 50
    const auto half = waitFor([&](const Sound& s) { return s.level < full * 0.8; }, 3000);
    ASSERT_TRUE(half) << "the level does not fall at volume 50";
    listenFor(300); // let the level settle
    // The slider's 0..100 is linear in amplitude: 50 is half the signal.
    EXPECT_NEAR(levelOverHalfASecond() / full, 0.5, 0.05);
    EXPECT_NEAR(latest().frequencyHz, 1000, 30) << "the tone is distorted at volume 50";

    player.xdotool({"key", "Home"});
    EXPECT_TRUE(waitFor(silent, 2000)) << "volume 0 is not silent";

    player.xdotool({"key", "End"});
    ASSERT_TRUE(waitFor(toneOf(1000), 2000)) << "volume 100 does not bring the song back";
    listenFor(300);
    EXPECT_NEAR(levelOverHalfASecond(), full, full * 0.1) << "volume 100 is not the full level";

    // The volume belongs to the player, not to one song: 0 still holds for the next one.
    player.xdotool({"key", "Home"});
    ASSERT_TRUE(waitFor(silent, 2000)) << "volume 0 is not silent";
    player.doubleClickEntry(1);
    listenFor(500);
    EXPECT_TRUE(silent(latest())) << "the next song ignores volume 0";
    // The slider again (the list took the focus): pages up from 0.
    player.clickAt(PlayerProcess::volumeThumbAtFull());
    player.xdotool({"key", "End"});
    EXPECT_TRUE(waitFor(toneOf(440), 2000)) << "volume 100 does not bring the next song in";
}

// The desktop's mixer turns the player's stream down to 80 % of the server's norm (still well
// heard); the next song's stream starts there instead of at the slider's 100.
TEST_F(PlayerSoundTest, VolumeSetInTheDesktopsMixerHoldsForTheNextSong) {
    player.doubleClickEntry(0);
    ASSERT_TRUE(waitFor(toneOf(1000), 5000)) << "the 1000 Hz song is not heard";
    const auto first = pulse.sinkInputs();
    ASSERT_EQ(first.size(), 1u);
    ASSERT_TRUE(
        pulse.pactl({"set-sink-input-volume", QString::number(first.front().index), "52429"}));

    player.doubleClickEntry(1);
    ASSERT_TRUE(waitFor(toneOf(440), 5000)) << "the 440 Hz song is not heard";
    const auto second = pulse.sinkInputs();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(second.front().index, first.front().index);
    // Within the rounding of the player's linear volume scale.
    EXPECT_NEAR(second.front().volume, 52429, 2)
        << "the next song went back to the player's volume";
}

TEST_F(PlayerSoundTest, ExitFromTheMenuWhilePlayingEndsCleanlyAndSilently) {
    player.doubleClickEntry(0);
    ASSERT_TRUE(waitFor(toneOf(1000), 5000)) << "the 1000 Hz song is not heard";

    ASSERT_TRUE(player.openMenu());
    player.xdotool({"key", "Up", "Return"}); // the last entry: Exit
    ASSERT_TRUE(player.waitForExit(5000)) << "the player does not end";
    EXPECT_EQ(player.exitCode(), 0);
    EXPECT_TRUE(waitFor(silent, 1000)) << "the song is still heard after the exit";
}

// Names as a Linux file system keeps them: extensions in capitals, and a folder path so full of
// spaces that, escaped, it did not fit the 255-character buffer of the short path.
class PlayerSoundNamesTest : public PlayerSoundTest {
protected:
    static constexpr const char* kLongFolder =
        "Various Artists Collection/The Very Best Of The Great American Songbook (Remastered "
        "Deluxe Edition 2011)/Disc 1 of 2 - Bonus Live Material";
    static constexpr const char* kLongName =
        "07 - It Had To Be You (Live At The Royal Albert Hall 1998).mp3";

    QString fillMusicFolder() override {
        // Listed by name: the long one is row 0, "Other" row 1, "SONG" row 2.
        const QString folder = kLongFolder;
        copySong("tone440-stereo-44k", folder + "/" + kLongName);
        copySong("tone880-stereo-44k", folder + "/Other.Mp3");
        copySong("tone1000-stereo-192k", folder + "/SONG.MP3");
        return tree.path(folder);
    }
};

TEST_F(PlayerSoundNamesTest, EntriesPlayWhateverTheCaseOfTheirNamesAndTheLengthOfTheirPaths) {
    const QString longPath = tree.path(QString(kLongFolder) + "/" + kLongName);
    ASSERT_GE(longPath.toUtf8().size(), 222);
    ASSERT_GE(longPath.count(' '), 33);
    const struct {
        int row;
        double hz;
        const char* song;
    } cases[] = {{0, 440, "the song at the end of the long path"},
                 {1, 880, "Other.Mp3"},
                 {2, 1000, "SONG.MP3"}};
    for (const auto& c : cases) {
        player.doubleClickEntry(c.row);
        EXPECT_TRUE(waitFor(toneOf(c.hz), 5000)) << c.song << " is not heard";
    }
}

} // namespace
