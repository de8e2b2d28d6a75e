#include "player/Settings.h"
#include "tests/player/frmmain/MainWindowFixture.h"

#include "platform/ui/Label.h"
#include "platform/ui/Twips.h"
#include "player/Scroller.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QTest>
#include <QTimer>

using ScrollerTest = MainWindowTest;

namespace {

// What a plain label with the strip label's caption, font and place draws in a copy of its frame.
QImage plainStrip(const QWidget& frame, const Label& label) {
    QWidget copy;
    copy.setPalette(frame.palette());
    copy.setAutoFillBackground(true);
    copy.resize(frame.size());
    QLabel plain(label.caption(), &copy);
    plain.setTextFormat(Qt::PlainText);
    plain.setFont(label.font());
    plain.adjustSize();
    plain.move(label.shownRect().topLeft());
    return copy.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Notes which widgets of a window paint.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget& window) {
        for (QWidget* widget : window.findChildren<QWidget*>())
            widget->installEventFilter(this);
    }
    QList<QObject*> painted;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            painted << watched;
        return false;
    }
};

QImage shown(QWidget& frame) {
    return frame.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The first and last rows of `image` with a pixel other than the one at its top left.
std::pair<int, int> inkRows(const QImage& image) {
    std::pair<int, int> rows{image.height(), -1};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != image.pixel(0, 0))
                rows = {std::min(rows.first, y), y};
    return rows;
}

// The label's caption in its font, drawn with room to spare all round.
QImage drawnWithRoom(const Label& label) {
    const QFontMetrics metrics(label.font());
    QImage image(metrics.horizontalAdvance(label.caption()) + 4 * metrics.height(),
                 4 * metrics.height(), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(label.font());
    painter.drawText(image.rect(), Qt::AlignCenter, label.caption());
    return image;
}

} // namespace

TEST(ScrollStepTest, TitleWrapsOnlyOnceItsRightEdgeHasPassed) {
    // The design caption is 885 twips wide in a 3255-twip frame, starting at 3120.
    double left = 3120;
    for (int tick = 1; tick <= 80; ++tick)
        left = nextScrollLeft(left, 885, 3255, 10);
    EXPECT_EQ(left, -880); // 5 twips still showing
    left = nextScrollLeft(left, 885, 3255, 10);
    EXPECT_EQ(left, 3285); // -930 + 885 < 0: back in from the right within the same tick
}

TEST(ScrollStepTest, RightEdgeExactlyAtZeroDoesNotWrapYet) {
    EXPECT_EQ(nextScrollLeft(-50, 100, 3255, 10), -100);
    EXPECT_EQ(nextScrollLeft(-55, 100, 3255, 10), 3285);
}

TEST(ScrollStepTest, SpeedFactorScalesTheStep) {
    EXPECT_EQ(nextScrollLeft(1000, 10, 3255, 2), 990);
    EXPECT_EQ(nextScrollLeft(1000, 10, 3255, 0), 1000);
}

TEST_F(ScrollerTest, BothStripsMoveFiftyTwipsATickAndWrapAtTheirFrames) {
    frmMain& w = load();
    EXPECT_EQ(w.lbl->leftTwips(), 3120);
    EXPECT_EQ(w.lbl2->leftTwips(), 3840);
    EXPECT_EQ(w.lbl2->topTwips(), 30);
    w.tmrScroll_Timer();
    w.tmrScroll2_Timer();
    EXPECT_EQ(w.lbl->leftTwips(), 3070);
    EXPECT_EQ(w.lbl2->leftTwips(), 3790);

    // A wide caption scrolls through in full before it wraps.
    w.lbl->setCaption(QString(200, 'W'));
    const double width = w.lbl->captionWidthTwips();
    ASSERT_GT(width, 3255);
    int ticks = 0;
    for (double before = w.lbl->leftTwips(); ticks < 10000; ++ticks) {
        w.tmrScroll_Timer();
        if (w.lbl->leftTwips() > before)
            break; // wrapped
        before = w.lbl->leftTwips();
    }
    EXPECT_EQ(w.lbl->leftTwips(), 3255 + 30);
    EXPECT_GT(ticks * 50, width); // the whole caption left the frame first
}

TEST_F(ScrollerTest, ANewSpeedTextTakesEffectOnTheNextTick) {
    frmMain& w = load();
    w.tmrScroll_Timer();
    EXPECT_EQ(w.lbl->leftTwips(), 3070);
    w.speed = QStringLiteral("2");
    w.tmrScroll_Timer();
    EXPECT_EQ(w.lbl->leftTwips(), 3060);
    w.speed = QStringLiteral("10");
    w.tmrScroll2_Timer();
    EXPECT_EQ(w.lbl2->leftTwips(), 3790);
}

TEST_F(ScrollerTest, TimersRunEveryHundredMilliseconds) {
    frmMain& w = load();
    EXPECT_TRUE(w.tmrScroll->isActive());
    EXPECT_TRUE(w.tmrScroll2->isActive());
    EXPECT_EQ(w.tmrScroll->interval(), 100);
    EXPECT_EQ(w.tmrScroll2->interval(), 100);
}

