#include "player/transparent/TransparentColor.h"

#include "platform/ui/LayeredWindow.h"
#include "platform/ui/Twips.h"
#include "player/StoredLayout.h"

#include <QAction>
#include <QLabel>

namespace {

constexpr std::uint32_t kDefaultMaskColor = 0x00000000;
constexpr std::uint32_t kDefaultBackColor = 0x00FFFFFF;
constexpr bool kDefaultEnable = true;
constexpr std::uint32_t kRed = 0x000000FF;

QColor toQColor(std::uint32_t colour) {
    return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

void fillWith(QWidget* widget, std::uint32_t colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, toQColor(colour));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

} // namespace

TransparentColor::TransparentColor() : UserControl({"TransparentColor"}) {
    dispatch().addProperty(
        "MaskColor", kDispidMaskColor, VT_I4,
        [this](VARIANT* out) {
            *out = com::makeI4(std::int32_t(m_maskColor));
            return S_OK;
        },
        [this](const VARIANT& in) {
            setMaskColor(std::uint32_t(in.lVal));
            return S_OK;
        });
    dispatch().addProperty(
        "BackColor", kDispidBackColor, VT_I4,
        [this](VARIANT* out) {
            *out = com::makeI4(std::int32_t(BackColor()));
            return S_OK;
        },
        [this](const VARIANT& in) {
            setBackColor(std::uint32_t(in.lVal));
            return S_OK;
        });
    dispatch().addProperty(
        "Enable", kDispidEnable, VT_BOOL,
        [this](VARIANT* out) {
            *out = com::makeBool(Enable());
            return S_OK;
        },
        [this](const VARIANT& in) {
            setEnable(in.boolVal != VARIANT_FALSE);
            return S_OK;
        });
}

IUnknown* TransparentColor::create() {
    return com::createControl<TransparentColor>()->identity();
}

void TransparentColor::registerBuiltIn() {
    layout::registerBuiltInControl(QStringLiteral("TransparentColor"), &TransparentColor::create);
}

void TransparentColor::UserControl_Initialize() {
    setSize(495, 405);
    applyBackColor(kDefaultBackColor);

    Picture1 = new QWidget(widget());
    Picture1->setGeometry(twips::rect(0, 0, 510, 420));
    fillWith(Picture1, kRed);

    Label1 = new QLabel(QStringLiteral("TC"), Picture1);
    Label1->setGeometry(twips::rect(0, -45, 375, 330));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(18);
    Label1->setFont(font);
    fillWith(Label1, kRed);

    // The design's one menu entry: no command is attached and nothing shows it.
    mnuColorMask = new QAction(QStringLiteral("ucColorMask"), widget());
}

void TransparentColor::UserControl_ReadProperties(com::PropBag& bag) {
    m_maskColor = std::uint32_t(bag.readLong("MaskColor", std::int32_t(kDefaultMaskColor)));
    applyBackColor(std::uint32_t(bag.readLong("BackColor", std::int32_t(kDefaultBackColor))));
    setEnabled(bag.readBool("Enable", kDefaultEnable));
}

void TransparentColor::UserControl_WriteProperties(com::PropBag& bag) {
    bag.writeLong("MaskColor", std::int32_t(m_maskColor), std::int32_t(kDefaultMaskColor));
    bag.writeLong("BackColor", std::int32_t(BackColor()), std::int32_t(kDefaultBackColor));
    bag.writeBool("Enable", Enable(), kDefaultEnable);
}

void TransparentColor::setMaskColor(std::uint32_t colour) {
    m_maskColor = colour;
    if (widget())
        widget()->update();
    propertyChanged("MaskColor");
}

std::uint32_t TransparentColor::BackColor() const {
    if (!widget())
        return kDefaultBackColor;
    const QColor colour = widget()->palette().color(QPalette::Window);
    return std::uint32_t(colour.red()) | std::uint32_t(colour.green()) << 8 |
           std::uint32_t(colour.blue()) << 16;
}

void TransparentColor::setBackColor(std::uint32_t colour) {
    applyBackColor(colour);
    propertyChanged("BackColor");
}

void TransparentColor::applyBackColor(std::uint32_t colour) {
    if (widget())
        fillWith(widget(), colour);
}

// The transparency step. Each call fails harmlessly without a host window (a null handle), and
// the timer is stopped whatever happened, so the step runs exactly once per instance.
void TransparentColor::Timer1_Timer() {
    setEnabled(false);
    const std::uint32_t maskColor = MaskColor();
    const auto hostHandle = [this] { return hostWindow() ? hostWindow()->window() : nullptr; };
    LONG style = GetWindowLongA(hostHandle(), GWL_EXSTYLE);
    style |= WS_EX_LAYERED;
    SetWindowLongA(hostHandle(), GWL_EXSTYLE, style);
    SetLayeredWindowAttributes(hostHandle(), maskColor, 0, LWA_COLORKEY);
    if (const std::optional<std::uint32_t> hostColour = hostBackColor())
        applyBackColor(*hostColour);
    Timer1.setEnabled(false);
}
