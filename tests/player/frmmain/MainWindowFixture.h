#pragma once

#include "platform/ui/ListBox.h"
#include "platform/ui/MessageBox.h"
#include "player/IniFile.h"
#include "player/Program.h"
#include "player/frmMain.h"
#include "player/frmMenu.h"
#include "tests/support/TempTree.h"

#include <QDir>
#include <QMenu>
#include <gtest/gtest.h>
#include <memory>

// A main window whose settings file lives in a temporary program directory, whose ending of
// the program is only counted, and whose message boxes are answered by the test.
class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        programDir = tree.folder("program");
        setSettingsDirForTests(programDir);
        program::setEndHook([this] { ++programEnds; });
        msgbox::setAnswerer([this](const QString& text, int buttons, const QString& title) {
            asked.push_back({text, buttons, title});
            return answer;
        });
        startDir = QDir::currentPath();
    }
    void TearDown() override {
        window.reset();
        setSettingsDirForTests({});
        program::setEndHook({});
        msgbox::setAnswerer({});
        QDir::setCurrent(startDir);
    }

    void writeSettings(const QByteArray& content) { tree.file("program/quiva.ini", content); }
    QByteArray settings() const { return readAll(tree.path("program/quiva.ini")); }

    frmMain& load() {
        window = std::make_unique<frmMain>();
        window->Form_Load();
        return *window;
    }

    QStringList playlist() const { return window->lstPls->items(); }

    struct Question {
        QString text;
        int buttons;
        QString title;
    };

    TempTree tree;
    QString programDir;
    QString startDir;
    std::unique_ptr<frmMain> window;
    int programEnds = 0;
    int answer = msgbox::kIdNo;
    std::vector<Question> asked;
};
