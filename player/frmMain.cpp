#include "player/frmMain.h"

#include "platform/audio/Engine.h"
#include "platform/ui/DirList.h"
#include "platform/ui/DriveList.h"
#include "platform/ui/ImageControl.h"
#include "platform/ui/Label.h"
#include "platform/ui/ListBox.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/Png.h"
#include "platform/ui/Twips.h"
#include "platform/ui/WindowMove.h"
#include "player/Fonts.h"
#include "player/IniFile.h"
#include "player/Layout.h"
#include "player/ListUtils.h"
#include "player/MP3Play.h"
#include "player/Program.h"
#include "player/Scroller.h"
#include "player/Settings.h"
#include "player/SliderStyle.h"
#include "player/SongPath.h"
#include "player/frmMenu.h"
#include "player/transparent/TransparentColor.h"
#include "volume/PemrikGuids.h"

#include <QCursor>
#include <QEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QSignalBlocker>
#include <QSlider>
#include <QTimer>
#include <algorithm>
#include <iterator>

namespace {

const QColor kOrange(255, 128, 0);
const QColor kPanelGrey(206, 206, 206);
const QColor kFieldBlue(126, 152, 161);
const QColor kFieldText(0, 0, 0);
const QString kTitle = QStringLiteral("Quiva Media Player");

// The hint strip's texts over the playlist panel and its buttons.
constexpr QLatin1String kPanelHint("You can add music to the playlist by selecting 'Add' and "
                                   "either adding a single song or entire directory.");
constexpr QLatin1String kAddHint("Add directory to playlist");
constexpr QLatin1String kRemoveHint("Select songs to remove and click here");
constexpr QLatin1String kClearHint("Clear the entire playlist");

// The skin's push buttons: what a click runs, and how screen readers know each one (the name
// read out, and as its description the hint the strip shows for it, where it has one).
struct SkinButton {
    ImageControl* frmMain::*control;
    void (frmMain::*click)();
    const char* name;
    QLatin1String description;
};
const SkinButton kSkinButtons[] = {
    {&frmMain::Image13, &frmMain::Image13_Click, "Previous", {}},
    {&frmMain::Image14, &frmMain::Image14_Click, "Play", {}},
    {&frmMain::Image15, &frmMain::Image15_Click, "Pause", {}},
    {&frmMain::Image16, &frmMain::Image16_Click, "Stop", {}},
    {&frmMain::Image17, &frmMain::Image17_Click, "Next", {}},
    {&frmMain::Image3, &frmMain::Image3_Click, "Minimise", {}},
    {&frmMain::Image4, &frmMain::Image4_Click, "Close", {}},
    {&frmMain::Image5, &frmMain::Image5_Click, "Menu", {}},
    {&frmMain::Image7, &frmMain::Image7_Click, "Add", kAddHint},
    {&frmMain::Image8, &frmMain::Image8_Click, "Remove", kRemoveHint},
    {&frmMain::Image9, &frmMain::Image9_Click, "Clear", kClearHint},
    {&frmMain::Image12, &frmMain::Image12_Click, "Add folder", {}},
    {&frmMain::Image11, &frmMain::Image11_Click, "Done", {}},
};

// Keys the player answers while it has the focus, unless the focused control takes them (in a
// list a letter jumps to the next entry starting with it): the letters skinned players' users
// know, and the keyboard's media keys where the desktop hands them to the window.
const struct {
    int key;
    void (frmMain::*handler)();
} kTransportKeys[] = {
    {Qt::Key_Z, &frmMain::Image13_Click},
    {Qt::Key_X, &frmMain::Image14_Click},
    {Qt::Key_C, &frmMain::Image15_Click},
    {Qt::Key_V, &frmMain::Image16_Click},
    {Qt::Key_B, &frmMain::Image17_Click},
    {Qt::Key_MediaPrevious, &frmMain::Image13_Click},
    {Qt::Key_MediaPlay, &frmMain::Image14_Click},
    {Qt::Key_MediaPause, &frmMain::Image15_Click},
    {Qt::Key_MediaTogglePlayPause, &frmMain::playOrPause},
    {Qt::Key_MediaStop, &frmMain::Image16_Click},
    {Qt::Key_MediaNext, &frmMain::Image17_Click},
};

bool plain(const QKeyEvent* event) {
    return (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

bool opensMenu(const QKeyEvent* event) {
    return (event->key() == Qt::Key_Menu && plain(event)) ||
           (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier);
}

void paintBackground(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::Base, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

// A field of the skin: its colour is fixed, so its text colour is too, or a dark desktop theme
// would write light text on it.
void paintField(QWidget* widget) {
    paintBackground(widget, kFieldBlue);
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, kFieldText);
    palette.setColor(QPalette::Text, kFieldText);
    widget->setPalette(palette);
}

template <typename Control> Control* place(Control* control, const layout::Area& area) {
    control->setGeometry(layout::pixels(area));
    return control;
}

QFrame* line(QWidget* parent, const layout::Line& twipsLine) {
    auto* frame = new QFrame(parent);
    frame->setGeometry(layout::pixels(twipsLine));
    paintBackground(frame, parent->palette().color(QPalette::WindowText));
    return frame;
}

// The 16-pixel icon of the design, and the same mark at the sizes taskbars and window lists
// ask for on larger and scaled screens (X11 hands the window manager every size at once).
QIcon designIcon() {
    QStringList files;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        files << QStringLiteral(":/quiva/quiva-%1.png").arg(size);
    return png::icon(files);
}

} // namespace

frmMain::frmMain(QWidget* parent) : QWidget(parent) {
    paintBackground(this, kOrange);
    setWindowIcon(designIcon());
    buildSkin();
    buildControls();
    buildStrips();
    connectHandlers();
    serveKeyboardAndAssistiveTools();
    setFixedSize(twips::rect(0, 0, layout::kCreatorWidth, settings::kMaxHeight).size());
    TransparentColor::registerBuiltIn();
    m_hosted = layout::createHostedControls(this, QStringLiteral(":/quiva/frmMain.layout"));
}

frmMain::~frmMain() {
    delete m_menu;
}

// The skin pictures first, the click areas over them: siblings made later lie on top.
void frmMain::buildSkin() {
    Image1 = place(new ImageControl(this, ":/quiva/skin-bar.png"), layout::Image1);
    Image6 = place(new ImageControl(this, ":/quiva/skin-playlist.png"), layout::Image6);
    Image10 = place(new ImageControl(this, ":/quiva/skin-creator.png"), layout::Image10);
    Label1 = place(new QLabel(this), layout::Label1);
    paintBackground(Label1, kPanelGrey);

    Image2 = place(new ImageControl(this), layout::Image2);
    Image3 = place(new ImageControl(this), layout::Image3);
    Image4 = place(new ImageControl(this), layout::Image4);
    Image5 = place(new ImageControl(this), layout::Image5);
    Image13 = place(new ImageControl(this), layout::Image13);
    Image14 = place(new ImageControl(this), layout::Image14);
    Image15 = place(new ImageControl(this), layout::Image15);
    Image16 = place(new ImageControl(this), layout::Image16);
    Image17 = place(new ImageControl(this), layout::Image17);
    Image7 = place(new ImageControl(this), layout::Image7);
    Image8 = place(new ImageControl(this), layout::Image8);
    Image9 = place(new ImageControl(this), layout::Image9);
    Image12 = place(new ImageControl(this), layout::Image12);
    Image11 = place(new ImageControl(this), layout::Image11);
}

void frmMain::buildControls() {
    lstPls = new ListBox(this);
    lstPls->setGeometry(layout::pixels(layout::lstPls));
    lstPls->setFont(fonts::playlist());
    lstPls->setFrameShape(QFrame::NoFrame);
    paintField(lstPls);

    Drive1 = new DriveList(this);
    Drive1->setGeometry(layout::pixels(layout::Drive1));
    paintField(Drive1);

    Dir1 = new DirList(this);
    Dir1->setGeometry(layout::pixels(layout::Dir1));
    Dir1->setFont(fonts::skin(8.25));
    Dir1->setFrameShape(QFrame::NoFrame);
    paintField(Dir1);

    SliderVol = new QSlider(Qt::Horizontal, this);
    SliderVol->setGeometry(layout::pixels(layout::SliderVol));
    SliderVol->setRange(0, 100);
    SliderVol->setSingleStep(1);
    SliderVol->setPageStep(5);
    // Owned by the window, which destroys it after the slider (a style outlives its widgets).
    auto* sliderLook = new SliderStyle;
    sliderLook->setParent(this);
    SliderVol->setStyle(sliderLook);

    Line2 = line(this, layout::Line2);
    Line1 = line(this, layout::Line1);
}

void frmMain::buildStrips() {
    pic = new QWidget(this);
    pic->setGeometry(layout::pixels(layout::pic));
    paintField(pic);
    lbl = new Label(QString::fromUtf8("Quiva \u00B9\u00B7\u00B9"), pic);
    lbl->setFont(fonts::skin(8.25, true));
    lbl->setLeftTwips(layout::lbl.left);

    pic2 = new QWidget(this);
    pic2->setGeometry(layout::pixels(layout::pic2));
    paintField(pic2);
    lbl2 = new Label(QStringLiteral("You can add music to the playlist by selecting 'Add' and "
                                    "select a directory."),
                     pic2);
    lbl2->setFont(fonts::skin(8.25, true));
    lbl2->setLeftTwips(layout::lbl2.left);
    lbl2->setTopTwips(layout::lbl2.top);

    tmrScroll = new QTimer(this);
    tmrScroll->setInterval(100);
    tmrScroll2 = new QTimer(this);
    tmrScroll2->setInterval(100);
    tmrScroll->start();
    tmrScroll2->start();
}

void frmMain::connectHandlers() {
    connect(lstPls, &ListBox::click, this, &frmMain::lstPls_Click);
    connect(lstPls, &ListBox::dblClick, this, &frmMain::lstPls_DblClick);
    for (const SkinButton& button : kSkinButtons)
        connect(this->*button.control, &ImageControl::click, this, button.click);
    connect(tmrScroll, &QTimer::timeout, this, &frmMain::tmrScroll_Timer);
    connect(tmrScroll2, &QTimer::timeout, this, &frmMain::tmrScroll2_Timer);
    connect(Drive1, &DriveList::change, this, &frmMain::Drive1_Change);
    connect(Dir1, &DirList::change, this, &frmMain::Dir1_Change);
    connect(Image2, &ImageControl::mouseDown, this, &frmMain::Image2_MouseDown);
    connect(Image2, &ImageControl::mouseMove, this, &frmMain::Image2_MouseMove);
    connect(Image6, &ImageControl::mouseMove, this, &frmMain::Image6_MouseMove);
    connect(Image7, &ImageControl::mouseMove, this, &frmMain::Image7_MouseMove);
    connect(Image8, &ImageControl::mouseMove, this, &frmMain::Image8_MouseMove);
    connect(Image9, &ImageControl::mouseMove, this, &frmMain::Image9_MouseMove);
    // Only start-up sets the value from code, with signals blocked: every change is the user's.
    connect(SliderVol, &QSlider::valueChanged, this, &frmMain::SliderVol_Scroll);
}

// Tab goes down the playlist panel, through the creator, then along the bar; only what the
// window's size shows takes part (showOnlyWhatFits).
void frmMain::serveKeyboardAndAssistiveTools() {
    for (const SkinButton& button : kSkinButtons)
        (this->*button.control)->makeButton(QString::fromLatin1(button.name), button.description);
    SliderVol->setAccessibleName(QStringLiteral("Volume"));
    lstPls->setAccessibleName(QStringLiteral("Playlist"));
    Drive1->setAccessibleName(QStringLiteral("Drive"));
    Dir1->setAccessibleName(QStringLiteral("Folder"));
    QWidget* const order[] = {lstPls,  Image7,    Image8,  Image9,  Drive1,  Dir1,
                              Image12, Image11,   Image13, Image14, Image15, Image16,
                              Image17, SliderVol, Image5,  Image3,  Image4};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
}

// The panels are shown and hidden by the window's size alone; a control wholly outside it is
// hidden as well, so that Tab skips it and screen readers do not report it as showing.
void frmMain::showOnlyWhatFits() {
    const std::initializer_list<QWidget*> panelControls = {Image6,  Image7, Image8,  Image9,
                                                           lstPls,  pic2,   Image10, Image11,
                                                           Image12, Drive1, Dir1,    Label1};
    for (QWidget* control : panelControls)
        control->setVisible(rect().intersects(control->geometry()));
    // The focus starts where it is of most use: on the playlist while it shows, else on Play.
    if (!focusWidget() || !focusWidget()->isVisibleTo(this))
        (lstPls->isVisibleTo(this) ? static_cast<QWidget*>(lstPls) : Image14)->setFocus();
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    showOnlyWhatFits();
}

void frmMain::keyPressEvent(QKeyEvent* event) {
    if (opensMenu(event))
        menu().mnuMenu->popup(Image5->mapToGlobal(Image5->rect().bottomLeft()));
    else if (!runKeyHandler(event))
        QWidget::keyPressEvent(event);
}

bool frmMain::runKeyHandler(const QKeyEvent* event) {
    if (!plain(event))
        return false;
    for (const auto& entry : kTransportKeys)
        if (entry.key == event->key()) {
            (this->*entry.handler)();
            return true;
        }
    return false;
}

int frmMain::Width() const {
    return twips::fromPixels(width());
}
int frmMain::Height() const {
    return twips::fromPixels(height());
}
int frmMain::Left() const {
    return twips::fromPixels(x());
}
int frmMain::Top() const {
    return twips::fromPixels(y());
}
void frmMain::setWidth(int value) {
    setFixedSize(twips::toPixels(value), height());
}
void frmMain::setHeight(int value) {
    setFixedSize(width(), twips::toPixels(value));
}
void frmMain::setLeft(int value) {
    move(twips::toPixels(value), y());
}
void frmMain::setTop(int value) {
    move(x(), twips::toPixels(value));
}

frmMenu& frmMain::menu() {
    if (!m_menu)
        m_menu = new frmMenu(*this);
    return *m_menu;
}

// ---- Start-up ----------------------------------------------------------------------------

namespace {

// X11 carries window coordinates in 16 signed bits, and Qt clamps its windows to them.
constexpr int kTallestWindowTwips = 32767 * twips::kPerPixel;

bool isDigits(QStringView text) {
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c >= QLatin1Char('0') && c <= QLatin1Char('9');
    });
}

// Digits, perhaps a point and more digits. Checked by hand: a regular expression would bring
// the whole PCRE engine into memory at every start.
bool isPlainDecimal(QStringView text) {
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    return point < 0 ? isDigits(text) : isDigits(text.left(point)) && isDigits(text.mid(point + 1));
}

// The height stored by hand may be anything. Only a plain decimal number (digits, perhaps with a
// fraction) from the bar's height up to the tallest window is applied, unchanged; anything else is
// ignored like text: a lower one would leave the window without its menu button, or with no
// visible window at all, and "nan", "1e-300" or "0x1000" are no height a user writes.
bool parseHeight(const QString& text, int barHeight, int* twipsValue) {
    const QString number = text.trimmed();
    if (!isPlainDecimal(number))
        return false;
    const double value = number.toDouble();
    if (value < barHeight || value > kTallestWindowTwips)
        return false;
    *twipsValue = static_cast<int>(value);
    return true;
}

} // namespace

