#pragma once

#include "platform/registry/Registry.h"

#include <QDialog>
#include <QPointer>

class QLabel;
class QPushButton;

// The About box: product title, version, author credit, the information page as a link, OK and
// "System Info...". Modeless; it hands the main window back when it closes. Each opening is a
// new instance that deletes itself when unloaded. UI thread only.
class frmAbout : public QDialog {
    Q_OBJECT
public:
    // `mainWindow` is the window that OK restores and that every unload shows again; it is not
    // the dialog's parent, so minimising it leaves the dialog on screen.
    explicit frmAbout(QWidget* mainWindow);

    // The popup menu's About entry: minimises the main window, then shows the About box without
    // making it modal: a new one, or the one this entry opened before, brought to the front.
    // Returns the box (it deletes itself when closed).
    static frmAbout* mnuAbout_Click(QWidget* mainWindow);

    // Starts the System Information program named by the registry, or says it is unavailable.
    void StartSysInfo();

    // GetKeyValue's Boolean (Read, NotRead), or the run-time error it raises instead.
    enum class KeyRead { NotRead, Read, Error };

    // Reads one value of `root`\`keyPath` (opened with access 0x2003F). Text values come back as
    // they are, DWORD values as "&h" and their hexadecimal digits; for other types `value` is left
    // as it was. NotRead, with `value` empty, when the key cannot be opened with that access or
    // the value is missing or longer than 1024 bytes. A value without any data is an Error, with
    // `value` left as it was: StartSysInfo then gives up at once rather than look elsewhere.
    KeyRead GetKeyValue(HKEY root, const QString& keyPath, const QString& valueName,
                        QString& value);

    QLabel* picIcon;
    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* lblDescription;
    QLabel* lblDisclaimer;
    QLabel* Label1;
    QPushButton* cmdOK;
    QPushButton* cmdSysInfo;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

public slots:
    // Every way out of the dialog goes through close(), so Form_Unload runs exactly once.
    void reject() override;

private:
    void Form_Load();
    void Form_Unload();
    void cmdOK_Click();
    void cmdSysInfo_Click();
    void Label1_Click();

    QPointer<QWidget> m_mainWindow;
};