TEST_F(ScrollerTest, StripsLookLikePlainLabelsAtEveryStepAndAfterCaptionChanges) {
    frmMain& w = load();
    w.show();
    for (int tick = 0; tick < 25; ++tick) {
        ASSERT_EQ(shown(*w.pic), plainStrip(*w.pic, *w.lbl)) << "tick " << tick;
        ASSERT_EQ(shown(*w.pic2), plainStrip(*w.pic2, *w.lbl2)) << "tick " << tick;
        w.tmrScroll_Timer();
        w.tmrScroll2_Timer();
    }
    // A new caption of another width, then one of the same width, shows at once; one that looks
    // like markup shows as written.
    for (const QString& caption :
         {QStringLiteral("WM"), QStringLiteral("MW"), QStringLiteral("<b>Bold</b> & co")}) {
        w.lbl->setCaption(caption);
        w.setHint(caption);
        EXPECT_EQ(shown(*w.pic), plainStrip(*w.pic, *w.lbl)) << caption.toStdString();
        EXPECT_EQ(shown(*w.pic2), plainStrip(*w.pic2, *w.lbl2)) << caption.toStdString();
    }
    w.lbl->setFont(QFont(w.lbl->font().family(), 14));
    w.lbl->setCaption(w.lbl->caption());
    EXPECT_EQ(shown(*w.pic), plainStrip(*w.pic, *w.lbl));
}

// In every script the playlist shows, no letter loses its tail or its top: the label holds as
// many rows of ink as the caption drawn with room to spare, and all of them inside its frame.
TEST_F(ScrollerTest, NoGlyphIsCutByItsFrame) {
    frmMain& w = load();
    w.show();
    for (const char* caption :
         {"song", "\u00c4gypten, gjy", "\u0429\u0443\u043a\u0430 \u0451\u0436",
          "\u03c8\u03c5\u03c7\u03ae", "\u05e9\u05dc\u05d5\u05dd", "\u0633\u0644\u0627\u0645",
          "\u6b4c\u66f2", "\u0917\u0940\u0924", "\u0e40\u0e1e\u0e25\u0e07"}) {
        w.lbl->setCaption(QString::fromUtf8(caption));
        w.setHint(QString::fromUtf8(caption));
        for (const auto& [frame, label] : {std::pair{w.pic, w.lbl}, std::pair{w.pic2, w.lbl2}}) {
            SCOPED_TRACE(caption);
            label->setLeftTwips(0);
            const auto [top, bottom] = inkRows(label->grab().toImage());
            const auto [roomTop, roomBottom] = inkRows(drawnWithRoom(*label));
            EXPECT_EQ(bottom - top, roomBottom - roomTop);
            EXPECT_LT(label->y() + bottom, frame->height());
        }
    }
}

// Under a dark desktop theme the strips and the playlist look as they do under the default one:
// their fields' colours are fixed, and so are their texts'.
TEST_F(ScrollerTest, StripsAndPlaylistLookTheSameUnderADarkTheme) {
    const auto look = [&] {
        frmMain& w = load();
        w.show();
        return std::tuple{shown(*w.pic), shown(*w.pic2), w.lstPls->palette().color(QPalette::Text)};
    };
    const auto usual = look();
    const QPalette desktop = QApplication::palette();
    QPalette dark(QColor(53, 53, 53));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(role, Qt::white);
    QApplication::setPalette(dark);
    EXPECT_TRUE(look() == usual);
    QApplication::setPalette(desktop);
}

// Minimised, the strips go on moving in twips but their captions are not moved (nothing is
// painted); restored, both captions stand where their twips say.
TEST_F(ScrollerTest, AMinimisedWindowMovesTheStripsWithoutPlacingThem) {
    frmMain& w = load();
    w.show();
    const QPoint titleAt = w.lbl->shownRect().topLeft();
    const QPoint hintAt = w.lbl2->shownRect().topLeft();
    w.showMinimized();
    ASSERT_TRUE(w.isMinimized());
    for (int tick = 0; tick < 3; ++tick) {
        w.tmrScroll_Timer();
        w.tmrScroll2_Timer();
    }
    EXPECT_EQ(w.lbl->leftTwips(), 3120 - 150);
    EXPECT_EQ(w.lbl2->leftTwips(), 3840 - 150);
    EXPECT_EQ(w.lbl->shownRect().topLeft(), titleAt);
    EXPECT_EQ(w.lbl2->shownRect().topLeft(), hintAt);

    w.showNormal();
    EXPECT_EQ(w.lbl->shownRect().topLeft(), QPoint(twips::toPixels(3120 - 150), 0));
    EXPECT_EQ(w.lbl2->shownRect().topLeft(),
              QPoint(twips::toPixels(3840 - 150), twips::toPixels(30)));
}

// A tick repaints the captions' own pixels only: not their frames, the skin's pictures or any
// other control, whether or not the playlist is shown.
TEST_F(ScrollerTest, ATickRepaintsOnlyTheStrips) {
    frmMain& w = load();
    w.setHeight(settings::kPlaylistHeight);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    QTest::qWait(0);
    PaintCounter counter(w);
    w.tmrScroll_Timer();
    w.tmrScroll2_Timer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !counter.painted.isEmpty(); }));
    QTest::qWait(0);
    const QList<QObject*> strips{w.lbl, w.lbl2};
    for (QObject* widget : counter.painted)
        EXPECT_TRUE(strips.contains(widget)) << widget->metaObject()->className();
}
