#include "tests/support/PlayerProcess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <algorithm>
#include <gtest/gtest.h>
#include <numeric>
#include <random>

// Thousands of clicks in random order on everything the player offers, for a few minutes; then
// the program must still answer, its memory must have stopped growing, and Exit must end it
// cleanly. QUIVA_SOAK_SECONDS sets the duration (default 180), QUIVA_SOAK_SEED the order.

namespace {

constexpr int kBarWidth = 293;
constexpr int kPanelHeight = 372;
constexpr int kSampleIntervalMs = 10000;

struct Area {
    int x, y, width, height;
};

// Click areas in window pixels. The cross, the minus and the menu's Exit are never used while
// soaking: they end or minimise the program.
constexpr Area kTitleStrip{0, 0, 257, 17};
constexpr Area kTransport[] = {
    {8, 45, 25, 13}, {37, 45, 25, 13}, {67, 45, 25, 13}, {97, 45, 25, 13}, {128, 45, 25, 13}};
constexpr Area kSlider{160, 48, 105, 9};
constexpr Area kRoundButton{275, 48, 13, 13};
constexpr Area kAdd{41, 315, 65, 17};
constexpr Area kRemove{112, 315, 60, 17};
constexpr Area kClear{180, 315, 65, 17};
constexpr Area kList{16, 96, 259, 208};
constexpr Area kAddDir{440, 180, 73, 17};
constexpr Area kDone{517, 179, 73, 17};

enum class Action {
    Title,
    Transport,
    Slider,
    Menu,
    Add,
    Remove,
    Clear,
    ListClick,
    ListDouble,
    AddDir,
    Done
};

int durationSeconds() {
    bool ok = false;
    const int seconds = qEnvironmentVariableIntValue("QUIVA_SOAK_SECONDS", &ok);
    return ok && seconds > 0 ? seconds : 180;
}

unsigned seed() {
    bool ok = false;
    const unsigned fixed = qEnvironmentVariable("QUIVA_SOAK_SEED").toUInt(&ok);
    return ok ? fixed : std::random_device{}();
}

// Resident memory of a process in kB, or -1 when it is gone.
long residentKb(const QString& pid) {
    QFile status("/proc/" + pid + "/status");
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

double mean(const std::vector<long>& v, size_t from, size_t to) {
    return std::accumulate(v.begin() + long(from), v.begin() + long(to), 0.0) / double(to - from);
}

class SoakTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A freed-memory quarantine (ASan) would look like growth: keep it small.
        const QByteArray asan = qgetenv("ASAN_OPTIONS");
        qputenv("ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") + "quarantine_size_mb=4");
        const QString music = tree.folder("music");
        const QDir tones(qEnvironmentVariable("QUIVA_BUILD_DIR") + "/test-mp3s");
        for (const QString& name : tones.entryList({"*.mp3"}, QDir::Files))
            QFile::copy(tones.filePath(name), music + "/" + name);
        ASSERT_FALSE(QDir(music).isEmpty()) << "no tones: build the target quiva-test-mp3s";
        tree.file("program/quiva.ini", "[quiva]\nDIR=" + music.toUtf8() + "/\nHEIGHT=5580\n");
        ASSERT_TRUE(player.start()) << "cannot start the player on a private X server";
        windowId = player.waitForWindow();
        ASSERT_FALSE(windowId.isEmpty()) << "the main window never showed";
        pid = player.xdotool({"getwindowpid", windowId});
        ASSERT_FALSE(pid.isEmpty());
        window = player.geometry(windowId);
    }

    QPoint pointIn(const Area& a) {
        std::uniform_int_distribution<int> dx(0, a.width - 1), dy(0, a.height - 1);
        return {window.x() + a.x + dx(random), window.y() + a.y + dy(random)};
    }

    QStringList clickArgs(const Area& a, int clicks = 1) {
        const QPoint p = pointIn(a);
        return {"mousemove",
                QString::number(p.x()),
                QString::number(p.y()),
                "click",
                "--repeat",
                QString::number(clicks),
                "--delay",
                "60",
                "1"};
    }

    // The actions the window offers at its present size.
    std::vector<Action> available() const {
        std::vector<Action> all{Action::Title,     Action::Transport, Action::Transport,
                                Action::Transport, Action::Slider,    Action::Menu};
        if (window.height() >= kPanelHeight)
            all.insert(all.end(), {Action::Add, Action::Remove, Action::Clear, Action::ListClick,
                                   Action::ListClick, Action::ListDouble, Action::ListDouble});
        if (window.width() > kBarWidth && window.height() >= kPanelHeight)
            all.insert(all.end(), {Action::AddDir, Action::Done});
        return all;
    }

    // Plain clicks change nothing about the window's size: they are sent in batches, so that
    // thousands fit in a few minutes.
    void perform(Action action) {
        ++clicks;
        switch (action) {
        case Action::Menu:
            flush();
            return toggleOrCloseMenu();
        case Action::Add:
            flush();
            return resizingClick(kAdd);
        case Action::Done:
            flush();
            return resizingClick(kDone);
        case Action::Clear:
            flush();
            return clearAndAnswer();
        default:
            break;
        }
        pending += clickArgs(plainArea(action), action == Action::ListDouble ? 2 : 1);
        if (++pendingCount >= kBatch)
            flush();
    }

    Area plainArea(Action action) {
        switch (action) {
        case Action::Title:
            return kTitleStrip;
        case Action::Slider:
            return kSlider;
        case Action::Remove:
            return kRemove;
        case Action::AddDir:
            return kAddDir;
        case Action::ListClick:
        case Action::ListDouble:
            return kList;
        default:
            return kTransport[std::uniform_int_distribution<int>(0, 4)(random)];
        }
    }

    void flush() {
        if (!pending.isEmpty())
            player.xdotool(pending);
        pending.clear();
        pendingCount = 0;
    }

    // Opens the menu and either takes its first entry (Hide/Show Playlist) or closes it.
    void toggleOrCloseMenu() {
        const bool toggle = std::bernoulli_distribution(0.5)(random);
        player.xdotool(clickArgs(kRoundButton) + QStringList{"sleep", "0.3", "key"} +
                       (toggle ? QStringList{"Down", "Return"} : QStringList{"Escape"}));
        if (toggle)
            refreshGeometry();
    }

    void resizingClick(const Area& a) {
        player.xdotool(clickArgs(a));
        refreshGeometry();
    }

    // CLEAR hides the window behind a modal question; answer it and wait for the window. While
    // the main window is hidden, the question is the one visible window of the program.
    void clearAndAnswer() {
        player.xdotool(clickArgs(kClear));
        bool shown = false;
        for (int attempt = 0; attempt < 5 && !shown; ++attempt) {
            runOnDisplay(player.x().display(), "timeout",
                         {"4", "xdotool", "search", "--sync", "--onlyvisible", "--class", "quiva",
                          "windowfocus", "sleep", "0.2", "key", "Return"});
            QThread::msleep(300);
            shown = !player.xdotool({"search", "--onlyvisible", "--name", "^Quiva Media Player$"})
                         .isEmpty();
        }
        EXPECT_TRUE(shown) << "the window stayed hidden after CLEAR";
        refreshGeometry();
    }

    void refreshGeometry() {
        QThread::msleep(150);
        window = player.geometry(windowId);
    }

    TempTree tree;
    PlayerProcess player{tree};
    QString windowId;
    QString pid;
    QRect window;
    std::mt19937 random;
    int clicks = 0;
    QStringList pending;
    int pendingCount = 0;
    static constexpr int kBatch = 12;
};

