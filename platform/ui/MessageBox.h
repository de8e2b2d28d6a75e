#pragma once

#include <QString>
#include <functional>

// Modal message boxes with the classic button sets and answers. Every message box of the
// program goes through msgBox(), so that tests can answer them without a person.
namespace msgbox {

enum Buttons : int { kOkOnly = 0, kYesNo = 4 };
enum Answer : int { kIdOk = 1, kIdYes = 6, kIdNo = 7 };

// The title that a box without a title of its own carries.
inline const QString kAppTitle = QStringLiteral("Quiva");

// Shows a modal box (no icon) and returns the button chosen. Closing a Yes/No box without
// choosing counts as No; closing an OK box counts as OK. UI thread only.
int show(const QString& text, int buttons, const QString& title = kAppTitle);

// Replaces the person at the screen: while set, show() asks this function instead of
// opening a window. Pass an empty function to go back to real boxes.
using Answerer = std::function<int(const QString& text, int buttons, const QString& title)>;
void setAnswerer(Answerer answerer);

} // namespace msgbox
