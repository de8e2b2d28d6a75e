#include "player/mpris/MprisPlayer.h"

#include "platform/audio/NullOutput.h"
#include "platform/ui/Label.h"
#include "player/mpris/CoverArt.h"
#include "tests/platform/audio/TestSongs.h"
#include "tests/player/frmmain/MainWindowFixture.h"
#include "tests/support/Poll.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QUrl>
#include <QtEndian>
#include <functional>

namespace {

// A PNG picture in an ID3v2.3 tag's APIC frame (as a front cover), ahead of the 3 s song.
QByteArray songWithPicture(const QByteArray& png) {
    const QByteArray body = QByteArray("\0image/png\0\x03\0", 13) + png;
    const QByteArray frame =
        "APIC" + QByteArray(6, '\0') + body; // its size is written below; no flags
    QByteArray tag = QByteArray("ID3\x03\0\0", 6) + QByteArray(4, '\0') + frame;
    qToBigEndian(quint32(body.size()), tag.data() + 14);
    for (int i = 0; i < 4; ++i) // synch-safe size: 7 bits a byte
        tag[9 - i] = char((frame.size() >> (7 * i)) & 0x7f);
    return tag + readAll(QString::fromStdString(testSong("tone440-stereo-44k")));
}

// The real window and engine (on a silent output), driven as the desktop drives them.
class MprisPlayerTest : public MainWindowTest {
protected:
    void SetUp() override {
        MainWindowTest::SetUp();
        audio::Engine::instance().setOutput(std::make_unique<audio::NullOutput>());
        // Long songs, so that none ends by itself during a test.
        for (const char* name : {"a", "b", "c"})
            ASSERT_TRUE(QFile::copy(QString::fromStdString(testSong("tone1000-stereo-192k")),
                                    tree.folder("music") + "/" + name + ".mp3"));
        writeSettings("[quiva]\ndir=" + tree.path("music").toUtf8() + "/\n");
        load();
        player = std::make_unique<mpris::Player>(*window);
    }
    void TearDown() override {
        player.reset();
        window->Command1_Click();
        audio::Engine::instance().setOutput(nullptr);
        MainWindowTest::TearDown();
    }

    std::string status() const { return player->snapshot().playbackStatus.toStdString(); }
    std::string title() const {
        return player->snapshot().metadata.value("xesam:title").toString().toStdString();
    }
    void doubleClick(int row) {
        window->lstPls->setListIndex(row);
        window->lstPls_DblClick();
    }