void frmMain::Form_Load() {
    tmrScroll->start();
    tmrScroll2->start();
    const int barHeight = twips::fromPixels(Image1->height());
    setHeight(barHeight);
    setWidth(twips::fromPixels(Image1->width()));
    takeVolumeFromControl();
    txtDirPath = ReadIniValue(settings::kSection, settings::kDirKey, settingsFileName());
    Dir1->setPath(txtDirPath);
    AddDirectoryFiles(*lstPls, txtDirPath, songPattern());
    StripListExtension(*lstPls, QLatin1StringView(kSongExtension));
    lblheight = ReadIniValue(settings::kSection, settings::kHeightKey, settingsFileName());
    if (int stored = 0; parseHeight(lblheight, barHeight, &stored))
        setHeight(stored);
    menu().mnuPls->setText(Height() == settings::kPlaylistHeight ? QStringLiteral("Hide Playlist")
                                                                 : QStringLiteral("Show Playlist"));
    setWindowFlag(Qt::FramelessWindowHint);
    setWindowTitle(kTitle);
}

// ---- Transport and track selection -------------------------------------------------------

void frmMain::lstPls_Click() {
    txtFullPath = songPath(txtDirPath, lstPls->text());
}

void frmMain::lstPls_DblClick() {
    playSelectedEntry();
}

