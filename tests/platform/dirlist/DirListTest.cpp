// The directory list shows its own folder pictures: an open folder on the current directory and
// its ancestors, a closed one on each subdirectory, shared by all entries of a kind.

#include "platform/ui/DirList.h"
#include "tests/support/TempTree.h"

#include <QDir>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

QString entryPath(const DirList& list, int row) {
    return list.item(row)->data(Qt::UserRole).toString();
}

} // namespace

TEST(DirListTest, OpensTheCurrentDirectoryAndItsAncestorsAndClosesItsSubdirectories) {
    TempTree tree;
    const QString music = QDir::cleanPath(tree.folder(QStringLiteral("music")));
    tree.folder(QStringLiteral("music/a"));
    tree.folder(QStringLiteral("music/b"));
    DirList list;
    ASSERT_TRUE(list.setPath(music));

    const int current = list.currentRow();
    ASSERT_EQ(entryPath(list, current), music);
    ASSERT_EQ(list.count(), current + 3) << "two subdirectories below the current directory";
    const QIcon open = list.item(current)->icon();
    const QIcon closed = list.item(current + 1)->icon();
    ASSERT_FALSE(open.isNull());
    ASSERT_FALSE(closed.isNull());
    EXPECT_EQ(open.availableSizes(), (QList<QSize>{QSize(16, 16), QSize(32, 32)}));
    // Two device pixels a window pixel get the folder drawn for them, not the small one doubled.
    EXPECT_EQ(open.pixmap(QSize(16, 16), 2.0).toImage().convertToFormat(QImage::Format_ARGB32),
              QImage(":/platform/folder-open@2x.png").convertToFormat(QImage::Format_ARGB32));
    EXPECT_NE(open.pixmap(16).toImage(), closed.pixmap(16).toImage());
    for (int row = 0; row < list.count(); ++row) {
        const QIcon& expected = row <= current ? open : closed;
        EXPECT_EQ(list.item(row)->icon().cacheKey(), expected.cacheKey()) << row;
    }
}

TEST(DirListTest, ChangesAtOnceAndRefusesWhatIsNoDirectory) {
    TempTree tree;
    const QString music = QDir::cleanPath(tree.folder(QStringLiteral("music")));
    const QString file = tree.file(QStringLiteral("music/song.mp3"));
    DirList list;
    QSignalSpy changes(&list, &DirList::change);

    ASSERT_TRUE(list.setPath(music));
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(list.path(), music);

    EXPECT_FALSE(list.setPath(file));
    EXPECT_FALSE(list.setPath(tree.path(QStringLiteral("gone"))));
    EXPECT_FALSE(list.setPath(QString()));
    EXPECT_EQ(changes.count(), 1);
    EXPECT_EQ(list.path(), music);
}