TEST_F(SoakTest, ThousandsOfRandomClicksLeaveTheProgramAliveAndItsMemoryFlat) {
    const unsigned chosenSeed = seed();
    std::printf("soak seed %u (QUIVA_SOAK_SEED), %d s\n", chosenSeed, durationSeconds());
    random.seed(chosenSeed);

    std::vector<long> rss;
    QElapsedTimer elapsed, sinceSample;
    elapsed.start();
    sinceSample.start();
    while (elapsed.elapsed() < durationSeconds() * 1000LL) {
        const std::vector<Action> choices = available();
        std::uniform_int_distribution<size_t> pick(0, choices.size() - 1);
        perform(choices[pick(random)]);
        if (sinceSample.elapsed() >= kSampleIntervalMs) {
            rss.push_back(residentKb(pid));
            ASSERT_GT(rss.back(), 0) << "the player died after " << clicks << " actions";
            sinceSample.start();
        }
    }
    flush();
    std::printf("%d actions; RSS samples (kB):", clicks);
    for (long kb : rss)
        std::printf(" %ld", kb);
    std::printf("\n");

    ASSERT_GE(rss.size(), 3u);
    const size_t third = rss.size() / 3;
    const double middle = mean(rss, third, 2 * third);
    const double last = mean(rss, 2 * third, rss.size());
    EXPECT_LE(last, middle * 1.10 + 8 * 1024) << "memory still grows";

    // Still answering: the menu shows or hides the playlist, then Exit ends the program. The
    // menu is given time to map, so that the keys do not reach the playlist behind it.
    player.xdotool({"key", "Escape"});
    ASSERT_FALSE(player.waitForWindow().isEmpty());
    refreshGeometry();
    if (window.width() > kBarWidth && window.height() >= kPanelHeight)
        resizingClick(kDone); // the closing checks run on the plain player
    const int heightBefore = window.height();
    player.xdotool(clickArgs(kRoundButton) + QStringList{"sleep", "1.5", "key", "Down", "Return"});
    bool resized = false;
    for (int i = 0; i < 100 && !resized; ++i) {
        QThread::msleep(50);
        resized = player.geometry(windowId).height() != heightBefore;
    }
    EXPECT_TRUE(resized) << "the menu no longer works; windows on the display:\n"
                         << qPrintable(
                                runOnDisplay(player.x().display(), "xwininfo", {"-root", "-tree"}));
    refreshGeometry();
    player.xdotool(clickArgs(kRoundButton) + QStringList{"sleep", "1.5", "key", "Up", "Return"});
    ASSERT_TRUE(player.waitForExit(15000)) << "Exit did not end the program";
    EXPECT_EQ(player.exitCode(), 0) << "a sanitizer error or a failed shutdown";
}

} // namespace
