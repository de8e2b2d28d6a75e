#include "player/ListUtils.h"

#include "tests/support/TempTree.h"

#include <QDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <random>

namespace {

// The classic pass, step by step on a real list box: the behaviour RemoveDuplicateEntries must
// reproduce.
int classicRemoveDuplicates(ListBox& list) {
    if (list.listCount() < 3)
        return 0;
    const int last = list.listCount() - 1;
    int removed = 0;
    for (int i = 0; i <= last; ++i) {
        for (;;) {
            const QString text = list.list(i);
            const int b = list.findStringExact(i, text);
            const int e = list.findStringExact(b + 1, text);
            if (e == -1 || e == b)
                break;
            list.removeItem(e);
            ++removed;
        }
    }
    return removed;
}

struct ClassicResult {
    QStringList items;
    int removed;
    int selected;
};

ClassicResult classicResultFor(const QStringList& entries, int selected = -1) {
    ListBox reference;
    reference.setItems(entries, selected);
    const int removed = classicRemoveDuplicates(reference);
    return {reference.items(), removed, reference.listIndex()};
}

QStringList split(const char* letters) {
    return QString(letters).split(u',', Qt::SkipEmptyParts);
}

TEST(RemoveDuplicateEntriesTest, KeepsTheCopiesThatTheClassicSearchOrderLeaves) {
    struct Case {
        const char* before;
        const char* after;
        int removed;
    };
    const Case cases[] = {
        {"A,B,A", "B,A", 1}, {"A,x,A,y,A", "x,A,y", 2}, {"A,A,A", "A", 2}, {"A,A,B,B", "A,B", 2},
        {"A,B,a", "B,a", 1}, {"A,B,C", "A,B,C", 0},     {"A,A", "A,A", 0}, {"A", "A", 0},
        {"", "", 0},
    };
    for (const Case& c : cases) {
        ListBox list;
        list.setItems(split(c.before));
        EXPECT_EQ(RemoveDuplicateEntries(list), c.removed) << c.before;
        EXPECT_EQ(list.items(), split(c.after)) << c.before;
    }
}

TEST(RemoveDuplicateEntriesTest, MatchesTheClassicPassOnRandomLists) {
    const std::vector<QStringList> alphabets = {
        {"a", "A", "b", "B", "c"},
        {"a", "A", ""},
        {"\u00e9", "\u00c9", "\u00df", "ss", "SS", "x"},
        {"\U00010400", "\U00010428", "\u0130", "i", "I", "\u03a3", "\u03c2", "\u03c3"},
    };
    std::mt19937 random(20261208);
    for (int round = 0; round < 6000; ++round) {
        const QStringList& alphabet = alphabets[std::size_t(round) % alphabets.size()];
        std::uniform_int_distribution<int> length(0, 50);
        std::uniform_int_distribution<qsizetype> letter(0, alphabet.size() - 1);
        QStringList entries;
        for (int n = length(random); n > 0; --n)
            entries << alphabet[letter(random)];

        const int selected =
            std::uniform_int_distribution<int>(-1, int(entries.size()) - 1)(random);

        const ClassicResult expected = classicResultFor(entries, selected);
        ListBox list;
        list.setItems(entries, selected);
        int clicks = 0;
        QObject::connect(&list, &ListBox::click, [&clicks] { ++clicks; });
        const std::string what = entries.join(',').toStdString() + " @" + std::to_string(selected);
        ASSERT_EQ(RemoveDuplicateEntries(list), expected.removed) << what;
        ASSERT_EQ(list.items(), expected.items) << what;
        ASSERT_EQ(list.listIndex(), expected.selected) << what;
        ASSERT_EQ(clicks, 0) << what;
    }
}

// The selected entry stays selected where it moves to, as the classic removals one by one leave
// it; when the pass removes the selected copy itself, nothing is selected.
TEST(RemoveDuplicateEntriesTest, LeavesTheSelectionWhereTheClassicPassLeavesIt) {
    struct Case {
        const char* before;
        int selectedBefore;
        int selectedAfter;
    };
    const Case cases[] = {
        {"a,b,c", 1, 1}, {"a,b,a", 1, 0}, {"a,b,a", 0, -1}, {"a,b,a", 2, 1}, {"A,x,A,y,A", 3, 2},
    };
    for (const Case& c : cases) {
        ListBox list;
        list.setItems(split(c.before), c.selectedBefore);
        RemoveDuplicateEntries(list);
        EXPECT_EQ(list.listIndex(), c.selectedAfter) << c.before << " @" << c.selectedBefore;
    }
}

TEST(RemoveDuplicateEntriesTest, HoldsTheCountAt32767WhenMoreAreRemoved) {
    ListBox list;
    list.setItems(QStringList(40000, "same"));
    EXPECT_EQ(RemoveDuplicateEntries(list), 32767);
    EXPECT_EQ(list.items(), QStringList{"same"});
}

TEST(RemoveDuplicateEntriesTest, WorksOnTheListAsAnEventHandlerLeftIt) {
    ListBox list;
    list.setItems(split("A,B,A"));
    QTimer::singleShot(0, &list, [&list] { list.addItems(split("b,c,A")); });
    const ClassicResult expected = classicResultFor(split("A,B,A,b,c,A"));
    EXPECT_EQ(RemoveDuplicateEntries(list), expected.removed);
    EXPECT_EQ(list.items(), expected.items);
}

TEST(RemoveDuplicateEntriesTest, ReturnsZeroWhenAnEventHandlerDestroysTheList) {
    auto* list = new ListBox;
    list->setItems(split("A,B,A"));
    QTimer::singleShot(0, [list] { delete list; });
    EXPECT_EQ(RemoveDuplicateEntries(*list), 0);
}

TEST(StripListExtensionTest, CutsTheExtensionWhateverItsCase) {
    ListBox list;
    list.setItems({"Song.mp3", "LOUD.MP3", "[x.mp3]", "a.mp3x", "mp3", "Mixed.Mp3"});
    StripListExtension(list, ".mp3");
    EXPECT_EQ(list.items(), QStringList({"Song", "LOUD", "[x.mp3]", "a.mp3x", "mp3", "Mixed"}));
}

TEST(StripListExtensionTest, AnEmptyExtensionChangesNothing) {
    ListBox list;
    list.setItems({"a.mp3", "b"});
    StripListExtension(list, "");
    EXPECT_EQ(list.items(), QStringList({"a.mp3", "b"}));
}

class AddDirectoryFilesTest : public ::testing::Test {
protected:
    TempTree tree;
    ListBox list;
};

TEST_F(AddDirectoryFilesTest, AppendsMatchingFilesAndBracketedSubdirectories) {
    tree.file("music/Track 10.mp3");
    tree.file("music/Track 2.MP3");
    tree.file("music/cover.jpg");
    tree.folder("music/x.mp3");
    list.addItem("kept");

    AddDirectoryFiles(list, tree.path("music") + "/", "*.mp3");
    EXPECT_EQ(list.items(), QStringList({"kept", "Track 2.MP3", "Track 10.mp3", "[x.mp3]"}));

    StripListExtension(list, ".mp3");
    EXPECT_EQ(list.items(), QStringList({"kept", "Track 2", "Track 10", "[x.mp3]"}));
}

TEST_F(AddDirectoryFilesTest, AddsNothingForAnEmptyOrMissingDirectory) {
    tree.folder("empty");
    list.addItem("kept");
    AddDirectoryFiles(list, tree.path("empty") + "/", "*.mp3");
    AddDirectoryFiles(list, tree.path("missing") + "/", "*.mp3");
    EXPECT_EQ(list.items(), QStringList{"kept"});
}

TEST_F(AddDirectoryFilesTest, AnEmptyDirectoryListsTheCurrentDirectory) {
    tree.file("here.mp3");
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(tree.root()));
    AddDirectoryFiles(list, "", "*.mp3");
    QDir::setCurrent(previous);
    EXPECT_EQ(list.items(), QStringList{"here.mp3"});
}

} // namespace
