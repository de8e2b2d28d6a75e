#include "platform/ui/ProcessStart.h"

#include <QProcess>

namespace process {
namespace {
Starter& starter() {
    static Starter instance;
    return instance;
}
} // namespace

void setStarter(Starter s) {
    starter() = std::move(s);
}

bool start(const QString& program, const QStringList& arguments) {
    if (starter())
        return starter()(program, arguments);
    if (program.isEmpty())
        return false;
    // startDetached reports a failed exec (missing or not executable file) as false.
    return QProcess::startDetached(program, arguments);
}

} // namespace process
