// The list box's one selection: the highlighted entry and the selection index agree after every
// input a user can give and every change of the entries, and click() runs exactly when the user
// selects.

#include "platform/ui/ListBox.h"

#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

const QStringList kEntries = {"alpha", "bravo",   "charlie", "delta",
                              "echo",  "foxtrot", "golf",    "hotel"};
constexpr int kNone = -1;

// A shown, focused list of eight entries with room to spare below them, as the playlist is when
// a window manager has given the player the focus.
class ListBoxTest : public ::testing::Test {
public: // the input cases' lambdas drive the fixture
    void SetUp() override { fresh(); }

    // Each case starts on a new list: the caret of the case before must not carry over.
    void fresh() {
        list = std::make_unique<ListBox>();
        list->setItems(kEntries);
        list->resize(200, 300);
        QObject::connect(list.get(), &ListBox::click, [this] { ++clicks; });
        list->show();
        list->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(list.get()));
        list->setFocus(Qt::ActiveWindowFocusReason);
        ASSERT_TRUE(list->hasFocus());
        clicks = 0;
    }

    void preselect(int row) {
        if (row != kNone)
            list->setListIndex(row);
        clicks = 0;
    }

    QPoint centreOf(int row) const { return list->visualItemRect(list->item(row)).center(); }
    QPoint emptyArea() const {
        return {20, list->visualItemRect(list->item(kEntries.size() - 1)).bottom() + 40};
    }

    void keys(std::initializer_list<Qt::Key> presses) {
        for (const Qt::Key k : presses)
            QTest::keyClick(list.get(), k);
    }
    void click(Qt::MouseButton button, QPoint at, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(list->viewport(), button, modifiers, at);
    }
    // Presses on the first row, moves over the others with the button held, releases on the last.
    void drag(std::initializer_list<int> rows) {
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, centreOf(*rows.begin()));
        for (const int row : rows)
            QTest::mouseMove(list->viewport(), centreOf(row));
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, centreOf(*(rows.end() - 1)));
    }

    // The entries the user sees highlighted: those painted in another colour than the list's
    // background, away from their text.
    std::vector<int> highlightedRows() {
        QCoreApplication::processEvents(); // the list lays out changed entries on a later turn
        const QImage shown = list->viewport()->grab().toImage();
        const QColor background = list->palette().color(QPalette::Base);
        std::vector<int> rows;
        for (int row = 0; row < list->count(); ++row) {
            const QRect r = list->visualItemRect(list->item(row));
            if (shown.pixelColor(r.right() - 4, r.center().y()) != background)
                rows.push_back(row);
        }
        return rows;
    }

    void expectOneSelection(int index, const std::string& what) {
        EXPECT_EQ(list->listIndex(), index) << what;
        EXPECT_EQ(highlightedRows(), index == kNone ? std::vector<int>{} : std::vector<int>{index})
            << what;
        EXPECT_EQ(list->text().toStdString(),
                  index == kNone ? std::string() : list->list(index).toStdString())
            << what;
    }

    std::unique_ptr<ListBox> list;
    int clicks = 0;
};

struct InputCase {
    const char* what;
    int selectedBefore;
    std::function<void(ListBoxTest&)> input;
    int selectedAfter;
    int clicks;
};

