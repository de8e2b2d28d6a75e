#include "tests/support/PlayerProcess.h"
#include "tests/support/Poll.h"
#include "tests/support/Progress.h"
#include "tests/support/PulseServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <algorithm>
#include <gtest/gtest.h>
#include <numeric>
#include <random>

// Thousands of clicks in random order on everything the player offers, for a few minutes, with
// the volume control registered and sound going to a private PulseAudio server; then the
// program must still answer, at most one of its streams may play, its memory must have stopped
// growing, and Exit must end it cleanly. QUIVA_SOAK_SECONDS sets the duration (default 180),
// QUIVA_SOAK_SEED the order.
//
// Keys are only ever sent through the server (XTEST), once the window meant to take them is
// mapped. A key chained to a window found by `xdotool search` goes out as a synthetic event
// whenever that window lacks the focus; the question CLEAR asks closes on the press, so the
// release would be aimed at a window that is gone, xdotool would die of BadWindow, and the
// server would keep Return held down, swallowing the next Return press.

namespace {

const int kBarWidth = layout::pixels(layout::Image1).width();
constexpr int kWaitMs = 10000;
const QString kMainTitle = QStringLiteral("^Quiva Media Player$");
const QString kClearTitle = QStringLiteral("^Quiva - Clear Playlist\\?$");
const QString kAboutTitle = QStringLiteral("^About Quiva$");

// Click areas in window pixels. The cross, the minus and the menu's Exit are never used while
// soaking: they end or minimise the program.
const QRect kTitleStrip = layout::pixels(layout::Image2);
const QRect kTransport[] = {layout::pixels(layout::Image13), layout::pixels(layout::Image14),
                            layout::pixels(layout::Image15), layout::pixels(layout::Image16),
                            layout::pixels(layout::Image17)};
const QRect kSlider = layout::pixels(layout::SliderVol);
const QRect kRoundButton = layout::pixels(layout::Image5);
const QRect kAdd = layout::pixels(layout::Image7);
const QRect kRemove = layout::pixels(layout::Image8);
const QRect kClear = layout::pixels(layout::Image9);
const QRect kList = layout::pixels(layout::lstPls);
const QRect kAddDir = layout::pixels(layout::Image12);
const QRect kDone = layout::pixels(layout::Image11);

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

// Memory is sampled every 10 s, more often in short runs so that they too give several samples.
qint64 sampleIntervalMs() {
    return std::min(10000LL, durationSeconds() * 1000LL / 6);
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
        ASSERT_TRUE(pulse.running()) << "cannot start a private PulseAudio server";
        pulse.exportAddress(); // the player, the volume control and pactl all use it
        ASSERT_TRUE(registerVolumeControl()) << "cannot register the volume control";
        const QString music = tree.folder("music");
        const QDir tones(buildDir() + "/test-mp3s");
        for (const QString& name : tones.entryList({"*.mp3"}, QDir::Files))
            QFile::copy(tones.filePath(name), music + "/" + name);
        ASSERT_FALSE(QDir(music).isEmpty()) << "no tones: build the target quiva-test-mp3s";
        installBrowser();
        if (HasFatalFailure())
            return;
        windowId = player.start(settingsText(music));
        ASSERT_FALSE(windowId.isEmpty()) << "the player never showed";
        pid = player.xdotool({"getwindowpid", windowId});
        ASSERT_FALSE(pid.isEmpty());
        refreshGeometry();
    }

    // The menu's Information opens the desktop's web browser: here a script that notes the
    // address it was given.
    void installBrowser() {
        const QString script = tree.file("browser", "#!/bin/sh\necho \"$1\" >> \"$0.log\"\n");
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QDir config(qEnvironmentVariable("XDG_CONFIG_HOME"));
        const QDir data(qEnvironmentVariable("XDG_DATA_HOME"));
        ASSERT_TRUE(config.exists() && data.mkpath("applications"));
        writeFile(config.filePath("mimeapps.list"),
                  "[Default Applications]\nx-scheme-handler/http=soak-browser.desktop\n");
        writeFile(data.filePath("applications/soak-browser.desktop"),
                  "[Desktop Entry]\nType=Application\nName=Browser\nExec=" + script.toUtf8() +
                      " %u\n");
        browserLog = script + ".log";
    }