void frmMain::playSelectedEntry() {
    MP3Play::PlaySong(txtFullPath);
    lbl->setCaption(lstPls->text());
}

// A refused index leaves the selection and the path as they were; the song is played anyway.
void frmMain::stepSelection(int delta) {
    lstPls->setListIndex(lstPls->listIndex() + delta);
    playSelectedEntry();
}

void frmMain::Image13_Click() {
    stepSelection(-1);
}
void frmMain::Image14_Click() {
    MP3Play::PlaySong(txtFullPath);
}

void frmMain::Image15_Click() {
    if (lblmute == QLatin1String("play")) {
        MP3Play::PauseSong();
        lblmute = QStringLiteral("pause");
    } else {
        MP3Play::ResumeSong();
        lblmute = QStringLiteral("play");
    }
}

void frmMain::Image16_Click() {
    MP3Play::StopAll();
}
void frmMain::Image17_Click() {
    stepSelection(+1);
}
void frmMain::Command1_Click() {
    MP3Play::StopAll();
}

void frmMain::playOrPause() {
    const auto stream = audio::Engine::instance().currentStream();
    if (stream && stream->mode != audio::StreamMode::Stopped)
        Image15_Click();
    else
        Image14_Click();
}

// ---- Scrollers ---------------------------------------------------------------------------