    std::unique_ptr<mpris::Player> player;
};

// Each step as the desktop (or the user) takes it, and what the player is then.
TEST_F(MprisPlayerTest, ActionsRunTheButtonsHandlersWithTheirEdgeCases) {
    using mpris::Player;
    const struct {
        const char* step;
        std::function<void()> action;
        const char* status;
        const char* title; // the song playing, as its entry reads
        const char* lblmute;
    } steps[] = {
        {"pause with nothing open does nothing", [&] { player->pause(); }, "Stopped", "", "play"},
        {"play with nothing selected plays nothing", [&] { player->play(); }, "Stopped", "",
         "play"},
        {"play after a single click plays that entry",
         [&] {
             window->lstPls->setListIndex(0);
             player->play();
         },
         "Playing", "a", "play"},
        {"pause", [&] { player->pause(); }, "Paused", "a", "pause"},
        {"the user double-clicks another entry while paused", [&] { doubleClick(1); }, "Playing",
         "b", "pause"},
        {"pause takes the button twice: its word was behind", [&] { player->pause(); }, "Paused",
         "b", "pause"},
        {"play-pause resumes", [&] { player->playPause(); }, "Playing", "b", "play"},
        {"play while playing does nothing", [&] { player->play(); }, "Playing", "b", "play"},
        {"play-pause pauses", [&] { player->playPause(); }, "Paused", "b", "pause"},
        {"stop", [&] { player->stop(); }, "Stopped", "", "pause"},
        {"play after stop plays the selected entry again", [&] { player->play(); }, "Playing", "b",
         "pause"},
        {"next", [&] { player->next(); }, "Playing", "c", "pause"},
        {"next on the last entry plays it again", [&] { player->next(); }, "Playing", "c", "pause"},
        {"previous", [&] { player->previous(); }, "Playing", "b", "pause"},
        {"open a song of the playlist plays it as a double click",
         [&] {
             EXPECT_FALSE(player->openUri(QUrl::fromLocalFile(tree.path("music/a.mp3")).toString())
                              .isValid());
         },
         "Playing", "a", "pause"},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        s.action();
        EXPECT_EQ(status(), s.status);
        EXPECT_EQ(title(), s.title);
        EXPECT_EQ(window->lblmute.toStdString(), s.lblmute);
    }
    EXPECT_EQ(window->lstPls->listIndex(), 0);
    EXPECT_EQ(window->lbl->caption(), "a");
}

TEST_F(MprisPlayerTest, OpenRefusesWhatTheListWouldNotPlayAsThatFile) {
    doubleClick(1);
    tree.file("elsewhere/a.mp3");
    tree.file("music/A.mp3"); // the list has "a": it would play a.mp3, another file
    for (const QString& uri : {QUrl::fromLocalFile(tree.path("elsewhere/a.mp3")).toString(),
                               QUrl::fromLocalFile(tree.path("music/A.mp3")).toString(),
                               QUrl::fromLocalFile(tree.path("music/none.mp3")).toString(),
                               "file://example.org" + tree.path("music/a.mp3"),
                               QStringLiteral("http://example.org/a.mp3"), QStringLiteral("")}) {
        SCOPED_TRACE(uri.toStdString());
        EXPECT_EQ(player->openUri(uri).type(), QDBusError::NotSupported);
        EXPECT_EQ(title(), "b");
        EXPECT_EQ(window->lstPls->listIndex(), 1);
    }
}

// Every entry opens by the address the player reports, whatever its extension's case; one that
// does not decode is an error.
TEST_F(MprisPlayerTest, OpenPlaysEveryListedSongAsTheWindowPlaysIt) {
    ASSERT_TRUE(QFile::copy(QString::fromStdString(testSong("tone440-stereo-44k")),
                            tree.path("music/03 Gamma.MP3")));
    tree.file("music/broken.mp3", "no sound");
    window->lstPls->addItems({"03 Gamma", "broken"});
    doubleClick(3);
    const QString reported = player->snapshot().metadata.value("xesam:url").toString();
    for (const QString& uri :
         {reported, QString(reported).replace("file://", "file://LocalHost")}) {
        window->Image16_Click();
        EXPECT_FALSE(player->openUri(uri).isValid()) << uri.toStdString();
        EXPECT_EQ(title(), "03 Gamma");
    }
    const QString broken = QUrl::fromLocalFile(tree.path("music/broken.mp3")).toString();
    EXPECT_EQ(player->openUri(broken).type(), QDBusError::Failed);
    EXPECT_EQ(title(), "");
}

TEST_F(MprisPlayerTest, VolumeMovesTheSliderWithinItsRange) {
    const struct {
        double volume;
        int slider;
    } cases[] = {{0.3, 30}, {0.304, 30}, {1.0, 100}, {-0.5, 0}, {2.0, 100}, {0.0, 0}};
    for (const auto& c : cases) {
        player->setVolume(c.volume);
        EXPECT_EQ(window->SliderVol->value(), c.slider) << c.volume;
        EXPECT_DOUBLE_EQ(player->snapshot().volume, c.slider / 100.0);
    }
}

// The desktop hears of every change the window makes, once the handler has finished, and of a
// song that the engine alone ends (closing it here, as the menu's Exit does).
TEST_F(MprisPlayerTest, ChangesMadeThroughTheWindowAreAnnounced) {
    QSignalSpy announced(player.get(), &mpris::Player::propertiesChanged);
    QSignalSpy seeked(player.get(), &mpris::Player::seeked);
    const auto next = [&] {
        announced.clear();
        return announced.wait(5000) ? announced.takeFirst().at(0).toMap() : QVariantMap{};
    };
    window->lstPls->setListIndex(0); // a click chooses the song that play plays
    EXPECT_EQ(next(), (QVariantMap{{"CanPlay", true}}));
    doubleClick(2);
    QVariantMap changed = next();
    EXPECT_EQ(changed.value("PlaybackStatus").toString(), "Playing");
    EXPECT_EQ(changed.value("Metadata").toMap().value("xesam:title").toString(), "c");

    window->Image15_Click();
    EXPECT_EQ(next(), (QVariantMap{{"PlaybackStatus", "Paused"}}));
    EXPECT_EQ(seeked.size(), 0); // neither a new song nor a pause jumps

    doubleClick(2); // the paused song starts again
    EXPECT_EQ(next(), (QVariantMap{{"PlaybackStatus", "Playing"}}));
    EXPECT_EQ(seeked.size(), 1);
    player->next(); // on the last entry: from its start again, playing on
    ASSERT_TRUE(seeked.size() == 2 || seeked.wait(5000));
    EXPECT_LE(seeked.last().at(0).toLongLong(), player->positionUs());

    window->SliderVol->setValue(40);
    EXPECT_EQ(announced.size(), 1); // at once: the slider's own signal
    EXPECT_EQ(announced.takeFirst().at(0).toMap(), (QVariantMap{{"Volume", 0.4}}));

    window->menu().mnuExit_Click();
    changed = next();
    EXPECT_EQ(changed.value("PlaybackStatus").toString(), "Stopped");
    EXPECT_TRUE(changed.value("Metadata").toMap().isEmpty());
}

TEST_F(MprisPlayerTest, MetadataComesFromTheSongFile) {
    ASSERT_TRUE(QFile::copy(QString::fromStdString(testSong("tone550-stereo-48k-id3")),
                            tree.path("music/tagged.mp3")));
    window->Image12_Click(); // nothing chosen: the list stays; then open it as a double click
    window->lstPls->addItem("tagged");
    ASSERT_FALSE(
        player->openUri(QUrl::fromLocalFile(tree.path("music/tagged.mp3")).toString()).isValid());
    const QVariantMap map = player->snapshot().metadata;
    EXPECT_EQ(map.value("xesam:title").toString(), "Test Tone");
    EXPECT_EQ(map.value("xesam:artist").toStringList(), QStringList{"Quiva Tests"});
    EXPECT_EQ(map.value("xesam:album").toString(), "Tones");
    EXPECT_EQ(map.value("mpris:length").toLongLong(), 2000000);
}

// The tag's picture (written into the cache once), else the folder's cover, else none; the
// player announces it once found.
TEST_F(MprisPlayerTest, ArtIsTheTagsPictureElseTheFoldersCover) {
    qputenv("XDG_CACHE_HOME", tree.folder("cache").toLocal8Bit());
    QImage image(2, 2, QImage::Format_RGB32);
    image.fill(Qt::red);
    QBuffer png;
    ASSERT_TRUE(png.open(QIODevice::WriteOnly) && image.save(&png, "PNG"));
    const QString pictured = tree.file("music/pictured.mp3", songWithPicture(png.data()));
    tree.file("music/cover.jpg", "the tag's picture comes first");
    const QString covered = tree.file("covered/song.mp3");
    tree.file("covered/Folder.jpg");
    const QString cover = tree.file("covered/COVER.png");

    const QString cachedUrl = mpris::coverArtUrl(pictured);
    const QString cached = QUrl(cachedUrl).toLocalFile();
    EXPECT_TRUE(cached.startsWith(tree.path("cache/quiva/art/"))) << cached.toStdString();
    EXPECT_EQ(readAll(cached), png.data());
    EXPECT_EQ(QUrl(mpris::coverArtUrl(covered)).toLocalFile(), cover);
    EXPECT_EQ(mpris::coverArtUrl(tree.file("bare/song.mp3")), "");

    QSignalSpy announced(player.get(), &mpris::Player::propertiesChanged);
    window->lstPls->addItem("pictured");
    ASSERT_FALSE(player->openUri(QUrl::fromLocalFile(pictured).toString()).isValid());
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return !announced.isEmpty() &&
                   announced.last().at(0).toMap().value("Metadata").toMap().value("mpris:artUrl") ==
                       cachedUrl;
        },
        kPatienceMs));
    qunsetenv("XDG_CACHE_HOME");
}

} // namespace
