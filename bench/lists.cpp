// Playlist list procedures at sizes well past any real music folder.
#include "player/ListUtils.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

namespace {

constexpr int kRuns = 5;

double medianMs(const std::function<void()>& prepare, const std::function<void()>& measured) {
    std::vector<double> times;
    for (int run = 0; run < kRuns; ++run) {
        prepare();
        QElapsedTimer timer;
        timer.start();
        measured();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void row(const char* what, double ms, const char* target) {
    std::printf("| %s | %.1f ms (median of %d) | %s |\n", what, ms, kRuns, target);
}

QString fillFolder(const QTemporaryDir& dir, int files) {
    for (int i = 0; i < files; ++i) {
        QFile file(dir.filePath(QString("Artist %1 - Track %2.mp3").arg(i % 97).arg(i)));
        file.open(QIODevice::WriteOnly);
    }
    return dir.path() + "/";
}

QStringList entriesWithDuplicates(int count) {
    std::mt19937 random(42);
    std::uniform_int_distribution<int> name(0, count / 5);
    std::bernoulli_distribution upper(0.3);
    QStringList entries;
    entries.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString entry = QString("Some Artist - Track %1.mp3").arg(name(random));
        entries << (upper(random) ? entry.toUpper() : entry);
    }
    return entries;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir folder;
    const QString directory = fillFolder(folder, 10000);
    ListBox list;
    row("AddDirectoryFiles, 10,000 MP3 files",
        medianMs([&] { list.setItems({}); }, [&] { AddDirectoryFiles(list, directory, "*.mp3"); }),
        "< 100 ms");
    row("StripListExtension, 10,000 entries",
        medianMs(
            [&] {
                list.setItems({});
                AddDirectoryFiles(list, directory, "*.mp3");
            },
            [&] { StripListExtension(list, ".mp3"); }),
        "< 100 ms");

    const QStringList entries = entriesWithDuplicates(100000);
    int removed = 0;
    const double dedupMs =
        medianMs([&] { list.setItems(entries); }, [&] { removed = RemoveDuplicateEntries(list); });
    char what[128];
    std::snprintf(what, sizeof what, "RemoveDuplicateEntries, 100,000 entries (%d left)",
                  list.listCount());
    row(what, dedupMs, "< 500 ms");
    return removed > 0 ? 0 : 1;
}
