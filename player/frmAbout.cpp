#include "player/frmAbout.h"

#include "platform/ui/FontFit.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/Png.h"
#include "platform/ui/ProcessStart.h"
#include "platform/ui/Twips.h"
#include "platform/ui/WindowRestore.h"
#include "player/InfoPage.h"
#include "player/RegAPI.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStyleOptionButton>
#include <algorithm>
#include <array>

namespace {

// Query value, set value, create sub-key, enumerate sub-keys, notify, create link, read control.
constexpr REGSAM kSysInfoAccess = 0x2003F;
constexpr DWORD kValueBytes = 1024;
const QString kSysInfoKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString kSysInfoLocationKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");
const QString kSysInfoProgram = QStringLiteral("MSINFO32.EXE");

QLabel* label(QWidget* parent, const QString& text, const QRect& twipRect) {
    auto* widget = new QLabel(text, parent);
    widget->setGeometry(twipRect);
    widget->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return widget;
}

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

// The etched separator: a grey line with a white one just below it.
struct SeparatorLine {
    QPoint from, to;
    QColor colour;
    int widthPixels;
};
const std::array<SeparatorLine, 2> kLine1 = {{
    {QPoint(105, 2460), QPoint(5654, 2460), QColor(255, 255, 255), 2},
    {QPoint(90, 2445), QPoint(5654, 2445), QColor(128, 128, 128), 1},
}};

QPoint toPixels(const QPoint& twipPoint) {
    return QPoint(twips::toPixels(twipPoint.x()), twips::toPixels(twipPoint.y()));
}

// The only box open through the menu: choosing About again brings it back to the front.
QPointer<frmAbout> g_openBox;

// Whether the control's text, drawn in `font`, fits the room the control gives it.
bool showsWhole(const QWidget* control, const QFont& font) {
    if (const auto* label = qobject_cast<const QLabel*>(control)) {
        const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
        return fontfit::textFits(font, label->contentsRect(), flags, label->text());
    }
    const auto* button = qobject_cast<const QPushButton*>(control);
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const QRect room =
        button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    const QSize needed = QFontMetrics(font).size(Qt::TextShowMnemonic, button->text());
    return needed.width() <= room.width() && needed.height() <= room.height();
}

// The box keeps its fixed layout, drawn for Windows' narrow 8-point dialog font; a desktop's
// font is often wider or larger. The controls take the largest size, up to the font's own, at
// which every one of their texts shows whole.
void fitTexts(const QList<QWidget*>& controls) {
    const QFont font =
        fontfit::largestFitting(controls.first()->font(), [&](const QFont& candidate) {
            return std::all_of(controls.begin(), controls.end(), [&](const QWidget* control) {
                return showsWhole(control, candidate);
            });
        });
    for (QWidget* control : controls)
        control->setFont(font);
}

} // namespace