void frmMain::tmrScroll_Timer() {
    scroll(lbl, layout::pic.width);
}
void frmMain::tmrScroll2_Timer() {
    scroll(lbl2, layout::pic2.width);
}

void frmMain::scroll(Label* label, int frameWidthTwips) {
    label->setLeftTwips(nextScrollLeft(label->leftTwips(), label->captionWidthTwips(),
                                       frameWidthTwips, speedFactor()));
}

// While minimised the strips move without being placed (nothing is painted); restored, they
// show where the ticks have taken them.
void frmMain::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && !isMinimized()) {
        lbl->place();
        lbl2->place();
    }
}

// Both strips read the factor twenty times a second; the text is parsed again only when it
// changed, since number parsing showed in the playing player's profile.
double frmMain::speedFactor() {
    if (speed != m_parsedSpeed || m_parsedSpeed.isNull()) {
        m_parsedSpeed = speed;
        m_speedFactor = speed.toDouble();
    }
    return m_speedFactor;
}

// ---- Playlist building -------------------------------------------------------------------

void frmMain::Image7_Click() {
    setWidth(layout::kCreatorWidth);
}
void frmMain::Image11_Click() {
    setWidth(twips::fromPixels(Image1->width()));
}
void frmMain::Image8_Click() {
    lstPls->removeItem(lstPls->listIndex());
}

