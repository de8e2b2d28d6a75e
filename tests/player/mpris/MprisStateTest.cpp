#include "player/mpris/MprisState.h"

#include <QDBusObjectPath>
#include <QStringList>
#include <gtest/gtest.h>

// What the desktop's media controls report, worked out from the engine's state without a bus.
namespace {

using audio::StreamMode;

audio::StreamInfo stream(StreamMode mode, const std::string& path = "/music/Song.MP3") {
    audio::StreamInfo info;
    info.mode = mode;
    info.path = path;
    info.rateHz = 48000;
    return info;
}

TEST(MprisStateTest, PlaybackStatusFollowsTheEngine) {
    const struct {
        std::optional<audio::StreamInfo> stream;
        const char* status;
    } cases[] = {
        {std::nullopt, "Stopped"}, // nothing played yet, or stopped and closed
        {stream(StreamMode::Playing), "Playing"},
        {stream(StreamMode::Paused), "Paused"},
        {stream(StreamMode::Stopped), "Stopped"}, // also a song that played to its end
    };
    for (const auto& c : cases)
        EXPECT_EQ(mpris::playbackStatus(c.stream), c.status);
}

TEST(MprisStateTest, MetadataNamesTheSongAsTheListDoesAndKeepsItsTrackId) {
    audio::StreamInfo tagged = stream(StreamMode::Playing, "/music/My Song.mp3");
    tagged.song = {"Tag Title", "Someone", "Some Album", 96000};
    const QVariantMap map = mpris::metadata(tagged, "file:///cache/art.png");
    EXPECT_EQ(map.value("xesam:title").toString(), "Tag Title");
    EXPECT_EQ(map.value("mpris:artUrl").toString(), "file:///cache/art.png");
    EXPECT_EQ(map.value("xesam:url").toString(), "file:///music/My%20Song.mp3");
    EXPECT_EQ(map.value("mpris:length").toLongLong(), 2000000);
    EXPECT_EQ(map.value("xesam:artist").toStringList(), QStringList{"Someone"});
    EXPECT_EQ(map.value("xesam:album").toString(), "Some Album");

    const auto trackId = [](const std::string& path) {
        return mpris::metadata(stream(StreamMode::Paused, path))
            .value("mpris:trackid")
            .value<QDBusObjectPath>()
            .path();
    };
    EXPECT_EQ(trackId("/music/My Song.mp3"),
              map.value("mpris:trackid").value<QDBusObjectPath>().path());
    EXPECT_NE(trackId("/music/My Song.mp3"), trackId("/music/Other.mp3"));
    EXPECT_TRUE(trackId("/music/My Song.mp3").startsWith("/org/quiva/track/"));

    const QVariantMap untagged = mpris::metadata(stream(StreamMode::Playing));
    EXPECT_EQ(untagged.value("xesam:title").toString(), "Song"); // ".MP3" goes too
    EXPECT_FALSE(untagged.contains("mpris:length"));
    EXPECT_FALSE(untagged.contains("xesam:artist"));
    EXPECT_FALSE(untagged.contains("mpris:artUrl"));
    EXPECT_TRUE(mpris::metadata(std::nullopt).isEmpty());
}

TEST(MprisStateTest, OnlyChangedPropertiesAreAnnounced) {
    const auto playing = mpris::Snapshot::of(stream(StreamMode::Playing), 100);
    const struct {
        mpris::Snapshot after;
        QStringList announced;
    } cases[] = {
        {playing, {}},
        {mpris::Snapshot::of(stream(StreamMode::Paused), 100), {"PlaybackStatus"}},
        {mpris::Snapshot::of(stream(StreamMode::Playing), 30), {"Volume"}},
        {mpris::Snapshot::of(stream(StreamMode::Playing, "/music/b.mp3"), 100), {"Metadata"}},
        {mpris::Snapshot::of(std::nullopt, 100),
         {"CanPause", "CanPlay", "Metadata", "PlaybackStatus"}},
        {mpris::Snapshot::of(stream(StreamMode::Playing), 100, {0, 3, true}), {"CanGoNext"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mpris::changedProperties(playing, c.after).keys(), c.announced);
}

// Each as the bar's handlers go: whether Play, Pause, Next and Previous would play (or pause).
TEST(MprisStateTest, CapabilitiesAreWhatTheHandlersWouldDo) {
    const struct {
        const char* state;
        std::optional<audio::StreamInfo> stream;
        mpris::Playlist playlist;
        mpris::Capabilities can; // play, pause, next, previous
    } cases[] = {
        {"empty list", std::nullopt, {-1, 0, false}, {0, 0, 0, 0}},
        {"none clicked: next selects the first", std::nullopt, {-1, 3, false}, {0, 0, 1, 0}},
        {"first entry: previous selects none", std::nullopt, {0, 3, true}, {1, 0, 1, 0}},
        {"last entry: next plays it again", stream(StreamMode::Paused), {2, 3, true}, {1, 1, 1, 1}},
        {"list cleared: the song again", stream(StreamMode::Playing), {-1, 0, true}, {1, 1, 1, 1}},
        {"played to its end", stream(StreamMode::Stopped), {-1, 0, true}, {1, 0, 1, 1}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(mpris::Capabilities::of(c.stream, c.playlist), c.can) << c.state;
}

} // namespace
