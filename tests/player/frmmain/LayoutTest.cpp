#include "player/Settings.h"
#include "tests/player/frmmain/MainWindowFixture.h"

#include "player/Layout.h"

#include "platform/ui/DirList.h"
#include "platform/ui/DriveList.h"
#include "platform/ui/ImageControl.h"

#include <QAbstractItemView>
#include <QFrame>
#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTest>

using LayoutTest = MainWindowTest;

namespace {

// Whether any pixel of the child lies inside the window's current client area.
bool showsIn(const QWidget& window, const QWidget* child) {
    return child->geometry().intersects(window.rect());
}

} // namespace

TEST_F(LayoutTest, NarrowWidthHidesTheCreatorPanel) {
    frmMain& w = load();
    for (int height : {layout::Image1.height, settings::kPlaylistHeight}) {
        w.setHeight(height);
        for (const QWidget* c : std::initializer_list<const QWidget*>{
                 w.Drive1, w.Dir1, w.Image10, w.Image11, w.Image12, w.Label1})
            EXPECT_FALSE(showsIn(w, c)) << c->metaObject()->className() << " at " << height;
    }
}

TEST_F(LayoutTest, ShortHeightHidesThePlaylistPanel) {
    frmMain& w = load();
    for (int width : {4395, 8910}) {
        w.setWidth(width);
        for (const QWidget* c : std::initializer_list<const QWidget*>{w.Image6, w.Image7, w.Image8,
                                                                      w.Image9, w.lstPls, w.pic2})
            EXPECT_FALSE(showsIn(w, c)) << c->metaObject()->className() << " at " << width;
    }
}

TEST_F(LayoutTest, CreatorOpenShowsBothListsCutAtTheBarHeight) {
    frmMain& w = load();
    w.Image7_Click();
    EXPECT_EQ(w.size(), QSize(594, 66));
    EXPECT_TRUE(showsIn(w, w.Drive1));
    EXPECT_TRUE(showsIn(w, w.Dir1));
    EXPECT_GT(w.Dir1->geometry().bottom(), w.height()); // only its top shows
    EXPECT_FALSE(showsIn(w, w.Label1));                 // it lies below 990 twips
}

// Tab stops only at what the window's size shows, round in order, and marks a picture button.
TEST_F(LayoutTest, TabVisitsTheShownControlsInOrder) {
    frmMain& w = load();
    w.show();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    EXPECT_EQ(QApplication::focusWidget(), w.Image14); // the playlist, had it shown
    const std::vector<QWidget*> bar{w.Image13,   w.Image14, w.Image15, w.Image16, w.Image17,
                                    w.SliderVol, w.Image5,  w.Image3,  w.Image4};
    const struct {
        int width, height;
        std::vector<QWidget*> panels; // before the bar
    } cases[] = {
        {4395, layout::Image1.height, {}},
        {8910, layout::Image1.height, {w.Drive1, w.Dir1}},
        {8910,
         settings::kPlaylistHeight,
         {w.lstPls, w.Image7, w.Image8, w.Image9, w.Drive1, w.Dir1, w.Image12, w.Image11}}};
    for (const auto& c : cases) {
        w.setWidth(c.width);
        w.setHeight(c.height);
        std::vector<QWidget*> expected = c.panels, visited;
        expected.insert(expected.end(), bar.begin(), bar.end());
        expected.back()->setFocus(Qt::TabFocusReason);
        while (visited.size() < expected.size()) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited.push_back(QApplication::focusWidget());
        }
        EXPECT_EQ(visited, expected) << c.width << " x " << c.height;
    }
    w.Image13->setFocus(Qt::TabFocusReason);
    const QImage unfocused = w.Image14->grab().toImage();
    w.Image14->setFocus(Qt::TabFocusReason);
    EXPECT_NE(w.Image14->grab().toImage(), unfocused) << "no focus mark";
}

TEST_F(LayoutTest, ControlsSitAtTheirDesignPositions) {
    frmMain& w = load();
    const struct {
        const char* name;
        const QWidget* control;
        layout::Area area;
    } placed[] = {
        {"Image1", w.Image1, layout::Image1},    {"Image6", w.Image6, layout::Image6},
        {"Image10", w.Image10, layout::Image10}, {"Image2", w.Image2, layout::Image2},
        {"Image3", w.Image3, layout::Image3},    {"Image4", w.Image4, layout::Image4},
        {"Image5", w.Image5, layout::Image5},    {"Image13", w.Image13, layout::Image13},
        {"Image14", w.Image14, layout::Image14}, {"Image15", w.Image15, layout::Image15},
        {"Image16", w.Image16, layout::Image16}, {"Image17", w.Image17, layout::Image17},
        {"Image7", w.Image7, layout::Image7},    {"Image8", w.Image8, layout::Image8},
        {"Image9", w.Image9, layout::Image9},    {"Image12", w.Image12, layout::Image12},
        {"Image11", w.Image11, layout::Image11}, {"lstPls", w.lstPls, layout::lstPls},
        {"Drive1", w.Drive1, layout::Drive1},    {"Dir1", w.Dir1, layout::Dir1},
        {"Label1", w.Label1, layout::Label1},    {"pic", w.pic, layout::pic},
        {"pic2", w.pic2, layout::pic2},          {"SliderVol", w.SliderVol, layout::SliderVol},
    };
    for (const auto& [name, control, area] : placed)
        EXPECT_EQ(control->geometry(), layout::pixels(area)) << name;
    // The lines are one pixel thick: the separator spans the bar, the edge line stands at its
    // left.
    EXPECT_EQ(w.Line2->geometry(), QRect(0, w.Line2->y(), w.Image1->width(), 1));
    EXPECT_EQ(w.Line1->geometry().left(), 0);
    EXPECT_EQ(w.Line1->width(), 1);
    EXPECT_EQ(w.SliderVol->minimum(), 0);
    EXPECT_EQ(w.SliderVol->maximum(), 100);
    EXPECT_EQ(w.SliderVol->singleStep(), 1);
    EXPECT_EQ(w.SliderVol->pageStep(), 5);
}

TEST_F(LayoutTest, SkinPicturesHaveTheirPixelSizes) {
    frmMain& w = load();
    EXPECT_EQ(w.Image1->picture().size(), QSize(293, 66));
    EXPECT_EQ(w.Image6->picture().size(), QSize(293, 300));
    EXPECT_EQ(w.Image10->picture().size(), QSize(300, 200));
}

TEST_F(LayoutTest, DriveListShowsTheFieldsBlueGrey) {
    frmMain& w = load();
    w.Image7_Click();
    w.show();
    const QColor fieldBlue(126, 152, 161);
    QStyleOptionComboBox option;
    option.initFrom(w.Drive1);
    const QRect field = w.Drive1->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                          QStyle::SC_ComboBoxEditField, w.Drive1);
    const QImage face = w.Drive1->grab().toImage();
    // The field's right half: no text there, the drive names being short.
    EXPECT_EQ(face.pixelColor(field.center().x() + field.width() / 4, field.center().y()),
              fieldBlue);
    EXPECT_EQ(w.Drive1->view()->palette().color(QPalette::Base), fieldBlue);
}