void frmMain::Image9_Click() {
    hide();
    const int answer =
        msgbox::show(QStringLiteral("You are about to clear the playlist, continue?"),
                     msgbox::kYesNo, QStringLiteral("Quiva - Clear Playlist?"));
    if (answer == msgbox::kIdYes)
        lstPls->clear();
    show();
}

void frmMain::Image12_Click() {
    AddDirectoryFiles(*lstPls, txtDir, songPattern());
    RemoveDuplicateEntries(*lstPls);
    txtDirPath = Dir1->path() + "/";
    StripListExtension(*lstPls, QLatin1StringView(kSongExtension));
    WriteIniValue(settings::kSection, settings::kDirKey, txtDir, settingsFileName());
}

// A drive that cannot be shown (no medium, no permission) leaves both lists where they were.
void frmMain::Drive1_Change() {
    if (!Dir1->setPath(Drive1->drive()))
        Drive1->showDriveOf(Dir1->path());
}

void frmMain::Dir1_Change() {
    txtDir = Dir1->path() + "/";
}

// ---- Window chrome, hints and volume -----------------------------------------------------

// Where the compositor places windows (Wayland), the left button's press hands the drag over
// to it, and the moves that follow leave the window to the compositor.
void frmMain::Image2_MouseDown(int button, double x, double y) {
    m_dragOriginX = static_cast<float>(x);
    m_dragOriginY = static_cast<float>(y);
    if (button == 1 && windowmove::compositorMoves())
        windowmove::startSystemMove(this);
}

void frmMain::Image2_MouseMove(int buttons, double x, double y) {
    if ((buttons & 1) == 0 || windowmove::compositorMoves())
        return;
    setLeft(static_cast<int>(Left() + x - m_dragOriginX));
    setTop(static_cast<int>(Top() + y - m_dragOriginY));
}

void frmMain::Image3_Click() {
    showMinimized();
}

void frmMain::Image4_Click() {
    close();
    program::End();
}

void frmMain::setHint(const QString& text) {
    lbl2->setCaption(text);
}

void frmMain::Image6_MouseMove() {
    setHint(kPanelHint);
}
void frmMain::Image7_MouseMove() {
    setHint(kAddHint);
}
void frmMain::Image8_MouseMove() {
    setHint(kRemoveHint);
}
void frmMain::Image9_MouseMove() {
    setHint(kClearHint);
}

std::optional<std::int32_t> frmMain::Dalvex1Volume() const {
    com::Variant volume;
    if (!Dalvex1() || FAILED(com::getProperty(Dalvex1(), pemrik::kDispidVolume, &volume)))
        return std::nullopt;
    return com::toLong(*volume);
}

// Before the message loop runs, the control still holds its saved volume, not the mixer's.
void frmMain::takeVolumeFromControl() {
    if (const std::optional<std::int32_t> value = Dalvex1Volume()) {
        const QSignalBlocker notAScroll(SliderVol);
        SliderVol->setValue(*value);
    }
}

void frmMain::SliderVol_Scroll() {
    if (Dalvex1())
        com::putProperty(Dalvex1(), pemrik::kDispidVolume, com::makeI4(SliderVol->value()));
}

// ---- Popup menu --------------------------------------------------------------------------

void frmMain::Image5_Click() {
    menu().mnuMenu->popup(QCursor::pos());
}
