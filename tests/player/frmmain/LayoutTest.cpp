#include "tests/player/frmmain/MainWindowFixture.h"

#include "platform/ui/DirList.h"
#include "platform/ui/DriveList.h"
#include "platform/ui/ImageControl.h"

#include <QAbstractItemView>
#include <QFrame>
#include <QLabel>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionComboBox>

using LayoutTest = MainWindowTest;

namespace {

// Whether any pixel of the child lies inside the window's current client area.
bool showsIn(const QWidget& window, const QWidget* child) {
    return child->geometry().intersects(window.rect());
}

} // namespace

TEST_F(LayoutTest, NarrowWidthHidesTheCreatorPanel) {
    frmMain& w = load();
    for (int height : {990, 5580}) {
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
        for (const QWidget* c : std::initializer_list<const QWidget*>{
                 w.Image6, w.Image7, w.Image8, w.Image9, w.lstPls, w.pic2})
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
    EXPECT_FALSE(showsIn(w, w.Label1));                   // it lies below 990 twips
}

TEST_F(LayoutTest, ControlsSitAtTheirDesignPositions) {
    frmMain& w = load();
    EXPECT_EQ(w.Image1->geometry(), QRect(0, 0, 293, 66));
    EXPECT_EQ(w.Image6->geometry(), QRect(0, 67, 293, 300));
    EXPECT_EQ(w.Image10->geometry(), QRect(294, 0, 300, 200));
    EXPECT_EQ(w.Image5->geometry(), QRect(275, 48, 13, 13));
    EXPECT_EQ(w.Image14->geometry(), QRect(37, 45, 25, 13));
    EXPECT_EQ(w.lstPls->geometry(), QRect(16, 96, 259, 208));
    EXPECT_EQ(w.pic->geometry(), QRect(8, 24, 217, 13));
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
