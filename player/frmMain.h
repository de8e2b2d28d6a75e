#pragma once

#include "player/StoredLayout.h"

#include <QString>
#include <QWidget>
#include <cstdint>
#include <optional>

class DirList;
class DriveList;
class ImageControl;
class Label;
class ListBox;
class QFrame;
class QLabel;
class QSlider;
class QTimer;
class frmMenu;

// The player's main window: a borderless skinned window whose size alone decides which of its
// panels show. Controls keep their design names; the hidden state fields of the design are
// plain members that the handlers read and write. Everything here runs on the UI thread.
class frmMain : public QWidget {
    Q_OBJECT
public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // Window size and position in twips.
    int Width() const;
    void setWidth(int twipsValue);
    int Height() const;
    void setHeight(int twipsValue);
    int Left() const;
    void setLeft(int twipsValue);
    int Top() const;
    void setTop(int twipsValue);

    // The hidden menu window; created, hidden, the first time anything asks for it.
    frmMenu& menu();

    // Start-up: the load handler, run once before the window is first shown.
    void Form_Load();

    // Transport and track selection.
    void lstPls_Click();
    void lstPls_DblClick();
    void Image13_Click();
    void Image14_Click();
    void Image15_Click();
    void Image16_Click();
    void Image17_Click();
    void Command1_Click();
    // The media keys' play/pause: Pause's handler while a song is open, else Play's.
    void playOrPause();

    // Scrollers.
    void tmrScroll_Timer();
    void tmrScroll2_Timer();

    // Playlist building.
    void Image7_Click();
    void Image8_Click();
    void Image9_Click();
    void Image11_Click();
    void Image12_Click();
    void Drive1_Change();
    void Dir1_Change();

    // Window chrome, hints and volume.
    void Image2_MouseDown(int button, double x, double y);
    void Image2_MouseMove(int buttons, double x, double y);
    void Image3_Click();
    void Image4_Click();
    void Image6_MouseMove();
    void Image7_MouseMove();
    void Image8_MouseMove();
    void Image9_MouseMove();
    void SliderVol_Scroll();

    // The menu's round button.
    void Image5_Click();

    // Skin pictures.
    ImageControl* Image1 = nullptr;
    ImageControl* Image6 = nullptr;
    ImageControl* Image10 = nullptr;
    // Click areas.
    ImageControl* Image2 = nullptr;
    ImageControl* Image3 = nullptr;
    ImageControl* Image4 = nullptr;
    ImageControl* Image5 = nullptr;
    ImageControl* Image7 = nullptr;
    ImageControl* Image8 = nullptr;
    ImageControl* Image9 = nullptr;
    ImageControl* Image11 = nullptr;
    ImageControl* Image12 = nullptr;
    ImageControl* Image13 = nullptr;
    ImageControl* Image14 = nullptr;
    ImageControl* Image15 = nullptr;
    ImageControl* Image16 = nullptr;
    ImageControl* Image17 = nullptr;
    // Controls the user sees.
    ListBox* lstPls = nullptr;
    DriveList* Drive1 = nullptr;
    DirList* Dir1 = nullptr;
    QLabel* Label1 = nullptr;
    QWidget* pic = nullptr; // picture boxes: a plain fill, no frame to paint
    Label* lbl = nullptr;
    QWidget* pic2 = nullptr;
    Label* lbl2 = nullptr;
    QSlider* SliderVol = nullptr;
    QFrame* Line1 = nullptr;
    QFrame* Line2 = nullptr;
    QTimer* tmrScroll = nullptr;
    QTimer* tmrScroll2 = nullptr;

    // Hidden state fields.
    QString txtDirPath;
    QString txtDir;
    QString txtFullPath;
    QString lblmute = QStringLiteral("play");
    QString lblheight;
    QString speed = QStringLiteral("10");

    // The hint strip's caption.
    void setHint(const QString& text);

    // The hosted volume control, bound late; null when it could not be created.
    IDispatch* Dalvex1() const { return m_hosted.dispatch(QStringLiteral("Dalvex1")); }
    // `Volume` of `Dalvex1` (0..100); empty without the control or when it cannot be read.
    std::optional<std::int32_t> Dalvex1Volume() const;
    const layout::HostedControls& hostedControls() const { return m_hosted; }

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildSkin();
    void buildControls();
    void buildStrips();
    void connectHandlers();
    void serveKeyboardAndAssistiveTools();
    void showOnlyWhatFits();
    bool runKeyHandler(const QKeyEvent* event);
    void takeVolumeFromControl();
    void playSelectedEntry();
    void stepSelection(int delta);
    void scroll(Label* label, int frameWidthTwips);
    double speedFactor();

    // Declared last of the members that own widgets' companions: the hosted controls close
    // (their terminate hooks run) before the window's own children go.
    layout::HostedControls m_hosted;
    frmMenu* m_menu = nullptr;
    QString m_parsedSpeed; // the `speed` text that m_speedFactor was read from
    double m_speedFactor = 0;
    float m_dragOriginX = 0; // twips, where a button last went down on the title strip
    float m_dragOriginY = 0;
};
