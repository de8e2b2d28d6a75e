#include "platform/ui/MessageBox.h"

#include <QMessageBox>

namespace msgbox {
namespace {
Answerer& answerer() {
    static Answerer instance;
    return instance;
}
} // namespace

void setAnswerer(Answerer a) {
    answerer() = std::move(a);
}

int show(const QString& text, int buttons, const QString& title) {
    if (answerer())
        return answerer()(text, buttons, title);
    QMessageBox box(QMessageBox::NoIcon, title, text);
    if (buttons == kYesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? kIdYes : kIdNo;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return kIdOk;
}

} // namespace msgbox