TEST_F(ListBoxTest, EveryInputLeavesTheHighlightOnTheSelectionIndex) {
    using T = ListBoxTest;
    const InputCase cases[] = {
        {"focus alone", kNone, [](T&) {}, kNone, 0},
        // Until the user picks one, the caret (entry 0) is what the first key selects.
        {"Down", kNone, [](T& t) { t.keys({Qt::Key_Down}); }, 0, 1},
        {"Down, Down", kNone,
         [](T& t) {
             t.keys({Qt::Key_Down, Qt::Key_Down});
         },
         1, 2},
        {"Up", kNone, [](T& t) { t.keys({Qt::Key_Up}); }, 0, 1},
        {"End", kNone, [](T& t) { t.keys({Qt::Key_End}); }, 0, 1},
        {"Page Down", kNone, [](T& t) { t.keys({Qt::Key_PageDown}); }, 0, 1},
        {"Space", kNone, [](T& t) { t.keys({Qt::Key_Space}); }, 0, 1},
        {"Home, End", kNone,
         [](T& t) {
             t.keys({Qt::Key_Home, Qt::Key_End});
         },
         7, 2},
        {"Home, Page Down, Page Up", kNone,
         [](T& t) {
             t.keys({Qt::Key_Home, Qt::Key_PageDown, Qt::Key_PageUp});
         },
         0, 3},
        {"Down on the last entry", 7, [](T& t) { t.keys({Qt::Key_Down}); }, 7, 1},
        {"a letter", kNone, [](T& t) { t.keys({Qt::Key_A}); }, 0, 1},
        {"drag down", kNone,
         [](T& t) {
             t.drag({1, 2, 4});
         },
         4, 3},
        {"drag down and back", kNone,
         [](T& t) {
             t.drag({4, 6, 2});
         },
         2, 3},
        {"drag on from the empty area", 5,
         [](T& t) {
             QTest::mousePress(t.list->viewport(), Qt::LeftButton, {}, t.emptyArea());
             QTest::mouseMove(t.list->viewport(), t.centreOf(1));
             QTest::mouseRelease(t.list->viewport(), Qt::LeftButton, {}, t.centreOf(1));
         },
         5, 0},
        // Qt delivers a quick second press as a double click alone, wherever it lands.
        {"click, then a quick press on the next entry", kNone,
         [](T& t) {
             t.click(Qt::LeftButton, t.centreOf(1));
             QTest::mouseDClick(t.list->viewport(), Qt::LeftButton, {}, t.centreOf(2));
         },
         2, 2},
        {"right click on an entry", 3, [](T& t) { t.click(Qt::RightButton, t.centreOf(5)); }, 3, 0},
        {"right click with nothing selected", kNone,
         [](T& t) { t.click(Qt::RightButton, t.centreOf(5)); }, kNone, 0},
    };
    for (const InputCase& c : cases) {
        fresh();
        preselect(c.selectedBefore);
        c.input(*this);
        expectOneSelection(c.selectedAfter, c.what);
        EXPECT_EQ(clicks, c.clicks) << c.what;
    }
}

struct ChangeCase {
    const char* what;
    std::function<void(ListBox&)> change;
    QStringList entriesAfter;
    int selectedAfter;
};

// Changes of the entries never run click(); the selected entry stays selected wherever it goes,
// and removing it selects nothing (not its neighbour).
TEST_F(ListBoxTest, ChangingTheEntriesKeepsTheSelectedEntryOrNone) {
    const QStringList withoutDelta = {"alpha",   "bravo", "charlie", "echo",
                                      "foxtrot", "golf",  "hotel"};
    const ChangeCase cases[] = {
        {"remove the selected entry", [](ListBox& l) { l.removeItem(3); }, withoutDelta, kNone},
        {"remove the selected entry, twice by index",
         [](ListBox& l) { l.removeItem(l.listIndex()), l.removeItem(l.listIndex()); }, withoutDelta,
         kNone},
        {"remove entries above and below, add entries",
         [](ListBox& l) { l.removeItem(6), l.removeItem(0), l.addItems({"india"}); },
         {"bravo", "charlie", "delta", "echo", "foxtrot", "hotel", "india"},
         2},
        {"replace keeping the entry",
         [](ListBox& l) {
             l.setItems({"x", "delta"}, 1);
         },
         {"x", "delta"},
         1},
    };
    for (const ChangeCase& c : cases) {
        fresh();
        preselect(3);
        c.change(*list);
        EXPECT_EQ(list->items(), c.entriesAfter) << c.what;
        expectOneSelection(c.selectedAfter, c.what);
        EXPECT_EQ(clicks, 0) << c.what;
    }
}

// After the selected entry is removed the caret stays at its place: the next key selects the
// entry that moved up into it, as it is the one framed.
TEST_F(ListBoxTest, AKeyAfterRemovingTheSelectedEntrySelectsTheEntryInItsPlace) {
    preselect(3);
    list->removeItem(3);
    keys({Qt::Key_Down});
    expectOneSelection(3, "Down after the removal");
    EXPECT_EQ(list->text().toStdString(), "echo");
    EXPECT_EQ(clicks, 1);
}

} // namespace