frmAbout::frmAbout(QWidget* mainWindow)
    : QDialog(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      m_mainWindow(mainWindow) {
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    setGeometry(twips::rect(2340, 1935, 5730, 3555));
    setFixedSize(size());

    picIcon = new QLabel(this);
    picIcon->setGeometry(twips::rect(240, 240, 540, 540));
    picIcon->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    picIcon->setAlignment(Qt::AlignCenter);
    picIcon->setPixmap(png::icon({QStringLiteral(":/quiva/about-icon.png"),
                                  QStringLiteral(":/quiva/about-icon@2x.png")})
                           .pixmap(QSize(32, 32), devicePixelRatioF()));
    picIcon->setFocusPolicy(Qt::TabFocus);

    lblTitle = label(this, QStringLiteral("Quiva Media Player"), twips::rect(1050, 240, 3885, 480));
    setTextColour(lblTitle, Qt::black);
    lblVersion = label(this, QStringLiteral("Beta Version 1.1"), twips::rect(1050, 780, 3885, 225));
    lblDescription = label(this, QStringLiteral("Written by the Quiva developers."),
                           twips::rect(1050, 1125, 3885, 1170));
    lblDescription->setWordWrap(true);
    setTextColour(lblDescription, Qt::black);
    lblDisclaimer =
        label(this, QStringLiteral("More information can be found at the Quiva Website..."),
              twips::rect(255, 2625, 3870, 225));
    setTextColour(lblDisclaimer, Qt::black);

    Label1 = label(this, kInfoPageUrl, twips::rect(240, 3000, 3855, 255));
    setTextColour(Label1, QColor(0, 0, 255));
    QFont linkFont(QStringLiteral("MS Sans Serif"));
    linkFont.setPointSizeF(8.25);
    linkFont.setUnderline(true);
    Label1->setFont(linkFont);
    Label1->setCursor(Qt::PointingHandCursor);
    Label1->installEventFilter(this);

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setGeometry(twips::rect(4245, 2625, 1260, 345));
    cmdOK->setDefault(true);
    cmdSysInfo = new QPushButton(QStringLiteral("&System Info..."), this);
    cmdSysInfo->setGeometry(twips::rect(4260, 3075, 1245, 345));

    setTabOrder(cmdOK, picIcon);
    setTabOrder(picIcon, cmdSysInfo);
    setTabOrder(cmdSysInfo, lblDescription);
    setTabOrder(lblDescription, lblDisclaimer);
    setTabOrder(lblDisclaimer, lblTitle);
    setTabOrder(lblTitle, lblVersion);
    setTabOrder(lblVersion, Label1);
    cmdOK->setFocus();

    fitTexts({lblTitle, lblVersion, lblDescription, lblDisclaimer, cmdOK, cmdSysInfo});
    fitTexts({Label1});

    connect(cmdOK, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);
    Form_Load();
}

frmAbout* frmAbout::mnuAbout_Click(QWidget* mainWindow) {
    if (mainWindow)
        mainWindow->setWindowState(Qt::WindowMinimized);
    if (!g_openBox)
        g_openBox = new frmAbout(mainWindow);
    g_openBox->setWindowState(g_openBox->windowState() & ~Qt::WindowMinimized);
    g_openBox->show();
    g_openBox->raise();
    g_openBox->activateWindow();
    return g_openBox;
}

void frmAbout::Form_Load() {
    setWindowTitle(QStringLiteral("About Quiva"));
}

void frmAbout::Form_Unload() {
    if (m_mainWindow)
        m_mainWindow->show();
}

void frmAbout::cmdOK_Click() {
    windowrestore::restore(m_mainWindow);
    close();
}

void frmAbout::cmdSysInfo_Click() {
    StartSysInfo();
}

void frmAbout::Label1_Click() {
    OpenURL(kInfoPageUrl);
}

void frmAbout::reject() {
    close();
}

void frmAbout::keyPressEvent(QKeyEvent* event) {
    // OK is also the cancel button: Escape presses it, restoring the main window.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        cmdOK->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmAbout::closeEvent(QCloseEvent* event) {
    Form_Unload();
    event->accept();
}

void frmAbout::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    QPainter painter(this);
    for (const SeparatorLine& line : kLine1) {
        painter.setPen(QPen(line.colour, line.widthPixels));
        painter.drawLine(toPixels(line.from), toPixels(line.to));
    }
}

bool frmAbout::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label1 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton &&
        Label1->rect().contains(static_cast<QMouseEvent*>(event)->position().toPoint())) {
        Label1_Click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void frmAbout::StartSysInfo() {
    const bool started = [this] {
        QString path;
        const KeyRead first =
            GetKeyValue(HKEY_LOCAL_MACHINE, kSysInfoKey, QStringLiteral("PATH"), path);
        if (first == KeyRead::Read)
            return process::start(path, {});
        if (first == KeyRead::Error || GetKeyValue(HKEY_LOCAL_MACHINE, kSysInfoLocationKey,
                                                   QStringLiteral("MSINFO"), path) != KeyRead::Read)
            return false;
        const QString program = path + QLatin1Char('/') + kSysInfoProgram;
        return QFileInfo::exists(program) && process::start(program, {});
    }();
    if (!started)
        msgbox::show(QStringLiteral("System Information Is Unavailable At This Time"),
                     msgbox::kOkOnly);
}

frmAbout::KeyRead frmAbout::GetKeyValue(HKEY root, const QString& keyPath, const QString& valueName,
                                        QString& value) {
    HKEY key = 0;
    if (RegOpenKeyExA(root, keyPath.toLocal8Bit().constData(), 0, kSysInfoAccess, &key) !=
        ERROR_SUCCESS) {
        value.clear();
        return KeyRead::NotRead;
    }
    std::array<BYTE, kValueBytes> buffer{};
    DWORD length = kValueBytes;
    DWORD type = REG_NONE;
    if (RegQueryValueExA(key, valueName.toLocal8Bit().constData(), nullptr, &type, buffer.data(),
                         &length) != ERROR_SUCCESS) {
        value.clear();
        RegCloseKey(key);
        return KeyRead::NotRead;
    }
    if (length == 0) {
        RegCloseKey(key);
        return KeyRead::Error;
    }
    QByteArray bytes(reinterpret_cast<const char*>(buffer.data()), qsizetype(length));
    if (bytes.endsWith('\0'))
        bytes.chop(1);
    if (type == REG_SZ) {
        value = QString::fromLocal8Bit(bytes);
    } else if (type == REG_DWORD) {
        const quint32 number = quint32(buffer[0]) | quint32(buffer[1]) << 8 |
                               quint32(buffer[2]) << 16 | quint32(buffer[3]) << 24;
        value = QStringLiteral("&h") + QString::number(number, 16).toUpper();
    }
    RegCloseKey(key);
    return KeyRead::Read;
}
