#pragma once

// TransparentColor: a control that, once, shortly after it is created, makes its host window
// layered with its MaskColor as the colour key (every pixel of that colour see-through) and takes
// the host's background colour for itself. Built into the player; the stored layout creates it
// by the class name "TransparentColor". UI thread only.

#include "platform/com/UserControl.h"

#include <cstdint>

class QAction;
class QLabel;

class TransparentColor : public com::UserControl {
public:
    // Late-bound member numbers.
    static constexpr DISPID kDispidMaskColor = 1;
    static constexpr DISPID kDispidBackColor = 2;
    static constexpr DISPID kDispidEnable = 3;

    TransparentColor();

    // Colours are 0x00BBGGRR. MaskColor only takes effect at the first timer tick.
    std::uint32_t MaskColor() const { return m_maskColor; }
    void setMaskColor(std::uint32_t colour);
    std::uint32_t BackColor() const;
    void setBackColor(std::uint32_t colour);
    bool Enable() const { return enabled(); }
    void setEnable(bool enable) { setEnabled(enable); }

    // Makes an instance for a container (one reference, the caller's; Initialize has run).
    static IUnknown* create();
    // Makes "TransparentColor" a built-in class of the stored layouts. Call once at start-up,
    // before the main window creates its hosted controls.
    static void registerBuiltIn();

protected:
    void UserControl_Initialize() override;
    void UserControl_ReadProperties(com::PropBag& bag) override;
    void UserControl_WriteProperties(com::PropBag& bag) override;

private:
    void Timer1_Timer();
    void applyBackColor(std::uint32_t colour);

    std::uint32_t m_maskColor = 0;
    QWidget* Picture1 = nullptr;
    QLabel* Label1 = nullptr;
    QAction* mnuColorMask = nullptr;
    com::ControlTimer Timer1{*this, 1, true, [this] { Timer1_Timer(); }};
};