    static void writeFile(const QString& path, const QByteArray& content) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size())
            << path.toStdString();
    }

    int browserStarts() const { return int(readAll(browserLog).count('\n')); }

    QPoint pointIn(const QRect& a) {
        std::uniform_int_distribution<int> dx(0, a.width() - 1), dy(0, a.height() - 1);
        return {window.x() + a.x() + dx(random), window.y() + a.y() + dy(random)};
    }

    QStringList clickArgs(const QRect& a, int clicks = 1) {
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

    // The actions the window offers at its present size. Plain clicks cost little, the others
    // wait for the window to answer: plain ones are made likelier, so that thousands fit.
    std::vector<Action> available() const {
        std::vector<Action> all{Action::Title,     Action::Title,     Action::Transport,
                                Action::Transport, Action::Transport, Action::Transport,
                                Action::Transport, Action::Slider,    Action::Slider,
                                Action::Menu};
        if (window.height() >= kPanelHeightPx)
            all.insert(all.end(), {Action::Add, Action::Remove, Action::Clear, Action::ListClick,
                                   Action::ListClick, Action::ListClick, Action::ListDouble,
                                   Action::ListDouble, Action::ListDouble});
        if (window.width() > kBarWidth && window.height() >= kPanelHeightPx)
            all.insert(all.end(), {Action::AddDir, Action::AddDir, Action::Done});
        return all;
    }

    // Plain clicks change nothing about the window's size: they are sent in batches, so that
    // thousands fit in a few minutes.
    void perform(Action action) {
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
        const int count = action == Action::ListDouble ? 2 : 1;
        pending += clickArgs(plainArea(action), count);
        clicks += count;
        if (++pendingCount >= kBatch)
            flush();
    }

    QRect plainArea(Action action) {
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
        if (!pending.isEmpty()) {
            player.xdotool(pending);
            countStreams();
        }
        pending.clear();
        pendingCount = 0;
    }

    // The window under the mouse pointer, as xdotool numbers windows.
    QString windowUnderPointer() const {
        const QString shell = player.xdotool({"getmouselocation", "--shell"});
        for (const QString& line : shell.split('\n'))
            if (line.startsWith("WINDOW="))
                return line.mid(7);
        return {};
    }

    // Polls (xdotool's own --sync polls only twice a second) until done() holds; false after a
    // time-out.
    template <typename Done> static bool waitUntil(Done done) { return eventually(done, kWaitMs); }

    bool waitForWindowUnderPointer(bool mainWindow) const {
        return waitUntil([&] { return (windowUnderPointer() == frameId) == mainWindow; });
    }

    // The first visible window whose title matches, or empty.
    QString visibleWindow(const QString& title) const {
        return player.xdotool({"search", "--onlyvisible", "--name", title}).section('\n', 0, 0);
    }

    QString waitForVisible(const QString& title) const {
        QString found;
        waitUntil([&] { return !(found = visibleWindow(title)).isEmpty(); });
        return found;
    }

    bool waitUntilGone(const QString& title) const {
        return waitUntil([&] { return visibleWindow(title).isEmpty(); });
    }

    // Opens the menu with the round button and presses keys in it. The menu opens at the
    // pointer, so it is mapped once the pointer is over a window other than the main one.
    bool openMenuAndPress(const QStringList& keys) {
        ++clicks;
        player.xdotool(clickArgs(kRoundButton));
        if (!waitForWindowUnderPointer(false)) {
            ADD_FAILURE() << "the menu did not open";
            return false;
        }
        player.xdotool(QStringList{"key"} + keys);
        return true;
    }

    // The menu has closed once the pointer is over the main window again.
    bool chooseFromMenu(const QStringList& keys) {
        if (!openMenuAndPress(keys))
            return false;
        if (!waitForWindowUnderPointer(true)) {
            ADD_FAILURE() << "the menu stayed open after " << keys.join(' ').toStdString();
            return false;
        }
        return true;
    }

    // One of the menu's entries but Exit (Hide/Show Playlist, Information, About), or none.
    void toggleOrCloseMenu() {
        switch (std::uniform_int_distribution<int>(0, 5)(random)) {
        case 0:
        case 1:
            chooseFromMenu({"Down", "Return"});
            return refreshGeometry();
        case 2:
        case 3:
            chooseFromMenu({"Escape"});
            return;
        case 4:
            if (chooseFromMenu({"Down", "Down", "Return"}))
                ++informationChosen;
            return;
        default:
            return showAndCloseAbout();
        }
    }

    // About stands in front of the main window until Escape (its OK) closes it.
    void showAndCloseAbout() {
        if (!openMenuAndPress({"Down", "Down", "Down", "Return"}))
            return;
        const QString about = waitForVisible(kAboutTitle);
        if (about.isEmpty())
            return ADD_FAILURE() << "About did not show";
        player.xdotool({"windowfocus", "--sync", about});
        player.xdotool({"key", "Escape"});
        if (!waitUntilGone(kAboutTitle))
            return ADD_FAILURE() << "About stayed open after Escape";
        EXPECT_FALSE(waitForVisible(kMainTitle).isEmpty())
            << "the window stayed hidden after About";
        refreshGeometry();
    }

    void resizingClick(const QRect& a) {
        ++clicks;
        player.xdotool(clickArgs(a));
        refreshGeometry();
    }

    // CLEAR hides the window behind a modal question; it is answered Yes (Return) or No
    // (Escape) once it is focused, and the window must come back.
    void clearAndAnswer() {
        ++clicks;
        player.xdotool(clickArgs(kClear));
        const QString question = waitForVisible(kClearTitle);
        if (question.isEmpty())
            return ADD_FAILURE() << "CLEAR asked nothing";
        const bool yes = std::bernoulli_distribution(0.5)(random);
        player.xdotool({"windowfocus", "--sync", question});
        player.xdotool({"key", yes ? "Return" : "Escape"});
        EXPECT_FALSE(waitForVisible(kMainTitle).isEmpty())
            << "the window stayed hidden after CLEAR";
        refreshGeometry();
    }

    // The window manager frames the window anew each time it is shown again.
    void refreshGeometry() {
        window = player.geometry(windowId);
        frameId = player.topLevel(windowId);
    }

    // Streams connected to the test server (the player's), or -1 when pactl cannot tell.
    static int playbackStreams() {
        QProcess pactl;
        pactl.start("pactl", {"list", "short", "sink-inputs"});
        if (!pactl.waitForFinished(5000) || pactl.exitCode() != 0)
            return -1;
        const QString out = QString::fromUtf8(pactl.readAllStandardOutput()).trimmed();
        return out.isEmpty() ? 0 : int(out.count('\n')) + 1;
    }

    void countStreams() {
        const int streams = playbackStreams();
        EXPECT_GE(streams, 0) << "pactl cannot list the streams";
        EXPECT_LE(streams, 1) << "several songs play at once after " << clicks << " clicks";
        if (streams == 1)
            ++timesPlaying;
    }

    TempTree tree;
    PulseServer pulse;
    PlayerProcess player{tree};
    QString windowId;
    QString frameId; // what the pointer reports over the main window
    QString pid;
    QRect window;
    std::mt19937 random;
    int clicks = 0;
    QStringList pending;
    int pendingCount = 0;
    int timesPlaying = 0;
    int informationChosen = 0;
    QString browserLog;
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
    while (elapsed.elapsed() < durationSeconds() * 1000LL && !HasFailure()) {
        const std::vector<Action> choices = available();
        std::uniform_int_distribution<size_t> pick(0, choices.size() - 1);
        perform(choices[pick(random)]);
        if (sinceSample.elapsed() >= sampleIntervalMs()) {
            rss.push_back(residentKb(pid));
            ASSERT_GT(rss.back(), 0) << "the player died after " << clicks << " clicks";
            sinceSample.start();
            reportProgress(QStringLiteral("%1 of %2 s, %3 clicks")
                               .arg(elapsed.elapsed() / 1000)
                               .arg(durationSeconds())
                               .arg(clicks));
        }
    }
    flush();
    std::printf("%d clicks (Information %d times); a song played at %d of the checks; RSS "
                "samples (kB):",
                clicks, informationChosen, timesPlaying);
    for (long kb : rss)
        std::printf(" %ld", kb);
    std::printf("\n");
    ASSERT_FALSE(HasFailure()) << "seed " << chosenSeed;

    ASSERT_GT(residentKb(pid), 0) << "the player died";
    countStreams();
    EXPECT_GT(timesPlaying, 0) << "no song ever played into the test server";
    waitUntil([&] { return browserStarts() >= informationChosen; });
    EXPECT_EQ(browserStarts(), informationChosen) << "Information did not always start the browser";

    ASSERT_GE(rss.size(), 3u);
    const size_t third = rss.size() / 3;
    const double middle = mean(rss, third, 2 * third);
    const double last = mean(rss, 2 * third, rss.size());
    EXPECT_LE(last, middle * 1.10 + 8 * 1024) << "memory still grows";

    // Still answering: the menu shows or hides the playlist, then Exit ends the program.
    const int heightBefore = window.height();
    ASSERT_TRUE(chooseFromMenu({"Down", "Return"}));
    EXPECT_TRUE(waitUntil([&] { return player.geometry(windowId).height() != heightBefore; }))
        << "the menu's Hide/Show Playlist did nothing";
    refreshGeometry();
    ASSERT_TRUE(openMenuAndPress({"Up", "Return"}));
    ASSERT_TRUE(player.waitForExit(15000)) << "Exit did not end the program";
    EXPECT_EQ(player.exitCode(), 0) << "a sanitizer error or a failed shutdown";
}

} // namespace
